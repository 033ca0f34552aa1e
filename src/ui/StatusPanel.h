#pragma once

// Windows only: the main window's client area, a live dashboard painted ten times a
// second.

#include <windows.h>

#include <functional>
#include <string>

class Application;

// Width in pixels of a UTF-8 text as it would be drawn.
using MeasureText = std::function<int(const std::string& text)>;

// The text shortened with "..." so that, drawn at x, it ends at maxRight at the latest.
// Cuts fall between characters, never inside a UTF-8 sequence.
std::string FitText(const std::string& text, int x, int maxRight, const MeasureText& measure);

// The level meters: 31 dots, lit from the left in proportion to a linear level.
constexpr int kMeterDots = 31;
int LitDots(float level);
int MeterDotCentreX(int index, int clientWidth);
COLORREF MeterDotColour(int index, bool lit);

// Paints the whole panel for the application's current state into target (the window's
// DC or any other of the client's size), through one off-screen bitmap.
void PaintStatusPanel(Application& app, HDC target);
