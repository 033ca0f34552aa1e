#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "audio/InputLevelMonitor.h"
#include "cli/CliOptions.h"
#include "cli/Commands.h"

namespace {

constexpr long kDefaultSeconds = 10;
constexpr long kMaxSeconds = 86400;

} // namespace

// Meters the configured input device through the stored processing, the way the main
// window's meters do while no stream runs, and prints "left=L right=R" ten times a
// second, so the input can be checked before going on air.
int RunMeterCommand(const std::vector<std::string>& arguments)
{
    std::vector<std::string> args = arguments;
    std::string dir;
    std::string error;
    std::string secondsText;
    bool found = false;
    if (!TakeConfigOption(args, dir, error) || !TakeValueOption(args, "seconds", secondsText, found, error)) {
        PrintError(error);
        return kExitUsage;
    }
    long seconds = kDefaultSeconds;
    if (found && !ParseWholeSeconds(secondsText, kMaxSeconds, seconds)) {
        PrintError("--seconds needs a whole number from 1 to " + std::to_string(kMaxSeconds));
        return kExitUsage;
    }
    if (!args.empty()) {
        PrintError("unexpected argument: " + args.front());
        return kExitUsage;
    }

    SettingsStore store;
    AppSettings settings;
    LoadConfiguredSettings(dir, store, settings);
    InputLevelMonitor monitor;
    monitor.SetParams(settings.stream.processing);
    if (!monitor.Start(settings.stream.device)) {
        PrintError("cannot open the input device: " + settings.inputDeviceName + " (" + monitor.LastError() + ")");
        return kExitFailure;
    }
    std::printf("input=%s\n", settings.inputDeviceName.c_str());
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    for (int tick = 1; tick <= seconds * 10; ++tick) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(100 * tick));
        std::printf("left=%.4f right=%.4f\n", static_cast<double>(monitor.leftLevel.load()),
                    static_cast<double>(monitor.rightLevel.load()));
        std::fflush(stdout);
    }
    monitor.Stop();
    return kExitOk;
}
