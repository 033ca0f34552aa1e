#include <gtest/gtest.h>

#include <vector>

#include "AudioTestSignals.h"
#include "audio/ProcessingChain.h"
#include "audio/Resampler.h"
#include "support/AllocationCounter.h"

namespace {

TEST(ProcessingAllocationTest, BlocksAllocateNothingOnceGrown)
{
    ProcessingChain chain;
    ConfigureChain(chain, 48000, 2, [](ProcessingParams& p) {
        p.hpfEnabled = p.gateEnabled = p.gainEnabled = p.agcEnabled = p.compEnabled = true;
        p.boostEnabled = p.bassEnabled = p.stereoWidthEnabled = p.limiterEnabled = p.codecPreEnabled = true;
        p.mono = true;
        p.loudnessEnabled = p.truePeakEnabled = true;
    });
    Resampler resampler;
    resampler.Configure(48000, 44100, 2);
    std::vector<int16_t> samples = Sines(48000, 48000, {440, 1000}, {12000, 9000});
    std::vector<int16_t> out;
    // The first (largest) block grows the buffers; shorter blocks after it reuse them.
    chain.Process(samples.data(), 960 * sizeof(int16_t));
    resampler.Process(samples.data(), 960, out);

    StartCountingAllocations();
    for (size_t at = 960; at + 960 <= samples.size(); at += 960) {
        const size_t count = (at / 960) % 3 == 0 ? 960 : 2 * 127;
        chain.Process(samples.data() + at, count * sizeof(int16_t));
        resampler.Process(samples.data() + at, count, out);
    }
    const long allocations = StopCountingAllocations();
    EXPECT_EQ(allocations, 0);
}

} // namespace
