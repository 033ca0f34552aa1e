#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "icecast/IcecastConfig.h"
#include "icecast/ServerLink.h"

// How one title update ended.
struct TitleUpdateResult {
    // The request went out (and its answer was read until the server closed or the
    // exchange's time was up).
    bool sent = false;
    // The answer's status, 0 when none came.
    uint32_t status = 0;
    // Why the title did not arrive ("Title not sent: ..." or "Title refused: ..."), or
    // "" when the server took it (200).
    std::string reason;
};

// Sets config's mount title through the admin interface on a short connection of its own
// (TLS as config.tls says), with the source credentials; the whole exchange ends within
// 10 s. It needs no source connection of ours: any source may hold the mount.
TitleUpdateResult SendTitleUpdate(const IcecastConfig& config, const std::string& title);

// The source side of one Icecast v2 mount: one TCP connection (with TLS over it when
// config.tls says so) announced with the SOURCE request, then the raw ADTS byte stream
// on it. A Shoutcast server (config.serverType) gets its own handshake on the same
// connection: v1's password line and headers at port + 1, or Ultravox 2.1's messages,
// which then also wrap the stream and carry its titles. Keeps a human-readable last outcome.
// Connect runs before any other thread uses the client; afterwards Send (sender thread),
// Disconnect, Abort and LastError may come from different threads.
class IcecastClient {
public:
    static constexpr int kConnectTimeoutMs = 10000;
    static constexpr int kSendTimeoutMs = 5000;
    static constexpr int kReceiveTimeoutMs = 10000;
    static constexpr int kKeepAliveIdleMs = 5000;
    static constexpr int kKeepAliveIntervalMs = 3000;
    // The kernel send buffer holds about a second of stream, at least this much.
    static constexpr uint32_t kMinSendBufferBytes = 4096;

    IcecastClient() = default;
    ~IcecastClient();
    IcecastClient(const IcecastClient&) = delete;
    IcecastClient& operator=(const IcecastClient&) = delete;

    // Opens the connection and performs the handshake; true when the server answered 200.
    // With credentialsOnly, a Shoutcast handshake ends once the password is accepted
    // (the connection test): nothing of a stream is announced.
    bool Connect(const IcecastConfig& configuration, bool credentialsOnly = false);
    // Writes all size bytes; false when not connected, nothing to write, or a write failed
    // (the rest of the buffer is then lost).
    bool Send(const uint8_t* data, uint64_t size);
    // Half-closes and closes the connection; nothing when not connected. Waits for a
    // send in progress.
    void Disconnect();
    // Breaks the connection off from any thread without waiting for a send in progress,
    // which then fails at once; the next Send or Disconnect closes it.
    void Abort();
    std::string LastError() const;
    // Sets the mount's title through the admin interface on a second, short connection.
    // True when the request went out and the answer was drained; otherwise false with
    // the reason in LastError() (the source connection itself is not touched).
    bool UpdateTitle(const std::string& title);
    // A Shoutcast 2 stream's title, as a metadata message between the stream's own on
    // the source connection. False when not connected or the write failed.
    bool SendTitleMessage(const std::string& title);

    bool IsConnected() const { return connected.load(); }
    uint32_t LastStatusCode() const { return lastStatusCode; }

private:
    bool FailConnect(const std::string& text);
    bool Handshake();
    bool HandshakeShoutcast1();
    bool HandshakeUltravox();
    // One Ultravox request and the server's answer to it: the ACK's value, or nothing
    // with the connection failed and lastError set.
    std::optional<std::string> UltravoxExchange(uint16_t type, const std::string& payload);
    bool Connected(const std::string& target);
    // Writes all of bytes under the send lock's protection (the caller holds it); the
    // failure text when the connection is gone, "" otherwise.
    bool WriteAll(const uint8_t* data, uint64_t size, std::string& lost);
    void SetLastError(const std::string& text);
    void CloseSocket();

    IcecastConfig config;
    std::atomic<bool> connected{false};
    ServerLink socket;
    std::string lastError;
    uint32_t lastStatusCode = 0;
    // Ultravox: the payload size the server allows, the data messages' type, what came
    // after the last answer of the handshake, and the frame of each Send.
    uint16_t maxPayload = 0;
    bool credentialsOnly = false;
    uint16_t dataType = 0;
    std::string pending;
    std::string framed;
    mutable std::mutex sendLock;
    // Held only to close the socket or to interrupt it, never across a network call, so
    // Abort never waits on the network; a close takes it inside the send lock.
    std::mutex socketLock;
};
