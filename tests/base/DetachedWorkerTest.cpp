#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "base/DetachedWorker.h"

namespace {

// Workers that end at once, many times over: each runs exactly once, the program survives
// the races between a worker's end and its detach, and the state a worker owns lives
// until its own end.
TEST(DetachedWorkerTest, WorkersThatEndAtOnceEachRunOnceAndLeaveNothingBroken)
{
    constexpr int kWorkers = 400;
    const auto finished = std::make_shared<std::atomic<int>>(0);
    int started = 0;
    for (int i = 0; i < kWorkers; ++i) {
        const auto owned = std::make_shared<std::vector<int>>(64, i);
        if (StartDetachedWorker([finished, owned, i] {
                if ((*owned)[63] == i)
                    finished->fetch_add(1);
            }, nullptr))
            ++started;
    }
    EXPECT_EQ(started, kWorkers);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (finished->load() < started && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(finished->load(), started);
}

} // namespace
