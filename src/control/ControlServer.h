#pragma once

#include <functional>
#include <memory>
#include <string>

#include "control/ControlSettings.h"
#include "control/ControlSnapshot.h"

// The control interface of a running encoder: an HTTP server on its own threads that
// hands every request touching the stream to the thread supervising it. That thread
// calls Serve on each tick (and when woken), where snapshots are taken and starts and
// stops run by the same rules as the window's buttons; the server's threads never touch
// the stream.

// What Serve may do with the session, on the supervising thread.
struct SessionControls {
    std::function<ControlSnapshot()> snapshot;
    std::function<void()> start;
    std::function<void()> stop;
};

class ControlServer {
public:
    ControlServer();
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Listens as settings say. False, with the reason in problem, when the settings are
    // refused or the address cannot be bound.
    bool Open(const ControlSettings& settings, std::string& problem);
    // Stops listening; requests waiting for Serve are answered 503.
    void Close();
    bool IsOpen() const;

    // Called from a server thread when a request waits for Serve; set before Open.
    void SetWake(std::function<void()> wake);

    // On the supervising thread: answers what waits.
    void Serve(const SessionControls& controls);

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};
