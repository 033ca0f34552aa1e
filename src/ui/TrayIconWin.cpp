#include "ui/TrayIcon.h"

namespace {

constexpr UINT kTrayIconId = 1;

} // namespace

void TrayIcon::Attach(HWND owner, UINT callback)
{
    window = owner;
    callbackMessage = callback;
}

NOTIFYICONDATAW TrayIcon::Record(UINT flags) const
{
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    data.uID = kTrayIconId;
    data.uFlags = flags;
    return data;
}

void TrayIcon::Add(HICON icon)
{
    if (present || !window)
        return;
    NOTIFYICONDATAW data = Record(NIF_MESSAGE | NIF_ICON | NIF_TIP);
    data.uCallbackMessage = callbackMessage;
    data.hIcon = icon ? icon : LoadIconW(nullptr, MAKEINTRESOURCEW(32512)); // IDI_APPLICATION
    shownTip = L"Kelm Vantoro";
    lstrcpynW(data.szTip, shownTip.c_str(), ARRAYSIZE(data.szTip));
    present = shell(NIM_ADD, &data) != FALSE;
}

void TrayIcon::Remove()
{
    if (!present)
        return;
    NOTIFYICONDATAW data = Record(0);
    shell(NIM_DELETE, &data);
    present = false;
}

bool TrayIcon::ShowBalloon(const std::wstring& title, const std::wstring& text)
{
    if (!present)
        return false;
    NOTIFYICONDATAW data = Record(NIF_INFO);
    lstrcpynW(data.szInfoTitle, title.c_str(), ARRAYSIZE(data.szInfoTitle));
    lstrcpynW(data.szInfo, text.c_str(), ARRAYSIZE(data.szInfo));
    data.dwInfoFlags = NIIF_WARNING;
    return shell(NIM_MODIFY, &data) != FALSE;
}

bool TrayIcon::SetTip(const std::wstring& tip)
{
    if (!present)
        return false;
    if (tip == shownTip)
        return true;
    NOTIFYICONDATAW data = Record(NIF_TIP);
    lstrcpynW(data.szTip, tip.c_str(), ARRAYSIZE(data.szTip));
    if (shell(NIM_MODIFY, &data) == FALSE)
        return false;
    shownTip = tip;
    return true;
}
