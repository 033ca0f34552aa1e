#include "audio/DeviceList.h"

#include "audio/PulseConnection.h"

// Capture devices are the server's sources, monitors of sinks included; output devices
// are its sinks. A device's name is its description, its endpoint identifier its
// source or sink name.

std::vector<AudioDeviceInfo> ListCaptureDevices()
{
    PulseConnection connection;
    std::vector<PulseDevice> sources;
    if (!connection.Connect() || !connection.ListSources(sources))
        return {};
    return PulseEndpoints(sources);
}

std::vector<std::string> ListRenderDevices()
{
    PulseConnection connection;
    std::vector<PulseDevice> sinks;
    if (!connection.Connect() || !connection.ListSinks(sinks))
        return {};
    std::vector<std::string> names;
    for (const AudioDeviceInfo& endpoint : PulseEndpoints(sinks))
        names.push_back(endpoint.name);
    return names;
}

std::optional<AudioDeviceInfo> OpenEndpoint(DataFlow flow, int32_t position, const std::string& endpointId)
{
    PulseConnection connection;
    std::vector<PulseDevice> devices;
    std::string defaultSource;
    std::string defaultSink;
    if (!connection.Connect() || !connection.DefaultNames(defaultSource, defaultSink))
        return std::nullopt;
    const bool listed = flow == DataFlow::Capture ? connection.ListSources(devices) : connection.ListSinks(devices);
    if (!listed)
        return std::nullopt;
    const std::vector<AudioDeviceInfo> endpoints = PulseEndpoints(devices);
    const std::optional<size_t> chosen =
        ChooseEndpoint(endpoints, position, endpointId, flow == DataFlow::Capture ? defaultSource : defaultSink);
    if (!chosen)
        return std::nullopt;
    return endpoints[*chosen];
}
