#include "ui/StatusPanel.h"

#include <algorithm>

#include "engine/InputMeters.h"
#include "engine/OutputStates.h"
#include "engine/StatusTexts.h"
#include "icecast/ServerAddress.h"
#include "ui/Controls.h"
#include "ui/Gdi.h"
#include "ui/Shapes.h"
#include "ui/Theme.h"
#include "base/WideText.h"

namespace {

// Server names and titles come from the status document as UTF-8, so every panel text
// is widened and drawn with the wide text functions.
SIZE Measure(HDC dc, HFONT font, const std::string& text)
{
    SelectionScope select(dc, font);
    const std::wstring wide = Widen(text);
    SIZE size{0, 0};
    GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
    return size;
}

void DrawLabel(HDC dc, int x, int y, const std::string& text, HFONT font, COLORREF colour)
{
    SelectionScope select(dc, font);
    SetTextColor(dc, colour);
    SetBkMode(dc, TRANSPARENT);
    const std::wstring wide = Widen(text);
    TextOutW(dc, x, y, wide.c_str(), static_cast<int>(wide.size()));
}

// Draws text with its right edge at rightX; returns its left edge.
int DrawRightAligned(HDC dc, int rightX, int y, const std::string& text, HFONT font, COLORREF colour)
{
    const int left = rightX - Measure(dc, font, text).cx;
    DrawLabel(dc, left, y, text, font, colour);
    return left;
}

void FillBox(HDC dc, int x, int y, int width, int height, COLORREF colour)
{
    GdiObject<HBRUSH> brush(CreateSolidBrush(colour));
    const RECT r{x, y, x + width, y + height};
    FillRect(dc, &r, brush.Get());
}

std::string Fit(HDC dc, const std::string& text, HFONT font, int x, int maxRight)
{
    return FitText(text, x, maxRight, [dc, font](const std::string& t) { return static_cast<int>(Measure(dc, font, t).cx); });
}

COLORREF IndicatorRgb(IndicatorColour colour)
{
    switch (colour) {
    case IndicatorColour::Green:
        return ToColorref(colours::kGreen);
    case IndicatorColour::Yellow:
        return ToColorref(colours::kYellow);
    case IndicatorColour::Orange:
        return ToColorref(colours::kOrange);
    case IndicatorColour::Red:
        return ToColorref(colours::kRed);
    case IndicatorColour::Neutral:
        break;
    }
    return ToColorref(colours::kNeutral);
}

void DrawIndicator(HDC dc, const PanelView& view, int centreY, const Indicator& indicator, bool showName,
                   const char* name)
{
    const COLORREF colour = IndicatorRgb(indicator.colour);
    FillCircle(dc, kMainWidth - 20 - 5 + 0.5f, centreY - 5 + 0.5f, 10.0f, colour);
    DrawRightAligned(dc, kMainWidth - 20 - 5 - 4, centreY - 9, showName ? name : indicator.text, view.resources.labelFont.Get(), colour);
}

void DrawMeter(HDC dc, const PanelView& view, int y, float level, const char* label)
{
    DrawLabel(dc, 18, y - 1, label, view.resources.labelFont.Get(), ToColorref(colours::kLabel));
    const int lit = LitDots(level);
    CircleBatch dots(dc);
    for (int i = 0; i < kMeterDots; ++i)
        dots.Fill(MeterDotCentreX(i, kMainWidth) - 5 + 0.5f, y + 0.5f, 10.0f, MeterDotColour(i, i < lit));
}

void DrawTitleStrip(HDC dc, const PanelView& view)
{
    FillBox(dc, 0, 0, kMainWidth, kStripHeight, ToColorref(colours::kPanel));
    int logoWidth = 16;
    if (view.resources.logoBitmap.Get()) {
        MemoryDc logoDc(dc);
        {
            SelectionScope select(logoDc.Dc(), view.resources.logoBitmap.Get());
            const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
            AlphaBlend(dc, 6, (kStripHeight - view.resources.logoHeight) / 2, view.resources.logoWidth, view.resources.logoHeight, logoDc.Dc(), 0, 0,
                       view.resources.logoWidth, view.resources.logoHeight, blend);
        }
        logoWidth = view.resources.logoWidth;
    } else if (view.resources.smallIcon.Get()) {
        DrawIconEx(dc, 6, 9, view.resources.smallIcon.Get(), 16, 16, 0, nullptr, DI_NORMAL);
    }
    const std::string title = "Kelm Vantoro";
    DrawLabel(dc, logoWidth + 10, 6, title, view.resources.titleFont.Get(), ToColorref(colours::kValue));
    const int titleWidth = Measure(dc, view.resources.titleFont.Get(), title).cx;
    DrawLabel(dc, logoWidth + 10 + titleWidth + 6, 12, "v1.0", view.resources.labelFont.Get(), ToColorref(colours::kNeutral));
    DrawLabel(dc, kMainWidth - 50, 6, "__", view.resources.buttonFont.Get(), ToColorref(colours::kLabel));
    DrawLabel(dc, kMainWidth - 22, 6, "X", view.resources.buttonFont.Get(), ToColorref(colours::kLabel));
}

void DrawServerBox(HDC dc, const PanelView& view, float left, float right)
{
    const SupervisionState& s = view.supervision;
    const int w = kMainWidth;
    FillBox(dc, 8, 38, w - 16, 66, ToColorref(colours::kPanel));
    struct Row {
        const char* label;
        std::string value;
        bool fit;
    };
    const Row rows[] = {
        {"Name:", s.serverName.empty() ? "-" : s.serverName, true},
        {"Title:", s.streamTitle.empty() ? "-" : s.streamTitle, true},
        {"Listeners:", s.listeners < 0 ? "-" : std::to_string(s.listeners), false},
    };
    int y = 44;
    for (const Row& row : rows) {
        DrawLabel(dc, 18, y, row.label, view.resources.labelFont.Get(), ToColorref(colours::kLabel));
        const int x = Measure(dc, view.resources.labelFont.Get(), row.label).cx + 24;
        DrawLabel(dc, x, y, row.fit ? Fit(dc, row.value, view.resources.labelFont.Get(), x, w - 140) : row.value, view.resources.labelFont.Get(),
                  ToColorref(colours::kValue));
        y += 18;
    }

    const uint32_t phase = IndicatorPhase(s.tickCount);
    const StreamEngine* engine = view.engine;
    DrawIndicator(dc, view, 53, InternetIndicator(s.internetState), phase == 0, "Internet");
    DrawIndicator(dc, view, 71,
                  OutputsIndicator(LiveEncoderIndicator(s.attemptRunning, engine != nullptr,
                                                        engine ? engine->GetState() : EngineState::Idle,
                                                        engine ? engine->ConsecutiveSendFailures() : 0),
                                   view.outputsOnAir, view.outputs),
                  phase == 2, "Encoder");
    DrawIndicator(dc, view, 89, AudioIndicator(view.audioQuality.Update(left, right), s.deadAir), phase == 4,
                  "Audio");
}

// One row of the stream box: a label and value on the left, shortened to end 10
// pixels before the right-hand label, and a right-aligned value with its label.
void DrawStreamRow(HDC dc, const PanelView& view, int y, const char* leftLabel, const std::string& leftValue,
                   const char* rightLabel, const std::string& rightValue, HFONT rightFont)
{
    const int valueLeft = DrawRightAligned(dc, kMainWidth - 18, y, rightValue, rightFont, ToColorref(colours::kValue));
    const int labelLeft = DrawRightAligned(dc, valueLeft - 8, y, rightLabel, view.resources.labelFont.Get(), ToColorref(colours::kLabel));
    DrawLabel(dc, 18, y, leftLabel, view.resources.labelFont.Get(), ToColorref(colours::kLabel));
    const int x = Measure(dc, view.resources.labelFont.Get(), leftLabel).cx + 24;
    DrawLabel(dc, x, y, Fit(dc, leftValue, view.resources.labelFont.Get(), x, labelLeft - 10), view.resources.labelFont.Get(), ToColorref(colours::kValue));
}

void DrawStreamBox(HDC dc, const PanelView& view, const StreamStats& stats)
{
    const SupervisionState& s = view.supervision;
    const EngineConfig& c = view.stream;
    FillBox(dc, 8, 108, kMainWidth - 16, 66, ToColorref(colours::kPanel));
    DrawStreamRow(dc, view, 114, "Quality:",
                  QualityText(c.encoder.bitrate, c.encoder.sampleRate, c.captureFormat.channels, c.encoder.profile),
                  "Start:", s.startTimeText.empty() ? "-" : s.startTimeText, view.resources.labelFont.Get());
    DrawStreamRow(dc, view, 132, "Server:", CombineServerAddress(c.server.host, c.server.port, c.server.mountPoint),
                  "Elapse:", ElapsedText(stats.elapsedSeconds), view.resources.buttonFont.Get());
    DrawStreamRow(dc, view, 150, "Input:", view.inputDeviceName, "Data:", DataSentText(stats.bytesSent),
                  view.resources.buttonFont.Get());
}

} // namespace

std::string FitText(const std::string& text, int x, int maxRight, const MeasureText& measure)
{
    if (text.empty() || x + measure(text) <= maxRight)
        return text;
    const int avail = maxRight - measure("...") - x;
    if (avail < 1)
        return "...";
    for (size_t n = text.size() - 1; n >= 1; --n) {
        // Never end a prefix inside a multi-byte character.
        if ((static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            continue;
        const std::string prefix = text.substr(0, n);
        if (measure(prefix) <= avail)
            return prefix + "...";
    }
    return "...";
}

int MeterDotCentreX(int index, int clientWidth)
{
    const float step = static_cast<float>(clientWidth - 16 - 52) / kMeterDots;
    return static_cast<int>(index * step + step * 0.5f) + 56;
}

COLORREF MeterDotColour(int index, bool lit)
{
    const int band = MeterBandAt(static_cast<double>(index) / kMeterDots);
    return ToColorref(lit ? colours::kMeterLit[band] : colours::kMeterUnlit[band]);
}

void PaintStatusPanel(const PanelView& view, HDC target)
{
    OffscreenDc off(target, kMainWidth, kMainHeight);
    if (!off.Valid())
        return;
    HDC dc = off.Dc();
    FillBox(dc, 0, 0, kMainWidth, kMainHeight, ToColorref(colours::kWindow));
    DrawTitleStrip(dc, view);

    const StreamEngine* engine = view.engine;
    StreamStats stats;
    if (engine)
        stats = engine->GetStats();
    const MeterLevels levels = CurrentMeterLevels(view.meterEngine ? view.meterEngine : engine, view.levelMonitor);
    DrawServerBox(dc, view, levels.left, levels.right);
    DrawStreamBox(dc, view, stats);
    FillBox(dc, 8, 178, kMainWidth - 16, 42, ToColorref(colours::kPanel));
    DrawMeter(dc, view, 184, levels.left, "Left");
    DrawMeter(dc, view, 201, levels.right, "Right");
    OutlineWindowEdge(dc, kMainWidth, kMainHeight);
    BitBlt(target, 0, 0, kMainWidth, kMainHeight, dc, 0, 0, SRCCOPY);
}
