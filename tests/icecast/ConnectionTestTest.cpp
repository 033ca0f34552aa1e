#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "Completion.h"
#include "support/LoopbackServer.h"
#include "icecast/ConnectionTest.h"
#include "icecast/ConnectivityProbe.h"
#include "icecast/IcecastProtocol.h"
#include "icecast/ShoutcastProtocol.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Address(uint16_t port, const std::string& mount = "/live")
{
    return "127.0.0.1:" + std::to_string(port) + mount;
}

struct Verdicts {
    ServerVerdict server;
    AuthVerdict auth;
    int notified;
};

// One test run on this thread, from a fresh generation.
Verdicts RunTest(const std::string& address, const std::string& password)
{
    Completion done;
    const int32_t generation = BeginConnectionTest();
    RunConnectionTest(generation, address, password, [done] { done.Signal(); });
    return {ConnectionTestServerResult(), ConnectionTestAuthResult(), done.Count()};
}

TEST(ConnectionTestTest, VerdictsAgainstScriptedServers)
{
    const struct {
        const char* answer;
        const char* password;
        ServerVerdict server;
        AuthVerdict auth;
    } cases[] = {
        {"HTTP/1.0 200 OK\r\n\r\n", "pw", ServerVerdict::Reachable, AuthVerdict::Accepted},
        {"ICY OK\r\n", "pw", ServerVerdict::Reachable, AuthVerdict::Accepted},
        {"HTTP/1.0 401 Authentication Required\r\n\r\n", "pw", ServerVerdict::Reachable, AuthVerdict::Refused},
        {"", "pw", ServerVerdict::Reachable, AuthVerdict::Refused}, // closed without an answer
        {"HTTP/1.0 200 OK\r\n\r\n", "", ServerVerdict::Reachable, AuthVerdict::NotTested},
    };
    for (const auto& c : cases) {
        LoopbackServer server(ServeAndClose(c.answer));
        const Verdicts v = RunTest(Address(server.Port()), c.password);
        EXPECT_EQ(v.server, c.server) << c.answer << c.password;
        EXPECT_EQ(v.auth, c.auth) << c.answer << c.password;
        EXPECT_EQ(v.notified, 1);
        ASSERT_TRUE(server.WaitFinished(1, 5000));
        const std::string request = server.Requests().at(0);
        EXPECT_EQ(request, *c.password ? BuildTestRequest("/live", c.password) : "") << "no request without password";
    }
}

// A Shoutcast 2 server: reached at its port (the first connection), the password tested
// by the handshake (the second): the cipher key's answer, then the authentication's.
TEST(ConnectionTestTest, ShoutcastServerIsTestedWithItsOwnHandshake)
{
    for (const char* verdict : {"ACK:2.1 Allow", "NAK:2.1 Deny"}) {
        LoopbackServer server([verdict](LoopbackPeer& peer, int index) {
            if (index == 0)
                return;
            std::string answers;
            AppendUltravoxMessage(answers, ultravox::kCipherKey, "ACK:key");
            peer.Read(10); // the cipher key request: a header, "2.1" and the trailer
            peer.Write(answers);
            answers.clear();
            AppendUltravoxMessage(answers, ultravox::kAuthenticate, verdict);
            peer.Read(ultravox::kFrameBytes + 7 + 16); // "2.1:1::" and the hex of "pw"
            peer.Write(answers);
            peer.Idle(300);
        });
        Completion done;
        const int32_t generation = BeginConnectionTest();
        RunConnectionTest(generation, "127.0.0.1:" + std::to_string(server.Port()), "pw", [done] { done.Signal(); },
                          {}, ServerType::Shoutcast2);
        EXPECT_EQ(ConnectionTestServerResult(), ServerVerdict::Reachable) << verdict;
        EXPECT_EQ(ConnectionTestAuthResult(), *verdict == 'A' ? AuthVerdict::Accepted : AuthVerdict::Refused) << verdict;
    }
}

TEST(ConnectionTestTest, UnreachableOrInvalidAddresses)
{
    const std::string addresses[] = {
        Address(ClosedLoopbackPort()),
        InIsolatedNetwork() ? "no-such-host.invalid:8000/live" : "",
        "127.0.0.1:8000",
        "127.0.0.1/live",
        "127.0.0.1:0/live",
        "127.0.0.1:70000/live",
        "127.0.0.1:8000/",
    };
    for (const std::string& address : addresses) {
        const Clock::time_point start = Clock::now();
        const Verdicts v = RunTest(address, "pw");
        EXPECT_EQ(v.server, ServerVerdict::Unreachable) << address;
        EXPECT_EQ(v.auth, AuthVerdict::NotTested) << address;
        EXPECT_EQ(v.notified, 1) << address;
        // A refused connection is no success, and it is known at once.
        EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 3.0) << address;
    }
}

TEST(ConnectionTestTest, SupersededTestNeverReports)
{
    std::atomic<bool> release{false};
    LoopbackServer slow([&release](LoopbackPeer& peer, int) {
        peer.ReadRequest();
        while (!release.load())
            peer.Idle(20);
        peer.Write("HTTP/1.0 200 OK\r\n\r\n");
        peer.ShutdownWrite();
        peer.DrainUntilClosed();
    });
    LoopbackServer refusing(ServeAndClose("HTTP/1.0 401 Authentication Required\r\n\r\n"));

    Completion firstDone;
    const int32_t first = BeginConnectionTest();
    std::thread firstTest([&] { RunConnectionTest(first, Address(slow.Port()), "pw", [firstDone] { firstDone.Signal(); }); });
    while (slow.Requests().empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    const Verdicts second = RunTest(Address(refusing.Port()), "pw");
    release.store(true);
    firstTest.join();
    EXPECT_EQ(firstDone.Count(), 0);
    EXPECT_EQ(second.notified, 1);
    EXPECT_EQ(ConnectionTestServerResult(), ServerVerdict::Reachable);
    EXPECT_EQ(ConnectionTestAuthResult(), AuthVerdict::Refused) << "the stale test's 200 must not count";

    // Closing the dialog silences a running test as well.
    const int32_t third = BeginConnectionTest();
    AbandonConnectionTests();
    Completion thirdDone;
    RunConnectionTest(third, Address(refusing.Port()), "", [thirdDone] { thirdDone.Signal(); });
    EXPECT_EQ(thirdDone.Count(), 0);
    EXPECT_EQ(ConnectionTestServerResult(), ServerVerdict::NotKnown);
}

TEST(ConnectionTestTest, DetachedTestReportsOnce)
{
    LoopbackServer server(ServeAndClose("HTTP/1.0 200 OK\r\n\r\n"));
    Completion done;
    const int32_t generation = BeginConnectionTest();
    EXPECT_TRUE(StartConnectionTest(generation, Address(server.Port()), "pw", [done] { done.Signal(); }));
    ASSERT_TRUE(done.WaitFor(1, 15000));
    EXPECT_EQ(ConnectionTestServerResult(), ServerVerdict::Reachable);
    EXPECT_EQ(ConnectionTestAuthResult(), AuthVerdict::Accepted);
    ASSERT_TRUE(server.WaitFinished(1, 5000));
    EXPECT_EQ(done.Count(), 1);
}

TEST(ConnectivityProbeTest, ReachableOnlyWhenTheConnectionCompletes)
{
    LoopbackServer listening([](LoopbackPeer& peer, int) { peer.DrainUntilClosed(); });
    EXPECT_TRUE(ProbeConnectivity({"127.0.0.1", listening.Port()}));

    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(ProbeConnectivity({"127.0.0.1", ClosedLoopbackPort()}));
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), kProbeTimeoutMs / 1000.0);

    const auto reachable = std::make_shared<std::atomic<int>>(-1);
    Completion done;
    EXPECT_TRUE(StartConnectivityProbe([reachable, done](bool result) {
        reachable->store(result ? 1 : 0);
        done.Signal();
    }, {"127.0.0.1", listening.Port()}));
    ASSERT_TRUE(done.WaitFor(1, 10000));
    EXPECT_EQ(reachable->load(), 1);
    EXPECT_EQ(DefaultProbeTarget().port, 53);
}

} // namespace
