#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Platform.h"
#include "encoder/AacEncoder.h"
#include "encoder/EncoderTestSignals.h"

namespace {

struct ProfileCase {
    AacProfile profile;
    uint32_t rate;
    uint16_t channels;
    uint32_t frameLength;   // input samples per channel per frame
    int frequencyIndex;     // ADTS: the core rate (half the stream rate with SBR)
    int channelConfig;      // ADTS: 1 for the mono core of parametric stereo
};

class AacEncoderProfileTest : public testing::TestWithParam<ProfileCase> {};

// Every sink call is exactly one ADTS frame without CRC, the frames lie back to back,
// and their headers carry the profile's core rate and channel layout.
TEST_P(AacEncoderProfileTest, HandsOutWholeAdtsFrames)
{
    const ProfileCase& p = GetParam();
    AacEncoder encoder;
    ASSERT_TRUE(encoder.Open(MakeConfig(p.rate, p.channels, 48000, p.profile)));
    EXPECT_EQ(encoder.FrameLength(), p.frameLength);
    EXPECT_GT(encoder.MaxOutBytes(), 0u);

    const std::vector<int16_t> pcm = MakeTones(p.rate, p.channels, 1.0);
    CollectedFrames out;
    ASSERT_TRUE(encoder.Encode(pcm.data(), pcm.size() * sizeof(int16_t), out.Sink()));
    encoder.Flush(out.Sink());

    const size_t frameSamples = size_t{p.frameLength} * p.channels;
    // Every sample fed plus the codec delay, in whole frames.
    const size_t fed = (pcm.size() + frameSamples - 1) / frameSamples * p.frameLength;
    EXPECT_EQ(out.frames.size(), (fed + encoder.DelayFrames() + p.frameLength - 1) / p.frameLength);
    for (const std::string& frame : out.frames) {
        const AdtsHeader h = ParseAdts(frame, 0);
        ASSERT_TRUE(h.valid);
        EXPECT_EQ(h.frameLength, frame.size());
        EXPECT_TRUE(h.protectionAbsent);
        EXPECT_EQ(h.profile, 1); // AAC-LC core; SBR and PS are signalled inside the payload
        EXPECT_EQ(h.frequencyIndex, p.frequencyIndex);
        EXPECT_EQ(h.channelConfig, p.channelConfig);
    }
}

INSTANTIATE_TEST_SUITE_P(Profiles, AacEncoderProfileTest,
                         testing::Values(ProfileCase{AacProfile::Lc, 48000, 2, 1024, 3, 2},
                                         ProfileCase{AacProfile::Lc, 44100, 1, 1024, 4, 1},
                                         ProfileCase{AacProfile::Lc, 32000, 2, 1024, 5, 2},
                                         ProfileCase{AacProfile::HeV1, 48000, 2, 2048, 6, 2},
                                         ProfileCase{AacProfile::HeV1, 32000, 1, 2048, 8, 1},
                                         ProfileCase{AacProfile::HeV2, 44100, 2, 2048, 7, 1},
                                         ProfileCase{AacProfile::HeV2, 48000, 2, 2048, 6, 1}));

// Frame boundaries come from the encoder, not from the callers' block sizes: any
// split of the same input, odd ones included, gives the same bytes.
TEST(AacEncoderTest, OutputDoesNotDependOnBlockSizes)
{
    for (AacProfile profile : {AacProfile::Lc, AacProfile::HeV1, AacProfile::HeV2}) {
        SCOPED_TRACE(ProfileName(profile));
        const EncoderConfig config = MakeConfig(44100, 2, 64000, profile);
        const std::vector<int16_t> pcm = MakeTones(44100, 2, 0.5);
        std::string reference;
        for (size_t block : {pcm.size(), size_t{1}, size_t{127}, size_t{4095}, size_t{10000}}) {
            AacEncoder encoder;
            ASSERT_TRUE(encoder.Open(config));
            const std::string stream = EncodeInBlocks(encoder, pcm, block);
            ASSERT_FALSE(stream.empty());
            if (reference.empty())
                reference = stream;
            else
                EXPECT_EQ(stream, reference) << "block of " << block << " samples";
        }
    }
}

// A trailing odd byte is not a sample: 2n + 1 bytes take exactly n samples.
TEST(AacEncoderTest, OddByteCountsIgnoreTheLastByte)
{
    const EncoderConfig config = MakeConfig(48000, 2, 64000, AacProfile::Lc);
    const std::vector<int16_t> pcm = MakeTones(48000, 2, 0.3);
    AacEncoder even;
    ASSERT_TRUE(even.Open(config));
    const std::string expected = EncodeInBlocks(even, pcm, 333);

    AacEncoder odd;
    ASSERT_TRUE(odd.Open(config));
    CollectedFrames out;
    for (size_t at = 0; at < pcm.size(); at += 333) {
        const size_t n = std::min<size_t>(333, pcm.size() - at);
        ASSERT_TRUE(odd.Encode(pcm.data() + at, n * 2 + 1, out.Sink()));
        EXPECT_EQ(odd.BufferedSamples(), (at + n) % (2 * 1024));
    }
    odd.Flush(out.Sink());
    EXPECT_EQ(out.Joined(), expected);
}

TEST(AacEncoderTest, SmallBlocksWaitAndLargeBlocksYieldOneFramePerFrame)
{
    for (AacProfile profile : {AacProfile::Lc, AacProfile::HeV1}) {
        SCOPED_TRACE(ProfileName(profile));
        AacEncoder encoder;
        ASSERT_TRUE(encoder.Open(MakeConfig(48000, 2, 64000, profile)));
        const size_t frameSamples = size_t{encoder.FrameLength()} * 2;
        const std::vector<int16_t> pcm = MakeTones(48000, 2, 1.0);

        CollectedFrames out;
        ASSERT_TRUE(encoder.Encode(pcm.data(), (frameSamples - 2) * 2, out.Sink()));
        EXPECT_TRUE(out.frames.empty());
        EXPECT_EQ(encoder.BufferedSamples(), frameSamples - 2);

        // Completes the first frame, then three more, and leaves half a frame behind.
        const size_t next = 2 + 3 * frameSamples + frameSamples / 2;
        ASSERT_TRUE(encoder.Encode(pcm.data() + frameSamples - 2, next * 2, out.Sink()));
        EXPECT_EQ(out.frames.size(), 4u);
        EXPECT_EQ(encoder.BufferedSamples(), frameSamples / 2);
    }
}

TEST(AacEncoderTest, FlushPadsThePartialFrameAndEndsTheStream)
{
    AacEncoder encoder;
    ASSERT_TRUE(encoder.Open(MakeConfig(44100, 1, 48000, AacProfile::Lc)));
    CollectedFrames out;
    encoder.Flush(out.Sink());
    EXPECT_TRUE(out.frames.empty()) << "nothing fed, nothing to flush";

    const std::vector<int16_t> pcm = MakeTones(44100, 1, 0.1);
    ASSERT_TRUE(encoder.Encode(pcm.data(), 2148 * 2, out.Sink()));
    const size_t whole = out.frames.size();
    encoder.Flush(out.Sink());
    EXPECT_GT(out.frames.size(), whole);
    EXPECT_EQ(encoder.BufferedSamples(), 0u);
    for (const std::string& frame : out.frames)
        EXPECT_TRUE(ParseAdts(frame, 0).valid);
    const size_t flushed = out.frames.size();
    encoder.Flush(out.Sink());
    EXPECT_EQ(out.frames.size(), flushed) << "a second flush has nothing left";
    EXPECT_FALSE(encoder.Encode(pcm.data(), 100 * 2, out.Sink())) << "the stream has ended";
}

// Flush drains the library's look-ahead: the frames handed out cover every sample fed
// plus the codec delay, so the last 27 ms (AAC-LC) to 101 ms (HE-AAC v2) are not lost.
TEST(AacEncoderTest, FlushDeliversTheWholeDelayLine)
{
    for (AacProfile profile : {AacProfile::Lc, AacProfile::HeV1, AacProfile::HeV2}) {
        for (size_t inputFrames : {size_t{44100}, size_t{44100 + 700}}) {
            SCOPED_TRACE(testing::Message() << ProfileName(profile) << ", " << inputFrames << " frames");
            AacEncoder encoder;
            ASSERT_TRUE(encoder.Open(MakeConfig(44100, 2, 64000, profile)));
            ASSERT_GT(encoder.DelayFrames(), 0u);
            std::vector<int16_t> pcm = MakeTones(44100, 2, 1.1);
            pcm.resize(inputFrames * 2);
            CollectedFrames out;
            ASSERT_TRUE(encoder.Encode(pcm.data(), pcm.size() * 2, out.Sink()));
            encoder.Flush(out.Sink());
            const size_t covered = out.frames.size() * encoder.FrameLength();
            EXPECT_GE(covered, inputFrames + encoder.DelayFrames());
            EXPECT_LT(covered, inputFrames + encoder.DelayFrames() + 2 * encoder.FrameLength());
        }
    }
}

TEST(AacEncoderTest, SecondOpenIsRefusedAndChangesNothing)
{
    AacEncoder encoder;
    ASSERT_TRUE(encoder.Open(MakeConfig(48000, 2, 64000, AacProfile::HeV1)));
    const std::vector<int16_t> pcm = MakeTones(48000, 2, 0.1);
    CollectedFrames out;
    ASSERT_TRUE(encoder.Encode(pcm.data(), 1000 * 2, out.Sink()));

    EXPECT_FALSE(encoder.Open(MakeConfig(44100, 1, 32000, AacProfile::Lc)));
    EXPECT_EQ(encoder.LastError(), "The encoder is already open");
    EXPECT_TRUE(encoder.IsOpen());
    EXPECT_EQ(encoder.Config().sampleRate, 48000u);
    EXPECT_EQ(encoder.Config().profile, AacProfile::HeV1);
    EXPECT_EQ(encoder.FrameLength(), 2048u);
    EXPECT_EQ(encoder.BufferedSamples(), 1000u);
    ASSERT_TRUE(encoder.Encode(pcm.data() + 1000, 4096 * 2, out.Sink()));
    EXPECT_EQ(out.frames.size(), 1u);
    EXPECT_EQ(encoder.BufferedSamples(), 1000u);
}

TEST(AacEncoderTest, EncodeRefusesClosedEncoderAndEmptyInput)
{
    const std::vector<int16_t> pcm = MakeTones(48000, 2, 0.1);
    int calls = 0;
    const FrameSink sink = [&calls](const uint8_t*, uint64_t) { ++calls; };

    AacEncoder encoder;
    EXPECT_FALSE(encoder.Encode(pcm.data(), pcm.size() * 2, sink));
    encoder.Flush(sink);

    ASSERT_TRUE(encoder.Open(MakeConfig(48000, 2, 64000, AacProfile::Lc)));
    ASSERT_TRUE(encoder.Encode(pcm.data(), 10 * 2, sink));
    EXPECT_FALSE(encoder.Encode(nullptr, 4096, sink));
    EXPECT_FALSE(encoder.Encode(pcm.data(), 0, sink));
    EXPECT_EQ(encoder.BufferedSamples(), 10u);

    encoder.Close();
    EXPECT_FALSE(encoder.IsOpen());
    EXPECT_FALSE(encoder.Encode(pcm.data(), pcm.size() * 2, sink));
    encoder.Flush(sink);
    encoder.Close();
    EXPECT_EQ(calls, 0);

    // Closed, it opens again with another profile.
    ASSERT_TRUE(encoder.Open(MakeConfig(32000, 1, 32000, AacProfile::HeV1)));
    EXPECT_EQ(encoder.FrameLength(), 2048u);
}

// A channel count other than 1 is encoded as stereo, also 0 (no frame of zero samples).
TEST(AacEncoderTest, ChannelCountZeroIsEncodedAsStereo)
{
    AacEncoder encoder;
    ASSERT_TRUE(encoder.Open(MakeConfig(48000, 0, 64000, AacProfile::Lc)));
    const std::vector<int16_t> pcm = MakeTones(48000, 2, 0.2);
    CollectedFrames out;
    ASSERT_TRUE(encoder.Encode(pcm.data(), pcm.size() * 2, out.Sink()));
    EXPECT_EQ(out.frames.size(), pcm.size() / 2048);
    EXPECT_EQ(ParseAdts(out.frames.front(), 0).channelConfig, 2);
}

// Opens encoder with config; log receives what Open wrote to the log (POSIX builds only:
// elsewhere it stays empty and the callers skip their log checks).
bool OpenLogged(AacEncoder& encoder, const EncoderConfig& config, std::string& log)
{
#if KV_OS_POSIX
    testing::internal::CaptureStderr();
    const bool opened = encoder.Open(config);
    log = testing::internal::GetCapturedStderr();
    return opened;
#else
    log.clear();
    return encoder.Open(config);
#endif
}

struct RefusedCase {
    const char* name;
    EncoderConfig config;
    const char* logLine; // the last line Open writes
    const char* reason;  // LastError
};

// Configurations the library refuses end Open cleanly: closed, nothing encodes, and a
// good configuration opens afterwards.
TEST(AacEncoderTest, RefusedConfigurationsFailCleanly)
{
    const RefusedCase cases[] = {
        {"unsupported rate", MakeConfig(7000, 2, 64000, AacProfile::Lc), "[Encoder] SAMPLERATE failed: 35\n",
         "SAMPLERATE 7000 refused: AACENC_INVALID_CONFIG (35)"},
        {"unsupported rate, HE-AAC asked", MakeConfig(7000, 2, 64000, AacProfile::HeV1),
         "[Encoder] SAMPLERATE failed: 35\n",
         "SAMPLERATE 7000 refused: AACENC_INVALID_CONFIG (35)"},
        {"more than eight channels", MakeConfig(48000, 9, 64000, AacProfile::Lc), "[Encoder] aacEncOpen failed: 35\n",
         "aacEncOpen with 9 channels refused: AACENC_INVALID_CONFIG (35)"},
    };
    for (const RefusedCase& c : cases) {
        SCOPED_TRACE(c.name);
        AacEncoder encoder;
        std::string log;
        EXPECT_FALSE(OpenLogged(encoder, c.config, log));
#if KV_OS_POSIX
        ASSERT_GE(log.size(), std::string(c.logLine).size());
        EXPECT_EQ(log.substr(log.size() - std::string(c.logLine).size()), c.logLine) << log;
#endif
        EXPECT_EQ(encoder.LastError(), c.reason);
        EXPECT_FALSE(encoder.IsOpen());
        const std::vector<int16_t> pcm(4096);
        EXPECT_FALSE(encoder.Encode(pcm.data(), pcm.size() * 2, FrameSink()));
        ASSERT_TRUE(encoder.Open(MakeConfig(48000, 2, 64000, AacProfile::HeV1)));
        EXPECT_EQ(encoder.LastError(), "");
    }
}

struct FallbackCase {
    const char* name;
    EncoderConfig config;
    AacProfile activeProfile;
    int channelConfig; // ADTS
    const char* logLine;
};

// An HE profile refused at any step of Open still goes on air: a mono stream asked
// for HE-AAC v2 runs as HE-AAC v1, any other refusal as AAC-LC, each with a log line.
TEST(AacEncoderTest, RefusedHeProfilesFallBack)
{
    const FallbackCase cases[] = {
        {"parametric stereo on one channel", MakeConfig(48000, 1, 32000, AacProfile::HeV2), AacProfile::HeV1, 1,
         "[Encoder] HE-AAC v2 needs two channels, using HE-AAC v1 for this mono stream\n"},
        {"no SBR at 8 kHz", MakeConfig(8000, 2, 24000, AacProfile::HeV1), AacProfile::Lc, 2,
         "[Encoder] HE-AAC v1 refused, falling back to AAC-LC\n"},
        {"no parametric stereo at 8 kHz", MakeConfig(8000, 2, 16000, AacProfile::HeV2), AacProfile::Lc, 2,
         "[Encoder] HE-AAC v2 refused, falling back to AAC-LC\n"},
    };
    for (const FallbackCase& c : cases) {
        SCOPED_TRACE(c.name);
        AacEncoder encoder;
        std::string log;
        ASSERT_TRUE(OpenLogged(encoder, c.config, log));
#if KV_OS_POSIX
        EXPECT_NE(log.find(c.logLine), std::string::npos) << log;
#endif
        EXPECT_EQ(encoder.LastError(), "") << "the refused HE attempt is not the outcome";
        EXPECT_EQ(encoder.ActiveProfile(), c.activeProfile);
        const std::vector<int16_t> pcm = MakeTones(c.config.sampleRate, c.config.channels, 1.0);
        CollectedFrames out;
        ASSERT_TRUE(encoder.Encode(pcm.data(), pcm.size() * 2, out.Sink()));
        encoder.Flush(out.Sink());
        ASSERT_FALSE(out.frames.empty());
        EXPECT_EQ(ParseAdts(out.frames.front(), 0).channelConfig, c.channelConfig);
    }
}

// Every bitrate the settings dialog offers, stereo and mono, with the profile and rate
// it stores for that bitrate (HE-AAC v2 up to 48 kbit/s, v1 up to 96, then AAC-LC;
// 32 kHz up to 32 kbit/s, else 44.1 kHz), opens and encodes.
TEST(AacEncoderTest, EverySettingsDialogCombinationOpens)
{
    for (uint32_t kbps : {16u, 24u, 32u, 40u, 48u, 64u, 80u, 96u, 128u, 160u, 192u}) {
        for (uint16_t channels : {uint16_t{2}, uint16_t{1}}) {
            const AacProfile profile =
                kbps <= 48 ? AacProfile::HeV2 : (kbps <= 96 ? AacProfile::HeV1 : AacProfile::Lc);
            const uint32_t rate = kbps > 32 ? 44100 : 32000;
            SCOPED_TRACE(testing::Message() << kbps << " kbit/s, " << channels << " channel(s)");
            AacEncoder encoder;
#if KV_OS_POSIX
            testing::internal::CaptureStderr();
#endif
            const bool opened = encoder.Open(MakeConfig(rate, channels, kbps * 1000, profile));
#if KV_OS_POSIX
            testing::internal::GetCapturedStderr();
#endif
            ASSERT_TRUE(opened);
            EXPECT_EQ(encoder.ActiveProfile(),
                      profile == AacProfile::HeV2 && channels == 1 ? AacProfile::HeV1 : profile);
            const std::vector<int16_t> pcm = MakeTones(rate, channels, 0.5);
            CollectedFrames out;
            ASSERT_TRUE(encoder.Encode(pcm.data(), pcm.size() * 2, out.Sink()));
            encoder.Flush(out.Sink());
            ASSERT_FALSE(out.frames.empty());
            EXPECT_TRUE(ParseAdts(out.frames.front(), 0).valid);
        }
    }
}

#if KV_OS_POSIX
// Diagnostics go to standard error in this build, so their exact text can be read back.
TEST(AacEncoderTest, OpenLogsConfigurationAndResult)
{
    AacEncoder encoder;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(encoder.Open(MakeConfig(44100, 2, 96000, AacProfile::HeV2)));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[Encoder] Config: rate=44100 ch=2 bitrate=96000 codec=HE-AAC v2\n"
              "[Encoder] FDK-AAC initialized: HE-AAC v2, 96kbps, frameSize=2048 samples/ch\n");

    testing::internal::CaptureStderr();
    EXPECT_FALSE(encoder.Open(MakeConfig(48000, 2, 64000, AacProfile::Lc)));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "a refused second Open logs nothing";

    AacEncoder lc;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(lc.Open(MakeConfig(32000, 1, 40500, AacProfile::Lc)));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[Encoder] Config: rate=32000 ch=1 bitrate=40500 codec=AAC-LC\n"
              "[Encoder] FDK-AAC initialized: AAC-LC, 40kbps, frameSize=1024 samples/ch\n");

    // The result line names the profile really encoded, not the one asked for.
    AacEncoder mono;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(mono.Open(MakeConfig(44100, 1, 32000, AacProfile::HeV2)));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[Encoder] HE-AAC v2 needs two channels, using HE-AAC v1 for this mono stream\n"
              "[Encoder] Config: rate=44100 ch=1 bitrate=32000 codec=HE-AAC v2\n"
              "[Encoder] FDK-AAC initialized: HE-AAC v1, 32kbps, frameSize=2048 samples/ch\n");
}
#endif

} // namespace
