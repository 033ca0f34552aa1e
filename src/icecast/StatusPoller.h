#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "icecast/IcecastConfig.h"

// What one status poll found for the mount: empty texts and -1 when unknown.
struct StatusResult {
    std::string serverName;
    std::string title;
    int32_t listeners = -1;
};

// Receives the one result of a poll, on the poll thread.
using StatusCallback = std::function<void(const StatusResult& result)>;
// Fetches a URL's body ("" on failure); FetchUrl in the product.
using UrlFetcher = std::function<std::string(const std::string& url)>;

// How far past a source's start the value matchers look for a key.
constexpr size_t kJsonKeyWindow = 3000;

// Starts one poll on a detached thread that owns copies of its inputs and hands its
// result to done. When no thread can be started, done gets the empty result at once on
// the caller's thread (so the caller's in-flight flag clears) and the answer is false.
bool StartStatusPoll(const std::string& address, const std::string& mount, StatusCallback done);
// The same with the server's source port, asked when the status port gives no usable
// document (PollStatus below), the answering port remembered process-wide.
bool StartStatusPoll(const std::string& address, const std::string& mount, uint16_t sourcePort, StatusCallback done);
// The same over the stream's transport: with tls.enabled an address without scheme is
// asked over https:// first, then http:// (StatusFetcher).
bool StartStatusPoll(const std::string& address, const std::string& mount, uint16_t sourcePort,
                     const TlsOptions& tls, StatusCallback done);

// The same for a server of any type (server.serverType): a Shoutcast server's own
// statistics first (ShoutcastStatsPath, then "/7.html" for stream 1), then Icecast's
// document as above, with server.port as the source port and server.tls.
bool StartStatusPoll(const std::string& address, const std::string& mount, const IcecastConfig& server,
                     StatusCallback done);

// The status poll's fetcher for a stream with these TLS options: FetchUrl, the platform's
// HTTP client; but with TLS on and a pinned fingerprint or a CA file, https:// URLs go
// through FetchUrlOverLink, verified as the stream is.
UrlFetcher StatusFetcher(const TlsOptions& tls);

// Which host:port last gave a usable status document for a status host:port, so that
// later polls ask it first. Shared by the poll threads.
class StatusPortMemory {
public:
    std::string Answered(const std::string& statusHostPort) const; // "" when none yet
    void Remember(const std::string& statusHostPort, const std::string& answeredHostPort);

private:
    mutable std::mutex lock;
    std::map<std::string, std::string> answered;
};
StatusPortMemory& SharedStatusPortMemory();

// Outputs to one server each poll its status document every few seconds. One fetch of a
// URL serves every poll of that URL that starts within maxAge of it, and a poll that
// starts while the URL is being fetched waits for that fetch instead of making its own.
// Shared by the poll threads; key tells fetchers apart (the TLS trust each one uses).
class SharedStatusDocuments {
public:
    explicit SharedStatusDocuments(std::chrono::milliseconds age) : maxAge(age) {}
    std::string Fetch(const std::string& key, const std::string& url, const UrlFetcher& fetch);

private:
    struct Document {
        std::string body;
        std::chrono::steady_clock::time_point fetchedAt;
        bool inFlight = false;
    };
    const std::chrono::milliseconds maxAge;
    std::mutex lock;
    std::condition_variable fetched;
    std::map<std::string, Document> documents;
};

// Reads the server's "/status-json.xsl" for the status address (host:port with an
// optional mount path and scheme) and fills result from the wanted source. True when a
// source was located; result keeps its values otherwise.
bool PollStatus(const std::string& address, const std::string& mount, StatusResult& result);
bool PollStatus(const std::string& address, const std::string& mount, const UrlFetcher& fetch,
                StatusResult& result);
// The same, falling back to sourcePort (0: none) on the address's host when the status
// port gives no document with a source (a single-port server serves its status document
// at the source port only); memory keeps which port answered, asked first next time.
// Each port gets the scheme fallback of an address without scheme.
bool PollStatus(const std::string& address, const std::string& mount, uint16_t sourcePort, const UrlFetcher& fetch,
                StatusPortMemory& memory, StatusResult& result);
// The same; with secureFirst an address without scheme is asked over https:// first and
// http:// second (the stream runs over TLS, so the server surely speaks it).
bool PollStatus(const std::string& address, const std::string& mount, uint16_t sourcePort, bool secureFirst,
                const UrlFetcher& fetch, StatusPortMemory& memory, StatusResult& result);

// The poll of StartStatusPoll with a server of any type.
bool PollStatus(const std::string& address, const std::string& mount, const IcecastConfig& server,
                const UrlFetcher& fetch, StatusPortMemory& memory, StatusResult& result);

// Where the object of the source with mount (starting with "/"; empty for any) begins in
// body, or npos. A mount the document does not name gives the first source.
size_t LocateSource(std::string_view body, std::string_view mount);

// The value of "key": after from (the key must begin within kJsonKeyWindow bytes): the
// string that follows, its escapes decoded (DecodeJsonString); "" when it is not a
// string or missing.
std::string FindJsonString(std::string_view body, std::string_view key, size_t from);
// The body of a JSON string (without its quotes) as UTF-8: the escapes \" \\ \/ \b \f
// \n \r \t and \uXXXX (surrogate pairs joined; a lone surrogate becomes U+FFFD) are
// decoded; a backslash before any other character stands for that character.
std::string DecodeJsonString(std::string_view raw);
// "&#8211;", "&#x2013;", "&amp;", "&lt;", "&gt;", "&quot;" and "&apos;" as the characters
// they stand for (UTF-8); anything else, a reference to no character included, stays.
std::string DecodeCharacterReferences(std::string_view text);
// Text that a server read as Latin-1 and wrote back as UTF-8 ("CafÃ©"), repaired: only
// when every character fits one Latin-1 byte and those bytes form valid UTF-8 with at
// least one multi-byte character; any other text comes back unchanged.
std::string RepairLatin1Mojibake(std::string_view text);
// A value of the status document as shown: references decoded, mojibake repaired, then
// control characters stripped (StripControlCharacters, last, so that no decoded
// character can bring one in).
std::string CleanServerText(std::string_view text);
// The same for a number: an optional "-" and digits; -1 when neither is there.
int32_t FindJsonInt(std::string_view body, std::string_view key, size_t from);
