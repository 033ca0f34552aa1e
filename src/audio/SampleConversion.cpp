#include "audio/SampleConversion.h"

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
