#include "icecast/ServerLink.h"

#include <algorithm>
#include <chrono>

bool ServerLink::Open(const std::string& host, uint16_t port, const TlsOptions& options, int timeoutMs)
{
    Close();
    tlsError.clear();
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    tcpResult = socket.Connect(host, port, timeoutMs);
    if (tcpResult != ConnectResult::Connected) {
        errorCode = socket.ErrorCode();
        return false;
    }
    if (!options.enabled)
        return true;
    // The handshake gets what the connect left of the limit.
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    const int left = static_cast<int>(std::max<long long>(timeoutMs - spent, 1));
    auto session = std::make_unique<TlsSession>();
    if (!session->Handshake(socket, host, options, left)) {
        tlsError = session->LastError();
        socket.Close();
        return false;
    }
    tls = std::move(session);
    return true;
}

int64_t ServerLink::Send(const void* data, size_t size)
{
    const int64_t sent = tls ? tls->Send(data, size) : socket.Send(data, size);
    if (sent < 0) {
        errorCode = tls ? tls->ErrorCode() : socket.ErrorCode();
        sendFailed = true;
    }
    return sent;
}

int64_t ServerLink::Receive(void* buffer, size_t size)
{
    const int64_t received = tls ? tls->Receive(buffer, size) : socket.Receive(buffer, size);
    if (received < 0)
        errorCode = tls ? tls->ErrorCode() : socket.ErrorCode();
    return received;
}

PeerState ServerLink::CheckPeer()
{
    const PeerState state = socket.CheckPeer();
    if (state == PeerState::Failed)
        errorCode = socket.ErrorCode();
    return state;
}

bool ServerLink::IsLost(int code) const
{
    // A TLS session whose record layer failed cannot carry another byte.
    return (tls && code == -1) || TcpSocket::IsConnectionLost(code);
}

// Icecast 2.4 never sees the end of a TLS connection that closes in order (close_notify
// or a bare FIN): it keeps the mount "in use" and spins on the dead connection. What it
// does see is a read that fails: a reset, or a record it cannot decrypt. A reset throws
// away whatever the kernel still holds to send, the last seconds of the stream on a
// slow uplink. So a TLS source ends with an application-data record that no key opens
// (its authentication fails): the server reads every byte before it, fails on it and ends
// the source at once. The close after it is an ordinary one that the kernel completes
// after the queued bytes. Only when the record cannot be queued in time (a stalled
// network, an interrupted link) or a send has failed does the link end with a reset.
namespace {

constexpr unsigned char kEndRecord[] = {
    23, 3, 3, 0, 32, // application data, TLS 1.2 on the wire, 32 bytes
    0,  0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0,  0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
};

} // namespace

void ServerLink::ShutdownSend()
{
    if (!tls) {
        socket.ShutdownSend();
        return;
    }
    // After a failed send the stream is cut mid-record and the uplink is not taking bytes:
    // nothing is gained by waiting.
    if (endRecordQueued || sendFailed)
        return;
    socket.SetTimeouts(kEndRecordWaitMs, kEndRecordWaitMs);
    size_t offset = 0;
    while (offset < sizeof kEndRecord) {
        const int64_t sent = socket.Send(kEndRecord + offset, sizeof kEndRecord - offset);
        if (sent <= 0)
            break;
        offset += static_cast<size_t>(sent);
    }
    endRecordQueued = offset == sizeof kEndRecord;
}

void ServerLink::Close()
{
    if (tls && !endRecordQueued)
        socket.ResetOnClose();
    tls.reset();
    socket.Close();
    endRecordQueued = false;
    sendFailed = false;
}
