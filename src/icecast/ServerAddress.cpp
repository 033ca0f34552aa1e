#include "icecast/ServerAddress.h"

namespace {

bool IsBlank(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The number at the start of text and where reading stopped (0 when no digit was read),
// saturated far outside the 32-bit range.
int64_t LeadingNumber(std::string_view text, size_t& end)
{
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    const size_t digits = i;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < (int64_t{1} << 40))
            value = value * 10 + (text[i] - '0');
    }
    end = i > digits ? i : 0;
    return negative ? -value : value;
}

// "host[:port][/mount]" with any scheme already removed.
ServerAddress SplitAtFirstSlash(std::string_view s)
{
    ServerAddress address;
    const size_t slash = s.find('/');
    if (slash != std::string_view::npos)
        address.mountPoint = s.substr(slash);
    const std::string_view hostAndPort = s.substr(0, slash);
    HostPort hostPort = SplitHostPort(hostAndPort);
    address.host = std::move(hostPort.host);
    address.port = hostPort.port;
    address.hasPort = hostPort.hasColon;
    address.bracketed = hostPort.bracketed;
    if (hostPort.hasColon)
        address.portText = hostAndPort.substr(hostAndPort.rfind(':') + 1);
    return address;
}

bool IsHttpsScheme(std::string_view scheme)
{
    constexpr std::string_view kHttps = "https";
    if (scheme.size() != kHttps.size())
        return false;
    for (size_t i = 0; i < scheme.size(); ++i) {
        const char c = scheme[i] >= 'A' && scheme[i] <= 'Z' ? static_cast<char>(scheme[i] - 'A' + 'a') : scheme[i];
        if (c != kHttps[i])
            return false;
    }
    return true;
}

bool InPortRange(uint32_t port)
{
    return port >= 1 && port <= 65535;
}

} // namespace

HostPort SplitHostPort(std::string_view text)
{
    HostPort out;
    // "[v6]" or "[v6]:port": the colons inside the brackets belong to the address. Any
    // other text after "]" is no such form and is split as it stands.
    const size_t close = text.find(']');
    if (!text.empty() && text.front() == '[' && close != std::string_view::npos &&
        (close + 1 == text.size() || text[close + 1] == ':')) {
        HostPort inner = close + 1 == text.size() ? HostPort{} : SplitHostPort(text.substr(close));
        inner.host = text.substr(1, close - 1);
        inner.bracketed = true;
        return inner;
    }
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        out.host = text;
        return out;
    }
    out.host = text.substr(0, colon);
    out.hasColon = true;
    const std::string_view portText = text.substr(colon + 1);
    size_t end = 0;
    const int64_t number = LeadingNumber(portText, end);
    out.port = number > 0 && number <= UINT32_MAX ? static_cast<uint32_t>(number) : 0;
    out.portIsWholeText = end != 0 && end == portText.size();
    return out;
}

ServerAddress SplitServerAddress(std::string_view text)
{
    bool secure = false;
    const size_t scheme = text.find("://");
    if (scheme != std::string_view::npos) {
        secure = IsHttpsScheme(text.substr(0, scheme));
        text.remove_prefix(scheme + 3);
    }
    while (!text.empty() && text.back() == '/')
        text.remove_suffix(1);
    ServerAddress address = SplitAtFirstSlash(text);
    address.secure = secure;
    address.hasScheme = scheme != std::string_view::npos;
    return address;
}

std::string CombineServerAddress(const std::string& host, uint32_t port, const std::string& mountPoint, bool secure)
{
    if (host.empty())
        return {};
    std::string address = secure ? "https://" : "";
    if (host.find(':') != std::string::npos)
        address += '[' + host + ']';
    else
        address += host;
    if (port > 0) {
        address += ':';
        address += std::to_string(port);
    }
    if (!mountPoint.empty()) {
        if (mountPoint.front() != '/')
            address += '/';
        address += mountPoint;
    }
    return address;
}

std::optional<ServerAddress> ParseServerAddress(std::string_view text)
{
    // Only these two prefixes, in this order, and only in lower case.
    if (text.substr(0, 7) == "http://")
        text.remove_prefix(7);
    if (text.substr(0, 8) == "https://")
        text.remove_prefix(8);
    ServerAddress address = SplitAtFirstSlash(text);
    if (address.host.empty() || !InPortRange(address.port) || address.mountPoint.size() < 2)
        return std::nullopt;
    return address;
}

std::optional<ProbeTarget> ParseProbeTarget(std::string_view text, PortText portText)
{
    HostPort hostPort = SplitHostPort(text);
    if (hostPort.host.empty() || !InPortRange(hostPort.port))
        return std::nullopt;
    if (portText == PortText::Whole && !hostPort.portIsWholeText)
        return std::nullopt;
    return ProbeTarget{std::move(hostPort.host), static_cast<uint16_t>(hostPort.port)};
}
