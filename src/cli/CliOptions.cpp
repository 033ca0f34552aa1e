#include "cli/CliOptions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/ExecutablePath.h"

bool TakeValueOption(std::vector<std::string>& args, const std::string& name, std::string& value, bool& found,
                     std::string& error)
{
    found = false;
    const std::string flag = "--" + name;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == flag) {
            if (i + 1 >= args.size()) {
                error = flag + " needs a value";
                return false;
            }
            value = args[i + 1];
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
            found = true;
            return true;
        }
        if (args[i].rfind(flag + "=", 0) == 0) {
            value = args[i].substr(flag.size() + 1);
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
            found = true;
            return true;
        }
    }
    return true;
}

bool TakeConfigOption(std::vector<std::string>& args, std::string& dir, std::string& error)
{
    bool found = false;
    if (!TakeValueOption(args, "config", dir, found, error))
        return false;
    dir = found ? ConfigFolder(dir) : ExecutableDirectory();
    return true;
}

std::string ConfigFolder(const std::string& dir)
{
    if (dir.empty() || dir.back() == '/' || dir.back() == '\\')
        return dir;
    return dir + '/';
}

bool ParseWholeSeconds(const std::string& text, long maxSeconds, long& seconds)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    seconds = std::stol(text);
    return seconds >= 1 && seconds <= maxSeconds;
}

void LoadConfiguredSettings(const std::string& dir, SettingsStore& store, AppSettings& settings)
{
    store.LoadSettingsFile(dir + "config.dat");
    ApplyCliSettings(store, settings);
}

void ApplyCliSettings(const SettingsStore& store, AppSettings& settings)
{
    ApplyStoredSettings(store, settings);
    const char* stateDirectories = std::getenv("STATE_DIRECTORY");
    if (!stateDirectories || !*stateDirectories || !store.GetString("System", "recordFolder", "").empty())
        return;
    // systemd lists the unit's state directories separated by colons; the first is its own.
    const std::string first(stateDirectories, std::strcspn(stateDirectories, ":"));
    settings.stream.recordFolder = RecordFolder("", ConfigFolder(first));
}

bool TakeConfiguredTls(std::vector<std::string>& args, TlsOptions& tls, std::string& error)
{
    std::string dir;
    bool hasConfig = false;
    if (!TakeValueOption(args, "config", dir, hasConfig, error))
        return false;
    tls = TlsOptions{};
    if (hasConfig) {
        SettingsStore store;
        AppSettings settings;
        LoadConfiguredSettings(ConfigFolder(dir), store, settings);
        tls = settings.stream.server.tls;
    }
    return true;
}

void PrintError(const std::string& text)
{
    std::fprintf(stderr, "kelm-vantoro-cli: %s\n", text.c_str());
}
