#include <gtest/gtest.h>

#include <string>

#include "ui/StatusPanel.h"

namespace {

// Every character is 10 pixels wide; a UTF-8 sequence counts at its last byte, so a
// prefix cut inside one would look narrower than the whole character.
int FakeWidth(const std::string& text)
{
    int width = 0;
    for (unsigned char c : text)
        if (c < 0xC0)
            width += 10;
    return width;
}

TEST(FitTextTest, ShortensWithEllipsisWithinTheSpace)
{
    struct Case {
        std::string text;
        int x;
        int maxRight;
        std::string fitted;
    };
    const Case cases[] = {
        {"", 0, 5, ""},
        {"Radio", 10, 60, "Radio"},               // ends exactly at maxRight
        {"Radio One", 10, 80, "Radi..."},         // 40 for "..." leaves 40: four characters
        {"Radio", 0, 40, "R..."},                 // avail 10: one character
        {"Radio", 0, 39, "..."},                  // no character fits
        {"Radio", 0, 30, "..."},                  // avail < 1
        {"M\xC3\xBCnchen FM", 0, 50, "M\xC3\xBC..."}, // avail 20: "Mü" fits
        {"M\xC3\xBCnchen FM", 0, 45, "M..."},        // avail 15: never half of "ü"
    };
    for (const Case& c : cases)
        EXPECT_EQ(FitText(c.text, c.x, c.maxRight, FakeWidth), c.fitted) << c.text << " " << c.maxRight;
}

} // namespace
