#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "AudioTestSignals.h"
#include "audio/OfflineProcessor.h"

namespace {

struct Collected {
    std::vector<int16_t> samples;
    std::vector<size_t> blocks;
};

Collected RunOffline(const OfflineSetup& setup, const std::vector<int16_t>& input, size_t pushFrames)
{
    OfflineProcessor processor(setup);
    Collected got;
    const OfflineBlockSink sink = [&got](const int16_t* samples, size_t count) {
        got.samples.insert(got.samples.end(), samples, samples + count);
        got.blocks.push_back(count);
        return true;
    };
    const size_t step = pushFrames * setup.inputChannels;
    for (size_t at = 0; at < input.size(); at += step) {
        const size_t count = std::min(step, input.size() - at);
        EXPECT_TRUE(processor.Push(input.data() + at, count / setup.inputChannels, sink));
    }
    EXPECT_TRUE(processor.Finish(sink));
    return got;
}

OfflineSetup MakeSetup(uint32_t inRate, uint16_t inChannels, uint32_t streamRate, uint16_t streamChannels)
{
    OfflineSetup setup;
    setup.inputRate = inRate;
    setup.inputChannels = inChannels;
    setup.streamRate = streamRate;
    setup.streamChannels = streamChannels;
    return setup;
}

// The chain sees 10 ms blocks whatever the input pieces are, so its output does not
// depend on how the recording was read.
TEST(OfflineProcessorTest, RunsTheChainInTenMillisecondBlocks)
{
    OfflineSetup setup = MakeSetup(44100, 2, 0, 2);
    setup.processing.compEnabled = true;
    setup.processing.compAttackMs = 0.0f; // block-rate effects would show at once
    setup.processing.agcEnabled = true;
    const std::vector<int16_t> input = Sines(44100, 10000, {300, 3000}, {25000, 9000});
    const Collected whole = RunOffline(setup, input, 10000);
    ASSERT_EQ(whole.samples.size(), input.size());
    std::vector<size_t> expectedBlocks(22, 2 * 441);
    expectedBlocks.push_back(2 * (10000 - 22 * 441));
    EXPECT_EQ(whole.blocks, expectedBlocks);
    for (size_t pushFrames : {1u, 100u, 441u, 1000u})
        EXPECT_EQ(RunOffline(setup, input, pushFrames).samples, whole.samples) << pushFrames;
    EXPECT_NE(whole.samples, input);
}

TEST(OfflineProcessorTest, PassesUntouchedWithEverySwitchOff)
{
    const std::vector<int16_t> input = Sines(48000, 4000, {1000, 50}, {32767, -32768});
    EXPECT_EQ(RunOffline(MakeSetup(48000, 2, 48000, 2), input, 333).samples, input);
}

// The capture's channel rule: a mono recording feeds both channels of a stereo stream,
// a mono stream takes the first channel of a stereo recording; mono folds afterwards.
TEST(OfflineProcessorTest, MapsChannelsLikeTheCapture)
{
    const std::vector<int16_t> mono = {1, 2, 3};
    EXPECT_EQ(RunOffline(MakeSetup(8000, 1, 0, 2), mono, 2).samples, (std::vector<int16_t>{1, 1, 2, 2, 3, 3}));
    const std::vector<int16_t> stereo = {10, 20, 30, 40};
    EXPECT_EQ(RunOffline(MakeSetup(8000, 2, 0, 1), stereo, 2).samples, (std::vector<int16_t>{10, 30}));
    OfflineSetup folded = MakeSetup(8000, 2, 0, 2);
    folded.processing.mono = true;
    EXPECT_EQ(RunOffline(folded, stereo, 1).samples, (std::vector<int16_t>{15, 15, 35, 35}));
}

TEST(OfflineProcessorTest, ResamplesToTheStreamRate)
{
    struct Case {
        uint32_t in, stream, expectedRate;
    };
    for (const Case c : {Case{48000, 44100, 44100}, Case{44100, 48000, 48000}, Case{22050, 0, 22050},
                         Case{32000, 32000, 32000}}) {
        SCOPED_TRACE(testing::Message() << c.in << " -> " << c.stream);
        const OfflineSetup setup = MakeSetup(c.in, 2, c.stream, 2);
        EXPECT_EQ(OfflineProcessor(setup).OutputRate(), c.expectedRate);
        const std::vector<int16_t> input(2 * size_t{c.in}, 1000); // 1 s
        const Collected got = RunOffline(setup, input, 4800);
        EXPECT_NEAR(static_cast<double>(got.samples.size() / 2), c.expectedRate, 2.0);
    }
}

// With the limiter on, its ceiling (-1 dBFS, 29204) holds at the stream rate too: the
// resampler's anti-alias filter rings above the limited peaks of hard-edged sound and
// must not carry them out.
TEST(OfflineProcessorTest, LimiterCeilingHoldsAfterResampling)
{
    struct Signal {
        const char* name;
        int16_t (*sample)(size_t i, uint32_t rate);
    };
    const Signal signals[] = {
        {"1 kHz square", [](size_t i, uint32_t rate) { return int16_t((i * 2000 / rate) % 2 ? -32768 : 32767); }},
        {"4.3 kHz square", [](size_t i, uint32_t rate) { return int16_t((i * 8600 / rate) % 2 ? -32000 : 32000); }},
        {"clipped sine", [](size_t i, uint32_t rate) {
             const double v = 3.0 * 32767.0 * std::sin(2.0 * 3.141592653589793 * 220.0 * double(i) / rate);
             return int16_t(std::clamp(v, -32768.0, 32767.0));
         }},
    };
    for (const uint32_t streamRate : {44100u, 32000u}) {
        for (const Signal& signal : signals) {
            SCOPED_TRACE(testing::Message() << signal.name << ", 48000 -> " << streamRate);
            OfflineSetup setup = MakeSetup(48000, 2, streamRate, 2);
            setup.processing.limiterEnabled = true;
            std::vector<int16_t> input(2 * 48000);
            for (size_t i = 0; i < input.size(); ++i)
                input[i] = signal.sample(i / 2, 48000);
            const Collected got = RunOffline(setup, input, 4800);
            ASSERT_FALSE(got.samples.empty());
            EXPECT_LE(MaxAbs(got.samples), 29204);
            EXPECT_GE(MaxAbs(got.samples), 29000) << "the limiter's level reaches the output";
        }
    }
}

TEST(OfflineProcessorTest, SinkCanStopTheRun)
{
    OfflineProcessor processor(MakeSetup(48000, 2, 0, 2));
    int calls = 0;
    const OfflineBlockSink sink = [&calls](const int16_t*, size_t) { return ++calls < 2; };
    const std::vector<int16_t> input(2 * 4800, 0);
    EXPECT_FALSE(processor.Push(input.data(), 4800, sink));
    EXPECT_EQ(calls, 2);
}

} // namespace
