#include "base/ExecutablePath.h"

#include <climits>
#include <unistd.h>

std::string ExecutableDirectory()
{
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0)
        return {};
    return DirectoryOf(std::string(buffer, static_cast<size_t>(n)));
}
