#include "cli/Console.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

void PrepareConsole()
{
}

bool OutputIsTerminal()
{
    return isatty(STDOUT_FILENO) != 0;
}

bool OutputIsJournal()
{
    const char* stream = std::getenv("JOURNAL_STREAM");
    unsigned long long device = 0;
    unsigned long long inode = 0;
    if (!stream || std::sscanf(stream, "%llu:%llu", &device, &inode) != 2)
        return false;
    struct stat info {};
    // Output redirected elsewhere by the service keeps the variable: compare the file.
    return fstat(STDOUT_FILENO, &info) == 0 && static_cast<unsigned long long>(info.st_dev) == device &&
           static_cast<unsigned long long>(info.st_ino) == inode;
}
