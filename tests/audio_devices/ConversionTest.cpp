#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "audio/PacketConversion.h"
#include "audio/SampleConversion.h"

namespace {

TEST(DeviceSampleConversion, FloatSamplesAreScaledTruncatedAndClamped)
{
    struct Case {
        float in;
        int16_t out;
    };
    const Case cases[] = {
        {0.0f, 0},          {1.0f, 32767},   {-1.0f, -32768},      {1.5f, 32767},    {-7.0f, -32768},
        {0.5f, 16384},      {-0.5f, -16384}, {0.99999f, 32767},    {1e-5f, 0},       {-4.0e-5f, -1},
        {0.25118864f, 8230}, {std::numeric_limits<float>::infinity(), 32767},
        {-std::numeric_limits<float>::infinity(), -32768}, {std::numeric_limits<float>::quiet_NaN(), 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FloatToInt16(c.in), c.out) << c.in;
}

TEST(DeviceSampleConversion, BlocksByKindFromUnalignedBytes)
{
    const float floats[] = {0.5f, -1.0f, 2.0f};
    const int16_t ints[] = {123, -32768, 32767};
    // One byte of offset: device buffers carry no alignment promise.
    std::vector<unsigned char> floatBytes(sizeof floats + 1);
    std::memcpy(floatBytes.data() + 1, floats, sizeof floats);
    std::vector<unsigned char> intBytes(sizeof ints + 1);
    std::memcpy(intBytes.data() + 1, ints, sizeof ints);

    int16_t out[3] = {9, 9, 9};
    DeviceSamplesToInt16(floatBytes.data() + 1, 3, DeviceSampleKind::Float32, out);
    EXPECT_EQ(std::vector<int16_t>(out, out + 3), (std::vector<int16_t>{16384, -32768, 32767}));
    DeviceSamplesToInt16(intBytes.data() + 1, 3, DeviceSampleKind::Int16, out);
    EXPECT_EQ(std::vector<int16_t>(out, out + 3), (std::vector<int16_t>{123, -32768, 32767}));
    DeviceSamplesToInt16(intBytes.data() + 1, 3, DeviceSampleKind::Unsupported, out);
    EXPECT_EQ(std::vector<int16_t>(out, out + 3), (std::vector<int16_t>{0, 0, 0}));
}

TEST(CaptureConversion, PacketsInTheStreamLayout)
{
    const float stereo[] = {0.5f, -0.25f, 1.0f, -1.0f}; // two frames, left and right
    const int16_t mono[] = {100, -200, 300};
    struct Case {
        const char* label;
        const void* data;
        size_t frames;
        bool silent;
        DeviceSampleKind kind;
        uint16_t deviceChannels;
        uint16_t outChannels;
        std::vector<int16_t> expected;
    };
    const Case cases[] = {
        {"stereo to stereo", stereo, 2, false, DeviceSampleKind::Float32, 2, 2, {16384, -8192, 32767, -32768}},
        {"stereo to mono: the left channel", stereo, 2, false, DeviceSampleKind::Float32, 2, 1, {16384, 32767}},
        {"mono to stereo: both channels", mono, 3, false, DeviceSampleKind::Int16, 1, 2, {100, 100, -200, -200, 300, 300}},
        {"silent: zeros of the full length", stereo, 2, true, DeviceSampleKind::Float32, 2, 2, {0, 0, 0, 0}},
        {"no data", nullptr, 3, false, DeviceSampleKind::Int16, 1, 1, {0, 0, 0}},
        {"unsupported format", mono, 3, false, DeviceSampleKind::Unsupported, 1, 2, {0, 0, 0, 0, 0, 0}},
        {"empty packet", mono, 0, false, DeviceSampleKind::Int16, 1, 2, {}},
    };
    std::vector<int16_t> scratch;
    std::vector<int16_t> out = {9, 9, 9, 9, 9, 9, 9, 9, 9}; // reused: stale samples must not survive
    for (const Case& c : cases) {
        CapturePacketToStream(c.data, c.frames, c.silent, c.kind, c.deviceChannels, c.outChannels, scratch, out);
        EXPECT_EQ(out, c.expected) << c.label;
    }
}

TEST(PreviewConversion, SameRateLeavesThePacketUnchanged)
{
    const std::vector<int16_t> in = {1, -1, 300, -300, 32767, -32768, 5, 6};
    std::vector<int16_t> out;
    EXPECT_EQ(ResamplePacket(in.data(), 4, 2, 48000, 48000, out), 4u);
    EXPECT_EQ(out, in);
}

TEST(PreviewConversion, OutputFrameCountsPerPacket)
{
    struct Case {
        size_t frames;
        uint32_t inRate;
        uint32_t outRate;
        size_t expected;
    };
    const Case cases[] = {
        {480, 48000, 44100, 441}, {1, 48000, 44100, 0},     {127, 48000, 44100, 116}, // trunc(116.68)
        {441, 44100, 48000, 480}, {100, 16000, 48000, 300}, {0, 48000, 44100, 0},
    };
    for (const Case& c : cases) {
        const std::vector<int16_t> in(c.frames * 2, 7);
        std::vector<int16_t> out;
        EXPECT_EQ(ResamplePacket(in.data(), c.frames, 2, c.inRate, c.outRate, out), c.expected)
            << c.frames << " frames " << c.inRate << " -> " << c.outRate;
        EXPECT_EQ(out.size(), c.expected * 2);
    }
}

TEST(PreviewConversion, LinearInterpolationPerChannelTruncatesAndHoldsTheLastFrame)
{
    // Doubling the rate puts every other output frame halfway between two inputs.
    const std::vector<int16_t> in = {0, 100, 10, -100, 21, 0};
    std::vector<int16_t> out;
    ASSERT_EQ(ResamplePacket(in.data(), 3, 2, 24000, 48000, out), 6u);
    const std::vector<int16_t> expected = {0, 100, 5, 0, 10, -100, 15, -50, 21, 0, 21, 0};
    EXPECT_EQ(out, expected);
}

TEST(PreviewConversion, ChannelLayouts)
{
    struct Case {
        std::vector<int16_t> in;
        uint16_t inChannels;
        uint16_t outChannels;
        std::vector<int16_t> expected;
    };
    const Case cases[] = {
        {{5, -7}, 1, 2, {5, 5, -7, -7}},
        {{3, 4, -3, -4, 32767, 32767}, 2, 1, {3, -3, 32767}}, // (L + R) / 2 toward zero
        {{-32768, -32767}, 2, 1, {-32767}},
        {{1, 2, 3, 4, 5, 6}, 3, 1, {2, 5}},
        {{1, 2, 3, 4, 5, 6}, 3, 2, {1, 2, 4, 5}},
        {{1, 2, 3, 4}, 2, 4, {1, 2, 0, 0, 3, 4, 0, 0}},
    };
    for (const Case& c : cases) {
        std::vector<int16_t> out;
        ConvertPacketChannels(c.in.data(), c.in.size() / c.inChannels, c.inChannels, c.outChannels, out);
        EXPECT_EQ(out, c.expected) << c.inChannels << " -> " << c.outChannels;
    }
}

TEST(PreviewConversion, Int16ToFloatScale)
{
    const int16_t in[] = {-32768, 0, 16384, 32767};
    float out[4];
    Int16ToFloat(in, 4, out);
    EXPECT_FLOAT_EQ(out[0], -1.0f);
    EXPECT_FLOAT_EQ(out[1], 0.0f);
    EXPECT_FLOAT_EQ(out[2], 0.5f);
    EXPECT_FLOAT_EQ(out[3], 32767.0f / 32768.0f);
}

} // namespace
