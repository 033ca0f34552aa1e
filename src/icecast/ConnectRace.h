#pragma once

#include <cstddef>
#include <vector>

#include "icecast/TcpSocket.h"

// Connecting to every address of a host as RFC 8305 (Happy Eyeballs v2) describes, the
// portable part: which address is tried when, and which attempt wins. The platforms
// (TcpSocketPosix, TcpSocketWinsock) supply the sockets.

// The time between the starts of two attempts (RFC 8305's Connection Attempt Delay).
constexpr int kAttemptDelayMs = 250;

// The order of the attempts, as indices into families (each address's family, in the
// resolver's order, which RFC 6724 already sorted): the first address, then the first of
// the other family, and so on alternating, the rest of one family last once the other
// has run out.
std::vector<size_t> InterleaveFamilies(const std::vector<int>& families);

// The platform's half: non-blocking connection attempts, each on a socket of its own,
// named by the index of its address.
class RaceSockets {
public:
    enum class Start {
        Pending,   // the attempt waits for the server
        Connected, // it completed at once
        Failed,    // it failed at once; the reason in error
        NoSocket,  // no socket for this address's family; the reason in error
    };
    virtual ~RaceSockets() = default;
    virtual Start Begin(size_t index, int& error) = 0;
    // Waits at most waitMs for any of the pending attempts to end, and appends those that
    // did to ended.
    virtual void Wait(const std::vector<size_t>& pending, int waitMs, std::vector<size_t>& ended) = 0;
    // For an attempt that ended: 0 when it connected, else the platform's error code.
    virtual int Outcome(size_t index) = 0;
    // Closes the attempt's socket.
    virtual void Drop(size_t index) = 0;
};

struct RaceResult {
    ConnectResult result = ConnectResult::SocketFailed;
    size_t winner = 0;  // the address that connected (Connected only)
    int errorCode = 0;  // the reason of the last failure, or timedOutCode
};

// Races the attempts, in order: each starts kAttemptDelayMs after the one before it, at
// once when the one before it failed or none is pending; the first to connect wins and
// every other is dropped. All within timeoutMs (the first attempt starts even at 0);
// then TimedOut with timedOutCode when any attempt was still pending or untried. When
// every address failed, the last failure is the answer: Refused for an attempt that
// failed after waiting, Failed at once, SocketFailed without a socket.
RaceResult RunConnectRace(RaceSockets& sockets, const std::vector<size_t>& order, int timeoutMs, int timedOutCode,
                          int attemptDelayMs = kAttemptDelayMs);
