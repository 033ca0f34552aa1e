#include <gtest/gtest.h>

#include <sys/mount.h>

#include <filesystem>
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

} // namespace
