#include "icecast/ShoutcastProtocol.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "base/TextCodes.h"
#include "base/Utf8.h"
#include "icecast/IcecastProtocol.h"

namespace {

std::string Lower(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

uint32_t ReadWord(const uint8_t* bytes)
{
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
}

void WriteWord(uint8_t* bytes, uint32_t word)
{
    bytes[0] = static_cast<uint8_t>(word >> 24);
    bytes[1] = static_cast<uint8_t>(word >> 16);
    bytes[2] = static_cast<uint8_t>(word >> 8);
    bytes[3] = static_cast<uint8_t>(word);
}

void XteaEncipher(uint32_t& v0, uint32_t& v1, const std::array<uint32_t, 4>& key)
{
    constexpr uint32_t kDelta = 0x9E3779B9;
    uint32_t sum = 0;
    for (int cycle = 0; cycle < 32; ++cycle) {
        v0 += (((v1 << 4) ^ (v1 >> 5)) + v1) ^ (sum + key[sum & 3]);
        sum += kDelta;
        v1 += (((v0 << 4) ^ (v0 >> 5)) + v0) ^ (sum + key[(sum >> 11) & 3]);
    }
}

std::string EscapeXml(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c;
        }
    }
    return out;
}

constexpr std::string_view kUserAgentLine = "\r\nUser-Agent: KelmVantoro/1.0";

} // namespace

std::optional<ServerType> ParseServerType(std::string_view text)
{
    const std::string name = Lower(Trim(text));
    if (name.empty() || name == "icecast")
        return ServerType::Icecast;
    if (name == "shoutcast1")
        return ServerType::Shoutcast1;
    if (name == "shoutcast2")
        return ServerType::Shoutcast2;
    return std::nullopt;
}

std::string ServerTypeName(ServerType type)
{
    switch (type) {
    case ServerType::Shoutcast1: return "shoutcast1";
    case ServerType::Shoutcast2: return "shoutcast2";
    case ServerType::Icecast: break;
    }
    return "icecast";
}

uint16_t SourceConnectPort(const IcecastConfig& config)
{
    if (config.serverType != ServerType::Shoutcast1)
        return config.port;
    return config.port == 65535 ? 0 : static_cast<uint16_t>(config.port + 1);
}

std::string BuildShoutcastPasswordLine(const IcecastConfig& config)
{
    std::string line = StripControlCharacters(config.password);
    if (config.streamId != 1)
        line += ":#" + std::to_string(config.streamId);
    return line + "\r\n";
}

std::string BuildShoutcastHeaders(const IcecastConfig& config, std::string_view contentType)
{
    std::string headers;
    headers.reserve(256);
    headers += "icy-name:" + StripControlCharacters(config.streamName);
    headers += "\r\nicy-genre:" + StripControlCharacters(config.streamGenre);
    headers += "\r\nicy-url:";
    headers += config.isPublic ? "\r\nicy-pub:1" : "\r\nicy-pub:0";
    headers += "\r\nicy-br:" + std::to_string(config.streamBitrate / 1000);
    headers += "\r\ncontent-type:" + StripControlCharacters(contentType);
    headers += "\r\n\r\n";
    return headers;
}

ShoutcastAnswer ReadShoutcastAnswer(std::string_view answer)
{
    const std::string_view trimmed = Trim(answer);
    if (trimmed.substr(0, 3) == "OK2")
        return ShoutcastAnswer::Accepted;
    if (Lower(answer).find("invalid password") != std::string::npos)
        return ShoutcastAnswer::WrongPassword;
    return ShoutcastAnswer::Refused;
}

std::string ShoutcastFailureText(std::string_view answer)
{
    switch (ReadShoutcastAnswer(answer)) {
    case ShoutcastAnswer::WrongPassword: return "Authentication failed (wrong username/password)";
    case ShoutcastAnswer::Accepted: return {};
    case ShoutcastAnswer::Refused: break;
    }
    // An HTTP server on the Shoutcast port (a wrong port or type) answers with a status.
    const uint32_t status = ParseStatusCode(answer);
    if (answer.substr(0, 5) == "HTTP/" && status != 0)
        return "Server rejected: HTTP " + std::to_string(status);
    const std::string line = StripControlCharacters(Trim(answer.substr(0, answer.find_first_of("\r\n"))));
    if (line.empty())
        return "Unexpected server response";
    return "Server refused the source: " + line.substr(0, 100);
}

std::string BuildShoutcastTitleRequest(const IcecastConfig& config, std::string_view title)
{
    std::string request = "GET /admin.cgi?pass=";
    request += UrlEncode(config.password, UrlPart::QueryValue);
    if (config.streamId != 1)
        request += "&sid=" + std::to_string(config.streamId);
    request += "&mode=updinfo&song=";
    request += UrlEncode(title, UrlPart::QueryValue);
    request += " HTTP/1.0\r\nHost: ";
    request += ServerHostPort(config);
    request += kUserAgentLine;
    request += "\r\nConnection: close\r\n\r\n";
    return request;
}

void AppendUltravoxMessage(std::string& out, uint16_t type, std::string_view payload)
{
    const size_t size = std::min<size_t>(payload.size(), ultravox::kMaxPayload);
    const char header[ultravox::kHeaderBytes] = {static_cast<char>(ultravox::kSync), 0,
                                                 static_cast<char>(type >> 8),   static_cast<char>(type & 0xFF),
                                                 static_cast<char>(size >> 8),   static_cast<char>(size & 0xFF)};
    out.append(header, sizeof header);
    out.append(payload.data(), size);
    out.push_back('\0');
}

size_t ParseUltravoxMessage(std::string_view bytes, UltravoxMessage& message, bool& malformed)
{
    malformed = false;
    if (bytes.empty())
        return 0;
    if (static_cast<uint8_t>(bytes[0]) != ultravox::kSync) {
        malformed = true;
        return 0;
    }
    if (bytes.size() < ultravox::kHeaderBytes)
        return 0;
    const auto byte = [&bytes](size_t i) { return static_cast<uint8_t>(bytes[i]); };
    const size_t size = (size_t{byte(4)} << 8) | byte(5);
    if (size > ultravox::kMaxPayload) {
        malformed = true;
        return 0;
    }
    const size_t total = size + ultravox::kFrameBytes;
    if (bytes.size() < total)
        return 0;
    if (byte(total - 1) != 0) {
        malformed = true;
        return 0;
    }
    message.type = static_cast<uint16_t>((byte(2) << 8) | byte(3));
    message.payload.assign(bytes.substr(ultravox::kHeaderBytes, size));
    return total;
}

std::string XteaHex(std::string_view text, std::string_view cipherKey)
{
    std::array<uint8_t, 16> keyBytes{};
    std::copy_n(cipherKey.begin(), std::min<size_t>(cipherKey.size(), keyBytes.size()), keyBytes.begin());
    const std::array<uint32_t, 4> key = {ReadWord(&keyBytes[0]), ReadWord(&keyBytes[4]), ReadWord(&keyBytes[8]),
                                         ReadWord(&keyBytes[12])};
    std::string out;
    for (size_t at = 0; at < text.size(); at += 8) {
        uint8_t block[8] = {};
        std::copy_n(text.begin() + static_cast<std::ptrdiff_t>(at), std::min<size_t>(8, text.size() - at), block);
        uint32_t v0 = ReadWord(block);
        uint32_t v1 = ReadWord(block + 4);
        XteaEncipher(v0, v1, key);
        WriteWord(block, v0);
        WriteWord(block + 4, v1);
        AppendHex(out, block, sizeof block);
    }
    return out;
}

std::string BuildUltravoxAuth(const IcecastConfig& config, std::string_view cipherKey)
{
    return "2.1:" + std::to_string(config.streamId) + ":" + XteaHex(StripControlCharacters(config.username), cipherKey) +
           ":" + XteaHex(StripControlCharacters(config.password), cipherKey);
}

uint16_t UltravoxDataType(std::string_view contentType)
{
    const std::string type = Lower(Trim(contentType.substr(0, contentType.find(';'))));
    if (type == "audio/mpeg" || type == "audio/mp3")
        return ultravox::kMp3Data;
    if (type == "audio/aac" || type == "audio/aacp" || type == "audio/x-aac")
        return ultravox::kAacData;
    if (type == "audio/ogg" || type == "application/ogg")
        return ultravox::kOggData;
    return 0;
}

std::string BuildUltravoxTitle(std::string_view title)
{
    // id 1, span 1, index 1: the whole document fits one message.
    std::string payload = {0, 1, 0, 1, 0, 1};
    payload += "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<metadata><TIT2>";
    payload += EscapeXml(StripControlCharacters(title));
    payload += "</TIT2></metadata>";
    if (payload.size() > ultravox::kMaxPayload)
        payload.resize(ultravox::kMaxPayload);
    return payload;
}

std::optional<std::string> UltravoxAckValue(std::string_view payload)
{
    if (payload.substr(0, 3) != "ACK")
        return std::nullopt;
    payload.remove_prefix(3);
    if (!payload.empty() && payload.front() == ':')
        payload.remove_prefix(1);
    while (!payload.empty() && payload.back() == '\0')
        payload.remove_suffix(1);
    return std::string(payload);
}

std::string UltravoxRefusalText(uint16_t type, std::string_view payload, const IcecastConfig& config)
{
    const std::string reason = StripControlCharacters(Trim(payload.substr(0, payload.find('\0'))));
    const std::string lower = Lower(reason);
    const auto says = [&lower](std::string_view word) { return lower.find(word) != std::string::npos; };
    if (lower.rfind("nak", 0) != 0)
        return "Unexpected server response";
    if (says("in use") || says("stream id") || says("sid"))
        return "Stream id in use: " + std::to_string(config.streamId);
    if (says("full") || says("too many") || says("max"))
        return says("bitrate") ? "Bitrate refused by the server: " + std::to_string(config.streamBitrate / 1000) +
                                     " kbps"
                               : "Server full (no free source slot)";
    if (type == ultravox::kAuthenticate || says("deny") || says("password") || says("auth"))
        return "Authentication failed (wrong username/password)";
    if (type == ultravox::kSetupBroadcast || says("bitrate"))
        return "Bitrate refused by the server: " + std::to_string(config.streamBitrate / 1000) + " kbps";
    if (type == ultravox::kMimeType || says("mime") || says("codec"))
        return "Stream format refused by the server";
    if (type == ultravox::kCipherKey || says("version"))
        return "The server does not speak Shoutcast 2 (Ultravox 2.1)";
    return "Server refused: " + reason.substr(0, 100);
}

std::string ShoutcastStatsPath(uint32_t streamId)
{
    return "/stats?sid=" + std::to_string(streamId) + "&json=1";
}

bool ReadShoutcastStats(std::string_view body, StatusResult& result)
{
    const size_t start = body.find('{');
    if (start == std::string_view::npos || body.find("\"currentlisteners\"") == std::string_view::npos)
        return false;
    // The document is one small object; the matchers look from its start.
    result.serverName = CleanServerText(FindJsonString(body, "servertitle", start));
    result.title = CleanServerText(FindJsonString(body, "songtitle", start));
    result.listeners = FindJsonInt(body, "currentlisteners", start);
    return true;
}

bool ReadSevenHtml(std::string_view body, StatusResult& result)
{
    // "<html><body>CURRENTLISTENERS,STREAMSTATUS,PEAK,MAX,UNIQUE,BITRATE,SONGTITLE</body></html>"
    const std::string lower = Lower(body);
    const size_t open = lower.find("<body>");
    if (open == std::string::npos)
        return false;
    const size_t from = open + 6;
    const size_t close = lower.find("</body>", from);
    const std::string_view fields = body.substr(from, close == std::string::npos ? std::string_view::npos : close - from);
    size_t comma = 0;
    size_t at = 0;
    for (int field = 0; field < 6; ++field) {
        comma = fields.find(',', at);
        if (comma == std::string_view::npos)
            return false;
        at = comma + 1;
    }
    const std::string_view listeners = Trim(fields.substr(0, fields.find(',')));
    if (listeners.empty() || !std::all_of(listeners.begin(), listeners.end(),
                                          [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    result.listeners = listeners.size() > 9 ? -1 : std::stoi(std::string(listeners));
    // The title is the rest: it may hold commas of its own.
    result.title = CleanServerText(fields.substr(at));
    return true;
}
