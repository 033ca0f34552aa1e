#pragma once

// Windows only: the main window's icon in the notification area. It exists only while
// the window is hidden in the tray.

#include <windows.h>

#include <shellapi.h>

#include <string>

class TrayIcon {
public:
    // The shell call every change goes through; tests put a recorder in front of it.
    using ShellCall = BOOL(WINAPI*)(DWORD message, PNOTIFYICONDATAW data);

    TrayIcon() = default;
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // The window whose icon this is and the message the shell posts it for mouse events.
    void Attach(HWND owner, UINT callback);
    // Adds the icon (the system's application icon when icon is null), tip "Kelm Vantoro".
    void Add(HICON icon);
    // Deletes the icon; nothing when it is not there.
    void Remove();
    bool Present() const { return present; }
    // The icon's tip ("Kelm Vantoro" when added); false when the icon is not there. The
    // shell is asked only when the tip changes.
    bool SetTip(const std::wstring& tip);
    // A notification balloon over the icon; false when the icon is not there.
    bool ShowBalloon(const std::wstring& title, const std::wstring& text);

    ShellCall shell = Shell_NotifyIconW;

private:
    NOTIFYICONDATAW Record(UINT flags) const;

    HWND window = nullptr;
    UINT callbackMessage = 0;
    bool present = false;
    std::wstring shownTip;
};
