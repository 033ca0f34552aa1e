#pragma once

// Windows only: the program's state on the GUI thread.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/InputLevelMonitor.h"
#include "audio/PreviewOutput.h"
#include "control/ControlServer.h"
#include "engine/ProgramSource.h"
#include "engine/StatusTexts.h"
#include "engine/StreamEngine.h"
#include "engine/StreamSupervisor.h"
#include "icecast/ConnectivityProbe.h"
#include "settings/AppSettings.h"
#include "settings/SettingsStore.h"
#include "ui/StatusPanel.h"
#include "ui/TrayIcon.h"
#include "ui/WindowResources.h"

// One output beside the first while a session streams to several: its number (2 to
// kMaxOutputs), its supervision, and the phase the window last showed for it.
struct FurtherOutput {
    size_t number = 0;
    std::unique_ptr<StreamSupervisor<StreamEngine>> supervision;
    StreamPhase shownPhase = StreamPhase::Idle;
};

// Everything the GUI thread keeps for the life of the program: window and control
// handles, GDI resources, the settings, the input level monitor and stream
// supervision (which owns the current engine and the supervision fields: statusText,
// startTimeText, serverName, streamTitle, listeners, streamingActive,
// reconnectCountdown, tickCount, statusPollTicks, netCheckTicks, netCheckInFlight,
// internetState). Background threads never see it: they get copies and post messages.
class Application {
public:
    Application();
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    HWND window = nullptr;
    HINSTANCE instance = nullptr;
    HWND startButton = nullptr;
    HWND stopButton = nullptr;
    HWND settingsButton = nullptr;
    // The Start button's tooltip; startTipText is what it says now.
    HWND startTip = nullptr;
    std::wstring startTipText;
    // The phase the window shows, to tell a stream just lost from the blinking that
    // follows.
    StreamPhase shownPhase = StreamPhase::Idle;
    // Present only while the window is hidden in the tray.
    TrayIcon tray;

    // Fonts, logo and icons; released with the application, after the window.
    WindowResources resources;

    SettingsStore store;
    std::string settingsPath;
    // settings.stream is the engine configuration (streamConfig) handed to every engine.
    AppSettings settings;
    StreamSupervisor<StreamEngine> supervision;
    // With further outputs enabled, a start makes a session: their supervision beside the
    // first output's, and the program all of them share (null when the first streams
    // alone). session counts the sessions, so that a result posted for an output of an
    // earlier one is dropped.
    std::vector<FurtherOutput> furtherOutputs;
    std::shared_ptr<ProgramSource> program;
    uint32_t session = 0;
    InputLevelMonitor levelMonitor;

    // Plays the processed input on an output device, for monitoring.
    PreviewOutput preview;
    bool previewActive = false;
    // The panel's audio-quality indicator, smoothed across ticks.
    AudioQuality audioQuality;
    // The panel's pixels, brought up to date on every tick while the window is shown.
    StatusPanel panel;
    // The archive recording's state last told (Off until it records; a stop forgets).
    RecordingState shownRecording = RecordingState::Off;
    // Where the connectivity probe connects.
    ProbeTarget probeTarget = DefaultProbeTarget();
    // The control interface, open while [Control] enables it.
    ControlServer control;

    // The current engine, or null.
    StreamEngine* engine() const { return supervision.CurrentEngine(); }
    EngineConfig& streamConfig() { return settings.stream; }
    const std::string& inputDeviceName() const { return settings.inputDeviceName; }
};
