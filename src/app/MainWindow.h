#pragma once

// Windows only: the main window, its buttons, its timer and the tray icon.

#include <windows.h>

#include <chrono>

#include "engine/StreamEngine.h"
#include "engine/StreamSupervisor.h"
#include "ui/StatusPanel.h"

class Application;

// Control identifiers of the three buttons.
constexpr int IDC_START = 101;
constexpr int IDC_STOP = 102;
constexpr int IDC_SETTINGS = 103;

// Private messages of the main window.
constexpr UINT WM_APP_TRAY = WM_APP + 1;
// Posted by a status poll; lParam owns a heap StatusResult or is null.
constexpr UINT WM_APP_STATUS = WM_APP + 2;
// Posted by a connectivity probe; wParam 1 reachable, anything else not.
constexpr UINT WM_APP_NETCHECK = WM_APP + 3;
// Posted by a connection attempt's thread; lParam owns a heap ConnectionAttempt.
constexpr UINT WM_APP_ATTEMPT = WM_APP + 4;
// Posted by the control interface's threads when a request waits for the window.
constexpr UINT WM_APP_CONTROL = WM_APP + 5;

constexpr UINT_PTR kSupervisionTimer = 1;
constexpr UINT kSupervisionTimerMs = 100;

extern const wchar_t kMainWindowClass[];

// Builds the main window around app: fonts, logo, icons, buttons, settings, input
// level monitor, timer; then shows it and acts on the start-up settings. False when
// the window cannot be created.
bool CreateMainWindow(Application& app, HINSTANCE instance);

// What stream supervision asks of the main window.
SupervisionHooks MakeSupervisionHooks(Application& app);
// Runs connection attempts on their own threads; each posts its result to the window.
AttemptLauncher<StreamEngine> MakeAttemptLauncher(Application& app);

// Minimises to the taskbar, or hides to the tray with minimizeToTray.
void MinimiseMainWindow(Application& app);

// How long the end of the program waits for the stopped streams' last frames.
constexpr std::chrono::seconds kStoppedStreamsWait{10};

// After the window is gone: waits, at most limit in all, for the streams it stopped to
// send their last frames, then finishes the archives. False when time ran out.
bool FinishStoppedStreams(Application& app, std::chrono::milliseconds limit);

// Frees the status and attempt records still queued on this thread: once the window is
// gone nobody handles them.
void DrainPostedResults();

// What a second start of the program does with the first one's window: shows it when
// hidden in the tray, restores it when minimised and brings it to the front.
void ActivateRunningCopy();
