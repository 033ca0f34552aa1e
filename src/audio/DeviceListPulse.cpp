#include "audio/DeviceList.h"

#include "audio/PulseConnection.h"

// Capture devices are the server's sources, monitors of sinks included; output devices
// are its sinks. A device's name is its description, its endpoint identifier its
// source or sink name.

std::vector<AudioDeviceInfo> ListCaptureDevices()
{
    PulseConnection connection;
    if (!connection.Connect())
        return {};
    const std::optional<std::vector<PulseDevice>> sources = connection.ListSources();
    return sources ? PulseEndpoints(*sources) : std::vector<AudioDeviceInfo>{};
}

std::vector<std::string> ListRenderDevices()
{
    PulseConnection connection;
    if (!connection.Connect())
        return {};
    const std::optional<std::vector<PulseDevice>> sinks = connection.ListSinks();
    if (!sinks)
        return {};
    std::vector<std::string> names;
    for (const AudioDeviceInfo& endpoint : PulseEndpoints(*sinks))
        names.push_back(endpoint.name);
    return names;
}

std::optional<AudioDeviceInfo> OpenEndpoint(DataFlow flow, int32_t position, const std::string& endpointId)
{
    PulseConnection connection;
    if (!connection.Connect())
        return std::nullopt;
    const std::optional<PulseDefaults> defaults = connection.DefaultNames();
    if (!defaults)
        return std::nullopt;
    const std::optional<std::vector<PulseDevice>> devices =
        flow == DataFlow::Capture ? connection.ListSources() : connection.ListSinks();
    if (!devices)
        return std::nullopt;
    const std::vector<AudioDeviceInfo> endpoints = PulseEndpoints(*devices);
    const std::optional<size_t> chosen =
        ChooseEndpoint(endpoints, position, endpointId, flow == DataFlow::Capture ? defaults->source : defaults->sink);
    if (!chosen)
        return std::nullopt;
    return endpoints[*chosen];
}
