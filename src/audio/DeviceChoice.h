#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/DeviceList.h"

// Which input device a setting means: the endpoint with endpointId when that is not
// empty, else the active endpoint at position (-1: the system's default device). The
// identifier survives devices being added or removed; the position is its fallback.
struct DeviceChoice {
    int32_t position = -1;
    std::string endpointId;

    // The position to open when no endpoint has the identifier: an identifier, once
    // given, falls back to the default device only.
    int32_t FallbackPosition() const { return endpointId.empty() ? position : -1; }
};

// The position in devices (an enumeration in list order) the choice stands for, or -1
// for the default device: with an identifier, the endpoint that has it (-1 when none
// does, whatever the position); without, the position when it lies inside the list.
int32_t ResolveDevicePosition(const DeviceChoice& choice, const std::vector<AudioDeviceInfo>& devices);
