#pragma once

// Linux only: included by the PulseAudio back end files (*Pulse.cpp).

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "audio/DeviceList.h"

// A source or sink as the server describes it.
struct PulseDevice {
    std::string name;        // the endpoint identifier
    std::string description; // the display name
    pa_sample_spec spec{};
    pa_channel_map map{};
};

// The server's default source and sink names.
struct PulseDefaults {
    std::string source;
    std::string sink;
};

// One client connection with a main loop of its own, driven by whoever holds it (no
// loop thread): Run serves it for a while, WaitUntil serves it until something happens.
// Never spawns a server.
class PulseConnection {
public:
    PulseConnection() = default;
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // False with LastError when there is no server to talk to.
    bool Connect();
    bool Connected() const;
    const std::string& LastError() const { return error; }
    pa_context* Context() const { return context; }

    // Serves the connection for about milliseconds.
    void Run(uint32_t milliseconds);
    // Serves the connection until done() is true, the connection fails or timeoutMs
    // passes. Returns done().
    bool WaitUntil(const std::function<bool()>& done, uint32_t timeoutMs = 5000);
    // Serves the connection until a callback sets flag or timeoutMs passes, with one
    // blocking poll per event and no other calls into the library (each of those costs a
    // system call). Returns flag.
    bool WaitForFlag(const bool& flag, uint32_t timeoutMs);
    // Handles whatever the connection already holds, without waiting.
    void ServeReady();
    // Waits for an operation and releases it; false when it did not complete.
    bool Complete(pa_operation* operation);

    // Every source or sink in the server's order; none when the query failed.
    std::optional<std::vector<PulseDevice>> ListSources();
    std::optional<std::vector<PulseDevice>> ListSinks();
    std::optional<PulseDefaults> DefaultNames();

private:
    bool Iterate(int timeoutMs);

    pa_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    std::string error;
};

// The devices as the lists show them: description as the name (a placeholder when it
// is empty), the device name as the endpoint identifier.
std::vector<AudioDeviceInfo> PulseEndpoints(const std::vector<PulseDevice>& devices);
