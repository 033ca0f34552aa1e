#include "support/LoopbackSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool WaitReadable(RawSocket s, int timeoutMs)
{
    pollfd entry{static_cast<int>(s), POLLIN, 0};
    return poll(&entry, 1, timeoutMs) > 0;
}

} // namespace

RawSocket ListenOnLoopback(uint16_t& port, int receiveBuffer)
{
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return kNoSocket;
    if (receiveBuffer > 0)
        setsockopt(s, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, 16) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(s);
        return kNoSocket;
    }
    port = ntohs(address.sin_port);
    return s;
}

RawSocket AcceptWithin(RawSocket listener, int timeoutMs)
{
    if (!WaitReadable(listener, timeoutMs))
        return kNoSocket;
    const int s = accept(static_cast<int>(listener), nullptr, nullptr);
    return s < 0 ? kNoSocket : s;
}

int ReceiveWithin(RawSocket s, char* buffer, size_t size, int timeoutMs)
{
    if (!WaitReadable(s, timeoutMs))
        return -2;
    const ssize_t received = recv(static_cast<int>(s), buffer, size, 0);
    return received < 0 ? -1 : static_cast<int>(received);
}

bool SendAllBytes(RawSocket s, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t sent = send(static_cast<int>(s), data, size, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

void ShutdownWrite(RawSocket s)
{
    shutdown(static_cast<int>(s), SHUT_WR);
}

void CloseRaw(RawSocket s)
{
    if (s != kNoSocket)
        close(static_cast<int>(s));
}

uint16_t ClosedLoopbackPort()
{
    uint16_t port = 0;
    CloseRaw(ListenOnLoopback(port, 0));
    return port;
}

int RefusedErrorCode()
{
    return ECONNREFUSED;
}
