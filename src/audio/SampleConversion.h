#pragma once

#include <cstddef>
#include <cstdint>

// Sample format conversions along the audio path: device blocks to the stream's
// interleaved 16-bit layout, and 16-bit blocks to and from the processing chain's
// float samples (integer scale, full scale 32768).

// Copies frames from a block with sourceChannels channels into one with outChannels
// channels. Output channel c takes source channel c when it exists, else channel 0: a
// mono source feeds every channel, a mono output takes the first channel unmixed.
// Nothing is written when either channel count is 0.
void MapChannels(const int16_t* source, size_t frames, uint16_t sourceChannels, int16_t* out,
                 uint16_t outChannels);

// One float sample on the integer scale back to 16 bits: clamped to [-32768, 32767] and
// truncated toward zero, so values beyond the range saturate instead of wrapping.
inline int16_t SaturateToInt16(float value)
{
    if (value >= 32767.0f)
        return 32767;
    if (value > -32768.0f)
        return static_cast<int16_t>(value);
    return value <= -32768.0f ? int16_t{-32768} : int16_t{0}; // NaN gives silence
}

// One device float sample (full scale 1.0) to 16 bits: scaled by 32768, truncated and
// saturated, so +1.0 gives 32767, -1.0 gives -32768 and anything beyond is clamped.
inline int16_t FloatToInt16(float value)
{
    return SaturateToInt16(value * 32768.0f);
}

// How a device stores its samples. Anything but 32-bit float and 16-bit integer is
// not converted.
enum class DeviceSampleKind { Float32, Int16, Unsupported };

// count interleaved device samples (native byte order, any alignment) to 16 bits:
// floats with FloatToInt16, 16-bit samples copied, an unsupported kind gives zeros.
void DeviceSamplesToInt16(const void* data, size_t count, DeviceSampleKind kind, int16_t* out);
