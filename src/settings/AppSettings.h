#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "audio/DeviceList.h"
#include "engine/EngineConfig.h"
#include "engine/ProgramSource.h"
#include "engine/StreamSupervisor.h"
#include "icecast/ServerAddress.h"
#include "settings/SettingsStore.h"

// The most outputs a session streams to: the first ([Icecast], [Encoder], [Audio]) and
// [Output2] ... [Output8].
inline constexpr size_t kMaxOutputs = 8;

// One further output: a section [OutputN] of the settings. A key it does not hold takes
// the first output's value, so a backup server needs only its host, port and password.
// Capture, processing, title file and archive are the first output's.
struct OutputSettings {
    bool present = false; // the section exists
    bool enabled = true;
    EngineConfig stream;
    std::string statusAddress; // as AppSettings::statusAddress
};

// The typed settings the engine, the status poller and the front ends read. The
// engine configuration is its stream-related part.
struct AppSettings {
    EngineConfig stream; // captureFormat, encoder, server, processing, device
    std::string inputDeviceName;
    std::string statusAddress; // "host:port-5/mount", or "" for no status polling
    bool persistentEncoding = false;
    bool minimizeToTray = false;
    // Outputs 2 to kMaxOutputs, in order; at fixed places, so that supervision may hold
    // on to one while the settings are applied again.
    std::array<OutputSettings, kMaxOutputs - 1> outputs;
};

// The section of output number (2 to kMaxOutputs): "Output2" ...
std::string OutputSection(size_t number);

// Whether any output beside the first is present and enabled.
bool HasFurtherOutputs(const AppSettings& settings);

// The program the outputs of a session share: the first output's input and processing
// and an encoding per distinct encoding of the enabled outputs; null with no further
// output enabled, when the first output's engine makes its own.
std::shared_ptr<ProgramSource> MakeSessionProgram(const AppSettings& settings);

// Hands program (null: none) to the engine configuration of every output.
void AttachProgram(AppSettings& settings, const std::shared_ptr<ProgramSource>& program);

// "host:port/mount" of an output's server (CombineServerAddress), to name it in the log
// and on the status line.
std::string OutputName(const EngineConfig& stream);

// A hand-edited file may hold any number: a negative time turns the alarm off, the
// threshold is held to -120..0 dBFS.
int32_t SettleSilenceSeconds(int32_t stored);
int32_t SettleSilenceThresholdDb(int32_t stored);

// The archive's folder: the stored recordFolder, or "" for the folder "recordings"
// beside the settings file (settingsFolder ends with its separator, or is "").
std::string RecordFolder(const std::string& stored, const std::string& settingsFolder);

// The part of settings that stream supervision reads.
inline SupervisedSettings Supervised(const AppSettings& settings)
{
    return {settings.stream, settings.statusAddress, settings.persistentEncoding};
}

// The same for output number (2 to kMaxOutputs).
inline SupervisedSettings SupervisedOutput(const AppSettings& settings, size_t number)
{
    const OutputSettings& output = settings.outputs.at(number - 2);
    return {output.stream, output.statusAddress, settings.persistentEncoding};
}

// Copies the stored values into settings, resolving the input device against devices;
// defaultId is the identifier of the system's default capture endpoint ("" unknown).
void ApplyStoredSettings(const SettingsStore& store, AppSettings& settings,
                         const std::vector<AudioDeviceInfo>& devices, const std::string& defaultId = "");

// Reads outputs 2 to kMaxOutputs over the first output's values already in settings
// (ApplyStoredSettings ends with it).
void ApplyStoredOutputs(const SettingsStore& store, AppSettings& settings);

// The same against a fresh list of the capture devices and the current default.
void ApplyStoredSettings(const SettingsStore& store, AppSettings& settings);

// The settings file's numbering of the encoder profile (key "heVersion"), which the
// processing's codecHeVersion shares: 0 AAC-LC, 1 HE-AAC v1, 2 HE-AAC v2. Any other
// number is AAC-LC.
AacProfile ProfileFromHeVersion(uint32_t heVersion);

// The settings key "codec": "aac" (also for any word it does not know), "mp3" or
// "opus", in any case.
Codec ParseCodec(const std::string& text);
const char* StoredCodec(Codec codec);
// The content code an encoder's stream is announced with (IcecastConfig::contentCode).
uint32_t ContentCode(const EncoderConfig& encoder);
// The processing's codecFamily for a codec: 0 AAC, 1 MP3, 2 Opus.
uint32_t CodecFamily(Codec codec);
uint32_t StoredHeVersion(AacProfile profile);

// The stream rates a stored sample rate may name; 0 keeps the device's rate.
constexpr int32_t kMinStreamSampleRate = 8000;
constexpr int32_t kMaxStreamSampleRate = 192000;

// A hand-edited file may hold any number: every path (capture, processing, encoder,
// server headers) must see one channel count and one rate that it can handle. 1 stays
// mono, any other count is stereo; a rate of 0 stays 0, others are held to the range.
uint16_t SettleChannels(int32_t stored);
uint32_t SettleSampleRate(int32_t stored);

// Resolves the stored device choice against devices into settings.stream.device (the
// identifier kept, the position resolved) and settings.inputDeviceName: no match gives
// -1 and the name of the default device, defaultId ("" unknown).
void ResolveInputDevice(const DeviceChoice& stored, const std::vector<AudioDeviceInfo>& devices,
                        const std::string& defaultId, AppSettings& settings);

// Fills in what follows from the capture format, the encoder and the server chosen in
// settings.stream: the encoder's format, the stream headers, the status address and
// the processing's codec values, fixed AGC levels and compressor timing.
void DeriveStreamSettings(AppSettings& settings);

// "host:port-5" plus the mount point with a leading "/" (CombineServerAddress, so an IPv6
// host is in brackets), or "" when host is empty or port is 5 or less. No scheme: the
// poll chooses it (StatusPoller).
std::string MakeStatusAddress(const std::string& host, uint16_t port, const std::string& mountPoint);
// The same for a server of its type: a Shoutcast server's "host:port/mount", where it
// keeps its statistics.
std::string MakeStatusAddress(const IcecastConfig& server);

// Name shown for the default input device: "(Default)", plus " - " and the name of the
// device whose identifier is defaultId, the endpoint the default rule opens (the first
// device's name when defaultId is empty or not listed).
std::string DefaultDeviceName(const std::vector<AudioDeviceInfo>& devices, const std::string& defaultId = "");
