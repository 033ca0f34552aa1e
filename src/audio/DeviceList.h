#pragma once

#include <string>
#include <vector>

// One capture device: display name and endpoint identifier, both UTF-8.
struct AudioDeviceInfo {
    std::string name;
    std::string id;
};

// Active capture devices in enumeration order; empty when they cannot be listed.
std::vector<AudioDeviceInfo> ListCaptureDevices();
