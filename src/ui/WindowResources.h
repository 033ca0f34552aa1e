#pragma once

// Windows only: the main window's fonts, logo and icons, each with one owner.

#include <windows.h>

#include <cstdint>

#include "ui/Gdi.h"

struct WindowResources {
    GdiObject<HFONT> titleFont;
    GdiObject<HFONT> buttonFont;
    GdiObject<HFONT> labelFont;
    GdiObject<HFONT> glyphFont;

    // 22 x 22, premultiplied alpha, for the title strip; null when the logo is missing.
    GdiObject<HBITMAP> logoBitmap;
    int32_t logoWidth = 0;
    int32_t logoHeight = 0;
    IconObject smallIcon;
    IconObject largeIcon;
    IconObject trayIcon;
};
