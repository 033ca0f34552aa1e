#include "engine/EngineRetirement.h"

#include <condition_variable>
#include <mutex>

#include "base/DetachedWorker.h"

struct EngineRetirement::Shared {
    std::mutex lock;
    std::condition_variable finished;
    int running = 0;

    void Done()
    {
        std::lock_guard<std::mutex> guard(lock);
        running -= 1;
        finished.notify_all();
    }
};

EngineRetirement::EngineRetirement() : shared(std::make_shared<Shared>()) {}

void EngineRetirement::Run(std::function<void()> finish)
{
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        shared->running += 1;
    }
    // The work goes into one shared record, so that whichever thread runs it, the work
    // (and the engine it owns) is gone before Done counts it finished.
    auto work = std::make_shared<std::function<void()>>(std::move(finish));
    const auto run = [state = shared, work] {
        std::function<void()> taken;
        taken.swap(*work);
        if (taken)
            taken();
        taken = nullptr;
        state->Done();
    };
    StartDetachedWorker(run, run);
}

bool EngineRetirement::WaitAll(std::chrono::milliseconds limit) const
{
    std::unique_lock<std::mutex> guard(shared->lock);
    return shared->finished.wait_for(guard, limit, [this] { return shared->running == 0; });
}
