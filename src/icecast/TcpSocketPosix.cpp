#include "icecast/TcpSocket.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

void SetBlocking(int fd, bool blocking)
{
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags >= 0)
        fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
}

// poll() that resumes after signals with the time still left; its result.
int PollFor(int fd, short events, int timeoutMs, short& revents)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd entry{fd, events, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int result = poll(&entry, 1, left > 0 ? static_cast<int>(left) : 0);
        if (result < 0 && errno == EINTR)
            continue;
        revents = entry.revents;
        return result;
    }
}

timeval ToTimeval(int ms)
{
    timeval value{};
    value.tv_sec = ms / 1000;
    value.tv_usec = (ms % 1000) * 1000;
    return value;
}

} // namespace

struct TcpSocket::Impl {
    int fd = -1;
    int errorCode = 0;

    // One address: a socket, a connect within timeoutMs; closed again unless Connected.
    ConnectResult ConnectTo(const addrinfo& address, int timeoutMs);
    void CloseFd()
    {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
};

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
    // Winsock resolves an empty name to this machine; no name is no server, on both.
    if (host.empty())
        return ConnectResult::ResolveFailed;
    // Any family, and no AI_ADDRCONFIG: with only loopback up it hides every address.
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* addresses = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &addresses) != 0 || addresses == nullptr)
        return ConnectResult::ResolveFailed;

    // Each address in the resolver's order, all within one limit; the last failure is
    // the answer when none connects.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    ConnectResult result = ConnectResult::SocketFailed;
    for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 && address != addresses) {
            result = ConnectResult::TimedOut;
            impl->errorCode = ETIMEDOUT;
            break;
        }
        result = impl->ConnectTo(*address, static_cast<int>(std::max<long long>(left, 0)));
        if (result == ConnectResult::Connected || result == ConnectResult::TimedOut)
            break;
    }
    freeaddrinfo(addresses);
    return result;
}

ConnectResult TcpSocket::Impl::ConnectTo(const addrinfo& address, int timeoutMs)
{
    fd = socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC, address.ai_protocol);
    if (fd < 0) {
        errorCode = errno;
        return ConnectResult::SocketFailed;
    }
    SetBlocking(fd, false);
    const int started = connect(fd, address.ai_addr, address.ai_addrlen);
    const int startError = errno;

    if (started != 0) {
        if (startError != EINPROGRESS && startError != EINTR) {
            errorCode = startError;
            CloseFd();
            return ConnectResult::Failed;
        }
        short revents = 0;
        if (PollFor(fd, POLLOUT, timeoutMs, revents) <= 0) {
            errorCode = ETIMEDOUT;
            CloseFd();
            return ConnectResult::TimedOut;
        }
        // A refused connection is writable too: only SO_ERROR tells whether it completed.
        int soError = 0;
        socklen_t length = sizeof soError;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) != 0)
            soError = errno;
        if (soError != 0) {
            errorCode = soError;
            CloseFd();
            return ConnectResult::Refused;
        }
    }
    SetBlocking(fd, true);
    return ConnectResult::Connected;
}

void TcpSocket::SetKeepAlive(int idleMs, int intervalMs)
{
    const int on = 1;
    const int idle = (idleMs + 999) / 1000;
    const int interval = (intervalMs + 999) / 1000;
    setsockopt(impl->fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(impl->fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(impl->fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
}

void TcpSocket::SetNoDelay()
{
    const int on = 1;
    setsockopt(impl->fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void TcpSocket::ResetOnClose()
{
    const linger reset{1, 0};
    if (impl->fd >= 0)
        setsockopt(impl->fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
}

void TcpSocket::SetTimeouts(int sendMs, int receiveMs)
{
    const timeval send = ToTimeval(sendMs);
    const timeval receive = ToTimeval(receiveMs);
    setsockopt(impl->fd, SOL_SOCKET, SO_SNDTIMEO, &send, sizeof send);
    setsockopt(impl->fd, SOL_SOCKET, SO_RCVTIMEO, &receive, sizeof receive);
}

void TcpSocket::SetSendBuffer(int bytes)
{
    // Linux doubles the size it is given (the other half is its bookkeeping), and that
    // doubled buffer holds about as many bytes of a stream.
    const int asked = bytes / 2;
    setsockopt(impl->fd, SOL_SOCKET, SO_SNDBUF, &asked, sizeof asked);
}

int64_t TcpSocket::Send(const void* data, size_t size)
{
    if (size > INT_MAX)
        size = INT_MAX;
    for (;;) {
        const ssize_t sent = send(impl->fd, data, size, MSG_NOSIGNAL);
        if (sent >= 0)
            return sent;
        if (errno != EINTR) {
            impl->errorCode = errno;
            return -1;
        }
    }
}

int64_t TcpSocket::Receive(void* buffer, size_t size)
{
    if (size > INT_MAX)
        size = INT_MAX;
    for (;;) {
        const ssize_t received = recv(impl->fd, buffer, size, 0);
        if (received >= 0)
            return received;
        if (errno != EINTR) {
            impl->errorCode = errno;
            return -1;
        }
    }
}

PeerState TcpSocket::CheckPeer()
{
    char scratch[1024];
    for (int round = 0; round < 64; ++round) {
        const ssize_t received = recv(impl->fd, scratch, sizeof scratch, MSG_DONTWAIT);
        if (received == 0)
            return PeerState::Closed;
        if (received < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return PeerState::Open;
            impl->errorCode = errno;
            return PeerState::Failed;
        }
    }
    return PeerState::Open;
}

void TcpSocket::ShutdownSend()
{
    if (impl->fd >= 0)
        shutdown(impl->fd, SHUT_WR);
}

void TcpSocket::Interrupt()
{
    if (impl->fd >= 0)
        shutdown(impl->fd, SHUT_RDWR);
}

void TcpSocket::Close()
{
    if (impl->fd >= 0) {
        close(impl->fd);
        impl->fd = -1;
    }
}

bool TcpSocket::IsOpen() const
{
    return impl->fd >= 0;
}

int TcpSocket::ErrorCode() const
{
    return impl->errorCode;
}

bool TcpSocket::IsConnectionLost(int code)
{
    switch (code) {
    case ENETUNREACH:
    case ENETRESET:
    case ECONNABORTED:
    case ECONNRESET:
    case ENOTCONN:
    case ESHUTDOWN:
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case EPIPE:
        return true;
    default:
        // A blocking send that reaches SO_SNDTIMEO ends with EAGAIN here.
        return code == EAGAIN || code == EWOULDBLOCK;
    }
}
