#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "KvVersion.h"
#include "cli/Commands.h"
#include "cli/Console.h"

namespace {

struct Command {
    const char* name;
    const char* usage;
    int (*run)(const std::vector<std::string>& args);
};

constexpr Command kCommands[] = {
    {"settings", "settings [--config DIR]", RunSettingsCommand},
    {"test-server", "test-server [--config DIR] ADDRESS [PASSWORD]", RunTestServerCommand},
    {"status", "status [--config DIR] ADDRESS [MOUNT]", RunStatusCommand},
    {"process", "process [--config DIR] IN.wav OUT.wav", RunProcessCommand},
    {"encode", "encode [--config DIR] IN.wav OUT.aac", RunEncodeCommand},
    {"devices", "devices", RunDevicesCommand},
    {"meter", "meter [--config DIR] [--seconds N]", RunMeterCommand},
    {"stream", "stream [--config DIR] [--seconds N] [--probe-target ADDRESS:PORT]", RunStreamCommand},
    {"title", "title [--config DIR] TEXT", RunTitleCommand},
};

void PrintUsage(FILE* out)
{
    std::fprintf(out, "usage: kelm-vantoro-cli COMMAND [ARGS]\n"
                      "       kelm-vantoro-cli --version\n"
                      "commands:\n");
    for (const Command& command : kCommands)
        std::fprintf(out, "  %s\n", command.usage);
}

} // namespace

int main(int argc, char** argv)
{
    PrepareConsole();
    if (argc < 2) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "help") == 0) {
        PrintUsage(stdout);
        return kExitOk;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("kelm-vantoro-cli %s\n", KV_VERSION_STRING);
        return kExitOk;
    }
    const std::vector<std::string> args(argv + 2, argv + argc);
    for (const Command& command : kCommands) {
        if (std::strcmp(argv[1], command.name) == 0)
            return command.run(args);
    }
    std::fprintf(stderr, "kelm-vantoro-cli: unknown command: %s\n", argv[1]);
    PrintUsage(stderr);
    return kExitUsage;
}
