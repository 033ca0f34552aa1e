#include "engine/TitleWatcher.h"

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <system_error>

#include "base/ExecutablePath.h"
#include "base/Utf8.h"

namespace {

// Enough for any first line worth a title; the rest of the file is not read.
constexpr size_t kTitleFileReadBytes = 4096;

} // namespace

std::string ReadTitleFile(const std::string& path)
{
    std::ifstream file(Utf8Path(path), std::ios::binary);
    if (!file)
        return {};
    char buffer[kTitleFileReadBytes];
    file.read(buffer, sizeof buffer);
    const std::streamsize got = file.gcount();
    return TitleLine(std::string_view(buffer, got > 0 ? static_cast<size_t>(got) : 0), kMaxTitleBytes);
}

std::string TitleFollower::First(const std::string& line)
{
    noLineOnce = false;
    current = line.empty() ? name : line;
    return current;
}

std::optional<std::string> TitleFollower::Next(const std::string& line)
{
    if (!line.empty()) {
        noLineOnce = false;
        if (line == current)
            return std::nullopt;
        current = line;
        return current;
    }
    if (!noLineOnce) {
        noLineOnce = true;
        return std::nullopt;
    }
    // Without a stream name the last line stays: there is nothing to put in its place.
    if (name.empty() || name == current)
        return std::nullopt;
    current = name;
    return current;
}

struct TitleWatcher::Shared {
    std::mutex lock;
    std::condition_variable wake;
    bool stop = false;
    bool finished = false;
};

bool TitleWatcher::Start(const std::string& path, TitleFollower follower, Send send, OnAir onAir)
{
    Stop();
    auto state = std::make_shared<Shared>();
    // The thread owns everything it touches; onAir is asked only under the lock while
    // stop is unset, so it never runs after Stop, even on a thread left to end alone.
    auto run = [state, path, follower = std::move(follower), send = std::move(send),
                onAir = std::move(onAir)]() mutable {
        std::unique_lock<std::mutex> guard(state->lock);
        for (;;) {
            state->wake.wait_for(guard, kInterval, [&state] { return state->stop; });
            if (state->stop)
                break;
            if (onAir && !onAir())
                continue;
            guard.unlock();
            if (const std::optional<std::string> title = follower.Next(ReadTitleFile(path)))
                send(*title);
            guard.lock();
        }
        state->finished = true;
        state->wake.notify_all();
    };
    try {
        thread = std::thread(std::move(run));
    } catch (const std::system_error&) {
        return false;
    }
    shared = std::move(state);
    return true;
}

void TitleWatcher::Stop()
{
    if (!thread.joinable())
        return;
    bool finished = false;
    {
        std::unique_lock<std::mutex> guard(shared->lock);
        shared->stop = true;
        shared->wake.notify_all();
        finished = shared->wake.wait_for(guard, kStopWait, [this] { return shared->finished; });
    }
    // A title update that hangs on the server is bounded by its own time limit; its
    // thread ends then, alone.
    if (finished)
        thread.join();
    else
        thread.detach();
    shared.reset();
}
