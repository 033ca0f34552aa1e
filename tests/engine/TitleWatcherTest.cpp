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
    bool notRegular = false;
    EXPECT_EQ(ReadTitleFile(dir.Path(), &notRegular), "") << "a folder reads as no line";
    EXPECT_TRUE(notRegular);
    EXPECT_EQ(ReadTitleFile(dir.File("missing.txt"), &notRegular), "");
    EXPECT_FALSE(notRegular) << "a missing file is no other kind of file";
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
    TitleWatcher watcher;
    ASSERT_TRUE(watcher.Start(
        path, TitleFollower("Station"), [sent](const std::string& title) { sent->Add(title); },
        [onAir] { return onAir->load(); }));
    ASSERT_TRUE(sent->WaitFor(1, milliseconds(10000)));
    EXPECT_EQ(sent->All(), std::vector<std::string>{"First"}) << "the connection's title";
    WriteFileBytes(path, "Second\n");
    ASSERT_TRUE(sent->WaitFor(2, milliseconds(10000)));
    EXPECT_EQ(sent->All(), (std::vector<std::string>{"First", "Second"}));

    // Off the air, changes wait; back on the air, the file's line goes out.
    onAir->store(false);
    std::this_thread::sleep_for(TitleWatcher::kInterval * 3 / 2); // a reading under way ends
    WriteFileBytes(path, "Third\n");
    std::this_thread::sleep_for(TitleWatcher::kInterval * 5 / 2);
    EXPECT_EQ(sent->All().size(), 2u) << "sent while off the air";
    onAir->store(true);
    ASSERT_TRUE(sent->WaitFor(3, milliseconds(10000)));

    std::filesystem::remove(path);
    ASSERT_TRUE(sent->WaitFor(4, milliseconds(10000)));
    EXPECT_EQ(sent->All(), (std::vector<std::string>{"First", "Second", "Third", "Station"}));

    watcher.Stop();
    WriteFileBytes(path, "After the stop\n");
    std::this_thread::sleep_for(TitleWatcher::kInterval * 5 / 2);
    EXPECT_EQ(sent->All().size(), 4u) << "sent after the stop";

    // Without a title file, the stream name goes out once.
    TitleWatcher nameOnly;
    ASSERT_TRUE(nameOnly.Start(
        "", TitleFollower("Station"), [sent](const std::string& title) { sent->Add(title); }, {}));
    ASSERT_TRUE(sent->WaitFor(5, milliseconds(10000)));
    EXPECT_EQ(sent->All().back(), "Station");
}

// A gate a send waits at, as an update would on a server that is slow to answer.
struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false, released = false, left = false;

    void Pass()
    {
        std::unique_lock<std::mutex> guard(lock);
        entered = true;
        changed.notify_all();
        changed.wait(guard, [&] { return released; });
        left = true;
        changed.notify_all();
    }
    bool WaitEntered()
    {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, milliseconds(10000), [&] { return entered; });
    }
    void Release()
    {
        std::lock_guard<std::mutex> guard(lock);
        released = true;
        changed.notify_all();
    }
};

// A reconnection while the old connection's update hangs: the new connection's title goes
// out only after the old update's answer, so the server ends with the new title, and
// the old watcher sends nothing more.
TEST(TitleWatcherTest, AnUpdateOfAnEarlierConnectionNeverLandsAfterTheCurrentTitle)
{
    TempDir dir;
    const std::string path = dir.File("now.txt");
    WriteFileBytes(path, "Old\n");
    auto gate = std::make_shared<Gate>();
    auto sent = std::make_shared<Sent>();
    TitleWatcher old;
    ASSERT_TRUE(old.Start(
        path, TitleFollower("Station"),
        [gate, sent](const std::string& title) {
            gate->Pass();
            sent->Add("old:" + title);
        },
        [] { return true; }));
    ASSERT_TRUE(gate->WaitEntered());
    old.Stop();

    WriteFileBytes(path, "New\n");
    TitleWatcher current;
    ASSERT_TRUE(current.Start(
        path, TitleFollower("Station"), [sent](const std::string& title) { sent->Add("new:" + title); },
        [] { return true; }));
    std::this_thread::sleep_for(TitleWatcher::kInterval);
    EXPECT_TRUE(sent->All().empty()) << "the new title went out before the old update's answer";
    gate->Release();
    ASSERT_TRUE(sent->WaitFor(2, milliseconds(10000)));
    WriteFileBytes(path, "Newer\n");
    ASSERT_TRUE(sent->WaitFor(3, milliseconds(10000)));
    EXPECT_EQ(sent->All(), (std::vector<std::string>{"old:Old", "new:New", "new:Newer"}));
}

// A title update that hangs on the server does not hold Stop: the update ends alone, and
// the watcher asks nothing of its owner afterwards.
TEST(TitleWatcherTest, StopDoesNotWaitForAHangingUpdate)
{
    TempDir dir;
    const std::string path = dir.File("now.txt");
    WriteFileBytes(path, "Hanging\n");
    auto gate = std::make_shared<Gate>();
    auto askedAfterStop = std::make_shared<std::atomic<bool>>(false);
    auto stopped = std::make_shared<std::atomic<bool>>(false);

    TitleWatcher watcher;
    ASSERT_TRUE(watcher.Start(
        path, TitleFollower("Station"), [gate](const std::string&) { gate->Pass(); },
        [stopped, askedAfterStop] {
            if (stopped->load())
                askedAfterStop->store(true);
            return true;
        }));
    ASSERT_TRUE(gate->WaitEntered());
    stopped->store(true);
    const Clock::time_point start = Clock::now();
    watcher.Stop();
    EXPECT_LT(Clock::now() - start, milliseconds(4000)) << "Stop waited for the update";

    gate->Release();
    {
        std::unique_lock<std::mutex> guard(gate->lock);
        ASSERT_TRUE(gate->changed.wait_for(guard, milliseconds(10000), [&] { return gate->left; }));
    }
    std::this_thread::sleep_for(TitleWatcher::kInterval * 2);
    EXPECT_FALSE(askedAfterStop->load());
}

} // namespace
