#include "icecast/StatusPoller.h"

#include <map>
#include <utility>
#include <vector>

#include "base/DetachedWorker.h"
#include "base/Utf8.h"
#include "icecast/FetchUrl.h"
#include "icecast/ServerAddress.h"
#include "icecast/ShoutcastProtocol.h"
#include "icecast/TlsSession.h"

namespace {

constexpr std::string_view kStatusPath = "/status-json.xsl";

// quote + text + quote (or + tail), built by appending: GCC 12 warns falsely about
// operator+ on such short strings at -O3.
std::string Quoted(std::string_view text, std::string_view tail = "\"")
{
    std::string out;
    out.reserve(text.size() + tail.size() + 1);
    out += '"';
    out.append(text);
    out.append(tail);
    return out;
}

// Position just after the `"key":` that begins within the window after from, or npos.
size_t ValueStart(std::string_view body, std::string_view key, size_t from)
{
    if (from > body.size())
        return std::string_view::npos;
    const std::string needle = Quoted(key, "\":");
    const size_t found = body.find(needle, from);
    if (found == std::string_view::npos || found > from + kJsonKeyWindow)
        return std::string_view::npos;
    size_t i = found + needle.size();
    while (i < body.size() && (body[i] == ' ' || body[i] == '\t'))
        ++i;
    return i;
}

// The "{" at or before the match of needle, or npos.
size_t BraceBefore(std::string_view body, std::string_view needle)
{
    if (needle.empty())
        return std::string_view::npos;
    const size_t found = body.find(needle);
    return found == std::string_view::npos ? found : body.rfind('{', found);
}

} // namespace

size_t LocateSource(std::string_view body, std::string_view mount)
{
    if (!mount.empty()) {
        const size_t quoted = body.find(Quoted(mount));
        if (quoted != std::string_view::npos)
            return quoted;
        // The end of a listen URL value.
        size_t brace = BraceBefore(body, std::string(mount) + "\"");
        if (brace != std::string_view::npos)
            return brace;
        brace = BraceBefore(body, mount.substr(1));
        if (brace != std::string_view::npos)
            return brace;
    }
    // The first source, whether "source" holds one object or an array of them.
    if (body.size() < 8)
        return std::string_view::npos;
    const size_t key = body.find("\"source\"");
    if (key == std::string_view::npos)
        return key;
    const size_t colon = body.find(':', key);
    return colon == std::string_view::npos ? colon : body.find('{', colon);
}

std::string FindJsonString(std::string_view body, std::string_view key, size_t from)
{
    const size_t i = ValueStart(body, key, from);
    if (i >= body.size() || body[i] != '"')
        return {};
    // The closing quote is the first one that no backslash escapes.
    size_t end = i + 1;
    while (end < body.size() && body[end] != '"')
        end += body[end] == '\\' ? 2 : 1;
    if (end >= body.size())
        return {};
    return DecodeJsonString(body.substr(i + 1, end - i - 1));
}

std::string DecodeJsonString(std::string_view raw)
{
    std::string out;
    out.reserve(raw.size());
    size_t i = 0;
    // Four hexadecimal digits at i, or -1.
    const auto hex4 = [&raw](size_t at) -> int32_t {
        if (at + 4 > raw.size())
            return -1;
        int32_t value = 0;
        for (size_t k = at; k < at + 4; ++k) {
            const char c = raw[k];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0)
                return -1;
            value = value * 16 + digit;
        }
        return value;
    };
    while (i < raw.size()) {
        const char c = raw[i];
        if (c != '\\' || i + 1 >= raw.size()) {
            out += c;
            ++i;
            continue;
        }
        const char e = raw[i + 1];
        i += 2;
        switch (e) {
        case 'b': out += '\b'; continue;
        case 'f': out += '\f'; continue;
        case 'n': out += '\n'; continue;
        case 'r': out += '\r'; continue;
        case 't': out += '\t'; continue;
        case 'u': break;
        default: out += e; continue;
        }
        int32_t code = hex4(i);
        if (code < 0) {
            out += 'u';
            continue;
        }
        i += 4;
        if (code >= 0xD800 && code <= 0xDBFF) {
            const int32_t low = i + 1 < raw.size() && raw[i] == '\\' && raw[i + 1] == 'u' ? hex4(i + 2) : -1;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                i += 6;
            } else {
                code = 0xFFFD;
            }
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        AppendUtf8(out, static_cast<uint32_t>(code));
    }
    return out;
}

namespace {

// The character of the reference that starts at text[at] ("&...;") and its length, or
// false when none starts there.
bool ReadReference(std::string_view text, size_t at, uint32_t& codePoint, size_t& length)
{
    static constexpr std::pair<std::string_view, char> kNamed[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    const std::string_view rest = text.substr(at);
    for (const auto& [name, c] : kNamed) {
        if (rest.substr(0, name.size()) == name) {
            codePoint = static_cast<unsigned char>(c);
            length = name.size();
            return true;
        }
    }
    if (rest.size() < 4 || rest[1] != '#')
        return false;
    const bool hex = rest[2] == 'x' || rest[2] == 'X';
    size_t i = hex ? 3 : 2;
    const size_t digitsStart = i;
    uint32_t value = 0;
    for (; i < rest.size() && i < digitsStart + 8; ++i) {
        const char c = rest[i];
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            break;
        value = value * (hex ? 16u : 10u) + static_cast<uint32_t>(digit);
    }
    // Digits, a ";" and a character that exists: NUL, surrogates and values past
    // U+10FFFF stay as written.
    if (i == digitsStart || i >= rest.size() || rest[i] != ';' || value == 0 || value > 0x10FFFF ||
        (value >= 0xD800 && value <= 0xDFFF))
        return false;
    codePoint = value;
    length = i + 1;
    return true;
}

} // namespace

std::string DecodeCharacterReferences(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint32_t codePoint = 0;
        size_t length = 0;
        if (text[i] == '&' && ReadReference(text, i, codePoint, length)) {
            AppendUtf8(out, codePoint);
            i += length;
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string RepairLatin1Mojibake(std::string_view text)
{
    if (!IsValidUtf8(text))
        return std::string(text);
    // Each character back to the one Latin-1 byte it was read from.
    std::string bytes;
    bool multiByte = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            bytes += static_cast<char>(lead);
            continue;
        }
        if (lead != 0xC2 && lead != 0xC3)
            return std::string(text); // beyond U+00FF: not Latin-1 read as UTF-8
        bytes += static_cast<char>(((lead & 0x03) << 6) | (static_cast<unsigned char>(text[++i]) & 0x3F));
        multiByte = true;
    }
    // Plain ASCII, and accented text that is already right ("Café" gives a stray 0xE9),
    // stay as they are.
    if (!multiByte || !IsValidUtf8(bytes))
        return std::string(text);
    return bytes;
}

std::string CleanServerText(std::string_view text)
{
    // Repaired before stripping: the mojibake of a character such as U+2013 holds C1
    // code points, which stripping first would tear out of it.
    return StripControlCharacters(RepairLatin1Mojibake(DecodeCharacterReferences(text)));
}

int32_t FindJsonInt(std::string_view body, std::string_view key, size_t from)
{
    size_t i = ValueStart(body, key, from);
    if (i >= body.size())
        return -1;
    const bool negative = body[i] == '-';
    if (negative)
        ++i;
    else if (body[i] < '0' || body[i] > '9')
        return -1;
    int64_t value = 0;
    for (; i < body.size() && body[i] >= '0' && body[i] <= '9'; ++i) {
        if (value <= INT32_MAX)
            value = value * 10 + (body[i] - '0');
    }
    if (negative)
        value = -value;
    return static_cast<int32_t>(value < INT32_MIN ? INT32_MIN : value > INT32_MAX ? INT32_MAX : value);
}

namespace {

// The parts of a status address (SplitServerAddress): the scheme, "http://" when it names
// none, host:port as a URL holds it, and the mount path ("" without one).
struct StatusTarget {
    std::string scheme;
    bool implicitScheme = false;
    std::string host;
    std::string hostPort;
    std::string pathMount;
};

StatusTarget SplitStatusAddress(const std::string& address)
{
    const ServerAddress parts = SplitServerAddress(address);
    StatusTarget target;
    target.implicitScheme = !parts.hasScheme;
    target.scheme = parts.secure ? "https://" : "http://";
    target.host = parts.host;
    // The port as typed, whatever it holds: the fetch judges it.
    target.hostPort = CombineServerAddress(parts.host, 0, "");
    if (parts.hasPort)
        target.hostPort += ":" + parts.portText;
    target.pathMount = parts.mountPoint;
    return target;
}

// The document at hostPort, with the other scheme tried when the address named none:
// http then https, or https then http with secureFirst.
std::string FetchDocument(const StatusTarget& target, const std::string& hostPort, bool secureFirst,
                          const UrlFetcher& fetch, std::string_view path = kStatusPath)
{
    const bool swap = target.implicitScheme && secureFirst;
    std::string body = fetch((swap ? "https://" : target.scheme) + hostPort + std::string(path));
    if (body.empty() && target.implicitScheme)
        body = fetch((swap ? "http://" : "https://") + hostPort + std::string(path));
    return body;
}

} // namespace

std::string StatusPortMemory::Answered(const std::string& statusHostPort) const
{
    std::lock_guard<std::mutex> guard(lock);
    const auto found = answered.find(statusHostPort);
    return found == answered.end() ? std::string() : found->second;
}

void StatusPortMemory::Remember(const std::string& statusHostPort, const std::string& answeredHostPort)
{
    std::lock_guard<std::mutex> guard(lock);
    answered[statusHostPort] = answeredHostPort;
}

StatusPortMemory& SharedStatusPortMemory()
{
    static StatusPortMemory memory;
    return memory;
}

bool PollStatus(const std::string& address, const std::string& mount, uint16_t sourcePort, const UrlFetcher& fetch,
                StatusPortMemory& memory, StatusResult& result)
{
    return PollStatus(address, mount, sourcePort, false, fetch, memory, result);
}

bool PollStatus(const std::string& address, const std::string& mount, uint16_t sourcePort, bool secureFirst,
                const UrlFetcher& fetch, StatusPortMemory& memory, StatusResult& result)
{
    if (address.empty())
        return false;
    const StatusTarget target = SplitStatusAddress(address);
    std::string wanted = target.pathMount;
    if (wanted.empty() && !mount.empty())
        wanted = mount.front() == '/' ? mount : "/" + mount;

    // The status port first, as designed; a single-port server (sources and listeners
    // on one port) answers only at the source port, which is then asked first.
    std::vector<std::string> hostPorts = {target.hostPort};
    const std::string key = target.scheme + target.hostPort;
    if (sourcePort != 0) {
        const std::string atSource = CombineServerAddress(target.host, sourcePort, "");
        if (atSource != target.hostPort) {
            hostPorts.push_back(atSource);
            if (memory.Answered(key) == atSource)
                std::swap(hostPorts[0], hostPorts[1]);
        }
    }
    for (const std::string& hostPort : hostPorts) {
        const std::string body = FetchDocument(target, hostPort, secureFirst, fetch);
        const size_t source = body.empty() ? std::string::npos : LocateSource(body, wanted);
        if (source == std::string::npos)
            continue;
        memory.Remember(key, hostPort);
        // Server text is shown on terminals and in the window: no control character of
        // it may get through, whichever front end prints it.
        result.serverName = CleanServerText(FindJsonString(body, "server_name", source));
        result.title = CleanServerText(FindJsonString(body, "title", source));
        result.listeners = FindJsonInt(body, "listeners", source);
        return true;
    }
    return false;
}

bool PollStatus(const std::string& address, const std::string& mount, const IcecastConfig& server,
                const UrlFetcher& fetch, StatusPortMemory& memory, StatusResult& result)
{
    if (server.serverType != ServerType::Icecast && !address.empty()) {
        // DNAS 2 keeps statistics per stream id; DNAS 1 has the one stream of /7.html.
        // A server that has neither (Icecast with a Shoutcast port) gets the usual poll.
        const StatusTarget target = SplitStatusAddress(address);
        const bool secure = server.tls.enabled;
        if (ReadShoutcastStats(FetchDocument(target, target.hostPort, secure, fetch, ShoutcastStatsPath(server.streamId)),
                               result))
            return true;
        if (server.streamId == 1 && ReadSevenHtml(FetchDocument(target, target.hostPort, secure, fetch, "/7.html"), result))
            return true;
    }
    return PollStatus(address, mount, server.port, server.tls.enabled, fetch, memory, result);
}

bool PollStatus(const std::string& address, const std::string& mount, const UrlFetcher& fetch, StatusResult& result)
{
    StatusPortMemory memory;
    return PollStatus(address, mount, 0, fetch, memory, result);
}

bool PollStatus(const std::string& address, const std::string& mount, StatusResult& result)
{
    return PollStatus(address, mount, FetchUrl, result);
}

bool StartStatusPoll(const std::string& address, const std::string& mount, StatusCallback done)
{
    return StartStatusPoll(address, mount, 0, std::move(done));
}

bool StartStatusPoll(const std::string& address, const std::string& mount, uint16_t sourcePort, StatusCallback done)
{
    return StartStatusPoll(address, mount, sourcePort, TlsOptions{}, std::move(done));
}

UrlFetcher StatusFetcher(const TlsOptions& tls)
{
    // A pinned certificate or a station's own CA: the platform's HTTP client knows
    // neither, so https goes through the stream's own verified TLS.
    if (!tls.enabled || (tls.fingerprint.empty() && tls.caFile.empty()))
        return FetchUrl;
    return [tls](const std::string& url) {
        return url.rfind("https://", 0) == 0 ? FetchUrlOverLink(url, tls) : FetchUrl(url);
    };
}

std::string SharedStatusDocuments::Fetch(const std::string& key, const std::string& url, const UrlFetcher& fetch)
{
    const std::string name = key + '\n' + url;
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        auto found = documents.find(name);
        if (found == documents.end())
            break;
        if (found->second.inFlight) {
            fetched.wait(guard);
            continue;
        }
        if (now - found->second.fetchedAt <= maxAge)
            return found->second.body;
        break;
    }
    // Old documents go as new ones come: a session asks a handful of URLs.
    const auto now = std::chrono::steady_clock::now();
    std::erase_if(documents, [&](const auto& entry) {
        return !entry.second.inFlight && now - entry.second.fetchedAt > maxAge;
    });
    documents[name].inFlight = true;
    guard.unlock();
    std::string body = fetch(url);
    guard.lock();
    Document& document = documents[name];
    document.body = body;
    document.fetchedAt = std::chrono::steady_clock::now();
    document.inFlight = false;
    fetched.notify_all();
    return body;
}

namespace {

// Polls start every five seconds per output; the outputs of one session start together,
// so half that lets one fetch serve them all without showing a stale listener count.
SharedStatusDocuments& SessionStatusDocuments()
{
    static SharedStatusDocuments documents(std::chrono::milliseconds(2500));
    return documents;
}

} // namespace

bool StartStatusPoll(const std::string& address, const std::string& mount, uint16_t sourcePort,
                     const TlsOptions& tls, StatusCallback done)
{
    IcecastConfig server;
    server.port = sourcePort;
    server.tls = tls;
    return StartStatusPoll(address, mount, server, std::move(done));
}

bool StartStatusPoll(const std::string& address, const std::string& mount, const IcecastConfig& server,
                     StatusCallback done)
{
    return StartDetachedWorker([address, mount, server, done] {
        StatusResult result;
        const UrlFetcher fetcher = StatusFetcher(server.tls);
        const std::string trust = server.tls.fingerprint + '\n' + server.tls.caFile;
        const UrlFetcher shared = [&](const std::string& url) {
            return SessionStatusDocuments().Fetch(trust, url, fetcher);
        };
        PollStatus(address, mount, server, shared, SharedStatusPortMemory(), result);
        // A command that ends on the result must find nothing of the TLS library left.
        ReleaseTlsThreadState();
        if (done)
            done(result);
    }, [&done] {
        if (done)
            done(StatusResult{});
    });
}
