#include "settings/SettingsApply.h"

namespace {

uint32_t HeVersionOf(uint32_t value)
{
    return value == 2 || value == 1 ? value : 0;
}

// The processing switches and levels a confirmed record sets.
ProcessingParams ProcessingFromDialog(const SettingsDialogData& d)
{
    ProcessingParams p;
    p.hpfEnabled = d.hpfEnabled;
    p.gateEnabled = d.gateEnabled;
    p.gainEnabled = d.gainEnabled;
    p.gainDb = d.gainDb;
    p.agcEnabled = d.agcEnabled;
    p.agcTargetDb = -16.0f;
    p.agcMaxGainDb = 12.0f;
    p.agcSpeed = d.agcSpeed;
    p.compEnabled = d.compEnabled;
    p.compThreshDb = d.compThreshDb;
    p.compRatio = d.compRatio;
    p.compMakeupDb = d.compMakeupDb;
    p.boostEnabled = d.boostEnabled;
    p.bassEnabled = d.bassEnabled;
    p.stereoWidthEnabled = d.stereoWidthEnabled;
    p.limiterEnabled = d.limiterEnabled;
    p.codecPreEnabled = d.codecPreEnabled;
    p.codecBitrate = d.bitrate * 1000;
    p.codecHeVersion = HeVersionOf(d.heVersion);
    p.mono = d.channels < 2;
    DeriveCompressorTiming(p);
    return p;
}

void WriteStore(const SettingsDialogData& d, SettingsStore& store)
{
    store.SetString("Icecast", "host", DialogText(d.host));
    store.SetInt("Icecast", "port", static_cast<int32_t>(d.port));
    store.SetString("Icecast", "mountPoint", DialogText(d.mountPoint));
    store.SetString("Icecast", "username", DialogText(d.username));
    store.SetString("Icecast", "password", DialogText(d.password));
    store.SetString("Icecast", "streamName", DialogText(d.streamName));
    store.SetString("Icecast", "streamGenre", DialogText(d.streamGenre));
    store.SetInt("Audio", "sampleRate", static_cast<int32_t>(d.sampleRate));
    store.SetInt("Audio", "channels", static_cast<int32_t>(d.channels));
    store.SetInt("Audio", "deviceIndex", d.deviceIndex);
    store.SetString("Audio", "deviceEndpointId", DialogText(d.deviceEndpointId));
    store.SetInt("Encoder", "bitrate", static_cast<int32_t>(d.bitrate * 1000));
    store.SetString("Encoder", "heVersion", std::to_string(d.heVersion));
    store.SetBool("System", "startWithWindows", d.startWithWindows);
    store.SetBool("System", "startMinimized", d.startMinimized);
    store.SetBool("System", "autoStartEncode", d.autoStartEncode);
    store.SetBool("System", "persistentEncoding", d.persistentEncoding);
    store.SetBool("System", "minimizeToTray", d.minimizeToTray);
    store.SetBool("DSP", "hpfEnabled", d.hpfEnabled);
    store.SetBool("DSP", "gateEnabled", d.gateEnabled);
    store.SetBool("DSP", "gainEnabled", d.gainEnabled);
    store.SetInt("DSP", "gainDb", ScaledSetting(d.gainDb, 10.0f));
    store.SetBool("DSP", "agcEnabled", d.agcEnabled);
    store.SetInt("DSP", "agcSpeed", ScaledSetting(d.agcSpeed, 10000.0f));
    store.SetBool("DSP", "compEnabled", d.compEnabled);
    store.SetInt("DSP", "compThreshDb", ScaledSetting(d.compThreshDb, 10.0f));
    store.SetInt("DSP", "compRatio", ScaledSetting(d.compRatio, 10.0f));
    store.SetInt("DSP", "compMakeupDb", ScaledSetting(d.compMakeupDb, 10.0f));
    store.SetBool("DSP", "boostEnabled", d.boostEnabled);
    store.SetBool("DSP", "bassEnabled", d.bassEnabled);
    store.SetBool("DSP", "stereoWidthEnabled", d.stereoWidthEnabled);
    store.SetBool("DSP", "limiterEnabled", d.limiterEnabled);
    store.SetBool("DSP", "codecPreEnabled", d.codecPreEnabled);
    store.SetBool("DSP", "previewEnabled", d.previewEnabled);
    store.SetInt("DSP", "previewOutputDevice", d.previewOutputDevice);
}

} // namespace

int32_t ScaledSetting(float value, float scale)
{
    const float scaled = value * scale;
    return static_cast<int32_t>(scaled);
}

std::string CombineServerAddress(const std::string& host, uint32_t port, const std::string& mountPoint)
{
    if (host.empty())
        return {};
    std::string address = host;
    if (port > 0) {
        address += ':';
        address += std::to_string(port);
    }
    if (!mountPoint.empty()) {
        if (mountPoint.front() != '/')
            address += '/';
        address += mountPoint;
    }
    return address;
}

void FillDialogData(const SettingsStore& store, const AppSettings& settings, SettingsDialogData& d)
{
    ClearDialogData(d);
    const EngineConfig& stream = settings.stream;
    const IcecastConfig& server = stream.server;
    d.sampleRate = stream.captureFormat.sampleRate;
    d.channels = stream.captureFormat.channels;
    d.bitrate = stream.encoder.bitrate / 1000;
    d.heVersion = HeVersionOf(stream.encoder.heVersion);
    CopyDialogText(d.host, server.host);
    d.port = server.port;
    CopyDialogText(d.mountPoint, server.mountPoint);
    CopyDialogText(d.username, server.username);
    CopyDialogText(d.password, server.password);
    CopyDialogText(d.streamName, server.streamName);
    CopyDialogText(d.streamGenre, server.streamGenre);
    CopyDialogText(d.address, CombineServerAddress(server.host, server.port, server.mountPoint));
    d.deviceIndex = stream.deviceIndex;
    CopyDialogText(d.deviceEndpointId, stream.deviceEndpointId);

    d.startWithWindows = store.GetBool("System", "startWithWindows", false);
    d.startMinimized = store.GetBool("System", "startMinimized", false);
    d.autoStartEncode = store.GetBool("System", "autoStartEncode", false);
    d.persistentEncoding = store.GetBool("System", "persistentEncoding", false);
    d.minimizeToTray = store.GetBool("System", "minimizeToTray", false);

    d.hpfEnabled = store.GetBool("DSP", "hpfEnabled", false);
    d.gateEnabled = store.GetBool("DSP", "gateEnabled", false);
    d.gainEnabled = store.GetBool("DSP", "gainEnabled", false);
    d.gainDb = static_cast<float>(store.GetInt("DSP", "gainDb", 0)) / 10.0f;
    d.agcEnabled = store.GetBool("DSP", "agcEnabled", false);
    d.agcTargetDb = -16.0f;
    d.agcMaxGainDb = 12.0f;
    d.agcSpeed = static_cast<float>(store.GetInt("DSP", "agcSpeed", 50)) / 10000.0f;
    d.compEnabled = store.GetBool("DSP", "compEnabled", false);
    d.compThreshDb = static_cast<float>(store.GetInt("DSP", "compThreshDb", -120)) / 10.0f;
    d.compRatio = static_cast<float>(store.GetInt("DSP", "compRatio", 40)) / 10.0f;
    d.compAttackMs = 5.0f;
    d.compReleaseMs = 100.0f;
    d.compMakeupDb = static_cast<float>(store.GetInt("DSP", "compMakeupDb", 0)) / 10.0f;
    d.boostEnabled = store.GetBool("DSP", "boostEnabled", false);
    d.bassEnabled = store.GetBool("DSP", "bassEnabled", false);
    d.stereoWidthEnabled = store.GetBool("DSP", "stereoWidthEnabled", false);
    d.limiterEnabled = store.GetBool("DSP", "limiterEnabled", false);
    d.codecPreEnabled = store.GetBool("DSP", "codecPreEnabled", false);
    d.previewEnabled = store.GetBool("DSP", "previewEnabled", false);
    d.previewOutputDevice = store.GetInt("DSP", "previewOutputDevice", -1);
}

void ReadBackDialogData(const SettingsDialogData& d, SettingsStore& store, AppSettings& settings,
                        const std::vector<AudioDeviceInfo>& devices)
{
    EngineConfig& stream = settings.stream;
    const uint32_t heVersion = HeVersionOf(d.heVersion);
    stream.captureFormat.sampleRate = d.sampleRate;
    stream.captureFormat.channels = static_cast<uint16_t>(d.channels);
    stream.encoder.sampleRate = d.sampleRate;
    stream.encoder.channels = static_cast<uint16_t>(d.channels);
    stream.encoder.bitrate = d.bitrate * 1000;
    stream.encoder.heVersion = heVersion;

    IcecastConfig& server = stream.server;
    server.host = DialogText(d.host);
    server.port = static_cast<uint16_t>(d.port);
    server.mountPoint = DialogText(d.mountPoint);
    server.username = DialogText(d.username);
    server.password = DialogText(d.password);
    server.streamName = DialogText(d.streamName);
    server.streamGenre = DialogText(d.streamGenre);
    server.streamBitrate = stream.encoder.bitrate; // bit/s, as the stored settings give it
    server.streamSampleRate = static_cast<uint16_t>(d.sampleRate);
    server.streamChannels = static_cast<uint16_t>(d.channels);
    server.contentCode = d.heVersion > 0 ? 0 : kContentCodeAac;
    settings.statusAddress = MakeStatusAddress(server.host, server.port, server.mountPoint);

    stream.deviceEndpointId = DialogText(d.deviceEndpointId);
    ResolveInputDevice(stream.deviceEndpointId, d.deviceIndex, devices, settings);

    WriteStore(d, store);
    stream.processing = ProcessingFromDialog(d);
    settings.persistentEncoding = d.persistentEncoding;
    settings.minimizeToTray = d.minimizeToTray;
}
