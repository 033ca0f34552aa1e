#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "settings/SettingsStore.h"

// The control interface's settings, section [Control]: off unless enabled, on loopback
// unless told otherwise, and open without a token only there.
struct ControlSettings {
    bool enabled = false;
    std::string listen = "127.0.0.1:8090";
    std::string token;
};

ControlSettings ReadControlSettings(const SettingsStore& store);

// Where the interface listens: an address (IPv6 without brackets) and a port.
struct ListenAddress {
    std::string host;
    uint16_t port = 0;
};

// "ADDRESS:PORT" ("[::1]:8090" for IPv6); nothing when either part is missing or the
// port is outside 1..65535.
std::optional<ListenAddress> ParseListenAddress(std::string_view text);

// Whether host can only be reached from this machine: 127.0.0.0/8, ::1, "localhost".
bool IsLoopbackHost(std::string_view host);

// Why the interface cannot be started with these settings, "" when it can. A listen
// address off loopback without a token is refused: anyone on the network could stop
// the stream.
std::string ControlSettingsProblem(const ControlSettings& settings);

// The shortest token accepted off loopback; a token exists to be guessed by nobody.
inline constexpr size_t kMinRemoteTokenLength = 16;
