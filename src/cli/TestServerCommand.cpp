#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/BackgroundResult.h"
#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "engine/StreamEngine.h"
#include "icecast/ConnectionTest.h"
#include "icecast/ServerAddress.h"

namespace {

// Resolution, a 4 s connect (and handshake), a 4 s send and a 4 s receive fit well
// inside this.
constexpr std::chrono::seconds kTestWait{60};

} // namespace

// Runs the settings dialog's connection test on ADDRESS (host:port/mount) and prints its
// two verdicts. Exit 0 when the server was reached and the password, if any, accepted.
// The transport is the stream's: TLS for "https://", plain for "http://"; without a
// scheme, as the settings of --config say (plain without --config). The CA file and the
// fingerprint come from --config too.
int RunTestServerCommand(const std::vector<std::string>& arguments)
{
    std::vector<std::string> args = arguments;
    TlsOptions tls;
    std::string error;
    if (!TakeConfiguredTls(args, tls, error)) {
        PrintError(error);
        return kExitUsage;
    }
    if (args.empty() || args.size() > 2) {
        PrintError("usage: test-server [--config DIR] ADDRESS [PASSWORD]");
        return kExitUsage;
    }
    const std::string& address = args[0];
    const std::string password = args.size() > 1 ? args[1] : std::string();

    if (address.find("://") != std::string::npos)
        tls.enabled = SplitServerAddress(address).secure;
    // The line a start would show: no handshake could use such a fingerprint.
    const std::string problem = ServerTlsProblem(tls);
    if (!problem.empty()) {
        PrintError(problem);
        return kExitUsage;
    }

    BackgroundResult<bool> finished;
    const auto deliver = finished.Deliverer();
    const int32_t generation = BeginConnectionTest();
    StartConnectionTest(generation, address, password, [deliver] { deliver(true); }, tls);
    bool done = false;
    if (!finished.Wait(kTestWait, done)) {
        PrintError("the connection test did not finish");
        return kExitFailure;
    }
    const int32_t server = static_cast<int32_t>(ConnectionTestServerResult());
    const int32_t auth = static_cast<int32_t>(ConnectionTestAuthResult());
    std::printf("serverResult=%d\nauthResult=%d\n", static_cast<int>(server), static_cast<int>(auth));
    return server == 1 && auth != -1 ? kExitOk : kExitFailure;
}
