#pragma once

// Windows only: how the settings dialog draws its frame, tabs and push buttons.

#include <windows.h>

constexpr int kSettingsTabCount = 5;

struct DialogFonts {
    HFONT title;
    HFONT tab;
    HFONT button;
};

// Background, title strip, content panel, the five tabs and the outline, off-screen.
void PaintSettingsDialog(HWND window, int activeTab, const DialogFonts& fonts);

// OK, Cancel and the show/hide password button.
void DrawDialogButton(const DRAWITEMSTRUCT& item, bool passwordVisible, HFONT font);

// The tab whose caption rectangle holds the client point, or -1.
int SettingsTabAt(POINT point);
