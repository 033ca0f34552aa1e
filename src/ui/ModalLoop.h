#pragma once

// Windows only: the one message loop of every modal window (the settings dialog and the
// popups).

#include <windows.h>

// Says whether the loop should drop msg instead of dispatching it (keys a modal window
// answers itself).
using ModalFilter = bool (*)(HWND window, const MSG& msg);

// Pumps the thread's messages until window is destroyed. A quit that arrives meanwhile
// destroys the window and is posted again, so the caller's own loop still sees it.
void RunModalLoop(HWND window, ModalFilter filter = nullptr);

// Call from the modal window's WM_DESTROY: wakes the loop so it notices at once.
void WakeModalLoop();
