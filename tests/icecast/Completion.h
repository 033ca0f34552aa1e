#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

// Counts callbacks from detached threads; shared so a late callback stays harmless.
class Completion {
public:
    void Signal() const
    {
        std::lock_guard<std::mutex> guard(state->lock);
        ++state->count;
        state->changed.notify_all();
    }
    // Waits until at least count signals arrived; false after timeoutMs.
    bool WaitFor(int count, int timeoutMs) const
    {
        std::unique_lock<std::mutex> guard(state->lock);
        return state->changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                       [&] { return state->count >= count; });
    }
    int Count() const
    {
        std::lock_guard<std::mutex> guard(state->lock);
        return state->count;
    }

private:
    struct State {
        std::mutex lock;
        std::condition_variable changed;
        int count = 0;
    };
    std::shared_ptr<State> state = std::make_shared<State>();
};
