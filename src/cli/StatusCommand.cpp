#include <chrono>
#include <cstdio>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/BackgroundResult.h"
#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "icecast/StatusPoller.h"

namespace {

// Two fetches (HTTP, then HTTPS) with 3 s limits fit well inside this.
constexpr std::chrono::seconds kPollWait{60};

} // namespace

// Runs one status poll for ADDRESS (host:port[/mount], the server's status port) and
// prints what it found. Exit 1 when nothing was found. With --config, the poll takes the
// stream's transport as the window's does: https:// first when tlsEnabled is on, and the
// CA file trusted.
int RunStatusCommand(const std::vector<std::string>& arguments)
{
    std::vector<std::string> args = arguments;
    TlsOptions tls;
    std::string error;
    if (!TakeConfiguredTls(args, tls, error)) {
        PrintError(error);
        return kExitUsage;
    }
    if (args.empty() || args.size() > 2) {
        PrintError("usage: status [--config DIR] ADDRESS [MOUNT]");
        return kExitUsage;
    }
    const std::string mount = args.size() > 1 ? args[1] : std::string();

    // The poll runs on a thread of its own as in the window, but one that is joined:
    // a thread still inside the HTTP library when the program exits leaves that
    // library's per-thread memory behind.
    BackgroundResult<StatusResult> poll;
    std::thread worker;
    try {
        worker = std::thread([address = args[0], mount, tls, deliver = poll.Deliverer()] {
            StatusResult found;
            StatusPortMemory memory;
            PollStatus(address, mount, 0, tls.enabled, StatusFetcher(tls), memory, found);
            deliver(found);
        });
    } catch (const std::system_error&) {
        PrintError("cannot start the status poll");
        return kExitFailure;
    }
    StatusResult result;
    if (!poll.Wait(kPollWait, result)) {
        worker.detach();
        PrintError("the status poll did not finish");
        return kExitFailure;
    }
    worker.join();
    std::printf("serverName=%s\ntitle=%s\nlisteners=%d\n", result.serverName.c_str(), result.title.c_str(),
                static_cast<int>(result.listeners));
    const bool found = !result.serverName.empty() || !result.title.empty() || result.listeners >= 0;
    return found ? kExitOk : kExitFailure;
}
