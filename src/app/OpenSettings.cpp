#include "app/OpenSettings.h"

#include "app/Application.h"
#include "audio/DeviceList.h"
#include "base/Log.h"
#include "settings/SettingsApply.h"
#include "settings/StartWithWindows.h"
#include "app/MainWindow.h"
#include "ui/Popups.h"
#include "ui/SettingsDialog.h"

namespace {

bool EngineStreaming(const Application& app)
{
    const StreamEngine* engine = app.engine();
    return engine && engine->GetState() == EngineState::Streaming;
}

// Points the input level monitor at the configured device with the configured
// processing (the dialog may have moved it to another device or other values).
void RetargetLevelMonitor(Application& app)
{
    const EngineConfig& config = app.settings.stream;
    if (!app.levelMonitor.Start(config.device))
        LogLine("UI", "Input level monitor: " + app.levelMonitor.LastError());
    app.levelMonitor.SetParams(config.processing);
}

} // namespace

bool OpenSettings(Application& app)
{
    const SupervisionState& s = app.supervision.state;
    if (app.engine() || s.reconnectCountdown > 0 || s.streamingActive || s.attemptRunning) {
        ShowToast(app.window);
        return false;
    }

    SettingsDialogData data;
    FillDialogData(app.store, app.settings, data);
    const bool confirmed = ShowSettingsDialog(app.window, app.instance, data, &app.levelMonitor, &app.preview);
    app.previewActive = false; // closing the dialog always stops the preview
    if (!confirmed) {
        // Live changes made in the dialog must not outlast a Cancel. The device is
        // opened again only when the dialog moved the monitor to another one: that
        // takes a moment, and Cancel answers at once.
        if (app.levelMonitor.Running() && !EngineStreaming(app)) {
            const DeviceChoice& now = app.levelMonitor.Device();
            const DeviceChoice& configured = app.settings.stream.device;
            if (now.position == configured.position && now.endpointId == configured.endpointId)
                app.levelMonitor.SetParams(app.settings.stream.processing);
            else
                RetargetLevelMonitor(app);
        }
        return false;
    }

    const std::optional<AudioDeviceInfo> defaultDevice = OpenEndpoint(DataFlow::Capture, -1, "");
    ReadBackDialogData(data, app.store, app.settings, ListCaptureDevices(),
                       defaultDevice ? defaultDevice->id : std::string());
    app.store.SaveSettingsFile(app.settingsPath);
    if (EngineStreaming(app))
        app.engine()->UpdateProcessing(app.settings.stream.processing);
    SetStartWithWindows(data.startWithWindows);
    if (!EngineStreaming(app))
        RetargetLevelMonitor(app);
    InvalidateRect(app.window, nullptr, FALSE);

    if (app.settings.persistentEncoding && !EngineStreaming(app))
        PostMessageW(app.window, WM_COMMAND, MAKEWPARAM(IDC_START, 0), 0);
    return true;
}
