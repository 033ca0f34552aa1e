#include "ui/Shapes.h"

#include <objidl.h>

#include <gdiplus.h>

#include "ui/Theme.h"

namespace {

Gdiplus::Color Opaque(COLORREF c, BYTE alpha = 255)
{
    return Gdiplus::Color(alpha, GetRValue(c), GetGValue(c), GetBValue(c));
}

void Prepare(Gdiplus::Graphics& g)
{
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighQuality);
}

void AddRoundedPath(Gdiplus::GraphicsPath& path, const RoundedRect& r)
{
    const float d = r.diameter;
    path.AddArc(r.left, r.top, d, d, 180.0f, 90.0f);
    path.AddArc(r.left + r.width - d, r.top, d, d, 270.0f, 90.0f);
    path.AddArc(r.left + r.width - d, r.top + r.height - d, d, d, 0.0f, 90.0f);
    path.AddArc(r.left, r.top + r.height - d, d, d, 90.0f, 90.0f);
    path.CloseFigure();
}

} // namespace

void FillCircle(HDC dc, float left, float top, float diameter, COLORREF colour)
{
    Gdiplus::Graphics g(dc);
    Prepare(g);
    Gdiplus::SolidBrush brush(Opaque(colour));
    g.FillEllipse(&brush, left, top, diameter, diameter);
}

CircleBatch::CircleBatch(HDC dc) : graphics(std::make_unique<Gdiplus::Graphics>(dc))
{
    Prepare(*graphics);
}

CircleBatch::~CircleBatch() = default;

void CircleBatch::Fill(float left, float top, float diameter, COLORREF colour)
{
    Gdiplus::SolidBrush brush(Opaque(colour));
    graphics->FillEllipse(&brush, left, top, diameter, diameter);
}

void FillRoundedRect(HDC dc, const RoundedRect& rect, COLORREF fill)
{
    Gdiplus::Graphics g(dc);
    Prepare(g);
    Gdiplus::GraphicsPath path;
    AddRoundedPath(path, rect);
    Gdiplus::SolidBrush brush(Opaque(fill));
    g.FillPath(&brush, &path);
}

void OutlineRoundedRect(HDC dc, const RoundedRect& rect, COLORREF colour, BYTE alpha)
{
    Gdiplus::Graphics g(dc);
    Prepare(g);
    Gdiplus::GraphicsPath path;
    AddRoundedPath(path, rect);
    Gdiplus::Pen pen(Opaque(colour, alpha), 1.0f);
    g.DrawPath(&pen, &path);
}

void FillRoundedBox(HDC dc, const RECT& box, float diameter, COLORREF fill, COLORREF outline)
{
    const RoundedRect shape{box.left + 0.5f, box.top + 0.5f, static_cast<float>(box.right - box.left - 1),
                            static_cast<float>(box.bottom - box.top - 1), diameter};
    FillRoundedRect(dc, shape, fill);
    OutlineRoundedRect(dc, shape, outline, 255);
}

void OutlineWindowEdge(HDC dc, int width, int height)
{
    // The ring's centre line lies on the centres of the outermost pixels: (0.5, 0.5) to
    // (width - 0.5, height - 0.5) in pixel-edge terms. It is given here with the default
    // pixel offset, where pixel centres are whole numbers; Wine's GDI+ moves paths the
    // wrong way under the half-pixel modes, which put the ring one pixel inside at the
    // top and left and off the bitmap at the right and bottom.
    Gdiplus::Graphics g(dc);
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeNone);
    Gdiplus::GraphicsPath path;
    AddRoundedPath(path, RoundedRect{0.0f, 0.0f, width - 1.0f, height - 1.0f, 16.0f});
    Gdiplus::Pen pen(Opaque(ToColorref(colours::kOutline), colours::kOutlineAlpha), 1.0f);
    g.DrawPath(&pen, &path);
}

void RoundWindowCorners(HWND window, int width, int height)
{
    SetWindowRgn(window, CreateRoundRectRgn(0, 0, width + 1, height + 1, 16, 16), TRUE);
    HMODULE dwm = LoadLibraryW(L"dwmapi.dll");
    if (!dwm)
        return;
    using SetAttribute = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);
    auto set = reinterpret_cast<SetAttribute>(reinterpret_cast<void*>(GetProcAddress(dwm, "DwmSetWindowAttribute")));
    if (set) {
        const DWORD rounded = 2; // DWMWCP_ROUND for DWMWA_WINDOW_CORNER_PREFERENCE (33)
        set(window, 33, &rounded, sizeof(rounded));
    }
    FreeLibrary(dwm);
}
