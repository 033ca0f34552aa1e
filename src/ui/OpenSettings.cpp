#include "ui/OpenSettings.h"

#include "app/Application.h"
#include "ui/Popups.h"

bool OpenSettings(Application& app)
{
    const SupervisionState& s = app.supervision.state;
    if (app.engine() || s.reconnectCountdown > 0 || s.streamingActive) {
        ShowToast(app.window);
        return false;
    }
    return false;
}
