#include <gtest/gtest.h>

#include "settings/SettingsFile.h"
#include "settings/SettingsStore.h"
#include "support/TempDir.h"

namespace {

std::string U16(unsigned n)
{
    return std::string{static_cast<char>(n & 0xff), static_cast<char>(n >> 8)};
}

std::string Str(const std::string& s)
{
    return U16(static_cast<unsigned>(s.size())) + s;
}

SettingsStore SampleStore()
{
    SettingsStore store;
    store.SetString("Icecast", "host", "radio.example");
    store.SetInt("Icecast", "port", 8005);
    store.SetString("Icecast", "password", "hackme");
    store.SetString("Icecast", "streamName", "Morning Show \xc3\xbc");
    store.SetString("DSP", "gainDb", "-35");
    store.SetString("Custom", "futureKey", "kept as it is");
    store.SetString("Custom", "empty", "");
    store.GetSections()["Output3"]; // a section with no key
    return store;
}

TEST(SettingsFileTest, PayloadLayoutIsSectionsKeysAndClosingZero)
{
    SettingsStore store;
    store.SetString("B", "k", "v");
    store.SetString("A", "x", "");
    store.SetString("A", "a", "1");
    const std::string expected = Str("A") + U16(2) + Str("a") + Str("1") + Str("x") + Str("") + Str("B") + U16(1) +
                                 Str("k") + Str("v") + U16(0);
    EXPECT_EQ(EncodeSettingsPayload(store.GetSections()), expected);
}

TEST(SettingsFileTest, ScrambleIsItsOwnInverseAndDependsOnPosition)
{
    std::string plain(600, 'a');
    std::string scrambled = plain;
    ScrambleSettingsPayload(scrambled);
    EXPECT_NE(scrambled, plain);
    // Key period 32 and position period 256 together repeat only every 256 bytes.
    EXPECT_NE(scrambled.substr(0, 32), scrambled.substr(32, 32));
    EXPECT_EQ(scrambled.substr(0, 256), scrambled.substr(256, 256));
    ScrambleSettingsPayload(scrambled);
    EXPECT_EQ(scrambled, plain);
}

TEST(SettingsFileTest, FileImageHasMagicVersionAndScrambledPayload)
{
    const SettingsStore store = SampleStore();
    const std::string image = EncodeSettingsFile(store.GetSections());
    ASSERT_GT(image.size(), 5u);
    EXPECT_EQ(image.substr(0, 4), "KVCF");
    EXPECT_EQ(image[4], '\x01');
    EXPECT_EQ(image.find("radio.example"), std::string::npos) << "payload must not be readable as plain text";
    std::string payload = image.substr(5);
    ScrambleSettingsPayload(payload);
    EXPECT_EQ(payload, EncodeSettingsPayload(store.GetSections()));
}

TEST(SettingsFileTest, RoundTripKeepsEverySectionAndKey)
{
    const SettingsStore original = SampleStore();
    SettingsStore decoded;
    decoded.SetString("Stale", "entry", "removed by decoding");
    ASSERT_TRUE(DecodeSettingsFile(EncodeSettingsFile(original.GetSections()), decoded));
    EXPECT_EQ(decoded.GetSections(), original.GetSections());
}

TEST(SettingsFileTest, BytesAfterTheClosingZeroAreIgnored)
{
    const SettingsStore original = SampleStore();
    const std::string payload = EncodeSettingsPayload(original.GetSections()) + "garbage\x01\x02";
    SettingsStore decoded;
    ASSERT_TRUE(DecodeSettingsPayload(payload, decoded));
    EXPECT_EQ(decoded.GetSections(), original.GetSections());
}

TEST(SettingsFileTest, TruncatedPayloadsFailAndContributeNothing)
{
    SettingsStore store;
    store.SetString("A", "first", "one");
    store.SetString("B", "second", "two");
    const std::string payload = EncodeSettingsPayload(store.GetSections());
    // Every cut short of the closing zero must fail, whatever field it lands in.
    for (size_t cut = 0; cut + 2 < payload.size(); ++cut) {
        SettingsStore decoded;
        EXPECT_FALSE(DecodeSettingsPayload(payload.substr(0, cut), decoded)) << "cut at " << cut;
    }
    // Cut inside B's value: A's entry, decoded before the damage, must not come through,
    // and what the store held stays.
    SettingsStore partial;
    partial.SetString("Held", "key", "value");
    EXPECT_FALSE(DecodeSettingsPayload(payload.substr(0, payload.size() - 3), partial));
    EXPECT_EQ(partial.GetString("A", "first", "missing"), "missing");
    EXPECT_EQ(partial.GetString("Held", "key", ""), "value");
}

TEST(SettingsFileTest, WrongHeaderIsRejected)
{
    const std::string good = EncodeSettingsFile(SampleStore().GetSections());
    SettingsStore store;
    std::string badMagic = good;
    badMagic[0] = 'X';
    EXPECT_FALSE(DecodeSettingsFile(badMagic, store));
    std::string badVersion = good;
    badVersion[4] = '\x02';
    EXPECT_FALSE(DecodeSettingsFile(badVersion, store));
    EXPECT_FALSE(DecodeSettingsFile("KVCF\x01", store));
    EXPECT_FALSE(DecodeSettingsFile("", store));
}

TEST(SettingsFileTest, SectionWithEmptyNameIsNotWritten)
{
    SettingsStore store;
    store.SetString("", "orphan", "x");
    store.SetString("Audio", "channels", "2");
    SettingsStore decoded;
    ASSERT_TRUE(DecodeSettingsPayload(EncodeSettingsPayload(store.GetSections()), decoded));
    EXPECT_EQ(decoded.GetString("Audio", "channels", ""), "2");
    EXPECT_EQ(decoded.GetSections().count(""), 0u);
}

TEST(SettingsFileTest, LongValuesRoundTripUpToTheFormatLimit)
{
    SettingsStore store;
    store.SetString("Icecast", "streamGenre", std::string(65535, 'g'));
    SettingsStore decoded;
    ASSERT_TRUE(DecodeSettingsFile(EncodeSettingsFile(store.GetSections()), decoded));
    EXPECT_EQ(decoded.GetString("Icecast", "streamGenre", "").size(), 65535u);
}

} // namespace
