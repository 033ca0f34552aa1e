#include "settings/DialogValues.h"

#include "settings/SettingsDialogData.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

namespace {

bool HostNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_';
}

// A host name, or an IPv6 address in brackets (hex digits, colons, and dots of an
// embedded IPv4 address). A colon outside brackets would be read as the port's.
bool HostCharactersAllowed(const ServerAddress& address)
{
    const std::string& host = address.host;
    if (address.bracketed) {
        const auto v6 = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.'; };
        return host.find(':') != std::string::npos && std::all_of(host.begin(), host.end(), v6);
    }
    return std::all_of(host.begin(), host.end(), HostNameCharacter);
}

} // namespace

bool CheckServerAddress(const std::string& text, std::string& reason)
{
    reason.clear();
    if (text.empty())
        return true;
    const ServerAddress address = SplitServerAddress(text);
    if (address.host.empty()) {
        reason = "The address has no host name (host:port/mount).";
        return false;
    }
    if (!HostCharactersAllowed(address)) {
        const std::string shown = address.bracketed ? "[" + address.host + "]" : address.host;
        reason = "The host name \"" + shown + "\" holds characters a host name cannot hold.";
        return false;
    }
    if (address.host.size() > kHostBytes || address.mountPoint.size() > kMountPointBytes) {
        reason = address.host.size() > kHostBytes
                     ? "The host name is longer than " + std::to_string(kHostBytes) + " bytes."
                     : "The mount point is longer than " + std::to_string(kMountPointBytes) + " bytes.";
        return false;
    }
    if (!address.hasPort)
        return true;
    const std::string& port = address.portText;
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    const bool digits = !port.empty() && std::all_of(port.begin(), port.end(), isDigit);
    if (!digits) {
        reason = port.empty() ? "The port after \":\" is missing (1-65535)."
                              : "The port \"" + port + "\" is not a number (1-65535).";
        return false;
    }
    const bool inRange = port.size() <= 5 && std::stoi(port) >= 1 && std::stoi(port) <= 65535;
    if (!inRange) {
        reason = "The port " + port + " is out of range (1-65535).";
        return false;
    }
    return true;
}

namespace {

// The TLS options of a connection test: TLS as the address says, the certificates kept
// in the record or the output (both have tlsCaFile and tlsFingerprint).
template <class Holder>
TlsOptions TestTls(const std::string& addressText, const Holder& holder)
{
    TlsOptions tls;
    tls.enabled = SplitServerAddress(addressText).secure;
    tls.caFile = DialogText(holder.tlsCaFile);
    tls.fingerprint = DialogText(holder.tlsFingerprint);
    return tls;
}

} // namespace

TlsOptions ConnectionTestTls(const std::string& addressText, const SettingsDialogData& data)
{
    return TestTls(addressText, data);
}

TlsOptions ConnectionTestTls(const std::string& addressText, const DialogOutput& output)
{
    return TestTls(addressText, output);
}

bool CheckOutputAddress(size_t number, const std::string& text, std::string& reason)
{
    const std::string name = "Output " + std::to_string(number);
    if (text.empty()) {
        reason = name + " has no address (host:port/mount).";
        return false;
    }
    if (CheckServerAddress(text, reason))
        return true;
    reason = name + ": " + reason;
    return false;
}

size_t SharedTarget(const std::vector<OutputTarget>& targets, std::string& reason)
{
    reason.clear();
    const auto same = [](const ServerAddress& a, const ServerAddress& b) {
        const auto lower = [](std::string text) {
            std::transform(text.begin(), text.end(), text.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            return text;
        };
        // Host names ignore case; mount points do not.
        return lower(a.host) == lower(b.host) && a.port == b.port && a.mountPoint == b.mountPoint;
    };
    for (size_t i = 0; i < targets.size(); ++i) {
        const ServerAddress a = SplitServerAddress(targets[i].address);
        if (!targets[i].enabled || a.host.empty())
            continue;
        for (size_t j = i + 1; j < targets.size(); ++j) {
            if (!targets[j].enabled || !same(a, SplitServerAddress(targets[j].address)))
                continue;
            reason = "Outputs " + std::to_string(targets[i].number) + " and " + std::to_string(targets[j].number) +
                     " both send to " + CombineServerAddress(a.host, a.port, a.mountPoint) +
                     ", a mount that takes one source.";
            return targets[j].number;
        }
    }
    return 0;
}

std::string FollowingAddress(const DialogOutput& output, const std::string& firstAddress)
{
    const ServerAddress first = SplitServerAddress(firstAddress);
    const std::string host = output.ownHost ? DialogText(output.host) : first.host;
    const uint32_t port = output.ownPort ? output.port : first.port;
    const std::string mount = output.ownMountPoint ? DialogText(output.mountPoint) : first.mountPoint;
    const bool secure = output.ownTls ? output.tlsEnabled : first.secure;
    return CombineServerAddress(host, port, mount, secure);
}

size_t NearestBitrateChoice(uint32_t kbps)
{
    size_t best = 0;
    for (size_t i = 1; i < kBitrateChoices.size(); ++i) {
        const int64_t distance = std::llabs(int64_t{kBitrateChoices[i]} - kbps);
        if (distance < std::llabs(int64_t{kBitrateChoices[best]} - kbps))
            best = i;
    }
    return best;
}

uint32_t HeVersionForBitrate(uint32_t kbps)
{
    if (kbps <= 48)
        return 2;
    return kbps <= 96 ? 1 : 0;
}

uint32_t SampleRateForBitrate(uint32_t kbps)
{
    return kbps > 32 ? 44100 : 32000;
}

std::string FormatLineForBitrate(uint32_t kbps)
{
    const char* codec = "AAC-LC";
    if (kbps <= 48)
        codec = "HE-AAC v2 (aacPlus v2)";
    else if (kbps <= 96)
        codec = "HE-AAC v1 (aacPlus)";
    return std::string(codec) + " @ " + (kbps < 33 ? "32,000 Hz" : "44,100 Hz");
}

std::vector<uint32_t> BitrateChoices(uint32_t codec)
{
    if (codec == 1)
        return {kMp3BitrateChoices.begin(), kMp3BitrateChoices.end()};
    if (codec == 2)
        return {kOpusBitrateChoices.begin(), kOpusBitrateChoices.end()};
    return {kBitrateChoices.begin(), kBitrateChoices.end()};
}

size_t NearestBitrateChoice(uint32_t codec, uint32_t kbps)
{
    const std::vector<uint32_t> choices = BitrateChoices(codec);
    size_t best = 0;
    for (size_t i = 1; i < choices.size(); ++i) {
        if (std::llabs(int64_t{choices[i]} - kbps) < std::llabs(int64_t{choices[best]} - kbps))
            best = i;
    }
    return best;
}

uint32_t SampleRateFor(uint32_t codec, uint32_t kbps)
{
    if (codec == 1)
        return 44100;
    if (codec == 2)
        return 48000;
    return SampleRateForBitrate(kbps);
}

std::string FormatLineFor(uint32_t codec, uint32_t kbps)
{
    if (codec == 1)
        return "MP3 @ 44,100 Hz";
    if (codec == 2)
        return "Opus @ 48,000 Hz";
    return FormatLineForBitrate(kbps);
}

double SliderPositionAt(int x, int width)
{
    if (width <= 18)
        return 0.0;
    return std::clamp(static_cast<double>(x - 9) / (width - 18), 0.0, 1.0);
}

int SliderKnobX(double position, int width)
{
    return static_cast<int>(position * (width - 18)) + 9;
}

float GainFromPosition(double position)
{
    double g = 12.0 * position - 6.0;
    if (g > -1.0 && g < 1.0)
        g = 0.0;
    const double sign = g > 0.0 ? 1.0 : (g < 0.0 ? -1.0 : 0.0);
    g = std::trunc(2.0 * g + 0.5 * sign) * 0.5;
    return static_cast<float>(std::clamp(g, -6.0, 6.0));
}

double GainPosition(float gainDb)
{
    return (gainDb + 6.0) / 12.0;
}

std::string GainLabel(float gainDb)
{
    return Format("%+.1f dB", gainDb);
}

double AgcSpeedFromPosition(double position)
{
    const double s = 0.002 + 0.00795 * std::clamp(position, 0.0, 1.0);
    return std::clamp(s, kAgcSpeedMin, kAgcSpeedMax);
}

double AgcSpeedPosition(double speed)
{
    return (speed - 0.002) / 0.00795;
}

std::string AgcSpeedLabel(double speed)
{
    // In single precision, as the speed is stored: the slow end then reads 5.00s (the
    // exact time constant, 4.995 s, would round to 4.99s).
    const float s = std::max(static_cast<float>(speed), 0.001f);
    const float seconds = -10.0f / std::log(1.0f - s) / 1000.0f;
    return Format("%.2fs", seconds);
}

CompressorSetting CompressorFromStrength(double strength)
{
    const double c = std::clamp(strength, 0.0, 1.0);
    const double ratio = 1.33 + 2.67 * c;
    return {static_cast<float>(-10.0 - 20.0 * c), static_cast<float>(ratio),
            static_cast<float>((1.0 - 1.0 / ratio) * (10.0 + 20.0 * c) * 0.7)};
}

double CompressorStrength(float threshDb)
{
    return std::clamp((threshDb + 10.0) / -20.0, 0.0, 1.0);
}

std::string CompressorLabel(double strength)
{
    return Format("%.0f ms", 300.0 - 250.0 * strength);
}

std::string LoudnessReadout(const std::optional<LoudnessReading>& reading)
{
    if (!reading)
        return "-";
    auto figure = [](float value) {
        const std::string text = FormatLoudness(value);
        return text == "-inf" ? std::string("-") : text;
    };
    return figure(reading->shortTermLufs) + " LUFS | TP " + figure(reading->truePeakDb) + " dBTP";
}

std::string OneDecimal(double value)
{
    return Format("%.1f", value);
}

std::string FourDecimals(double value)
{
    return Format("%.4f", value);
}
