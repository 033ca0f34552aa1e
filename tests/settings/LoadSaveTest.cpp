#include <gtest/gtest.h>

#include <filesystem>

#include "base/Platform.h"
#if !KV_OS_WINDOWS
#include <sys/stat.h>
#endif

#include "settings/SettingsFile.h"
#include "settings/SettingsStore.h"
#include "support/TempDir.h"

namespace {

const char* kIni = "[Icecast]\n"
                   "host = ini.example\n"
                   "port=8005\n"
                   "[Extra]\n"
                   "unknownKey = stays\n";

TEST(LoadSaveTest, NothingOnDiskLoadsNothingAndCreatesNothing)
{
    TempDir dir;
    SettingsStore store;
    EXPECT_FALSE(store.LoadSettingsFile(dir.File("config.dat")));
    EXPECT_TRUE(store.GetSections().empty());
    EXPECT_FALSE(FileExists(dir.File("config.dat")));
}

TEST(LoadSaveTest, LegacyFileIsImportedAndSavedAtOnce)
{
    TempDir dir;
    WriteFileBytes(dir.File("config.ini"), kIni);
    SettingsStore store;
    ASSERT_TRUE(store.LoadSettingsFile(dir.File("config.dat")));
    EXPECT_EQ(store.GetString("Icecast", "host", ""), "ini.example");
    ASSERT_TRUE(FileExists(dir.File("config.dat")));

    // Later edits of the legacy file are ignored while the settings file reads.
    WriteFileBytes(dir.File("config.ini"), "[Icecast]\nhost=changed\n");
    SettingsStore again;
    ASSERT_TRUE(again.LoadSettingsFile(dir.File("config.dat")));
    EXPECT_EQ(again.GetString("Icecast", "host", ""), "ini.example");
    EXPECT_EQ(again.GetString("Extra", "unknownKey", ""), "stays");
}

TEST(LoadSaveTest, SaveThenLoadKeepsUnknownSectionsAndKeys)
{
    TempDir dir;
    SettingsStore store;
    store.SetString("Future", "option", "value with = and ; inside");
    store.SetString("Icecast", "password", "p\xc3\xa4ss");
    store.SetInt("Audio", "sampleRate", 44100);
    ASSERT_TRUE(store.SaveSettingsFile(dir.File("config.dat")));
    EXPECT_FALSE(FileExists(dir.File("config.dat.tmp")));

    SettingsStore loaded;
    ASSERT_TRUE(loaded.LoadSettingsFile(dir.File("config.dat")));
    EXPECT_EQ(loaded.GetSections(), store.GetSections());

    // Saving over an existing file replaces it whole.
    loaded.SetString("Future", "option", "short");
    ASSERT_TRUE(loaded.SaveSettingsFile(dir.File("config.dat")));
    SettingsStore reloaded;
    ASSERT_TRUE(reloaded.LoadSettingsFile(dir.File("config.dat")));
    EXPECT_EQ(reloaded.GetString("Future", "option", ""), "short");
}

TEST(LoadSaveTest, UnreadableSettingsFileFallsBackToTheLegacyFile)
{
    SettingsStore good;
    good.SetString("Icecast", "host", "dat.example");
    const std::string image = EncodeSettingsFile(good.GetSections());

    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty", ""},
        {"header only", "KVCF\x01"},
        {"wrong magic", "KVCX" + image.substr(4)},
        {"wrong version", "KVCF\x02" + image.substr(5)},
        {"truncated payload", image.substr(0, image.size() - 4)},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteFileBytes(dir.File("config.dat"), c.bytes);
        WriteFileBytes(dir.File("config.ini"), kIni);
        SettingsStore store;
        EXPECT_TRUE(store.LoadSettingsFile(dir.File("config.dat"))) << c.what;
        EXPECT_EQ(store.GetString("Icecast", "host", ""), "ini.example") << c.what;
        // The import replaced the unreadable file with a good one.
        SettingsStore reread;
        std::string bytes = ReadFileBytes(dir.File("config.dat"));
        EXPECT_TRUE(DecodeSettingsFile(bytes, reread)) << c.what;
    }
}

// A damaged file contributes nothing: not alone, and not merged into the import of the
// legacy file (which is then saved).
TEST(LoadSaveTest, CorruptFileContributesNothing)
{
    SettingsStore good;
    good.SetString("A", "first", "one");
    good.SetString("B", "second", "two");
    const std::string image = EncodeSettingsFile(good.GetSections());
    const std::string damaged = image.substr(0, image.size() - 3);
    for (const bool legacy : {false, true}) {
        SCOPED_TRACE(legacy ? "with config.ini" : "alone");
        TempDir dir;
        WriteFileBytes(dir.File("config.dat"), damaged);
        if (legacy)
            WriteFileBytes(dir.File("config.ini"), kIni);
        SettingsStore store;
        EXPECT_EQ(store.LoadSettingsFile(dir.File("config.dat")), legacy);
        EXPECT_EQ(store.GetString("A", "first", "missing"), "missing");
        if (!legacy) {
            EXPECT_TRUE(store.GetSections().empty());
            // The damaged file is left alone: loading never writes unless it imported.
            EXPECT_EQ(ReadFileBytes(dir.File("config.dat")), damaged);
            continue;
        }
        SettingsStore saved;
        ASSERT_TRUE(DecodeSettingsFile(ReadFileBytes(dir.File("config.dat")), saved));
        EXPECT_EQ(saved.GetSections(), store.GetSections());
        EXPECT_EQ(saved.GetString("A", "first", "missing"), "missing");
        EXPECT_EQ(saved.GetString("Icecast", "host", ""), "ini.example");
    }
}

// A folder, a FIFO or an unreadable file named config.dat or config.ini counts as
// missing: no exception, no waiting.
TEST(LoadSaveTest, FileThatIsNoRegularFileCountsAsMissing)
{
    for (const char* name : {"config.dat", "config.ini"}) {
        SCOPED_TRACE(name);
        const bool datIsOdd = std::string(name) == "config.dat";
        {
            TempDir dir;
            std::filesystem::create_directory(dir.File(name));
            if (datIsOdd)
                WriteFileBytes(dir.File("config.ini"), kIni);
            SettingsStore store;
            EXPECT_EQ(store.LoadSettingsFile(dir.File("config.dat")), datIsOdd);
            EXPECT_EQ(store.GetString("Icecast", "host", ""), datIsOdd ? "ini.example" : "");
        }
#if !KV_OS_WINDOWS
        TempDir dir;
        ASSERT_EQ(mkfifo(dir.File(name).c_str(), 0600), 0);
        if (datIsOdd)
            WriteFileBytes(dir.File("config.ini"), kIni);
        SettingsStore store;
        EXPECT_EQ(store.LoadSettingsFile(dir.File("config.dat")), datIsOdd);
        EXPECT_EQ(store.GetString("Icecast", "host", ""), datIsOdd ? "ini.example" : "");
#endif
    }
}

TEST(LoadSaveTest, FailedSaveReportsAndLeavesThePreviousFile)
{
    TempDir dir;
    SettingsStore store;
    store.SetString("Audio", "channels", "1");
    EXPECT_FALSE(store.SaveSettingsFile(dir.File("no-such-folder/config.dat")));

    ASSERT_TRUE(store.SaveSettingsFile(dir.File("config.dat")));
    const std::string before = ReadFileBytes(dir.File("config.dat"));
    // A folder where the temporary file should go makes the write fail.
    std::filesystem::create_directory(dir.File("config.dat.tmp"));
    store.SetString("Audio", "channels", "2");
    EXPECT_FALSE(store.SaveSettingsFile(dir.File("config.dat")));
    EXPECT_EQ(ReadFileBytes(dir.File("config.dat")), before);
}

} // namespace
