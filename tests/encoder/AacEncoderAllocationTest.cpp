#include <gtest/gtest.h>

#include <vector>

#include "encoder/AacEncoder.h"
#include "encoder/EncoderTestSignals.h"
#include "support/AllocationCounter.h"

namespace {

TEST(AacEncoderAllocationTest, EncodeAndFlushAllocateNothing)
{
    for (AacProfile profile : {AacProfile::Lc, AacProfile::HeV1, AacProfile::HeV2}) {
        SCOPED_TRACE(ProfileName(profile));
        AacEncoder encoder;
        ASSERT_TRUE(encoder.Open(MakeConfig(48000, 2, 64000, profile)));
        const std::vector<int16_t> pcm = MakeTones(48000, 2, 1.0);
        uint64_t bytes = 0;
        // The sink fits in the function object's small buffer, so building it allocates nothing.
        const FrameSink sink = [&bytes](const uint8_t*, uint64_t size) { bytes += size; };

        StartCountingAllocations();
        bool ok = true;
        for (size_t at = 0; at + 960 <= pcm.size(); at += 960)
            ok = encoder.Encode(pcm.data() + at, 960 * sizeof(int16_t), sink) && ok;
        encoder.Flush(sink);
        const long allocations = StopCountingAllocations();

        EXPECT_TRUE(ok);
        EXPECT_GT(bytes, 0u);
        EXPECT_EQ(allocations, 0);
    }
}

} // namespace
