#include <gtest/gtest.h>

#include <string>

#include "base/TextCodes.h"

namespace {

TEST(TextCodesTest, HexDigits)
{
    const unsigned char bytes[] = {0x00, 0x0f, 0x5a, 0xa5, 0xff};
    EXPECT_EQ(HexText(bytes, sizeof bytes), "000f5aa5ff");
    EXPECT_EQ(HexText(bytes, sizeof bytes, HexCase::Upper), "000F5AA5FF");
    EXPECT_EQ(HexText(bytes, 0), "");
    std::string out = "x";
    AppendHex(out, bytes + 2, 1);
    EXPECT_EQ(out, "x5a");
}

TEST(TextCodesTest, QueryValues)
{
    const struct {
        const char* text;
        const char* encoded;
    } cases[] = {
        {"Live Show", "Live+Show"},
        {"Rock & Roll", "Rock+%26+Roll"},
        {"a/b+c%d", "a%2Fb%2Bc%25d"},
        {"\xc3\xbc", "%C3%BC"},
        {"AZaz09-._~", "AZaz09-._~"},
        {"?=#\"", "%3F%3D%23%22"},
        {"\x7f\xff\r\n", "%7F%FF%0D%0A"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UrlEncode(c.text, UrlPart::QueryValue), c.encoded) << c.text;
}

TEST(TextCodesTest, Paths)
{
    EXPECT_EQ(UrlEncode("/live", UrlPart::Path), "/live");
    EXPECT_EQ(UrlEncode("/a b/c+d&e#f%g?h", UrlPart::Path), "/a%20b/c%2Bd%26e%23f%25g%3Fh");
    EXPECT_EQ(UrlEncode("/Caf\xc3\xa9", UrlPart::Path), "/Caf%C3%A9");
}

} // namespace
