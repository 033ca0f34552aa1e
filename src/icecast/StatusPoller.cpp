#include "icecast/StatusPoller.h"

#include <system_error>
#include <thread>

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
    const size_t end = body.find('"', i + 1);
    if (end == std::string_view::npos)
        return {};
    return std::string(body.substr(i + 1, end - i - 1));
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
    result.serverName = FindJsonString(body, "server_name", source);
    result.title = FindJsonString(body, "title", source);
    result.listeners = FindJsonInt(body, "listeners", source);
    return true;
}

bool PollStatus(const std::string& address, const std::string& mount, StatusResult& result)
{
    return PollStatus(address, mount, FetchUrl, result);
}

bool StartStatusPoll(const std::string& address, const std::string& mount, StatusCallback done)
{
    try {
        std::thread([address, mount, done] {
            StatusResult result;
            PollStatus(address, mount, result);
            if (done)
                done(result);
        }).detach();
        return true;
    } catch (const std::system_error&) {
        if (done)
            done(StatusResult{});
        return false;
    }
}
