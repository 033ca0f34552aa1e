#include "base/NewFile.h"

#include <system_error>

#include <windows.h>

namespace {

std::string SystemText(DWORD error)
{
    std::string text = std::system_category().message(static_cast<int>(error));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

HANDLE AsHandle(intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace

bool NewFile::Create(const std::filesystem::path& path)
{
    Close();
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        alreadyExisted = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        lastError = SystemText(error);
        return false;
    }
    alreadyExisted = false;
    handle = reinterpret_cast<intptr_t>(file);
    return true;
}

bool NewFile::Write(const uint8_t* data, uint64_t size)
{
    if (!IsOpen()) {
        lastError = SystemText(ERROR_INVALID_HANDLE);
        return false;
    }
    while (size > 0) {
        const DWORD piece = static_cast<DWORD>(size > 0x40000000u ? 0x40000000u : size);
        DWORD written = 0;
        if (!WriteFile(AsHandle(handle), data, piece, &written, nullptr)) {
            lastError = SystemText(GetLastError());
            return false;
        }
        if (written == 0) {
            lastError = SystemText(ERROR_DISK_FULL);
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool NewFile::Sync()
{
    if (IsOpen() && FlushFileBuffers(AsHandle(handle)))
        return true;
    lastError = SystemText(IsOpen() ? GetLastError() : ERROR_INVALID_HANDLE);
    return false;
}

void NewFile::Close()
{
    if (!IsOpen())
        return;
    CloseHandle(AsHandle(handle));
    handle = kClosed;
}
