#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "icecast/SendQueue.h"

namespace {

using Clock = std::chrono::steady_clock;

// A rising byte ramp starting at first; any lost, doubled or reordered byte breaks it.
std::vector<uint8_t> Ramp(size_t size, uint64_t first)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>((first + i) % 251);
    return bytes;
}

TEST(SendQueueTest, FillsExactlyAndRefusesTheNextWriteWhole)
{
    SendQueue queue;
    const std::vector<uint8_t> first = Ramp(40000, 0);
    ASSERT_TRUE(queue.Write(first.data(), first.size()));
    const std::vector<uint8_t> rest = Ramp(960, 40000);
    ASSERT_TRUE(queue.Write(rest.data(), rest.size()));
    EXPECT_EQ(queue.Count(), SendQueue::kCapacity);

    const uint8_t one = 0xee;
    EXPECT_FALSE(queue.Write(&one, 1));
    EXPECT_EQ(queue.Count(), SendQueue::kCapacity);
    EXPECT_TRUE(queue.Write(&one, 0)) << "nothing to store always fits";

    std::vector<uint8_t> taken(SendQueue::kCapacity + 10);
    ASSERT_EQ(queue.Take(taken.data(), taken.size()), SendQueue::kCapacity);
    taken.resize(SendQueue::kCapacity);
    EXPECT_EQ(taken, Ramp(SendQueue::kCapacity, 0)) << "the refused write left no trace";
}

TEST(SendQueueTest, PartlyFullQueueRefusesAFrameThatDoesNotFit)
{
    SendQueue queue;
    const std::vector<uint8_t> frame = Ramp(30000, 0);
    ASSERT_TRUE(queue.Write(frame.data(), frame.size()));
    EXPECT_FALSE(queue.Write(frame.data(), 10961));
    EXPECT_EQ(queue.Count(), 30000u);
    EXPECT_TRUE(queue.Write(frame.data(), 10960));
}

TEST(SendQueueTest, WrapAroundKeepsOrder)
{
    SendQueue queue;
    std::vector<uint8_t> sink(4096);
    uint64_t written = 0, read = 0;
    // Frames of 1000..1999 bytes walk the indices round the ring several times; each
    // write and take straddles the end of storage at some point.
    for (int round = 0; round < 200; ++round) {
        const size_t size = 1000 + static_cast<size_t>(round * 37) % 1000;
        const std::vector<uint8_t> frame = Ramp(size, written);
        ASSERT_TRUE(queue.Write(frame.data(), frame.size()));
        written += size;
        while (queue.Count() > 20000) {
            const uint64_t n = queue.Take(sink.data(), 3000 + static_cast<uint64_t>(round % 1096));
            ASSERT_GT(n, 0u);
            ASSERT_EQ(std::vector<uint8_t>(sink.begin(), sink.begin() + static_cast<std::ptrdiff_t>(n)), Ramp(n, read));
            read += n;
        }
    }
    EXPECT_GT(written, 5 * SendQueue::kCapacity);
}

TEST(SendQueueTest, TakesAtMostMaxBytesAtATime)
{
    SendQueue queue;
    const std::vector<uint8_t> data = Ramp(10000, 0);
    ASSERT_TRUE(queue.Write(data.data(), data.size()));
    std::vector<uint8_t> chunk(4096);
    EXPECT_EQ(queue.Take(chunk.data(), 4096), 4096u);
    EXPECT_EQ(queue.Take(chunk.data(), 4096), 4096u);
    EXPECT_EQ(queue.Take(chunk.data(), 4096), 1808u);
    EXPECT_EQ(std::vector<uint8_t>(chunk.begin(), chunk.begin() + 1808), Ramp(1808, 8192));
    EXPECT_EQ(queue.Count(), 0u);
}

TEST(SendQueueTest, EmptyOpenQueueWaitsBeforeReturningNothing)
{
    SendQueue queue;
    uint8_t byte = 0;
    const auto start = Clock::now();
    EXPECT_EQ(queue.Take(&byte, 1), 0u);
    // Only a lower bound: a loaded machine may take longer, never shorter.
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(45));
}

TEST(SendQueueTest, CloseWakesAWaitingConsumer)
{
    // A consumer that was not woken would sit out its whole 50 ms; one woken by the
    // close returns early. Several attempts keep a slow scheduler from deciding.
    bool wokenEarly = false;
    for (int attempt = 0; attempt < 5 && !wokenEarly; ++attempt) {
        SendQueue queue;
        std::atomic<long long> waitedMs{-1};
        std::thread consumer([&] {
            uint8_t byte = 0;
            const auto start = Clock::now();
            const uint64_t n = queue.Take(&byte, 1);
            waitedMs = n == 0 ? std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count() : -2;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        queue.Close();
        consumer.join();
        ASSERT_GE(waitedMs.load(), 0);
        wokenEarly = waitedMs.load() < 45;
        EXPECT_TRUE(queue.IsClosedAndEmpty());
    }
    EXPECT_TRUE(wokenEarly);
}

// With a gathering window the first bytes after a quiet spell leave at once; what
// comes within the window after a take waits for the window's end and leaves in one
// piece, unless the queue closes first.
TEST(SendQueueTest, GatheringWindowTakesWhatCameMeanwhileInOnePiece)
{
    SendQueue queue;
    queue.SetGathering(std::chrono::seconds(20));
    const std::vector<uint8_t> data = Ramp(300, 0);
    std::vector<uint8_t> chunk(4096);
    ASSERT_TRUE(queue.Write(data.data(), 100));
    const auto start = Clock::now();
    ASSERT_EQ(queue.Take(chunk.data(), chunk.size()), 100u);
    std::thread producer([&] {
        queue.Write(data.data() + 100, 100);
        queue.Write(data.data() + 200, 100);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        queue.Close();
    });
    ASSERT_EQ(queue.Take(chunk.data(), chunk.size()), 200u);
    const auto waited = Clock::now() - start;
    producer.join();
    EXPECT_EQ(std::vector<uint8_t>(chunk.begin(), chunk.begin() + 200), Ramp(200, 100));
    EXPECT_GE(waited, std::chrono::milliseconds(290)) << "the writes did not end the window";
    EXPECT_LT(waited, std::chrono::seconds(15)) << "the close did";
}

TEST(SendQueueTest, ClosedQueueDrainsThenReportsClosedAndEmpty)
{
    SendQueue queue;
    const std::vector<uint8_t> data = Ramp(5000, 0);
    ASSERT_TRUE(queue.Write(data.data(), data.size()));
    queue.Close();
    EXPECT_FALSE(queue.IsClosedAndEmpty());
    EXPECT_TRUE(queue.Write(data.data(), 100)) << "closing ends production, it does not refuse room";

    std::vector<uint8_t> chunk(4096);
    EXPECT_EQ(queue.Take(chunk.data(), chunk.size()), 4096u);
    EXPECT_EQ(queue.Take(chunk.data(), chunk.size()), 1004u);
    EXPECT_TRUE(queue.IsClosedAndEmpty());
    const auto start = Clock::now();
    EXPECT_EQ(queue.Take(chunk.data(), chunk.size()), 0u);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(45)) << "closed and empty: no wait";

    queue.Reset();
    EXPECT_FALSE(queue.IsClosedAndEmpty());
    EXPECT_EQ(queue.Count(), 0u);
    ASSERT_TRUE(queue.Write(data.data(), 3));
    EXPECT_EQ(queue.Take(chunk.data(), chunk.size()), 3u);
}

TEST(SendQueueTest, ResetEmptiesAFullQueue)
{
    SendQueue queue;
    const std::vector<uint8_t> data = Ramp(SendQueue::kCapacity, 0);
    ASSERT_TRUE(queue.Write(data.data(), 12345));
    std::vector<uint8_t> chunk(4096);
    ASSERT_EQ(queue.Take(chunk.data(), 100), 100u);
    queue.Reset();
    EXPECT_EQ(queue.Count(), 0u);
    ASSERT_TRUE(queue.Write(data.data(), data.size())) << "all of the capacity is free again";
    ASSERT_EQ(queue.Take(chunk.data(), chunk.size()), 4096u);
    EXPECT_EQ(chunk, Ramp(4096, 0));
}

// One producer writing frames of random sizes, one consumer taking chunks as the
// sender thread does: every byte arrives once and in order.
TEST(SendQueueTest, ProducerAndConsumerThreadsMoveEveryByteInOrder)
{
    constexpr uint64_t kTotal = 32'000'000;
    SendQueue queue;
    std::atomic<uint64_t> refusals{0};

    std::thread producer([&] {
        std::mt19937 random(12345);
        std::uniform_int_distribution<size_t> sizes(1, 1800);
        uint64_t written = 0;
        while (written < kTotal) {
            const size_t size = static_cast<size_t>(std::min<uint64_t>(sizes(random), kTotal - written));
            const std::vector<uint8_t> frame = Ramp(size, written);
            while (!queue.Write(frame.data(), frame.size())) {
                refusals.fetch_add(1, std::memory_order_relaxed);
                std::this_thread::yield();
            }
            written += size;
        }
        queue.Close();
    });

    uint64_t read = 0;
    bool inOrder = true;
    std::vector<uint8_t> chunk(4096);
    while (!queue.IsClosedAndEmpty()) {
        const uint64_t n = queue.Take(chunk.data(), chunk.size());
        for (uint64_t i = 0; i < n && inOrder; ++i)
            inOrder = chunk[i] == static_cast<uint8_t>((read + i) % 251);
        read += n;
    }
    producer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(read, kTotal);
}

} // namespace
