#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "audio/LoudnessMeter.h"
// The address edit's text is stored as SplitServerAddress reads it.
#include "icecast/IcecastConfig.h"
#include "icecast/ServerAddress.h"
#include "settings/SettingsDialogData.h"

// Value rules of the settings dialog's controls, apart from any window.


// Whether OK may store the address edit's text; when not, reason says why in one line.
// Refused: text without a host, a port that is not a number in 1..65535, and a host
// with characters no host name holds (an IPv6 address must be in brackets). Accepted:
// an empty text (no server yet) and an address without a port, stored with port 0 as
// always, which the start then refuses with the usual "Check your Icecast server
// configuration." line.
bool CheckServerAddress(const std::string& text, std::string& reason);

// The transport the connection test uses for the address edit's text, the one the stream
// will use after OK: TLS with "https://", verified with the record's CA file and
// fingerprint, or with a further output's.
TlsOptions ConnectionTestTls(const std::string& addressText, const SettingsDialogData& data);
TlsOptions ConnectionTestTls(const std::string& addressText, const DialogOutput& output);

// The same check for a further output's address (number 2 to 8), which cannot be empty;
// the reason names the output.
bool CheckOutputAddress(size_t number, const std::string& text, std::string& reason);

// An output's address edit text and whether it streams; number 1 is the first output.
struct OutputTarget {
    size_t number;
    std::string address;
    bool enabled;
};
// The number of an enabled output that sends to the same mount of the same server as an
// earlier one (a mount takes a single source), reason naming both; 0 when there is none.
size_t SharedTarget(const std::vector<OutputTarget>& targets, std::string& reason);

// The address a further output streams to while the user has not edited its field: the
// keys its section holds, the rest from the first output's address text as it stands.
std::string FollowingAddress(const DialogOutput& output, const std::string& firstAddress);

// The bitrate choices in kbit/s, in list order.
inline constexpr std::array<uint32_t, 11> kBitrateChoices = {16, 24, 32, 40, 48, 64, 80, 96, 128, 160, 192};
// Position of the choice nearest to kbps (the first one on a tie).
size_t NearestBitrateChoice(uint32_t kbps);
// 2 up to 48 kbit/s, 1 up to 96, else 0.
uint32_t HeVersionForBitrate(uint32_t kbps);
// 32000 up to 32 kbit/s, else 44100.
uint32_t SampleRateForBitrate(uint32_t kbps);
// "HE-AAC v1 (aacPlus) @ 44,100 Hz" and the like.
std::string FormatLineForBitrate(uint32_t kbps);

// The AUDIO tab's codec choice, in list order and as SettingsDialogData::codec numbers
// it: 0 AAC, 1 MP3, 2 Opus.
inline constexpr std::array<const char*, 3> kCodecChoices = {"AAC", "MP3", "Opus"};
// The bitrate choices in kbit/s a codec offers: AAC kBitrateChoices, MP3 its standard
// rates, Opus 16 to 256.
inline constexpr std::array<uint32_t, 10> kMp3BitrateChoices = {32, 48, 64, 96, 112, 128, 160, 192, 256, 320};
inline constexpr std::array<uint32_t, 10> kOpusBitrateChoices = {16, 24, 32, 48, 64, 96, 128, 160, 192, 256};
std::vector<uint32_t> BitrateChoices(uint32_t codec);
// Position of the choice of codec nearest to kbps (the first one on a tie).
size_t NearestBitrateChoice(uint32_t codec, uint32_t kbps);
// The stream rate the dialog stores for a codec's bitrate: AAC SampleRateForBitrate,
// MP3 44100, Opus 48000.
uint32_t SampleRateFor(uint32_t codec, uint32_t kbps);
// The format line: AAC FormatLineForBitrate, "MP3 @ 44,100 Hz", "Opus @ 48,000 Hz".
std::string FormatLineFor(uint32_t codec, uint32_t kbps);

// Slider geometry over a client width: the track runs from x 9 to width - 9.
double SliderPositionAt(int x, int width);
int SliderKnobX(double position, int width);

// Gain slider: -6 ... +6 dB in half-dB steps, snapped to 0 within one dB of it.
float GainFromPosition(double position);
double GainPosition(float gainDb);
std::string GainLabel(float gainDb); // "%+.1f dB"

// AGC speed slider: 0.002 ... 0.00995 per block.
inline constexpr double kAgcSpeedMin = 0.002;
inline constexpr double kAgcSpeedMax = 0.00995;
double AgcSpeedFromPosition(double position);
double AgcSpeedPosition(double speed);
std::string AgcSpeedLabel(double speed); // time constant, "%.2fs": 5.00s slow, 1.00s fast

// Compressor slider: one strength c in 0 ... 1 sets threshold, ratio and make-up.
struct CompressorSetting {
    float threshDb;
    float ratio;
    float makeupDb;
};
CompressorSetting CompressorFromStrength(double strength);
double CompressorStrength(float threshDb);
std::string CompressorLabel(double strength); // attack + release time, "%.0f ms"

// The DSP tab's loudness readout: "-16.2 LUFS | TP -1.3 dBTP" (short-term loudness and
// true peak over the last 3 s), "-" for a figure that measures silence, and "-" alone
// without a reading.
std::string LoudnessReadout(const std::optional<LoudnessReading>& reading);

// Texts of the hidden value edits.
std::string OneDecimal(double value);  // "%.1f"
std::string FourDecimals(double value); // "%.4f"
