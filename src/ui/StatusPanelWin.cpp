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

// A rectangle of the client area, as (x, y, width, height).
RECT Box(int x, int y, int width, int height)
{
    return {x, y, x + width, y + height};
}

// The parts of the panel that are redrawn on their own when their content changes.
// Each is restored from the base picture and drawn again within its rectangle.
const RECT kNameArea = Box(10, 44, 312, 18);
const RECT kTitleArea = Box(10, 62, 312, 18);
const RECT kListenersArea = Box(10, 80, 312, 18);
// The indicators: a dot left of W - 20 and the text right-aligned 4 pixels left of it.
const RECT kIndicatorAreas[3] = {Box(322, 44, 130, 18), Box(322, 62, 130, 18), Box(322, 80, 130, 18)};
// The stream box's rows: the right column's labels move with their values' widths.
const RECT kStreamRowAreas[3] = {Box(10, 114, 440, 18), Box(10, 132, 440, 18), Box(10, 150, 440, 18)};
// The meters' dots (labels excepted), a row of 11 pixels from the meter's y.
constexpr int kMeterRowHeight = 11;
constexpr int kMeterLeft = 50;
constexpr int kMeterRight = 452;
constexpr int kLeftMeterY = 184;
constexpr int kRightMeterY = 201;
// The recording lamp in the title strip, right of the title, left of the minimise mark.
constexpr int kRecordingDotRight = 400;
const RECT kRecordingArea = Box(200, 0, 206, kStripHeight);

bool operator==(const Indicator& a, const Indicator& b)
{
    return a.text == b.text && a.colour == b.colour;
}

bool operator!=(const Indicator& a, const Indicator& b)
{
    return !(a == b);
}

void DrawIndicatorAt(HDC dc, const WindowResources& res, int dotRight, int centreY, const Indicator& indicator)
{
    const COLORREF colour = IndicatorRgb(indicator.colour);
    FillCircle(dc, dotRight - 10 + 0.5f, centreY - 5 + 0.5f, 10.0f, colour);
    DrawRightAligned(dc, dotRight - 10 - 4, centreY - 9, indicator.text, res.labelFont.Get(), colour);
}

void DrawIndicator(HDC dc, const WindowResources& res, int centreY, const Indicator& indicator)
{
    DrawIndicatorAt(dc, res, kMainWidth - 20 + 5, centreY, indicator);
}

void DrawTitleStrip(HDC dc, const WindowResources& res)
{
    FillBox(dc, 0, 0, kMainWidth, kStripHeight, ToColorref(colours::kPanel));
    int logoWidth = 16;
    if (res.logoBitmap.Get()) {
        MemoryDc logoDc(dc);
        {
            SelectionScope select(logoDc.Dc(), res.logoBitmap.Get());
            const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
            AlphaBlend(dc, 6, (kStripHeight - res.logoHeight) / 2, res.logoWidth, res.logoHeight, logoDc.Dc(), 0, 0,
                       res.logoWidth, res.logoHeight, blend);
        }
        logoWidth = res.logoWidth;
    } else if (res.smallIcon.Get()) {
        DrawIconEx(dc, 6, 9, res.smallIcon.Get(), 16, 16, 0, nullptr, DI_NORMAL);
    }
    const std::string title = "Kelm Vantoro";
    DrawLabel(dc, logoWidth + 10, 6, title, res.titleFont.Get(), ToColorref(colours::kValue));
    const int titleWidth = Measure(dc, res.titleFont.Get(), title).cx;
    DrawLabel(dc, logoWidth + 10 + titleWidth + 6, 12, "v1.0", res.labelFont.Get(), ToColorref(colours::kNeutral));
    DrawLabel(dc, kMainWidth - 50, 6, "__", res.buttonFont.Get(), ToColorref(colours::kLabel));
    DrawLabel(dc, kMainWidth - 22, 6, "X", res.buttonFont.Get(), ToColorref(colours::kLabel));
}

const char* const kServerLabels[3] = {"Name:", "Title:", "Listeners:"};

// What never changes: the background, the strip, the boxes with the server box's
// labels, the meters' labels and unlit dots, the outline.
void DrawBase(HDC dc, const WindowResources& res)
{
    FillBox(dc, 0, 0, kMainWidth, kMainHeight, ToColorref(colours::kWindow));
    DrawTitleStrip(dc, res);
    FillBox(dc, 8, 38, kMainWidth - 16, 66, ToColorref(colours::kPanel));
    for (int row = 0; row < 3; ++row)
        DrawLabel(dc, 18, 44 + 18 * row, kServerLabels[row], res.labelFont.Get(), ToColorref(colours::kLabel));
    FillBox(dc, 8, 108, kMainWidth - 16, 66, ToColorref(colours::kPanel));
    FillBox(dc, 8, 178, kMainWidth - 16, 42, ToColorref(colours::kPanel));
    DrawLabel(dc, 18, kLeftMeterY - 1, "Left", res.labelFont.Get(), ToColorref(colours::kLabel));
    DrawLabel(dc, 18, kRightMeterY - 1, "Right", res.labelFont.Get(), ToColorref(colours::kLabel));
    CircleBatch dots(dc);
    for (int y : {kLeftMeterY, kRightMeterY})
        for (int i = 0; i < kMeterDots; ++i)
            dots.Fill(MeterDotCentreX(i, kMainWidth) - 5 + 0.5f, y + 0.5f, 10.0f, MeterDotColour(i, false));
    OutlineWindowEdge(dc, kMainWidth, kMainHeight);
}

// One meter row with every dot lit, on the box's fill, its top at y 0.
void DrawLitDots(HDC dc)
{
    FillBox(dc, 0, 0, kMainWidth, kMeterRowHeight, ToColorref(colours::kPanel));
    CircleBatch dots(dc);
    for (int i = 0; i < kMeterDots; ++i)
        dots.Fill(MeterDotCentreX(i, kMainWidth) - 5 + 0.5f, 0.5f, 10.0f, MeterDotColour(i, true));
}

// Where the lit part of a meter ends: in the gap after the last lit dot (a dot's
// anti-aliased edge reaches 5 pixels right of its centre; the next starts 7 or more
// pixels right of it).
int LitRightEdge(int lit)
{
    if (lit <= 0)
        return kMeterLeft;
    if (lit >= kMeterDots)
        return kMeterRight;
    return MeterDotCentreX(lit - 1, kMainWidth) + 6;
}

} // namespace

struct StatusPanel::Pictures {
    // A 32-bit DIB section selected into a memory DC of its own.
    struct Picture {
        MemoryDc dc{nullptr};
        GdiObject<HBITMAP> bitmap;
        HGDIOBJ previous = nullptr;

        Picture(int width, int height)
        {
            void* bits = nullptr;
            bitmap.Reset(CreateTopDownDib(dc.Dc(), width, height, &bits));
            if (bitmap)
                previous = SelectObject(dc.Dc(), bitmap.Get());
        }
        ~Picture()
        {
            if (previous)
                SelectObject(dc.Dc(), previous);
        }
        Picture(const Picture&) = delete;
        Picture& operator=(const Picture&) = delete;
        bool Valid() const { return dc.Dc() && bitmap; }
    };

    Picture base{kMainWidth, kMainHeight};
    Picture lit{kMainWidth, kMeterRowHeight};
    Picture frame{kMainWidth, kMainHeight};
};

StatusPanel::StatusPanel() = default;
StatusPanel::~StatusPanel() = default;

bool StatusPanel::Prepare(const WindowResources& resources)
{
    if (pictures)
        return true;
    auto made = std::make_unique<Pictures>();
    if (!made->base.Valid() || !made->lit.Valid() || !made->frame.Valid())
        return false;
    DrawBase(made->base.dc.Dc(), resources);
    DrawLitDots(made->lit.dc.Dc());
    BitBlt(made->frame.dc.Dc(), 0, 0, kMainWidth, kMainHeight, made->base.dc.Dc(), 0, 0, SRCCOPY);
    pictures = std::move(made);
    return true;
}

std::vector<RECT> StatusPanel::Update(const PanelContent& content, const WindowResources& res)
{
    std::vector<RECT> changed;
    if (!Prepare(res))
        return changed;
    HDC dc = pictures->frame.dc.Dc();
    HDC base = pictures->base.dc.Dc();
    const bool first = !drawn;
    if (first)
        changed.push_back(Box(0, 0, kMainWidth, kMainHeight));
    const PanelContent* old = first ? nullptr : &*drawn;
    // Restores area from the base and notes it as changed.
    const auto restore = [&](const RECT& area) {
        BitBlt(dc, area.left, area.top, area.right - area.left, area.bottom - area.top, base, area.left, area.top,
               SRCCOPY);
        if (!first)
            changed.push_back(area);
    };

    const std::string* serverValues[3] = {&content.name, &content.title, &content.listeners};
    const std::string* oldServerValues[3] = {old ? &old->name : nullptr, old ? &old->title : nullptr,
                                             old ? &old->listeners : nullptr};
    const RECT serverAreas[3] = {kNameArea, kTitleArea, kListenersArea};
    for (int row = 0; row < 3; ++row) {
        if (old && *oldServerValues[row] == *serverValues[row])
            continue;
        restore(serverAreas[row]);
        const int x = Measure(dc, res.labelFont.Get(), kServerLabels[row]).cx + 24;
        // Listeners are never shortened.
        const std::string text = row < 2 ? Fit(dc, *serverValues[row], res.labelFont.Get(), x, kMainWidth - 140)
                                         : *serverValues[row];
        DrawLabel(dc, x, 44 + 18 * row, text, res.labelFont.Get(), ToColorref(colours::kValue));
    }

    const Indicator* indicators[3] = {&content.internet, &content.encoder, &content.audio};
    const Indicator* oldIndicators[3] = {old ? &old->internet : nullptr, old ? &old->encoder : nullptr,
                                         old ? &old->audio : nullptr};
    for (int row = 0; row < 3; ++row) {
        if (old && *oldIndicators[row] == *indicators[row])
            continue;
        restore(kIndicatorAreas[row]);
        DrawIndicator(dc, res, 53 + 18 * row, *indicators[row]);
    }

    if (!old || old->recording.has_value() != content.recording.has_value() ||
        (content.recording && *old->recording != *content.recording)) {
        restore(kRecordingArea);
        if (content.recording)
            DrawIndicatorAt(dc, res, kRecordingDotRight, kStripHeight / 2, *content.recording);
    }

    struct StreamRow {
        const char* leftLabel;
        const std::string& leftValue;
        const char* rightLabel;
        const std::string& rightValue;
        HFONT rightFont;
        bool same;
    };
    const StreamRow rows[3] = {
        {"Quality:", content.quality, "Start:", content.start, res.labelFont.Get(),
         old && old->quality == content.quality && old->start == content.start},
        {"Server:", content.server, "Elapse:", content.elapsed, res.buttonFont.Get(),
         old && old->server == content.server && old->elapsed == content.elapsed},
        {"Input:", content.input, "Data:", content.data, res.buttonFont.Get(),
         old && old->input == content.input && old->data == content.data},
    };
    for (int row = 0; row < 3; ++row) {
        const StreamRow& r = rows[row];
        if (r.same)
            continue;
        restore(kStreamRowAreas[row]);
        const int y = kStreamRowAreas[row].top;
        const int valueLeft = DrawRightAligned(dc, kMainWidth - 18, y, r.rightValue, r.rightFont, ToColorref(colours::kValue));
        const int labelLeft =
            DrawRightAligned(dc, valueLeft - 8, y, r.rightLabel, res.labelFont.Get(), ToColorref(colours::kLabel));
        DrawLabel(dc, 18, y, r.leftLabel, res.labelFont.Get(), ToColorref(colours::kLabel));
        const int x = Measure(dc, res.labelFont.Get(), r.leftLabel).cx + 24;
        DrawLabel(dc, x, y, Fit(dc, r.leftValue, res.labelFont.Get(), x, labelLeft - 10), res.labelFont.Get(),
                  ToColorref(colours::kValue));
    }

    // A meter is its lit dots copied from the lit row and the rest from the base.
    const int lits[2] = {content.litLeft, content.litRight};
    const int oldLits[2] = {old ? old->litLeft : -1, old ? old->litRight : -1};
    const int meterYs[2] = {kLeftMeterY, kRightMeterY};
    for (int m = 0; m < 2; ++m) {
        if (lits[m] == oldLits[m])
            continue;
        const int y = meterYs[m];
        const int edge = LitRightEdge(lits[m]);
        BitBlt(dc, kMeterLeft, y, edge - kMeterLeft, kMeterRowHeight, pictures->lit.dc.Dc(), kMeterLeft, 0, SRCCOPY);
        BitBlt(dc, edge, y, kMeterRight - edge, kMeterRowHeight, base, edge, y, SRCCOPY);
        if (!first)
            changed.push_back(Box(kMeterLeft, y, kMeterRight - kMeterLeft, kMeterRowHeight));
    }
    GdiFlush();
    drawn = content;
    return changed;
}

void StatusPanel::Blit(HDC target, const RECT& area) const
{
    if (!pictures)
        return;
    BitBlt(target, area.left, area.top, area.right - area.left, area.bottom - area.top, pictures->frame.dc.Dc(),
           area.left, area.top, SRCCOPY);
}


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

Indicator RecordingIndicator(RecordingState recording)
{
    if (recording == RecordingState::Stopped)
        return {"Recording stopped", IndicatorColour::Red};
    return {"REC", IndicatorColour::Green};
}

PanelContent GatherPanelContent(const PanelView& view)
{
    const SupervisionState& s = view.supervision;
    const EngineConfig& c = view.stream;
    const StreamEngine* engine = view.engine;
    const EngineState state = engine ? engine->GetState() : EngineState::Idle;
    // The figures are those of the connection on air: while a stream is being rebuilt,
    // elapsed time and data sent both read zero, as with no stream at all.
    StreamStats stats;
    if (engine && state == EngineState::Streaming)
        stats = engine->GetStats();
    const MeterLevels levels = CurrentMeterLevels(view.meterEngine ? view.meterEngine : engine, view.levelMonitor);

    PanelContent p;
    p.name = s.serverName.empty() ? "-" : s.serverName;
    p.title = s.streamTitle.empty() ? "-" : s.streamTitle;
    p.listeners = s.listeners < 0 ? "-" : std::to_string(s.listeners);
    const uint32_t phase = IndicatorPhase(s.tickCount);
    p.internet = InternetIndicator(s.internetState);
    if (phase == 0)
        p.internet.text = "Internet";
    p.encoder = OutputsIndicator(LiveEncoderIndicator(s.attemptRunning, engine != nullptr, state,
                                                      engine ? engine->ConsecutiveSendFailures() : 0),
                                 view.outputsOnAir, view.outputs);
    if (phase == 2)
        p.encoder.text = "Encoder";
    p.audio = AudioIndicator(view.audioQuality.Update(levels.left, levels.right), s.deadAir);
    if (phase == 4)
        p.audio.text = "Audio";
    if (engine && state == EngineState::Streaming && engine->Recording() != RecordingState::Off)
        p.recording = RecordingIndicator(engine->Recording());
    p.quality = QualityText(c.encoder.bitrate, c.encoder.sampleRate, c.captureFormat.channels, c.encoder.profile,
                            c.encoder.codec);
    p.start = s.startTimeText.empty() ? "-" : s.startTimeText;
    p.server = CombineServerAddress(c.server.host, c.server.port, c.server.mountPoint);
    p.elapsed = ElapsedText(stats.elapsedSeconds);
    p.input = view.inputDeviceName;
    p.data = DataSentText(stats.bytesSent);
    p.litLeft = LitDots(levels.left);
    p.litRight = LitDots(levels.right);
    return p;
}

void PaintStatusPanel(const PanelView& view, StatusPanel& panel, HDC target)
{
    panel.Update(GatherPanelContent(view), view.resources);
    panel.Blit(target, Box(0, 0, kMainWidth, kMainHeight));
}
