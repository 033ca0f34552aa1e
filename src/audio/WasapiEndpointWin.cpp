#include "audio/WasapiEndpoint.h"

#include <propidl.h>

#include "base/WideText.h"

ComPtr<IMMDeviceEnumerator> CreateDeviceEnumerator()
{
    EnsureComApartment();
    ComPtr<IMMDeviceEnumerator> enumerator;
    if (FAILED(CoCreateInstance(kClsidDeviceEnumerator, nullptr, CLSCTX_ALL, kIidDeviceEnumerator,
                                enumerator.PutVoid())))
        enumerator.Reset();
    return enumerator;
}

ComPtr<IMMDevice> OpenEndpointDevice(EDataFlow flow, int32_t position, const std::string& endpointId)
{
    ComPtr<IMMDevice> device;
    ComPtr<IMMDeviceEnumerator> enumerator = CreateDeviceEnumerator();
    if (!enumerator)
        return device;
    if (!endpointId.empty()) {
        const std::wstring id = Widen(endpointId);
        // An endpoint that is known but no longer active (unplugged, disabled, removed)
        // cannot record: it counts as missing, so the default device takes over.
        DWORD state = 0;
        if (SUCCEEDED(enumerator->GetDevice(id.c_str(), device.Put())) && device &&
            SUCCEEDED(device->GetState(&state)) && state == DEVICE_STATE_ACTIVE)
            return device;
        device.Reset();
    }
    if (position >= 0) {
        ComPtr<IMMDeviceCollection> collection;
        if (SUCCEEDED(enumerator->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE, collection.Put())) &&
            FAILED(collection->Item(static_cast<UINT>(position), device.Put())))
            device.Reset(); // past the end: no device
        return device;
    }
    if (FAILED(enumerator->GetDefaultAudioEndpoint(flow, eConsole, device.Put())))
        device.Reset();
    return device;
}

std::string ReadFriendlyName(IMMDevice* device)
{
    std::string name;
    ComPtr<IPropertyStore> store;
    if (device == nullptr || FAILED(device->OpenPropertyStore(STGM_READ, store.Put())))
        return name;
    PROPVARIANT value;
    PropVariantInit(&value);
    if (SUCCEEDED(store->GetValue(kDeviceFriendlyName, &value)) && value.vt == VT_LPWSTR)
        if (value.pwszVal != nullptr)
            name = Narrow(value.pwszVal);
    PropVariantClear(&value);
    return name;
}

std::string ReadEndpointId(IMMDevice* device)
{
    std::string id;
    LPWSTR wide = nullptr;
    if (device != nullptr && SUCCEEDED(device->GetId(&wide)) && wide != nullptr) {
        id = Narrow(wide);
        CoTaskMemFree(wide);
    }
    return id;
}

DeviceSampleKind ClassifyMixFormat(const WAVEFORMATEX* format)
{
    if (format == nullptr)
        return DeviceSampleKind::Unsupported;
    bool isFloat = format->wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
    bool isPcm = format->wFormatTag == WAVE_FORMAT_PCM;
    if (format->wFormatTag == WAVE_FORMAT_EXTENSIBLE && format->cbSize >= 22) {
        const auto* extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(format);
        isFloat = IsEqualGUID(extensible->SubFormat, kSubtypeIeeeFloat) != 0;
        isPcm = IsEqualGUID(extensible->SubFormat, kSubtypePcm) != 0;
    }
    if (isFloat && format->wBitsPerSample == 32)
        return DeviceSampleKind::Float32;
    if (isPcm && format->wBitsPerSample == 16)
        return DeviceSampleKind::Int16;
    return DeviceSampleKind::Unsupported;
}
