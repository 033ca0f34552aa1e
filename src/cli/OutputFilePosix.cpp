#include "cli/OutputFile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

bool CreateNewFile(const std::filesystem::path& path, bool& alreadyExists)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    alreadyExists = fd < 0 && errno == EEXIST;
    if (fd < 0)
        return false;
    close(fd);
    return true;
}
