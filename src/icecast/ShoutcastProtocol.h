#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "icecast/IcecastConfig.h"
#include "icecast/StatusPoller.h"

// The bytes of Shoutcast's source protocols and the reading of the server's answers, as
// pure functions: v1 (a password line and "icy-" headers at port + 1) and Shoutcast 2's
// Ultravox 2.1 messages. User texts are stripped of control characters as in Icecast's
// requests.

// The settings' names: "icecast", "shoutcast1", "shoutcast2" (any case, blanks around
// ignored; "" is Icecast). Nothing for any other text.
std::optional<ServerType> ParseServerType(std::string_view text);
std::string ServerTypeName(ServerType type);
// The highest stream id a setting may name.
constexpr int64_t kMaxStreamId = 65535;

// The port the source connection goes to: port + 1 for Shoutcast v1, else port; 0 when
// port + 1 does not fit.
uint16_t SourceConnectPort(const IcecastConfig& config);

// v1: the password line; with a stream id other than 1 (DNAS 2) "password:#sid", which is
// why a colon in such a password cannot reach the server as typed.
std::string BuildShoutcastPasswordLine(const IcecastConfig& config);
// v1: the stream headers after "OK2", ending with the blank line.
std::string BuildShoutcastHeaders(const IcecastConfig& config, std::string_view contentType);

// How the server answered the password line.
enum class ShoutcastAnswer { Accepted, WrongPassword, Refused };
ShoutcastAnswer ReadShoutcastAnswer(std::string_view answer);
// lastError for an answer other than Accepted.
std::string ShoutcastFailureText(std::string_view answer);

// The title update of a Shoutcast server: "GET /admin.cgi?pass=...&mode=updinfo&song=..."
// on the base port, with "&sid=N" for a stream id other than 1.
std::string BuildShoutcastTitleRequest(const IcecastConfig& config, std::string_view title);

// Ultravox 2.1: a message is the sync byte, a reserved byte, class and type in 16 bits,
// the payload length in 16 bits (all big-endian), the payload and a 0 byte.
namespace ultravox {
constexpr uint8_t kSync = 0x5A;
constexpr size_t kHeaderBytes = 6;
constexpr size_t kFrameBytes = kHeaderBytes + 1;
// The largest payload the protocol allows; the server may ask for less.
constexpr uint16_t kMaxPayload = 16377;
// The smallest we accept from the server's answer to our offer.
constexpr uint16_t kMinPayload = 256;

constexpr uint16_t kAuthenticate = 0x1001;
constexpr uint16_t kMimeType = 0x1040;
constexpr uint16_t kSetupBroadcast = 0x1002;
constexpr uint16_t kMaxPayloadSize = 0x1008;
constexpr uint16_t kStandby = 0x1004;
constexpr uint16_t kTerminate = 0x1005;
constexpr uint16_t kCipherKey = 0x1009;
constexpr uint16_t kIcyName = 0x1100;
constexpr uint16_t kIcyGenre = 0x1101;
constexpr uint16_t kIcyUrl = 0x1102;
constexpr uint16_t kIcyPub = 0x1103;
// Cacheable metadata, Shoutcast 2's XML.
constexpr uint16_t kXmlMetadata = 0x3902;
constexpr uint16_t kMp3Data = 0x7000;
constexpr uint16_t kOggData = 0x8001;
constexpr uint16_t kAacData = 0x8003;
// The cacheable metadata payload starts with its id, span and index, 16 bits each.
constexpr size_t kMetadataHeaderBytes = 6;
} // namespace ultravox

// Appends one message to out.
void AppendUltravoxMessage(std::string& out, uint16_t type, std::string_view payload);
struct UltravoxMessage {
    uint16_t type = 0;
    std::string payload;
};
// Reads the first message of bytes: its length when complete, 0 when more bytes are
// needed; malformed set (and 0 returned) when bytes cannot begin a message.
size_t ParseUltravoxMessage(std::string_view bytes, UltravoxMessage& message, bool& malformed);

// XTEA (32 cycles) over text in 8-byte blocks (the last padded with 0 bytes), with the
// cipher key's first 16 bytes (0-padded) as the key, words big-endian, as lower-case hex.
std::string XteaHex(std::string_view text, std::string_view cipherKey);
// The authentication payload: "2.1:" sid ":" XteaHex(user) ":" XteaHex(password).
std::string BuildUltravoxAuth(const IcecastConfig& config, std::string_view cipherKey);
// The data message type for a stream's content type; 0 when Ultravox carries none.
uint16_t UltravoxDataType(std::string_view contentType);
// The cacheable XML metadata payload for a title (id 1, span 1, index 1).
std::string BuildUltravoxTitle(std::string_view title);

// A server's answer "ACK:value" gives value; nothing for "NAK:..." or anything else.
std::optional<std::string> UltravoxAckValue(std::string_view payload);
// lastError for an answer of the server to message type that is not an ACK.
std::string UltravoxRefusalText(uint16_t type, std::string_view payload, const IcecastConfig& config);

// Status: Shoutcast 2's "/stats?sid=N&json=1" and Shoutcast 1's "/7.html". True when the
// document was one; result gets the name (DNAS 2 only), title and listeners.
std::string ShoutcastStatsPath(uint32_t streamId);
bool ReadShoutcastStats(std::string_view body, StatusResult& result);
bool ReadSevenHtml(std::string_view body, StatusResult& result);
