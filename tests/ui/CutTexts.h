#pragma once

// Windows only: finds the labels and buttons of a window whose text is wider than the
// control, so it would be shown cut.

#include <windows.h>

#include <string>
#include <vector>

#include "base/WideText.h"

// The width of text drawn in the control's own font (the one WM_GETFONT reports, the
// system font when it reports none).
inline int TextWidthInOwnFont(HWND control, const std::wstring& text)
{
    HDC dc = GetDC(control);
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    HGDIOBJ previous = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
    SIZE size{0, 0};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return size.cx;
}

// One line per static or button child of parent (shown or not) whose text does not fit
// its client width: "text: needs N, has M".
inline std::vector<std::string> CutTexts(HWND parent)
{
    std::vector<std::string> cut;
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM list) -> BOOL {
            wchar_t cls[32] = {};
            GetClassNameW(child, cls, 32);
            if (lstrcmpiW(cls, L"Static") != 0 && lstrcmpiW(cls, L"Button") != 0)
                return TRUE;
            wchar_t text[256] = {};
            GetWindowTextW(child, text, 256);
            if (!text[0])
                return TRUE;
            RECT client;
            GetClientRect(child, &client);
            const int needed = TextWidthInOwnFont(child, text);
            if (needed > client.right)
                reinterpret_cast<std::vector<std::string>*>(list)->push_back(
                    Narrow(text) + ": needs " + std::to_string(needed) + ", has " + std::to_string(client.right));
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&cut));
    return cut;
}
