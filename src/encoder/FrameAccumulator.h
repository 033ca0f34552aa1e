#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

// Feeds total interleaved samples into a one-frame buffer already holding fill of them,
// calling encodeFrame (which empties the buffer on success) each time it is full, so
// frame boundaries do not depend on the callers' block sizes. A buffer full at entry is
// a frame that failed last time: it is retried before any new sample is taken. False as
// soon as encodeFrame fails; the samples not yet taken are dropped.
template <typename EncodeFrame>
bool AccumulateFrames(std::vector<int16_t>& buffer, uint64_t& fill, const int16_t* samples, uint64_t total,
                      EncodeFrame encodeFrame)
{
    const uint64_t frameSamples = buffer.size();
    uint64_t consumed = 0;
    for (;;) {
        if (fill == frameSamples && !encodeFrame())
            return false;
        if (consumed == total)
            return true;
        const uint64_t n = std::min(total - consumed, frameSamples - fill);
        std::memcpy(buffer.data() + fill, samples + consumed, static_cast<size_t>(n) * sizeof(int16_t));
        fill += n;
        consumed += n;
    }
}
