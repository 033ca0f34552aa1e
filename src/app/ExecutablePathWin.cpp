#include "app/ExecutablePath.h"

#include <windows.h>

std::string ExecutableDirectory()
{
    wchar_t wide[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, wide, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return {};
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    std::string path(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(n), path.data(), bytes, nullptr, nullptr);
    return DirectoryOf(path);
}
