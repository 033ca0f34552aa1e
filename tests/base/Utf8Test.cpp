#include <gtest/gtest.h>

#include <string>

#include "base/Utf8.h"

namespace {

// Every byte of Windows-1252 becomes one valid UTF-8 character, and the high table is
// the one Windows uses: spot checks across 0x80-0x9F and the Latin-1 half.
TEST(Utf8Test, Windows1252MapsEveryByte)
{
    const struct {
        unsigned char byte;
        const char* utf8;
    } cases[] = {
        {0x41, "A"},          {0x80, "\u20AC"},     {0x81, "\xC2\x81"},   {0x82, "\u201A"}, {0x8A, "\u0160"},
        {0x8D, "\xC2\x8D"},   {0x8F, "\xC2\x8F"},   {0x90, "\xC2\x90"},   {0x92, "\u2019"}, {0x96, "\u2013"},
        {0x99, "\u2122"},     {0x9D, "\xC2\x9D"},   {0x9F, "\u0178"},     {0xA0, "\u00A0"}, {0xE9, "\u00E9"},
        {0xFF, "\u00FF"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Windows1252ToUtf8(std::string(1, static_cast<char>(c.byte))), c.utf8) << int(c.byte);

    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    const std::string converted = Windows1252ToUtf8(all);
    EXPECT_TRUE(IsValidUtf8(converted));
    // 128 ASCII bytes, 27 assigned high bytes of two or three bytes, 5 C1 and 96 Latin-1 of two.
    size_t characters = 0;
    for (const char c : converted)
        characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    EXPECT_EQ(characters, 256u);
}

// A playout program's first line as the stream's title.
TEST(Utf8Test, TitleLineReadsThePlayoutFile)
{
    const struct {
        std::string file;
        std::string title;
    } cases[] = {
        {"Artist - Song", "Artist - Song"},
        {"Artist - Song\nNext line\n", "Artist - Song"},
        {"Artist - Song\r\nNext line\r\n", "Artist - Song"},
        {"Old Mac\rsecond", "Old Mac"},
        {"\xEF\xBB\xBF" "Caf\xC3\xA9", "Caf\u00E9"},
        {"Caf\xE9", "Caf\u00E9"},                                           // Windows-1252
        {"\x93Quoted\x94 \x96 dash", "\u201CQuoted\u201D \u2013 dash"},     // Windows-1252 high table
        {"M\xC3\xBCller", "M\u00FCller"},                                   // valid UTF-8 stays
        {"\xC3\xA9t\xE9", "\u00C3\u00A9t\u00E9"},                           // one bad byte: all Windows-1252
        {"  \t Padded \t ", "Padded"},
        {"\u00A0\u3000Wide spaces\u2003", "Wide spaces"},
        {"Tab\there", "Tabhere"},
        {"Bell\x07 and\x1B]0;escape", "Bell and]0;escape"},
        {"C1\xC2\x85 next\xC2\x9Fline", "C1 nextline"},                    // C1 controls in UTF-8
        {"Unassigned\x81\x8D here", "Unassigned here"},                    // Windows-1252 gaps are C1
        {"Del\x7F", "Del"},
        {"", ""},
        {"\n", ""},
        {"   \r\nSecond", ""},
        {"\xEF\xBB\xBF", ""},
        {"\xEF\xBB\xBF\xEF\xBB\xBFTwo BOMs", "\uFEFFTwo BOMs"},          // only the leading one is a BOM
    };
    for (const auto& c : cases) {
        const std::string title = TitleLine(c.file, 255);
        EXPECT_EQ(title, c.title) << c.file;
        EXPECT_TRUE(IsValidUtf8(title)) << c.file;
    }
    EXPECT_EQ(TitleLine(std::string("Nul\0byte", 8), 255), "Nulbyte");
}

// Windows playout programs write "Unicode" text files: UTF-16 with a byte-order mark.
TEST(Utf8Test, TitleLineReadsUtf16WithAByteOrderMark)
{
    using namespace std::string_literals;
    const struct {
        std::string file;
        std::string title;
    } cases[] = {
        {"\xFF\xFE" "C\0a\0f\0\xE9\0 \0\xAC\x20\r\0\n\0N\0"s, "Caf\u00E9 \u20AC"},       // little-endian
        {"\xFE\xFF" "\0C\0a\0f\0\xE9\0\n\0N"s, "Caf\u00E9"},                               // big-endian
        {"\xFF\xFE" "=\xD8\x03\xDE!\0"s, "\U0001F603!"},                                  // a surrogate pair
        {"\xFF\xFE" "=\xD8!\0"s, "\uFFFD!"},                                                 // a lone surrogate
        {"\xFF\xFE" " \0 \0T\0\t\0a\0b\0\x07\0 \0"s, "Tab"},                              // trimmed, controls gone
        {"\xFF\xFE" "O\0K\0x"s, "OK"},                                                      // an odd last byte
        {"\xFF\xFE"s, ""},
    };
    for (const auto& c : cases) {
        const std::string title = TitleLine(c.file, 255);
        EXPECT_EQ(title, c.title) << c.title;
        EXPECT_TRUE(IsValidUtf8(title)) << c.title;
    }
}

// The cut keeps whole characters and never leaves a space at the end.
TEST(Utf8Test, TitleLineIsCutOnACharacterBoundary)
{
    const std::string ascii(300, 'a');
    EXPECT_EQ(TitleLine(ascii, 255), std::string(255, 'a'));

    std::string euros; // three bytes each: 85 fit in 255
    for (int i = 0; i < 100; ++i)
        euros += "\u20AC";
    EXPECT_EQ(TitleLine(euros, 255).size(), 255u);
    EXPECT_EQ(TitleLine("x" + euros, 255).size(), 253u);
    EXPECT_EQ(TitleLine("xy" + euros, 255).size(), 254u);
    EXPECT_TRUE(IsValidUtf8(TitleLine("x" + euros, 255)));

    // Windows-1252 grows when converted: 200 bytes of 0xE9 are 400 bytes of UTF-8.
    const std::string latin(200, '\xE9');
    const std::string cut = TitleLine(latin, 255);
    EXPECT_EQ(cut.size(), 254u);
    EXPECT_TRUE(IsValidUtf8(cut));

    EXPECT_EQ(TitleLine(std::string(254, 'a') + " b", 255), std::string(254, 'a'));
    EXPECT_EQ(TitleLine(std::string(20, ' ') + std::string(250, 'a'), 255), std::string(250, 'a'));
}

} // namespace
