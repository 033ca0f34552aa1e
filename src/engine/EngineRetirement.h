#pragma once

#include <chrono>
#include <functional>
#include <memory>

// Finishes what a stop leaves behind, each on a worker of its own: an engine's Stop
// drains the sender (up to the send time-out on a stalled network), writes the
// recorder's last frames (a stalled disk) and closes the connection, none of which may
// hold the thread that stopped the stream. Before the process ends, its front end waits
// for them, so the last frames still reach the server and the disk.
class EngineRetirement {
public:
    EngineRetirement();

    // Runs finish on a worker (on this thread when none can be started).
    void Run(std::function<void()> finish);
    // Waits until every finish has returned, at most limit; true when none is left.
    bool WaitAll(std::chrono::milliseconds limit) const;

private:
    struct Shared;
    std::shared_ptr<Shared> shared;
};
