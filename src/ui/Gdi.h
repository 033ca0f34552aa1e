#pragma once

// Windows only: owners of GDI objects. Each holder keeps every handle it needs to undo
// its work, so its destructor never acts on a handle it was not given.

#include <windows.h>

#include <algorithm>
#include <utility>

// A font of the windows' face; height as CreateFontW takes it (negative: the
// character height rather than the cell height).
inline HFONT CreateUiFont(int height, int weight = FW_NORMAL, const wchar_t* face = L"Segoe UI")
{
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, face);
}

// A top-down 32-bit DIB section of width x height (BI_RGB); bits receives its pixels.
// Null when it cannot be made.
inline HBITMAP CreateTopDownDib(HDC dc, int width, int height, void** bits)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return CreateDIBSection(dc, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

// Owns one GDI object (font, brush, pen, bitmap, region) and deletes it.
template <typename Handle>
class GdiObject {
public:
    GdiObject() = default;
    explicit GdiObject(Handle h) : handle(h) {}
    ~GdiObject() { Reset(); }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    GdiObject(GdiObject&& other) noexcept : handle(std::exchange(other.handle, nullptr)) {}

    void Reset(Handle h = nullptr)
    {
        if (handle)
            DeleteObject(handle);
        handle = h;
    }
    Handle Release() { return std::exchange(handle, nullptr); }
    Handle Get() const { return handle; }
    explicit operator bool() const { return handle != nullptr; }

private:
    Handle handle = nullptr;
};

// Owns one icon and destroys it.
class IconObject {
public:
    IconObject() = default;
    explicit IconObject(HICON h) : handle(h) {}
    ~IconObject() { Reset(); }
    IconObject(const IconObject&) = delete;
    IconObject& operator=(const IconObject&) = delete;

    void Reset(HICON h = nullptr)
    {
        if (handle)
            DestroyIcon(handle);
        handle = h;
    }
    HICON Get() const { return handle; }
    explicit operator bool() const { return handle != nullptr; }

private:
    HICON handle = nullptr;
};

// Selects an object into a DC for a scope and restores the previous one.
class SelectionScope {
public:
    SelectionScope(HDC target, HGDIOBJ object) : dc(target), previous(object ? SelectObject(target, object) : nullptr) {}
    ~SelectionScope()
    {
        if (previous)
            SelectObject(dc, previous);
    }
    SelectionScope(const SelectionScope&) = delete;
    SelectionScope& operator=(const SelectionScope&) = delete;

private:
    HDC dc;
    HGDIOBJ previous;
};

// BeginPaint / EndPaint.
class PaintScope {
public:
    explicit PaintScope(HWND target) : window(target), dc(BeginPaint(target, &paint)) {}
    ~PaintScope() { EndPaint(window, &paint); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;

    HDC Dc() const { return dc; }
    const RECT& Area() const { return paint.rcPaint; }

private:
    HWND window;
    PAINTSTRUCT paint{};
    HDC dc;
};

// A memory DC compatible with reference, deleted at the end of its scope.
class MemoryDc {
public:
    explicit MemoryDc(HDC reference) : dc(CreateCompatibleDC(reference)) {}
    ~MemoryDc()
    {
        if (dc)
            DeleteDC(dc);
    }
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;
    HDC Dc() const { return dc; }

private:
    HDC dc;
};

// A window's DC (the screen's for no window) for a scope.
class WindowDc {
public:
    explicit WindowDc(HWND target = nullptr) : window(target), dc(GetDC(target)) {}
    ~WindowDc()
    {
        if (dc)
            ReleaseDC(window, dc);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC Dc() const { return dc; }

private:
    HWND window;
    HDC dc;
};
using ScreenDc = WindowDc;

// A memory DC with a compatible bitmap of width x height selected: paint into it,
// then copy it out once.
class OffscreenDc {
public:
    OffscreenDc(HDC reference, int width, int height)
        : dc(reference), bitmap(CreateCompatibleBitmap(reference, width, height)), selection(dc.Dc(), bitmap.Get())
    {
    }
    OffscreenDc(const OffscreenDc&) = delete;
    OffscreenDc& operator=(const OffscreenDc&) = delete;

    HDC Dc() const { return dc.Dc(); }
    bool Valid() const { return dc.Dc() && bitmap; }

private:
    // Declared in this order so the bitmap is deselected before it and the DC go.
    MemoryDc dc;
    GdiObject<HBITMAP> bitmap;
    SelectionScope selection;
};

// Paints a window off-screen and copies it out once, so nothing flickers:
// paint(dc, width, height) draws the client area into dc.
template <typename Paint>
void PaintOffscreen(HWND window, Paint paint)
{
    PaintScope scope(window);
    RECT client;
    GetClientRect(window, &client);
    const int w = client.right;
    const int h = client.bottom;
    OffscreenDc off(scope.Dc(), std::max(w, 1), std::max(h, 1));
    paint(off.Dc(), w, h);
    BitBlt(scope.Dc(), 0, 0, w, h, off.Dc(), 0, 0, SRCCOPY);
}
