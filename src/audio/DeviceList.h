#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One capture device: display name and endpoint identifier, both UTF-8.
struct AudioDeviceInfo {
    std::string name;
    std::string id;
};

// Which side of the sound system an endpoint belongs to.
enum class DataFlow { Capture, Render };

// Shown for an endpoint whose name cannot be read, so that list positions stay equal to
// enumeration positions (the settings store positions).
inline constexpr const char* kUnnamedDeviceName = "Unnamed audio device";

// Active capture devices in enumeration order; empty when they cannot be listed.
std::vector<AudioDeviceInfo> ListCaptureDevices();

// Names of the active output devices in enumeration order; empty when they cannot be
// listed. A position in this list is the preview's output device setting.
std::vector<std::string> ListRenderDevices();

// The endpoint a stored choice stands for: the one with endpointId when it exists, else
// the active endpoint at position when position >= 0 (none past the end), else the
// system's default endpoint. The result carries the endpoint's name and identifier.
std::optional<AudioDeviceInfo> OpenEndpoint(DataFlow flow, int32_t position, const std::string& endpointId);

// The same rule over an enumeration already made: the index into endpoints, or none.
// defaultId names the default endpoint ("" when there is none).
std::optional<size_t> ChooseEndpoint(const std::vector<AudioDeviceInfo>& endpoints, int32_t position,
                                     const std::string& endpointId, const std::string& defaultId);
