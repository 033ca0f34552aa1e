#include "icecast/IcecastClient.h"

#include <algorithm>
#include <chrono>
#include <string_view>

#include "base/Log.h"
#include "base/Utf8.h"
#include "icecast/IcecastProtocol.h"
#include "icecast/ShoutcastProtocol.h"

namespace {

constexpr size_t kAnswerBytes = 2047;
constexpr size_t kLoggedAnswerBytes = 200;
constexpr size_t kTitleReadBytes = 1024;
// The whole title exchange, from the connect to the last byte of the answer, ends within
// this, so neither a silent server nor one that trickles its answer can hold its caller
// (a connection attempt, the title file's watcher, the title command).
constexpr int kTitleTimeoutMs = 10000;

std::string ClosedByServerText()
{
    return "Server closed connection";
}

std::string ConnectionLostText(int errorCode)
{
    // -1 is no socket error: the TLS layer broke (a bad record, an alert).
    if (errorCode == -1)
        return "Connection lost (TLS failure)";
    return "Connection lost (error " + std::to_string(errorCode) + ")";
}

} // namespace

IcecastClient::~IcecastClient()
{
    Disconnect();
}

bool IcecastClient::Connect(const IcecastConfig& configuration, bool onlyCredentials)
{
    credentialsOnly = onlyCredentials;
    if (connected.load())
        Disconnect();
    config = configuration;
    lastStatusCode = 0;
    maxPayload = 0;
    pending.clear();

    // Shoutcast v1 sources connect one port above the server's; messages name that port.
    IcecastConfig target = config;
    target.port = SourceConnectPort(config);
    if (target.port == 0)
        return FailConnect("Failed to connect to " + ServerHostPort(config) + ": no port above it for the source");
    // The TLS handshake counts inside the connect limit.
    if (!socket.Open(config.host, target.port, config.tls, kConnectTimeoutMs)) {
        switch (socket.TcpResult()) {
        case ConnectResult::Connected:
            LogLine("Icecast", socket.TlsError());
            return FailConnect(socket.TlsError());
        case ConnectResult::ResolveFailed:
            return FailConnect("Failed to resolve host: " + config.host);
        case ConnectResult::SocketFailed:
            return FailConnect("Failed to create socket");
        case ConnectResult::Refused:
            return FailConnect("Connection refused: " + ServerHostPort(target) + " (error " +
                               std::to_string(socket.ErrorCode()) + ")");
        case ConnectResult::TimedOut:
            return FailConnect("Connection timed out: " + ServerHostPort(target));
        case ConnectResult::Failed:
            return FailConnect("Failed to connect to " + ServerHostPort(target));
        }
    }
    socket.SetKeepAlive(kKeepAliveIdleMs, kKeepAliveIntervalMs);
    socket.SetNoDelay();
    socket.SetTimeouts(kSendTimeoutMs, kReceiveTimeoutMs);
    // About a second of stream in the kernel: a server that stops reading is felt after
    // that second (and its own receive buffer), not after many seconds of a large buffer.
    socket.SetSendBuffer(static_cast<int>(std::max<uint32_t>(config.streamBitrate / 8, kMinSendBufferBytes)));
    return Handshake();
}

bool IcecastClient::Handshake()
{
    if (config.serverType == ServerType::Shoutcast1)
        return HandshakeShoutcast1();
    if (config.serverType == ServerType::Shoutcast2)
        return HandshakeUltravox();
    const std::string request = BuildSourceRequest(config);
    if (socket.Send(request.data(), request.size()) < 0)
        return FailConnect("Failed to send SOURCE request");

    // One receive: everything the verdict needs arrives in the server's first answer.
    char answer[kAnswerBytes + 1] = {};
    const int64_t received = socket.Receive(answer, kAnswerBytes);
    if (received <= 0)
        return FailConnect("No response from server (check host/port)");

    const std::string_view text(answer, static_cast<size_t>(received));
    const std::string mount = WireMountPoint(config.mountPoint);
    if (!socket.IsSecure() && IsTlsAnswer(text)) {
        FailConnect(TlsExpectedText(ServerHostPort(config)));
        LogLine("Icecast", TlsExpectedText(ServerHostPort(config)));
        return false;
    }
    lastStatusCode = ParseStatusCode(text);
    if (lastStatusCode == 200)
        return Connected(ServerHostPort(config) + mount);
    const std::string failure = HandshakeFailureText(lastStatusCode, text, mount);
    FailConnect(failure);
    LogLine("Icecast", failure);
    LogLine("Icecast", "Response: " + StripControlCharacters(text.substr(0, kLoggedAnswerBytes)));
    return false;
}

bool IcecastClient::Connected(const std::string& target)
{
    connected.store(true);
    SetLastError("Connected: " + target);
    LogLine("Icecast", "Connected: " + target);
    return true;
}

bool IcecastClient::HandshakeShoutcast1()
{
    const std::string password = BuildShoutcastPasswordLine(config);
    if (socket.Send(password.data(), password.size()) < 0)
        return FailConnect("Failed to send the password");
    char answer[kAnswerBytes + 1] = {};
    const int64_t received = socket.Receive(answer, kAnswerBytes);
    // Icecast's Shoutcast port closes on a refused password without a word.
    if (received == 0)
        return FailConnect(ShoutcastFailureText("invalid password"));
    if (received < 0)
        return FailConnect("No response from server (check host/port)");
    const std::string_view text(answer, static_cast<size_t>(received));
    IcecastConfig target = config;
    target.port = SourceConnectPort(config);
    if (!socket.IsSecure() && IsTlsAnswer(text)) {
        LogLine("Icecast", TlsExpectedText(ServerHostPort(target)));
        return FailConnect(TlsExpectedText(ServerHostPort(target)));
    }
    if (ReadShoutcastAnswer(text) != ShoutcastAnswer::Accepted) {
        const std::string failure = ShoutcastFailureText(text);
        LogLine("Icecast", failure);
        LogLine("Icecast", "Response: " + StripControlCharacters(text.substr(0, kLoggedAnswerBytes)));
        return FailConnect(failure);
    }
    if (credentialsOnly)
        return Connected(ServerHostPort(target));
    const std::string headers = BuildShoutcastHeaders(config, StreamContentType(config));
    if (socket.Send(headers.data(), headers.size()) < 0)
        return FailConnect("Failed to send the stream headers");
    std::string where = ServerHostPort(target);
    if (config.streamId != 1)
        where += " (stream " + std::to_string(config.streamId) + ")";
    return Connected(where);
}

std::optional<std::string> IcecastClient::UltravoxExchange(uint16_t type, const std::string& payload)
{
    std::string message;
    AppendUltravoxMessage(message, type, payload);
    if (socket.Send(message.data(), message.size()) < 0) {
        FailConnect("Failed to send the Shoutcast 2 handshake");
        return std::nullopt;
    }
    // The answer may come in pieces, and beside more of the server's words; each read
    // waits at most the receive limit.
    char chunk[kAnswerBytes];
    for (;;) {
        UltravoxMessage answer;
        bool malformed = false;
        const size_t used = ParseUltravoxMessage(pending, answer, malformed);
        if (malformed) {
            if (!socket.IsSecure() && IsTlsAnswer(pending)) {
                FailConnect(TlsExpectedText(ServerHostPort(config)));
            } else {
                const bool http = pending.rfind("HTTP/", 0) == 0 || pending.rfind("ICY", 0) == 0;
                FailConnect(http ? "The server does not speak Shoutcast 2 (Ultravox 2.1)"
                                 : "Unexpected server response");
            }
            LogLine("Icecast", "Response: " + StripControlCharacters(std::string_view(pending).substr(0, kLoggedAnswerBytes)));
            return std::nullopt;
        }
        if (used > 0) {
            pending.erase(0, used);
            if (answer.type != type)
                continue; // not the answer to this request (a notice of the server's)
            std::optional<std::string> value = UltravoxAckValue(answer.payload);
            if (!value) {
                const std::string failure = UltravoxRefusalText(type, answer.payload, config);
                LogLine("Icecast", failure);
                LogLine("Icecast", "Response: " + StripControlCharacters(answer.payload.substr(0, kLoggedAnswerBytes)));
                FailConnect(failure);
            }
            return value;
        }
        const int64_t received = socket.Receive(chunk, sizeof chunk);
        if (received <= 0) {
            FailConnect(pending.empty() && type == ultravox::kCipherKey ? "No response from server (check host/port)"
                                                                       : "Server closed connection");
            return std::nullopt;
        }
        pending.append(chunk, static_cast<size_t>(received));
    }
}

bool IcecastClient::HandshakeUltravox()
{
    const std::string contentType = StreamContentType(config);
    dataType = UltravoxDataType(contentType);
    if (dataType == 0)
        return FailConnect("Shoutcast 2 cannot carry " + contentType);
    const std::optional<std::string> key = UltravoxExchange(ultravox::kCipherKey, "2.1");
    if (!key || !UltravoxExchange(ultravox::kAuthenticate, BuildUltravoxAuth(config, *key)))
        return false;
    if (credentialsOnly)
        return Connected(ServerHostPort(config));
    if (!UltravoxExchange(ultravox::kMimeType, contentType))
        return false;
    const std::string kbps = std::to_string(config.streamBitrate / 1000);
    if (!UltravoxExchange(ultravox::kSetupBroadcast, kbps + ":" + kbps))
        return false;
    const std::optional<std::string> size = UltravoxExchange(
        ultravox::kMaxPayloadSize, std::to_string(ultravox::kMaxPayload) + ":" + std::to_string(ultravox::kMinPayload));
    if (!size)
        return false;
    // The server's choice within the protocol's bounds; an unreadable one keeps ours.
    const long chosen = std::strtol(size->c_str(), nullptr, 10);
    maxPayload = chosen >= ultravox::kMinPayload && chosen <= ultravox::kMaxPayload ? static_cast<uint16_t>(chosen)
                                                                                     : ultravox::kMaxPayload;
    if (!UltravoxExchange(ultravox::kIcyName, StripControlCharacters(config.streamName)) ||
        !UltravoxExchange(ultravox::kIcyGenre, StripControlCharacters(config.streamGenre)) ||
        !UltravoxExchange(ultravox::kIcyUrl, "") || !UltravoxExchange(ultravox::kIcyPub, config.isPublic ? "1" : "0") ||
        !UltravoxExchange(ultravox::kStandby, ""))
        return false;
    return Connected(ServerHostPort(config) + " (stream " + std::to_string(config.streamId) + ")");
}

bool IcecastClient::FailConnect(const std::string& text)
{
    socket.Close();
    SetLastError(text);
    return false;
}

void IcecastClient::SetLastError(const std::string& text)
{
    std::lock_guard<std::mutex> guard(sendLock);
    lastError = text;
}

bool IcecastClient::Send(const uint8_t* data, uint64_t size)
{
    if (!connected.load() || data == nullptr || size == 0)
        return false;
    std::lock_guard<std::mutex> guard(sendLock);
    if (!connected.load())
        return false;

    // A send never reports the server's orderly close; only the reading side shows it.
    const PeerState peer = socket.CheckPeer();
    // Why the connection is gone; empty while it holds.
    std::string lost;
    if (peer == PeerState::Closed) {
        lost = ClosedByServerText();
    } else if (peer == PeerState::Failed && socket.IsLost(socket.ErrorCode())) {
        lost = ConnectionLostText(socket.ErrorCode());
    }
    if (lost.empty()) {
        bool written = true;
        if (maxPayload == 0) {
            written = WriteAll(data, size, lost);
        } else {
            // Ultravox: the stream's bytes in data messages of at most the agreed size.
            framed.clear();
            for (uint64_t at = 0; at < size; at += maxPayload) {
                const size_t part = static_cast<size_t>(std::min<uint64_t>(maxPayload, size - at));
                AppendUltravoxMessage(framed, dataType, std::string_view(reinterpret_cast<const char*>(data + at), part));
            }
            written = WriteAll(reinterpret_cast<const uint8_t*>(framed.data()), framed.size(), lost);
        }
        if (lost.empty())
            return written;
    }
    connected.store(false);
    CloseSocket();
    lastError = lost;
    return false;
}

bool IcecastClient::WriteAll(const uint8_t* data, uint64_t size, std::string& lost)
{
    for (uint64_t offset = 0; offset < size;) {
        const int64_t sent = socket.Send(data + offset, size - offset);
        if (sent > 0) {
            offset += static_cast<uint64_t>(sent);
        } else if (sent == 0) {
            lost = ClosedByServerText();
            return false;
        } else if (socket.IsLost(socket.ErrorCode())) {
            lost = ConnectionLostText(socket.ErrorCode());
            return false;
        } else {
            return false;
        }
    }
    return true;
}

bool IcecastClient::SendTitleMessage(const std::string& title)
{
    if (!connected.load() || maxPayload == 0)
        return false;
    std::string message;
    AppendUltravoxMessage(message, ultravox::kXmlMetadata, BuildUltravoxTitle(title));
    std::lock_guard<std::mutex> guard(sendLock);
    if (!connected.load())
        return false;
    std::string lost;
    if (WriteAll(reinterpret_cast<const uint8_t*>(message.data()), message.size(), lost))
        return true;
    if (!lost.empty()) {
        connected.store(false);
        CloseSocket();
        lastError = lost;
    }
    return false;
}

void IcecastClient::Disconnect()
{
    if (!connected.load())
        return;
    std::lock_guard<std::mutex> guard(sendLock);
    if (!connected.load())
        return;
    if (maxPayload != 0) {
        // Ultravox: the server learns the stream ended, rather than that it broke off.
        std::string terminate;
        AppendUltravoxMessage(terminate, ultravox::kTerminate, "");
        socket.Send(terminate.data(), terminate.size());
    }
    socket.ShutdownSend();
    CloseSocket();
    connected.store(false);
    lastError = "Disconnected";
}

void IcecastClient::Abort()
{
    std::lock_guard<std::mutex> guard(socketLock);
    socket.Interrupt();
}

void IcecastClient::CloseSocket()
{
    std::lock_guard<std::mutex> guard(socketLock);
    socket.Close();
}

std::string IcecastClient::LastError() const
{
    std::lock_guard<std::mutex> guard(sendLock);
    return lastError;
}

bool IcecastClient::UpdateTitle(const std::string& title)
{
    // Without a source connection the last error already says why.
    if (!connected.load())
        return false;
    const TitleUpdateResult result = SendTitleUpdate(config, title);
    if (!result.sent)
        SetLastError(result.reason);
    return result.sent;
}

TitleUpdateResult SendTitleUpdate(const IcecastConfig& config, const std::string& title)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kTitleTimeoutMs);
    // What is left of the exchange's time, at least 1 ms (0 would mean no limit).
    const auto remainingMs = [deadline] {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return static_cast<int>(std::clamp<long long>(left, 0, kTitleTimeoutMs));
    };
    TitleUpdateResult result;
    ServerLink titleSocket;
    if (!titleSocket.Open(config.host, config.port, config.tls, kTitleTimeoutMs)) {
        if (titleSocket.TcpResult() == ConnectResult::Connected)
            result.reason = "Title not sent: " + titleSocket.TlsError();
        else
            result.reason = "Title not sent: cannot connect to " + ServerHostPort(config);
        return result;
    }
    // Shoutcast servers take a title through their v1 admin page, on the base port.
    const std::string request = config.serverType == ServerType::Icecast ? BuildMetadataRequest(config, title)
                                                                         : BuildShoutcastTitleRequest(config, title);
    int left = remainingMs();
    // A connect (or handshake) that took the whole time leaves none to send in.
    if (left <= 0) {
        result.reason = "Title not sent: connecting to " + ServerHostPort(config) + " took the whole " +
                        std::to_string(kTitleTimeoutMs / 1000) + " s";
        return result;
    }
    titleSocket.SetTimeouts(left, left);
    if (titleSocket.Send(request.data(), request.size()) != static_cast<int64_t>(request.size())) {
        result.reason = "Title not sent: the request could not be written to " + ServerHostPort(config);
        return result;
    }
    result.sent = true;
    // The server closes after its answer (the request asks for it). Its start gives the
    // verdict; the rest is drained. Each read may wait only for what is left of the bound.
    std::string answer;
    char chunk[kTitleReadBytes];
    while ((left = remainingMs()) > 0) {
        titleSocket.SetTimeouts(left, left);
        const int64_t n = titleSocket.Receive(chunk, sizeof chunk);
        if (n <= 0)
            break;
        if (answer.size() < kAnswerBytes)
            answer.append(chunk, static_cast<size_t>(std::min<int64_t>(n, kAnswerBytes - answer.size())));
    }
    if (answer.empty()) {
        result.reason = "Title update unanswered by " + ServerHostPort(config);
        return result;
    }
    result.status = ParseStatusCode(answer);
    result.reason = TitleRefusalText(result.status, answer, WireMountPoint(config.mountPoint));
    return result;
}
