#include "audio/DeviceChoice.h"

int32_t ResolveDevicePosition(const DeviceChoice& choice, const std::vector<AudioDeviceInfo>& devices)
{
    if (!choice.endpointId.empty()) {
        for (size_t i = 0; i < devices.size(); ++i) {
            if (devices[i].id == choice.endpointId)
                return static_cast<int32_t>(i);
        }
        return -1;
    }
    if (choice.position >= 0 && static_cast<size_t>(choice.position) < devices.size())
        return choice.position;
    return -1;
}
