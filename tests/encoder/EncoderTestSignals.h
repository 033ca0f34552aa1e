#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

#include "encoder/AacEncoder.h"

// Interleaved 16-bit tones: channel 0 at 1000 Hz, channel 1 (if any) at 1500 Hz, so a
// swapped or mixed-up channel shows in the decoded spectrum.
inline std::vector<int16_t> MakeTones(uint32_t rate, uint16_t channels, double seconds, double amplitude = 10000.0)
{
    const size_t frames = static_cast<size_t>(seconds * rate);
    std::vector<int16_t> pcm(frames * channels);
    for (size_t i = 0; i < frames; ++i) {
        for (uint16_t c = 0; c < channels; ++c) {
            const double frequency = c == 0 ? 1000.0 : 1500.0;
            pcm[i * channels + c] =
                static_cast<int16_t>(std::lround(amplitude * std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(i) / rate)));
        }
    }
    return pcm;
}

// Everything an encoder hands out, frame by frame.
struct CollectedFrames {
    std::vector<std::string> frames;

    FrameSink Sink()
    {
        return [this](const uint8_t* data, uint64_t size) {
            frames.emplace_back(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
        };
    }
    std::string Joined() const
    {
        std::string all;
        for (const std::string& frame : frames)
            all += frame;
        return all;
    }
};

// Feeds pcm to encoder in blocks of blockSamples samples (all channels counted), then
// flushes; returns the ADTS stream.
inline std::string EncodeInBlocks(AacEncoder& encoder, const std::vector<int16_t>& pcm, size_t blockSamples)
{
    CollectedFrames out;
    for (size_t at = 0; at < pcm.size(); at += blockSamples) {
        const size_t n = std::min(blockSamples, pcm.size() - at);
        if (!encoder.Encode(pcm.data() + at, n * sizeof(int16_t), out.Sink()))
            return {};
    }
    encoder.Flush(out.Sink());
    return out.Joined();
}

inline EncoderConfig MakeConfig(uint32_t rate, uint16_t channels, uint32_t bitrate, AacProfile profile)
{
    EncoderConfig config;
    config.sampleRate = rate;
    config.channels = channels;
    config.bitsPerSample = 16;
    config.bitrate = bitrate;
    config.profile = profile;
    return config;
}

// Header fields of one ADTS frame.
struct AdtsHeader {
    bool valid = false;
    int profile = -1;         // object type - 1 (1 = LC)
    int frequencyIndex = -1;  // 3 = 48000, 4 = 44100, 5 = 32000, 6 = 24000, 7 = 22050, 8 = 16000
    int channelConfig = -1;
    size_t frameLength = 0;   // header included
    bool protectionAbsent = false;
};

inline AdtsHeader ParseAdts(const std::string& bytes, size_t at)
{
    AdtsHeader h;
    if (at + 7 > bytes.size())
        return h;
    const auto b = [&](size_t i) { return static_cast<unsigned>(static_cast<uint8_t>(bytes[at + i])); };
    if (b(0) != 0xff || (b(1) & 0xf6) != 0xf0)
        return h;
    h.protectionAbsent = (b(1) & 0x01) != 0;
    h.profile = static_cast<int>(b(2) >> 6);
    h.frequencyIndex = static_cast<int>((b(2) >> 2) & 0x0f);
    h.channelConfig = static_cast<int>(((b(2) & 0x01) << 2) | (b(3) >> 6));
    h.frameLength = ((b(3) & 0x03u) << 11) | (b(4) << 3) | (b(5) >> 5);
    h.valid = h.frameLength >= 7;
    return h;
}
