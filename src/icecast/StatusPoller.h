#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

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

// Reads the server's "/status-json.xsl" for the status address (host:port with an
// optional mount path and scheme) and fills result from the wanted source. True when a
// source was located; result keeps its values otherwise.
bool PollStatus(const std::string& address, const std::string& mount, StatusResult& result);
bool PollStatus(const std::string& address, const std::string& mount, const UrlFetcher& fetch,
                StatusResult& result);

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
// text without control characters (C0, DEL and the UTF-8 forms of C1), so that a
// server's text can never move a terminal's cursor, retitle it or start a new line.
std::string StripControlCharacters(std::string_view text);
// The same for a number: an optional "-" and digits; -1 when neither is there.
int32_t FindJsonInt(std::string_view body, std::string_view key, size_t from);
