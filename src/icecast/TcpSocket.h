#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// How an attempt to open a connection ended.
enum class ConnectResult {
    Connected,
    ResolveFailed, // no address for the host
    SocketFailed,  // no socket could be created
    Refused,       // the attempt failed after waiting; ErrorCode() holds the reason
    TimedOut,      // no answer within the time limit
    Failed,        // the attempt failed at once
};

// What a look at the connection without waiting found.
enum class PeerState { Open, Closed, Failed };

// One TCP stream socket (IPv4 or IPv6) over the platform's sockets (Winsock 2.2, started once per
// process on first use, or POSIX). The socket is closed when the object goes. Error
// codes are the platform's own (WSAGetLastError or errno values).
class TcpSocket {
public:
    TcpSocket();
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Resolves host (any family: a name, a dotted address or an IPv6 literal such as
    // "::1") and races its addresses as RFC 8305 (Happy Eyeballs v2) describes
    // (RunConnectRace): the families alternate, a new attempt starts every 250 ms or as
    // soon as one fails, the first to connect wins and the others are closed. The whole
    // attempt waits no longer than timeoutMs. Connected only when a connection really
    // completed; the socket is then blocking. Any other result (TimedOut while an attempt
    // was still waiting, else that of the last address that failed) leaves it closed.
    ConnectResult Connect(const std::string& host, uint16_t port, int timeoutMs);

    // Socket options; failures are ignored, as no caller can do better without them.
    void SetKeepAlive(int idleMs, int intervalMs);
    void SetNoDelay();
    void SetTimeouts(int sendMs, int receiveMs);
    // The kernel's send buffer, in bytes it holds: what a stalled peer lets pile up
    // before a send waits.
    void SetSendBuffer(int bytes);

    // One send call of at most size bytes (without SIGPIPE). The count written, 0 when
    // the peer has closed, -1 on an error (ErrorCode()).
    int64_t Send(const void* data, size_t size);
    // One receive call; the count read, 0 when the peer has closed, -1 on an error or a
    // time-out (ErrorCode()).
    int64_t Receive(void* buffer, size_t size);
    // Without waiting: Closed when the peer has ended the connection in order, Failed
    // with ErrorCode() when the connection broke, else Open. Bytes waiting to be read
    // are discarded (a source connection never expects any).
    PeerState CheckPeer();

    void ShutdownSend();
    // Shuts both directions down without closing: a send or receive blocked on the
    // socket in another thread returns at once. Close still frees the socket.
    void Interrupt();
    // Makes the next Close reset the connection (a zero linger time) instead of ending
    // it in order.
    void ResetOnClose();
    void Close();
    bool IsOpen() const;
    int ErrorCode() const;

    // True for the error codes that mean the connection is gone: network unreachable or
    // reset, connection aborted or reset, not connected, shut down, timed out (which is
    // how a send time-out ends), host unreachable, broken pipe.
    static bool IsConnectionLost(int code);

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};
