#include "control/ControlSettings.h"

#include "icecast/ServerAddress.h"

ControlSettings ReadControlSettings(const SettingsStore& store)
{
    ControlSettings settings;
    settings.enabled = store.GetBool("Control", "enabled", settings.enabled);
    settings.listen = store.GetString("Control", "listen", settings.listen);
    settings.token = store.GetString("Control", "token", settings.token);
    return settings;
}

std::optional<ListenAddress> ParseListenAddress(std::string_view text)
{
    const std::optional<ProbeTarget> target = ParseProbeTarget(text, PortText::Whole);
    if (!target || target->address.empty())
        return std::nullopt;
    return ListenAddress{target->address, target->port};
}

bool IsLoopbackHost(std::string_view host)
{
    if (host == "localhost" || host == "::1")
        return true;
    // 127.a.b.c, each part a number up to 255.
    if (host.rfind("127.", 0) != 0)
        return false;
    int parts = 0;
    size_t digits = 0;
    int value = 0;
    for (const char c : host) {
        if (c == '.') {
            if (digits == 0)
                return false;
            ++parts;
            digits = 0;
            value = 0;
            continue;
        }
        if (c < '0' || c > '9' || ++digits > 3)
            return false;
        value = value * 10 + (c - '0');
        if (value > 255)
            return false;
    }
    return parts == 3 && digits > 0;
}

std::string ControlSettingsProblem(const ControlSettings& settings)
{
    const std::optional<ListenAddress> listen = ParseListenAddress(settings.listen);
    if (!listen)
        return "[Control] listen \"" + settings.listen + "\" is not ADDRESS:PORT with a port from 1 to 65535";
    if (IsLoopbackHost(listen->host))
        return {};
    if (settings.token.empty())
        return "[Control] listen " + settings.listen +
               " is reachable from other machines: set a token under [Control], or listen on 127.0.0.1";
    if (settings.token.size() < kMinRemoteTokenLength)
        return "[Control] token is too short to listen off this machine: use at least " +
               std::to_string(kMinRemoteTokenLength) + " characters";
    return {};
}
