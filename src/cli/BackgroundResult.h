#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// Carries one result from a detached worker thread to the command loop. The state is
// shared with the worker, so a worker that outlives the waiter still writes into live
// memory.
template <class T>
class BackgroundResult {
public:
    // The callback to hand to the worker.
    std::function<void(const T&)> Deliverer() const
    {
        std::shared_ptr<State> shared = state;
        return [shared](const T& value) {
            std::lock_guard<std::mutex> guard(shared->lock);
            shared->value = value;
            shared->ready = true;
            shared->arrived.notify_all();
        };
    }

    // Waits up to limit; true with the value when it arrived.
    bool Wait(std::chrono::milliseconds limit, T& value) const
    {
        std::unique_lock<std::mutex> guard(state->lock);
        if (!state->arrived.wait_for(guard, limit, [this] { return state->ready; }))
            return false;
        value = state->value;
        return true;
    }

private:
    struct State {
        std::mutex lock;
        std::condition_variable arrived;
        bool ready = false;
        T value{};
    };
    std::shared_ptr<State> state = std::make_shared<State>();
};
