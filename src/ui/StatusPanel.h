#pragma once

// Windows only: the main window's client area, a live dashboard brought up to date ten
// times a second.

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/StatusTexts.h"
#include "engine/StreamEngine.h"
#include "engine/StreamSupervisor.h"
#include "ui/WindowResources.h"

class InputLevelMonitor;

// The main window's size; the panel is its whole client area.
constexpr int kMainWidth = 460;
constexpr int kMainHeight = 284;
// The title strip: a drag zone left of the minimise zone, the minimise zone, the close zone.
constexpr int kStripHeight = 34;
constexpr int kMinimiseZoneLeft = 408;
constexpr int kCloseZoneLeft = 432;

// What one paint of the panel shows, gathered by the main window.
struct PanelView {
    const WindowResources& resources;
    const SupervisionState& supervision;
    const StreamEngine* engine;
    const EngineConfig& stream;
    const std::string& inputDeviceName;
    const InputLevelMonitor& levelMonitor;
    // Smoothed across paints.
    AudioQuality& audioQuality;
    // A session of several outputs: how many there are and how many are on air (the
    // encoder indicator speaks for all), and an engine of one on air for the meters
    // (null: engine's).
    size_t outputs = 1;
    size_t outputsOnAir = 0;
    const StreamEngine* meterEngine = nullptr;
};

// Width in pixels of a UTF-8 text as it would be drawn.
using MeasureText = std::function<int(const std::string& text)>;

// The text shortened with "..." so that, drawn at x, it ends at maxRight at the latest.
// Cuts fall between characters, never inside a UTF-8 sequence.
std::string FitText(const std::string& text, int x, int maxRight, const MeasureText& measure);

// The level meters: kMeterDots dots lit from the left (LitDots, engine/StatusTexts.h).
int MeterDotCentreX(int index, int clientWidth);
COLORREF MeterDotColour(int index, bool lit);

// The archive recording as the title strip shows it: nothing while it is off (or no
// stream is on air), "REC" while it records, "Recording stopped" in red while it
// retries.
Indicator RecordingIndicator(RecordingState recording);

// Everything the panel shows, as texts, colours and lit dots. Gathering it advances the
// audio quality's smoothing, so it is done once per tick.
struct PanelContent {
    std::string name;
    std::string title;
    std::string listeners;
    Indicator internet;
    Indicator encoder;
    Indicator audio;
    std::optional<Indicator> recording;
    std::string quality;
    std::string start;
    std::string server;
    std::string elapsed;
    std::string input;
    std::string data;
    int litLeft = 0;
    int litRight = 0;
};

PanelContent GatherPanelContent(const PanelView& view);

// The panel's pixels, kept between paints: what never changes (the strip, the boxes and
// their labels, the unlit meter dots, the outline) is drawn once into a base picture,
// and each update redraws into the frame only the parts whose content changed, from
// the base. A paint then copies the area it is asked for out of the frame.
class StatusPanel {
public:
    StatusPanel();
    ~StatusPanel();
    StatusPanel(const StatusPanel&) = delete;
    StatusPanel& operator=(const StatusPanel&) = delete;

    // Brings the frame up to content; returns the client rectangles that changed (all of
    // the client at the first update).
    std::vector<RECT> Update(const PanelContent& content, const WindowResources& resources);
    // Whether the frame holds a picture yet.
    bool Drawn() const { return drawn.has_value(); }
    // Copies area of the frame into target (a DC of the client area).
    void Blit(HDC target, const RECT& area) const;

private:
    struct Pictures;
    bool Prepare(const WindowResources& resources);

    std::unique_ptr<Pictures> pictures;
    std::optional<PanelContent> drawn;
};

// Paints the whole panel for view into target (a DC of the client's size): updates
// panel, then copies all of it.
void PaintStatusPanel(const PanelView& view, StatusPanel& panel, HDC target);
