#include "engine/TitleWatcher.h"

#include <atomic>
#include <condition_variable>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>

#include "base/DetachedWorker.h"
#include "base/Log.h"
#include "base/RegularFile.h"
#include "base/Utf8.h"

namespace {

// Enough for any first line worth a title; the rest of the file is not read.
constexpr size_t kTitleFileReadBytes = 4096;

} // namespace

std::string ReadTitleFile(const std::string& path, bool* notRegular)
{
    if (notRegular)
        *notRegular = KindOfPath(path) == PathKind::Other;
    std::string text;
    if (!ReadRegularFile(path, text, true, kTitleFileReadBytes))
        return {};
    return TitleLine(text, kMaxTitleBytes);
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

namespace {

// The order of title updates across the process: one at a time, and only those of the
// newest watcher.
struct TitleOrder {
    std::mutex lock; // held across a send
    std::atomic<uint64_t> newest{0}; // not under the lock: a start never waits for a send
};

// One order per output: the outputs of a session send their titles side by side.
constexpr size_t kOrders = 8;

TitleOrder& Order(size_t output)
{
    static TitleOrder orders[kOrders];
    return orders[output % kOrders];
}

} // namespace

struct TitleWatcher::Shared {
    std::mutex lock;
    std::condition_variable wake;
    bool stop = false;
    std::atomic<bool> stopped{false}; // stop, for a look without the lock
    uint64_t generation = 0;
    size_t output = 0;
    bool notRegularReported = false;
};

namespace {

// The last reading of each title file, so that the watchers of several outputs read a
// file once a round between them instead of once each.
struct RecentReading {
    std::chrono::steady_clock::time_point when;
    std::string line;
    bool notRegular = false;
};

std::string ReadRecent(const std::string& path, bool& notRegular)
{
    static std::mutex lock;
    static std::map<std::string, RecentReading> readings;
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> guard(lock);
    RecentReading& reading = readings[path];
    if (reading.when == std::chrono::steady_clock::time_point() || now - reading.when >= TitleWatcher::kInterval / 2) {
        reading.line = ReadTitleFile(path, &reading.notRegular);
        reading.when = now;
    }
    notRegular = reading.notRegular;
    return reading.line;
}

// One reading, on the watcher's worker; a path that is not a regular file is logged once.
// A connection's first reading is always fresh; later ones may be another output's.
template <class Shared>
std::string ReadLine(const std::string& path, Shared& state, bool first = false)
{
    if (path.empty())
        return {};
    bool notRegular = false;
    std::string line = first ? ReadTitleFile(path, &notRegular) : ReadRecent(path, notRegular);
    if (notRegular && !state.notRegularReported) {
        state.notRegularReported = true;
        LogLine("Engine", "The title file \"" + path + "\" is not a regular file (a FIFO, a device or a folder): "
                          "it is read as missing");
    }
    return line;
}

// Sends title unless the watcher was stopped or a newer one started; the order's lock is
// held across the send, so that an older update in flight lands first.
template <class Shared, class Send>
void SendInOrder(Shared& state, Send& send, const std::string& title)
{
    TitleOrder& order = Order(state.output);
    std::lock_guard<std::mutex> guard(order.lock);
    if (state.stopped.load() || order.newest.load() != state.generation)
        return;
    send(title);
}

} // namespace

bool TitleWatcher::Start(const std::string& path, TitleFollower follower, Send send, OnAir onAir, size_t output)
{
    Stop();
    auto state = std::make_shared<Shared>();
    state->output = output;
    state->generation = Order(output).newest.fetch_add(1) + 1;
    // The worker owns everything it touches; onAir is asked only under the lock while
    // stop is unset, so it never runs after Stop, even while the worker ends alone.
    auto run = [state, path, follower = std::move(follower), send = std::move(send),
                onAir = std::move(onAir)]() mutable {
        const std::string first = follower.First(ReadLine(path, *state, true));
        if (!first.empty())
            SendInOrder(*state, send, first);
        if (path.empty())
            return;
        std::unique_lock<std::mutex> guard(state->lock);
        for (;;) {
            state->wake.wait_for(guard, kInterval, [&state] { return state->stop; });
            if (state->stop)
                break;
            if (onAir && !onAir())
                continue;
            guard.unlock();
            if (const std::optional<std::string> title = follower.Next(ReadLine(path, *state)))
                SendInOrder(*state, send, *title);
            guard.lock();
        }
    };
    if (!StartDetachedWorker(std::move(run), {}))
        return false;
    shared = std::move(state);
    return true;
}

void TitleWatcher::Stop()
{
    if (!shared)
        return;
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        shared->stop = true;
        shared->stopped.store(true);
        shared->wake.notify_all();
    }
    shared.reset();
}
