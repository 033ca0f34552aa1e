#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Where the probe tries to connect: a dotted IPv4 address and a TCP port.
struct ProbeTarget {
    std::string address;
    uint16_t port = 53;
};

constexpr int kProbeTimeoutMs = 3000;

// Receives a probe's result, on the probe thread.
using ProbeCallback = std::function<void(bool reachable)>;

// The product's target: a public DNS server's TCP port, which answers from anywhere
// with a working internet connection.
ProbeTarget DefaultProbeTarget();

// True when a TCP connection to target completes within timeoutMs; a refused or
// unanswered attempt is unreachable.
bool ProbeConnectivity(const ProbeTarget& target, int timeoutMs = kProbeTimeoutMs);

// Runs one probe on a detached thread that owns a copy of target and hands the result to
// done. When no thread can be started, done gets "unreachable" at once on the caller's
// thread and the answer is false.
bool StartConnectivityProbe(ProbeCallback done, const ProbeTarget& target = DefaultProbeTarget());
