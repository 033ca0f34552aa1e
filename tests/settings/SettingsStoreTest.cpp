#include <gtest/gtest.h>

#include "settings/SettingsStore.h"

namespace {

struct IntCase {
    const char* text;
    int32_t expected;
};

TEST(SettingsStoreTest, IntegersConvertLikeStoi)
{
    const IntCase cases[] = {
        {"64000", 64000},
        {"-120", -120},
        {"+5", 5},
        {"  \t42", 42},
        {"8000 ; the old port", 8000},
        {"-35x", -35},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"2147483648", -7},
        {"-2147483649", -7},
        {"99999999999999999999999", -7},
        {"abc", -7},
        {"", -7},
        {"   ", -7},
        {"- 5", -7},
        {"0x10", 0},
    };
    SettingsStore store;
    for (const IntCase& c : cases) {
        store.SetString("Audio", "value", c.text);
        EXPECT_EQ(store.GetInt("Audio", "value", -7), c.expected) << "text: '" << c.text << "'";
    }
    EXPECT_EQ(store.GetInt("Audio", "missing", -7), -7);
}

TEST(SettingsStoreTest, BooleansAcceptTrueYesOneInAnyCase)
{
    struct Case {
        const char* text;
        bool fallback;
        bool expected;
    };
    const Case cases[] = {
        {"true", false, true}, {"TRUE", false, true}, {"Yes", false, true}, {"1", false, true},
        {"on", true, false},   {"false", true, false}, {"0", true, false}, {"yes ", true, false},
        {"", true, true},      {"", false, false},
    };
    SettingsStore store;
    for (const Case& c : cases) {
        store.SetString("DSP", "flag", c.text);
        EXPECT_EQ(store.GetBool("DSP", "flag", c.fallback), c.expected) << "text: '" << c.text << "'";
    }
    EXPECT_TRUE(store.GetBool("DSP", "missing", true));
}

TEST(SettingsStoreTest, StringsKeepEmptyValuesAndLookupsCreateNothing)
{
    SettingsStore store;
    EXPECT_EQ(store.GetString("Icecast", "host", "fallback"), "fallback");
    EXPECT_EQ(store.GetInt("Icecast", "port", 1), 1);
    EXPECT_TRUE(store.GetSections().empty());

    store.SetString("Icecast", "host", "");
    EXPECT_EQ(store.GetString("Icecast", "host", "fallback"), "");
    EXPECT_EQ(store.GetSections().size(), 1u);
}

TEST(SettingsStoreTest, SettersWriteCanonicalText)
{
    SettingsStore store;
    store.SetInt("DSP", "compThreshDb", -120);
    store.SetBool("DSP", "hpfEnabled", true);
    store.SetBool("DSP", "gateEnabled", false);
    EXPECT_EQ(store.GetString("DSP", "compThreshDb", ""), "-120");
    EXPECT_EQ(store.GetString("DSP", "hpfEnabled", ""), "true");
    EXPECT_EQ(store.GetString("DSP", "gateEnabled", ""), "false");
    store.SetInt("DSP", "compThreshDb", 5);
    EXPECT_EQ(store.GetInt("DSP", "compThreshDb", 0), 5);
}

TEST(SettingsStoreTest, NamesAreCaseSensitiveAndOrderedBytewise)
{
    SettingsStore store;
    store.SetString("audio", "k", "lower");
    store.SetString("Audio", "k", "upper");
    store.SetString("Audio", "kk", "x");
    store.SetString("Audio", "\xc3\xbc", "y");
    EXPECT_EQ(store.GetString("Audio", "k", ""), "upper");
    EXPECT_EQ(store.GetString("audio", "k", ""), "lower");
    std::vector<std::string> keys;
    for (const auto& [key, value] : store.GetSections().at("Audio"))
        keys.push_back(key);
    // Shorter first on a common prefix; bytes above 0x7f sort after ASCII.
    EXPECT_EQ(keys, (std::vector<std::string>{"k", "kk", "\xc3\xbc"}));
    EXPECT_EQ(store.GetSections().begin()->first, "Audio");
}

} // namespace
