#include "icecast/StatusPoller.h"

#include "base/DetachedWorker.h"
#include "icecast/FetchUrl.h"

namespace {

constexpr std::string_view kStatusPath = "/status-json.xsl";
constexpr std::string_view kSchemeMark = "://";

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
        const auto u = static_cast<uint32_t>(code);
        if (u < 0x80) {
            out += static_cast<char>(u);
        } else if (u < 0x800) {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else if (u < 0x10000) {
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (u >> 18));
            out += static_cast<char>(0x80 | ((u >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

std::string StripControlCharacters(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            continue;
        // U+0080..U+009F: some terminals take these as escape introducers too. Matched
        // against what is already kept, so that no dropped byte can join two halves.
        if (byte >= 0x80 && byte <= 0x9F && !out.empty() && static_cast<unsigned char>(out.back()) == 0xC2) {
            out.pop_back();
            continue;
        }
        out += c;
    }
    return out;
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

bool PollStatus(const std::string& address, const std::string& mount, const UrlFetcher& fetch, StatusResult& result)
{
    if (address.empty())
        return false;
    std::string url = address;
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    const bool implicitScheme = url.size() < kSchemeMark.size() || url.find(kSchemeMark) == std::string::npos;
    if (implicitScheme)
        url = "http://" + url;

    const size_t schemeEnd = url.find(kSchemeMark) + kSchemeMark.size();
    const std::string scheme = url.substr(0, schemeEnd);
    const std::string rest = url.substr(schemeEnd);
    const size_t slash = rest.find('/');
    const std::string hostPort = rest.substr(0, slash);
    const std::string pathMount = slash == std::string::npos ? std::string() : rest.substr(slash);

    std::string wanted = pathMount;
    if (wanted.empty() && !mount.empty())
        wanted = mount.front() == '/' ? mount : "/" + mount;

    std::string body = fetch(scheme + hostPort + std::string(kStatusPath));
    if (body.empty()) {
        if (!implicitScheme)
            return false;
        body = fetch("https://" + hostPort + std::string(kStatusPath));
        if (body.empty())
            return false;
    }
    const size_t source = LocateSource(body, wanted);
    if (source == std::string::npos)
        return false;
    // Server text is shown on terminals and in the window: no control character of it
    // may get through, whichever front end prints it.
    result.serverName = StripControlCharacters(FindJsonString(body, "server_name", source));
    result.title = StripControlCharacters(FindJsonString(body, "title", source));
    result.listeners = FindJsonInt(body, "listeners", source);
    return true;
}

bool PollStatus(const std::string& address, const std::string& mount, StatusResult& result)
{
    return PollStatus(address, mount, FetchUrl, result);
}

bool StartStatusPoll(const std::string& address, const std::string& mount, StatusCallback done)
{
    return StartDetachedWorker([address, mount, done] {
        StatusResult result;
        PollStatus(address, mount, result);
        if (done)
            done(result);
    }, [&done] {
        if (done)
            done(StatusResult{});
    });
}
