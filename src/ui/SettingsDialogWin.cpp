#include "ui/SettingsDialog.h"

#include <algorithm>
#include <cstdlib>

#include "audio/PreviewOutput.h"
#include "icecast/ConnectionTest.h"
#include "ui/Gdi.h"
#include "ui/ModalLoop.h"
#include "ui/SettingsDialogState.h"
#include "ui/Shapes.h"
#include "base/WideText.h"

const wchar_t kSettingsDialogClass[] = L"KelmVantoroSettingsDlg";

namespace settings_dialog {

DialogState* state = nullptr;

// The switches bound to record flags (the "Listen" switch is not one of them).
bool IsRecordSwitch(int id)
{
    for (const SwitchField& f : kSwitchFields)
        if (f.id == id)
            return true;
    return false;
}

bool& SwitchValue(int id)
{
    return state->switches[static_cast<size_t>(id - kFirstSwitch)];
}

void SetText(HWND window, const std::string& text)
{
    SetWindowTextW(window, Widen(text).c_str());
}

std::string TextOf(HWND window, size_t limit)
{
    std::string text = WindowTextUtf8(window);
    if (text.size() > limit)
        text.resize(limit);
    return text;
}

double HiddenValue(Hidden which)
{
    return std::strtod(WindowTextUtf8(state->hidden[which]).c_str(), nullptr);
}

int ComboIndex(HWND combo)
{
    return static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
}

} // namespace settings_dialog

namespace {

using namespace settings_dialog;

constexpr int kWidth = 460;
constexpr int kHeight = 284;

// The controls below the panel, on the window's background.
bool IsFooter(HWND control)
{
    const auto& footer = state->footer;
    return std::find(footer.begin(), footer.end(), control) != footer.end();
}

void OnDestroy(HWND window)
{
    DialogState& s = *state;
    if (s.preview)
        s.preview->StopPreview();
    AbandonConnectionTests();
    KillTimer(window, kMeterTimer);
    for (auto& children : s.tabChildren)
        children.clear();
    s.window = nullptr;
    WakeModalLoop();
}

LRESULT CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(window, static_cast<SettingsDialogData*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        return 0;
    case WM_NCHITTEST: {
        POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        ScreenToClient(window, &p);
        return p.y < 30 ? HTCAPTION : HTCLIENT;
    }
    case WM_MOVING:
        if (state->owner) {
            const RECT* r = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(state->owner, nullptr, r->left, r->top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        break;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        PaintSettingsDialog(window, state->tab, {state->font18.Get(), state->tabFont.Get(), state->font16.Get()});
        return 0;
    case WM_LBUTTONDOWN: {
        const POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        const int tab = SettingsTabAt(p);
        if (tab >= 0 && tab != state->tab)
            ShowTab(tab);
        return 0;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        SetTextColor(reinterpret_cast<HDC>(wParam), ToColorref(colours::kValue));
        SetBkColor(reinterpret_cast<HDC>(wParam), ToColorref(colours::kEdit));
        return reinterpret_cast<LRESULT>(state->editBrush.Get());
    case WM_CTLCOLORBTN:
        return reinterpret_cast<LRESULT>(state->windowBrush.Get());
    case WM_CTLCOLORSTATIC:
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        SetTextColor(reinterpret_cast<HDC>(wParam), ToColorref(colours::kCaption));
        return reinterpret_cast<LRESULT>(IsFooter(reinterpret_cast<HWND>(lParam)) ? state->windowBrush.Get()
                                                                                    : state->panelBrush.Get());
    case WM_DRAWITEM: {
        const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (IsOutputControl(static_cast<int>(item.CtlID)))
            DrawOutputControl(item);
        else if (IsRecordSwitch(static_cast<int>(item.CtlID)) || item.CtlID == static_cast<UINT>(IDC_LISTEN))
            DrawToggleSwitch(item, SwitchValue(static_cast<int>(item.CtlID)), !IsFooter(item.hwndItem));
        else
            DrawDialogButton(item, state->passwordVisible, state->font16.Get());
        return TRUE;
    }
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_CLOSE:
        state->result = false;
        DestroyWindow(window);
        return 0;
    case WM_TIMER:
        if (wParam == kMeterTimer)
            RefreshMeters();
        return 0;
    case WM_APP_TEST_DONE:
        if (static_cast<int32_t>(wParam) == state->testGeneration) {
            state->dots[0] = DotState(ConnectionTestServerResult());
            state->dots[1] = DotState(ConnectionTestAuthResult());
            RepaintDots();
        }
        return 0;
    case WM_DESTROY:
        OnDestroy(window);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Keys the dialog answers itself, as a dialog box would.
bool DialogKeys(HWND window, const MSG& msg)
{
    if (msg.hwnd != window && !IsChild(window, msg.hwnd))
        return false;
    // Escape anywhere in the dialog cancels it, as IDCANCEL does in a dialog box.
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        return true;
    }
    // The text edits are multi-line inside (for centring): outside a dialog box they
    // would take Enter and Tab into the address or the title.
    return msg.message == WM_CHAR && (msg.wParam == '\r' || msg.wParam == '\n' || msg.wParam == '\t');
}

} // namespace

HWND SettingsDialogWindow()
{
    return state ? state->window : nullptr;
}

bool ShowSettingsDialog(HWND owner, HINSTANCE instance, SettingsDialogData& data, InputLevelMonitor* levelMonitor,
                        PreviewOutput* preview)
{
    if (state)
        return false; // one dialog at a time
    static bool registered = false;
    if (!registered) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DialogProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = CreateSolidBrush(ToColorref(colours::kWindow));
        wc.lpszClassName = kSettingsDialogClass;
        registered = RegisterClassExW(&wc) != 0;
    }
    DialogState dialog;
    dialog.owner = owner;
    dialog.monitor = levelMonitor;
    dialog.preview = preview;
    state = &dialog;

    RECT frame{0, 0, kWidth, kHeight};
    AdjustWindowRect(&frame, WS_POPUP | WS_CLIPCHILDREN, FALSE);
    int x = CW_USEDEFAULT, y = CW_USEDEFAULT;
    int w = frame.right - frame.left, h = frame.bottom - frame.top;
    RECT ownerRect;
    if (owner && GetWindowRect(owner, &ownerRect)) {
        x = ownerRect.left;
        y = ownerRect.top;
        w = ownerRect.right - ownerRect.left;
        h = ownerRect.bottom - ownerRect.top;
    }
    HWND window = CreateWindowExW(0, kSettingsDialogClass, L"Settings", WS_POPUP | WS_CLIPCHILDREN, x, y, w, h, owner,
                                  nullptr, instance, &data);
    if (!window) {
        state = nullptr;
        return false;
    }
    if (owner)
        EnableWindow(owner, FALSE);
    RoundWindowCorners(window, w, h);
    ShowWindow(window, SW_SHOW);
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    RunModalLoop(window, DialogKeys);
    if (owner) {
        EnableWindow(owner, TRUE);
        SetForegroundWindow(owner);
    }
    const bool result = dialog.result;
    state = nullptr;
    return result;
}

