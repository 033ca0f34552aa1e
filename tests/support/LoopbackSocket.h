#pragma once

#include <cstddef>
#include <cstdint>

// The few raw socket calls the scripted loopback server needs, per platform.
using RawSocket = intptr_t;
constexpr RawSocket kNoSocket = -1;

// A listening socket on 127.0.0.1 with a free port; receiveBuffer > 0 sets SO_RCVBUF
// (accepted sockets inherit it).
RawSocket ListenOnLoopback(uint16_t& port, int receiveBuffer);
// The next connection, or kNoSocket when none arrives within timeoutMs.
RawSocket AcceptWithin(RawSocket listener, int timeoutMs);
// >0 bytes read, 0 the peer closed, -1 an error, -2 nothing within timeoutMs.
int ReceiveWithin(RawSocket s, char* buffer, size_t size, int timeoutMs);
bool SendAllBytes(RawSocket s, const char* data, size_t size);
void ShutdownWrite(RawSocket s);
void CloseRaw(RawSocket s);
// A port on 127.0.0.1 where nothing listens (bound once, then released).
uint16_t ClosedLoopbackPort();
// The platform's code for a refused connection.
int RefusedErrorCode();
