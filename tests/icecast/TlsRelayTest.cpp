#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "icecast/IcecastClient.h"
#include "icecast/TcpSocket.h"
#include "icecast/TlsSession.h"
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
    IcecastConfig config;
    config.host = "localhost";
    config.port = server.tlsPort;
    config.mountPoint = Mount();
    config.username = "source";
    config.password = server.password;
    config.streamName = "Kelm TLS relay";
    config.contentCode = kContentCodeAac;
    config.streamBitrate = 128000;
    config.streamSampleRate = 44100;
    config.streamChannels = 2;
    config.isPublic = false;
    config.tls = TlsOptions{true, server.caFile, ""};
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
