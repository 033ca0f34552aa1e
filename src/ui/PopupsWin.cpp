#include "ui/Popups.h"

#include <objidl.h>

#include <gdiplus.h>
#include <windowsx.h>

#include <algorithm>
#include <exception>
#include <vector>

#include "base/Log.h"
#include "ui/Gdi.h"
#include "ui/ModalLoop.h"
#include "base/WideText.h"

const wchar_t kExitDialogClass[] = L"KelmExitDlg";
const wchar_t kAlertClass[] = L"KelmAlertDlg";
const wchar_t kToastClass[] = L"KelmToast";
const char kToastText[] = "Stop encoding before changing settings.";

namespace {

constexpr COLORREF kBackground = RGB(170, 56, 30);
constexpr COLORREF kText = RGB(255, 235, 225);
constexpr COLORREF kTitleText = RGB(255, 210, 195);
constexpr COLORREF kToastTextColour = RGB(220, 220, 220);
constexpr COLORREF kButton = RGB(140, 42, 22);
constexpr COLORREF kButtonHover = RGB(200, 72, 40);
constexpr COLORREF kButtonOutline = RGB(160, 50, 28);

constexpr int kExitWidth = 280;
constexpr int kExitHeight = 120;
const RECT kExitButton{32, 72, 132, 102};
const RECT kMinimiseButton{148, 72, 248, 102};
constexpr int kAlertWidth = 380;

void AddRoundedPath(Gdiplus::GraphicsPath& path, int width, int height, int radius)
{
    const float d = 2.0f * radius;
    path.AddArc(0.5f, 0.5f, d, d, 180.0f, 90.0f);
    path.AddArc(width - d - 0.5f, 0.5f, d, d, 270.0f, 90.0f);
    path.AddArc(width - d - 0.5f, height - d - 0.5f, d, d, 0.0f, 90.0f);
    path.AddArc(0.5f, height - d - 0.5f, d, d, 90.0f, 90.0f);
    path.CloseFigure();
}

// One line of text centred in box, on a transparent background.
void DrawCentredLine(HDC dc, HFONT font, COLORREF colour, RECT box, const wchar_t* text)
{
    SelectionScope select(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colour);
    DrawTextW(dc, text, -1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

void DrawButton(HDC dc, const RECT& r, const wchar_t* text, bool hover, HFONT font)
{
    GdiObject<HBRUSH> brush(CreateSolidBrush(hover ? kButtonHover : kButton));
    GdiObject<HPEN> pen(CreatePen(PS_SOLID, 1, kButtonOutline));
    SelectionScope selectBrush(dc, brush.Get());
    SelectionScope selectPen(dc, pen.Get());
    RoundRect(dc, r.left, r.top, r.right, r.bottom, 8, 8);
    DrawCentredLine(dc, font, kText, r, text);
}

void FillBackground(HDC dc, int width, int height, COLORREF colour)
{
    GdiObject<HBRUSH> brush(CreateSolidBrush(colour));
    const RECT r{0, 0, width, height};
    FillRect(dc, &r, brush.Get());
}

// Paints a popup of width x height off-screen on its background with draw(dc), then
// shows it with corners of the given radius.
template <typename Draw>
void PaintPopup(HWND window, int width, int height, int radius, Draw draw)
{
    ScreenDc screen;
    OffscreenDc off(screen.Dc(), width, height);
    HDC dc = off.Dc();
    FillBackground(dc, width, height, kBackground);
    draw(dc);
    PresentLayered(window, dc, width, height, radius);
}

bool Register(const wchar_t* name, WNDPROC proc, HBRUSH background)
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

RECT OwnerRect(HWND owner)
{
    RECT r{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (owner)
        GetWindowRect(owner, &r);
    return r;
}

// Runs a modal popup: disables the owner, shows the popup and pumps messages until the
// popup is gone. The owner is enabled again even when a quit closed the popup.
void RunModal(HWND owner, HWND popup, void (*paint)(HWND))
{
    if (owner)
        EnableWindow(owner, FALSE);
    ShowWindow(popup, SW_SHOW);
    paint(popup);
    SetForegroundWindow(popup);
    SetFocus(popup);
    RunModalLoop(popup);
    if (owner && !IsWindowEnabled(owner))
        EnableWindow(owner, TRUE);
}

void CloseModal(HWND owner, HWND popup)
{
    if (owner) {
        EnableWindow(owner, TRUE);
        SetForegroundWindow(owner);
    }
    DestroyWindow(popup);
}

// Shared mouse handling of the two modal popups: hover, drag by the background, and a
// choice on release over a button.
struct ModalMouse {
    int hover = 0;
    bool dragging = false;
    POINT last{};
};

// The popups show themselves with UpdateLayeredWindow, so a WM_PAINT only has to be
// validated; the rest goes to the default procedure.
LRESULT PopupDefault(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT) {
        ValidateRect(window, nullptr);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

template <typename Handler>
LRESULT Guarded(HWND window, UINT message, WPARAM wParam, LPARAM lParam, Handler handler)
{
    try {
        return handler(window, message, wParam, lParam);
    } catch (const std::exception& e) {
        LogLine("UI", std::string("popup message failed: ") + e.what());
    } catch (...) {
        LogLine("UI", "popup message failed");
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// ---- exit dialog ------------------------------------------------------------------

struct ExitState {
    HWND owner = nullptr;
    ModalMouse mouse;
    ExitChoice result = ExitChoice::None;
} exitState;

int ExitHit(POINT p)
{
    if (PtInRect(&kExitButton, p))
        return static_cast<int>(ExitChoice::Exit);
    if (PtInRect(&kMinimiseButton, p))
        return static_cast<int>(ExitChoice::Minimise);
    return 0;
}

void PaintExit(HWND window)
{
    PaintPopup(window, kExitWidth, kExitHeight, 8, [](HDC dc) {
        GdiObject<HFONT> font(CreateUiFont(18));
        DrawCentredLine(dc, font.Get(), kText, RECT{0, 20, kExitWidth, 50}, L"What would you like to do?");
        const int hover = exitState.mouse.hover;
        DrawButton(dc, kExitButton, L"EXIT", hover == static_cast<int>(ExitChoice::Exit), font.Get());
        DrawButton(dc, kMinimiseButton, L"MINIMIZE", hover == static_cast<int>(ExitChoice::Minimise), font.Get());
    });
}

// Mouse and keys of a modal popup with buttons found by hit(); the choice made is
// handed to choose. Returns true when the message was handled.
bool HandleModalMouse(HWND window, UINT message, LPARAM lParam, ModalMouse& mouse, int (*hit)(POINT),
                      void (*paint)(HWND), void (*choose)(int))
{
    const POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    switch (message) {
    case WM_MOUSEMOVE: {
        const int now = hit(p);
        if (now != mouse.hover) {
            mouse.hover = now;
            paint(window);
        }
        TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, window, 0};
        TrackMouseEvent(&track);
        if (mouse.dragging) {
            POINT cursor;
            GetCursorPos(&cursor);
            RECT r;
            GetWindowRect(window, &r);
            SetWindowPos(window, nullptr, r.left + cursor.x - mouse.last.x, r.top + cursor.y - mouse.last.y, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER);
            mouse.last = cursor;
            paint(window);
        }
        return true;
    }
    case WM_LBUTTONDOWN:
        if (hit(p) == 0) {
            mouse.dragging = true;
            GetCursorPos(&mouse.last);
        }
        SetCapture(window);
        return true;
    case WM_LBUTTONUP:
        ReleaseCapture();
        if (mouse.dragging) {
            mouse.dragging = false;
            return true;
        }
        if (hit(p) != 0) {
            choose(hit(p));
            PostMessageW(window, WM_CLOSE, 0, 0);
        }
        return true;
    case WM_MOUSELEAVE:
        if (mouse.hover != 0) {
            mouse.hover = 0;
            paint(window);
        }
        return true;
    default:
        return false;
    }
}

// What tells one modal popup from the other: its owner, mouse state, buttons, painting,
// what a choice does and which keys close it.
struct ModalPopup {
    HWND owner;
    ModalMouse& mouse;
    int (*hit)(POINT);
    void (*paint)(HWND);
    void (*choose)(int);
    bool (*closes)(WPARAM key);
};

LRESULT HandleModal(HWND window, UINT message, WPARAM wParam, LPARAM lParam, const ModalPopup& popup)
{
    if (HandleModalMouse(window, message, lParam, popup.mouse, popup.hit, popup.paint, popup.choose))
        return 0;
    switch (message) {
    case WM_KEYDOWN:
        if (popup.closes(wParam))
            PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    case WM_CLOSE:
        CloseModal(popup.owner, window);
        return 0;
    case WM_DESTROY:
        WakeModalLoop();
        return 0;
    default:
        return PopupDefault(window, message, wParam, lParam);
    }
}

bool IsEscape(WPARAM key)
{
    return key == VK_ESCAPE;
}

LRESULT HandleExit(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return HandleModal(window, message, wParam, lParam,
                       ModalPopup{exitState.owner, exitState.mouse, ExitHit, PaintExit,
                                  [](int choice) { exitState.result = static_cast<ExitChoice>(choice); }, IsEscape});
}

LRESULT CALLBACK ExitProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return Guarded(window, message, wParam, lParam, HandleExit);
}

// ---- alert ------------------------------------------------------------------------

struct AlertState {
    HWND owner = nullptr;
    std::string title;
    std::string message;
    ModalMouse mouse;
    int height = 140;
} alertState;

RECT OkRect()
{
    return RECT{140, alertState.height - 46, 240, alertState.height - 16};
}

int AlertHit(POINT p)
{
    const RECT ok = OkRect();
    return PtInRect(&ok, p) ? 1 : 0;
}

int MeasureMessageHeight(const std::wstring& message)
{
    ScreenDc screen;
    MemoryDc dc(screen.Dc());
    GdiObject<HFONT> font(CreateUiFont(16));
    RECT box{20, 42, 360, 42};
    SelectionScope select(dc.Dc(), font.Get());
    DrawTextW(dc.Dc(), message.c_str(), -1, &box, DT_WORDBREAK | DT_CALCRECT);
    return box.bottom - box.top;
}

void PaintAlert(HWND window)
{
    const int height = alertState.height;
    PaintPopup(window, kAlertWidth, height, 8, [height](HDC dc) {
        SetBkMode(dc, TRANSPARENT);
        GdiObject<HFONT> titleFont(CreateUiFont(18, 600));
        GdiObject<HFONT> textFont(CreateUiFont(16));
        {
            SelectionScope select(dc, titleFont.Get());
            SetTextColor(dc, kTitleText);
            RECT line{20, 14, 360, 38};
            DrawTextW(dc, Widen(alertState.title).c_str(), -1, &line, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
        }
        {
            SelectionScope select(dc, textFont.Get());
            SetTextColor(dc, kText);
            RECT box{20, 42, 360, height - 54};
            DrawTextW(dc, Widen(alertState.message).c_str(), -1, &box, DT_WORDBREAK | DT_END_ELLIPSIS);
        }
        DrawButton(dc, OkRect(), L"OK", alertState.mouse.hover != 0, textFont.Get());
    });
}

bool IsAlertCloseKey(WPARAM key)
{
    return key == VK_RETURN || key == VK_ESCAPE || key == VK_SPACE;
}

LRESULT HandleAlert(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return HandleModal(window, message, wParam, lParam,
                       ModalPopup{alertState.owner, alertState.mouse, AlertHit, PaintAlert, [](int) {},
                                  IsAlertCloseKey});
}

LRESULT CALLBACK AlertProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return Guarded(window, message, wParam, lParam, HandleAlert);
}

// ---- toast ------------------------------------------------------------------------

void PaintToast(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    const int width = client.right;
    const int height = client.bottom;
    if (width <= 0 || height <= 0)
        return;
    const char* text = reinterpret_cast<const char*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    PaintPopup(window, width, height, 10, [&](HDC dc) {
        GdiObject<HFONT> font(CreateUiFont(18));
        DrawCentredLine(dc, font.Get(), kToastTextColour, RECT{0, 0, width, height}, Widen(text ? text : "").c_str());
    });
}

LRESULT HandleToast(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        KillTimer(window, 1);
        DestroyWindow(window);
        return 0;
    default:
        return PopupDefault(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK ToastProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return Guarded(window, message, wParam, lParam, HandleToast);
}

} // namespace

int AlertHeight(int messageHeight)
{
    return std::clamp(messageHeight + 116, 140, 260);
}

void PresentLayered(HWND window, HDC source, int width, int height, int radius)
{
    void* bits = nullptr;
    GdiObject<HBITMAP> dib(CreateTopDownDib(nullptr, width, height, &bits));
    if (!dib)
        return;
    ScreenDc screen;
    MemoryDc memory(screen.Dc());
    HDC dibDc = memory.Dc();
    {
        SelectionScope select(dibDc, dib.Get());
        BitBlt(dibDc, 0, 0, width, height, source, 0, 0, SRCCOPY);
        GdiFlush();

        // The shape's coverage, anti-aliased, as the alpha of every pixel.
        Gdiplus::Bitmap mask(width, height, PixelFormat32bppARGB);
        {
            Gdiplus::Graphics g(&mask);
            g.Clear(Gdiplus::Color(0, 0, 0, 0));
            g.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
            g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
            g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighQuality);
            Gdiplus::GraphicsPath path;
            AddRoundedPath(path, width, height, radius);
            Gdiplus::SolidBrush white(Gdiplus::Color(255, 255, 255, 255));
            g.FillPath(&white, &path);
        }
        Gdiplus::BitmapData data{};
        Gdiplus::Rect all(0, 0, width, height);
        auto* pixels = static_cast<uint8_t*>(bits);
        if (mask.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data) == Gdiplus::Ok) {
            for (int y = 0; y < height; ++y) {
                const auto* row = static_cast<const uint8_t*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride;
                for (int x = 0; x < width; ++x) {
                    uint8_t* p = pixels + (static_cast<size_t>(y) * width + x) * 4;
                    const uint8_t alpha = row[x * 4 + 3];
                    p[0] = static_cast<uint8_t>(p[0] * alpha / 255);
                    p[1] = static_cast<uint8_t>(p[1] * alpha / 255);
                    p[2] = static_cast<uint8_t>(p[2] * alpha / 255);
                    p[3] = alpha;
                }
            }
            mask.UnlockBits(&data);
        }
        {
            Gdiplus::Bitmap wrapper(width, height, width * 4, PixelFormat32bppPARGB, static_cast<BYTE*>(bits));
            Gdiplus::Graphics g(&wrapper);
            g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
            g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighQuality);
            Gdiplus::GraphicsPath path;
            AddRoundedPath(path, width, height, radius);
            Gdiplus::Pen pen(Gdiplus::Color(180, 60, 64, 74), 1.0f);
            g.DrawPath(&pen, &path);
        }
        RECT r;
        GetWindowRect(window, &r);
        POINT position{r.left, r.top};
        SIZE size{width, height};
        POINT origin{0, 0};
        BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        UpdateLayeredWindow(window, screen.Dc(), &position, &size, dibDc, &origin, 0, &blend, ULW_ALPHA);
    }
}

ExitChoice ShowExitDialog(HWND owner, HINSTANCE instance)
{
    if (!Register(kExitDialogClass, ExitProc, nullptr))
        return ExitChoice::None;
    exitState = ExitState{};
    exitState.owner = owner;
    const RECT r = OwnerRect(owner);
    HWND popup = CreateWindowExW(WS_EX_LAYERED | WS_EX_TOPMOST, kExitDialogClass, L"", WS_POPUP,
                                 (r.left + r.right) / 2 - kExitWidth / 2, (r.top + r.bottom) / 2 - kExitHeight / 2,
                                 kExitWidth, kExitHeight, owner, nullptr, instance, nullptr);
    if (!popup)
        return ExitChoice::None;
    RunModal(owner, popup, PaintExit);
    return exitState.result;
}

void ShowAlert(HWND owner, const std::string& message, const std::string& title)
{
    if (!Register(kAlertClass, AlertProc, nullptr))
        return;
    alertState = AlertState{};
    alertState.owner = owner;
    alertState.title = title;
    alertState.message = message;
    alertState.height = AlertHeight(MeasureMessageHeight(Widen(message)));
    const RECT r = OwnerRect(owner);
    HWND popup = CreateWindowExW(WS_EX_LAYERED | WS_EX_TOPMOST, kAlertClass, L"", WS_POPUP,
                                 (r.left + r.right) / 2 - kAlertWidth / 2, (r.top + r.bottom) / 2 - alertState.height / 2,
                                 kAlertWidth, alertState.height, owner, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!popup)
        return;
    RunModal(owner, popup, PaintAlert);
}

HWND ShowToast(HWND owner)
{
    if (!Register(kToastClass, ToastProc, nullptr))
        return nullptr;
    SIZE text{0, 0};
    {
        ScreenDc screen;
        GdiObject<HFONT> font(CreateUiFont(18));
        SelectionScope select(screen.Dc(), font.Get());
        const std::wstring wide = Widen(kToastText);
        GetTextExtentPoint32W(screen.Dc(), wide.c_str(), static_cast<int>(wide.size()), &text);
    }
    const int width = text.cx + 80;
    const int height = text.cy + 40;
    const RECT r = OwnerRect(owner);
    HWND toast = CreateWindowExW(WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kToastClass, L"", WS_POPUP,
                                 (r.left + r.right) / 2 - width / 2, (r.top + r.bottom) / 2 - height / 2, width, height,
                                 owner, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!toast)
        return nullptr;
    SetWindowLongPtrW(toast, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(kToastText));
    ShowWindow(toast, SW_SHOWNOACTIVATE);
    PaintToast(toast);
    SetTimer(toast, 1, 2000, nullptr);
    return toast;
}
