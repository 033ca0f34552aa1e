#pragma once

// Windows only: the main window's client area, a live dashboard painted ten times a
// second.

#include <windows.h>

#include <functional>
#include <string>

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

// Paints the whole panel for view into target (the window's DC or any other of the
// client's size), through one off-screen bitmap.
void PaintStatusPanel(const PanelView& view, HDC target);
