#pragma once

// Windows only: how the settings dialog draws its frame, tabs and push buttons.

#include <windows.h>

#include "ui/ControlColours.h"

constexpr int kSettingsTabCount = 5;

struct DialogFonts {
    HFONT title;
    HFONT tab;
    HFONT button;
};

// Background, title strip, content panel, the five tabs and the outline, off-screen.
void PaintSettingsDialog(HWND window, int activeTab, const DialogFonts& fonts);

// The output chooser's chips, in the push buttons' colours: the chosen one stays pressed
// with the accent outline; a disabled output's chip is dimmed like an inactive tab.
namespace chip_colours {
inline constexpr Rgb kFill{60, 65, 80};
inline constexpr Rgb kLine{70, 75, 90};
inline constexpr Rgb kChosenFill{80, 90, 110};
inline constexpr Rgb kChosenLine{0, 180, 255};
inline constexpr Rgb kOffFill{48, 52, 62};
inline constexpr Rgb kOffLine{60, 64, 74};
} // namespace chip_colours

struct ChipLook {
    bool chosen = false;
    bool enabled = true;
};
void DrawOutputChip(const DRAWITEMSTRUCT& item, ChipLook look, HFONT font);

// OK, Cancel, the show/hide password button and the remove-output button.
void DrawDialogButton(const DRAWITEMSTRUCT& item, bool passwordVisible, HFONT font);

// The tab whose caption rectangle holds the client point, or -1.
int SettingsTabAt(POINT point);
