#include <cstdio>
#include <string>
#include <vector>

#include "base/Utf8.h"
#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "engine/StreamEngine.h"
#include "engine/TitleWatcher.h"
#include "icecast/IcecastClient.h"

// Sends one title update to the configured server and mount, and to those of every
// further output enabled, for scripts and playout hooks that have no title file. TEXT is read as a title file's line would be (so a
// console's Windows-1252 argument arrives as UTF-8 too). Prints the title sent; exit 1
// with the reason when a server cannot be reached or does not take it. The transport
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
    // Every output streaming has its title sent; each that fails is named.
    std::vector<const EngineConfig*> outputs{&settings.stream};
    for (const OutputSettings& output : settings.outputs) {
        if (output.present && output.enabled)
            outputs.push_back(&output.stream);
    }
    bool failed = false;
    for (const EngineConfig* stream : outputs) {
        const std::string reason = SendStreamTitle(stream->server, stream->configuredPort, stream->serverTypeProblem, title);
        if (reason.empty())
            continue;
        PrintError(outputs.size() > 1 ? OutputName(*stream) + ": " + reason : reason);
        failed = true;
    }
    if (failed)
        return kExitFailure;
    std::printf("title=%s\n", title.c_str());
    return kExitOk;
}
