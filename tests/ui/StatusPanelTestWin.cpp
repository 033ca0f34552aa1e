#include <gtest/gtest.h>

#include <string>

#include "audio/InputLevelMonitor.h"
#include "ui/ControlColours.h"
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

// The audio indicator's dot (centre 440, 89) and its text left of it, painted into a
// bitmap of the window's size with no stream and no input: the quality reads "Mute" in
// grey, the alarm turns both red.
struct AudioRowPixels {
    COLORREF dot;
    int redTextPixels;
};

AudioRowPixels PaintAudioRow(bool deadAir, uint32_t tickCount)
{
    WindowResources resources;
    SupervisionState supervision;
    supervision.deadAir = deadAir;
    supervision.tickCount = tickCount;
    EngineConfig stream;
    const std::string inputName = "(Default)";
    InputLevelMonitor monitor;
    AudioQuality quality;
    const PanelView view{resources, supervision, nullptr, stream, inputName, monitor, quality};

    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, kMainWidth, kMainHeight);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    StatusPanel panel;
    PaintStatusPanel(view, panel, dc);
    AudioRowPixels pixels{GetPixel(dc, 440, 89), 0};
    const COLORREF red = RGB(colours::kRed.r, colours::kRed.g, colours::kRed.b);
    for (int y = 78; y < 98; ++y)
        for (int x = 360; x < 428; ++x)
            pixels.redTextPixels += GetPixel(dc, x, y) == red ? 1 : 0;
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return pixels;
}

TEST(StatusPanelTest, DeadAirTurnsTheAudioIndicatorRed)
{
    const COLORREF red = RGB(colours::kRed.r, colours::kRed.g, colours::kRed.b);
    const COLORREF neutral = RGB(colours::kNeutral.r, colours::kNeutral.g, colours::kNeutral.b);

    const AudioRowPixels quiet = PaintAudioRow(false, 0);
    EXPECT_EQ(quiet.dot, neutral) << "no sound and no alarm: the grey of Mute";
    EXPECT_EQ(quiet.redTextPixels, 0);

    const AudioRowPixels alarm = PaintAudioRow(true, 0);
    EXPECT_EQ(alarm.dot, red);
    EXPECT_GT(alarm.redTextPixels, 0) << "\"Dead air\" is written in red";

    // At its turn the label reads "Audio", in the alarm's colour too.
    const AudioRowPixels label = PaintAudioRow(true, 4 * 20);
    EXPECT_EQ(label.dot, red);
    EXPECT_GT(label.redTextPixels, 0);
    EXPECT_LT(label.redTextPixels, alarm.redTextPixels) << "\"Audio\" is shorter than \"Dead air\"";
}

} // namespace
