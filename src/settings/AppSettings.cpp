#include "settings/AppSettings.h"

#include <algorithm>
#include <optional>

#include "base/Utf8.h"
#include "encoder/StreamEncoder.h"
#include "engine/StreamEngine.h"
#include "icecast/ShoutcastProtocol.h"
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

Codec ParseCodec(const std::string& text)
{
    std::string lower;
    for (const char c : text)
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (lower == "mp3")
        return Codec::Mp3;
    if (lower == "opus")
        return Codec::Opus;
    return Codec::Aac;
}

const char* StoredCodec(Codec codec)
{
    switch (codec) {
    case Codec::Mp3:
        return "mp3";
    case Codec::Opus:
        return "opus";
    case Codec::Aac:
        break;
    }
    return "aac";
}

uint32_t ContentCode(const EncoderConfig& encoder)
{
    switch (encoder.codec) {
    case Codec::Mp3:
        return kContentCodeMpeg;
    case Codec::Opus:
        return kContentCodeOgg;
    case Codec::Aac:
        break;
    }
    return encoder.profile != AacProfile::Lc ? 0 : kContentCodeAac;
}

uint32_t CodecFamily(Codec codec)
{
    return codec == Codec::Mp3 ? 1 : codec == Codec::Opus ? 2 : 0;
}

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

std::string MakeStatusAddress(const IcecastConfig& server)
{
    // A Shoutcast server answers for its statistics on the port it was given.
    if (server.serverType != ServerType::Icecast)
        return server.host.empty() || server.port == 0 ? std::string()
                                                       : CombineServerAddress(server.host, server.port, server.mountPoint);
    return MakeStatusAddress(server.host, server.port, server.mountPoint);
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
    server.streamSampleRate = static_cast<uint16_t>(CodecStreamRate(stream.encoder.codec, capture.sampleRate));
    server.streamChannels = capture.channels;
    server.contentCode = ContentCode(stream.encoder);
    settings.statusAddress = MakeStatusAddress(server);

    ProcessingParams& p = stream.processing;
    p.agcTargetDb = kAgcTargetDb;
    p.agcMaxGainDb = kAgcMaxGainDb;
    p.codecBitrate = stream.encoder.bitrate;
    p.codecHeVersion = StoredHeVersion(stream.encoder.profile);
    p.codecFamily = CodecFamily(stream.encoder.codec);
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

std::string OutputSection(size_t number)
{
    return "Output" + std::to_string(number);
}

bool HasFurtherOutputs(const AppSettings& settings)
{
    for (const OutputSettings& output : settings.outputs) {
        if (output.present && output.enabled)
            return true;
    }
    return false;
}

std::shared_ptr<ProgramSource> MakeSessionProgram(const AppSettings& settings)
{
    if (!HasFurtherOutputs(settings))
        return nullptr;
    std::vector<const EngineConfig*> outputs{&settings.stream};
    for (const OutputSettings& output : settings.outputs) {
        if (output.present && output.enabled)
            outputs.push_back(&output.stream);
    }
    return std::make_shared<ProgramSource>(SessionProgram(outputs));
}

void AttachProgram(AppSettings& settings, const std::shared_ptr<ProgramSource>& program)
{
    settings.stream.sharedProgram = program;
    for (OutputSettings& output : settings.outputs)
        output.stream.sharedProgram = program;
}

std::string OutputName(const EngineConfig& stream)
{
    return CombineServerAddress(stream.server.host, stream.server.port, stream.server.mountPoint);
}

namespace {

// serverType and streamId of section over fallback's (the first output's, or the
// defaults): an unknown type or a stream id outside 1..kMaxStreamId keeps the default
// and leaves the problem for the start to report.
void ReadServerType(const SettingsStore& store, const std::string& section, const EngineConfig* fallback,
                    EngineConfig& stream)
{
    IcecastConfig& server = stream.server;
    const std::string typeText = store.GetString(section, "serverType", "");
    const int64_t streamId = store.GetInt(section, "streamId", fallback ? static_cast<int32_t>(fallback->server.streamId) : 1);
    server.serverType = fallback && typeText.empty() ? fallback->server.serverType : ServerType::Icecast;
    server.streamId = 1;
    stream.serverTypeProblem = fallback && typeText.empty() ? fallback->serverTypeProblem : std::string();
    if (!typeText.empty()) {
        if (const std::optional<ServerType> type = ParseServerType(typeText))
            server.serverType = *type;
        else
            stream.serverTypeProblem = "The setting serverType \"" + std::string(Utf8Prefix(typeText, 40)) +
                                       "\" is none of icecast, shoutcast1, shoutcast2.";
    }
    if (streamId >= 1 && streamId <= kMaxStreamId)
        server.streamId = static_cast<uint32_t>(streamId);
    else if (stream.serverTypeProblem.empty())
        stream.serverTypeProblem = "The setting streamId " + std::to_string(streamId) + " is out of range (1-" +
                                   std::to_string(kMaxStreamId) + ").";
}

// Output number's section over the first output's values: its own server and encoding,
// and what follows from them as DeriveStreamSettings has it for the first.
void ReadOutput(const SettingsStore& store, AppSettings& settings, size_t number)
{
    OutputSettings& output = settings.outputs.at(number - 2);
    const std::string section = OutputSection(number);
    output = OutputSettings();
    output.present = store.GetSections().count(section) != 0;
    if (!output.present)
        return;
    const EngineConfig& first = settings.stream;
    EngineConfig& stream = output.stream;
    stream = first;
    stream.outputNumber = static_cast<int32_t>(number);
    // One alarm for the one input: the first output's supervision sounds it.
    stream.silenceSeconds = 0;
    output.enabled = store.GetBool(section, "enabled", true);

    IcecastConfig& server = stream.server;
    server.host = store.GetString(section, "host", first.server.host);
    stream.configuredPort = store.GetInt(section, "port", static_cast<int32_t>(first.configuredPort));
    server.port = static_cast<uint16_t>(stream.configuredPort);
    server.mountPoint = store.GetString(section, "mountPoint", first.server.mountPoint);
    server.username = store.GetString(section, "username", first.server.username);
    server.password = store.GetString(section, "password", first.server.password);
    server.streamName = store.GetString(section, "streamName", first.server.streamName);
    server.streamGenre = store.GetString(section, "streamGenre", first.server.streamGenre);
    server.isPublic = store.GetBool(section, "isPublic", first.server.isPublic);
    server.tls.enabled = store.GetBool(section, "tlsEnabled", first.server.tls.enabled);
    server.tls.caFile = store.GetString(section, "tlsCaFile", first.server.tls.caFile);
    server.tls.fingerprint = store.GetString(section, "tlsFingerprint", first.server.tls.fingerprint);
    ReadServerType(store, section, &first, stream);

    EncoderConfig& encoder = stream.encoder;
    encoder.bitrate = static_cast<uint32_t>(store.GetInt(section, "bitrate", static_cast<int32_t>(first.encoder.bitrate)));
    encoder.profile = ParseHeVersion(
        store.GetString(section, "heVersion", std::to_string(StoredHeVersion(first.encoder.profile))));
    encoder.codec = ParseCodec(store.GetString(section, "codec", StoredCodec(first.encoder.codec)));
    encoder.channels = SettleChannels(store.GetInt(section, "channels", first.captureFormat.channels));
    encoder.sampleRate =
        SettleSampleRate(store.GetInt(section, "sampleRate", static_cast<int32_t>(first.captureFormat.sampleRate)));

    server.streamBitrate = encoder.bitrate;
    server.streamSampleRate = static_cast<uint16_t>(CodecStreamRate(encoder.codec, encoder.sampleRate));
    server.streamChannels = encoder.channels;
    server.contentCode = ContentCode(encoder);
    output.statusAddress = MakeStatusAddress(server);
    stream.processing.codecBitrate = encoder.bitrate;
    stream.processing.codecHeVersion = StoredHeVersion(encoder.profile);
    stream.processing.codecFamily = CodecFamily(encoder.codec);
}

} // namespace

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
    stream.encoder.codec = ParseCodec(store.GetString("Encoder", "codec", "aac"));

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
    ReadServerType(store, "Icecast", nullptr, stream);
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
    ApplyStoredOutputs(store, settings);
}

void ApplyStoredOutputs(const SettingsStore& store, AppSettings& settings)
{
    for (size_t number = 2; number <= kMaxOutputs; ++number)
        ReadOutput(store, settings, number);
}

void ApplyStoredSettings(const SettingsStore& store, AppSettings& settings)
{
    const std::optional<AudioDeviceInfo> fallback = OpenEndpoint(DataFlow::Capture, -1, "");
    ApplyStoredSettings(store, settings, ListCaptureDevices(), fallback ? fallback->id : std::string());
}
