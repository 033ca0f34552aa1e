#include "cli/Console.h"

void PrepareConsole()
{
}
