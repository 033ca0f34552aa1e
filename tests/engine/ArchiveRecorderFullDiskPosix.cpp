#include <gtest/gtest.h>

#include <sys/mount.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <string>

#include "engine/ArchiveRecorderSupport.h"

namespace {

// A 64 KiB file system mounted for the test (as root in the test namespace); skipped
// where none can be mounted.
class SmallDisk {
public:
    explicit SmallDisk(const std::string& folder) : path(folder)
    {
        std::filesystem::create_directory(path);
        mounted = mount("kv-small", path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0755") == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            umount2(path.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool Mounted() const { return mounted; }

private:
    std::string path;
    bool mounted = false;
};

// The disk fills mid-file: recording stops with "No space left on device" and the
// folder, the frames keep being taken without waiting, and what was written stays, the
// frames from the first on.
TEST(ArchiveRecorderTest, AFullDiskStopsRecordingAndKeepsWhatWasWritten)
{
    TempDir dir;
    const std::string folder = dir.File("small");
    SmallDisk disk(folder);
    if (!disk.Mounted())
        GTEST_SKIP() << "no tmpfs can be mounted here (needs root in a mount namespace)";

    ArchiveRecorder recorder;
    ASSERT_TRUE(recorder.Start({folder, "/live", 60}));
    std::string all;
    for (uint32_t i = 0; i < 2000; ++i) { // 400 KB for a 64 KiB disk
        const std::string frame = AdtsFrame(i, 200);
        all += frame;
        WriteFrame(recorder, frame);
    }
    recorder.Finish();

    const std::string problem = recorder.Problem();
    EXPECT_EQ(problem, RecordingStoppedText(folder, "No space left on device"));
    const std::vector<std::string> names = FolderNames(folder);
    ASSERT_EQ(names.size(), 1u);
    const std::string kept = ReadFileBytes(folder + "/" + names[0]);
    EXPECT_GT(kept.size(), 32u * 1024);
    EXPECT_TRUE(all.compare(0, kept.size(), kept) == 0) << "the file is not the start of the stream";
}

// The disk fills, and is freed later: recording stops, tries again in a new file and
// records again, without a restart; the first file keeps what it had, no empty file is
// left by the retries, and each file is a run of whole frames as they were sent.
TEST(ArchiveRecorderTest, AFreedDiskIsRecordedToAgainInANewFile)
{
    TempDir dir;
    const std::string folder = dir.File("small");
    SmallDisk disk(folder);
    if (!disk.Mounted())
        GTEST_SKIP() << "no tmpfs can be mounted here (needs root in a mount namespace)";
    const std::string filler = folder + "/filler";
    WriteFileBytes(filler, std::string(52 * 1024, 'f'));

    ArchiveRecorder recorder;
    ArchiveOptions options{folder, "/live", 0};
    options.retryInterval = std::chrono::milliseconds(200);
    ASSERT_TRUE(recorder.Start(options));
    std::string all;
    uint32_t index = 0;
    const auto send = [&](uint32_t count) {
        for (uint32_t i = 0; i < count; ++i, ++index) {
            all += AdtsFrame(index, 200);
            WriteFrame(recorder, AdtsFrame(index, 200));
        }
    };
    // Frames at about the pace of a stream, until the disk is full...
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (recorder.Problem().empty() && std::chrono::steady_clock::now() < limit) {
        send(5);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(recorder.Problem(), RecordingStoppedText(folder, "No space left on device"));
    // ...through a few failed retries...
    send(5);
    std::this_thread::sleep_for(options.retryInterval * 3);
    send(5);
    std::this_thread::sleep_for(options.retryInterval * 2);
    // ...and on once the disk has room again.
    std::filesystem::remove(filler);
    while (!recorder.Problem().empty() && std::chrono::steady_clock::now() < limit) {
        send(5);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(recorder.Problem(), "") << "recording did not start again";
    send(50);
    recorder.Finish();
    EXPECT_EQ(recorder.Problem(), "");

    const std::vector<std::string> names = FolderNames(folder);
    ASSERT_EQ(names.size(), 2u) << "one file before the stop, one after";
    const std::string first = ReadFileBytes(folder + "/" + names[0]);
    const std::string second = ReadFileBytes(folder + "/" + names[1]);
    EXPECT_GT(first.size(), 1000u);
    EXPECT_TRUE(all.compare(0, first.size(), first) == 0) << "the first file is not the start of the stream";
    ASSERT_GT(second.size(), 50u * 207);
    const size_t at = all.find(second);
    ASSERT_NE(at, std::string::npos) << "the second file is not a run of the stream";
    EXPECT_EQ(at % 207, 0u) << "the second file does not start on a frame";
    EXPECT_EQ(at + second.size(), all.size()) << "the second file misses the last frames";
}

} // namespace
