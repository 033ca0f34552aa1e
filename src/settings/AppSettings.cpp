#include "settings/AppSettings.h"

#include <algorithm>

#include "settings/StoredProcessing.h"

namespace {

AacProfile ParseHeVersion(const std::string& text)
{
    if (text == "2")
        return AacProfile::HeV2;
    if (text == "1")
        return AacProfile::HeV1;
    return AacProfile::Lc;
}

} // namespace

AacProfile ProfileFromHeVersion(uint32_t heVersion)
{
    if (heVersion == 2)
        return AacProfile::HeV2;
    if (heVersion == 1)
        return AacProfile::HeV1;
    return AacProfile::Lc;
}

uint32_t StoredHeVersion(AacProfile profile)
{
    switch (profile) {
    case AacProfile::HeV2:
        return 2;
    case AacProfile::HeV1:
        return 1;
    case AacProfile::Lc:
        break;
    }
    return 0;
}

void ResolveInputDevice(const DeviceChoice& stored, const std::vector<AudioDeviceInfo>& devices,
                        const std::string& defaultId, AppSettings& settings)
{
    const int32_t index = ResolveDevicePosition(stored, devices);
    settings.stream.device = {index, stored.endpointId};
    settings.inputDeviceName = index >= 0 ? devices[static_cast<size_t>(index)].name
                                         : DefaultDeviceName(devices, defaultId);
}

uint16_t SettleChannels(int32_t stored)
{
    return stored == 1 ? 1 : 2;
}

uint32_t SettleSampleRate(int32_t stored)
{
    if (stored == 0)
        return 0;
    return static_cast<uint32_t>(std::clamp<int32_t>(stored, kMinStreamSampleRate, kMaxStreamSampleRate));
}

std::string DefaultDeviceName(const std::vector<AudioDeviceInfo>& devices, const std::string& defaultId)
{
    std::string name = "(Default)";
    if (devices.empty())
        return name;
    const auto isDefault = [&defaultId](const AudioDeviceInfo& device) { return device.id == defaultId; };
    const auto found = defaultId.empty() ? devices.end() : std::find_if(devices.begin(), devices.end(), isDefault);
    return name + " - " + (found != devices.end() ? found->name : devices.front().name);
}

std::string MakeStatusAddress(const std::string& host, uint16_t port, const std::string& mountPoint)
{
    if (port < 6)
        return {};
    return CombineServerAddress(host, port - 5u, mountPoint);
}

void DeriveStreamSettings(AppSettings& settings)
{
    EngineConfig& stream = settings.stream;
    const CaptureFormat& capture = stream.captureFormat;
    stream.encoder.sampleRate = capture.sampleRate;
    stream.encoder.channels = capture.channels;

    IcecastConfig& server = stream.server;
    server.streamBitrate = stream.encoder.bitrate;
    server.streamSampleRate = static_cast<uint16_t>(capture.sampleRate);
    server.streamChannels = capture.channels;
    server.contentCode = stream.encoder.profile != AacProfile::Lc ? 0 : kContentCodeAac;
    settings.statusAddress = MakeStatusAddress(server.host, server.port, server.mountPoint);

    ProcessingParams& p = stream.processing;
    p.agcTargetDb = kAgcTargetDb;
    p.agcMaxGainDb = kAgcMaxGainDb;
    p.codecBitrate = stream.encoder.bitrate;
    p.codecHeVersion = StoredHeVersion(stream.encoder.profile);
    p.mono = capture.channels < 2;
    DeriveCompressorTiming(p);
}

int32_t SettleSilenceSeconds(int32_t stored)
{
    return std::max<int32_t>(stored, 0);
}

int32_t SettleSilenceThresholdDb(int32_t stored)
{
    return std::clamp<int32_t>(stored, -120, 0);
}

std::string RecordFolder(const std::string& stored, const std::string& settingsFolder)
{
    return stored.empty() ? settingsFolder + "recordings" : stored;
}

void ApplyStoredSettings(const SettingsStore& store, AppSettings& settings,
                         const std::vector<AudioDeviceInfo>& devices, const std::string& defaultId)
{
    EngineConfig& stream = settings.stream;

    CaptureFormat& capture = stream.captureFormat;
    capture.sampleRate = SettleSampleRate(store.GetInt("Audio", "sampleRate", 48000));
    capture.channels = SettleChannels(store.GetInt("Audio", "channels", 2));
    capture.bitsPerSample = static_cast<uint16_t>(store.GetInt("Audio", "bitsPerSample", 16));

    stream.encoder.bitrate = static_cast<uint32_t>(store.GetInt("Encoder", "bitrate", 64000));
    stream.encoder.profile = ParseHeVersion(store.GetString("Encoder", "heVersion", "1"));

    IcecastConfig& server = stream.server;
    server.host = store.GetString("Icecast", "host", "");
    stream.configuredPort = store.GetInt("Icecast", "port", 0);
    server.port = static_cast<uint16_t>(stream.configuredPort);
    server.mountPoint = store.GetString("Icecast", "mountPoint", "");
    server.username = store.GetString("Icecast", "username", "");
    server.password = store.GetString("Icecast", "password", "");
    server.streamName = store.GetString("Icecast", "streamName", "");
    server.streamGenre = store.GetString("Icecast", "streamGenre", "");

    server.isPublic = store.GetBool("Icecast", "isPublic", true);
    server.tls.enabled = store.GetBool("Icecast", "tlsEnabled", false);
    server.tls.caFile = store.GetString("Icecast", "tlsCaFile", "");
    server.tls.fingerprint = store.GetString("Icecast", "tlsFingerprint", "");
    stream.titleFile = store.GetString("Icecast", "titleFile", "");

    ResolveInputDevice({store.GetInt("Audio", "deviceIndex", -1), store.GetString("Audio", "deviceEndpointId", "")},
                       devices, defaultId, settings);

    settings.persistentEncoding = store.GetBool("System", "persistentEncoding", false);
    settings.minimizeToTray = store.GetBool("System", "minimizeToTray", false);
    stream.silenceSeconds = SettleSilenceSeconds(store.GetInt("System", "silenceSeconds", 20));
    stream.silenceThresholdDb = SettleSilenceThresholdDb(store.GetInt("System", "silenceThresholdDb", -50));
    stream.recordEnabled = store.GetBool("System", "recordEnabled", false);
    stream.recordFolder = RecordFolder(store.GetString("System", "recordFolder", ""), store.Folder());
    // A negative length, which no file can have, is read as one file per connection.
    stream.recordSplitMinutes = std::max<int32_t>(store.GetInt("System", "recordSplitMinutes", 60), 0);

    ReadStoredProcessing(store, stream.processing);
    DeriveStreamSettings(settings);
}

void ApplyStoredSettings(const SettingsStore& store, AppSettings& settings)
{
    const std::optional<AudioDeviceInfo> fallback = OpenEndpoint(DataFlow::Capture, -1, "");
    ApplyStoredSettings(store, settings, ListCaptureDevices(), fallback ? fallback->id : std::string());
}
