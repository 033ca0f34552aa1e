#pragma once

// Windows only: the logo from the "LOGO_PNG" resource, decoded with GDI+.

#include <windows.h>

struct WindowResources;

// Fills the resources' logoBitmap (22 x 22, premultiplied alpha, for the title
// strip) and its small, large and tray icons (16, 32 and 48 pixels). Leaves them null
// when the resource is missing or does not decode.
void LoadLogo(WindowResources& resources, HINSTANCE instance);
