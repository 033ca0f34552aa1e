#include <gtest/gtest.h>

#include "settings/IniFile.h"
#include "support/TempDir.h"

namespace {

SettingsStore ParseIni(const std::string& text)
{
    SettingsStore store;
    IniFile::ParseText(text, store);
    return store;
}

TEST(IniFileTest, SectionsKeysAndValuesAreTrimmedAsDocumented)
{
    const SettingsStore store = ParseIni("\xef\xbb\xbf[Ignored]\n"
                                         "orphan=before any header\n"
                                         "  [DSP]  \r\n"
                                         "\t gainDb \t=  -35  \r\n"
                                         "; comment=1\n"
                                         "# comment=2\n"
                                         "no equals sign here\n"
                                         "agcEnabled = YES\n"
                                         "compThreshDb = 8000 ; not a comment\n"
                                         "gainEnabled=\n"
                                         "[ Spaced Name ]\n"
                                         "a=b=c\n"
                                         "[]\n"
                                         "lost=value\n"
                                         "[Audio]\n"
                                         "channels=1\n"
                                         "channels=2\n");
    EXPECT_EQ(store.GetString("DSP", "gainDb", ""), "-35");
    EXPECT_EQ(store.GetString("DSP", "agcEnabled", ""), "YES");
    EXPECT_EQ(store.GetString("DSP", "compThreshDb", ""), "8000 ; not a comment");
    EXPECT_EQ(store.GetInt("DSP", "compThreshDb", 0), 8000);
    EXPECT_EQ(store.GetString("DSP", "gainEnabled", "x"), "");
    EXPECT_EQ(store.GetString(" Spaced Name ", "a", ""), "b=c");
    EXPECT_EQ(store.GetString("Audio", "channels", ""), "2");
    // A byte-order mark hides the first header, and keys outside a named section are lost.
    EXPECT_EQ(store.GetSections().count("Ignored"), 0u);
    EXPECT_EQ(store.GetSections().count(""), 0u);
    EXPECT_EQ(store.GetSections().size(), 3u);
    EXPECT_EQ(store.GetSections().at("DSP").count("no equals sign here"), 0u);
}

TEST(IniFileTest, LastLineWithoutLineFeedIsRead)
{
    const SettingsStore store = ParseIni("[Icecast]\nhost=last");
    EXPECT_EQ(store.GetString("Icecast", "host", ""), "last");
}

TEST(IniFileTest, ParseAddsToWhatTheStoreHolds)
{
    TempDir dir;
    WriteFileBytes(dir.File("config.ini"), "[Icecast]\r\nport = 8010\r\n");
    SettingsStore store;
    store.SetString("Icecast", "host", "kept");
    store.SetString("Icecast", "port", "1");
    ASSERT_TRUE(IniFile::Parse(dir.File("config.ini"), store));
    EXPECT_EQ(store.GetString("Icecast", "host", ""), "kept");
    EXPECT_EQ(store.GetInt("Icecast", "port", 0), 8010);
    EXPECT_FALSE(IniFile::Parse(dir.File("missing.ini"), store));
}

} // namespace
