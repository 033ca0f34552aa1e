#pragma once

// Windows only: the colours of the dark flat look shared by the windows.

#include <windows.h>

namespace theme {
constexpr COLORREF kWindow = RGB(32, 34, 40);
constexpr COLORREF kPanel = RGB(44, 46, 54);
constexpr COLORREF kLabel = RGB(120, 130, 140);
constexpr COLORREF kValue = RGB(200, 210, 220);
constexpr COLORREF kNeutral = RGB(80, 85, 95);
constexpr COLORREF kGreen = RGB(34, 197, 94);
constexpr COLORREF kYellow = RGB(234, 179, 8);
constexpr COLORREF kOrange = RGB(249, 115, 22);
constexpr COLORREF kRed = RGB(239, 68, 68);
constexpr COLORREF kOutline = RGB(60, 64, 74);
constexpr BYTE kOutlineAlpha = 200;
constexpr COLORREF kWhite = RGB(255, 255, 255);
} // namespace theme
