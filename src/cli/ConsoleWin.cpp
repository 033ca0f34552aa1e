#include "cli/Console.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>

void PrepareConsole()
{
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

bool OutputIsTerminal()
{
    return _isatty(_fileno(stdout)) != 0;
}

bool OutputIsJournal()
{
    return false;
}
