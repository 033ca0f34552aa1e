#include "icecast/ConnectionTest.h"

#include <atomic>

#include "base/DetachedWorker.h"
#include "icecast/IcecastClient.h"
#include "icecast/IcecastProtocol.h"
#include "icecast/ShoutcastProtocol.h"
#include "icecast/ServerAddress.h"
#include "icecast/ServerLink.h"
#include "icecast/TlsSession.h"

namespace {

std::atomic<int32_t> testGeneration{0};
std::atomic<ServerVerdict> serverResult{ServerVerdict::NotKnown};
std::atomic<AuthVerdict> authResult{AuthVerdict::NotTested};

bool IsCurrent(int32_t generation)
{
    return generation == testGeneration.load();
}

// Stores the verdicts and notifies, unless a newer test has begun. The link is closed by
// then, and the TLS library's share of the thread goes first: a command that ends on the
// verdict must leave nothing of the test behind.
void Report(int32_t generation, ServerVerdict server, AuthVerdict auth, const ConnectionTestDone& done)
{
    ReleaseTlsThreadState();
    if (!IsCurrent(generation))
        return;
    serverResult.store(server);
    authResult.store(auth);
    if (done)
        done();
}

} // namespace

int32_t BeginConnectionTest()
{
    const int32_t generation = testGeneration.fetch_add(1) + 1;
    serverResult.store(ServerVerdict::NotKnown);
    authResult.store(AuthVerdict::NotTested);
    return generation;
}

void AbandonConnectionTests()
{
    testGeneration.fetch_add(1);
}

ServerVerdict ConnectionTestServerResult()
{
    return serverResult.load();
}

AuthVerdict ConnectionTestAuthResult()
{
    return authResult.load();
}

namespace {

// A Shoutcast server: reached when its source port takes the connection; the password
// tested by the protocol's own handshake up to the password's verdict.
void RunShoutcastTest(int32_t generation, const std::string& address, const std::string& password,
                      const ConnectionTestDone& done, const TlsOptions& tls, ServerType type)
{
    const ServerAddress target = SplitServerAddress(address);
    IcecastConfig config;
    config.host = target.host;
    config.port = static_cast<uint16_t>(target.port);
    config.password = password;
    config.serverType = type;
    config.tls = tls;
    config.streamBitrate = 64000;
    const uint16_t port = SourceConnectPort(config);
    ServerLink socket;
    if (config.host.empty() || target.port == 0 || target.port > 65535 || port == 0 ||
        !socket.Open(config.host, port, tls, kConnectionTestTimeoutMs)) {
        socket.Close();
        Report(generation, ServerVerdict::Unreachable, AuthVerdict::NotTested, done);
        return;
    }
    socket.Close();
    if (!IsCurrent(generation))
        return;
    if (password.empty()) {
        Report(generation, ServerVerdict::Reachable, AuthVerdict::NotTested, done);
        return;
    }
    IcecastClient client;
    const bool accepted = client.Connect(config, true);
    client.Disconnect();
    Report(generation, ServerVerdict::Reachable, accepted ? AuthVerdict::Accepted : AuthVerdict::Refused, done);
}

} // namespace

void RunConnectionTest(int32_t generation, const std::string& address, const std::string& password,
                       const ConnectionTestDone& done, const TlsOptions& tls, ServerType type)
{
    if (type != ServerType::Icecast) {
        RunShoutcastTest(generation, address, password, done, tls, type);
        return;
    }
    const std::optional<ServerAddress> target = ParseServerAddress(address);
    if (!target) {
        Report(generation, ServerVerdict::Unreachable, AuthVerdict::NotTested, done);
        return;
    }
    ServerLink socket;
    // Only a completed connection counts: a refused one must not read as reachable.
    const uint16_t port = static_cast<uint16_t>(target->port);
    if (!socket.Open(target->host, port, tls, kConnectionTestTimeoutMs)) {
        socket.Close();
        Report(generation, ServerVerdict::Unreachable, AuthVerdict::NotTested, done);
        return;
    }
    if (!IsCurrent(generation))
        return;
    if (password.empty()) {
        socket.Close();
        Report(generation, ServerVerdict::Reachable, AuthVerdict::NotTested, done);
        return;
    }
    socket.SetTimeouts(kConnectionTestTimeoutMs, kConnectionTestTimeoutMs);
    const std::string request = BuildTestRequest(target->mountPoint, password);
    socket.Send(request.data(), request.size());
    char answer[kConnectionTestAnswerBytes + 1] = {};
    const int64_t received = socket.Receive(answer, kConnectionTestAnswerBytes);
    socket.Close();
    const std::string_view text(answer, received > 0 ? static_cast<size_t>(received) : 0);
    const bool accepted = received > 0 && (text.find("200") != std::string_view::npos ||
                                           text.find("OK") != std::string_view::npos);
    Report(generation, ServerVerdict::Reachable, accepted ? AuthVerdict::Accepted : AuthVerdict::Refused, done);
}

bool StartConnectionTest(int32_t generation, const std::string& address, const std::string& password,
                         ConnectionTestDone done, const TlsOptions& tls, ServerType type)
{
    return StartDetachedWorker([generation, address, password, done, tls, type] {
        RunConnectionTest(generation, address, password, done, tls, type);
    }, [generation, &done] { Report(generation, ServerVerdict::Unreachable, AuthVerdict::NotTested, done); });
}
