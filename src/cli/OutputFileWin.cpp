#include "cli/OutputFile.h"

#include <windows.h>

bool CreateNewFile(const std::filesystem::path& path, bool& alreadyExists)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        alreadyExists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        return false;
    }
    alreadyExists = false;
    CloseHandle(file);
    return true;
}
