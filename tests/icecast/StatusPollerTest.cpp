#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "icecast/FetchUrl.h"
#include "base/Utf8.h"
#include "icecast/StatusPoller.h"

namespace {

// One source object as Icecast 2.4.4 writes it.
std::string Source(const std::string& mount, const std::string& name, const std::string& title, int listeners)
{
    std::string s = "{\"audio_info\":\"ice-samplerate=44100;ice-bitrate=64;ice-channels=2\",\"bitrate\":64,"
                    "\"genre\":\"Jazz\",\"listener_peak\":0,";
    if (listeners >= -1)
        s += "\"listeners\":" + std::to_string(listeners) + ",";
    s += "\"listenurl\":\"http://127.0.0.1:8000" + mount + "\",\"server_name\":\"" + name + "\",";
    if (!title.empty())
        s += "\"title\":\"" + title + "\",";
    return s + "\"dummy\":null}";
}

std::string Document(const std::vector<std::string>& sources)
{
    std::string doc = "{\"icestats\":{\"admin\":\"test@localhost\",\"host\":\"127.0.0.1\",\"server_id\":\"Icecast 2.4.4\",";
    if (sources.size() == 1) {
        doc += "\"source\":" + sources[0] + ",";
    } else if (!sources.empty()) {
        doc += "\"source\":[";
        for (size_t i = 0; i < sources.size(); ++i)
            doc += (i ? "," : "") + sources[i];
        doc += "],";
    }
    return doc + "\"dummy\":null}}";
}

StatusResult Poll(const std::string& body, const std::string& mount)
{
    StatusResult result;
    PollStatus("h:8000", mount, [&body](const std::string&) { return body; }, result);
    return result;
}

TEST(StatusPollerTest, PicksTheWantedSource)
{
    const std::string doc = Document({Source("/one", "One", "First", 1), Source("/live2", "Two", "Second", 2),
                                      Source("/live", "Live", "Now", 7)});
    const struct {
        const char* mount;
        const char* name;
        int listeners;
    } cases[] = {
        {"/live", "Live", 7},   // the listen URL ends in /live"
        {"live", "Live", 7},    // a "/" is put in front
        {"/live2", "Two", 2},
        {"/nowhere", "One", 1}, // not listed: the first source
        {"", "One", 1},
    };
    for (const auto& c : cases) {
        const StatusResult result = Poll(doc, c.mount);
        EXPECT_EQ(result.serverName, c.name) << c.mount;
        EXPECT_EQ(result.listeners, c.listeners) << c.mount;
    }
}

TEST(StatusPollerTest, BareNameMatchesInsideALongerMount)
{
    const StatusResult result = Poll(Document({Source("/other", "Other", "", 3), Source("/live2", "Two", "", 2)}),
                                     "/live");
    EXPECT_EQ(result.serverName, "Two");
}

TEST(StatusPollerTest, SingleSourceObjectAndQuotedMount)
{
    EXPECT_EQ(Poll(Document({Source("/a", "Alone", "Song", 0)}), "").serverName, "Alone");
    const std::string quoted = "{\"icestats\":{\"source\":[{\"server_name\":\"X\"},{\"mount\":\"/live\","
                               "\"server_name\":\"Y\",\"listeners\":4}]}}";
    EXPECT_EQ(Poll(quoted, "/live").serverName, "Y");
}

TEST(StatusPollerTest, MissingValues)
{
    const StatusResult zero = Poll(Document({Source("/live", "Live", "Song", 0)}), "/live");
    EXPECT_EQ(zero.listeners, 0);
    EXPECT_EQ(zero.title, "Song");

    const StatusResult noKeys = Poll(Document({Source("/live", "Live", "", -2)}), "/live");
    EXPECT_EQ(noKeys.serverName, "Live");
    EXPECT_EQ(noKeys.title, "");
    EXPECT_EQ(noKeys.listeners, -1);

    const StatusResult none = Poll("<html><body>404 - The file you requested could not be found</body></html>", "/live");
    EXPECT_EQ(none.serverName, "");
    EXPECT_EQ(none.listeners, -1);
    StatusResult untouched;
    EXPECT_FALSE(PollStatus("h:8000", "", [](const std::string&) { return std::string("{\"icestats\":{}}"); },
                            untouched));
}

TEST(StatusPollerTest, ValueMatchers)
{
    const std::string body = "{\"a\": \"text\",\"n\":\t-42,\"z\":\"0\",\"nul\":null,\"m\":-,\"q\":\"x\\\"y\","
                             "\"t\":null,\"big\":99999999999}";
    EXPECT_EQ(FindJsonString(body, "a", 0), "text");
    EXPECT_EQ(FindJsonString(body, "q", 0), "x\"y");
    EXPECT_EQ(FindJsonString(body, "t", 0), "");
    EXPECT_EQ(FindJsonString(body, "missing", 0), "");
    EXPECT_EQ(FindJsonInt(body, "n", 0), -42);
    EXPECT_EQ(FindJsonInt(body, "z", 0), -1);
    EXPECT_EQ(FindJsonInt(body, "nul", 0), -1);
    EXPECT_EQ(FindJsonInt(body, "m", 0), 0);
    EXPECT_EQ(FindJsonInt(body, "big", 0), INT32_MAX);
    EXPECT_EQ(FindJsonString(body, "a", body.size() + 10), "");

    // The key must begin within 3000 bytes of the start.
    const std::string far = std::string(kJsonKeyWindow, ' ') + "\"k\":\"v\"";
    EXPECT_EQ(FindJsonString(far, "k", 0), "v");
    EXPECT_EQ(FindJsonString(" " + far, "k", 0), "");
    EXPECT_EQ(FindJsonInt(" " + std::string(kJsonKeyWindow, ' ') + "\"k\":5", "k", 0), -1);
}

TEST(StatusPollerTest, StringEscapesAreDecoded)
{
    const struct {
        const char* raw; // as it stands between the quotes in the document
        const char* text;
    } cases[] = {
        {R"(Fuzz \"Seed\" Radio)", "Fuzz \"Seed\" Radio"},
        {R"(AC\/DC \\ back\\)", "AC/DC \\ back\\"},
        {R"(M\u00fcller \u20AC)", "M\xc3\xbcller \xe2\x82\xac"},
        {R"(\ud83c\udfb5 note)", "\xf0\x9f\x8e\xb5 note"},      // a surrogate pair
        {R"(lone \ud83c and \udfb5)", "lone \xef\xbf\xbd and \xef\xbf\xbd"},
        {R"(bad \u12G4 \q)", "bad u12G4 q"},
        {R"(tab\tend\n)", "tab\tend\n"},
    };
    for (const auto& c : cases) {
        const std::string body = std::string("{\"server_name\":\"") + c.raw + "\",\"title\":\"after\"}";
        EXPECT_EQ(FindJsonString(body, "server_name", 0), c.text) << c.raw;
        EXPECT_EQ(FindJsonString(body, "title", 0), "after") << c.raw;
    }
    // An escaped quote never ends the value, even at the very end of the body.
    EXPECT_EQ(FindJsonString(R"({"k":"open \")", "k", 0), "");
}

// Control characters from the server (raw, or written as escapes) never reach a
// terminal or a window: ESC, BEL and a line feed that would forge a "name=value" line.
TEST(StatusPollerTest, ServerTextLosesControlCharacters)
{
    const std::string name = "Evil\x1b]0;pwned\x07 Radio\\nlisteners=999\\u001b[2J";
    const std::string title = "Song\x1b[2J\r\x7f\xc2\x9b" "31m \xc3\xa9t\xc3\xa9";
    const StatusResult result = Poll(Document({Source("/live", name, title, 3)}), "/live");
    EXPECT_EQ(result.serverName, "Evil]0;pwned Radiolisteners=999[2J");
    EXPECT_EQ(result.title, "Song[2J31m \xc3\xa9t\xc3\xa9");
    EXPECT_EQ(result.listeners, 3);
    // A C1 control whose two bytes only meet once the bytes between them are dropped.
    EXPECT_EQ(StripControlCharacters("a\xc2\x1b\x9b" "b\xc2\xc2\x9b\x9b" "c"), "abc");
}

TEST(StatusPollerTest, FetchesPlainThenSecure)
{
    const struct {
        const char* address;
        bool firstEmpty;
        std::vector<std::string> urls;
    } cases[] = {
        {"h:8000/live", false, {"http://h:8000/status-json.xsl"}},
        {"h:8000/live", true, {"http://h:8000/status-json.xsl", "https://h:8000/status-json.xsl"}},
        {"h:8000///", true, {"http://h:8000/status-json.xsl", "https://h:8000/status-json.xsl"}},
        {"http://h:8000/live", true, {"http://h:8000/status-json.xsl"}},
        {"https://h:8443", true, {"https://h:8443/status-json.xsl"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> urls;
        const bool firstEmpty = c.firstEmpty;
        StatusResult result;
        PollStatus(c.address, "", [&](const std::string& url) {
            urls.push_back(url);
            return firstEmpty ? std::string() : std::string("{\"icestats\":{}}");
        }, result);
        EXPECT_EQ(urls, c.urls) << c.address;
    }
    StatusResult result;
    EXPECT_FALSE(PollStatus("", "/live", [](const std::string&) -> std::string {
        ADD_FAILURE() << "an empty address fetches nothing";
        return {};
    }, result));
}

// A stream over TLS: the status address (no scheme) is asked over https first, plain
// second; an address that names its scheme keeps it. An IPv6 host stays in brackets.
TEST(StatusPollerTest, TlsStreamAsksSecureFirst)
{
    const struct {
        const char* address;
        bool firstEmpty;
        std::vector<std::string> urls;
    } cases[] = {
        {"h:8000/live", false, {"https://h:8000/status-json.xsl"}},
        {"h:8000/live", true, {"https://h:8000/status-json.xsl", "http://h:8000/status-json.xsl"}},
        {"[::1]:8000/live", true, {"https://[::1]:8000/status-json.xsl", "http://[::1]:8000/status-json.xsl"}},
        {"http://h:8000/live", true, {"http://h:8000/status-json.xsl"}},
        {"https://h:8443", true, {"https://h:8443/status-json.xsl"}},
    };
    const std::string doc = Document({Source("/live", "Live", "Now", 2)});
    for (const auto& c : cases) {
        std::vector<std::string> urls;
        const bool firstEmpty = c.firstEmpty;
        const UrlFetcher fetch = [&](const std::string& url) {
            urls.push_back(url);
            return firstEmpty && urls.size() == 1 ? std::string() : doc;
        };
        StatusPortMemory memory;
        StatusResult result;
        PollStatus(c.address, "", 0, true, fetch, memory, result);
        EXPECT_EQ(urls, c.urls) << c.address;
    }

    // With the source port fallback, each port gets the secure-first order.
    std::vector<std::string> urls;
    const UrlFetcher fetch = [&](const std::string& url) {
        urls.push_back(url);
        return url == "http://h:8005/status-json.xsl" ? doc : std::string();
    };
    StatusPortMemory memory;
    StatusResult result;
    ASSERT_TRUE(PollStatus("h:8000/live", "", 8005, true, fetch, memory, result));
    EXPECT_EQ(result.serverName, "Live");
    EXPECT_EQ(urls, (std::vector<std::string>{"https://h:8000/status-json.xsl", "http://h:8000/status-json.xsl",
                                              "https://h:8005/status-json.xsl", "http://h:8005/status-json.xsl"}));
}

TEST(StatusPollerTest, AddressPathWinsOverMountArgument)
{
    const std::string doc = Document({Source("/a", "A", "", 1), Source("/b", "B", "", 2)});
    StatusResult result;
    ASSERT_TRUE(PollStatus("h:8000/b", "/a", [&doc](const std::string&) { return doc; }, result));
    EXPECT_EQ(result.serverName, "B");
    ASSERT_TRUE(PollStatus("h:8000", "b", [&doc](const std::string&) { return doc; }, result));
    EXPECT_EQ(result.serverName, "B");
}

// A single-port server answers only at the source port: that port is asked after the
// status port (each with the scheme fallback) and then first, until it stops answering.
TEST(StatusPollerTest, FallsBackToTheSourcePortAndAsksItFirstThen)
{
    const std::string doc = Document({Source("/live", "Live", "Now", 4)});
    std::vector<std::string> urls;
    std::string answering = "h:8005";
    const UrlFetcher fetch = [&](const std::string& url) {
        urls.push_back(url);
        return url.find("://" + answering + "/") != std::string::npos ? doc : std::string();
    };
    StatusPortMemory memory;
    StatusResult result;
    ASSERT_TRUE(PollStatus("h:8000/live", "", 8005, fetch, memory, result));
    EXPECT_EQ(result.serverName, "Live");
    EXPECT_EQ(result.listeners, 4);
    EXPECT_EQ(urls, (std::vector<std::string>{"http://h:8000/status-json.xsl", "https://h:8000/status-json.xsl",
                                              "http://h:8005/status-json.xsl"}));

    urls.clear();
    ASSERT_TRUE(PollStatus("h:8000/live", "", 8005, fetch, memory, result));
    EXPECT_EQ(urls, (std::vector<std::string>{"http://h:8005/status-json.xsl"}));

    // The server moves its status document back to the status port.
    answering = "h:8000";
    urls.clear();
    ASSERT_TRUE(PollStatus("h:8000/live", "", 8005, fetch, memory, result));
    EXPECT_EQ(urls, (std::vector<std::string>{"http://h:8005/status-json.xsl", "https://h:8005/status-json.xsl",
                                              "http://h:8000/status-json.xsl"}));
    urls.clear();
    ASSERT_TRUE(PollStatus("h:8000/live", "", 8005, fetch, memory, result));
    EXPECT_EQ(urls, (std::vector<std::string>{"http://h:8000/status-json.xsl"}));
}

TEST(StatusPollerTest, SourcePortFallbackNeedsADocumentWithASource)
{
    // An error page at the status port is no answer; an explicit scheme is kept.
    std::vector<std::string> urls;
    const std::string doc = Document({Source("/live", "Live", "", 1)});
    const UrlFetcher fetch = [&](const std::string& url) {
        urls.push_back(url);
        return url.find(":8000/") != std::string::npos ? std::string("<html>404</html>") : doc;
    };
    StatusPortMemory memory;
    StatusResult result;
    ASSERT_TRUE(PollStatus("http://h:8000", "/live", 8005, fetch, memory, result));
    EXPECT_EQ(urls, (std::vector<std::string>{"http://h:8000/status-json.xsl", "http://h:8005/status-json.xsl"}));
    EXPECT_EQ(memory.Answered("http://h:8000"), "h:8005");

    // No source port, or the same one: nothing else is asked.
    for (const uint16_t port : {uint16_t{0}, uint16_t{8000}}) {
        urls.clear();
        StatusPortMemory fresh;
        EXPECT_FALSE(PollStatus("http://h:8000", "/live", port, fetch, fresh, result)) << port;
        EXPECT_EQ(urls.size(), 1u) << port;
    }
}

// Server text as shown: references decoded, mojibake repaired, controls stripped.
TEST(StatusPollerTest, ServerTextIsDecodedAndRepaired)
{
    const struct {
        const char* raw;
        const char* shown;
    } cases[] = {
        {"Caf\xc3\xa9 M\xc3\xbcller &#8211; Live", "Caf\xc3\xa9 M\xc3\xbcller \xe2\x80\x93 Live"},
        {"&#x2013;&#X2014;&amp;&lt;&gt;&quot;&apos;", "\xe2\x80\x93\xe2\x80\x94&<>\"'"},
        {"Caf\xc3\x83\xc2\xa9 M\xc3\x83\xc2\xbcller", "Caf\xc3\xa9 M\xc3\xbcller"},           // Latin-1 read of UTF-8
        {"\xc3\xa2\xc2\x80\xc2\x93 dash", "\xe2\x80\x93 dash"},                            // its C1 bytes survive
        {"Rock &amp;amp; Roll", "Rock &amp; Roll"},                                          // decoded once
        {"&#27;[2J&#7;bell&#x0a;", "[2Jbell"},                                                // controls still go
        // Never touched: plain and properly accented text, a Latin-1 read that gives no
        // valid UTF-8, text beyond Latin-1, references to no character, bare ampersands.
        {"Plain Radio 101.5", "Plain Radio 101.5"},
        {"Caf\xc3\xa9 M\xc3\xbcller", "Caf\xc3\xa9 M\xc3\xbcller"},
        {"\xc3\x83\xc2\xa9t\xc3\xa9 \xc3\xa0", "\xc3\x83\xc2\xa9t\xc3\xa9 \xc3\xa0"},
        {"\xc3\x83\xc2\xa9 \xe2\x80\x93", "\xc3\x83\xc2\xa9 \xe2\x80\x93"},
        {"A & B; &#; &#xZZ; &#0; &#xD800; &#x110000; &bogus; &#65",
         "A & B; &#; &#xZZ; &#0; &#xD800; &#x110000; &bogus; &#65"},
        {"\xff\xfe broken", "\xff\xfe broken"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CleanServerText(c.raw), c.shown) << c.raw;

    // Through a poll: the name and the title both get it.
    const StatusResult result =
        Poll(Document({Source("/live", "Caf\xc3\x83\xc2\xa9", "Tom &amp; Jerry &#8211; Live", 2)}), "/live");
    EXPECT_EQ(result.serverName, "Caf\xc3\xa9");
    EXPECT_EQ(result.title, "Tom & Jerry \xe2\x80\x93 Live");
}

TEST(StatusPollerTest, BodyIsCutAfterTheReadThatCrossesTheLimit)
{
    const std::string piece(kFetchReadBytes, 'x');
    std::string body;
    int pieces = 0;
    while (AppendFetchedPiece(body, piece.data(), piece.size()))
        ++pieces;
    EXPECT_EQ(pieces, 16);
    EXPECT_EQ(body.size(), 17 * kFetchReadBytes);

    std::string zero;
    EXPECT_TRUE(AppendFetchedPiece(zero, "ab\0cd", 5));
    EXPECT_EQ(zero, "ab");
}

} // namespace

// The outputs of one session poll one server together: a fetch under way serves those
// that start meanwhile, a fresh document serves later ones, and an old one is fetched anew.
TEST(StatusPollerTest, PollsOfOneUrlShareAFetch)
{
    SharedStatusDocuments documents(std::chrono::seconds(1));
    std::atomic<int> fetches{0};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    const UrlFetcher slow = [&](const std::string& url) {
        fetches += 1;
        released.wait();
        return "body of " + url;
    };
    std::vector<std::future<std::string>> polls;
    for (int i = 0; i < 4; ++i)
        polls.push_back(std::async(std::launch::async, [&] { return documents.Fetch("", "http://a/s", slow); }));
    while (fetches == 0)
        std::this_thread::yield();
    release.set_value();
    for (auto& poll : polls)
        EXPECT_EQ(poll.get(), "body of http://a/s");
    EXPECT_EQ(fetches, 1);

    EXPECT_EQ(documents.Fetch("", "http://a/s", slow), "body of http://a/s");
    EXPECT_EQ(documents.Fetch("pinned", "http://a/s", slow), "body of http://a/s");
    EXPECT_EQ(documents.Fetch("", "http://b/s", slow), "body of http://b/s");
    EXPECT_EQ(fetches, 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(1050));
    documents.Fetch("", "http://a/s", slow);
    EXPECT_EQ(fetches, 4);
}
