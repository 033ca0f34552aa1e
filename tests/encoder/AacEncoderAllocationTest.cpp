#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "encoder/AacEncoder.h"
#include "encoder/EncoderTestSignals.h"

// Counts every operator new of this test program while counting is switched on, to
// show that the audio thread's Encode allocates nothing.
namespace {
std::atomic<bool> countAllocations{false};
std::atomic<long> allocations{0};
} // namespace

void* operator new(std::size_t size)
{
    if (countAllocations.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

TEST(AacEncoderAllocationTest, EncodeAndFlushAllocateNothing)
{
    for (uint32_t heVersion : {0u, 1u, 2u}) {
        SCOPED_TRACE(heVersion);
        AacEncoder encoder;
        ASSERT_TRUE(encoder.Open(MakeConfig(48000, 2, 64000, heVersion)));
        const std::vector<int16_t> pcm = MakeTones(48000, 2, 1.0);
        uint64_t bytes = 0;
        // The sink fits in the function object's small buffer, so building it allocates nothing.
        const FrameSink sink = [&bytes](const uint8_t*, uint64_t size) { bytes += size; };

        allocations = 0;
        countAllocations = true;
        bool ok = true;
        for (size_t at = 0; at + 960 <= pcm.size(); at += 960)
            ok = encoder.Encode(pcm.data() + at, 960 * sizeof(int16_t), sink) && ok;
        encoder.Flush(sink);
        countAllocations = false;

        EXPECT_TRUE(ok);
        EXPECT_GT(bytes, 0u);
        EXPECT_EQ(allocations.load(), 0);
    }
}

} // namespace
