#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "icecast/IcecastConfig.h"
#include "icecast/TcpSocket.h"
#include "icecast/TlsSession.h"

// One connection to the server: TCP, with TLS over it when the options ask for it. The
// callers carry the same request bytes either way. Not thread-safe, except that Interrupt
// may come from another thread while a call is blocked (the caller keeps Close apart).
class ServerLink {
public:
    ServerLink() = default;
    ServerLink(const ServerLink&) = delete;
    ServerLink& operator=(const ServerLink&) = delete;

    static constexpr int kEndRecordWaitMs = 1000;

    // Connects to host:port and, with tls.enabled, completes the TLS handshake; the whole
    // attempt ends within timeoutMs. On false, TcpResult() says how the TCP step ended
    // (Connected when it was the TLS step that failed, with the reason in TlsError()).
    // Timeouts set before the call do not survive it.
    bool Open(const std::string& host, uint16_t port, const TlsOptions& tls, int timeoutMs);
    ConnectResult TcpResult() const { return tcpResult; }
    std::string TlsError() const { return tlsError; }
    bool IsSecure() const { return tls != nullptr; }

    void SetKeepAlive(int idleMs, int intervalMs) { socket.SetKeepAlive(idleMs, intervalMs); }
    void SetNoDelay() { socket.SetNoDelay(); }
    void SetTimeouts(int sendMs, int receiveMs) { socket.SetTimeouts(sendMs, receiveMs); }
    void SetSendBuffer(int bytes) { socket.SetSendBuffer(bytes); }

    // TcpSocket's contract, through TLS when secure.
    int64_t Send(const void* data, size_t size);
    int64_t Receive(void* buffer, size_t size);
    // The error code of the last failed call: the socket's, or -1 for a failure of the
    // TLS layer.
    int ErrorCode() const { return errorCode; }
    // After -1 from Send: true when the connection is gone for good.
    bool IsLost(int code) const;
    // The server sends nothing after its answer on a source connection, so the look
    // goes to the socket itself, TLS or not: what arrives is discarded either way.
    PeerState CheckPeer();

    // The orderly end of a source connection: the half-close when plain; when secure, the
    // end record (see ServerLink.cpp), after which Close lets the queued bytes go out
    // before the connection ends. Waits at most kEndRecordWaitMs for room to queue it,
    // and not at all after a failed send (the link then ends with a reset).
    void ShutdownSend();
    void Interrupt() { socket.Interrupt(); }
    void Close();
    bool IsOpen() const { return socket.IsOpen(); }

private:
    TcpSocket socket;
    std::unique_ptr<TlsSession> tls;
    ConnectResult tcpResult = ConnectResult::Failed;
    std::string tlsError;
    int errorCode = 0;
    bool endRecordQueued = false;
    bool sendFailed = false;
};
