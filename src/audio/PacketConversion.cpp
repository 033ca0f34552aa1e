#include "audio/PacketConversion.h"

#include <algorithm>

void CapturePacketToStream(const void* data, size_t frames, bool silent, DeviceSampleKind kind,
                           uint16_t deviceChannels, uint16_t outChannels, std::vector<int16_t>& deviceBlock,
                           std::vector<int16_t>& out)
{
    out.resize(frames * outChannels);
    if (silent || data == nullptr || deviceChannels == 0) {
        std::fill(out.begin(), out.end(), int16_t{0});
        return;
    }
    deviceBlock.resize(frames * deviceChannels);
    DeviceSamplesToInt16(data, deviceBlock.size(), kind, deviceBlock.data());
    MapChannels(deviceBlock.data(), frames, deviceChannels, out.data(), outChannels);
}

size_t ResamplePacket(const int16_t* in, size_t frames, uint16_t channels, uint32_t inRate, uint32_t outRate,
                      std::vector<int16_t>& out)
{
    if (frames == 0 || channels == 0 || inRate == 0 || outRate == 0) {
        out.clear();
        return 0;
    }
    const double ratio = static_cast<double>(outRate) / static_cast<double>(inRate);
    const size_t outFrames = static_cast<size_t>(static_cast<double>(frames) * ratio);
    out.resize(outFrames * channels);
    for (size_t i = 0; i < outFrames; ++i) {
        const double p = static_cast<double>(i) / ratio;
        const size_t i0 = std::min(static_cast<size_t>(p), frames - 1);
        const size_t i1 = std::min(i0 + 1, frames - 1);
        const double frac = p - static_cast<double>(i0);
        for (size_t c = 0; c < channels; ++c) {
            const double s0 = in[i0 * channels + c];
            const double s1 = in[i1 * channels + c];
            out[i * channels + c] = static_cast<int16_t>(s0 + (s1 - s0) * frac);
        }
    }
    return outFrames;
}

void ConvertPacketChannels(const int16_t* in, size_t frames, uint16_t inChannels, uint16_t outChannels,
                           std::vector<int16_t>& out)
{
    out.assign(frames * outChannels, 0);
    if (inChannels == 0 || outChannels == 0)
        return;
    for (size_t f = 0; f < frames; ++f) {
        const int16_t* frame = in + f * inChannels;
        int16_t* target = out.data() + f * outChannels;
        if (inChannels == 1) {
            std::fill(target, target + outChannels, frame[0]);
        } else if (outChannels == 1) {
            int32_t sum = 0;
            for (uint16_t c = 0; c < inChannels; ++c)
                sum += frame[c];
            target[0] = static_cast<int16_t>(sum / inChannels);
        } else {
            for (uint16_t c = 0; c < outChannels && c < inChannels; ++c)
                target[c] = frame[c];
        }
    }
}

void Int16ToFloat(const int16_t* in, size_t count, float* out)
{
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<float>(in[i]) * 3.0517578e-5f;
}
