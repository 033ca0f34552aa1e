#pragma once

#include <vector>

#include "control/ControlSnapshot.h"
#include "engine/EngineConfig.h"
#include "engine/InputMeters.h"
#include "engine/StreamEngine.h"
#include "engine/StreamSupervisor.h"

// One output of a front end's session, as the control interface reads it.
struct SessionOutput {
    size_t number = 1;
    const StreamSupervisor<StreamEngine>* supervisor = nullptr;
    const EngineConfig* stream = nullptr;
};

// The snapshot of a session: its outputs, the first one first; levels as the front end's
// meters show them; meterEngine the engine whose program they read (null: none streams).
ControlSnapshot TakeSessionSnapshot(const std::vector<SessionOutput>& outputs, const MeterLevels& levels,
                                    const StreamEngine* meterEngine);
