#include "app/Application.h"

#include "app/ExecutablePath.h"
#include "ui/MainWindow.h"

Application::Application() : supervision(settings, MakeSupervisionHooks(*this))
{
    settingsPath = ExecutableDirectory() + "config.dat";
    settings.stream.server.port = 8000;
    settings.inputDeviceName = "(Default)";
}

Application::~Application()
{
    for (HFONT* font : {&TitleFont, &ButtonFont, &LabelFont, &GlyphFont}) {
        if (*font)
            DeleteObject(*font);
        *font = nullptr;
    }
    // The members go in reverse order: the preview and the monitor stop their threads,
    // then supervision destroys a remaining engine, which stops its threads.
}
