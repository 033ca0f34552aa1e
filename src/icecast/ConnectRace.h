#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
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

// How an attempt began (the platform's answer to Begin).
enum class RaceStart {
    Pending,   // the attempt waits for the server
    Connected, // it completed at once
    Failed,    // it failed at once; the reason in error
    NoSocket,  // no socket for this address's family; the reason in error
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
//
// Sockets is the platform's half: non-blocking connection attempts, each on a socket of
// its own, named by the index of its address:
//   RaceStart Begin(size_t index, int& error);
//   void Wait(const std::vector<size_t>& pending, int waitMs, std::vector<size_t>& ended);
//       waits at most waitMs for any pending attempt to end, appends those that did
//   int Outcome(size_t index);   for an attempt that ended: 0 connected, else the error
//   void Drop(size_t index);     closes the attempt's socket
template <class Sockets>
RaceResult RunConnectRace(Sockets& sockets, const std::vector<size_t>& order, int timeoutMs, int timedOutCode,
                          int attemptDelayMs = kAttemptDelayMs)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    RaceResult last;
    std::vector<size_t> pending;
    std::vector<size_t> ended;
    size_t next = 0;
    Clock::time_point nextStart = Clock::now();
    const auto dropAll = [&sockets, &pending] {
        for (const size_t index : pending)
            sockets.Drop(index);
        pending.clear();
    };

    for (;;) {
        Clock::time_point now = Clock::now();
        const bool timeLeft = now < deadline;
        if (next < order.size() && (next == 0 || timeLeft) && (pending.empty() || now >= nextStart)) {
            const size_t index = order[next++];
            int error = 0;
            switch (sockets.Begin(index, error)) {
            case RaceStart::Connected:
                dropAll();
                return RaceResult{ConnectResult::Connected, index, 0};
            case RaceStart::Pending:
                pending.push_back(index);
                nextStart = now + std::chrono::milliseconds(attemptDelayMs);
                break;
            case RaceStart::Failed:
                last = RaceResult{ConnectResult::Failed, 0, error};
                break;
            case RaceStart::NoSocket:
                last = RaceResult{ConnectResult::SocketFailed, 0, error};
                break;
            }
            continue;
        }
        if (pending.empty() && next >= order.size())
            return last;
        if (!timeLeft) {
            dropAll();
            return RaceResult{ConnectResult::TimedOut, 0, timedOutCode};
        }
        // Until an attempt ends, the next one is due, or the time is up.
        const Clock::time_point until = next < order.size() ? std::min(nextStart, deadline) : deadline;
        const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
        ended.clear();
        sockets.Wait(pending, static_cast<int>(std::max<long long>(waitMs, 0)), ended);
        for (const size_t index : ended) {
            pending.erase(std::remove(pending.begin(), pending.end(), index), pending.end());
            const int outcome = sockets.Outcome(index);
            if (outcome == 0) {
                dropAll();
                return RaceResult{ConnectResult::Connected, index, 0};
            }
            sockets.Drop(index);
            last = RaceResult{ConnectResult::Refused, 0, outcome};
            // A failure hands over to the next address at once.
            nextStart = Clock::now();
        }
    }
}

// The resolver's answer (a getaddrinfo list, either platform's) as endpoints in its
// order: each the address, its length and its family. An entry whose address does not
// fit is passed over.
template <class Endpoint, class AddressInfo>
std::vector<Endpoint> EndpointsOf(const AddressInfo* first)
{
    std::vector<Endpoint> endpoints;
    for (const AddressInfo* entry = first; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_addrlen == 0 || entry->ai_addrlen > sizeof(Endpoint::address))
            continue;
        Endpoint endpoint;
        std::memcpy(&endpoint.address, entry->ai_addr, entry->ai_addrlen);
        endpoint.length = static_cast<decltype(endpoint.length)>(entry->ai_addrlen);
        endpoint.family = entry->ai_family;
        endpoints.push_back(endpoint);
    }
    return endpoints;
}

// TcpSocket::Connect on either platform once the host is resolved: races endpoints
// (RunConnectRace, families interleaved) with the platform's Race made over them, and
// hands the winner's socket to connected. ResolveFailed when there is no endpoint; on
// any other failure, errorCode holds the reason.
template <class Race, class Endpoint, class Socket>
ConnectResult ConnectToFirstAnswer(const std::vector<Endpoint>& endpoints, int timeoutMs, int timedOutCode,
                                   Socket& connected, int& errorCode)
{
    if (endpoints.empty())
        return ConnectResult::ResolveFailed;
    std::vector<int> families;
    for (const Endpoint& endpoint : endpoints)
        families.push_back(endpoint.family);
    Race race(endpoints);
    const RaceResult result = RunConnectRace(race, InterleaveFamilies(families), timeoutMs, timedOutCode);
    if (result.result != ConnectResult::Connected) {
        errorCode = result.errorCode;
        return result.result;
    }
    connected = race.Take(result.winner);
    return ConnectResult::Connected;
}
