#include "icecast/FetchUrl.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "base/Utf8.h"
#include "icecast/ServerAddress.h"
#include "icecast/ServerLink.h"

namespace {

// The longest answer head read before the body.
constexpr size_t kHeadLimit = 16384;

} // namespace

bool AppendFetchedPiece(std::string& body, const char* piece, size_t size)
{
    const void* zero = std::memchr(piece, 0, size);
    body.append(piece, zero ? static_cast<size_t>(static_cast<const char*>(zero) - piece) : size);
    return body.size() <= kFetchBodyLimit;
}

std::string FetchUrlOverLink(const std::string& url, const TlsOptions& tls)
{
    const ServerAddress target = SplitServerAddress(url);
    const uint32_t port = target.hasPort ? target.port : (target.secure ? 443 : 80);
    if (target.host.empty() || port < 1 || port > 65535)
        return {};
    TlsOptions options = tls;
    options.enabled = target.secure;
    ServerLink link;
    if (!link.Open(target.host, static_cast<uint16_t>(port), options, kFetchTimeoutMs))
        return {};

    std::string request = "GET ";
    request += target.mountPoint.empty() ? std::string("/") : StripControlCharacters(target.mountPoint);
    request += " HTTP/1.0\r\nHost: ";
    request += CombineServerAddress(StripControlCharacters(target.host), port, "");
    request += "\r\nUser-Agent: KelmVantoro/1.0\r\nConnection: close\r\n\r\n";
    link.SetTimeouts(kFetchTimeoutMs, kFetchTimeoutMs);
    for (size_t offset = 0; offset < request.size();) {
        const int64_t sent = link.Send(request.data() + offset, request.size() - offset);
        if (sent <= 0)
            return {};
        offset += static_cast<size_t>(sent);
    }

    // The server closes after its answer; each read waits only for what is left of the
    // answer's time, so a server that trickles cannot hold the poll.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(2 * kFetchTimeoutMs);
    std::string head;
    std::string body;
    bool inBody = false;
    char piece[kFetchReadBytes];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        const int ms = static_cast<int>(std::min<long long>(left, kFetchTimeoutMs));
        link.SetTimeouts(ms, ms);
        const int64_t received = link.Receive(piece, sizeof piece);
        if (received <= 0)
            break;
        const size_t count = static_cast<size_t>(received);
        if (inBody) {
            if (!AppendFetchedPiece(body, piece, count))
                break;
            continue;
        }
        head.append(piece, count);
        const size_t end = head.find("\r\n\r\n");
        if (end == std::string::npos) {
            if (head.size() > kHeadLimit)
                return {};
            continue;
        }
        inBody = true;
        const std::string rest = head.substr(end + 4);
        if (!rest.empty() && !AppendFetchedPiece(body, rest.data(), rest.size()))
            break;
    }
    return body;
}
