#include "audio/DeviceList.h"

// No device back end is linked into this build yet: every choice resolves to the
// system default device.
std::vector<AudioDeviceInfo> ListCaptureDevices()
{
    return {};
}
