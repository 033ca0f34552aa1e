#include "settings/SettingsApply.h"

#include <type_traits>

#include "settings/StoredProcessing.h"

namespace {

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
}

void ReadBackDialogData(const SettingsDialogData& d, SettingsStore& store, AppSettings& settings,
                        const std::vector<AudioDeviceInfo>& devices, const std::string& defaultId)
{
    EngineConfig& stream = settings.stream;
    stream.captureFormat.sampleRate = d.sampleRate;
    stream.captureFormat.channels = static_cast<uint16_t>(d.channels);
    stream.encoder.bitrate = d.bitrate * 1000;
    stream.encoder.profile = ProfileFromHeVersion(d.heVersion);

    IcecastConfig& server = stream.server;
    server.host = DialogText(d.host);
    stream.configuredPort = d.port;
    server.port = static_cast<uint16_t>(d.port);
    server.mountPoint = DialogText(d.mountPoint);
    server.username = DialogText(d.username);
    server.password = DialogText(d.password);
    server.streamName = DialogText(d.streamName);
    server.tls.enabled = d.tlsEnabled;

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
}
