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

// Paints view into a bitmap of the window's size and hands its DC to read.
template <class Read>
void PaintAndRead(const PanelView& view, Read read)
{
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, kMainWidth, kMainHeight);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    PaintStatusPanel(view, dc);
    read(dc);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

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

    AudioRowPixels pixels{0, 0};
    PaintAndRead(view, [&pixels](HDC dc) {
        pixels.dot = GetPixel(dc, 440, 89);
        const COLORREF red = RGB(colours::kRed.r, colours::kRed.g, colours::kRed.b);
        for (int y = 78; y < 98; ++y)
            for (int x = 360; x < 428; ++x)
                pixels.redTextPixels += GetPixel(dc, x, y) == red ? 1 : 0;
    });
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

// With several outputs the encoder indicator speaks for all of them: yellow ("2 of 3 on
// air") while only some are on air, the first output's own otherwise.
TEST(StatusPanelTest, EncoderIndicatorShowsOutputsPartlyOnAir)
{
    const COLORREF yellow = RGB(colours::kYellow.r, colours::kYellow.g, colours::kYellow.b);
    const auto encoderDot = [](size_t outputs, size_t onAir) {
        WindowResources resources;
        SupervisionState supervision;
        EngineConfig stream;
        const std::string inputName = "(Default)";
        InputLevelMonitor monitor;
        AudioQuality quality;
        PanelView view{resources, supervision, nullptr, stream, inputName, monitor, quality};
        view.outputs = outputs;
        view.outputsOnAir = onAir;
        COLORREF dot = 0;
        PaintAndRead(view, [&dot](HDC dc) { dot = GetPixel(dc, 440, 71); });
        return dot;
    };
    EXPECT_EQ(encoderDot(3, 2), yellow);
    EXPECT_EQ(encoderDot(3, 1), yellow);
    EXPECT_NE(encoderDot(1, 0), yellow) << "one output: the design's indicator";
    EXPECT_EQ(encoderDot(3, 0), encoderDot(1, 0)) << "none on air: the first output's own";
}

} // namespace
