#include "icecast/TcpSocket.h"

#include <algorithm>
#include <chrono>
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
    std::vector<Endpoint> endpoints;
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &addresses) != 0 || addresses == nullptr)
        return endpoints;
    for (const addrinfo* entry = addresses; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_addrlen == 0 || entry->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        Endpoint endpoint;
        std::memcpy(&endpoint.address, entry->ai_addr, entry->ai_addrlen);
        endpoint.length = static_cast<int>(entry->ai_addrlen);
        endpoint.family = entry->ai_family;
        endpoints.push_back(endpoint);
    }
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

    // One address: a socket, a connect within timeoutMs; closed again unless Connected.
    ConnectResult ConnectTo(const Endpoint& endpoint, int timeoutMs);
    void CloseSocket()
    {
        if (socket != INVALID_SOCKET) {
            closesocket(socket);
            socket = INVALID_SOCKET;
        }
    }
};

ConnectResult TcpSocket::Impl::ConnectTo(const Endpoint& endpoint, int timeoutMs)
{
    socket = ::socket(endpoint.family, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET) {
        errorCode = WSAGetLastError();
        return ConnectResult::SocketFailed;
    }
    SetBlocking(socket, false);
    const int started = connect(socket, reinterpret_cast<const sockaddr*>(&endpoint.address), endpoint.length);
    const int startError = WSAGetLastError();

    if (started != 0) {
        if (startError != WSAEWOULDBLOCK) {
            errorCode = startError;
            CloseSocket();
            return ConnectResult::Failed;
        }
        // Windows reports a failed attempt in the exception set, so both are watched.
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(socket, &writable);
        FD_SET(socket, &failed);
        timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        if (select(0, nullptr, &writable, &failed, &wait) <= 0) {
            errorCode = WSAETIMEDOUT;
            CloseSocket();
            return ConnectResult::TimedOut;
        }
        int soError = 0;
        int length = sizeof soError;
        if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length) != 0)
            soError = WSAGetLastError();
        if (soError != 0) {
            errorCode = soError;
            CloseSocket();
            return ConnectResult::Refused;
        }
    }
    SetBlocking(socket, true);
    return ConnectResult::Connected;
}

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
    const std::vector<Endpoint> endpoints = Resolve(host, port);
    if (endpoints.empty())
        return ConnectResult::ResolveFailed;

    // Each address in the resolver's order, all within one limit; the last failure is
    // the answer when none connects.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    ConnectResult result = ConnectResult::SocketFailed;
    for (size_t i = 0; i < endpoints.size(); ++i) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 && i > 0) {
            impl->errorCode = WSAETIMEDOUT;
            result = ConnectResult::TimedOut;
            break;
        }
        result = impl->ConnectTo(endpoints[i], static_cast<int>(std::max<long long>(left, 0)));
        if (result == ConnectResult::Connected || result == ConnectResult::TimedOut)
            break;
    }
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
