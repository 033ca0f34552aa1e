#pragma once

#include <cstdint>

// The state of one stream attempt.
enum class EngineState : int32_t {
    Idle = 0,       // constructed, or initialised and connected, not yet started
    Connecting = 1, // Initialize is running
    Streaming = 2,  // capture runs and the sender writes to the server
    Stopped = 3,    // Stop has finished
    Error = 4,      // initialisation, start or the connection failed; the status line says why
};

// Internet reachability as last probed.
enum class InternetState : int32_t { Unknown = 0, Reachable = 1, Unreachable = 3 };
