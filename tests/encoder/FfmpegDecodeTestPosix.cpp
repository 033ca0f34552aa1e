#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "encoder/AacEncoder.h"
#include "encoder/EncoderTestSignals.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"

// What the encoder writes, read back by a real decoder (ffprobe and ffmpeg, which run
// only natively, so these checks live in the Linux build; the shell test covers the
// Windows encoder through the command-line tool).
namespace {

const char* kFfprobe = "/usr/bin/ffprobe";
const char* kFfmpeg = "/usr/bin/ffmpeg";

std::string ProbeValue(const std::string& file, const std::string& entry)
{
    return RunShell(std::string(kFfprobe) + " -v error -select_streams a:0 -show_entries stream=" + entry +
                    " -of default=noprint_wrappers=1:nokey=1 '" + file + "'");
}

struct Decoded {
    int channels = 0;
    std::vector<int16_t> samples; // interleaved
    size_t Frames() const { return channels > 0 ? samples.size() / static_cast<size_t>(channels) : 0; }
};

Decoded DecodeWithFfmpeg(const std::string& file, int channels)
{
    const std::string raw = RunShellRaw(std::string(kFfmpeg) + " -v error -i '" + file + "' -f s16le -acodec pcm_s16le -");
    Decoded d;
    d.channels = channels;
    d.samples.resize(raw.size() / 2);
    std::memcpy(d.samples.data(), raw.data(), d.samples.size() * 2);
    return d;
}

// Power of one frequency in one channel over [from, from + count) frames (Goertzel), in dB.
double ToneDb(const Decoded& d, int channel, size_t from, size_t count, double frequency, double rate)
{
    const double coefficient = 2.0 * std::cos(2.0 * std::numbers::pi * frequency / rate);
    double s1 = 0.0, s2 = 0.0;
    for (size_t i = from; i < from + count && i < d.Frames(); ++i) {
        const double s0 = d.samples[i * static_cast<size_t>(d.channels) + static_cast<size_t>(channel)] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return 10.0 * std::log10(s1 * s1 + s2 * s2 - coefficient * s1 * s2 + 1.0);
}

struct DecodeCase {
    AacProfile encoded;
    uint32_t rate;
    uint16_t channels;
    uint32_t bitrate;
    const char* profile;     // as ffprobe names it
    int decodedChannels;
};

class FfmpegDecodeTest : public testing::TestWithParam<DecodeCase> {
protected:
    void SetUp() override
    {
        if (!FileExists(kFfprobe) || !FileExists(kFfmpeg))
            GTEST_SKIP() << "ffprobe/ffmpeg not installed";
    }
};

TEST_P(FfmpegDecodeTest, DecoderSeesConfiguredStream)
{
    const DecodeCase& p = GetParam();
    const double seconds = 3.0;
    AacEncoder encoder;
    ASSERT_TRUE(encoder.Open(MakeConfig(p.rate, p.channels, p.bitrate, p.encoded)));
    const std::vector<int16_t> pcm = MakeTones(p.rate, p.channels, seconds);
    const std::string stream = EncodeInBlocks(encoder, pcm, 441 * p.channels);
    ASSERT_FALSE(stream.empty());

    TempDir dir;
    const std::string file = dir.File("out.aac");
    WriteFileBytes(file, stream);
    EXPECT_EQ(ProbeValue(file, "codec_name"), "aac");
    EXPECT_EQ(ProbeValue(file, "profile"), p.profile);
    EXPECT_EQ(ProbeValue(file, "sample_rate"), std::to_string(p.rate));
    EXPECT_EQ(ProbeValue(file, "channels"), std::to_string(p.decodedChannels));

    const Decoded decoded = DecodeWithFfmpeg(file, p.decodedChannels);
    const size_t inputFrames = pcm.size() / p.channels;
    // The flush drains the codec delay: everything fed comes out, delay included.
    const size_t delay = encoder.DelayFrames();
    EXPECT_GE(decoded.Frames(), inputFrames + delay);
    EXPECT_LT(decoded.Frames(), inputFrames + delay + 2 * encoder.FrameLength());
    // And the last tenth of a second is the tone, not silence: 20 ms ending 30 ms
    // before the delayed end of the input is as loud as 20 ms from the middle.
    const size_t tail = p.rate / 50;
    const size_t tailFrom = delay + inputFrames - p.rate * 3 / 100 - tail;
    const double tailDb = ToneDb(decoded, 0, tailFrom, tail, 1000.0, p.rate);
    const double middleDb = ToneDb(decoded, 0, p.rate, tail, 1000.0, p.rate);
    EXPECT_GT(tailDb, middleDb - 6.0) << "the end of the recording is missing";

    const double actualBitrate = static_cast<double>(stream.size()) * 8.0 * p.rate / static_cast<double>(decoded.Frames());
    EXPECT_NEAR(actualBitrate, p.bitrate, 0.08 * p.bitrate);

    // One second from the middle: each channel keeps its own tone. Parametric stereo
    // rebuilds the image only approximately, hence a margin of 15 dB.
    const size_t from = p.rate, count = p.rate;
    for (int c = 0; c < p.decodedChannels; ++c) {
        const bool left = c == 0 || p.channels == 1;
        const double wanted = ToneDb(decoded, c, from, count, left ? 1000.0 : 1500.0, p.rate);
        const double other = ToneDb(decoded, c, from, count, left ? 1500.0 : 1000.0, p.rate);
        EXPECT_GT(wanted - other, 15.0) << "channel " << c;
        EXPECT_GT(wanted, 150.0) << "channel " << c << " is nearly silent";
    }
}

// Mono HE-AAC in ADTS cannot say whether parametric stereo follows, so ffmpeg assumes it
// may and decodes two (equal) channels, reporting HE-AACv2.
INSTANTIATE_TEST_SUITE_P(
    Profiles, FfmpegDecodeTest,
    testing::Values(DecodeCase{AacProfile::Lc, 48000, 2, 64000, "LC", 2},
                    DecodeCase{AacProfile::Lc, 44100, 1, 48000, "LC", 1},
                    DecodeCase{AacProfile::Lc, 32000, 2, 96000, "LC", 2},
                    DecodeCase{AacProfile::HeV1, 48000, 2, 64000, "HE-AAC", 2},
                    DecodeCase{AacProfile::HeV1, 44100, 2, 48000, "HE-AAC", 2},
                    DecodeCase{AacProfile::HeV1, 32000, 2, 32000, "HE-AAC", 2},
                    DecodeCase{AacProfile::HeV1, 48000, 1, 32000, "HE-AACv2", 2},
                    DecodeCase{AacProfile::HeV2, 48000, 2, 64000, "HE-AACv2", 2},
                    DecodeCase{AacProfile::HeV2, 44100, 2, 32000, "HE-AACv2", 2},
                    DecodeCase{AacProfile::HeV2, 32000, 2, 24000, "HE-AACv2", 2}));

} // namespace
