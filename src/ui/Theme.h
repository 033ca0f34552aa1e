#pragma once

// Windows only: the one colour table (ui/ControlColours.h) as GDI takes its colours.

#include <windows.h>

#include "ui/ControlColours.h"

constexpr COLORREF ToColorref(Rgb c)
{
    return RGB(c.r, c.g, c.b);
}
