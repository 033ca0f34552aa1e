#include "ui/Controls.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>

#include "settings/DialogValues.h"
#include "ui/Gdi.h"
#include "ui/Shapes.h"
#include "base/WideText.h"

namespace {

constexpr wchar_t kBindingProperty[] = L"KelmControl";
constexpr wchar_t kPlaceholderProperty[] = L"PlaceholderData";

void FillPanel(HDC dc, const RECT& r)
{
    GdiObject<HBRUSH> brush(CreateSolidBrush(ToColorref(colours::kPanel)));
    FillRect(dc, &r, brush.Get());
}

// Paints a control off-screen on the panel colour.
template <typename Paint>
void PaintBuffered(HWND window, Paint paint)
{
    PaintOffscreen(window, [&paint](HDC dc, int w, int h) {
        FillPanel(dc, RECT{0, 0, w, h});
        paint(dc, w, h);
    });
}

// What a subclassed STATIC keeps: its previous procedure and its binding.
struct Subclass {
    WNDPROC previous = nullptr;
    const int* state = nullptr;
    const float* level = nullptr;
    const ActivityLamps* lamps = nullptr;
    SliderBinding slider;
    bool dragging = false;
    GdiObject<HFONT> captionFont;
};

Subclass* SubclassOf(HWND window)
{
    return static_cast<Subclass*>(GetPropW(window, kBindingProperty));
}

HWND MakeSubclassedStatic(HWND parent, int id, int x, int y, int w, int h, std::unique_ptr<Subclass> data,
                          WNDPROC procedure)
{
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, x, y, w, h, parent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    if (!window)
        return nullptr;
    data->previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
    SetPropW(window, kBindingProperty, data.release());
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
    return window;
}

// The messages every subclassed STATIC answers the same way; true when handled.
bool CommonMessage(HWND window, UINT message, LRESULT& result)
{
    Subclass* data = SubclassOf(window);
    switch (message) {
    case WM_ERASEBKGND:
        result = 1;
        return true;
    case WM_NCDESTROY: {
        RemovePropW(window, kBindingProperty);
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(data->previous));
        const WNDPROC previous = data->previous;
        delete data;
        result = CallWindowProcW(previous, window, message, 0, 0);
        return true;
    }
    default:
        return false;
    }
}

// A subclassed STATIC that only paints itself, with paint(dc, width, height, binding).
template <void (*Paint)(HDC, int, int, const Subclass&)>
LRESULT CALLBACK PaintOnlyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (CommonMessage(window, message, result))
        return result;
    Subclass* data = SubclassOf(window);
    if (message == WM_PAINT) {
        PaintBuffered(window, [data](HDC dc, int w, int h) { Paint(dc, w, h, *data); });
        return 0;
    }
    return CallWindowProcW(data->previous, window, message, wParam, lParam);
}

void PaintStatusDot(HDC dc, int w, int h, const Subclass& data)
{
    FillCentredCircle(dc, w / 2.0f, h / 2.0f, 5.0f, ToColorref(DotColour(*data.state)));
}

void PaintMiniMeter(HDC dc, int w, int h, const Subclass& data)
{
    const int lit = LitMeterDots(*data.level);
    for (int i = 0; i < 9; ++i) {
        // Bounding squares of diameter 11 at (x + 0.5, h / 2 - 5 + 0.5).
        const int x = static_cast<int>(i * (w - 11) * 0.125 + 0.5);
        const int band = MeterBand(i);
        const Rgb colour = i < lit ? colours::kMeterLit[band] : colours::kMeterUnlit[band];
        FillCentredCircle(dc, x + 5.5f, h / 2 - 5 + 5.5f, 5.5f, ToColorref(colour));
    }
}

Rgb LampColour(int kind, float value, bool on)
{
    if (kind == 0)
        return ActivityColour(value, on);
    if (!on)
        return colours::kGroove;
    return kind == 1 ? Spectrum(value) : Reverse(value);
}

void PaintActivityStrip(HDC dc, int w, int h, const Subclass& data)
{
    const ActivityLamps& lamps = *data.lamps;
    const int slot = w / 5;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, ToColorref(colours::kCaption));
    SelectionScope select(dc, data.captionFont.Get());
    for (int i = 0; i < 5; ++i) {
        FillCentredCircle(dc, static_cast<float>(6 + i * slot), h / 2.0f, 5.0f,
                          ToColorref(LampColour(lamps.kinds[i], lamps.values[i], lamps.on[i])));
        RECT caption{14 + i * slot, 0, i * slot + slot, h};
        DrawTextW(dc, lamps.captions[i], -1, &caption, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    }
}

void PaintSlider(HDC dc, int w, int h, const SliderBinding& slider)
{
    const bool on = slider.on && *slider.on;
    const double t = std::clamp(slider.position ? slider.position() : 0.0, 0.0, 1.0);
    const int knobX = SliderKnobX(t, w);
    const RECT groove{9, h / 2 - 2, w - 9, h / 2 + 2};
    FillRoundedBox(dc, groove, 4.0f, ToColorref(colours::kGroove), ToColorref(colours::kGroove));
    if (on && knobX > 10) {
        // One brush per run of equal colour: the spectrum changes slower than a pixel.
        auto colourAt = [w](int x) { return Spectrum(static_cast<double>(x - 9) / (w - 19)); };
        for (int x = 9; x < knobX;) {
            const Rgb colour = colourAt(x);
            int end = x + 1;
            while (end < knobX && colourAt(end) == colour)
                ++end;
            GdiObject<HBRUSH> brush(CreateSolidBrush(ToColorref(colour)));
            const RECT run{x, h / 2 - 2, end, h / 2 + 2};
            FillRect(dc, &run, brush.Get());
            x = end;
        }
    }
    FillCentredCircle(dc, static_cast<float>(knobX), h / 2.0f, 7.0f,
                      on ? ToColorref(Spectrum(t)) : ToColorref(colours::kDisabledKnob));
}

void MoveSlider(HWND window, Subclass* data, LPARAM lParam)
{
    RECT client;
    GetClientRect(window, &client);
    const int x = static_cast<short>(LOWORD(lParam));
    if (data->slider.moved)
        data->slider.moved(SliderPositionAt(x, client.right));
    InvalidateRect(window, nullptr, FALSE);
}

LRESULT CALLBACK SliderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (CommonMessage(window, message, result))
        return result;
    Subclass* data = SubclassOf(window);
    switch (message) {
    case WM_NCHITTEST:
        return HTCLIENT;
    case WM_PAINT:
        PaintBuffered(window, [data](HDC dc, int w, int h) { PaintSlider(dc, w, h, data->slider); });
        return 0;
    case WM_LBUTTONDOWN:
        SetCapture(window);
        data->dragging = true;
        MoveSlider(window, data, lParam);
        return 0;
    case WM_MOUSEMOVE:
        if (!data->dragging)
            break;
        MoveSlider(window, data, lParam);
        return 0;
    case WM_LBUTTONUP:
        data->dragging = false;
        ReleaseCapture();
        return 0;
    default:
        break;
    }
    return CallWindowProcW(data->previous, window, message, wParam, lParam);
}

struct Placeholder {
    std::wstring text;
    WNDPROC previous = nullptr;
};

void DrawPlaceholder(HWND edit, const Placeholder& placeholder)
{
    if (GetWindowTextLengthW(edit) > 0 || GetFocus() == edit)
        return;
    WindowDc window(edit);
    HDC dc = window.Dc();
    RECT client;
    GetClientRect(edit, &client);
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0));
    SelectionScope select(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SetTextColor(dc, RGB(120, 120, 120));
    SetBkMode(dc, TRANSPARENT);
    RECT area{3, (client.bottom - metrics.tmHeight) / 2, client.right, client.bottom};
    DrawTextW(dc, placeholder.text.c_str(), -1, &area, DT_SINGLELINE | DT_NOPREFIX | DT_LEFT);
}

LRESULT CALLBACK PlaceholderProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* placeholder = static_cast<Placeholder*>(GetPropW(edit, kPlaceholderProperty));
    const LRESULT result = CallWindowProcW(placeholder->previous, edit, message, wParam, lParam);
    switch (message) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_PAINT:
    case WM_ERASEBKGND:
        DrawPlaceholder(edit, *placeholder);
        break;
    case WM_NCDESTROY:
        RemovePropW(edit, kPlaceholderProperty);
        delete placeholder;
        break;
    default:
        break;
    }
    return result;
}

} // namespace

void FillCentredCircle(HDC dc, float centreX, float centreY, float radius, COLORREF colour)
{
    FillCircle(dc, centreX - radius + 0.5f, centreY - radius + 0.5f, 2 * radius, colour);
}

void FillPill(HDC dc, float top, float width, float height, float radius, COLORREF colour)
{
    FillRoundedRect(dc, RoundedRect{0.5f, top + 0.5f, width, height, 2 * radius}, colour);
}

HWND MakeToggleSwitch(HWND parent, int id, int x, int y)
{
    return CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, x, y, 32, 18, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

void DrawToggleSwitch(const DRAWITEMSTRUCT& item, bool on, bool onPanel)
{
    const RECT& r = item.rcItem;
    if (onPanel) {
        FillPanel(item.hDC, r);
    } else {
        GdiObject<HBRUSH> brush(CreateSolidBrush(ToColorref(colours::kWindow)));
        FillRect(item.hDC, &r, brush.Get());
    }
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    const int pill = (h - 2) / 2;
    const int knob = (h - 6) / 2;
    FillPill(item.hDC, 1.0f, static_cast<float>(w), static_cast<float>(h - 2), static_cast<float>(pill),
             ToColorref(on ? colours::kSwitchOn : colours::kSwitchOff));
    const int centreX = on ? w - knob - 3 : knob + 3;
    FillCentredCircle(item.hDC, static_cast<float>(centreX), static_cast<float>(pill + 1), static_cast<float>(knob),
                      RGB(255, 255, 255));
}

HWND MakeStatusDot(HWND parent, int x, int y, const int* state)
{
    auto data = std::make_unique<Subclass>();
    data->state = state;
    return MakeSubclassedStatic(parent, 0, x, y, 14, 14, std::move(data), PaintOnlyProc<PaintStatusDot>);
}

HWND MakeMiniMeter(HWND parent, int x, int y, const float* level)
{
    auto data = std::make_unique<Subclass>();
    data->level = level;
    return MakeSubclassedStatic(parent, 0, x, y, 118, 18, std::move(data), PaintOnlyProc<PaintMiniMeter>);
}

HWND MakeActivityStrip(HWND parent, int id, int x, int y, const ActivityLamps* lamps)
{
    auto data = std::make_unique<Subclass>();
    data->lamps = lamps;
    data->captionFont.Reset(CreateUiFont(13));
    return MakeSubclassedStatic(parent, id, x, y, 252, 18, std::move(data), PaintOnlyProc<PaintActivityStrip>);
}

HWND MakeSlider(HWND parent, int id, int x, int y, SliderBinding binding)
{
    auto data = std::make_unique<Subclass>();
    data->slider = std::move(binding);
    return MakeSubclassedStatic(parent, id, x, y, 204, 18, std::move(data), SliderProc);
}

HWND MakeLabel(HWND parent, const wchar_t* text, int x, int y, int w, int h)
{
    return CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE, x, y, w, h, parent, nullptr, nullptr, nullptr);
}

HWND MakeCentredLabel(HWND parent, const wchar_t* text, int x, int y, int w, int h)
{
    return CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE | SS_CENTER, x, y, w, h, parent, nullptr,
                           nullptr, nullptr);
}

HWND MakeDropDown(HWND parent, int id, int x, int y, int w)
{
    return CreateWindowExW(0, L"COMBOBOX", L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWNLIST, x, y, w, 200,
                           parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

HWND MakeEdit(HWND parent, int id, const std::string& narrowText, int x, int y, int w, int h, bool password)
{
    const DWORD style = WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL | (password ? ES_PASSWORD : ES_MULTILINE);
    HWND edit = CreateWindowExW(0, L"EDIT", L"", style, x, y, w, h, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    if (!edit)
        return nullptr;
    SetWindowTextW(edit, Widen(narrowText).c_str());
    if (!password)
        CentreEditText(edit);
    return edit;
}

void CentreEditText(HWND edit)
{
    RECT client;
    GetClientRect(edit, &client);
    TEXTMETRICW metrics{};
    {
        WindowDc dc(edit);
        HFONT font = reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0));
        SelectionScope select(dc.Dc(), font ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
        GetTextMetricsW(dc.Dc(), &metrics);
    }
    const int top = std::max(static_cast<int>((client.bottom - metrics.tmHeight) / 2), 0);
    RECT format{3, top, client.right - 3, top + metrics.tmHeight};
    SendMessageW(edit, EM_SETRECT, 0, reinterpret_cast<LPARAM>(&format));
}

void SetPlaceholder(HWND edit, const wchar_t* text)
{
    auto* placeholder = new Placeholder{text, reinterpret_cast<WNDPROC>(GetWindowLongPtrW(edit, GWLP_WNDPROC))};
    SetPropW(edit, kPlaceholderProperty, placeholder);
    SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PlaceholderProc));
    InvalidateRect(edit, nullptr, TRUE);
}

std::string WindowTextUtf8(HWND window)
{
    const int length = GetWindowTextLengthW(window);
    std::wstring wide(static_cast<size_t>(std::max(length, 0)) + 1, L'\0');
    const int copied = GetWindowTextW(window, wide.data(), length + 1);
    wide.resize(static_cast<size_t>(std::max(copied, 0)));
    return Narrow(wide);
}
