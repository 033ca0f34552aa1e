#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "AudioTestSignals.h"
#include "audio/ProcessingChain.h"
#include "audio/Resampler.h"

// Counts every operator new of this test program while counting is switched on, to
// show that the chain and the resampler allocate nothing per block once grown.
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

TEST(ProcessingAllocationTest, BlocksAllocateNothingOnceGrown)
{
    ProcessingChain chain;
    ConfigureChain(chain, 48000, 2, [](ProcessingParams& p) {
        p.hpfEnabled = p.gateEnabled = p.gainEnabled = p.agcEnabled = p.compEnabled = true;
        p.boostEnabled = p.bassEnabled = p.stereoWidthEnabled = p.limiterEnabled = p.codecPreEnabled = true;
        p.mono = true;
    });
    Resampler resampler;
    resampler.Configure(48000, 44100, 2);
    std::vector<int16_t> samples = Sines(48000, 48000, {440, 1000}, {12000, 9000});
    std::vector<int16_t> out;
    // The first (largest) block grows the buffers; shorter blocks after it reuse them.
    chain.Process(samples.data(), 960 * sizeof(int16_t));
    resampler.Process(samples.data(), 960, out);

    allocations = 0;
    countAllocations = true;
    for (size_t at = 960; at + 960 <= samples.size(); at += 960) {
        const size_t count = (at / 960) % 3 == 0 ? 960 : 2 * 127;
        chain.Process(samples.data() + at, count * sizeof(int16_t));
        resampler.Process(samples.data() + at, count, out);
    }
    countAllocations = false;
    EXPECT_EQ(allocations.load(), 0);
}

} // namespace
