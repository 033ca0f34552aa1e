#include "icecast/TcpSocket.h"

#include "icecast/ConnectRace.h"

#include <climits>
#include <cstring>
#include <mutex>
#include <vector>
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>

namespace {

// Winsock 2.2, started once on first use and never cleaned up.
void StartWinsock()
{
    static std::once_flag started;
    std::call_once(started, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}

void SetBlocking(SOCKET s, bool blocking)
{
    u_long nonBlocking = blocking ? 0 : 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
}

// One address the resolver gave.
struct Endpoint {
    sockaddr_storage address{};
    int length = 0;
    int family = AF_INET;
};

// Every address of host, any family, in the resolver's order (no AI_ADDRCONFIG: with only
// loopback up it hides every address). One lookup at a time: Wine's resolver corrupted the
// heap when a connection test and a stream resolved at once (crashes in the allocator
// and in the thread library), and lookups are rare enough that waiting costs nothing.
std::vector<Endpoint> Resolve(const std::string& host, uint16_t port)
{
    static std::mutex lookups;
    std::lock_guard<std::mutex> guard(lookups);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* addresses = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &addresses) != 0 || addresses == nullptr)
        return {};
    std::vector<Endpoint> endpoints = EndpointsOf<Endpoint>(addresses);
    freeaddrinfo(addresses);
    return endpoints;
}

int ChunkLength(size_t size)
{
    return size > INT_MAX ? INT_MAX : static_cast<int>(size);
}

} // namespace

struct TcpSocket::Impl {
    SOCKET socket = INVALID_SOCKET;
    int errorCode = 0;
};

namespace {

// The race's sockets: one non-blocking socket per address tried. At most one attempt
// starts every kAttemptDelayMs within the connect limit, far fewer than FD_SETSIZE.
class WinsockRace {
public:
    explicit WinsockRace(const std::vector<Endpoint>& addresses)
        : endpoints(addresses), sockets(addresses.size(), INVALID_SOCKET)
    {
    }
    ~WinsockRace()
    {
        for (size_t i = 0; i < sockets.size(); ++i)
            Drop(i);
    }
    WinsockRace(const WinsockRace&) = delete;
    WinsockRace& operator=(const WinsockRace&) = delete;

    RaceStart Begin(size_t index, int& error)
    {
        const Endpoint& endpoint = endpoints[index];
        const SOCKET s = ::socket(endpoint.family, SOCK_STREAM, IPPROTO_TCP);
        if (s == INVALID_SOCKET) {
            error = WSAGetLastError();
            return RaceStart::NoSocket;
        }
        SetBlocking(s, false);
        if (connect(s, reinterpret_cast<const sockaddr*>(&endpoint.address), endpoint.length) == 0) {
            sockets[index] = s;
            return RaceStart::Connected;
        }
        const int startError = WSAGetLastError();
        if (startError == WSAEWOULDBLOCK) {
            sockets[index] = s;
            return RaceStart::Pending;
        }
        error = startError;
        closesocket(s);
        return RaceStart::Failed;
    }

    void Wait(const std::vector<size_t>& pending, int waitMs, std::vector<size_t>& ended)
    {
        // Windows reports a failed attempt in the exception set, so both are watched.
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        for (const size_t index : pending) {
            FD_SET(sockets[index], &writable);
            FD_SET(sockets[index], &failed);
        }
        timeval wait{waitMs / 1000, (waitMs % 1000) * 1000};
        if (select(0, nullptr, &writable, &failed, &wait) <= 0)
            return;
        for (const size_t index : pending) {
            if (FD_ISSET(sockets[index], &writable) || FD_ISSET(sockets[index], &failed))
                ended.push_back(index);
        }
    }

    int Outcome(size_t index)
    {
        int soError = 0;
        int length = sizeof soError;
        if (getsockopt(sockets[index], SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length) != 0)
            soError = WSAGetLastError();
        return soError;
    }

    void Drop(size_t index)
    {
        if (sockets[index] != INVALID_SOCKET) {
            closesocket(sockets[index]);
            sockets[index] = INVALID_SOCKET;
        }
    }

    // The winner's socket, now the caller's.
    SOCKET Take(size_t index)
    {
        const SOCKET s = sockets[index];
        sockets[index] = INVALID_SOCKET;
        return s;
    }

private:
    const std::vector<Endpoint>& endpoints;
    std::vector<SOCKET> sockets;
};

} // namespace

TcpSocket::TcpSocket() : impl(std::make_unique<Impl>())
{
}

TcpSocket::~TcpSocket()
{
    Close();
}

ConnectResult TcpSocket::Connect(const std::string& host, uint16_t port, int timeoutMs)
{
    Close();
    StartWinsock();
    // Winsock resolves an empty name to this machine; no name is no server, on both.
    if (host.empty())
        return ConnectResult::ResolveFailed;
    const ConnectResult result =
        ConnectToFirstAnswer<WinsockRace>(Resolve(host, port), timeoutMs, WSAETIMEDOUT, impl->socket, impl->errorCode);
    if (result == ConnectResult::Connected)
        SetBlocking(impl->socket, true);
    return result;
}

void TcpSocket::SetKeepAlive(int idleMs, int intervalMs)
{
    tcp_keepalive values{};
    values.onoff = 1;
    values.keepalivetime = static_cast<ULONG>(idleMs);
    values.keepaliveinterval = static_cast<ULONG>(intervalMs);
    DWORD returned = 0;
    WSAIoctl(impl->socket, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr, nullptr);
}

void TcpSocket::SetNoDelay()
{
    const BOOL on = TRUE;
    setsockopt(impl->socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

void TcpSocket::ResetOnClose()
{
    const linger reset{1, 0};
    if (impl->socket != INVALID_SOCKET)
        setsockopt(impl->socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof reset);
}

void TcpSocket::SetTimeouts(int sendMs, int receiveMs)
{
    const DWORD send = static_cast<DWORD>(sendMs);
    const DWORD receive = static_cast<DWORD>(receiveMs);
    setsockopt(impl->socket, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&send), sizeof send);
    setsockopt(impl->socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&receive), sizeof receive);
}

void TcpSocket::SetSendBuffer(int bytes)
{
    setsockopt(impl->socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes);
}

int64_t TcpSocket::Send(const void* data, size_t size)
{
    const int sent = send(impl->socket, static_cast<const char*>(data), ChunkLength(size), 0);
    if (sent == SOCKET_ERROR) {
        impl->errorCode = WSAGetLastError();
        return -1;
    }
    return sent;
}

int64_t TcpSocket::Receive(void* buffer, size_t size)
{
    const int received = recv(impl->socket, static_cast<char*>(buffer), ChunkLength(size), 0);
    if (received == SOCKET_ERROR) {
        impl->errorCode = WSAGetLastError();
        return -1;
    }
    return received;
}

PeerState TcpSocket::CheckPeer()
{
    char scratch[1024];
    for (int round = 0; round < 64; ++round) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(impl->socket, &readable);
        timeval noWait{0, 0};
        if (select(0, &readable, nullptr, nullptr, &noWait) <= 0)
            return PeerState::Open;
        // Readable: the receive below returns at once although the socket blocks.
        const int received = recv(impl->socket, scratch, sizeof scratch, 0);
        if (received == 0)
            return PeerState::Closed;
        if (received == SOCKET_ERROR) {
            impl->errorCode = WSAGetLastError();
            return PeerState::Failed;
        }
    }
    return PeerState::Open;
}

void TcpSocket::ShutdownSend()
{
    if (impl->socket != INVALID_SOCKET)
        shutdown(impl->socket, SD_SEND);
}

void TcpSocket::Interrupt()
{
    if (impl->socket != INVALID_SOCKET)
        shutdown(impl->socket, SD_BOTH);
}

void TcpSocket::Close()
{
    if (impl->socket != INVALID_SOCKET) {
        closesocket(impl->socket);
        impl->socket = INVALID_SOCKET;
    }
}

bool TcpSocket::IsOpen() const
{
    return impl->socket != INVALID_SOCKET;
}

int TcpSocket::ErrorCode() const
{
    return impl->errorCode;
}

bool TcpSocket::IsConnectionLost(int code)
{
    switch (code) {
    case WSAENETUNREACH:
    case WSAENETRESET:
    case WSAECONNABORTED:
    case WSAECONNRESET:
    case WSAENOTCONN:
    case WSAESHUTDOWN:
    case WSAETIMEDOUT:
    case WSAEHOSTUNREACH:
        return true;
    default:
        return false;
    }
}
