#include <gtest/gtest.h>

#include <chrono>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/TitleWatcher.h"
#include "support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(TitleWatcherTest, ReadTitleFileTakesTheFirstLineOrNothing)
{
    TempDir dir;
    EXPECT_EQ(ReadTitleFile(dir.File("missing.txt")), "");
    EXPECT_EQ(ReadTitleFile(dir.Path()), "") << "a folder reads as no line";
    WriteFileBytes(dir.File("now.txt"), "\xEF\xBB\xBF  Caf\xE9 Society \r\nNext song\r\n");
    EXPECT_EQ(ReadTitleFile(dir.File("now.txt")), "Caf\u00E9 Society");
    WriteFileBytes(dir.File("now.txt"), "");
    EXPECT_EQ(ReadTitleFile(dir.File("now.txt")), "");
    WriteFileBytes(dir.File("long.txt"), std::string(100000, 'x') + "\nsecond");
    EXPECT_EQ(ReadTitleFile(dir.File("long.txt")), std::string(kMaxTitleBytes, 'x'));
    WriteFileBytes(dir.File("m\xC3\xBCsik.txt"), "Song");
    EXPECT_EQ(ReadTitleFile(dir.File("m\xC3\xBCsik.txt")), "Song") << "a UTF-8 path";
}

// Readings one after another, as the watcher makes them, and what each sends.
TEST(TitleWatcherTest, FollowerSendsEachChangeOnceAndFallsBackAfterTwoReadings)
{
    TitleFollower follower("Station");
    EXPECT_EQ(follower.First(""), "Station");
    EXPECT_EQ(follower.Next(""), std::nullopt);
    EXPECT_EQ(follower.Next(""), std::nullopt) << "the stream name is on the air already";
    EXPECT_EQ(follower.Next("Song A"), "Song A");
    EXPECT_EQ(follower.Next("Song A"), std::nullopt);
    EXPECT_EQ(follower.Next("Song B"), "Song B");
    // The writer empties the file for a moment: nothing changes on the air.
    EXPECT_EQ(follower.Next(""), std::nullopt);
    EXPECT_EQ(follower.Next("Song B"), std::nullopt);
    EXPECT_EQ(follower.Next(""), std::nullopt);
    EXPECT_EQ(follower.Next("Song C"), "Song C");
    // Gone for two readings: the stream name, once.
    EXPECT_EQ(follower.Next(""), std::nullopt);
    EXPECT_EQ(follower.Next(""), "Station");
    EXPECT_EQ(follower.Next(""), std::nullopt);
    EXPECT_EQ(follower.Next("Song C"), "Song C") << "a line that comes back is sent again";
    // A failed update is not retried by itself: the same line sends nothing...
    EXPECT_EQ(follower.Next("Song C"), std::nullopt);
    // ...until the next connection, which starts from the file again.
    EXPECT_EQ(follower.First("Song C"), "Song C");

    TitleFollower unnamed;
    EXPECT_EQ(unnamed.First(""), "") << "no line and no name: nothing to send";
    EXPECT_EQ(unnamed.Next("Song"), "Song");
    EXPECT_EQ(unnamed.Next(""), std::nullopt);
    EXPECT_EQ(unnamed.Next(""), std::nullopt) << "without a name the last line stays";
    EXPECT_EQ(unnamed.Next("Song"), std::nullopt);
}

// What the watcher's thread hands out, for the test to wait on.
struct Sent {
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<std::string> titles;

    void Add(const std::string& title)
    {
        std::lock_guard<std::mutex> guard(lock);
        titles.push_back(title);
        arrived.notify_all();
    }
    // True once count titles have come, within limit.
    bool WaitFor(size_t count, milliseconds limit)
    {
        std::unique_lock<std::mutex> guard(lock);
        return arrived.wait_for(guard, limit, [&] { return titles.size() >= count; });
    }
    std::vector<std::string> All()
    {
        std::lock_guard<std::mutex> guard(lock);
        return titles;
    }
};

TEST(TitleWatcherTest, WatcherFollowsTheFileWhileOnAir)
{
    TempDir dir;
    const std::string path = dir.File("now.txt");
    WriteFileBytes(path, "First\n");
    auto sent = std::make_shared<Sent>();
    auto onAir = std::make_shared<std::atomic<bool>>(true);
    TitleFollower follower("Station");
    ASSERT_EQ(follower.First(ReadTitleFile(path)), "First");

    TitleWatcher watcher;
    ASSERT_TRUE(watcher.Start(
        path, follower, [sent](const std::string& title) { sent->Add(title); }, [onAir] { return onAir->load(); }));
    WriteFileBytes(path, "Second\n");
    ASSERT_TRUE(sent->WaitFor(1, milliseconds(10000)));
    EXPECT_EQ(sent->All(), std::vector<std::string>{"Second"});

    // Off the air, changes wait; back on the air, the file's line goes out.
    onAir->store(false);
    std::this_thread::sleep_for(TitleWatcher::kInterval * 3 / 2); // a reading under way ends
    WriteFileBytes(path, "Third\n");
    std::this_thread::sleep_for(TitleWatcher::kInterval * 5 / 2);
    EXPECT_EQ(sent->All().size(), 1u) << "sent while off the air";
    onAir->store(true);
    ASSERT_TRUE(sent->WaitFor(2, milliseconds(10000)));

    std::filesystem::remove(path);
    ASSERT_TRUE(sent->WaitFor(3, milliseconds(10000)));
    EXPECT_EQ(sent->All(), (std::vector<std::string>{"Second", "Third", "Station"}));

    watcher.Stop();
    WriteFileBytes(path, "After the stop\n");
    std::this_thread::sleep_for(TitleWatcher::kInterval * 5 / 2);
    EXPECT_EQ(sent->All().size(), 3u) << "sent after the stop";
}

// A title update that hangs on the server does not hold Stop: the update ends alone, and
// the watcher asks nothing of its owner afterwards.
TEST(TitleWatcherTest, StopDoesNotWaitForAHangingUpdate)
{
    TempDir dir;
    const std::string path = dir.File("now.txt");
    WriteFileBytes(path, "Hanging\n");
    struct Gate {
        std::mutex lock;
        std::condition_variable changed;
        bool entered = false, released = false, left = false;
    };
    auto gate = std::make_shared<Gate>();
    auto askedAfterStop = std::make_shared<std::atomic<bool>>(false);
    auto stopped = std::make_shared<std::atomic<bool>>(false);

    TitleWatcher watcher;
    ASSERT_TRUE(watcher.Start(
        path, TitleFollower("Station"),
        [gate](const std::string&) {
            std::unique_lock<std::mutex> guard(gate->lock);
            gate->entered = true;
            gate->changed.notify_all();
            gate->changed.wait(guard, [&] { return gate->released; });
            gate->left = true;
            gate->changed.notify_all();
        },
        [stopped, askedAfterStop] {
            if (stopped->load())
                askedAfterStop->store(true);
            return true;
        }));
    {
        std::unique_lock<std::mutex> guard(gate->lock);
        ASSERT_TRUE(gate->changed.wait_for(guard, milliseconds(10000), [&] { return gate->entered; }));
    }
    stopped->store(true);
    const Clock::time_point start = Clock::now();
    watcher.Stop();
    EXPECT_LT(Clock::now() - start, TitleWatcher::kStopWait + milliseconds(4000));

    std::unique_lock<std::mutex> guard(gate->lock);
    gate->released = true;
    gate->changed.notify_all();
    ASSERT_TRUE(gate->changed.wait_for(guard, milliseconds(10000), [&] { return gate->left; }));
    guard.unlock();
    std::this_thread::sleep_for(TitleWatcher::kInterval * 2);
    EXPECT_FALSE(askedAfterStop->load());
}

} // namespace
