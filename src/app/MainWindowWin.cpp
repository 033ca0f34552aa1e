#include "app/MainWindow.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <exception>
#include <memory>

#include "app/Application.h"
#include "base/DetachedWorker.h"
#include "base/Log.h"
#include "control/ControlSettings.h"
#include "control/SessionSnapshot.h"
#include "engine/InputMeters.h"
#include "engine/OutputStates.h"
#include "engine/StreamSupervisor.h"
#include "icecast/StatusPoller.h"
#include "ui/Gdi.h"
#include "ui/Logo.h"
#include "app/OpenSettings.h"
#include "ui/Popups.h"
#include "ui/Shapes.h"
#include "ui/StatusPanel.h"
#include "ui/Theme.h"
#include "base/WideText.h"

const wchar_t kMainWindowClass[] = L"KelmVantoroWnd";

namespace {

std::wstring WindowText(HWND window)
{
    wchar_t text[64] = {};
    GetWindowTextW(window, text, 64);
    return text;
}

// The phases of a stream that ended: failed for good, or waiting to reconnect.
bool HasEnded(StreamPhase phase)
{
    return phase == StreamPhase::Offline || phase == StreamPhase::Reconnecting || phase == StreamPhase::Disconnected;
}

TOOLINFOW StartTool(const Application& app)
{
    TOOLINFOW tool{};
    // The size every version of the common controls takes.
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = app.window;
    tool.uId = reinterpret_cast<UINT_PTR>(app.startButton);
    return tool;
}

void CreateStartTip(Application& app)
{
    app.startTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, app.window, nullptr,
                                   app.instance, nullptr);
    if (!app.startTip)
        return;
    TOOLINFOW tool = StartTool(app);
    tool.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(app.startTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    // Status lines may hold a line break; a width limit makes the tip honour it.
    SendMessageW(app.startTip, TTM_SETMAXTIPWIDTH, 0, 320);
    app.startTipText.clear();
}

// Why the stream ended is the last status line; the Start button's tooltip carries it
// while the caption says the stream is gone. An empty text shows no tip at all.
void RefreshStartTip(Application& app)
{
    if (!app.startTip)
        return;
    const std::wstring text =
        HasEnded(app.supervision.state.phase) ? Widen(app.supervision.state.statusText) : std::wstring();
    if (text == app.startTipText)
        return;
    app.startTipText = text;
    TOOLINFOW tool = StartTool(app);
    tool.lpszText = const_cast<wchar_t*>(app.startTipText.c_str());
    SendMessageW(app.startTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

// "Output N (host:port/mount)", naming an output of several.
std::string OutputTitle(const Application& app, size_t number)
{
    const EngineConfig& stream = number == 1 ? app.settings.stream : app.settings.outputs.at(number - 2).stream;
    return "Output " + std::to_string(number) + " (" + OutputName(stream) + ")";
}

// The archive recording of the stream on air; Off while none is.
RecordingState CurrentRecording(const Application& app)
{
    const StreamEngine* engine = app.engine();
    if (!engine || engine->GetState() != EngineState::Streaming)
        return RecordingState::Off;
    return engine->Recording();
}

// The tray icon's tip: the program's name, the alarm or a stopped recording while they
// stand, and with several outputs those that are off air.
void RefreshTrayTip(Application& app)
{
    std::wstring tip = L"Kelm Vantoro";
    if (app.supervision.state.deadAir)
        tip += L" - " + Widen(DeadAirOnText(app.settings.stream.server.mountPoint));
    if (CurrentRecording(app) == RecordingState::Stopped)
        tip += L" - Recording stopped";
    if (!app.furtherOutputs.empty()) {
        if (!OutputOnAir(app.supervision))
            tip += L"\n" + Widen(OutputTitle(app, 1)) + L" off air";
        for (const FurtherOutput& output : app.furtherOutputs) {
            if (!OutputOnAir(*output.supervision))
                tip += L"\n" + Widen(OutputTitle(app, output.number)) + L" off air";
        }
    }
    app.tray.SetTip(tip);
}

// A stream that was on air has just ended. Hidden in the tray, the window tells it by a
// balloon over the icon: the reason, and what happens next when it reconnects (the
// status line then counts down, and the failed engine still holds the reason).
void OnStreamLost(Application& app)
{
    if (IsWindowVisible(app.window) || !app.tray.Present())
        return;
    std::string text = app.supervision.state.statusText;
    if (const StreamEngine* engine = app.engine()) {
        const std::string reason = engine->GetStatusMessage();
        if (!reason.empty() && reason != text)
            text = reason + "\n" + text;
    }
    const std::string title = app.furtherOutputs.empty() ? "Stream lost" : OutputTitle(app, 1) + " lost";
    app.tray.ShowBalloon(Widen(title), Widen(text));
    RefreshTrayTip(app);
}

// A further output's phase changed: hidden in the tray, the window tells an output lost
// or back by a balloon naming it.
void OnOutputPhase(Application& app, size_t position, StreamPhase phase)
{
    if (position >= app.furtherOutputs.size())
        return;
    FurtherOutput& output = app.furtherOutputs[position];
    const StreamPhase previous = output.shownPhase;
    output.shownPhase = phase;
    RefreshTrayTip(app);
    if (IsWindowVisible(app.window) || !app.tray.Present())
        return;
    if (previous == StreamPhase::Online && HasEnded(phase)) {
        std::string text = output.supervision->state.statusText;
        if (const StreamEngine* engine = output.supervision->CurrentEngine())
            text = engine->GetStatusMessage() + "\n" + text;
        app.tray.ShowBalloon(Widen(OutputTitle(app, output.number) + " lost"), Widen(text));
    } else if (phase == StreamPhase::Online && HasEnded(previous)) {
        app.tray.ShowBalloon(Widen(OutputTitle(app, output.number) + " is back"), L"On air again");
    }
}

const StreamEngine* MeterEngine(const Application& app);

PanelView PanelViewOf(Application& app)
{
    PanelView view{app.resources,         app.supervision.state, app.engine(), app.settings.stream,
                   app.inputDeviceName(), app.levelMonitor,      app.audioQuality};
    if (!app.furtherOutputs.empty()) {
        view.outputs = app.furtherOutputs.size() + 1;
        view.outputsOnAir = OutputOnAir(app.supervision) ? 1 : 0;
        for (const FurtherOutput& output : app.furtherOutputs)
            view.outputsOnAir += OutputOnAir(*output.supervision) ? 1 : 0;
        view.meterEngine = MeterEngine(app);
    }
    return view;
}

// Redraws what changed on the panel and asks for those parts to be painted. Hidden or
// minimised, nothing is drawn; the first tick after the window is back catches up.
void RefreshPanel(Application& app)
{
    if (!IsWindowVisible(app.window) || IsIconic(app.window))
        return;
    for (const RECT& area : app.panel.Update(GatherPanelContent(PanelViewOf(app)), app.resources))
        InvalidateRect(app.window, &area, FALSE);
}

// The archive recording stopped, or came back after a stop (it tries again every 30 s,
// and every new connection records anew). The panel shows it; hidden in the tray, each
// is told by a balloon, and the icon's tip says it while the recording stands stopped.
void RefreshRecording(Application& app)
{
    const RecordingState now = CurrentRecording(app);
    RefreshTrayTip(app);
    if (now == RecordingState::Off || now == app.shownRecording)
        return;
    const RecordingState before = app.shownRecording;
    app.shownRecording = now;
    if (IsWindowVisible(app.window) || !app.tray.Present())
        return;
    if (now == RecordingState::Stopped)
        app.tray.ShowBalloon(L"Recording stopped", Widen(app.engine()->RecordingProblem()));
    else if (before == RecordingState::Stopped)
        app.tray.ShowBalloon(L"Recording resumed", L"The stream is recorded again, in a new file.");
}

// The alarm started or ended. Hidden in the tray, a start is told by a balloon.
void OnDeadAir(Application& app, bool sounding)
{
    RefreshTrayTip(app);
    if (sounding && !IsWindowVisible(app.window) && app.tray.Present())
        app.tray.ShowBalloon(Widen(DeadAirOnText(app.settings.stream.server.mountPoint)),
                             Widen(DeadAirStartedText(app.settings.stream.silenceThresholdDb,
                                                      app.settings.stream.silenceSeconds)));
    RefreshPanel(app);
}

// The phase the Start button shows. Through a reconnection attempt it says
// "Reconnecting" steadily, while the encoder row says "Connecting...": the countdown's
// blinking stops with the countdown.
StreamPhase ButtonPhase(const SupervisionState& s)
{
    if (s.attemptRunning && (s.phase == StreamPhase::Reconnecting || s.phase == StreamPhase::Disconnected))
        return StreamPhase::Reconnecting;
    return s.phase;
}

void RefreshCaption(Application& app)
{
    const std::wstring caption = Widen(PhaseCaption(ButtonPhase(app.supervision.state)));
    if (caption == WindowText(app.startButton))
        return;
    SetWindowTextW(app.startButton, caption.c_str());
    InvalidateRect(app.startButton, nullptr, TRUE);
}

void OnPhase(Application& app, StreamPhase phase)
{
    const StreamPhase previous = app.shownPhase;
    app.shownPhase = phase;
    RefreshCaption(app);
    if (phase == StreamPhase::Idle)
        app.shownRecording = RecordingState::Off;
    // Offline comes only from a stream lost without Auto reconnect: its start time no
    // longer describes anything on air. A reconnection keeps the first start's time.
    if (phase == StreamPhase::Offline)
        app.supervision.state.startTimeText.clear();
    if (previous == StreamPhase::Online && HasEnded(phase))
        OnStreamLost(app);
    RefreshStartTip(app);
}

// Reports a poll's result to the window. The record belongs to the message; when the
// message cannot be posted (the window is gone) it is freed here.
void PostStatusResult(HWND window, const StatusResult& result, WPARAM output = 0)
{
    auto* record = new (std::nothrow) StatusResult(result);
    if (!PostMessageW(window, WM_APP_STATUS, output, reinterpret_cast<LPARAM>(record)))
        delete record;
}

// Reports a finished connection attempt to the window. The record, with its engine,
// belongs to the message; when the window is gone it is freed here, on the attempt's
// own thread.
void PostAttemptResult(HWND window, std::unique_ptr<ConnectionAttempt<StreamEngine>> attempt, WPARAM output = 0)
{
    if (!attempt)
        return;
    ConnectionAttempt<StreamEngine>* record = attempt.release();
    if (!PostMessageW(window, WM_APP_ATTEMPT, output, reinterpret_cast<LPARAM>(record)))
        delete record;
}

// The tag of a further output's results: its position and the session, 0 for the first
// output's. A result whose session is over finds no supervision.
WPARAM OutputTag(const Application& app, size_t position)
{
    return MAKEWPARAM(static_cast<WORD>(position + 1), static_cast<WORD>(app.session));
}

StreamSupervisor<StreamEngine>* TaggedSupervision(Application& app, WPARAM tag)
{
    if (tag == 0)
        return &app.supervision;
    const size_t position = LOWORD(tag) - 1u;
    if (HIWORD(tag) != static_cast<WORD>(app.session) || position >= app.furtherOutputs.size())
        return nullptr;
    return app.furtherOutputs[position].supervision.get();
}

struct ButtonLook {
    COLORREF normal;
    COLORREF pressed;
    wchar_t glyph;
};

// The look follows the stream's phase, which the caption names.
ButtonLook StartButtonLook(StreamPhase phase)
{
    switch (phase) {
    case StreamPhase::Online:
        return {RGB(34, 160, 56), RGB(30, 140, 30), 0xE701};
    case StreamPhase::Reconnecting:
        return {RGB(210, 120, 20), RGB(180, 90, 10), 0xE895};
    case StreamPhase::Disconnected:
        return {RGB(200, 50, 50), RGB(160, 30, 30), 0xE871};
    case StreamPhase::Offline:
        return {RGB(200, 50, 50), RGB(160, 30, 30), 0xEB5E};
    case StreamPhase::Idle:
        break;
    }
    return {RGB(60, 65, 80), RGB(50, 55, 68), 0xE768};
}

SIZE TextSize(HDC dc, HFONT font, const std::wstring& text)
{
    SelectionScope select(dc, font);
    SIZE size{0, 0};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size;
}

void DrawButton(Application& app, const DRAWITEMSTRUCT& item)
{
    HDC dc = item.hDC;
    const RECT& r = item.rcItem;
    const std::wstring text = WindowText(item.hwndItem);
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    COLORREF fill = RGB(60, 65, 80);
    COLORREF textColour = ToColorref(colours::kWhite);
    if (item.CtlID == IDC_START) {
        const ButtonLook look = StartButtonLook(ButtonPhase(app.supervision.state));
        fill = pressed ? look.pressed : look.normal;
    } else if (item.CtlID == IDC_STOP && IsWindowEnabled(item.hwndItem)) {
        fill = RGB(80, 85, 100);
    } else if (item.CtlID == IDC_STOP) {
        fill = RGB(60, 62, 70);
        textColour = RGB(100, 105, 115);
    }
    {
        GdiObject<HBRUSH> background(CreateSolidBrush(ToColorref(colours::kWindow)));
        FillRect(dc, &r, background.Get());
    }
    FillRoundedBox(dc, r, 8.0f, fill, RGB(GetRValue(fill) / 2, GetGValue(fill) / 2, GetBValue(fill) / 2));

    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, textColour);
    if (item.CtlID != IDC_START) {
        SelectionScope select(dc, app.resources.buttonFont.Get());
        RECT box = r;
        DrawTextW(dc, text.c_str(), -1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        return;
    }
    const std::wstring glyph(1, StartButtonLook(ButtonPhase(app.supervision.state)).glyph);
    const SIZE glyphSize = TextSize(dc, app.resources.glyphFont.Get(), glyph);
    const SIZE textSize = TextSize(dc, app.resources.buttonFont.Get(), text);
    const int x0 = (r.left + r.right) / 2 - (glyphSize.cx + 6 + textSize.cx) / 2;
    const int middle = (r.top + r.bottom) / 2;
    {
        SelectionScope select(dc, app.resources.glyphFont.Get());
        TextOutW(dc, x0, middle - glyphSize.cy / 2, glyph.c_str(), 1);
    }
    SelectionScope select(dc, app.resources.buttonFont.Get());
    TextOutW(dc, x0 + glyphSize.cx + 6, middle - textSize.cy / 2, text.c_str(), static_cast<int>(text.size()));
}

HWND MakeButton(Application& app, const wchar_t* text, int x, int y, int width, int id)
{
    return CreateWindowExW(0, L"BUTTON", text, WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, x, y, width, 28, app.window,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), app.instance, nullptr);
}

SupervisionHooks MakeFurtherHooks(Application& app, size_t position);
AttemptLauncher<StreamEngine> MakeFurtherLauncher(Application& app, size_t position);

// A start with further outputs enabled begins a session: their supervision beside the
// first output's, around one program. A start while one runs restarts what is off air.
void StartSession(Application& app)
{
    const bool running = app.program != nullptr;
    if (!running && !app.supervision.AttemptRunning() && !OutputOnAir(app.supervision)) {
        ApplyStoredSettings(app.store, app.settings);
        app.program = MakeSessionProgram(app.settings);
        if (app.program) {
            app.session += 1;
            AttachProgram(app.settings, app.program);
            for (size_t number = 2; number <= kMaxOutputs; ++number) {
                const OutputSettings& output = app.settings.outputs[number - 2];
                if (!output.present || !output.enabled)
                    continue;
                const size_t position = app.furtherOutputs.size();
                FurtherOutput further;
                further.number = number;
                further.supervision = std::make_unique<StreamSupervisor<StreamEngine>>(
                    SupervisedOutput(app.settings, number), MakeFurtherHooks(app, position),
                    MakeFurtherLauncher(app, position));
                further.supervision->SetOneOfSeveral(true);
                app.furtherOutputs.push_back(std::move(further));
            }
        }
        app.supervision.SetOneOfSeveral(app.program != nullptr);
    }
    app.supervision.StartStreaming();
    for (FurtherOutput& output : app.furtherOutputs)
        output.supervision->StartStreaming();
}

// Ends the session: the program's last frames go to every output before each stops;
// the archives finish on a worker.
void StopSession(Application& app)
{
    if (app.program)
        app.program->StopCapture();
    app.supervision.StopStreaming();
    for (FurtherOutput& output : app.furtherOutputs)
        output.supervision->StopStreaming();
    if (std::shared_ptr<ProgramSource> program = std::move(app.program)) {
        const auto finish = [program] { program->FinishArchives(); };
        StartDetachedWorker(finish, finish);
    }
    // Their engines finish on workers; results still posted for them are dropped.
    app.furtherOutputs.clear();
    AttachProgram(app.settings, nullptr);
    app.supervision.SetOneOfSeveral(false);
    RefreshTrayTip(app);
}

// The engine whose meters the window shows: an output's on air, else the first's.
const StreamEngine* MeterEngine(const Application& app)
{
    for (const FurtherOutput& output : app.furtherOutputs) {
        if (!OutputOnAir(app.supervision) && OutputOnAir(*output.supervision))
            return output.supervision->CurrentEngine();
    }
    return app.engine();
}

void OnCommand(Application& app, int id)
{
    switch (id) {
    case IDC_START:
        StartSession(app);
        break;
    case IDC_STOP:
        StopSession(app);
        break;
    case IDC_SETTINGS:
        OpenSettings(app);
        break;
    default:
        break;
    }
}

// The control interface's view of the window's session and its hands on it: the same
// as the Start and Stop buttons, and the window shows the result at once.
SessionControls MakeSessionControls(Application& app)
{
    Application* a = &app;
    SessionControls controls;
    controls.snapshot = [a] {
        std::vector<SessionOutput> outputs{{1, &a->supervision, &a->settings.stream}};
        for (const FurtherOutput& output : a->furtherOutputs)
            outputs.push_back({output.number, output.supervision.get(),
                               &a->settings.outputs.at(output.number - 2).stream});
        const StreamEngine* meters = MeterEngine(*a);
        return TakeSessionSnapshot(outputs, CurrentMeterLevels(meters, a->levelMonitor), meters);
    };
    controls.start = [a] {
        OnCommand(*a, IDC_START);
        RefreshCaption(*a);
        RefreshPanel(*a);
    };
    controls.stop = [a] {
        OnCommand(*a, IDC_STOP);
        RefreshCaption(*a);
        RefreshPanel(*a);
    };
    return controls;
}

void ServeControl(Application& app)
{
    if (app.control.IsOpen())
        app.control.Serve(MakeSessionControls(app));
}

// Opens the control interface when the settings enable it; settings it cannot use are
// told in an alert, and the program goes on without it.
void OpenControl(Application& app)
{
    const ControlSettings settings = ReadControlSettings(app.store);
    if (!settings.enabled)
        return;
    const HWND window = app.window;
    app.control.SetWake([window] { PostMessageW(window, WM_APP_CONTROL, 0, 0); });
    std::string problem;
    if (!app.control.Open(settings, problem)) {
        LogLine("Control", problem);
        ShowAlert(app.window, problem, "Control Interface Not Started");
    }
}

void OnTimer(Application& app)
{
    app.supervision.SupervisionTick();
    for (FurtherOutput& output : app.furtherOutputs)
        output.supervision->SupervisionTick();
    KeepInputMonitor(app.levelMonitor, app.settings.stream, MeterEngine(app));
    // The status line changes without the caption (the countdown, an attempt beginning).
    RefreshStartTip(app);
    RefreshCaption(app);
    RefreshRecording(app);
    ServeControl(app);
    // Once a tick, after every output's supervision has had its say.
    RefreshPanel(app);
}

LRESULT OnLeftButtonDown(Application& app, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const int x = GET_X_LPARAM(lParam);
    const int y = GET_Y_LPARAM(lParam);
    if (y < kStripHeight && x >= kCloseZoneLeft) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    }
    if (y < kStripHeight && x >= kMinimiseZoneLeft) {
        MinimiseMainWindow(app);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void OnClose(Application& app)
{
    const ExitChoice choice = ShowExitDialog(app.window, app.instance);
    if (choice == ExitChoice::Exit)
        DestroyWindow(app.window);
    else if (choice == ExitChoice::Minimise)
        MinimiseMainWindow(app);
}

void OnDestroy(Application& app)
{
    // Out of sight at once: stopping the sound devices below takes a moment.
    ShowWindow(app.window, SW_HIDE);
    app.tray.Remove();
    KillTimer(app.window, kSupervisionTimer);
    app.control.Close();
    // Every output stops as the Stop button stops it: an attempt under way is abandoned
    // (its thread frees its engine), and each engine finishes on a worker, sending its
    // last frames to the server while the devices stop here. The program waits for them
    // and finishes the archives before it ends (FinishStoppedStreams).
    if (app.program)
        app.program->StopCapture();
    app.supervision.StopStreaming();
    for (FurtherOutput& output : app.furtherOutputs)
        output.supervision->StopStreaming();
    app.preview.StopPreview();
    app.previewActive = false;
    app.levelMonitor.Stop();
    DrainPostedResults();
    PostQuitMessage(0);
}

// The session ends (log-off, shut-down), or a setup asks the program to make way for
// new files (ENDSESSION_CLOSEAPP, as the Restart Manager does): it ends as EXIT ends it,
// without the exit dialog, and finishes its streams and archives before it answers,
// because the process may be ended at any moment after that. A popup open at the time
// goes with the window; its loop then sees the quit.
void OnEndSession(Application& app)
{
    if (!IsWindow(app.window))
        return;
    DestroyWindow(app.window);
    if (!FinishStoppedStreams(app, kStoppedStreamsWait))
        LogLine("UI", "The stopped streams did not finish before the session ended");
}

HBRUSH ControlBrush()
{
    static HBRUSH brush = CreateSolidBrush(ToColorref(colours::kWindow));
    return brush;
}

LRESULT HandleMessage(Application& app, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_NCHITTEST: {
        POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ScreenToClient(window, &p);
        return p.y < kStripHeight && p.x < kMinimiseZoneLeft ? HTCAPTION : HTCLIENT;
    }
    case WM_LBUTTONDOWN:
        return OnLeftButtonDown(app, window, message, wParam, lParam);
    case WM_CLOSE:
        OnClose(app);
        return 0;
    case WM_DESTROY:
        OnDestroy(app);
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        if (wParam)
            OnEndSession(app);
        return 0;
    case WM_PAINT: {
        PaintScope paint(window);
        if (!app.panel.Drawn())
            app.panel.Update(GatherPanelContent(PanelViewOf(app)), app.resources);
        app.panel.Blit(paint.Dc(), paint.Area());
        return 0;
    }
    case WM_PRINTCLIENT:
        PaintStatusPanel(PanelViewOf(app), app.panel, reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkColor(dc, ToColorref(colours::kWindow));
        SetTextColor(dc, ToColorref(colours::kValue));
        return reinterpret_cast<LRESULT>(ControlBrush());
    }
    case WM_DRAWITEM:
        DrawButton(app, *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_COMMAND:
        OnCommand(app, LOWORD(wParam));
        return 0;
    case WM_TIMER:
        if (wParam == kSupervisionTimer)
            OnTimer(app);
        return 0;
    case WM_APP_TRAY:
        // Showing the window takes the icon away (WM_WINDOWPOSCHANGED).
        if (lParam == WM_LBUTTONUP || lParam == WM_LBUTTONDBLCLK) {
            ShowWindow(window, SW_SHOW);
            SetForegroundWindow(window);
        }
        return 0;
    case WM_WINDOWPOSCHANGED:
        // Every way back from the tray ends here: the icon's click, a second start of the
        // program (ActivateRunningCopy, from its own process), any other ShowWindow or
        // SetWindowPos that shows the window.
        if (reinterpret_cast<const WINDOWPOS*>(lParam)->flags & SWP_SHOWWINDOW) {
            app.tray.Remove();
            // Nothing was drawn while hidden: the panel catches up before it is painted.
            RefreshPanel(app);
        }
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_APP_STATUS: {
        std::unique_ptr<StatusResult> result(reinterpret_cast<StatusResult*>(lParam));
        if (StreamSupervisor<StreamEngine>* supervision = TaggedSupervision(app, wParam))
            supervision->OnStatusResult(result.get());
        return 0;
    }
    case WM_APP_NETCHECK:
        app.supervision.OnNetCheck(wParam == 1);
        return 0;
    case WM_APP_CONTROL:
        ServeControl(app);
        return 0;
    case WM_APP_ATTEMPT: {
        std::unique_ptr<ConnectionAttempt<StreamEngine>> attempt(
            reinterpret_cast<ConnectionAttempt<StreamEngine>*>(lParam));
        if (StreamSupervisor<StreamEngine>* supervision = TaggedSupervision(app, wParam))
            supervision->OnAttemptResult(std::move(attempt));
        RefreshStartTip(app);
        RefreshCaption(app);
        return 0;
    }
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* app = static_cast<Application*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(app));
        app->window = window;
    }
    auto* app = reinterpret_cast<Application*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!app)
        return DefWindowProcW(window, message, wParam, lParam);
    // No C++ exception may unwind into the system's code.
    try {
        return HandleMessage(*app, window, message, wParam, lParam);
    } catch (const std::exception& e) {
        LogLine("UI", std::string("message ") + std::to_string(message) + " failed: " + e.what());
    } catch (...) {
        LogLine("UI", "message " + std::to_string(message) + " failed");
    }
    return message == WM_LBUTTONDOWN ? 0 : DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterMainClass(HINSTANCE instance)
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    wc.hbrBackground = ControlBrush();
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, 16, 16, 0));
    wc.lpszClassName = kMainWindowClass;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void ActOnStartupSettings(Application& app)
{
    if (app.store.GetBool("System", "startMinimized", false))
        MinimiseMainWindow(app);
    if (app.store.GetBool("System", "autoStartEncode", false))
        PostMessageW(app.window, WM_COMMAND, MAKEWPARAM(IDC_START, 0), 0);
    if (app.store.GetBool("DSP", "previewEnabled", false)) {
        const int32_t output = app.store.GetInt("DSP", "previewOutputDevice", -1);
        app.preview.StopPreview();
        if (!app.preview.StartPreview(app.settings.stream.device, output, app.settings.stream.processing))
            LogLine("UI", app.preview.LastError());
        app.previewActive = true;
    }
}

} // namespace

bool CreateMainWindow(Application& app, HINSTANCE instance)
{
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    app.instance = instance;
    if (!RegisterMainClass(instance))
        return false;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - kMainWidth) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - kMainHeight) / 2;
    HWND window = CreateWindowExW(WS_EX_APPWINDOW, kMainWindowClass, L"Kelm Vantoro", WS_POPUP | WS_CLIPCHILDREN, x, y,
                                  kMainWidth, kMainHeight, nullptr, nullptr, instance, &app);
    if (!window)
        return false;
    app.tray.Attach(window, WM_APP_TRAY);

    WindowResources& res = app.resources;
    res.titleFont.Reset(CreateUiFont(22));
    res.buttonFont.Reset(CreateUiFont(18));
    res.labelFont.Reset(CreateUiFont(16));
    res.glyphFont.Reset(CreateUiFont(16, FW_NORMAL, L"Segoe MDL2 Assets"));
    LoadLogo(res, instance);
    if (res.largeIcon)
        SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(res.largeIcon.Get()));
    if (res.smallIcon)
        SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(res.smallIcon.Get()));

    app.startButton = MakeButton(app, L"Start", 16, 242, 128, IDC_START);
    app.stopButton = MakeButton(app, L"\u25A0  Stop", 154, 242, 85, IDC_STOP);
    app.settingsButton = MakeButton(app, L"\u2699  Settings", 359, 242, 85, IDC_SETTINGS);
    // Drawn by DrawButton in the button font; each button says so when asked.
    for (HWND button : {app.startButton, app.stopButton, app.settingsButton})
        SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(res.buttonFont.Get()), FALSE);
    EnableWindow(app.stopButton, FALSE);
    CreateStartTip(app);

    app.store.LoadSettingsFile(app.settingsPath);
    ApplyStoredSettings(app.store, app.settings);
    KeepInputMonitor(app.levelMonitor, app.settings.stream, app.engine());
    SetTimer(window, kSupervisionTimer, kSupervisionTimerMs, nullptr);
    RoundWindowCorners(window, kMainWidth, kMainHeight);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    OpenControl(app);
    ActOnStartupSettings(app);
    return true;
}

SupervisionHooks MakeSupervisionHooks(Application& app)
{
    Application* a = &app;
    SupervisionHooks hooks;
    hooks.setPhase = [a](StreamPhase phase) { OnPhase(*a, phase); };
    hooks.deadAirChanged = [a](bool sounding) { OnDeadAir(*a, sounding); };
    hooks.enableStart = [a](bool enabled) { EnableWindow(a->startButton, enabled); };
    hooks.enableStop = [a](bool enabled) {
        EnableWindow(a->stopButton, enabled);
        InvalidateRect(a->stopButton, nullptr, TRUE);
    };
    hooks.alert = [a](const std::string& title, const std::string& text) { ShowAlert(a->window, text, title); };
    hooks.repaintNow = [a] {
        RefreshPanel(*a);
        UpdateWindow(a->window);
    };
    hooks.applySettings = [a] {
        ApplyStoredSettings(a->store, a->settings);
        AttachProgram(a->settings, a->program);
    };
    hooks.startStatusPoll = [a](const std::string& address, const std::string& mount) {
        const HWND window = a->window;
        StartStatusPoll(address, mount, a->settings.stream.server,
                        [window](const StatusResult& result) { PostStatusResult(window, result); });
    };
    hooks.startProbe = [a] {
        const HWND window = a->window;
        StartConnectivityProbe(
            [window](bool reachable) { PostMessageW(window, WM_APP_NETCHECK, reachable ? 1 : 0, 0); }, a->probeTarget);
    };
    return hooks;
}

namespace {

// The hooks of a further output's supervision: no buttons, alerts or probe of its own;
// its status poll reads its own server, and its phase may be told in the tray.
SupervisionHooks MakeFurtherHooks(Application& app, size_t position)
{
    Application* a = &app;
    SupervisionHooks hooks;
    hooks.setPhase = [a, position](StreamPhase phase) { OnOutputPhase(*a, position, phase); };
    hooks.repaintNow = [a] { RefreshPanel(*a); };
    hooks.applySettings = [a] {
        ApplyStoredSettings(a->store, a->settings);
        AttachProgram(a->settings, a->program);
    };
    hooks.startStatusPoll = [a, position](const std::string& address, const std::string& mount) {
        const HWND window = a->window;
        const WPARAM tag = OutputTag(*a, position);
        const IcecastConfig& server = a->settings.outputs.at(a->furtherOutputs.at(position).number - 2).stream.server;
        StartStatusPoll(address, mount, server,
                        [window, tag](const StatusResult& result) { PostStatusResult(window, result, tag); });
    };
    return hooks;
}

AttemptLauncher<StreamEngine> MakeFurtherLauncher(Application& app, size_t position)
{
    Application* a = &app;
    return [a, position](AttemptJob<StreamEngine> job) {
        const HWND window = a->window;
        const WPARAM tag = OutputTag(*a, position);
        auto shared = std::make_shared<AttemptJob<StreamEngine>>(std::move(job));
        const auto work = [window, shared, tag] { PostAttemptResult(window, (*shared)(), tag); };
        StartDetachedWorker(work, work);
    };
}

} // namespace

AttemptLauncher<StreamEngine> MakeAttemptLauncher(Application& app)
{
    Application* a = &app;
    return [a](AttemptJob<StreamEngine> job) {
        // The window handle is copied here, on the GUI thread; the attempt's thread never
        // touches the application.
        const HWND window = a->window;
        auto shared = std::make_shared<AttemptJob<StreamEngine>>(std::move(job));
        // Without a thread of its own the attempt runs here: late, but its result arrives.
        const auto work = [window, shared] { PostAttemptResult(window, (*shared)()); };
        StartDetachedWorker(work, work);
    };
}

bool FinishStoppedStreams(Application& app, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    const auto left = [end] {
        return std::max(std::chrono::milliseconds(0), std::chrono::duration_cast<std::chrono::milliseconds>(
                                                           end - std::chrono::steady_clock::now()));
    };
    bool finished = app.supervision.WaitForStoppedEngines(left());
    for (const FurtherOutput& output : app.furtherOutputs)
        finished = output.supervision->WaitForStoppedEngines(left()) && finished;
    if (app.program)
        app.program->FinishArchives();
    return finished;
}

void DrainPostedResults()
{
    MSG msg;
    // The quit message passes any filter; it is not one of ours to free.
    while (PeekMessageW(&msg, nullptr, WM_APP_STATUS, WM_APP_ATTEMPT, PM_REMOVE) && msg.message >= WM_APP_STATUS &&
           msg.message <= WM_APP_ATTEMPT) {
        if (msg.message == WM_APP_STATUS)
            delete reinterpret_cast<StatusResult*>(msg.lParam);
        else if (msg.message == WM_APP_ATTEMPT)
            delete reinterpret_cast<ConnectionAttempt<StreamEngine>*>(msg.lParam);
    }
}

void MinimiseMainWindow(Application& app)
{
    if (app.settings.minimizeToTray) {
        app.tray.Add(app.resources.trayIcon ? app.resources.trayIcon.Get() : app.resources.smallIcon.Get());
        RefreshTrayTip(app);
        ShowWindow(app.window, SW_HIDE);
    } else {
        ShowWindow(app.window, SW_MINIMIZE);
    }
}

void ActivateRunningCopy()
{
    HWND window = FindWindowW(kMainWindowClass, nullptr);
    if (!window)
        return;
    if (!IsWindowVisible(window))
        ShowWindow(window, SW_SHOW);
    if (IsIconic(window))
        ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
}
