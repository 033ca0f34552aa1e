#include "settings/StartWithWindows.h"

#include <windows.h>

namespace {

constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kRunValue[] = L"KelmVantoro";

} // namespace

bool SetStartWithWindows(bool enabled)
{
    HKEY key = nullptr;
    // Windows always has the key; a fresh Wine prefix may not, so enabling creates it.
    const LONG opened = enabled ? RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                                  &key, nullptr)
                                : RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &key);
    if (opened != ERROR_SUCCESS)
        return opened == ERROR_FILE_NOT_FOUND && !enabled;
    bool ok = true;
    if (enabled) {
        wchar_t path[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
        ok = length > 0 && length < MAX_PATH &&
             RegSetValueExW(key, kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                            (length + 1) * sizeof(wchar_t)) == ERROR_SUCCESS;
    } else {
        const LONG status = RegDeleteValueW(key, kRunValue);
        ok = status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }
    RegCloseKey(key);
    return ok;
}
