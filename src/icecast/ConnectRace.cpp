#include "icecast/ConnectRace.h"

#include <algorithm>
#include <chrono>

std::vector<size_t> InterleaveFamilies(const std::vector<int>& families)
{
    std::vector<size_t> first;
    std::vector<size_t> other;
    for (size_t i = 0; i < families.size(); ++i)
        (families[i] == families.front() ? first : other).push_back(i);
    std::vector<size_t> order;
    order.reserve(families.size());
    for (size_t k = 0; k < std::max(first.size(), other.size()); ++k) {
        if (k < first.size())
            order.push_back(first[k]);
        if (k < other.size())
            order.push_back(other[k]);
    }
    return order;
}

RaceResult RunConnectRace(RaceSockets& sockets, const std::vector<size_t>& order, int timeoutMs, int timedOutCode,
                          int attemptDelayMs)
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
            case RaceSockets::Start::Connected:
                dropAll();
                return RaceResult{ConnectResult::Connected, index, 0};
            case RaceSockets::Start::Pending:
                pending.push_back(index);
                nextStart = now + std::chrono::milliseconds(attemptDelayMs);
                break;
            case RaceSockets::Start::Failed:
                last = RaceResult{ConnectResult::Failed, 0, error};
                break;
            case RaceSockets::Start::NoSocket:
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
