#include "ui/ModalLoop.h"

void RunModalLoop(HWND window, ModalFilter filter)
{
    MSG msg;
    while (IsWindow(window)) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            // The program is quitting: close the window and hand the quit on.
            DestroyWindow(window);
            if (got == 0)
                PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (filter && filter(window, msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void WakeModalLoop()
{
    PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
}
