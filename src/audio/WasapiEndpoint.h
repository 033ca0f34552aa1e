#pragma once

// Windows only: helpers of the Core Audio back end files (*Wasapi.cpp).

#include <windows.h>

#include <audioclient.h>
#include <mmdeviceapi.h>
#include <mmreg.h>

#include <cstdint>
#include <string>

#include "base/ComApartment.h"
#include "base/ComPtr.h"
#include "audio/SampleConversion.h"

// Interface and class identifiers, spelled out so no __uuidof or GUID library is needed.
inline const GUID kClsidDeviceEnumerator = {0xbcde0395, 0xe52f, 0x467c, {0x8e, 0x3d, 0xc4, 0x57, 0x92, 0x91, 0x69, 0x2e}};
inline const GUID kIidDeviceEnumerator = {0xa95664d2, 0x9614, 0x4f35, {0xa7, 0x46, 0xde, 0x8d, 0xb6, 0x36, 0x17, 0xe6}};
inline const GUID kIidAudioClient = {0x1cb9ad4c, 0xdbfa, 0x4c32, {0xb1, 0x78, 0xc2, 0xf5, 0x68, 0xa7, 0x03, 0xb2}};
inline const GUID kIidAudioCaptureClient = {0xc8adbd64, 0xe71e, 0x48a0, {0xa4, 0xde, 0x18, 0x5c, 0x39, 0x5c, 0xd3, 0x17}};
inline const GUID kIidAudioRenderClient = {0xf294acfc, 0x3146, 0x4483, {0xa7, 0xbf, 0xad, 0xdc, 0xa7, 0xc2, 0x60, 0xe2}};
inline const GUID kSubtypeIeeeFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
inline const GUID kSubtypePcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
inline const PROPERTYKEY kDeviceFriendlyName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

ComPtr<IMMDeviceEnumerator> CreateDeviceEnumerator();

// The device rule: endpointId when GetDevice finds it, else the active endpoint at
// position (>= 0), else the default console endpoint of flow. Empty on failure.
ComPtr<IMMDevice> OpenEndpointDevice(EDataFlow flow, int32_t position, const std::string& endpointId);

// The friendly name, "" when it cannot be read.
std::string ReadFriendlyName(IMMDevice* device);
// The endpoint identifier, "" when it cannot be read.
std::string ReadEndpointId(IMMDevice* device);

// 32-bit float (plain or extensible), 16-bit integer, or neither.
DeviceSampleKind ClassifyMixFormat(const WAVEFORMATEX* format);
