#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/SampleConversion.h"

// Conversions of one device packet at a time, shared by both platform back ends.

// The capture's conversion of one device packet to the stream's channel count: a packet
// flagged silent (or without data) becomes zeros of the full length; otherwise the
// samples are converted to 16 bits (DeviceSamplesToInt16) and mapped as MapChannels
// does. deviceBlock is scratch space; out holds frames x outChannels samples.
void CapturePacketToStream(const void* data, size_t frames, bool silent, DeviceSampleKind kind,
                           uint16_t deviceChannels, uint16_t outChannels, std::vector<int16_t>& deviceBlock,
                           std::vector<int16_t>& out);

// The preview's per-packet conversions from the input device's layout to the output
// device's. Each packet is converted on its own: nothing is carried from one packet to
// the next and there is no filter, which keeps monitoring latency at one packet.

// Linear interpolation from inRate to outRate: trunc(frames x outRate / inRate) frames
// (so 48000 to 44100 Hz gives trunc(frames x 0.91875)); output frame i reads position
// i x inRate / outRate between its two neighbours, the last frame repeated at the end.
// Returns the output frame count; out holds that many frames of channels samples.
size_t ResamplePacket(const int16_t* in, size_t frames, uint16_t channels, uint32_t inRate, uint32_t outRate,
                      std::vector<int16_t>& out);

// A mono input feeds every output channel; a mono output gets the mean of all input
// channels (truncated toward zero); otherwise output channel c takes input channel c
// when it exists and silence when it does not. out holds frames x outChannels samples.
void ConvertPacketChannels(const int16_t* in, size_t frames, uint16_t inChannels, uint16_t outChannels,
                           std::vector<int16_t>& out);

// 16-bit samples to the float scale of an output device (full scale 1.0).
void Int16ToFloat(const int16_t* in, size_t count, float* out);
