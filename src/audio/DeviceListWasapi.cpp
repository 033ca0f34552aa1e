#include "audio/DeviceList.h"

#include "audio/WasapiEndpoint.h"

namespace {

// Every active endpoint of flow in enumeration order. An endpoint whose name cannot be
// read keeps its place under a placeholder name, so positions stay enumeration positions.
std::vector<AudioDeviceInfo> ListEndpoints(EDataFlow flow)
{
    std::vector<AudioDeviceInfo> endpoints;
    ComPtr<IMMDeviceEnumerator> enumerator = CreateDeviceEnumerator();
    ComPtr<IMMDeviceCollection> collection;
    if (!enumerator || FAILED(enumerator->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE, collection.Put())))
        return endpoints;
    UINT count = 0;
    if (FAILED(collection->GetCount(&count)))
        return endpoints;
    for (UINT i = 0; i < count; ++i) {
        AudioDeviceInfo info;
        ComPtr<IMMDevice> device;
        if (SUCCEEDED(collection->Item(i, device.Put())) && device) {
            info.name = ReadFriendlyName(device.Get());
            info.id = ReadEndpointId(device.Get());
        }
        if (info.name.empty())
            info.name = kUnnamedDeviceName;
        endpoints.push_back(std::move(info));
    }
    return endpoints;
}

} // namespace

std::vector<AudioDeviceInfo> ListCaptureDevices()
{
    return ListEndpoints(eCapture);
}

std::vector<std::string> ListRenderDevices()
{
    std::vector<std::string> names;
    for (AudioDeviceInfo& endpoint : ListEndpoints(eRender))
        names.push_back(std::move(endpoint.name));
    return names;
}

std::optional<AudioDeviceInfo> OpenEndpoint(DataFlow flow, int32_t position, const std::string& endpointId)
{
    ComPtr<IMMDevice> device = OpenEndpointDevice(flow == DataFlow::Capture ? eCapture : eRender, position, endpointId);
    if (!device)
        return std::nullopt;
    AudioDeviceInfo info{ReadFriendlyName(device.Get()), ReadEndpointId(device.Get())};
    if (info.name.empty())
        info.name = kUnnamedDeviceName;
    return info;
}
