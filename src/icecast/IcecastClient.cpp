#include "icecast/IcecastClient.h"

#include <algorithm>
#include <chrono>
#include <string_view>

#include "base/Log.h"
#include "base/Utf8.h"
#include "icecast/IcecastProtocol.h"

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

bool IcecastClient::Connect(const IcecastConfig& configuration)
{
    if (connected.load())
        Disconnect();
    config = configuration;
    lastStatusCode = 0;

    // The TLS handshake counts inside the connect limit.
    if (!socket.Open(config.host, config.port, config.tls, kConnectTimeoutMs)) {
        switch (socket.TcpResult()) {
        case ConnectResult::Connected:
            LogLine("Icecast", socket.TlsError());
            return FailConnect(socket.TlsError());
        case ConnectResult::ResolveFailed:
            return FailConnect("Failed to resolve host: " + config.host);
        case ConnectResult::SocketFailed:
            return FailConnect("Failed to create socket");
        case ConnectResult::Refused:
            return FailConnect("Connection refused: " + ServerHostPort(config) + " (error " +
                               std::to_string(socket.ErrorCode()) + ")");
        case ConnectResult::TimedOut:
            return FailConnect("Connection timed out: " + ServerHostPort(config));
        case ConnectResult::Failed:
            return FailConnect("Failed to connect to " + ServerHostPort(config));
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
    if (lastStatusCode == 200) {
        connected.store(true);
        SetLastError("Connected: " + ServerHostPort(config) + mount);
        LogLine("Icecast", "Connected: " + ServerHostPort(config) + mount);
        return true;
    }
    const std::string failure = HandshakeFailureText(lastStatusCode, text, mount);
    FailConnect(failure);
    LogLine("Icecast", failure);
    LogLine("Icecast", "Response: " + StripControlCharacters(text.substr(0, kLoggedAnswerBytes)));
    return false;
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
    for (uint64_t offset = 0; lost.empty() && offset < size;) {
        const int64_t sent = socket.Send(data + offset, size - offset);
        if (sent > 0) {
            offset += static_cast<uint64_t>(sent);
        } else if (sent == 0) {
            lost = ClosedByServerText();
        } else if (socket.IsLost(socket.ErrorCode())) {
            lost = ConnectionLostText(socket.ErrorCode());
        } else {
            return false;
        }
    }
    if (lost.empty())
        return true;
    connected.store(false);
    CloseSocket();
    lastError = lost;
    return false;
}

void IcecastClient::Disconnect()
{
    if (!connected.load())
        return;
    std::lock_guard<std::mutex> guard(sendLock);
    if (!connected.load())
        return;
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
    const std::string request = BuildMetadataRequest(config, title);
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
