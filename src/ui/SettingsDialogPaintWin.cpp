#include "ui/SettingsDialogPaint.h"

#include "ui/Controls.h"
#include "ui/Gdi.h"
#include "ui/SettingsDialog.h"
#include "ui/Shapes.h"

namespace {


const wchar_t* const kTabCaptions[kSettingsTabCount] = {L"SYSTEM", L"SERVER", L"AUDIO", L"DSP", L"ABOUT"};
constexpr RECT kTabRects[kSettingsTabCount] = {
    {10, 38, 95, 66}, {98, 38, 183, 66}, {186, 38, 271, 66}, {274, 38, 359, 66}, {362, 38, 447, 66}};

void FillBox(HDC dc, int left, int top, int right, int bottom, COLORREF colour)
{
    GdiObject<HBRUSH> brush(CreateSolidBrush(colour));
    const RECT r{left, top, right, bottom};
    FillRect(dc, &r, brush.Get());
}

void Line(HDC dc, int x0, int y0, int x1, int y1)
{
    MoveToEx(dc, x0, y0, nullptr);
    LineTo(dc, x1, y1);
}

void PaintTab(HDC dc, int tab, int activeTab)
{
    const RECT& r = kTabRects[tab];
    const bool active = tab == activeTab;
    GdiObject<HPEN> pen(CreatePen(PS_SOLID, 1, active ? ToColorref(colours::kPanelLine) : ToColorref(colours::kGroove)));
    SelectionScope selectPen(dc, pen.Get());
    {
        GdiObject<HBRUSH> brush(CreateSolidBrush(active ? ToColorref(colours::kPanel) : RGB(48, 52, 62)));
        SelectionScope selectBrush(dc, brush.Get());
        RoundRect(dc, r.left, r.top, r.right, active ? r.bottom + 4 : r.bottom - 5, 10, 10);
    }
    if (active) {
        FillBox(dc, r.left + 1, r.bottom - 5, r.right - 1, r.bottom + 5, ToColorref(colours::kPanel));
        Line(dc, r.left, r.bottom - 5, r.left, r.bottom);
        Line(dc, r.right - 1, r.bottom - 5, r.right - 1, r.bottom);
        Line(dc, 10, r.bottom, r.left, r.bottom);
        Line(dc, r.right, r.bottom, 450, r.bottom);
    }
    SetTextColor(dc, active ? ToColorref(colours::kWhite) : ToColorref(colours::kCaption));
    RECT caption{r.left, r.top, r.right, active ? r.bottom : r.bottom - 5};
    DrawTextW(dc, kTabCaptions[tab], -1, &caption, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

} // namespace

void PaintSettingsDialog(HWND window, int activeTab, const DialogFonts& fonts)
{
    PaintOffscreen(window, [activeTab, &fonts](HDC dc, int w, int h) {
        FillBox(dc, 0, 0, w, h, ToColorref(colours::kWindow));
        FillBox(dc, 0, 0, w, 30, ToColorref(colours::kPanel));
        SetBkMode(dc, TRANSPARENT);
        {
            SelectionScope selectFont(dc, fonts.title);
            SetTextColor(dc, ToColorref(colours::kWhite));
            TextOutW(dc, 12, 6, L"Settings", 8);
        }
        FillBox(dc, 10, 66, 450, 232, ToColorref(colours::kPanel));
        {
            GdiObject<HPEN> pen(CreatePen(PS_SOLID, 1, ToColorref(colours::kPanelLine)));
            SelectionScope selectPen(dc, pen.Get());
            Line(dc, 10, 66, 10, 231);
            Line(dc, 10, 231, 449, 231);
            Line(dc, 449, 231, 449, 65);
        }
        {
            SelectionScope selectFont(dc, fonts.tab);
            for (int tab = 0; tab < kSettingsTabCount; ++tab)
                PaintTab(dc, tab, activeTab);
        }
        OutlineWindowEdge(dc, w, h);
    });
}

void DrawDialogButton(const DRAWITEMSTRUCT& item, bool passwordVisible, HFONT font)
{
    HDC dc = item.hDC;
    const RECT& r = item.rcItem;
    FillBox(dc, r.left, r.top, r.right, r.bottom, ToColorref(colours::kPanel));
    if (item.CtlID == IDC_SHOW_PASSWORD || item.CtlID == IDC_REMOVE_OUTPUT) {
        FillBox(dc, r.left, r.top, r.right, r.bottom, ToColorref(colours::kEdit));
        GdiObject<HBRUSH> frame(CreateSolidBrush(ToColorref(colours::kPanelLine)));
        FrameRect(dc, &r, frame.Get());
        SetBkMode(dc, TRANSPARENT);
        const bool accent = item.CtlID == IDC_SHOW_PASSWORD && passwordVisible;
        SetTextColor(dc, accent ? ToColorref(chip_colours::kChosenLine) : ToColorref(colours::kCaption));
        const wchar_t* glyph = item.CtlID == IDC_REMOVE_OUTPUT ? L"\u00D7" : (passwordVisible ? L"\u25CB" : L"\u25CF");
        RECT text = r;
        DrawTextW(dc, glyph, -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        return;
    }
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    FillRoundedBox(dc, r, 8.0f, pressed ? RGB(80, 90, 110) : RGB(60, 65, 80), RGB(70, 75, 90));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, ToColorref(colours::kWhite));
    SelectionScope selectFont(dc, font);
    RECT text = r;
    DrawTextW(dc, item.CtlID == IDC_OK ? L"OK" : L"Cancel", -1, &text,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

void DrawOutputChip(const DRAWITEMSTRUCT& item, ChipLook look, HFONT font)
{
    using namespace chip_colours;
    HDC dc = item.hDC;
    const RECT& r = item.rcItem;
    FillBox(dc, r.left, r.top, r.right, r.bottom, ToColorref(colours::kPanel));
    const Rgb fill = look.chosen ? kChosenFill : (look.enabled ? kFill : kOffFill);
    const Rgb line = look.chosen ? kChosenLine : (look.enabled ? kLine : kOffLine);
    FillRoundedBox(dc, r, 8.0f, ToColorref(fill), ToColorref(line));
    SetBkMode(dc, TRANSPARENT);
    const Rgb text = !look.enabled ? colours::kDisabledKnob : (look.chosen ? colours::kWhite : colours::kCaption);
    SetTextColor(dc, ToColorref(text));
    SelectionScope selectFont(dc, font);
    wchar_t caption[8] = {};
    GetWindowTextW(item.hwndItem, caption, 8);
    RECT box = r;
    DrawTextW(dc, caption, -1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

int SettingsTabAt(POINT point)
{
    for (int tab = 0; tab < kSettingsTabCount; ++tab)
        if (PtInRect(&kTabRects[tab], point))
            return tab;
    return -1;
}
