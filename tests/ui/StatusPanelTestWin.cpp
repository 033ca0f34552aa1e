#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    StatusPanel panel;
    PaintStatusPanel(view, panel, dc);
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

// The panel redraws only the parts whose content changed. After every change below, its
// frame must match a panel drawn from scratch with the same content, and every pixel
// that changed must lie in a rectangle it reported for painting.
class PanelPixels {
public:
    PanelPixels()
    {
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateTopDownDib(dc, kMainWidth, kMainHeight, reinterpret_cast<void**>(&bits));
        old = SelectObject(dc, bitmap);
    }
    ~PanelPixels()
    {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    std::vector<uint32_t> Of(const StatusPanel& panel)
    {
        panel.Blit(dc, RECT{0, 0, kMainWidth, kMainHeight});
        GdiFlush();
        return std::vector<uint32_t>(bits, bits + kMainWidth * kMainHeight);
    }

private:
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    uint32_t* bits = nullptr;
};

TEST(StatusPanelTest, RedrawsExactlyWhatChanged)
{
    WindowResources resources;
    resources.labelFont.Reset(CreateUiFont(16));
    resources.buttonFont.Reset(CreateUiFont(18));
    resources.titleFont.Reset(CreateUiFont(22));
    PanelContent content{.name = "-",
                         .title = "-",
                         .listeners = "-",
                         .internet = {"Checking...", IndicatorColour::Neutral},
                         .encoder = {"Offline", IndicatorColour::Red},
                         .audio = {"Mute", IndicatorColour::Neutral},
                         .recording = {},
                         .quality = "64 kbps | 44.1 kHz | Stereo | aacPlus",
                         .start = "-",
                         .server = "127.0.0.1:8000/live",
                         .elapsed = "0:00:00",
                         .input = "(Default)",
                         .data = "0.00 KB"};

    struct Step {
        const char* change;
        void (*apply)(PanelContent&);
    };
    const Step steps[] = {
        {"nothing", [](PanelContent&) {}},
        {"on air", [](PanelContent& c) {
             c.encoder = {"Connected", IndicatorColour::Green};
             c.start = "2026.12.10.01:02:03";
             c.elapsed = "0:00:01";
             c.data = "7.50 KB";
             c.litLeft = 20;
             c.litRight = 31;
         }},
        {"a long name and a title", [](PanelContent& c) {
             c.name = "A Station Whose Name Is Far Too Long For The Box";
             c.title = "Morning Show";
             c.listeners = "12";
         }},
        {"meters fall, data grows by a digit", [](PanelContent& c) {
             c.litLeft = 1;
             c.litRight = 0;
             c.data = "10.25 KB";
         }},
        {"recording", [](PanelContent& c) { c.recording = Indicator{"REC", IndicatorColour::Green}; }},
        {"recording stopped, dead air", [](PanelContent& c) {
             c.recording = Indicator{"Recording stopped", IndicatorColour::Red};
             c.audio = {"Dead air", IndicatorColour::Red};
         }},
        {"stream lost", [](PanelContent& c) {
             c.recording.reset();
             c.encoder = {"Disconnected", IndicatorColour::Red};
             c.elapsed = "0:00:00";
             c.data = "0.00 KB";
             c.litLeft = 31;
         }},
    };
    PanelPixels pixels;
    StatusPanel panel;
    ASSERT_EQ(panel.Update(content, resources).size(), 1u) << "the first update is the whole panel";
    std::vector<uint32_t> before = pixels.Of(panel);
    for (const Step& step : steps) {
        step.apply(content);
        const std::vector<RECT> changed = panel.Update(content, resources);
        const std::vector<uint32_t> after = pixels.Of(panel);
        StatusPanel fresh;
        fresh.Update(content, resources);
        EXPECT_TRUE(after == pixels.Of(fresh)) << step.change << ": the frame differs from a fresh one";
        int outside = 0;
        for (int y = 0; y < kMainHeight; ++y)
            for (int x = 0; x < kMainWidth; ++x) {
                const size_t i = static_cast<size_t>(y * kMainWidth + x);
                if (after[i] == before[i])
                    continue;
                bool inside = false;
                for (const RECT& r : changed)
                    inside = inside || (x >= r.left && x < r.right && y >= r.top && y < r.bottom);
                outside += inside ? 0 : 1;
            }
        EXPECT_EQ(outside, 0) << step.change << ": changed pixels outside the reported rectangles";
        if (&step == &steps[0]) {
            EXPECT_TRUE(changed.empty()) << "nothing changed, nothing to paint";
        }
        before = after;
    }
    // The lamp's dot, left of the minimise mark, red while the recording stands stopped.
    content.recording = RecordingIndicator(RecordingState::Stopped);
    panel.Update(content, resources);
    const std::vector<uint32_t> lamp = pixels.Of(panel);
    const uint32_t dot = lamp[static_cast<size_t>(17 * kMainWidth + 395)];
    EXPECT_EQ(RGB((dot >> 16) & 0xFF, (dot >> 8) & 0xFF, dot & 0xFF), RGB(colours::kRed.r, colours::kRed.g, colours::kRed.b));
    EXPECT_EQ(RecordingIndicator(RecordingState::On).text, "REC");
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
