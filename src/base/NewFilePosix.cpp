#include "base/NewFile.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace {

std::string ErrnoText(int error)
{
    return std::generic_category().message(error);
}

} // namespace

bool NewFile::Create(const std::filesystem::path& path)
{
    Close();
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    alreadyExisted = fd < 0 && errno == EEXIST;
    if (fd < 0) {
        lastError = ErrnoText(errno);
        return false;
    }
    handle = fd;
    return true;
}

bool NewFile::Write(const uint8_t* data, uint64_t size)
{
    if (!IsOpen()) {
        lastError = ErrnoText(EBADF);
        return false;
    }
    while (size > 0) {
        const ssize_t n = write(static_cast<int>(handle), data, static_cast<size_t>(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            lastError = ErrnoText(n < 0 ? errno : ENOSPC);
            return false;
        }
        data += n;
        size -= static_cast<uint64_t>(n);
    }
    return true;
}

bool NewFile::Sync()
{
    if (IsOpen() && fdatasync(static_cast<int>(handle)) == 0)
        return true;
    lastError = ErrnoText(IsOpen() ? errno : EBADF);
    return false;
}

void NewFile::Close()
{
    if (!IsOpen())
        return;
    close(static_cast<int>(handle));
    handle = kClosed;
}
