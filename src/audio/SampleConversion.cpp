#include "audio/SampleConversion.h"

#include <cstring>

void MapChannels(const int16_t* source, size_t frames, uint16_t sourceChannels, int16_t* out,
                 uint16_t outChannels)
{
    if (sourceChannels == 0 || outChannels == 0)
        return;
    for (size_t f = 0; f < frames; ++f) {
        const int16_t* frame = source + f * sourceChannels;
        for (uint16_t c = 0; c < outChannels; ++c)
            *out++ = frame[c < sourceChannels ? c : 0];
    }
}

void DeviceSamplesToInt16(const void* data, size_t count, DeviceSampleKind kind, int16_t* out)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    switch (kind) {
    case DeviceSampleKind::Float32:
        for (size_t i = 0; i < count; ++i) {
            float x;
            std::memcpy(&x, bytes + i * sizeof x, sizeof x); // device buffers need not be aligned
            out[i] = FloatToInt16(x);
        }
        break;
    case DeviceSampleKind::Int16:
        std::memcpy(out, bytes, count * sizeof(int16_t));
        break;
    case DeviceSampleKind::Unsupported:
        std::memset(out, 0, count * sizeof(int16_t));
        break;
    }
}
