#include <cstdio>
#include <string>
#include <vector>

#include "base/Utf8.h"
#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "engine/StreamEngine.h"
#include "engine/TitleWatcher.h"
#include "icecast/IcecastClient.h"

// Sends one title update to the configured server and mount, for scripts and playout
// hooks that have no title file. TEXT is read as a title file's line would be (so a
// console's Windows-1252 argument arrives as UTF-8 too). Prints the title sent; exit 1
// with the reason when the server cannot be reached or does not take it. The transport
// is the stream's, TLS settings included.
int RunTitleCommand(const std::vector<std::string>& arguments)
{
    std::vector<std::string> args = arguments;
    std::string dir;
    std::string error;
    if (!TakeConfigOption(args, dir, error)) {
        PrintError(error);
        return kExitUsage;
    }
    if (args.size() != 1) {
        PrintError("usage: title [--config DIR] TEXT");
        return kExitUsage;
    }
    const std::string title = TitleLine(args[0], kMaxTitleBytes);
    if (title.empty()) {
        PrintError("the title is empty");
        return kExitUsage;
    }

    SettingsStore store;
    AppSettings settings;
    LoadConfiguredSettings(dir, store, settings);
    const EngineConfig& stream = settings.stream;
    // The checks a start makes before it connects.
    std::string problem = ServerPortProblem(stream.configuredPort);
    if (problem.empty())
        problem = ServerTlsProblem(stream.server.tls);
    if (problem.empty() && (stream.server.host.empty() || stream.server.port == 0))
        problem = "no server in the settings (host and port under [Icecast])";
    if (!problem.empty()) {
        PrintError(problem);
        return kExitFailure;
    }
    const TitleUpdateResult result = SendTitleUpdate(stream.server, title);
    if (!result.reason.empty()) {
        PrintError(result.reason);
        return kExitFailure;
    }
    std::printf("title=%s\n", title.c_str());
    return kExitOk;
}
