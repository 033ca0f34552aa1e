#pragma once

// Windows only: the settings dialog's custom controls. Standard children (STATIC, EDIT,
// BUTTON, COMBOBOX), owner-drawn or subclassed to the dark flat look. A subclassed
// control keeps its binding to the dialog's state in a window property and frees it
// when the window goes.

#include <windows.h>

#include <array>
#include <functional>
#include <string>

#include "ui/Theme.h"

// Anti-aliased shapes (GDI+, high-quality pixel offset).
void FillCentredCircle(HDC dc, float centreX, float centreY, float radius, COLORREF colour);
void FillPill(HDC dc, float top, float width, float height, float radius, COLORREF colour);

// Owner-drawn on/off switch (32 x 18); the parent paints it with DrawToggleSwitch on
// WM_DRAWITEM, over the panel or, outside it, the window's background.
HWND MakeToggleSwitch(HWND parent, int id, int x, int y);
void DrawToggleSwitch(const DRAWITEMSTRUCT& item, bool on, bool onPanel = true);

// A 14 x 14 dot: 0 grey, 1 red, 2 green, read from *state at every paint.
HWND MakeStatusDot(HWND parent, int x, int y, const int* state);

// Nine dots (118 x 18) lit for *level, green to red.
HWND MakeMiniMeter(HWND parent, int x, int y, const float* level);

// Five lamps with captions (252 x 18). Kind 0: ActivityColour; 1: Spectrum; 2: Reverse.
struct ActivityLamps {
    std::array<const wchar_t*, 5> captions{};
    std::array<int, 5> kinds{};
    std::array<float, 5> values{};
    std::array<bool, 5> on{};
};
HWND MakeActivityStrip(HWND parent, int id, int x, int y, const ActivityLamps* lamps);

// A slider (204 x 18): position() gives the knob's place in 0...1, moved(t) takes a
// new place from the mouse; *on colours the fill and the knob.
struct SliderBinding {
    const bool* on = nullptr;
    std::function<double()> position;
    std::function<void(double)> moved;
};
HWND MakeSlider(HWND parent, int id, int x, int y, SliderBinding binding);

HWND MakeLabel(HWND parent, const wchar_t* text, int x, int y, int w, int h);
HWND MakeCentredLabel(HWND parent, const wchar_t* text, int x, int y, int w, int h);
HWND MakeDropDown(HWND parent, int id, int x, int y, int w);

// A single-line edit filled with narrowText (UTF-8). A plain edit is multi-line inside
// so that its text can sit vertically centred (CentreEditText).
HWND MakeEdit(HWND parent, int id, const std::string& narrowText, int x, int y, int w, int h, bool password);
// Re-centres a plain edit's text for its current font.
void CentreEditText(HWND edit);
// Grey hint text shown while the edit is empty and unfocused.
void SetPlaceholder(HWND edit, const wchar_t* text);

// The window text as UTF-8.
std::string WindowTextUtf8(HWND window);
