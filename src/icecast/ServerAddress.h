#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "icecast/ConnectivityProbe.h"

// The one reading of "host:port/mount" texts typed by users: the settings dialog stores
// it, the connection test connects to it, the status poll asks it, and the probe target
// is its "host:port" part.

// Split at the last colon, or after "]" for an IPv6 address in brackets ("[::1]:8000",
// host "::1"). The port is read as the C library reads a number (leading blanks and a
// sign accepted, reading stops at the first non-digit); it is 0 without a colon or a
// number, and when the number is negative or beyond 32 bits.
struct HostPort {
    std::string host; // the whole text when there is no colon
    uint32_t port = 0;
    bool hasColon = false;
    bool portIsWholeText = false; // the text after the colon is the number and nothing more
    bool bracketed = false;       // the host was written in brackets, which are not part of it
};
HostPort SplitHostPort(std::string_view text);

// mountPoint keeps its "/" and is empty without one; port 0 when absent or not a number.
struct ServerAddress {
    std::string host;
    uint32_t port = 0;
    std::string mountPoint;
    bool hasPort = false; // a ":" follows the host
    std::string portText; // what follows it, as typed
    bool bracketed = false; // the host was written in brackets ("[::1]")
    bool secure = false;    // the text began with "https://" (any case)
    bool hasScheme = false; // the text began with a scheme and "://"
};

// The dialog's stored form, and the status address: everything up to a "://" and
// trailing slashes are dropped; port and mount may be missing. secure tells whether the
// dropped scheme was https.
ServerAddress SplitServerAddress(std::string_view text);

// The address as the dialog shows it: "https://" when secure, then host (in brackets
// when it holds a colon, an IPv6 address), ":port" when port > 0, and the mount point
// with a leading "/"; "" when host is empty.
std::string CombineServerAddress(const std::string& host, uint32_t port, const std::string& mountPoint,
                                 bool secure = false);

// The connection test's form, "[http://|https://]host:port/mount": nothing unless host is
// not empty, port is in 1..65535 and the mount is more than a bare "/". The mount keeps
// any trailing slash.
std::optional<ServerAddress> ParseServerAddress(std::string_view text);

// "ADDRESS:PORT" as a probe target: nothing when the address is empty or the port is
// outside 1..65535. Leading reads the port as atoi does (text after it ignored); Whole
// wants the number and nothing more.
enum class PortText { Leading, Whole };
std::optional<ProbeTarget> ParseProbeTarget(std::string_view text, PortText portText);
