#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

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
    char address[512]; // "host:port/mount" as shown in the address edit
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
    bool previewEnabled;
    int32_t previewOutputDevice;
};

// Every byte zero, padding included, so that two records compare with memcmp.
inline void ClearDialogData(SettingsDialogData& data)
{
    std::memset(&data, 0, sizeof data);
}

// Copies at most N - 1 bytes and terminates.
template <size_t N>
void CopyDialogText(char (&field)[N], const std::string& text)
{
    const size_t n = text.size() < N - 1 ? text.size() : N - 1;
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

// The text of a field, up to its terminator (or its size when none).
template <size_t N>
std::string DialogText(const char (&field)[N])
{
    return std::string(field, strnlen(field, N));
}
