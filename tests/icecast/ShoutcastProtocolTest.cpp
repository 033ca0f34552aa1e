#include <gtest/gtest.h>

#include <string>

#include "icecast/ShoutcastProtocol.h"

namespace {

IcecastConfig ShoutcastConfig(ServerType type, uint32_t streamId = 1)
{
    IcecastConfig config;
    config.host = "radio.example";
    config.port = 8000;
    config.username = "dj";
    config.password = "pw & more";
    config.streamName = "Morning\r\nicy-pub:1 Show";
    config.streamGenre = "Talk";
    config.streamBitrate = 128000;
    config.isPublic = false;
    config.serverType = type;
    config.streamId = streamId;
    return config;
}

TEST(ShoutcastProtocolTest, VersionOneRequests)
{
    const IcecastConfig first = ShoutcastConfig(ServerType::Shoutcast1);
    EXPECT_EQ(SourceConnectPort(first), 8001);
    EXPECT_EQ(SourceConnectPort(ShoutcastConfig(ServerType::Shoutcast2)), 8000);
    IcecastConfig top = first;
    top.port = 65535;
    EXPECT_EQ(SourceConnectPort(top), 0);

    EXPECT_EQ(BuildShoutcastPasswordLine(first), "pw & more\r\n");
    EXPECT_EQ(BuildShoutcastPasswordLine(ShoutcastConfig(ServerType::Shoutcast1, 2)), "pw & more:#2\r\n");
    // A header value cannot end its line and add one of its own.
    EXPECT_EQ(BuildShoutcastHeaders(first, "audio/aacp"),
              "icy-name:Morningicy-pub:1 Show\r\nicy-genre:Talk\r\nicy-url:\r\nicy-pub:0\r\nicy-br:128\r\n"
              "content-type:audio/aacp\r\n\r\n");
    EXPECT_EQ(BuildShoutcastTitleRequest(ShoutcastConfig(ServerType::Shoutcast1, 3), "Rock & Roll / Live"),
              "GET /admin.cgi?pass=pw+%26+more&sid=3&mode=updinfo&song=Rock+%26+Roll+%2F+Live HTTP/1.0\r\n"
              "Host: radio.example:8000\r\nUser-Agent: KelmVantoro/1.0\r\nConnection: close\r\n\r\n");

    const struct {
        const char* answer;
        ShoutcastAnswer verdict;
        const char* text;
    } answers[] = {
        {"OK2\r\nicy-caps:11\r\n\r\n", ShoutcastAnswer::Accepted, ""},
        {"\r\nOK2\r\n", ShoutcastAnswer::Accepted, ""},
        {"invalid password\r\n", ShoutcastAnswer::WrongPassword, "Authentication failed (wrong username/password)"},
        {"Invalid Password", ShoutcastAnswer::WrongPassword, "Authentication failed (wrong username/password)"},
        {"HTTP/1.0 404 Not Found\r\n\r\n", ShoutcastAnswer::Refused, "Server rejected: HTTP 404"},
        {"No / mountpoint\r\n", ShoutcastAnswer::Refused, "Server refused the source: No / mountpoint"},
        {"\r\n", ShoutcastAnswer::Refused, "Unexpected server response"},
    };
    for (const auto& a : answers) {
        EXPECT_EQ(ReadShoutcastAnswer(a.answer), a.verdict) << a.answer;
        EXPECT_EQ(ShoutcastFailureText(a.answer), a.text) << a.answer;
    }
}

TEST(ShoutcastProtocolTest, UltravoxFramingRoundTripsAndRefusesBrokenMessages)
{
    std::string bytes;
    AppendUltravoxMessage(bytes, ultravox::kCipherKey, "2.1");
    EXPECT_EQ(bytes, std::string("\x5A\x00\x10\x09\x00\x03" "2.1\x00", 10));
    AppendUltravoxMessage(bytes, ultravox::kAacData, std::string(ultravox::kMaxPayload + 5, 'x'));
    EXPECT_EQ(bytes.size(), 10 + ultravox::kFrameBytes + ultravox::kMaxPayload); // cut at the limit

    UltravoxMessage message;
    bool malformed = false;
    EXPECT_EQ(ParseUltravoxMessage(bytes, message, malformed), 10u);
    EXPECT_EQ(message.type, ultravox::kCipherKey);
    EXPECT_EQ(message.payload, "2.1");
    // Pieces: more bytes are needed, nothing is wrong yet.
    for (size_t cut : {0, 1, 5, 6, 9}) {
        EXPECT_EQ(ParseUltravoxMessage(std::string_view(bytes).substr(0, cut), message, malformed), 0u);
        EXPECT_FALSE(malformed) << cut;
    }
    for (const std::string& broken : {std::string("HTTP/1.0 400"), std::string("\x5A\x00\x10\x09\x00\x01X\x01", 8),
                                      std::string("\x5A\x00\x10\x09\xFF\xFF", 6)}) {
        EXPECT_EQ(ParseUltravoxMessage(broken, message, malformed), 0u);
        EXPECT_TRUE(malformed) << broken;
    }
}

TEST(ShoutcastProtocolTest, UltravoxPayloads)
{
    // The published XTEA vector: key 00..0F, "ABCDEFGH".
    const std::string key("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F", 16);
    EXPECT_EQ(XteaHex("ABCDEFGH", key), "497df3d072612cb5");
    EXPECT_EQ(XteaHex("", key), "");
    EXPECT_EQ(XteaHex("ABCDEFGHI", key).size(), 32u);
    const std::string auth = BuildUltravoxAuth(ShoutcastConfig(ServerType::Shoutcast2, 4), "foobar");
    EXPECT_EQ(auth, "2.1:4:" + XteaHex("dj", "foobar") + ":" + XteaHex("pw & more", "foobar"));

    EXPECT_EQ(UltravoxDataType("audio/aacp"), ultravox::kAacData);
    EXPECT_EQ(UltravoxDataType("audio/aac"), ultravox::kAacData);
    EXPECT_EQ(UltravoxDataType("Audio/MPEG; charset=x"), ultravox::kMp3Data);
    EXPECT_EQ(UltravoxDataType("audio/ogg"), ultravox::kOggData);
    EXPECT_EQ(UltravoxDataType("video/mp4"), 0);

    const std::string title = BuildUltravoxTitle("Tom & Jerry <Live>\n");
    EXPECT_EQ(title.substr(0, 6), std::string("\x00\x01\x00\x01\x00\x01", 6));
    EXPECT_NE(title.find("<TIT2>Tom &amp; Jerry &lt;Live&gt;</TIT2>"), std::string::npos);

    EXPECT_EQ(UltravoxAckValue("ACK:foobar"), "foobar");
    EXPECT_EQ(UltravoxAckValue(std::string("ACK\0", 4)), "");
    EXPECT_FALSE(UltravoxAckValue("NAK:Deny"));

    const IcecastConfig config = ShoutcastConfig(ServerType::Shoutcast2, 4);
    const struct {
        uint16_t type;
        const char* answer;
        const char* text;
    } refusals[] = {
        {ultravox::kAuthenticate, "NAK:2.1 Deny", "Authentication failed (wrong username/password)"},
        {ultravox::kAuthenticate, "NAK:Stream In Use", "Stream id in use: 4"},
        {ultravox::kAuthenticate, "NAK:Server Full", "Server full (no free source slot)"},
        {ultravox::kSetupBroadcast, "NAK:Bitrate Error", "Bitrate refused by the server: 128 kbps"},
        {ultravox::kSetupBroadcast, "NAK:Max Bitrate Exceeded", "Bitrate refused by the server: 128 kbps"},
        {ultravox::kMimeType, "NAK:Unsupported", "Stream format refused by the server"},
        {ultravox::kCipherKey, "NAK:Version Error", "The server does not speak Shoutcast 2 (Ultravox 2.1)"},
        {ultravox::kStandby, "NAK:Whatever\r\nelse", "Server refused: NAK:Whateverelse"},
        {ultravox::kStandby, "Hello", "Unexpected server response"},
    };
    for (const auto& r : refusals)
        EXPECT_EQ(UltravoxRefusalText(r.type, r.answer, config), r.text) << r.answer;
}

TEST(ShoutcastProtocolTest, StatisticsOfBothServers)
{
    StatusResult result;
    EXPECT_TRUE(ReadShoutcastStats(R"({"currentlisteners":12,"peaklisteners":20,"servertitle":"Radio \u00dc",)"
                                   R"("songtitle":"A \"B\" C","streamstatus":1})",
                                   result));
    EXPECT_EQ(result.serverName, "Radio \xc3\x9c");
    EXPECT_EQ(result.title, "A \"B\" C");
    EXPECT_EQ(result.listeners, 12);
    EXPECT_FALSE(ReadShoutcastStats("<html>404</html>", result));
    EXPECT_FALSE(ReadShoutcastStats(R"({"icestats":{}})", result));

    result = StatusResult();
    EXPECT_TRUE(ReadSevenHtml("<HTML><BODY>7,1,9,100,5,64,Artist - Song, Live &amp; Loud</BODY></HTML>", result));
    EXPECT_EQ(result.listeners, 7);
    EXPECT_EQ(result.title, "Artist - Song, Live & Loud");
    EXPECT_EQ(result.serverName, "");
    for (const char* broken : {"<body>1,2,3</body>", "<body>x,1,9,100,5,64,T</body>", "1,1,9,100,5,64,T"})
        EXPECT_FALSE(ReadSevenHtml(broken, result)) << broken;
}

} // namespace
