#include "icecast/IcecastProtocol.h"

#include "base/TextCodes.h"
#include "base/Utf8.h"
#include "icecast/Base64.h"
#include "icecast/ServerAddress.h"

namespace {

constexpr std::string_view kUserAgentLine = "\r\nUser-Agent: KelmVantoro/1.0";

} // namespace

std::string WireMountPoint(std::string_view mountPoint)
{
    std::string mount = StripControlCharacters(mountPoint);
    if (mount.empty() || mount.front() != '/')
        mount.insert(mount.begin(), '/');
    return mount;
}

std::string ServerHostPort(const IcecastConfig& config)
{
    return CombineServerAddress(StripControlCharacters(config.host), config.port, "");
}

std::string SourceCredentials(const IcecastConfig& config)
{
    const std::string& user = config.username.empty() ? std::string("source") : config.username;
    return Base64Encode(user + ":" + config.password);
}

std::string StreamContentType(const IcecastConfig& config)
{
    return ContentTypeText(config.contentCode);
}

std::string BuildSourceRequest(const IcecastConfig& config)
{
    const std::string kbps = std::to_string(config.streamBitrate / 1000);
    std::string request;
    request.reserve(512);
    request += "SOURCE ";
    request += UrlEncode(WireMountPoint(config.mountPoint), UrlPart::Path);
    request += " HTTP/1.0\r\nHost: ";
    request += ServerHostPort(config);
    request += "\r\nAuthorization: Basic ";
    request += SourceCredentials(config);
    request += kUserAgentLine;
    request += "\r\nContent-Type: ";
    request += StreamContentType(config);
    request += "\r\nice-name: ";
    request += StripControlCharacters(config.streamName);
    request += "\r\nice-genre: ";
    request += StripControlCharacters(config.streamGenre);
    request += "\r\nice-public: ";
    request += config.isPublic ? "1" : "0";
    request += "\r\nice-bitrate: ";
    request += kbps;
    request += "\r\nice-audio-info: ice-samplerate=";
    request += std::to_string(config.streamSampleRate);
    request += ";ice-bitrate=";
    request += kbps;
    request += ";ice-channels=";
    request += std::to_string(config.streamChannels);
    request += "\r\n\r\n";
    return request;
}

const char* ContentTypeText(uint32_t contentCode)
{
    switch (contentCode) {
    case kContentCodeAac:
        return "audio/aac";
    case kContentCodeMpeg:
        return "audio/mpeg";
    case kContentCodeOgg:
        return "audio/ogg";
    default:
        return "audio/aacp";
    }
}

std::string BuildMetadataRequest(const IcecastConfig& config, std::string_view title)
{
    std::string request = "GET /admin/metadata?mount=";
    request += UrlEncode(WireMountPoint(config.mountPoint), UrlPart::QueryValue);
    request += "&mode=updinfo&song=";
    request += UrlEncode(title, UrlPart::QueryValue);
    request += "&charset=UTF-8";
    request += " HTTP/1.0\r\nHost: ";
    request += ServerHostPort(config);
    request += "\r\nAuthorization: Basic ";
    request += SourceCredentials(config);
    request += kUserAgentLine;
    request += "\r\nConnection: close\r\n\r\n";
    return request;
}

std::string BuildTestRequest(std::string_view mount, std::string_view password)
{
    std::string request = "SOURCE ";
    request += UrlEncode(WireMountPoint(mount), UrlPart::Path);
    request += " HTTP/1.0\r\nAuthorization: Basic ";
    request += Base64Encode("source:" + std::string(password));
    request += "\r\nContent-Type: audio/aac\r\nice-name: test\r\n\r\n";
    return request;
}

uint32_t ParseStatusCode(std::string_view answer)
{
    const size_t space = answer.find(' ');
    if (space == std::string_view::npos || space + 3 >= answer.size())
        return 0;
    const std::string_view digits = answer.substr(space + 1, 3);
    size_t i = 0;
    while (i < digits.size() && (digits[i] == ' ' || (digits[i] >= '\t' && digits[i] <= '\r')))
        ++i;
    uint32_t status = 0;
    for (; i < digits.size() && digits[i] >= '0' && digits[i] <= '9'; ++i)
        status = status * 10 + static_cast<uint32_t>(digits[i] - '0');
    return status;
}

std::string HandshakeFailureText(uint32_t status, std::string_view answer, std::string_view mountPoint)
{
    if (status == 401 || status == 403) {
        // Icecast refuses a mount that another source holds with a 403 as well.
        if (answer.find("Mountpoint in use") != std::string_view::npos)
            return "Mount point in use: " + std::string(mountPoint);
        return "Authentication failed (wrong username/password)";
    }
    if (status == 404)
        return "Mount point not found: " + std::string(mountPoint);
    if (status != 0)
        return "Server rejected: HTTP " + std::to_string(status);
    return "Unexpected server response";
}

std::string TitleRefusalText(uint32_t status, std::string_view answer, std::string_view mountPoint)
{
    if (status == 200)
        return {};
    if (status == 401 || status == 403)
        return "Title refused: authentication failed (wrong username/password)";
    // Icecast 2.4 answers an update for a mount without a source so.
    if (status == 400 && answer.find("Source does not exist") != std::string_view::npos)
        return "Title refused: no stream on " + std::string(mountPoint);
    if (status != 0)
        return "Title refused: HTTP " + std::to_string(status);
    return "Title refused: unexpected server response";
}

bool IsTlsAnswer(std::string_view answer)
{
    // Record type 21 (alert) or 22 (handshake), then major version 3.
    return answer.size() >= 2 && (answer[0] == 21 || answer[0] == 22) && answer[1] == 3;
}

std::string TlsExpectedText(const std::string& hostPort)
{
    return "The server " + hostPort + " answers with TLS: turn TLS on for this server";
}
