#pragma once

#include "audio/InputLevelMonitor.h"
#include "engine/EngineConfig.h"
#include "engine/StreamEngine.h"

// What both front ends show on their level meters and how they keep them alive.

struct MeterLevels {
    float left = 0.0f;
    float right = 0.0f;
};

// The engine's peak meters while it streams, else the input level monitor's levels.
MeterLevels CurrentMeterLevels(const StreamEngine* engine, const InputLevelMonitor& monitor);

// The input level monitor runs only while no engine streams: started on the configured
// device (endpoint identifier, else position) with the configured processing when no
// engine streams, stopped while one does, so the device is not captured twice. A start
// that fails is logged once per reason: both front ends call this on every tick.
void KeepInputMonitor(InputLevelMonitor& monitor, const EngineConfig& config, const StreamEngine* engine);
