#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "icecast/IcecastClient.h"
#include "icecast/TcpSocket.h"
#include "icecast/TlsSession.h"
#include "support/LoopbackSocket.h"
#include "support/TempDir.h"

// The TLS session's record layer against the real Icecast of scripts/testenv: a source
// sends over TLS in writes larger than one record, a listener reads the relayed bytes over
// TLS in pieces that never line up with the records, and every byte must come out once
// and in order. A handshake that waits on a silent port must give way to Interrupt.
namespace {

using Clock = std::chrono::steady_clock;

struct TlsIcecast {
    uint16_t tlsPort = 0;
    uint16_t plainPort = 0;
    std::string password;
    std::string caFile;
};

bool FindTlsIcecast(TlsIcecast& server)
{
    const std::string tls = EnvOr("KV_ICECAST_TLS_PORT", "");
    const std::string plain = EnvOr("KV_ICECAST_PORT", "");
    server.password = EnvOr("KV_ICECAST_SOURCE_PASSWORD", "");
    server.caFile = EnvOr("KV_TEST_CA_FILE", "");
    if (tls.empty() || plain.empty() || server.caFile.empty())
        return false;
    server.tlsPort = static_cast<uint16_t>(std::stoi(tls));
    server.plainPort = static_cast<uint16_t>(std::stoi(plain));
    return true;
}

// False (and the test skips) in a build whose session refuses every handshake.
bool HandshakeWith(TcpSocket& socket, TlsSession& session, const TlsIcecast& server)
{
    if (socket.Connect("localhost", server.tlsPort, 10000) != ConnectResult::Connected)
        return false;
    return session.Handshake(socket, "localhost", TlsOptions{true, server.caFile, ""}, 10000);
}

#define REQUIRE_TLS_ICECAST(server)                                                     \
    TlsIcecast server;                                                                  \
    if (!FindTlsIcecast(server))                                                        \
        GTEST_SKIP() << "no test Icecast with TLS (run inside scripts/testenv)";

std::string Mount()
{
#if defined(_WIN32)
    return "/kv-win-tls-relay";
#else
    return "/kv-posix-tls-relay";
#endif
}

// A TLS source of the test server's, as "localhost" so that the name is checked, on
// port (the server's TLS port or a relay in front of it).
IcecastConfig TlsSource(const TlsIcecast& server, uint16_t port, const std::string& mount, const std::string& name,
                        uint32_t bitrate)
{
    IcecastConfig config;
    config.host = "localhost";
    config.port = port;
    config.mountPoint = mount;
    config.username = "source";
    config.password = server.password;
    config.streamName = name;
    config.contentCode = kContentCodeAac;
    config.streamBitrate = bitrate;
    config.streamSampleRate = 44100;
    config.streamChannels = 2;
    config.isPublic = false;
    config.tls = TlsOptions{true, server.caFile, ""};
    return config;
}

// The byte at position i of the source's stream: a run that does not repeat at any power
// of two, so a lost, doubled or reordered piece breaks it.
uint8_t PatternByte(uint64_t i)
{
    return static_cast<uint8_t>(i % 251);
}

bool SendAllOver(TlsSession& session, const std::string& text)
{
    for (size_t offset = 0; offset < text.size();) {
        const int64_t sent = session.Send(text.data() + offset, text.size() - offset);
        if (sent <= 0)
            return false;
        offset += static_cast<size_t>(sent);
    }
    return true;
}

TEST(TlsRelayTest, BytesCrossBothWaysWholeAndInOrder)
{
    REQUIRE_TLS_ICECAST(server);
    {
        TcpSocket probe;
        TlsSession probeSession;
        if (!HandshakeWith(probe, probeSession, server)) {
            if (probeSession.Failure() == TlsFailure::NotAvailable)
                GTEST_SKIP() << "this build has no TLS";
            FAIL() << "no TLS session with the test Icecast: " << probeSession.LastError();
        }
    }

    IcecastClient source;
    IcecastConfig config = TlsSource(server, server.tlsPort, Mount(), "Kelm TLS relay", 128000);
    ASSERT_TRUE(source.Connect(config)) << source.LastError();

    // The source writes 40000 bytes at a time (more than two records' worth) until the
    // listener has what it needs; the pace only keeps the server's queue small.
    std::atomic<bool> done{false};
    std::atomic<bool> sendFailed{false};
    std::thread feeder([&] {
        std::vector<uint8_t> chunk(40000);
        uint64_t position = 0;
        const Clock::time_point end = Clock::now() + std::chrono::seconds(60);
        while (!done.load() && Clock::now() < end) {
            for (uint8_t& byte : chunk)
                byte = PatternByte(position++);
            if (!source.Send(chunk.data(), chunk.size())) {
                sendFailed = true;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });

    TcpSocket socket;
    TlsSession listener;
    std::string failure;
    std::vector<uint8_t> body;
    constexpr size_t kWanted = 200000;
    if (!HandshakeWith(socket, listener, server)) {
        failure = "listener handshake: " + listener.LastError();
    } else {
        socket.SetTimeouts(10000, 10000);
        // The request goes out in three records.
        const std::string request = "GET " + Mount() + " HTTP/1.0\r\nHost: localhost\r\n\r\n";
        if (!SendAllOver(listener, request.substr(0, 4)) || !SendAllOver(listener, request.substr(4, 9)) ||
            !SendAllOver(listener, request.substr(13)))
            failure = "request not sent";
        std::string head;
        // 777 bytes never line up with a record; the first reads also take the header.
        char piece[777];
        while (failure.empty() && body.size() < kWanted) {
            const int64_t received = listener.Receive(piece, sizeof piece);
            if (received <= 0) {
                failure = "receive ended with " + std::to_string(received) + ", error " +
                          std::to_string(listener.ErrorCode()) + ", after " + std::to_string(body.size()) + " bytes";
                break;
            }
            if (head.find("\r\n\r\n") == std::string::npos) {
                head.append(piece, static_cast<size_t>(received));
                const size_t end = head.find("\r\n\r\n");
                if (end != std::string::npos)
                    body.assign(head.begin() + static_cast<std::ptrdiff_t>(end + 4), head.end());
            } else {
                body.insert(body.end(), piece, piece + received);
            }
        }
        EXPECT_EQ(head.substr(0, 12), "HTTP/1.0 200") << head.substr(0, 200);
        listener.Shutdown();
    }
    done = true;
    feeder.join();
    source.Disconnect();

    ASSERT_TRUE(failure.empty()) << failure;
    EXPECT_FALSE(sendFailed.load());
    ASSERT_GE(body.size(), kWanted);
    // The listener joins the stream somewhere; from there on every byte follows the last.
    size_t breaks = 0;
    for (size_t i = 1; i < body.size(); ++i) {
        if (body[i] != PatternByte(body[i - 1] + 1u))
            ++breaks;
    }
    EXPECT_EQ(breaks, 0u);
}

// A plain TCP relay from a loopback port to the server's TLS port, for one connection.
// Its way to the server can be held: it then reads nothing, its small receive buffer
// fills, and the client's bytes wait in the client's own send queue, as they do on a
// slow uplink. The end of the client's side is passed on as a half-close.
class HeldRelay {
public:
    explicit HeldRelay(uint16_t target) : targetPort(target)
    {
        listener = ListenOnLoopback(port, 2048);
        worker = std::thread([this] { Run(); });
    }
    ~HeldRelay()
    {
        stopping = true;
        upstream.Interrupt();
        worker.join();
        CloseRaw(listener);
    }
    HeldRelay(const HeldRelay&) = delete;
    HeldRelay& operator=(const HeldRelay&) = delete;

    uint16_t Port() const { return port; }
    void Hold(bool hold) { held = hold; }
    // How often the relay found nothing to pass on for 50 ms: once it has grown after
    // the source's last send, everything sent before has been passed on.
    int QuietReads() const { return quietReads.load(); }
    // How the client's side ended: 0 in order, -1 with an error (a reset); 1 while open.
    int ClientEnd() const { return clientEnd.load(); }

private:
    void Run()
    {
        RawSocket client = kNoSocket;
        while (!stopping && client == kNoSocket)
            client = AcceptWithin(listener, 100);
        if (client == kNoSocket)
            return;
        if (upstream.Connect("127.0.0.1", targetPort, 5000) != ConnectResult::Connected) {
            CloseRaw(client);
            return;
        }
        upstream.SetTimeouts(5000, 60000);
        std::thread down([this, client] {
            char buffer[4096];
            for (;;) {
                const int64_t received = upstream.Receive(buffer, sizeof buffer);
                if (received <= 0 || !SendAllBytes(client, buffer, static_cast<size_t>(received)))
                    break;
            }
            ShutdownWrite(client);
        });
        char buffer[1024];
        while (!stopping) {
            if (held) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            const int received = ReceiveWithin(client, buffer, sizeof buffer, 50);
            if (received == -2) {
                ++quietReads;
                continue;
            }
            if (received <= 0) {
                clientEnd = received;
                break;
            }
            for (int offset = 0; offset < received;) {
                const int64_t sent = upstream.Send(buffer + offset, static_cast<size_t>(received - offset));
                if (sent <= 0)
                    break;
                offset += static_cast<int>(sent);
            }
        }
        upstream.ShutdownSend();
        down.join();
        CloseRaw(client);
    }

    uint16_t targetPort;
    uint16_t port = 0;
    RawSocket listener = kNoSocket;
    TcpSocket upstream;
    std::atomic<bool> stopping{false};
    std::atomic<bool> held{false};
    std::atomic<int> clientEnd{1};
    std::atomic<int> quietReads{0};
    std::thread worker;
};

// A TLS source that stops while its last bytes still wait in its send queue: they reach
// the server and a listener all the same, and the server ends the source at once (it
// closes the listener rather than keeping a mount that nothing feeds).
TEST(TlsRelayTest, TheTailAfterAStopReachesTheListeners)
{
    REQUIRE_TLS_ICECAST(server);
    HeldRelay relay(server.tlsPort);
    const std::string mount = Mount() + "-tail";
    IcecastClient source;
    // The kernel holds about a second of stream: at 320 kbit/s the 16 KiB tail fits in it
    // while the link is stalled.
    IcecastConfig config = TlsSource(server, relay.Port(), mount, "Kelm TLS tail", 320000);
    if (!source.Connect(config)) {
        TcpSocket probe;
        TlsSession probeSession;
        if (!HandshakeWith(probe, probeSession, server) && probeSession.Failure() == TlsFailure::NotAvailable)
            GTEST_SKIP() << "this build has no TLS";
        FAIL() << source.LastError();
    }

    // A listener on the plain port keeps everything the server relays.
    TcpSocket listener;
    ASSERT_EQ(listener.Connect("127.0.0.1", server.plainPort, 5000), ConnectResult::Connected);
    listener.SetTimeouts(5000, 20000);
    const std::string request = "GET " + mount + " HTTP/1.0\r\n\r\n";
    ASSERT_EQ(listener.Send(request.data(), request.size()), static_cast<int64_t>(request.size()));
    std::mutex heardLock;
    std::string heard;
    Clock::time_point listenerEnd{};
    std::thread listening([&] {
        char piece[4096];
        for (;;) {
            const int64_t received = listener.Receive(piece, sizeof piece);
            std::lock_guard<std::mutex> guard(heardLock);
            if (received <= 0) {
                listenerEnd = Clock::now();
                return;
            }
            heard.append(piece, static_cast<size_t>(received));
        }
    });
    const auto heardBytes = [&] {
        std::lock_guard<std::mutex> guard(heardLock);
        return heard.size();
    };

    // On air for a moment, until the listener hears it.
    std::vector<uint8_t> chunk(4096);
    uint64_t position = 0;
    const Clock::time_point onAir = Clock::now() + std::chrono::seconds(10);
    while (heardBytes() < 3 * chunk.size() && Clock::now() < onAir) {
        for (uint8_t& byte : chunk)
            byte = PatternByte(position++);
        ASSERT_TRUE(source.Send(chunk.data(), chunk.size())) << source.LastError();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    ASSERT_GE(heardBytes(), 3 * chunk.size());
    // Everything sent so far passed on (a busy machine can leave the relay behind, and
    // what it has not taken would fill the room the tail needs).
    const int quiet = relay.QuietReads();
    const Clock::time_point drained = Clock::now() + std::chrono::seconds(10);
    while (relay.QuietReads() <= quiet + 1 && Clock::now() < drained)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    // The uplink stalls; the last 16 KiB wait in the source's send queue when the
    // presenter stops, a mark 12 KiB into them (past what the relay's buffer takes, and
    // before the last ones, which Icecast 2.4 reads but never relays even from a plain
    // source).
    relay.Hold(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::string mark = "KV-TAIL-MARK";
    std::vector<uint8_t> tail;
    for (int i = 0; i < 12288; ++i)
        tail.push_back(PatternByte(position++));
    tail.insert(tail.end(), mark.begin(), mark.end());
    for (int i = 0; i < 4096; ++i)
        tail.push_back(PatternByte(position++));
    ASSERT_TRUE(source.Send(tail.data(), tail.size())) << source.LastError();
    source.Disconnect();
    EXPECT_EQ(source.LastError(), "Disconnected");
    relay.Hold(false);
    const Clock::time_point resumed = Clock::now();

    listening.join();
    std::lock_guard<std::mutex> guard(heardLock);
    EXPECT_NE(heard.find(mark), std::string::npos) << heard.size() << " bytes heard, the tail not among them";
    EXPECT_EQ(relay.ClientEnd(), 0);
    // The server ended the source at once, not after its 10 s source time-out.
    EXPECT_LT(listenerEnd - resumed, std::chrono::seconds(5));
}

// A handshake on a port that never answers TLS (the plain port waits for a request that
// never comes) returns as soon as another thread interrupts the socket, long before its
// own time limit.
TEST(TlsRelayTest, InterruptEndsAWaitingHandshake)
{
    REQUIRE_TLS_ICECAST(server);
    TcpSocket socket;
    ASSERT_EQ(socket.Connect("127.0.0.1", server.plainPort, 10000), ConnectResult::Connected);
    TlsSession session;
    std::atomic<bool> finished{false};
    bool result = true;
    const Clock::time_point start = Clock::now();
    std::thread handshake([&] {
        result = session.Handshake(socket, "127.0.0.1", TlsOptions{true, server.caFile, ""}, 120000);
        finished = true;
    });
    // Whether the interrupt comes before or during the wait, the handshake must end.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    socket.Interrupt();
    handshake.join();
    EXPECT_TRUE(finished.load());
    EXPECT_FALSE(result);
    if (session.Failure() == TlsFailure::NotAvailable)
        GTEST_SKIP() << "this build has no TLS";
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(60));
    EXPECT_EQ(session.Failure(), TlsFailure::Closed) << session.LastError();
}

} // namespace
