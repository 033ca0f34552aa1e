#include "settings/SettingsApply.h"

#include <type_traits>

#include "icecast/ShoutcastProtocol.h"
#include "settings/StoredProcessing.h"

static_assert(kDialogOutputs == kMaxOutputs - 1);

namespace {

// The further outputs as their sections hold them, with the values in effect.
void FillOutputs(const SettingsStore& store, const AppSettings& settings, SettingsDialogData& d)
{
    for (size_t i = 0; i < kDialogOutputs; ++i) {
        const OutputSettings& output = settings.outputs[i];
        DialogOutput& o = d.outputs[i];
        const auto section = store.GetSections().find(OutputSection(i + 2));
        o.present = output.present && section != store.GetSections().end();
        if (!o.present)
            continue;
        const SettingsStore::Section& keys = section->second;
        const auto holds = [&keys](const char* key) { return keys.count(key) != 0; };
        o.enabled = output.enabled;
        o.ownHost = holds("host");
        o.ownPort = holds("port");
        o.ownMountPoint = holds("mountPoint");
        o.ownTls = holds("tlsEnabled");
        o.ownPassword = holds("password");
        o.ownStreamName = holds("streamName");
        o.ownServerType = holds("serverType");
        o.serverType = static_cast<uint32_t>(output.stream.server.serverType);
        const IcecastConfig& server = output.stream.server;
        CopyDialogText(o.address, CombineServerAddress(server.host, server.port, server.mountPoint, server.tls.enabled));
        CopyDialogText(o.host, server.host);
        o.port = server.port;
        CopyDialogText(o.mountPoint, server.mountPoint);
        o.tlsEnabled = server.tls.enabled;
        CopyDialogText(o.password, server.password);
        CopyDialogText(o.streamName, server.streamName);
        CopyDialogText(o.tlsCaFile, server.tls.caFile);
        CopyDialogText(o.tlsFingerprint, server.tls.fingerprint);
    }
}

// Writes or removes the further outputs' sections. A section keeps every key the dialog
// does not show (encoding, user name, genre, TLS files). Of the fields the user edited, a
// key is written when the section holds it or when its value differs from the first
// output's; otherwise it stays out and keeps following the first output.
void WriteOutputs(const SettingsDialogData& d, SettingsStore& store)
{
    SettingsStore::Sections& sections = store.GetSections();
    for (size_t i = 0; i < kDialogOutputs; ++i) {
        const DialogOutput& o = d.outputs[i];
        const std::string section = OutputSection(i + 2);
        // A removed output's section goes; one removed and added again starts anew.
        if (!o.present || o.added)
            sections.erase(section);
        if (!o.present)
            continue;
        const SettingsStore::Section& keys = sections[section]; // an added output starts empty
        const auto put = [&](const char* key, const std::string& value, const std::string& first) {
            if (keys.count(key) != 0 || value != first)
                store.SetString(section, key, value);
        };
        if (store.GetBool(section, "enabled", true) != o.enabled)
            store.SetBool(section, "enabled", o.enabled);
        if (o.addressEdited) {
            put("host", DialogText(o.host), DialogText(d.host));
            put("port", std::to_string(o.port), std::to_string(d.port));
            put("mountPoint", DialogText(o.mountPoint), DialogText(d.mountPoint));
            if (keys.count("tlsEnabled") != 0 || o.tlsEnabled != d.tlsEnabled)
                store.SetBool(section, "tlsEnabled", o.tlsEnabled);
        }
        if (o.passwordEdited)
            put("password", DialogText(o.password), DialogText(d.password));
        if (o.streamNameEdited)
            put("streamName", DialogText(o.streamName), DialogText(d.streamName));
        if (o.serverTypeEdited)
            put("serverType", ServerTypeName(static_cast<ServerType>(o.serverType)),
                ServerTypeName(static_cast<ServerType>(d.serverType)));
    }
}

void WriteStore(const SettingsDialogData& d, SettingsStore& store)
{
    store.SetString("Icecast", "host", DialogText(d.host));
    store.SetInt("Icecast", "port", static_cast<int32_t>(d.port));
    store.SetString("Icecast", "mountPoint", DialogText(d.mountPoint));
    store.SetString("Icecast", "username", DialogText(d.username));
    store.SetString("Icecast", "password", DialogText(d.password));
    store.SetString("Icecast", "streamName", DialogText(d.streamName));
    // The dialog does not edit the genre (its record carries it empty): the stored one stays.
    // Nor the CA file and the fingerprint, which only a settings file sets.
    store.SetBool("Icecast", "tlsEnabled", d.tlsEnabled);
    if (d.serverTypeEdited)
        store.SetString("Icecast", "serverType", ServerTypeName(static_cast<ServerType>(d.serverType)));
    store.SetInt("Audio", "sampleRate", static_cast<int32_t>(d.sampleRate));
    store.SetInt("Audio", "channels", static_cast<int32_t>(d.channels));
    store.SetInt("Audio", "deviceIndex", d.deviceIndex);
    store.SetString("Audio", "deviceEndpointId", DialogText(d.deviceEndpointId));
    store.SetInt("Encoder", "bitrate", static_cast<int32_t>(d.bitrate * 1000));
    store.SetString("Encoder", "heVersion", std::to_string(d.heVersion));
    // Written once another codec was chosen, so a file that never had one stays as it was.
    if (d.codec != 0 || !store.GetString("Encoder", "codec", "").empty())
        store.SetString("Encoder", "codec", StoredCodec(d.codec == 1 ? Codec::Mp3 : d.codec == 2 ? Codec::Opus : Codec::Aac));
    store.SetBool("System", "startWithWindows", d.startWithWindows);
    store.SetBool("System", "startMinimized", d.startMinimized);
    store.SetBool("System", "autoStartEncode", d.autoStartEncode);
    store.SetBool("System", "persistentEncoding", d.persistentEncoding);
    store.SetBool("System", "minimizeToTray", d.minimizeToTray);
    store.SetBool("System", "recordEnabled", d.recordEnabled);
    store.SetString("System", "recordFolder", DialogText(d.recordFolder));
    ForEachStoredProcessingField(
        [&store](const StoredProcessingField& field, const auto& value) {
            if constexpr (std::is_same_v<std::remove_cvref_t<decltype(value)>, bool>)
                store.SetBool("DSP", field.key, value);
            else
                store.SetInt("DSP", field.key, ScaledSetting(value, field.scale));
        },
        d);
    store.SetBool("DSP", "previewEnabled", d.previewEnabled);
    store.SetInt("DSP", "previewOutputDevice", d.previewOutputDevice);
    WriteOutputs(d, store);
}

} // namespace

int32_t ScaledSetting(float value, float scale)
{
    const float scaled = value * scale;
    return static_cast<int32_t>(scaled);
}

void FillDialogData(const SettingsStore& store, const AppSettings& settings, SettingsDialogData& d)
{
    ClearDialogData(d);
    const EngineConfig& stream = settings.stream;
    const IcecastConfig& server = stream.server;
    d.sampleRate = stream.captureFormat.sampleRate;
    d.channels = stream.captureFormat.channels;
    d.bitrate = stream.encoder.bitrate / 1000;
    d.heVersion = StoredHeVersion(stream.encoder.profile);
    d.codec = CodecFamily(stream.encoder.codec);
    CopyDialogText(d.host, server.host);
    d.port = server.port;
    CopyDialogText(d.mountPoint, server.mountPoint);
    CopyDialogText(d.username, server.username);
    CopyDialogText(d.password, server.password);
    CopyDialogText(d.streamName, server.streamName);
    CopyDialogText(d.streamGenre, server.streamGenre);
    CopyDialogText(d.address, CombineServerAddress(server.host, server.port, server.mountPoint, server.tls.enabled));
    d.tlsEnabled = server.tls.enabled;
    CopyDialogText(d.tlsCaFile, server.tls.caFile);
    CopyDialogText(d.tlsFingerprint, server.tls.fingerprint);
    d.serverType = static_cast<uint32_t>(server.serverType);
    d.deviceIndex = stream.device.position;
    CopyDialogText(d.deviceEndpointId, stream.device.endpointId);

    d.startWithWindows = store.GetBool("System", "startWithWindows", false);
    d.startMinimized = store.GetBool("System", "startMinimized", false);
    d.autoStartEncode = store.GetBool("System", "autoStartEncode", false);
    d.persistentEncoding = store.GetBool("System", "persistentEncoding", false);
    d.minimizeToTray = store.GetBool("System", "minimizeToTray", false);
    d.recordEnabled = store.GetBool("System", "recordEnabled", false);
    CopyDialogText(d.recordFolder, store.GetString("System", "recordFolder", ""));

    ReadStoredProcessing(store, d);
    d.agcTargetDb = kAgcTargetDb;
    d.agcMaxGainDb = kAgcMaxGainDb;
    d.compAttackMs = 5.0f;
    d.compReleaseMs = 100.0f;
    d.previewEnabled = store.GetBool("DSP", "previewEnabled", false);
    d.previewOutputDevice = store.GetInt("DSP", "previewOutputDevice", -1);
    FillOutputs(store, settings, d);
}

void ReadBackDialogData(const SettingsDialogData& d, SettingsStore& store, AppSettings& settings,
                        const std::vector<AudioDeviceInfo>& devices, const std::string& defaultId)
{
    EngineConfig& stream = settings.stream;
    stream.captureFormat.sampleRate = d.sampleRate;
    stream.captureFormat.channels = static_cast<uint16_t>(d.channels);
    stream.encoder.bitrate = d.bitrate * 1000;
    stream.encoder.profile = ProfileFromHeVersion(d.heVersion);
    stream.encoder.codec = d.codec == 1 ? Codec::Mp3 : d.codec == 2 ? Codec::Opus : Codec::Aac;

    IcecastConfig& server = stream.server;
    server.host = DialogText(d.host);
    stream.configuredPort = d.port;
    server.port = static_cast<uint16_t>(d.port);
    server.mountPoint = DialogText(d.mountPoint);
    server.username = DialogText(d.username);
    server.password = DialogText(d.password);
    server.streamName = DialogText(d.streamName);
    server.tls.enabled = d.tlsEnabled;
    if (d.serverTypeEdited && d.serverType <= static_cast<uint32_t>(ServerType::Shoutcast2)) {
        server.serverType = static_cast<ServerType>(d.serverType);
        stream.serverTypeProblem.clear();
    }

    ResolveInputDevice({d.deviceIndex, DialogText(d.deviceEndpointId)}, devices, defaultId, settings);

    WriteStore(d, store);
    // The processing switches and levels a confirmed record sets; the rest is derived.
    stream.processing = ProcessingParams{};
    ForEachStoredProcessingField([](const StoredProcessingField&, auto& to, const auto& from) { to = from; },
                                 stream.processing, d);
    settings.persistentEncoding = d.persistentEncoding;
    settings.minimizeToTray = d.minimizeToTray;
    stream.recordEnabled = d.recordEnabled;
    stream.recordFolder = RecordFolder(DialogText(d.recordFolder), store.Folder());
    DeriveStreamSettings(settings);
    ApplyStoredOutputs(store, settings);
}
