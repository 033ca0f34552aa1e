#include <gtest/gtest.h>

#include <limits>

#include "settings/DialogValues.h"
#include "ui/ControlColours.h"

namespace {

// What OK refuses, with the one line it says; what it lets through is stored as split.
TEST(DialogValuesTest, AddressCheckRefusesWhatCannotBeUsed)
{
    const struct {
        std::string text;
        const char* reason; // "" when accepted
    } cases[] = {
        {"127.0.0.1:99999/live", "The port 99999 is out of range (1-65535)."},
        {"h:0/live", "The port 0 is out of range (1-65535)."},
        {"h:123456789012345678901", "The port 123456789012345678901 is out of range (1-65535)."},
        {"h:80a/live", "The port \"80a\" is not a number (1-65535)."},
        {"h:-1", "The port \"-1\" is not a number (1-65535)."},
        {"h:/live", "The port after \":\" is missing (1-65535)."},
        {":8000/live", "The address has no host name (host:port/mount)."},
        {"http:///live", "The address has no host name (host:port/mount)."},
        {"hello world!!", "The host name \"hello world!!\" holds characters a host name cannot hold."},
        {"a:b:8000", "The host name \"a:b\" holds characters a host name cannot hold."},
        {"h\xc3\xa9:8000", "The host name \"h\xc3\xa9\" holds characters a host name cannot hold."},
        {std::string(256, 'h') + ":8000", "The host name is longer than 255 bytes."},
        {"h:8000/" + std::string(127, 'm'), "The mount point is longer than 127 bytes."},
        {"", ""},
        {"radio.example", ""}, // no port: stored as port 0, refused at the start as designed
        {"radio.example/live", ""},
        {"http://my_radio-1.example:65535/live/", ""},
        {"h:1", ""},
        {"[::1]:8000/live", ""},
        {"https://[2001:db8::5]:8443/live", ""},
        {"[::1]", ""},
        {"::1:8000/live", "The host name \"::1\" holds characters a host name cannot hold."},
        {"[radio.example]:8000", "The host name \"[radio.example]\" holds characters a host name cannot hold."},
        {"[::1:8000/live", "The host name \"[::1\" holds characters a host name cannot hold."},
        {"https://radio.example:8443/live", ""},
        {"h:8000/" + std::string(126, 'm'), ""},
    };
    for (const auto& c : cases) {
        std::string reason = "stale";
        EXPECT_EQ(CheckServerAddress(c.text, reason), std::string(c.reason).empty()) << c.text;
        EXPECT_EQ(reason, c.reason) << c.text;
    }
}

// The dots test the transport the stream will take after OK.
TEST(DialogValuesTest, ConnectionTestTakesTheAddressSchemeAndTheStoredCertificates)
{
    SettingsDialogData d;
    ClearDialogData(d);
    CopyDialogText(d.tlsCaFile, "/srv/ca.pem");
    CopyDialogText(d.tlsFingerprint, "ab:cd");
    d.tlsEnabled = true; // what the dialog opened with; the text typed since decides
    const struct {
        const char* text;
        bool enabled;
    } cases[] = {{"https://h:8443/live", true}, {"HTTPS://h:8443/live", true}, {"http://h:8000/live", false},
                 {"h:8000/live", false},       {"", false}};
    for (const auto& c : cases) {
        const TlsOptions tls = ConnectionTestTls(c.text, d);
        EXPECT_EQ(tls.enabled, c.enabled) << c.text;
        EXPECT_EQ(tls.caFile, "/srv/ca.pem");
        EXPECT_EQ(tls.fingerprint, "ab:cd");
    }
}

// A further output: its address cannot be empty, the reason names it; two enabled outputs
// on one mount of one server are refused (host names ignore case), a disabled one is not.
TEST(DialogValuesTest, FurtherOutputAddressesAndSharedMounts)
{
    std::string reason;
    EXPECT_FALSE(CheckOutputAddress(3, "", reason));
    EXPECT_EQ(reason, "Output 3 has no address (host:port/mount).");
    EXPECT_FALSE(CheckOutputAddress(2, "h:0/live", reason));
    EXPECT_EQ(reason, "Output 2: The port 0 is out of range (1-65535).");
    EXPECT_TRUE(CheckOutputAddress(8, "backup.example:8000/live", reason));

    const struct {
        std::vector<OutputTarget> targets;
        size_t shared;
    } cases[] = {
        {{{1, "h:8000/live", true}, {2, "h:8000/hq", true}, {3, "b:8000/live", true}}, 0},
        {{{1, "h:8000/live", true}, {4, "https://H:8000/live/", true}}, 4},
        {{{1, "h:8000/live", true}, {2, "h:8000/live", false}}, 0},
        {{{1, "", true}, {2, "", true}}, 0},
        {{{1, "h:8000/live", true}, {2, "h:8000/Live", true}, {5, "b/x", true}, {6, "b/x", true}}, 6},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SharedTarget(c.targets, reason), c.shared) << c.targets.back().address;
    SharedTarget(cases[1].targets, reason);
    EXPECT_EQ(reason, "Outputs 1 and 4 both send to h:8000/live, a mount that takes one source.");
}

// An output shows its own keys and follows the first output's address for the rest.
TEST(DialogValuesTest, FollowingAddressMixesOwnKeysWithTheFirstOutputs)
{
    DialogOutput o;
    ClearDialogOutput(o);
    CopyDialogText(o.tlsCaFile, "/srv/b.pem");
    EXPECT_EQ(FollowingAddress(o, "https://radio.example:8443/live/"), "https://radio.example:8443/live");
    EXPECT_EQ(ConnectionTestTls("https://b:1/x", o).caFile, "/srv/b.pem");
    o.ownHost = o.ownPort = true;
    CopyDialogText(o.host, "backup.example");
    o.port = 8000;
    EXPECT_EQ(FollowingAddress(o, "radio.example:8005/live"), "backup.example:8000/live");
    o.ownMountPoint = o.ownTls = true;
    CopyDialogText(o.mountPoint, "/hq");
    EXPECT_EQ(FollowingAddress(o, "https://radio.example:8005/live"), "backup.example:8000/hq");
}

TEST(DialogValuesTest, BitrateChoosesProfileRateAndNearestEntry)
{
    struct Case {
        uint32_t kbps;
        uint32_t heVersion;
        uint32_t sampleRate;
        const char* line;
    };
    const Case cases[] = {
        {32, 2, 32000, "HE-AAC v2 (aacPlus v2) @ 32,000 Hz"},
        {48, 2, 44100, "HE-AAC v2 (aacPlus v2) @ 44,100 Hz"},
        {64, 1, 44100, "HE-AAC v1 (aacPlus) @ 44,100 Hz"},
        {96, 1, 44100, "HE-AAC v1 (aacPlus) @ 44,100 Hz"},
        {128, 0, 44100, "AAC-LC @ 44,100 Hz"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HeVersionForBitrate(c.kbps), c.heVersion) << c.kbps;
        EXPECT_EQ(SampleRateForBitrate(c.kbps), c.sampleRate) << c.kbps;
        EXPECT_EQ(FormatLineForBitrate(c.kbps), c.line) << c.kbps;
    }
    EXPECT_EQ(kBitrateChoices[NearestBitrateChoice(70)], 64u);
    EXPECT_EQ(kBitrateChoices[NearestBitrateChoice(56)], 48u); // a tie goes to the first
    EXPECT_EQ(kBitrateChoices[NearestBitrateChoice(0)], 16u);
    EXPECT_EQ(kBitrateChoices[NearestBitrateChoice(5000)], 192u);
    // The other codecs: their own lists, rates and lines; AAC's as above.
    EXPECT_EQ(BitrateChoices(1)[NearestBitrateChoice(1, 128)], 128u);
    EXPECT_EQ(BitrateChoices(1)[NearestBitrateChoice(1, 16)], 32u);
    EXPECT_EQ(BitrateChoices(2)[NearestBitrateChoice(2, 320)], 256u);
    EXPECT_EQ(BitrateChoices(0).size(), kBitrateChoices.size());
    EXPECT_EQ(SampleRateFor(1, 128), 44100u);
    EXPECT_EQ(SampleRateFor(2, 96), 48000u);
    EXPECT_EQ(SampleRateFor(0, 32), 32000u);
    EXPECT_EQ(FormatLineFor(1, 128), "MP3 @ 44,100 Hz");
    EXPECT_EQ(FormatLineFor(2, 96), "Opus @ 48,000 Hz");
    EXPECT_EQ(FormatLineFor(0, 128), "AAC-LC @ 44,100 Hz");
}

// The DSP tab's readout: short-term loudness and true peak to one decimal as the CLI
// prints them, "-" for a figure at silence and alone without a reading.
TEST(DialogValuesTest, LoudnessReadout)
{
    const float inf = -std::numeric_limits<float>::infinity();
    EXPECT_EQ(LoudnessReadout(LoudnessReading{-14.0f, -16.24f, -17.0f, -1.26f, -0.5f}), "-16.2 LUFS | TP -1.3 dBTP");
    EXPECT_EQ(LoudnessReadout(LoudnessReading{inf, inf, inf, inf, inf}), "- LUFS | TP - dBTP");
    EXPECT_EQ(LoudnessReadout(LoudnessReading{-60.0f, -75.0f, -60.0f, -48.0f, -48.0f}), "- LUFS | TP -48.0 dBTP");
    EXPECT_EQ(LoudnessReadout(std::nullopt), "-");
}

TEST(DialogValuesTest, GainSliderSnapsToHalfDecibels)
{
    const int width = 204;
    EXPECT_EQ(GainLabel(GainFromPosition(SliderPositionAt(0, width))), "-6.0 dB");
    EXPECT_EQ(GainLabel(GainFromPosition(SliderPositionAt(width / 2, width))), "+0.0 dB");
    EXPECT_EQ(GainLabel(GainFromPosition(SliderPositionAt(width, width))), "+6.0 dB");
    struct Case {
        double db;
        float snapped;
    };
    const Case cases[] = {{0.8, 0.0f}, {-0.8, 0.0f}, {1.2, 1.0f}, {1.3, 1.5f}, {-1.3, -1.5f}, {5.9, 6.0f}};
    for (const Case& c : cases)
        EXPECT_EQ(GainFromPosition((c.db + 6.0) / 12.0), c.snapped) << c.db;
    EXPECT_EQ(SliderKnobX(GainPosition(0.0f), width), 102);
}

TEST(DialogValuesTest, AgcAndCompressorLabels)
{
    EXPECT_EQ(AgcSpeedLabel(AgcSpeedFromPosition(0.0)), "5.00s");
    EXPECT_EQ(AgcSpeedLabel(AgcSpeedFromPosition(1.0)), "1.00s");
    EXPECT_EQ(AgcSpeedLabel(0.0005), AgcSpeedLabel(0.001)); // speeds below 0.001 count as 0.001
    EXPECT_EQ(FourDecimals(AgcSpeedFromPosition(0.0)), "0.0020");
    EXPECT_EQ(CompressorLabel(0.0), "300 ms");
    EXPECT_EQ(CompressorLabel(1.0), "50 ms");
    const CompressorSetting soft = CompressorFromStrength(0.0);
    EXPECT_EQ(OneDecimal(soft.threshDb) + " " + OneDecimal(soft.ratio) + " " + OneDecimal(soft.makeupDb),
              "-10.0 1.3 1.7");
    const CompressorSetting hard = CompressorFromStrength(1.0);
    EXPECT_EQ(OneDecimal(hard.threshDb) + " " + OneDecimal(hard.ratio) + " " + OneDecimal(hard.makeupDb),
              "-30.0 4.0 15.8");
    EXPECT_DOUBLE_EQ(CompressorStrength(-12.0f), 0.1);
    EXPECT_DOUBLE_EQ(CompressorStrength(0.0f), 0.0);
    EXPECT_DOUBLE_EQ(CompressorStrength(-50.0f), 1.0);
}

TEST(ControlColoursTest, GradientsMeetTheirStopsAtSegmentBorders)
{
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Spectrum(i * 0.25), colours::kSpectrum[i]) << i;
        EXPECT_EQ(Reverse(i * 0.25), colours::kReverse[i]) << i;
    }
    EXPECT_EQ(Spectrum(-1.0), colours::kSpectrum[0]);
    EXPECT_EQ(Spectrum(2.0), colours::kSpectrum[4]);
    EXPECT_EQ(Lerp({0, 0, 0}, {255, 100, 10}, 0.5), (Rgb{127, 50, 5}));
    EXPECT_EQ(Lerp({200, 0, 0}, {0, 0, 0}, 0.5), (Rgb{100, 0, 0}));
}

TEST(ControlColoursTest, ActivityAndMeterColours)
{
    EXPECT_EQ(ActivityColour(0.5, false), (Rgb{60, 64, 74}));
    EXPECT_EQ(ActivityColour(0.0099, true), (Rgb{60, 70, 60}));
    EXPECT_EQ(ActivityColour(0.01, true), (Rgb{0, 162, 0}));
    EXPECT_EQ(ActivityColour(0.33, true), (Rgb{0, 255, 0}));
    EXPECT_EQ(ActivityColour(0.66, true), (Rgb{255, 255, 0}));
    EXPECT_EQ(ActivityColour(1.0, true), (Rgb{255, 0, 0}));
    EXPECT_EQ(ActivityColour(3.0, true), (Rgb{255, 0, 0}));

    EXPECT_EQ(LitMeterDots(0.5), 4);
    EXPECT_EQ(LitMeterDots(1.0), 9);
    EXPECT_EQ(LitMeterDots(7.0), 9);
    const int bands[9] = {0, 0, 0, 0, 0, 1, 1, 2, 3};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(MeterBand(i), bands[i]) << i;
    EXPECT_EQ(DotColour(2), (Rgb{34, 197, 94}));
    EXPECT_EQ(DotColour(1), (Rgb{239, 68, 68}));
    EXPECT_EQ(DotColour(-1), (Rgb{80, 85, 95}));
}

} // namespace
