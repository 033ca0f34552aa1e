#include "ui/Logo.h"

#include <objidl.h>

#include <gdiplus.h>

#include <cstring>
#include <memory>

#include "ui/WindowResources.h"
#include "ui/Gdi.h"

namespace {

constexpr int kLogoSize = 22;

// The resource's bytes in movable global memory, wrapped in a stream GDI+ can read.
std::unique_ptr<Gdiplus::Bitmap> DecodeLogo(HINSTANCE instance)
{
    HRSRC info = FindResourceW(instance, L"LOGO_PNG", MAKEINTRESOURCEW(10)); // RT_RCDATA
    if (!info)
        return nullptr;
    const DWORD size = SizeofResource(instance, info);
    HGLOBAL loaded = LoadResource(instance, info);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes || size == 0)
        return nullptr;
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!copy)
        return nullptr;
    void* target = GlobalLock(copy);
    if (!target) {
        GlobalFree(copy);
        return nullptr;
    }
    std::memcpy(target, bytes, size);
    GlobalUnlock(copy);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(copy, TRUE, &stream))) {
        GlobalFree(copy);
        return nullptr;
    }
    std::unique_ptr<Gdiplus::Bitmap> bitmap(Gdiplus::Bitmap::FromStream(stream));
    stream->Release();
    if (!bitmap || bitmap->GetLastStatus() != Gdiplus::Ok)
        return nullptr;
    // FromStream may read lazily; a copy keeps the pixels once the stream is gone.
    return std::unique_ptr<Gdiplus::Bitmap>(
        bitmap->Clone(0, 0, static_cast<INT>(bitmap->GetWidth()), static_cast<INT>(bitmap->GetHeight()),
                      PixelFormat32bppARGB));
}

void DrawScaled(Gdiplus::Image& target, Gdiplus::Bitmap& logo, int size)
{
    Gdiplus::Graphics g(&target);
    g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighQuality);
    g.Clear(Gdiplus::Color(0, 0, 0, 0));
    g.DrawImage(&logo, 0, 0, size, size);
}

HICON MakeIcon(Gdiplus::Bitmap& logo, int size)
{
    Gdiplus::Bitmap bitmap(size, size, PixelFormat32bppARGB);
    DrawScaled(bitmap, logo, size);
    HICON icon = nullptr;
    return bitmap.GetHICON(&icon) == Gdiplus::Ok ? icon : nullptr;
}

// A top-down 32-bit DIB section that GDI+ paints with premultiplied alpha, ready for
// AlphaBlend.
HBITMAP MakePremultipliedBitmap(Gdiplus::Bitmap& logo, int size)
{
    void* bits = nullptr;
    HBITMAP dib = CreateTopDownDib(nullptr, size, size, &bits);
    if (!dib)
        return nullptr;
    Gdiplus::Bitmap wrapper(size, size, size * 4, PixelFormat32bppPARGB, static_cast<BYTE*>(bits));
    DrawScaled(wrapper, logo, size);
    return dib;
}

} // namespace

void LoadLogo(WindowResources& resources, HINSTANCE instance)
{
    std::unique_ptr<Gdiplus::Bitmap> logo = DecodeLogo(instance);
    if (!logo)
        return;
    resources.logoBitmap.Reset(MakePremultipliedBitmap(*logo, kLogoSize));
    if (resources.logoBitmap) {
        resources.logoWidth = kLogoSize;
        resources.logoHeight = kLogoSize;
    }
    resources.smallIcon.Reset(MakeIcon(*logo, 16));
    resources.largeIcon.Reset(MakeIcon(*logo, 32));
    resources.trayIcon.Reset(MakeIcon(*logo, 48));
}
