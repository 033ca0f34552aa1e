#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/LoopbackServer.h"
#include "base/Platform.h"
#include "icecast/FetchUrl.h"
#include "icecast/IcecastClient.h"
#include "icecast/IcecastProtocol.h"

#if KV_OS_WINDOWS
constexpr int kSendTimedOutCode = 10060; // WSAETIMEDOUT
#else
#include <cerrno>
constexpr int kSendTimedOutCode = EAGAIN;
#endif

namespace {

using Clock = std::chrono::steady_clock;

IcecastConfig LoopbackConfig(uint16_t port, const std::string& mount = "/live")
{
    IcecastConfig config;
    config.host = "127.0.0.1";
    config.port = port;
    config.mountPoint = mount;
    config.username = "source";
    config.password = "pw";
    config.streamName = "Loop";
    config.streamGenre = "Test";
    config.contentCode = kContentCodeAac;
    config.streamBitrate = 64000;
    config.streamSampleRate = 44100;
    config.streamChannels = 2;
    return config;
}

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Writes chunks until Send fails or limit seconds pass; the seconds it took.
double SendUntilFailure(IcecastClient& client, double limit)
{
    const std::vector<uint8_t> chunk(4096, 0x5a);
    const Clock::time_point start = Clock::now();
    while (client.Send(chunk.data(), chunk.size()) && SecondsSince(start) < limit) {
    }
    return SecondsSince(start);
}

TEST(IcecastClientLoopbackTest, HandshakeVerdicts)
{
    const struct {
        const char* answer;
        bool connected;
        uint32_t status;
        std::string error; // "%" stands for 127.0.0.1:port
    } cases[] = {
        {"ICY 200 OK\r\n\r\n", true, 200, "Connected: %/live"},
        {"HTTP/1.0 200 OK\r\n\r\n", true, 200, "Connected: %/live"},
        {"HTTP/1.1 100 Continue\r\n\r\n", false, 100, "Server rejected: HTTP 100"},
        {"HTTP/1.0 404 Not Found\r\n\r\n", false, 404, "Mount point not found: /live"},
        {"HTTP/1.0 403 Forbidden\r\n\r\nMountpoint in use", false, 403, "Mount point in use: /live"},
        {"HTTP/1.0 401 Unauthorized\r\n\r\n", false, 401, "Authentication failed (wrong username/password)"},
        {"NOSPACEINTHISANSWER\r\n\r\n", false, 0, "Unexpected server response"},
        {"HTTP/1.0 abc def\r\n\r\n", false, 0, "Unexpected server response"},
        {"HTTP/1.0 2", false, 0, "Unexpected server response"},
        {"", false, 0, "No response from server (check host/port)"},
    };
    for (const auto& c : cases) {
        const std::string answer = c.answer;
        LoopbackServer server([answer](LoopbackPeer& peer, int) {
            peer.ReadRequest();
            if (!answer.empty())
                peer.Write(answer);
            else
                peer.ShutdownWrite();
            peer.DrainUntilClosed();
        });
        IcecastClient client;
        EXPECT_EQ(client.Connect(LoopbackConfig(server.Port())), c.connected) << c.answer;
        std::string expected = c.error;
        if (const size_t at = expected.find('%'); at != std::string::npos)
            expected.replace(at, 1, "127.0.0.1:" + std::to_string(server.Port()));
        EXPECT_EQ(client.LastError(), expected) << c.answer;
        EXPECT_EQ(client.LastStatusCode(), c.status) << c.answer;
        EXPECT_EQ(client.IsConnected(), c.connected);
        if (!c.connected) {
            // A refused handshake closes the connection: the server sees the end.
            EXPECT_TRUE(server.WaitFinished(1, 5000)) << c.answer;
        }
        client.Disconnect();
        ASSERT_EQ(server.Requests().size(), 1u);
        EXPECT_EQ(server.Requests()[0], BuildSourceRequest(LoopbackConfig(server.Port())));
    }
}

TEST(IcecastClientLoopbackTest, MountWithoutSlashGoesOutWithOne)
{
    LoopbackServer server(AnswerWith("HTTP/1.0 200 OK\r\n\r\n"));
    IcecastClient client;
    ASSERT_TRUE(client.Connect(LoopbackConfig(server.Port(), "live")));
    EXPECT_EQ(client.LastError(), "Connected: 127.0.0.1:" + std::to_string(server.Port()) + "/live");
    EXPECT_EQ(server.Requests().at(0).rfind("SOURCE /live HTTP/1.0\r\n", 0), 0u);
}

TEST(IcecastClientLoopbackTest, SendAndDisconnect)
{
    LoopbackServer server([](LoopbackPeer& peer, int) {
        peer.ReadRequest();
        peer.Write("HTTP/1.0 200 OK\r\n\r\n");
        EXPECT_EQ(peer.Read(10000), 10000u);
        peer.DrainUntilClosed();
    });
    IcecastClient client;
    EXPECT_FALSE(client.Send(nullptr, 0));
    client.Disconnect();
    EXPECT_EQ(client.LastError(), "") << "disconnecting a client that never connected changes nothing";

    ASSERT_TRUE(client.Connect(LoopbackConfig(server.Port())));
    const std::vector<uint8_t> bytes(10000, 1);
    EXPECT_FALSE(client.Send(bytes.data(), 0));
    EXPECT_FALSE(client.Send(nullptr, 10));
    EXPECT_TRUE(client.Send(bytes.data(), bytes.size()));
    client.Disconnect();
    EXPECT_EQ(client.LastError(), "Disconnected");
    EXPECT_FALSE(client.IsConnected());
    EXPECT_FALSE(client.Send(bytes.data(), bytes.size()));
    EXPECT_TRUE(server.WaitFinished(1, 5000));
}

TEST(IcecastClientLoopbackTest, PeerThatClosesMidStream)
{
    LoopbackServer server([](LoopbackPeer& peer, int) {
        peer.ReadRequest();
        peer.Write("HTTP/1.0 200 OK\r\n\r\n");
        peer.Read(20000);
        peer.ShutdownWrite();
        peer.DrainUntilClosed();
    });
    IcecastClient client;
    ASSERT_TRUE(client.Connect(LoopbackConfig(server.Port())));
    EXPECT_LT(SendUntilFailure(client, 20), 20);
    EXPECT_EQ(client.LastError(), "Server closed connection");
    EXPECT_FALSE(client.IsConnected());
    const uint8_t byte = 0;
    EXPECT_FALSE(client.Send(&byte, 1));
    EXPECT_EQ(client.LastError(), "Server closed connection");
}

TEST(IcecastClientLoopbackTest, PeerThatStopsReadingEndsInTheSendTimeOut)
{
    LoopbackServer server([](LoopbackPeer& peer, int) {
        peer.ReadRequest();
        peer.Write("HTTP/1.0 200 OK\r\n\r\n");
        peer.Idle(60000);
    }, 4096);
    IcecastClient client;
    ASSERT_TRUE(client.Connect(LoopbackConfig(server.Port())));
    const double seconds = SendUntilFailure(client, 40);
    EXPECT_LT(seconds, 40);
    EXPECT_GE(seconds, 4.5) << "the last write waited for the 5 s send time-out";
    EXPECT_EQ(client.LastError(), "Connection lost (error " + std::to_string(kSendTimedOutCode) + ")");
    EXPECT_FALSE(client.IsConnected());
}

// A send blocked on a server that stopped reading: Abort from another thread returns at
// once instead of waiting for the send, and the send fails well before its time-out.
TEST(IcecastClientLoopbackTest, AbortBreaksOffABlockedSend)
{
    LoopbackServer server([](LoopbackPeer& peer, int) {
        peer.ReadRequest();
        peer.Write("HTTP/1.0 200 OK\r\n\r\n");
        peer.Idle(60000);
    }, 4096);
    IcecastClient client;
    ASSERT_TRUE(client.Connect(LoopbackConfig(server.Port())));
    std::atomic<double> sendSeconds{-1.0};
    std::thread sender([&] { sendSeconds.store(SendUntilFailure(client, 40)); });
    // Until the buffers are full and the sender waits inside a send.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const Clock::time_point start = Clock::now();
    client.Abort();
    const double abortSeconds = SecondsSince(start);
    sender.join();
    EXPECT_LT(abortSeconds, 1.0) << "Abort waited for the blocked send";
    EXPECT_LT(SecondsSince(start), 4.0) << "the blocked send waited for its time-out";
    EXPECT_GE(sendSeconds.load(), 1.0);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(client.LastError().rfind("Connection lost (error ", 0), 0u) << client.LastError();
    client.Disconnect(); // nothing left to do, and no crash
}

TEST(IcecastClientLoopbackTest, SilentServerEndsInTheReceiveTimeOut)
{
    LoopbackServer server([](LoopbackPeer& peer, int) {
        peer.ReadRequest();
        peer.DrainUntilClosed();
    });
    IcecastClient client;
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(client.Connect(LoopbackConfig(server.Port())));
    const double seconds = SecondsSince(start);
    EXPECT_EQ(client.LastError(), "No response from server (check host/port)");
    EXPECT_GE(seconds, 9.5);
    EXPECT_LT(seconds, 15);
}

// The whole title exchange ends 10 s after its connect, whether the server says nothing
// or trickles its answer a byte every 3 s (each read alone would then never time out).
TEST(IcecastClientLoopbackTest, TitleUpdateIsBoundedAsAWhole)
{
    for (const bool trickle : {false, true}) {
        SCOPED_TRACE(trickle ? "trickling server" : "silent server");
        LoopbackServer server([trickle](LoopbackPeer& peer, int index) {
            peer.ReadRequest();
            if (index == 0) {
                peer.Write("HTTP/1.0 200 OK\r\n\r\n");
                peer.DrainUntilClosed();
                return;
            }
            // Trickles for 30 s at most, so that an unbounded client fails the timing
            // below instead of hanging the test.
            for (int i = 0; trickle && i < 10 && peer.Write("H"); ++i)
                peer.Idle(3000);
            peer.DrainUntilClosed();
        });
        IcecastClient client;
        IcecastConfig config = LoopbackConfig(server.Port(), "live");
        config.username.clear();
        ASSERT_TRUE(client.Connect(config));
        const Clock::time_point start = Clock::now();
        EXPECT_TRUE(client.UpdateTitle("Rock & Roll"));
        const double seconds = SecondsSince(start);
        EXPECT_GE(seconds, 9.5);
        EXPECT_LT(seconds, 12.5);
        const std::vector<std::string> requests = server.Requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[1], BuildMetadataRequest(config, "Rock & Roll"));
        EXPECT_TRUE(client.IsConnected()) << "the title connection leaves the source connection alone";
    }
}

TEST(IcecastClientLoopbackTest, TitleUpdateNeedsTheSourceConnection)
{
    LoopbackServer server(AnswerWith("HTTP/1.0 401 Unauthorized\r\n\r\n"));
    IcecastClient client;
    EXPECT_FALSE(client.UpdateTitle("x"));
    EXPECT_FALSE(client.Connect(LoopbackConfig(server.Port())));
    const std::string refusal = client.LastError();
    EXPECT_FALSE(client.UpdateTitle("x"));
    EXPECT_EQ(client.LastError(), refusal) << "the reason the source connection is down stays";
    EXPECT_TRUE(server.WaitFinished(1, 5000));
    EXPECT_EQ(server.Requests().size(), 1u) << "no title connection was made";
}

// A title update of its own (the title command's): no source connection needed, and
// the server's verdict read from its answer.
TEST(IcecastClientLoopbackTest, TitleUpdateReadsTheVerdict)
{
    const struct {
        const char* answer;
        uint32_t status;
        const char* reason;
    } cases[] = {
        {"HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n<iceresponse><return>1</return></iceresponse>", 200, ""},
        {"HTTP/1.0 401 Authentication Required\r\n\r\nYou need to authenticate\r\n", 401,
         "Title refused: authentication failed (wrong username/password)"},
        {"HTTP/1.0 400 Bad Request\r\n\r\n<b>Source does not exist</b>", 400, "Title refused: no stream on /live"},
    };
    for (const auto& c : cases) {
        LoopbackServer server(ServeAndClose(c.answer));
        const IcecastConfig config = LoopbackConfig(server.Port(), "live");
        const TitleUpdateResult result = SendTitleUpdate(config, "Caf\u00E9");
        EXPECT_TRUE(result.sent);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.reason, c.reason);
        ASSERT_TRUE(server.WaitFinished(1, 5000));
        EXPECT_EQ(server.Requests().at(0), BuildMetadataRequest(config, "Caf\u00E9"));
    }

    LoopbackServer silent([](LoopbackPeer& peer, int) { peer.ReadRequest(); });
    const TitleUpdateResult unanswered = SendTitleUpdate(LoopbackConfig(silent.Port()), "x");
    EXPECT_TRUE(unanswered.sent);
    EXPECT_EQ(unanswered.reason, "Title update unanswered by 127.0.0.1:" + std::to_string(silent.Port()));

    const uint16_t closed = ClosedLoopbackPort();
    const TitleUpdateResult refused = SendTitleUpdate(LoopbackConfig(closed), "x");
    EXPECT_FALSE(refused.sent);
    EXPECT_EQ(refused.reason, "Title not sent: cannot connect to 127.0.0.1:" + std::to_string(closed));
}

TEST(IcecastClientLoopbackTest, RefusedAndUnresolvable)
{
    IcecastClient client;
    IcecastConfig config = LoopbackConfig(ClosedLoopbackPort());
    EXPECT_FALSE(client.Connect(config));
    EXPECT_EQ(client.LastError(), "Connection refused: 127.0.0.1:" + std::to_string(config.port) + " (error " +
                                      std::to_string(RefusedErrorCode()) + ")");
    // Winsock would take an empty name for this machine and reach a local server.
    config.host = "";
    EXPECT_FALSE(client.Connect(config));
    EXPECT_EQ(client.LastError(), "Failed to resolve host: ");
    if (!InIsolatedNetwork())
        GTEST_SKIP() << "name lookups only inside scripts/testenv";
    config.host = "no-such-host.invalid";
    EXPECT_FALSE(client.Connect(config));
    EXPECT_EQ(client.LastError(), "Failed to resolve host: no-such-host.invalid");
}

TEST(FetchUrlTest, LongBodyIsCutAndZeroBytesEndAPiece)
{
    const std::string body(100000, 'j');
    LoopbackServer server(ServeAndClose("HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n" + body));
    const std::string fetched = FetchUrl("http://127.0.0.1:" + std::to_string(server.Port()) + "/status-json.xsl");
    EXPECT_GT(fetched.size(), kFetchBodyLimit);
    EXPECT_LE(fetched.size(), kFetchBodyLimit + kFetchReadBytes);
    EXPECT_EQ(fetched.find_first_not_of('j'), std::string::npos);
    EXPECT_EQ(server.Requests().at(0).rfind("GET /status-json.xsl HTTP/1.1\r\n", 0), 0u);
    EXPECT_NE(server.Requests().at(0).find("User-Agent: KelmVantoro/1.0\r\n"), std::string::npos);

    LoopbackServer error(ServeAndClose("HTTP/1.0 404 Not Found\r\n\r\nnot here"));
    EXPECT_EQ(FetchUrl("http://127.0.0.1:" + std::to_string(error.Port()) + "/status-json.xsl"), "not here");
    EXPECT_EQ(FetchUrl("http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()) + "/status-json.xsl"), "");
}

} // namespace
