// The Windows program's entry point: one copy per desktop, GDI+, the application
// object, the main window and the message loop.

#include <windows.h>

#include <objidl.h>

#include <gdiplus.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>

#include "app/Application.h"
#include "app/MainWindow.h"
#include "base/Log.h"
#include "icecast/ServerAddress.h"

namespace {

const wchar_t kMutexName[] = L"KelmVantoro_SingleInstance_Mutex";

// Test environments aim the reachability probe at a local address with
// KV_PROBE_TARGET=ADDRESS:PORT, so no test ever reaches outside the machine.
void ApplyProbeTarget(Application& app)
{
    const char* text = std::getenv("KV_PROBE_TARGET");
    if (!text)
        return;
    if (std::optional<ProbeTarget> target = ParseProbeTarget(text, PortText::Leading))
        app.probeTarget = std::move(*target);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    HANDLE mutex = CreateMutexW(nullptr, TRUE, kMutexName);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        ActivateRunningCopy();
        if (mutex)
            CloseHandle(mutex);
        return 0;
    }

    Gdiplus::GdiplusStartupInput gdiplusInput;
    ULONG_PTR gdiplusToken = 0;
    const bool gdiplus = Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr) == Gdiplus::Ok;

    int exitCode = 0;
    auto app = std::make_unique<Application>();
    ApplyProbeTarget(*app);
    if (!CreateMainWindow(*app, instance)) {
        MessageBoxW(nullptr, L"Failed to create window.", L"Kelm Vantoro", MB_ICONERROR | MB_OK);
        exitCode = 1;
    } else {
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        exitCode = static_cast<int>(msg.wParam);
        DrainPostedResults();
        // The streams stopped with the window finish on their workers: their last frames
        // reach the servers and the disk before the process ends.
        if (!FinishStoppedStreams(*app, kStoppedStreamsWait))
            LogLine("UI", "The stopped streams did not finish in time");
    }
    if (mutex) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    if (gdiplus)
        Gdiplus::GdiplusShutdown(gdiplusToken);
    // Stops a remaining engine and the monitor; the window's resources are gone already.
    app.reset();
    return exitCode;
}
