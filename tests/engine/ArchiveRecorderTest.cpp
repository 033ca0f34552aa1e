#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <thread>

#include "base/LocalTime.h"
#include "engine/ArchiveRecorderSupport.h"

namespace {

std::tm Calendar(int year, int month, int day, int hour, int minute, int second)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

std::string StemAt(const std::string& mount, std::chrono::system_clock::time_point at)
{
    return ArchiveFileStem(mount, LocalCalendarTime(std::chrono::system_clock::to_time_t(at)));
}

TEST(ArchiveRecorderTest, FileNamesHoldTheMountAndTheLocalTime)
{
    const std::tm t = Calendar(2026, 3, 7, 9, 5, 2);
    const struct {
        const char* mount;
        const char* stem;
    } cases[] = {
        {"/live", "live_2026-03-07_09-05-02"},
        {"live", "live_2026-03-07_09-05-02"},
        {"/radio/main", "radio_main_2026-03-07_09-05-02"},
        {"/a:b*c?\"<>|\\", "a_b_c_______2026-03-07_09-05-02"},
        {"/", "stream_2026-03-07_09-05-02"},
        {"", "stream_2026-03-07_09-05-02"},
        {"/Caf\xc3\xa9", "Caf\xc3\xa9_2026-03-07_09-05-02"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ArchiveFileStem(c.mount, t), c.stem) << c.mount;
}

TEST(ArchiveRecorderTest, AdtsHeadersGiveLengthAndDuration)
{
    const std::string frame = AdtsFrame(0, 300);
    const auto* bytes = reinterpret_cast<const uint8_t*>(frame.data());
    const std::optional<AdtsFrameHeader> header = ReadAdtsHeader(bytes, frame.size());
    ASSERT_TRUE(header);
    EXPECT_EQ(header->bytes, 307u);
    EXPECT_EQ(header->samples, 1024u);
    EXPECT_EQ(header->sampleRate, 48000u);

    EXPECT_FALSE(ReadAdtsHeader(bytes, 6)); // cut before the length
    std::string noSync = frame;
    noSync[1] = 0x71;
    EXPECT_FALSE(ReadAdtsHeader(reinterpret_cast<const uint8_t*>(noSync.data()), noSync.size()));
    std::string badRate = frame;
    badRate[2] = static_cast<char>((1 << 6) | (13 << 2));
    EXPECT_FALSE(ReadAdtsHeader(reinterpret_cast<const uint8_t*>(badRate.data()), badRate.size()));
}

// 150 s of frames with a split every 60 s: three files on frame boundaries, each named
// by the time of its first frame, together byte for byte the frames written.
TEST(ArchiveRecorderTest, SplitsOnFrameBoundariesIntoFilesNamedByTheirFirstFrame)
{
    TempDir dir;
    const std::string folder = dir.File("archive/of/today"); // made as needed
    ArchiveRecorder recorder;
    const auto before = std::chrono::system_clock::now();
    ASSERT_TRUE(recorder.Start({folder, "/live", 60}));
    std::string all;
    constexpr uint32_t kFrames = 7032; // 150.0 s
    for (uint32_t i = 0; i < kFrames; ++i) {
        // 0.4 MB in all: within the buffer, however late the writer runs.
        const std::string frame = AdtsFrame(i, 20 + i % 30);
        all += frame;
        WriteFrame(recorder, frame);
    }
    const auto after = std::chrono::system_clock::now();
    recorder.Finish();
    EXPECT_EQ(recorder.Problem(), "");

    const std::vector<std::string> names = FolderNames(folder);
    ASSERT_EQ(names.size(), 3u);
    std::string joined;
    std::vector<uint32_t> frameCounts;
    for (const std::string& name : names) {
        const std::string bytes = ReadFileBytes(folder + "/" + name);
        uint32_t frames = 0;
        for (size_t at = 0; at < bytes.size(); ++frames) {
            const auto header = ReadAdtsHeader(reinterpret_cast<const uint8_t*>(bytes.data()) + at, bytes.size() - at);
            ASSERT_TRUE(header) << name << " has no frame at " << at;
            at += header->bytes;
        }
        frameCounts.push_back(frames);
        joined += bytes;
    }
    EXPECT_TRUE(joined == all) << "the files are not the frames written";
    // 2813 frames are the first 60.01 s; the split comes on the next boundary.
    EXPECT_EQ(frameCounts, (std::vector<uint32_t>{2813, 2813, 1406}));

    // The second file begins 2813 frames (60.01 s of sound) after the first.
    const auto offset = std::chrono::duration_cast<std::chrono::system_clock::duration>(
        std::chrono::duration<double>(2813 * 1024 / 48000.0));
    bool firstNamed = false;
    bool secondNamed = false;
    for (auto t = before - std::chrono::seconds(1); t <= after + std::chrono::seconds(1); t += std::chrono::seconds(1)) {
        firstNamed = firstNamed || names[0] == StemAt("/live", t) + ".aac";
        secondNamed = secondNamed || names[1] == StemAt("/live", t + offset) + ".aac";
    }
    EXPECT_TRUE(firstNamed) << names[0];
    EXPECT_TRUE(secondNamed) << names[1];
}

// One file per connection with split 0; a name already taken is never written over:
// the new file takes "_2" before ".aac", and the old one keeps its bytes.
TEST(ArchiveRecorderTest, NeverWritesOverAnExistingFile)
{
    TempDir dir;
    const std::string folder = dir.File("rec");
    std::filesystem::create_directory(folder);
    const auto now = std::chrono::system_clock::now();
    // Every name the next seconds could give, taken.
    for (int s = -1; s <= 5; ++s)
        WriteFileBytes(folder + "/" + StemAt("/live", now + std::chrono::seconds(s)) + ".aac", "kept");

    ArchiveRecorder recorder;
    ASSERT_TRUE(recorder.Start({folder, "/live", 0}));
    std::string all;
    for (uint32_t i = 0; i < 3000; ++i) { // 64 s: one file, as split is 0
        all += AdtsFrame(i);
        WriteFrame(recorder, AdtsFrame(i));
    }
    recorder.Finish();
    EXPECT_EQ(recorder.Problem(), "");

    std::vector<std::string> added;
    for (const std::string& name : FolderNames(folder)) {
        if (ReadFileBytes(folder + "/" + name) == "kept")
            continue;
        added.push_back(name);
    }
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0].substr(added[0].size() - 6), "_2.aac") << added[0];
    EXPECT_TRUE(ReadFileBytes(folder + "/" + added[0]) == all);
    EXPECT_EQ(FolderNames(folder).size(), 8u);
}

// A folder that is a file, or lies beneath one: recording stops with a line naming the
// folder and the reason, and the frames that follow are taken without waiting.
TEST(ArchiveRecorderTest, AFolderThatCannotHoldFilesStopsRecordingWithTheReason)
{
    TempDir dir;
    WriteFileBytes(dir.File("plain"), "not a folder");
    const struct {
        std::string folder;
        const char* reason;
    } cases[] = {
        {dir.File("plain"), "it is not a folder"},
        {dir.File("plain") + "/below", ""},
    };
    for (const auto& c : cases) {
        ArchiveRecorder recorder;
        ASSERT_TRUE(recorder.Start({c.folder, "/live", 60}));
        WriteFrame(recorder, AdtsFrame(0));
        for (int i = 0; i < 200 && recorder.Problem().empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto start = std::chrono::steady_clock::now();
        for (uint32_t i = 1; i < 20000; ++i)
            WriteFrame(recorder, AdtsFrame(i));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        recorder.Finish();
        const std::string problem = recorder.Problem();
        EXPECT_EQ(problem.rfind("Recording stopped: cannot write to the folder \"" + c.folder + "\": ", 0), 0u)
            << problem;
        EXPECT_NE(problem.find(c.reason), std::string::npos) << problem;
        EXPECT_GT(problem.size(), RecordingStoppedText(c.folder, "").size()) << "no reason: " << problem;
        EXPECT_EQ(ReadFileBytes(dir.File("plain")), "not a folder");
    }
}

} // namespace
