#include "base/ExecutablePath.h"

#include <windows.h>

#include "base/WideText.h"

std::string ExecutableDirectory()
{
    wchar_t wide[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, wide, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return {};
    return DirectoryOf(Narrow(std::wstring_view(wide, n)));
}
