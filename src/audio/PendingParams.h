#pragma once

#include <atomic>
#include <mutex>

#include "audio/ProcessingParams.h"

// Processing parameters handed from a control thread to an audio thread. Set keeps a
// copy under a short lock; the audio thread's TakeInto copies it into its chain only
// when a new one has arrived, so a steady stream reads one atomic flag per pass and
// never waits. ProcessingParams is a plain record: copying it allocates nothing.
class PendingParams {
public:
    void Set(const ProcessingParams& params)
    {
        std::lock_guard<std::mutex> guard(lock);
        pending = params;
        changed.store(true);
    }

    // True when target took new parameters.
    bool TakeInto(ProcessingParams& target)
    {
        if (!changed.load())
            return false;
        std::lock_guard<std::mutex> guard(lock);
        target = pending;
        changed.store(false);
        return true;
    }

private:
    std::mutex lock;
    ProcessingParams pending;
    std::atomic<bool> changed{false};
};
