#pragma once

// Windows only: anti-aliased shapes drawn with GDI+ into a GDI device context, and the
// rounded corners of the borderless windows.

#include <windows.h>

#include <memory>

namespace Gdiplus {
class Graphics;
}

// A filled circle whose bounding square starts at (left, top).
void FillCircle(HDC dc, float left, float top, float diameter, COLORREF colour);

// Draws several anti-aliased circles through one GDI+ graphics object (the meters
// draw 62 dots on every paint).
class CircleBatch {
public:
    explicit CircleBatch(HDC dc);
    ~CircleBatch();
    CircleBatch(const CircleBatch&) = delete;
    CircleBatch& operator=(const CircleBatch&) = delete;
    void Fill(float left, float top, float diameter, COLORREF colour);

private:
    std::unique_ptr<Gdiplus::Graphics> graphics;
};

// A rounded rectangle (arcs of the given diameter at the corners): filled when fill is
// true, outlined with a 1-pixel pen of outline colour at outlineAlpha when outline is true.
struct RoundedRect {
    float left = 0;
    float top = 0;
    float width = 0;
    float height = 0;
    float diameter = 8;
};
void FillRoundedRect(HDC dc, const RoundedRect& rect, COLORREF fill);
void OutlineRoundedRect(HDC dc, const RoundedRect& rect, COLORREF colour, BYTE alpha);
// A box inset by half a pixel into its rectangle: arcs of the given diameter, filled and
// outlined opaquely.
void FillRoundedBox(HDC dc, const RECT& box, float diameter, COLORREF fill, COLORREF outline);

// The outline of a borderless window whose client area is width x height: a 1-pixel
// ring in the windows' outline colour on the outermost rows and columns, with arcs of
// diameter 16 matching the rounded corners. The main window and the settings dialog
// both draw it as the last step of their paint.
void OutlineWindowEdge(HDC dc, int width, int height);

// Rounds a borderless window's corners (16 pixels): a window region, and the system's
// rounded corners where dwmapi offers them.
void RoundWindowCorners(HWND window, int width, int height);
