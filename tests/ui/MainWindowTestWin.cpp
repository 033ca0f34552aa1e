// The main window in process: created on a test application, driven with messages,
// painted into a bitmap and read back pixel by pixel at the layout's coordinates.
// Glyph shapes are not checked (the fonts are substituted under Wine); fills and
// colours are.

#include <windows.h>

#include <objidl.h>

#include <gdiplus.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "CutTexts.h"
#include "app/Application.h"
#include "icecast/StatusPoller.h"
#include "ui/Gdi.h"
#include "app/MainWindow.h"
#include "ui/Popups.h"
#include "ui/SettingsDialog.h"
#include "ui/StatusPanel.h"
#include "ui/Theme.h"
#include "support/TempDir.h"

namespace {

class GdiplusEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token, &input, nullptr);
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(token); }

private:
    ULONG_PTR token = 0;
};
const testing::Environment* const gdiplus = testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

// A 32-bit bitmap to paint into and read back.
class Canvas {
public:
    Canvas(int w, int h) : width(w)
    {
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateTopDownDib(dc, w, h, reinterpret_cast<void**>(&bits));
        previous = SelectObject(dc, bitmap);
    }
    ~Canvas()
    {
        SelectObject(dc, previous);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    COLORREF At(int x, int y) const
    {
        GdiFlush();
        const uint32_t p = bits[y * width + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    HDC dc = nullptr;

private:
    int width;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    uint32_t* bits = nullptr;
};

std::string Hex(COLORREF c)
{
    char text[16];
    std::snprintf(text, sizeof(text), "(%d,%d,%d)", GetRValue(c), GetGValue(c), GetBValue(c));
    return text;
}
#define EXPECT_COLOUR(actual, expected) EXPECT_EQ(Hex(actual), Hex(expected))

// Handles the popups a command opens: the callback finds the popup by class and acts on
// it while the popup's own message loop runs.
struct PopupHandler {
    static inline const wchar_t* popupClass = nullptr;
    static inline bool seen = false;
    static inline void (*act)(HWND) = nullptr;

    static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD)
    {
        HWND popup = FindWindowW(popupClass, nullptr);
        if (!popup)
            return;
        seen = true;
        KillTimer(nullptr, id);
        act(popup);
    }
    // Arms a thread timer that acts on the next popup of this class.
    static UINT_PTR Arm(const wchar_t* cls, void (*action)(HWND))
    {
        popupClass = cls;
        seen = false;
        act = action;
        return SetTimer(nullptr, 0, 20, Tick);
    }
};

void PressEscape(HWND popup)
{
    PostMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 0);
}

void ClickExit(HWND popup)
{
    PostMessageW(popup, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 80));
    PostMessageW(popup, WM_LBUTTONUP, 0, MAKELPARAM(50, 80));
}

// The exit code of the quit message the window posted, or -1 when there is none.
int QuitCode()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        if (msg.message == WM_QUIT)
            return static_cast<int>(msg.wParam);
    return -1;
}

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        app = std::make_unique<Application>();
        // No settings file: every value is its default, the host is empty.
        app->settingsPath = "Z:\\kelm-vantoro-no-such-folder\\config.dat";
        app->probeTarget = ProbeTarget{"127.0.0.1", 1};
        ASSERT_TRUE(CreateMainWindow(*app, GetModuleHandleW(nullptr)));
        // The meters are set by hand below; the monitor would overwrite them.
        app->levelMonitor.Stop();
    }
    void TearDown() override
    {
        if (IsWindow(app->window))
            DestroyWindow(app->window);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        app.reset();
    }
    void PaintPanel(Canvas& canvas) { SendMessageW(app->window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc), PRF_CLIENT); }
    void DrawButtonInto(Canvas& canvas, HWND button, int id, UINT state)
    {
        RECT r;
        GetClientRect(button, &r);
        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_BUTTON;
        item.CtlID = static_cast<UINT>(id);
        item.hwndItem = button;
        item.hDC = canvas.dc;
        item.rcItem = r;
        item.itemState = state;
        SendMessageW(app->window, WM_DRAWITEM, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&item));
    }
    std::wstring Caption() const
    {
        wchar_t text[64] = {};
        GetWindowTextW(app->startButton, text, 64);
        return text;
    }
    std::unique_ptr<Application> app;
};

TEST_F(MainWindowTest, IsABorderlessPopupWithThreeButtons)
{
    RECT r;
    GetWindowRect(app->window, &r);
    EXPECT_EQ(r.right - r.left, kMainWidth);
    EXPECT_EQ(r.bottom - r.top, kMainHeight);
    EXPECT_EQ(FindWindowW(kMainWindowClass, nullptr), app->window);
    EXPECT_EQ(Caption(), L"Start");
    EXPECT_TRUE(IsWindowEnabled(app->startButton));
    EXPECT_FALSE(IsWindowEnabled(app->stopButton));
    EXPECT_TRUE(IsWindowEnabled(app->settingsButton));
    EXPECT_EQ(app->settings.stream.encoder.bitrate, 64000u);
    EXPECT_EQ(app->supervision.state.listeners, -1);
    EXPECT_NE(app->resources.logoBitmap.Get(), nullptr);
    EXPECT_NE(app->resources.trayIcon.Get(), nullptr);
}

TEST_F(MainWindowTest, TitleStripZonesAtTheirBorders)
{
    RECT r;
    GetWindowRect(app->window, &r);
    struct Case {
        int x, y;
        LRESULT hit;
    };
    for (const Case& c : {Case{407, 10, HTCAPTION}, Case{0, 33, HTCAPTION}, Case{408, 10, HTCLIENT},
                          Case{431, 33, HTCLIENT}, Case{432, 0, HTCLIENT}, Case{10, 34, HTCLIENT}}) {
        const LRESULT hit = SendMessageW(app->window, WM_NCHITTEST, 0, MAKELPARAM(r.left + c.x, r.top + c.y));
        EXPECT_EQ(hit, c.hit) << c.x << "," << c.y;
    }

    // A press left of the minimise zone or below the strip does nothing of its own.
    for (POINT p : {POINT{407, 10}, POINT{420, 34}, POINT{440, 34}}) {
        SendMessageW(app->window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
        EXPECT_FALSE(IsIconic(app->window)) << p.x << "," << p.y;
    }
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, app->window, WM_CLOSE, WM_CLOSE, PM_REMOVE));

    // The minimise zone, both corners.
    for (POINT p : {POINT{408, 10}, POINT{431, 33}}) {
        SendMessageW(app->window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
        EXPECT_TRUE(IsIconic(app->window)) << p.x << "," << p.y;
        ShowWindow(app->window, SW_RESTORE);
    }
    // The close zone asks the exit dialog, through WM_CLOSE.
    SendMessageW(app->window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(432, 0));
    EXPECT_TRUE(PeekMessageW(&msg, app->window, WM_CLOSE, WM_CLOSE, PM_REMOVE));
}

TEST_F(MainWindowTest, MinimiseZoneHidesToTheTrayWhenAsked)
{
    app->settings.minimizeToTray = true;
    SendMessageW(app->window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(420, 10));
    EXPECT_FALSE(IsWindowVisible(app->window));
    SendMessageW(app->window, WM_APP_TRAY, 1, WM_RBUTTONUP);
    EXPECT_FALSE(IsWindowVisible(app->window));
    SendMessageW(app->window, WM_APP_TRAY, 1, WM_LBUTTONUP);
    EXPECT_TRUE(IsWindowVisible(app->window));
}

// Whether the shell holds the window's tray icon: it changes only an icon it has.
bool ShellHasTrayIcon(HWND window)
{
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    data.uID = 1;
    data.uFlags = NIF_TIP;
    lstrcpynW(data.szTip, L"Kelm Vantoro", ARRAYSIZE(data.szTip));
    return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

// However the window comes back from the tray, its icon goes: the icon's clicks, a
// second start of the program (which finds the window by its class) and a plain show.
TEST_F(MainWindowTest, EveryWayBackFromTheTrayTakesTheIconAway)
{
    struct Case {
        const char* path;
        void (*restore)(HWND window);
    };
    const Case cases[] = {
        {"click on the icon", [](HWND w) { SendMessageW(w, WM_APP_TRAY, 1, WM_LBUTTONUP); }},
        {"double click on the icon", [](HWND w) { SendMessageW(w, WM_APP_TRAY, 1, WM_LBUTTONDBLCLK); }},
        {"second start", [](HWND) { ActivateRunningCopy(); }},
        {"SetWindowPos", [](HWND w) { SetWindowPos(w, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW); }},
    };
    app->settings.minimizeToTray = true;
    for (const Case& c : cases) {
        MinimiseMainWindow(*app);
        ASSERT_FALSE(IsWindowVisible(app->window)) << c.path;
        EXPECT_TRUE(app->tray.Present()) << c.path;
        EXPECT_TRUE(ShellHasTrayIcon(app->window)) << c.path;
        c.restore(app->window);
        EXPECT_TRUE(IsWindowVisible(app->window)) << c.path;
        EXPECT_FALSE(app->tray.Present()) << c.path;
        EXPECT_FALSE(ShellHasTrayIcon(app->window)) << c.path << ": the icon stayed behind";
    }
    // Hidden again, the window has one icon; it goes with the window.
    MinimiseMainWindow(*app);
    MinimiseMainWindow(*app);
    EXPECT_TRUE(ShellHasTrayIcon(app->window));
    const HWND window = app->window;
    DestroyWindow(window);
    EXPECT_FALSE(ShellHasTrayIcon(window));
}

TEST_F(MainWindowTest, PaintsBackgroundStripAndBoxes)
{
    Canvas canvas(kMainWidth, kMainHeight);
    PaintPanel(canvas);
    EXPECT_COLOUR(canvas.At(4, 230), ToColorref(colours::kWindow));   // between box 3 and the buttons
    EXPECT_COLOUR(canvas.At(200, 106), ToColorref(colours::kWindow)); // between box 1 and box 2
    EXPECT_COLOUR(canvas.At(300, 3), ToColorref(colours::kPanel));    // title strip
    EXPECT_COLOUR(canvas.At(380, 33), ToColorref(colours::kPanel));
    EXPECT_COLOUR(canvas.At(300, 35), ToColorref(colours::kWindow));
    EXPECT_COLOUR(canvas.At(12, 40), ToColorref(colours::kPanel));    // box 1
    EXPECT_COLOUR(canvas.At(447, 102), ToColorref(colours::kPanel));
    EXPECT_COLOUR(canvas.At(12, 110), ToColorref(colours::kPanel));   // box 2
    EXPECT_COLOUR(canvas.At(12, 180), ToColorref(colours::kPanel));   // box 3
    EXPECT_COLOUR(canvas.At(447, 218), ToColorref(colours::kPanel));
    EXPECT_COLOUR(canvas.At(6, 178), ToColorref(colours::kWindow));
    // The logo: its green disc in the strip's left.
    EXPECT_COLOUR(canvas.At(8, 17), ToColorref(colours::kGreen));
}

// The outline colour laid at its alpha over what lies beneath, as GDI+ blends it.
COLORREF OverBackground(Rgb colour, int alpha, Rgb background)
{
    const auto mix = [alpha](int over, int under) { return (over * alpha + under * (255 - alpha) + 127) / 255; };
    return RGB(mix(colour.r, background.r), mix(colour.g, background.g), mix(colour.b, background.b));
}

bool Near(COLORREF a, COLORREF b)
{
    return std::abs(GetRValue(a) - GetRValue(b)) <= 3 && std::abs(GetGValue(a) - GetGValue(b)) <= 3 &&
           std::abs(GetBValue(a) - GetBValue(b)) <= 3;
}

// The 1-pixel outline runs along the window's outermost rows and columns on all four
// sides, and the pixels just inside it are the plain background.
TEST_F(MainWindowTest, OutlineLiesOnAllFourEdges)
{
    Canvas canvas(kMainWidth, kMainHeight);
    PaintPanel(canvas);
    const COLORREF overStrip = OverBackground(colours::kOutline, colours::kOutlineAlpha, colours::kPanel);
    const COLORREF overWindow = OverBackground(colours::kOutline, colours::kOutlineAlpha, colours::kWindow);
    struct Case {
        const char* edge;
        POINT edgePixel;
        COLORREF outline;
        POINT inside;
        COLORREF background;
    };
    const int right = kMainWidth - 1;
    const int bottom = kMainHeight - 1;
    const Case cases[] = {
        {"top", {230, 0}, overStrip, {230, 1}, ToColorref(colours::kPanel)},
        {"left", {0, 140}, overWindow, {1, 140}, ToColorref(colours::kWindow)},
        {"right", {right, 140}, overWindow, {right - 1, 140}, ToColorref(colours::kWindow)},
        {"bottom", {230, bottom}, overWindow, {230, bottom - 1}, ToColorref(colours::kWindow)},
        {"left, beside the strip", {0, 20}, overStrip, {1, 20}, ToColorref(colours::kPanel)},
        {"right, beside the strip", {right, 20}, overStrip, {right - 1, 20}, ToColorref(colours::kPanel)},
    };
    for (const Case& c : cases) {
        const COLORREF onEdge = canvas.At(c.edgePixel.x, c.edgePixel.y);
        EXPECT_TRUE(Near(onEdge, c.outline)) << c.edge << ": " << Hex(onEdge) << " instead of " << Hex(c.outline);
        const COLORREF inside = canvas.At(c.inside.x, c.inside.y);
        EXPECT_TRUE(Near(inside, c.background)) << c.edge << " inside: " << Hex(inside) << " instead of "
                                                << Hex(c.background);
    }
}

TEST_F(MainWindowTest, MeterDotsLightInProportionToTheLevel)
{
    Canvas canvas(kMainWidth, kMainHeight);
    struct Case {
        float level;
        int lit;
    };
    for (const Case& c : {Case{0.0f, 0}, Case{0.5f, 15}, Case{1.0f, 31}, Case{1.7f, 31}}) {
        app->levelMonitor.leftLevel = c.level;
        app->levelMonitor.rightLevel = 1.0f - c.level;
        PaintPanel(canvas);
        EXPECT_EQ(LitDots(c.level), c.lit);
        for (int i = 0; i < kMeterDots; ++i) {
            const int x = MeterDotCentreX(i, kMainWidth);
            EXPECT_COLOUR(canvas.At(x, 189), MeterDotColour(i, i < c.lit)) << "left dot " << i << " at " << c.level;
        }
        const int rightLit = LitDots(1.0f - c.level);
        EXPECT_COLOUR(canvas.At(MeterDotCentreX(0, kMainWidth), 206), MeterDotColour(0, rightLit > 0));
    }
    // The colour bands: green to 17, yellow to 22, orange to 26, red to 30.
    EXPECT_EQ(MeterDotColour(17, true), ToColorref(colours::kGreen));
    EXPECT_EQ(MeterDotColour(18, true), ToColorref(colours::kYellow));
    EXPECT_EQ(MeterDotColour(22, false), RGB(74, 58, 3));
    EXPECT_EQ(MeterDotColour(23, true), ToColorref(colours::kOrange));
    EXPECT_EQ(MeterDotColour(27, false), RGB(74, 21, 21));
    EXPECT_EQ(MeterDotCentreX(0, kMainWidth), 62);
    EXPECT_EQ(MeterDotCentreX(30, kMainWidth), 441);
}

TEST_F(MainWindowTest, IndicatorsFollowProbeResults)
{
    Canvas canvas(kMainWidth, kMainHeight);
    // After the internet caption's turn (ticks 0-19), so texts rotate but colours hold.
    app->supervision.state.tickCount = 20;
    PaintPanel(canvas);
    EXPECT_COLOUR(canvas.At(440, 53), ToColorref(colours::kNeutral)); // no probe result yet
    EXPECT_COLOUR(canvas.At(440, 71), ToColorref(colours::kRed));     // no engine: "Offline"
    EXPECT_COLOUR(canvas.At(440, 89), ToColorref(colours::kNeutral)); // silence: "Mute"

    struct Case {
        WPARAM wParam;
        COLORREF colour;
    };
    for (const Case& c : {Case{1, ToColorref(colours::kGreen)}, Case{0, ToColorref(colours::kRed)}, Case{1, ToColorref(colours::kGreen)}, Case{7, ToColorref(colours::kRed)}}) {
        app->supervision.state.netCheckInFlight = true;
        SendMessageW(app->window, WM_APP_NETCHECK, c.wParam, 0);
        EXPECT_FALSE(app->supervision.state.netCheckInFlight);
        PaintPanel(canvas);
        EXPECT_COLOUR(canvas.At(440, 53), c.colour) << "wParam " << c.wParam;
    }
}

TEST_F(MainWindowTest, StatusResultsAreTakenAndFreed)
{
    auto* record = new StatusResult{"M\xC3\xBCnchen Radio", "Morning Show", 3};
    SendMessageW(app->window, WM_APP_STATUS, 0, reinterpret_cast<LPARAM>(record));
    EXPECT_EQ(app->supervision.state.serverName, "M\xC3\xBCnchen Radio");
    EXPECT_EQ(app->supervision.state.streamTitle, "Morning Show");
    EXPECT_EQ(app->supervision.state.listeners, 3);
    EXPECT_TRUE(app->supervision.state.statusResultArrived);

    // A failed poll: the values stay, the next poll may start.
    app->supervision.state.statusResultArrived = false;
    SendMessageW(app->window, WM_APP_STATUS, 0, 0);
    EXPECT_EQ(app->supervision.state.listeners, 3);
    EXPECT_TRUE(app->supervision.state.statusResultArrived);

    // Records still queued when the window goes are freed, not left in the queue.
    PostMessageW(app->window, WM_APP_STATUS, 0, reinterpret_cast<LPARAM>(new StatusResult{"a", "b", 1}));
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_APP_STATUS, WM_APP_STATUS, PM_NOREMOVE));
    DestroyWindow(app->window);
    int left = 0;
    int quitCode = -1;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        left += msg.message == WM_APP_STATUS ? 1 : 0;
        quitCode = msg.message == WM_QUIT ? static_cast<int>(msg.wParam) : quitCode;
    }
    EXPECT_EQ(left, 0);
    EXPECT_EQ(quitCode, 0);
}

TEST_F(MainWindowTest, ButtonFillsFollowTheCaption)
{
    Canvas canvas(128, 28);
    struct Case {
        StreamPhase phase;
        const wchar_t* caption;
        COLORREF normal;
        COLORREF pressed;
    };
    const Case cases[] = {
        {StreamPhase::Idle, L"Start", RGB(60, 65, 80), RGB(50, 55, 68)},
        {StreamPhase::Online, L"Online", RGB(34, 160, 56), RGB(30, 140, 30)},
        {StreamPhase::Reconnecting, L"Reconnecting", RGB(210, 120, 20), RGB(180, 90, 10)},
        {StreamPhase::Disconnected, L"Disconnected", RGB(200, 50, 50), RGB(160, 30, 30)},
        {StreamPhase::Offline, L"Offline", RGB(200, 50, 50), RGB(160, 30, 30)},
    };
    for (const Case& c : cases) {
        app->supervision.state.phase = c.phase;
        SetWindowTextW(app->startButton, c.caption);
        DrawButtonInto(canvas, app->startButton, IDC_START, 0);
        EXPECT_COLOUR(canvas.At(2, 14), c.normal) << c.caption;
        EXPECT_COLOUR(canvas.At(0, 0), ToColorref(colours::kWindow)) << c.caption; // outside the rounded corner
        DrawButtonInto(canvas, app->startButton, IDC_START, ODS_SELECTED);
        EXPECT_COLOUR(canvas.At(2, 14), c.pressed) << c.caption;
    }
    DrawButtonInto(canvas, app->stopButton, IDC_STOP, 0);
    EXPECT_COLOUR(canvas.At(2, 14), RGB(60, 62, 70)); // disabled
    EnableWindow(app->stopButton, TRUE);
    DrawButtonInto(canvas, app->stopButton, IDC_STOP, 0);
    EXPECT_COLOUR(canvas.At(2, 14), RGB(80, 85, 100));
    DrawButtonInto(canvas, app->settingsButton, IDC_SETTINGS, 0);
    EXPECT_COLOUR(canvas.At(3, 2), RGB(60, 65, 80)); // its text reaches the sides
}

// Through a reconnection attempt the Start button says "Reconnecting", in its colours,
// whichever of the countdown's two captions it had; after it, the phase's own.
TEST_F(MainWindowTest, ThroughAReconnectionAttemptTheButtonSaysReconnecting)
{
    Canvas canvas(128, 28);
    SupervisionState& s = app->supervision.state;
    for (StreamPhase phase : {StreamPhase::Disconnected, StreamPhase::Reconnecting}) {
        s.phase = phase;
        s.attemptRunning = true;
        SendMessageW(app->window, WM_TIMER, kSupervisionTimer, 0);
        EXPECT_EQ(Caption(), L"Reconnecting");
        DrawButtonInto(canvas, app->startButton, IDC_START, 0);
        EXPECT_COLOUR(canvas.At(2, 14), RGB(210, 120, 20));
        s.attemptRunning = false;
        SendMessageW(app->window, WM_TIMER, kSupervisionTimer, 0);
        EXPECT_EQ(Caption(), phase == StreamPhase::Disconnected ? L"Disconnected" : L"Reconnecting");
    }
    s.phase = StreamPhase::Idle;
}

// The buttons show their whole text in their own font, the Start button with each of
// its captions.
TEST_F(MainWindowTest, NoButtonTextIsCut)
{
    for (const wchar_t* caption : {L"Start", L"Online", L"Reconnecting", L"Disconnected", L"Offline"}) {
        SetWindowTextW(app->startButton, caption);
        for (const std::string& line : CutTexts(app->window))
            ADD_FAILURE() << line;
    }
    // Their own font is the one they are drawn in.
    for (HWND button : {app->startButton, app->stopButton, app->settingsButton})
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(button, WM_GETFONT, 0, 0)), app->resources.buttonFont.Get());
}

TEST_F(MainWindowTest, StartWithoutServerAlertsAndStopResets)
{
    const UINT_PTR timer = PopupHandler::Arm(kAlertClass, PressEscape);
    SendMessageW(app->window, WM_COMMAND, MAKEWPARAM(IDC_START, 0), 0);
    // The attempt runs on its own thread: the click returns at once, Stop answers, and
    // the result comes back as a message, which brings the alert.
    EXPECT_TRUE(app->supervision.AttemptRunning());
    EXPECT_TRUE(IsWindowEnabled(app->stopButton));
    for (int i = 0; i < 500 && app->supervision.AttemptRunning(); ++i) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        Sleep(20);
    }
    KillTimer(nullptr, timer);
    EXPECT_FALSE(app->supervision.AttemptRunning());
    EXPECT_TRUE(PopupHandler::seen);
    EXPECT_EQ(app->engine(), nullptr);
    EXPECT_EQ(app->supervision.state.statusText, "Check your Icecast server configuration.\nGo to Settings \xe2\x86\x92 Server.");
    EXPECT_EQ(Caption(), L"Start");
    EXPECT_TRUE(IsWindowEnabled(app->window)); // the alert gave its owner back

    SetWindowTextW(app->startButton, L"Offline");
    SendMessageW(app->window, WM_COMMAND, MAKEWPARAM(IDC_STOP, 0), 0);
    EXPECT_EQ(Caption(), L"Start");
    EXPECT_EQ(app->supervision.state.statusText, "Stopped");
    EXPECT_FALSE(IsWindowEnabled(app->stopButton));
}

TEST_F(MainWindowTest, SettingsWhileAStreamIsKeptUpShowsOnlyTheToast)
{
    // Stopped: the settings dialog opens (and is cancelled), no toast.
    UINT_PTR timer = PopupHandler::Arm(kSettingsDialogClass, PressEscape);
    SendMessageW(app->window, WM_COMMAND, MAKEWPARAM(IDC_SETTINGS, 0), 0);
    KillTimer(nullptr, timer);
    EXPECT_TRUE(PopupHandler::seen);
    EXPECT_EQ(FindWindowW(kToastClass, nullptr), nullptr);

    app->supervision.state.reconnectCountdown = 20;
    SetForegroundWindow(app->window);
    SendMessageW(app->window, WM_COMMAND, MAKEWPARAM(IDC_SETTINGS, 0), 0);
    HWND toast = FindWindowW(kToastClass, nullptr);
    ASSERT_NE(toast, nullptr);
    EXPECT_TRUE(IsWindowVisible(toast));
    EXPECT_NE(GetForegroundWindow(), toast);
    app->supervision.state.reconnectCountdown = 0;
}

TEST_F(MainWindowTest, CloseAsksAndExitEndsTheLoopWithZero)
{
    UINT_PTR timer = PopupHandler::Arm(kExitDialogClass, PressEscape);
    SendMessageW(app->window, WM_CLOSE, 0, 0);
    KillTimer(nullptr, timer);
    EXPECT_TRUE(PopupHandler::seen);
    EXPECT_TRUE(IsWindow(app->window)); // Escape: neither exit nor minimise
    EXPECT_FALSE(IsIconic(app->window));
    EXPECT_TRUE(IsWindowEnabled(app->window));

    timer = PopupHandler::Arm(kExitDialogClass, ClickExit);
    SendMessageW(app->window, WM_CLOSE, 0, 0);
    KillTimer(nullptr, timer);
    EXPECT_TRUE(PopupHandler::seen);
    EXPECT_FALSE(IsWindow(app->window));
    EXPECT_EQ(QuitCode(), 0);
}

// A setup making way for new files (or a log-off) ends the program at once, also while
// the exit dialog waits for an answer.
TEST_F(MainWindowTest, EndOfSessionEndsWithoutTheDialog)
{
    const UINT_PTR timer = PopupHandler::Arm(kExitDialogClass, [](HWND popup) {
        SendMessageW(GetWindow(popup, GW_OWNER), WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP);
    });
    SendMessageW(app->window, WM_CLOSE, 0, 0);
    KillTimer(nullptr, timer);
    EXPECT_TRUE(PopupHandler::seen);
    EXPECT_FALSE(IsWindow(app->window));
    EXPECT_EQ(QuitCode(), 0);
}

// Server names arrive as UTF-8: "München" must take the width of seven characters, as
// "Munchen" does, not of the eight that "MÃ¼nchen" would show when drawn byte-wise.
TEST_F(MainWindowTest, Utf8ServerNamesAreDrawnAsCharacters)
{
    Canvas canvas(kMainWidth, kMainHeight);
    auto nameRight = [&](const std::string& name) {
        app->supervision.state.serverName = name;
        PaintPanel(canvas);
        int right = 0;
        for (int y = 44; y < 62; ++y)
            for (int x = 40; x < kMainWidth - 130; ++x)
                if (canvas.At(x, y) != ToColorref(colours::kPanel))
                    right = std::max(right, x);
        return right;
    };
    const int plain = nameRight("Munchen");
    const int accented = nameRight("M\xC3\xBCnchen");
    const int garbled = nameRight("M\xC3\x83\xC2\xBCnchen");
    EXPECT_LE(std::abs(accented - plain), 2) << plain << " " << accented;
    EXPECT_GT(garbled, accented + 2);
}

std::string LongMessage()
{
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += "The server did not answer in time. ";
    return text;
}

// The alert closes with Enter, Space and Escape and grows with its message within
// 140 to 260 pixels; a press on a button released elsewhere chooses nothing.
TEST_F(MainWindowTest, PopupsCloseByTheirKeysAndChooseOnlyOnRelease)
{
    static WPARAM key = 0;
    static int height = 0;
    struct Case {
        WPARAM key;
        std::string message;
        int height;
    };
    const Case cases[] = {
        {VK_RETURN, "Failed to connect to Icecast server: M\xC3\xBCnchen", 140},
        {VK_SPACE, LongMessage(), 260},
        {VK_ESCAPE, "Failed to start audio capture", 140},
    };
    for (const Case& c : cases) {
        key = c.key;
        const UINT_PTR timer = PopupHandler::Arm(kAlertClass, [](HWND popup) {
            RECT r;
            GetWindowRect(popup, &r);
            height = r.bottom - r.top;
            PostMessageW(popup, WM_KEYDOWN, key, 0);
        });
        ShowAlert(app->window, c.message, "Connection Failed");
        KillTimer(nullptr, timer);
        EXPECT_TRUE(PopupHandler::seen) << c.key;
        EXPECT_EQ(height, c.height) << c.key;
        EXPECT_TRUE(IsWindowEnabled(app->window));
    }

    const UINT_PTR timer = PopupHandler::Arm(kExitDialogClass, [](HWND popup) {
        PostMessageW(popup, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 80)); // on EXIT
        PostMessageW(popup, WM_LBUTTONUP, 0, MAKELPARAM(140, 110));          // released beside it
        PostMessageW(popup, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(190, 85)); // MINIMIZE
        PostMessageW(popup, WM_LBUTTONUP, 0, MAKELPARAM(190, 85));
    });
    EXPECT_EQ(ShowExitDialog(app->window, GetModuleHandleW(nullptr)), ExitChoice::Minimise);
    KillTimer(nullptr, timer);
    EXPECT_TRUE(IsWindowEnabled(app->window));
}

// The "System" settings act at start: hidden to the tray, Start posted before the first
// tick; a folder without settings files stays without them.
TEST(MainWindowStartupTest, ActsOnTheStoredSystemSettings)
{
    struct Case {
        std::string ini;
        bool visible;
        bool startPosted;
        bool fileWritten;
    };
    const Case cases[] = {
        {"", true, false, false},
        {"[System]\nstartMinimized=true\nminimizeToTray=true\nautoStartEncode=true\n", false, true, true},
    };
    for (const Case& c : cases) {
        TempDir dir;
        if (!c.ini.empty())
            WriteFileBytes(dir.File("config.ini"), c.ini);
        Application app;
        app.settingsPath = dir.File("config.dat");
        app.probeTarget = ProbeTarget{"127.0.0.1", 1};
        ASSERT_TRUE(CreateMainWindow(app, GetModuleHandleW(nullptr)));
        EXPECT_EQ(IsWindowVisible(app.window) != FALSE, c.visible) << c.ini;
        MSG msg;
        const bool posted = PeekMessageW(&msg, app.window, WM_COMMAND, WM_COMMAND, PM_REMOVE) != FALSE;
        EXPECT_EQ(posted, c.startPosted) << c.ini;
        if (posted) {
            EXPECT_EQ(LOWORD(msg.wParam), IDC_START);
        }
        EXPECT_EQ(FileExists(dir.File("config.dat")), c.fileWritten) << c.ini;
        DestroyWindow(app.window);
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
}

TEST(AlertTest, HeightFollowsTheMessageWithinLimits)
{
    EXPECT_EQ(AlertHeight(16), 140);
    EXPECT_EQ(AlertHeight(24), 140);
    EXPECT_EQ(AlertHeight(80), 196);
    EXPECT_EQ(AlertHeight(500), 260);
}

} // namespace
