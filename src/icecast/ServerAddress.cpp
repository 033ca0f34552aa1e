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
    if (hostPort.hasColon)
        address.portText = hostAndPort.substr(hostAndPort.rfind(':') + 1);
    return address;
}

bool InPortRange(uint32_t port)
{
    return port >= 1 && port <= 65535;
}

} // namespace

HostPort SplitHostPort(std::string_view text)
{
    HostPort out;
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
    const size_t scheme = text.find("://");
    if (scheme != std::string_view::npos)
        text.remove_prefix(scheme + 3);
    while (!text.empty() && text.back() == '/')
        text.remove_suffix(1);
    return SplitAtFirstSlash(text);
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
