#include "app/Application.h"

#include "base/ExecutablePath.h"
#include "app/MainWindow.h"

Application::Application() : supervision(Supervised(settings), MakeSupervisionHooks(*this), MakeAttemptLauncher(*this))
{
    settingsPath = ExecutableDirectory() + "config.dat";
    settings.stream.server.port = 8000;
    settings.inputDeviceName = "(Default)";
}

Application::~Application()
{
    // The members go in reverse order: the preview and the monitor stop their threads,
    // then supervision destroys a remaining engine, which stops its threads, then the
    // window resources go.
}
