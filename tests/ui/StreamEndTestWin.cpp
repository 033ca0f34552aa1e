// How the main window tells why a stream ended: the Start button's tooltip, the tray
// balloon while the window is hidden, and the start time of a stream that is gone.
// The streams go to a scripted server on 127.0.0.1 that drops them after a moment.

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "GdiplusSuite.h"
#include "app/Application.h"
#include "app/MainWindow.h"
#include "base/WideText.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;

// The balloons the window asked the shell for; every call still reaches the shell.
struct ShellRecorder {
    static inline std::vector<std::wstring> balloons;
    static inline std::vector<std::wstring> balloonTitles;
    static inline std::vector<std::wstring> tips;
    static BOOL WINAPI Call(DWORD message, PNOTIFYICONDATAW data)
    {
        if (message == NIM_MODIFY && (data->uFlags & NIF_INFO)) {
            balloons.push_back(data->szInfo);
            balloonTitles.push_back(data->szInfoTitle);
        }
        if (message == NIM_MODIFY && (data->uFlags & NIF_TIP))
            tips.push_back(data->szTip);
        return Shell_NotifyIconW(message, data);
    }
};

class StreamEndTest : public GdiplusSuite {
protected:
    void SetUp() override
    {
        app = std::make_unique<Application>();
        app->settingsPath = "Z:\\kelm-vantoro-no-such-folder\\config.dat";
        app->probeTarget = ProbeTarget{"127.0.0.1", 1};
        ASSERT_TRUE(CreateMainWindow(*app, GetModuleHandleW(nullptr)));
        app->tray.shell = ShellRecorder::Call;
        ShellRecorder::balloons.clear();
        ShellRecorder::balloonTitles.clear();
        ShellRecorder::tips.clear();
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

    std::wstring Caption() const
    {
        wchar_t text[64] = {};
        GetWindowTextW(app->startButton, text, 64);
        return text;
    }
    std::wstring TipText() const
    {
        wchar_t text[256] = {};
        TOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.hwnd = app->window;
        tool.uId = reinterpret_cast<UINT_PTR>(app->startButton);
        tool.uFlags = TTF_IDISHWND;
        tool.lpszText = text;
        SendMessageW(app->startTip, TTM_GETTEXTW, ARRAYSIZE(text), reinterpret_cast<LPARAM>(&tool));
        return text;
    }
    // Runs the window's messages (ticks, attempt results) until done() or limitMs.
    bool PumpUntil(const std::function<bool()>& done, int limitMs)
    {
        const Clock::time_point end = Clock::now() + std::chrono::milliseconds(limitMs);
        while (!done()) {
            if (Clock::now() > end)
                return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        return true;
    }
    void Tick() { SendMessageW(app->window, WM_TIMER, kSupervisionTimer, 0); }

    std::unique_ptr<Application> app;
};

bool HaveAudio()
{
    return std::getenv("PULSE_SERVER") != nullptr;
}

// The tooltip says the last status line exactly while the phase (and the caption) says
// the stream has ended, and nothing otherwise.
TEST_F(StreamEndTest, StartTooltipCarriesTheStatusLineWhileTheStreamHasEnded)
{
    ASSERT_NE(app->startTip, nullptr);
    wchar_t cls[64] = {};
    GetClassNameW(app->startTip, cls, 64);
    EXPECT_STREQ(cls, TOOLTIPS_CLASSW);
    EXPECT_EQ(TipText(), L"");

    struct Case {
        StreamPhase phase;
        const char* caption;
        bool showsStatus;
    };
    for (const Case& c : {Case{StreamPhase::Offline, "Offline", true}, Case{StreamPhase::Online, "Online", false},
                          Case{StreamPhase::Reconnecting, "Reconnecting", true}, Case{StreamPhase::Idle, "Start", false},
                          Case{StreamPhase::Disconnected, "Disconnected", true}}) {
        app->supervision.state.phase = c.phase;
        SetWindowTextW(app->startButton, Widen(c.caption).c_str());
        app->supervision.state.statusText = "Connection lost (send timeout)";
        Tick();
        EXPECT_EQ(TipText(), c.showsStatus ? L"Connection lost (send timeout)" : L"") << c.caption;
        // A new status line under the same caption follows on the next tick.
        app->supervision.state.statusText = "Reconnecting in 3s...\nM\xC3\xBCnchen";
        Tick();
        EXPECT_EQ(TipText(), c.showsStatus ? L"Reconnecting in 3s...\nM\u00FCnchen" : L"") << c.caption;
    }
    // Stop sets "Start" itself: the tip empties at once.
    app->supervision.state.phase = StreamPhase::Offline;
    SetWindowTextW(app->startButton, L"Offline");
    Tick();
    ASSERT_NE(TipText(), L"");
    SendMessageW(app->window, WM_COMMAND, MAKEWPARAM(IDC_STOP, 0), 0);
    EXPECT_EQ(Caption(), L"Start");
    EXPECT_EQ(TipText(), L"");
}

// A server that takes a stream, reads a little of it and hangs up.
std::unique_ptr<LoopbackServer> DroppingServer()
{
    return std::make_unique<LoopbackServer>([](LoopbackPeer& peer, int) {
        peer.ReadRequest();
        peer.Write("HTTP/1.0 200 OK\r\n\r\n");
        // About 3 s of the stream before the drop, so a window that pumps late on a
        // busy machine still sees "Online" first.
        peer.Read(24000);
    });
}

// A stream is dropped by its server, with the window shown or hidden in the tray, with
// and without Auto reconnect.
TEST_F(StreamEndTest, ALostStreamSaysWhyAndForgetsItsStartTimeUnlessItReconnects)
{
    if (!HaveAudio())
        GTEST_SKIP() << "needs scripts/testenv (PulseAudio)";
    struct Case {
        const char* name;
        bool hidden;
        bool reconnect;
    };
    const Case cases[] = {
        {"shown, no reconnect", false, false},
        {"hidden, no reconnect", true, false},
        {"hidden, reconnect", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::unique_ptr<LoopbackServer> server = DroppingServer();
        app->store.SetString("Icecast", "host", "127.0.0.1");
        app->store.SetInt("Icecast", "port", server->Port());
        app->store.SetString("Icecast", "mountPoint", "/dropped");
        app->store.SetString("Icecast", "password", "hackme");
        app->store.SetBool("System", "persistentEncoding", c.reconnect);
        app->store.SetBool("System", "minimizeToTray", c.hidden);
        ShellRecorder::balloons.clear();

        SendMessageW(app->window, WM_COMMAND, MAKEWPARAM(IDC_START, 0), 0);
        ASSERT_TRUE(PumpUntil([&] { return Caption() == L"Online"; }, 30000)) << Narrow(Caption());
        const std::string started = app->supervision.state.startTimeText;
        EXPECT_FALSE(started.empty());
        EXPECT_EQ(TipText(), L"");
        if (c.hidden)
            MinimiseMainWindow(*app);
        ASSERT_EQ(IsWindowVisible(app->window) == FALSE, c.hidden);

        ASSERT_TRUE(PumpUntil([&] { return Caption() != L"Online"; }, 30000));
        const std::string status = app->supervision.state.statusText;
        if (c.reconnect) {
            // Which of the two blinking captions depends on the tick count.
            EXPECT_TRUE(Caption() == L"Reconnecting" || Caption() == L"Disconnected") << Narrow(Caption());
            EXPECT_EQ(status.rfind("Reconnecting in ", 0), 0u) << status;
            EXPECT_EQ(app->supervision.state.startTimeText, started); // the first start's time stays
        } else {
            EXPECT_EQ(Caption(), L"Offline");
            EXPECT_TRUE(status == "Server closed connection" || status.rfind("Connection lost", 0) == 0) << status;
            EXPECT_EQ(app->supervision.state.startTimeText, "");
        }
        EXPECT_EQ(TipText(), Widen(status));

        if (c.hidden) {
            ASSERT_EQ(ShellRecorder::balloons.size(), 1u);
            const std::wstring& balloon = ShellRecorder::balloons[0];
            EXPECT_NE(balloon.find(Widen(status)), std::wstring::npos) << Narrow(balloon);
            // Reconnecting, the line counts down; the reason comes first.
            if (c.reconnect) {
                EXPECT_TRUE(balloon.rfind(L"Server closed connection\n", 0) == 0 ||
                            balloon.rfind(L"Connection lost", 0) == 0)
                    << Narrow(balloon);
            }
        } else {
            EXPECT_TRUE(ShellRecorder::balloons.empty());
        }
        // Further ticks of the countdown bring no second balloon.
        Tick();
        Tick();
        EXPECT_EQ(ShellRecorder::balloons.size(), c.hidden ? 1u : 0u);

        SendMessageW(app->window, WM_COMMAND, MAKEWPARAM(IDC_STOP, 0), 0);
        EXPECT_EQ(TipText(), L"");
        ShowWindow(app->window, SW_SHOW);
    }
}

// Hidden in the tray, the alarm's start is told once by a balloon naming the mount, and
// the icon's tip says so until it ends; shown, the panel alone tells it.
TEST_F(StreamEndTest, DeadAirBalloonAndTrayTipWhileHidden)
{
    app->settings.minimizeToTray = true;
    app->settings.stream.server.mountPoint = "/live";
    app->settings.stream.silenceSeconds = 20;
    app->settings.stream.silenceThresholdDb = -50;
    const SupervisionHooks hooks = MakeSupervisionHooks(*app);
    ASSERT_TRUE(hooks.deadAirChanged);
    ShellRecorder::balloonTitles.clear();
    ShellRecorder::tips.clear();

    // Shown: no icon, no balloon.
    app->supervision.state.deadAir = true;
    hooks.deadAirChanged(true);
    EXPECT_TRUE(ShellRecorder::balloons.empty());
    app->supervision.state.deadAir = false;
    hooks.deadAirChanged(false);

    MinimiseMainWindow(*app);
    ASSERT_FALSE(IsWindowVisible(app->window));
    ASSERT_TRUE(app->tray.Present());
    app->supervision.state.deadAir = true;
    hooks.deadAirChanged(true);
    ASSERT_EQ(ShellRecorder::balloonTitles, std::vector<std::wstring>{L"Dead air on /live"});
    EXPECT_EQ(ShellRecorder::balloons[0], L"Dead air: no sound above -50 dBFS for 20 s");
    ASSERT_FALSE(ShellRecorder::tips.empty());
    EXPECT_EQ(ShellRecorder::tips.back(), L"Kelm Vantoro - Dead air on /live");

    app->supervision.state.deadAir = false;
    hooks.deadAirChanged(false);
    EXPECT_EQ(ShellRecorder::balloons.size(), 1u) << "the end brings no balloon";
    EXPECT_EQ(ShellRecorder::tips.back(), L"Kelm Vantoro");
    ShowWindow(app->window, SW_SHOW);
}

// Hidden in the tray, a recording that stops on a folder it cannot make is told by a
// balloon with the reason, the icon's tip says so while it stands, and once the folder
// can be made the retry's success is told too; the stream stays on air throughout.
TEST_F(StreamEndTest, ARecordingThatStopsAndResumesIsToldInTheTray)
{
    if (!HaveAudio())
        GTEST_SKIP() << "needs scripts/testenv (PulseAudio)";
    LoopbackServer server([](LoopbackPeer& peer, int) {
        peer.ReadRequest();
        peer.Write("HTTP/1.0 200 OK\r\n\r\n");
        peer.DrainUntilClosed();
    });
    TempDir dir;
    // The folder's parent is a file, until it goes.
    const std::string blocker = dir.File("blocker");
    WriteFileBytes(blocker, "x");
    app->store.SetString("Icecast", "host", "127.0.0.1");
    app->store.SetInt("Icecast", "port", server.Port());
    app->store.SetString("Icecast", "mountPoint", "/archive");
    app->store.SetString("Icecast", "password", "hackme");
    app->store.SetBool("System", "minimizeToTray", true);
    app->store.SetBool("System", "recordEnabled", true);
    app->store.SetString("System", "recordFolder", blocker + "\\recordings");
    // Hidden from the start: the recording stops with the first frame.
    app->settings.minimizeToTray = true;
    MinimiseMainWindow(*app);
    ASSERT_TRUE(app->tray.Present());
    SendMessageW(app->window, WM_COMMAND, MAKEWPARAM(IDC_START, 0), 0);
    ASSERT_TRUE(PumpUntil([&] { return Caption() == L"Online"; }, 30000)) << Narrow(Caption());

    ASSERT_TRUE(PumpUntil([&] { return !ShellRecorder::balloonTitles.empty(); }, 15000)) << "no balloon";
    EXPECT_EQ(ShellRecorder::balloonTitles[0], L"Recording stopped");
    EXPECT_EQ(ShellRecorder::balloons[0].rfind(L"Recording stopped: cannot write to the folder", 0), 0u)
        << Narrow(ShellRecorder::balloons[0]);
    ASSERT_FALSE(ShellRecorder::tips.empty());
    EXPECT_EQ(ShellRecorder::tips.back(), L"Kelm Vantoro - Recording stopped");

    // The retry comes 30 s after the stop.
    ASSERT_EQ(DeleteFileW(Widen(blocker).c_str()), TRUE);
    ASSERT_TRUE(PumpUntil([&] { return ShellRecorder::balloonTitles.size() > 1; }, 45000)) << "no second balloon";
    EXPECT_EQ(ShellRecorder::balloonTitles[1], L"Recording resumed");
    EXPECT_EQ(ShellRecorder::tips.back(), L"Kelm Vantoro");
    EXPECT_EQ(Caption(), L"Online");
    SendMessageW(app->window, WM_COMMAND, MAKEWPARAM(IDC_STOP, 0), 0);
    ShowWindow(app->window, SW_SHOW);
}

} // namespace
