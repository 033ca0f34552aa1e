#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "base/Utf8.h"

// The first output's further servers: outputs 2 to 8 ([Output2] ... [Output8]) as the
// SERVER tab shows and edits them. The texts are the output's values in effect; a key
// the section leaves out follows the first output, and stays left out unless the user
// edits its field.
inline constexpr size_t kDialogOutputs = 7;
struct DialogOutput {
    bool present; // the section exists; false on OK removes it
    bool added;   // added in the dialog: OK replaces any section stored under its number
    bool enabled;
    // Keys the section holds (the rest follow the first output).
    bool ownHost;
    bool ownPort;
    bool ownMountPoint;
    bool ownTls;
    bool ownPassword;
    bool ownStreamName;
    // Fields the user edited in the dialog: only their keys are written on OK.
    bool addressEdited;
    bool passwordEdited;
    bool streamNameEdited;
    char address[512]; // as the address edit shows it
    char host[256];    // host, port, mount point and TLS: parsed from the address on OK
    uint32_t port;
    char mountPoint[128];
    bool tlsEnabled;
    char password[128];
    char streamName[128];
    // Not edited; the connection test verifies with them.
    char tlsCaFile[512];
    char tlsFingerprint[192];
    // The server type (ServerType: 0 Icecast, 1 Shoutcast v1, 2 Shoutcast 2): the
    // section holds it, and the user chose one.
    uint32_t serverType;
    bool ownServerType;
    bool serverTypeEdited;
};

// The settings dialog's exchange record: fixed size, texts as zero-terminated byte
// arrays. Filled from the settings before the dialog runs, read back after OK.
struct SettingsDialogData {
    uint32_t sampleRate;
    uint32_t channels;
    uint32_t bitrate;   // kbit/s
    uint32_t heVersion; // 0 AAC-LC, 1 HE-AAC v1, 2 HE-AAC v2
    char host[256];
    uint32_t port;
    char mountPoint[128];
    char username[64];
    char password[128];
    char streamName[128];
    char streamGenre[64];
    char address[512]; // "[https://]host:port/mount" as shown in the address edit
    bool tlsEnabled;   // set on OK from the address: on with "https://", off without
    // Not edited, kept in the store on OK; the connection test verifies with them.
    char tlsCaFile[512];
    char tlsFingerprint[192];
    int32_t deviceIndex;
    char deviceEndpointId[256];
    bool startWithWindows;
    bool startMinimized;
    bool autoStartEncode;
    bool persistentEncoding;
    bool minimizeToTray;
    bool hpfEnabled;
    bool gateEnabled;
    bool gainEnabled;
    float gainDb;
    bool agcEnabled;
    float agcTargetDb;
    float agcMaxGainDb;
    float agcSpeed;
    bool compEnabled;
    float compThreshDb;
    float compRatio;
    float compAttackMs;
    float compReleaseMs;
    float compMakeupDb;
    bool boostEnabled;
    bool bassEnabled;
    bool stereoWidthEnabled;
    bool limiterEnabled;
    bool codecPreEnabled;
    bool loudnessEnabled;
    float loudnessTarget;
    float loudnessMaxGainDb;
    bool truePeakEnabled;
    float truePeakCeilingDb;
    bool previewEnabled;
    int32_t previewOutputDevice;
    // Archive recording: the switch and the folder as stored ("" for the folder
    // "recordings" beside the settings file).
    bool recordEnabled;
    char recordFolder[512];
    DialogOutput outputs[kDialogOutputs]; // outputs 2 to 8
    // The first output's server type (as DialogOutput's); written only once chosen, so a
    // file without the key keeps streaming to Icecast as before.
    uint32_t serverType;
    bool serverTypeEdited;
    uint32_t codec; // 0 AAC, 1 MP3, 2 Opus
};

// Every byte zero, padding included, so that two records compare with memcmp.
inline void ClearDialogData(SettingsDialogData& data)
{
    std::memset(&data, 0, sizeof data);
}

inline void ClearDialogOutput(DialogOutput& output)
{
    std::memset(&output, 0, sizeof output);
}

// Bytes of UTF-8 a text field holds, its terminator not counted. The dialog cuts what
// is typed into an edit to its field's limit with Utf8Prefix (base/Utf8.h), so the user
// sees the limit while typing instead of losing the tail on OK.
inline constexpr size_t kHostBytes = sizeof(SettingsDialogData::host) - 1;
inline constexpr size_t kMountPointBytes = sizeof(SettingsDialogData::mountPoint) - 1;
inline constexpr size_t kPasswordBytes = sizeof(SettingsDialogData::password) - 1;
inline constexpr size_t kStreamNameBytes = sizeof(SettingsDialogData::streamName) - 1;
inline constexpr size_t kAddressBytes = sizeof(SettingsDialogData::address) - 1;
inline constexpr size_t kRecordFolderBytes = sizeof(SettingsDialogData::recordFolder) - 1;

// Copies at most N - 1 bytes, never cutting a UTF-8 character in two, and terminates.
template <size_t N>
void CopyDialogText(char (&field)[N], const std::string& text)
{
    const std::string_view kept = Utf8Prefix(text, N - 1);
    std::memcpy(field, kept.data(), kept.size());
    field[kept.size()] = '\0';
}

// The text of a field, up to its terminator (or its size when none).
template <size_t N>
std::string DialogText(const char (&field)[N])
{
    return std::string(field, strnlen(field, N));
}
