#include "icecast/ConnectionTest.h"

#include <atomic>

#include "base/DetachedWorker.h"
#include "icecast/IcecastProtocol.h"
#include "icecast/TcpSocket.h"

namespace {

std::atomic<int32_t> testGeneration{0};
std::atomic<int32_t> serverResult{0};
std::atomic<int32_t> authResult{0};

bool IsCurrent(int32_t generation)
{
    return generation == testGeneration.load();
}

// Stores the verdicts and notifies, unless a newer test has begun.
void Report(int32_t generation, int32_t server, int32_t auth, const ConnectionTestDone& done)
{
    if (!IsCurrent(generation))
        return;
    serverResult.exchange(server);
    authResult.exchange(auth);
    if (done)
        done();
}

// The number at the start of text, as the C library reads one (leading blanks and a
// sign accepted, trailing text ignored), saturated far outside the port range.
int64_t LeadingNumber(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < (int64_t{1} << 40))
            value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

} // namespace

int32_t BeginConnectionTest()
{
    const int32_t generation = testGeneration.fetch_add(1) + 1;
    serverResult.store(0);
    authResult.store(0);
    return generation;
}

void AbandonConnectionTests()
{
    testGeneration.fetch_add(1);
}

int32_t ConnectionTestServerResult()
{
    return serverResult.load();
}

int32_t ConnectionTestAuthResult()
{
    return authResult.load();
}

bool ParseServerAddress(const std::string& text, std::string& host, uint32_t& port, std::string& mount)
{
    std::string s = text;
    if (s.rfind("http://", 0) == 0)
        s.erase(0, 7);
    if (s.rfind("https://", 0) == 0)
        s.erase(0, 8);
    if (s.empty())
        return false;
    const size_t slash = s.find('/');
    if (slash == std::string::npos)
        return false;
    mount = s.substr(slash);
    const std::string hostPort = s.substr(0, slash);
    const size_t colon = hostPort.rfind(':');
    if (colon == std::string::npos)
        return false;
    host = hostPort.substr(0, colon);
    const int64_t number = LeadingNumber(hostPort.substr(colon + 1));
    port = number >= 0 && number <= UINT32_MAX ? static_cast<uint32_t>(number) : 0;
    return !host.empty() && number >= 1 && number <= 65535 && mount.size() > 1;
}

void RunConnectionTest(int32_t generation, const std::string& address, const std::string& password,
                       const ConnectionTestDone& done)
{
    std::string host;
    std::string mount;
    uint32_t port = 0;
    if (!ParseServerAddress(address, host, port, mount)) {
        Report(generation, -1, 0, done);
        return;
    }
    TcpSocket socket;
    // Only a completed connection counts: a refused one must not read as reachable.
    if (socket.Connect(host, static_cast<uint16_t>(port), kConnectionTestTimeoutMs) != ConnectResult::Connected) {
        Report(generation, -1, 0, done);
        return;
    }
    if (!IsCurrent(generation))
        return;
    if (password.empty()) {
        socket.Close();
        Report(generation, 1, 0, done);
        return;
    }
    socket.SetTimeouts(kConnectionTestTimeoutMs, kConnectionTestTimeoutMs);
    const std::string request = BuildTestRequest(mount, password);
    socket.Send(request.data(), request.size());
    char answer[kConnectionTestAnswerBytes + 1] = {};
    const int64_t received = socket.Receive(answer, kConnectionTestAnswerBytes);
    socket.Close();
    const std::string_view text(answer, received > 0 ? static_cast<size_t>(received) : 0);
    const bool accepted = received > 0 && (text.find("200") != std::string_view::npos ||
                                           text.find("OK") != std::string_view::npos);
    Report(generation, 1, accepted ? 1 : -1, done);
}

bool StartConnectionTest(int32_t generation, const std::string& address, const std::string& password,
                         ConnectionTestDone done)
{
    return StartDetachedWorker([generation, address, password, done] {
        RunConnectionTest(generation, address, password, done);
    }, [generation, &done] { Report(generation, -1, 0, done); });
}
