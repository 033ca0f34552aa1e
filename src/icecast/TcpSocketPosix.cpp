#include "icecast/TcpSocket.h"

#include "icecast/ConnectRace.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void SetBlocking(int fd, bool blocking)
{
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags >= 0)
        fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
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
};

namespace {

// One address the resolver gave.
struct Endpoint {
    sockaddr_storage address{};
    socklen_t length = 0;
    int family = AF_INET;
};

// Every address of host, any family, in the resolver's order (no AI_ADDRCONFIG: with only
// loopback up it hides every address).
std::vector<Endpoint> Resolve(const std::string& host, uint16_t port)
{
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

// The race's sockets: one non-blocking descriptor per address tried.
class PosixRace {
public:
    explicit PosixRace(const std::vector<Endpoint>& addresses) : endpoints(addresses), fds(addresses.size(), -1) {}
    ~PosixRace()
    {
        for (size_t i = 0; i < fds.size(); ++i)
            Drop(i);
    }
    PosixRace(const PosixRace&) = delete;
    PosixRace& operator=(const PosixRace&) = delete;

    RaceStart Begin(size_t index, int& error)
    {
        const Endpoint& endpoint = endpoints[index];
        const int fd = socket(endpoint.family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
        if (fd < 0) {
            error = errno;
            return RaceStart::NoSocket;
        }
        SetBlocking(fd, false);
        if (connect(fd, reinterpret_cast<const sockaddr*>(&endpoint.address), endpoint.length) == 0) {
            fds[index] = fd;
            return RaceStart::Connected;
        }
        if (errno == EINPROGRESS || errno == EINTR) {
            fds[index] = fd;
            return RaceStart::Pending;
        }
        error = errno;
        close(fd);
        return RaceStart::Failed;
    }

    void Wait(const std::vector<size_t>& pending, int waitMs, std::vector<size_t>& ended)
    {
        std::vector<pollfd> entries;
        for (const size_t index : pending)
            entries.push_back(pollfd{fds[index], POLLOUT, 0});
        const Clock::time_point until = Clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
            const int result = poll(entries.data(), entries.size(), left > 0 ? static_cast<int>(left) : 0);
            if (result < 0 && errno == EINTR)
                continue;
            break;
        }
        // A refused attempt is writable too (or reports an error): Outcome tells which.
        for (size_t k = 0; k < entries.size(); ++k) {
            if (entries[k].revents != 0)
                ended.push_back(pending[k]);
        }
    }

    int Outcome(size_t index)
    {
        int soError = 0;
        socklen_t length = sizeof soError;
        if (getsockopt(fds[index], SOL_SOCKET, SO_ERROR, &soError, &length) != 0)
            soError = errno;
        return soError;
    }

    void Drop(size_t index)
    {
        if (fds[index] >= 0) {
            close(fds[index]);
            fds[index] = -1;
        }
    }

    // The winner's descriptor, now the caller's.
    int Take(size_t index)
    {
        const int fd = fds[index];
        fds[index] = -1;
        return fd;
    }

private:
    const std::vector<Endpoint>& endpoints;
    std::vector<int> fds;
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
    // Winsock resolves an empty name to this machine; no name is no server, on both.
    if (host.empty())
        return ConnectResult::ResolveFailed;
    const ConnectResult result =
        ConnectToFirstAnswer<PosixRace>(Resolve(host, port), timeoutMs, ETIMEDOUT, impl->fd, impl->errorCode);
    if (result == ConnectResult::Connected)
        SetBlocking(impl->fd, true);
    return result;
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
