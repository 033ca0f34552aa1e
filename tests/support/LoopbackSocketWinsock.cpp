#include "support/LoopbackSocket.h"

#include <mutex>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace {

void StartWinsock()
{
    static std::once_flag started;
    std::call_once(started, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}

SOCKET Native(RawSocket s)
{
    return static_cast<SOCKET>(s);
}

bool WaitReadable(RawSocket s, int timeoutMs)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Native(s), &readable);
    timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return select(0, &readable, nullptr, nullptr, &wait) > 0;
}

} // namespace

RawSocket ListenOnLoopback(uint16_t& port, int receiveBuffer)
{
    StartWinsock();
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return kNoSocket;
    if (receiveBuffer > 0)
        setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer), sizeof receiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, 16) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closesocket(s);
        return kNoSocket;
    }
    port = ntohs(address.sin_port);
    return static_cast<RawSocket>(s);
}

RawSocket AcceptWithin(RawSocket listener, int timeoutMs)
{
    if (!WaitReadable(listener, timeoutMs))
        return kNoSocket;
    const SOCKET s = accept(Native(listener), nullptr, nullptr);
    return s == INVALID_SOCKET ? kNoSocket : static_cast<RawSocket>(s);
}

int ReceiveWithin(RawSocket s, char* buffer, size_t size, int timeoutMs)
{
    if (!WaitReadable(s, timeoutMs))
        return -2;
    const int received = recv(Native(s), buffer, static_cast<int>(size), 0);
    return received == SOCKET_ERROR ? -1 : received;
}

bool SendAllBytes(RawSocket s, const char* data, size_t size)
{
    while (size > 0) {
        const int sent = send(Native(s), data, static_cast<int>(size), 0);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

void ShutdownWrite(RawSocket s)
{
    shutdown(Native(s), SD_SEND);
}

void CloseRaw(RawSocket s)
{
    if (s != kNoSocket)
        closesocket(Native(s));
}

uint16_t ClosedLoopbackPort()
{
    uint16_t port = 0;
    CloseRaw(ListenOnLoopback(port, 0));
    return port;
}

int RefusedErrorCode()
{
    return WSAECONNREFUSED;
}
