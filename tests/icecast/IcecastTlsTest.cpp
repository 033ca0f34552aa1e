#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "icecast/ConnectionTest.h"
#include "icecast/IcecastClient.h"
#include "icecast/StatusPoller.h"
#include "icecast/TlsSession.h"
#include "support/TempDir.h"

// The connection over TLS against the test environment's Icecast and its TLS-only peer
// (scripts/testenv); skipped without them, or in a build without TLS.
namespace {

using Clock = std::chrono::steady_clock;

struct TlsServer {
    uint16_t tlsPort = 0;
    uint16_t plainPort = 0;
    uint16_t statusPort = 0;
    uint16_t tlsOnlyPort = 0;
    std::string password;
    std::string caFile;
    std::string fingerprint;
};

uint16_t PortOf(const char* name)
{
    const std::string text = EnvOr(name, "");
    return text.empty() ? 0 : static_cast<uint16_t>(std::stoi(text));
}

bool FindTlsServer(TlsServer& server)
{
    server.tlsPort = PortOf("KV_ICECAST_TLS_PORT");
    server.plainPort = PortOf("KV_ICECAST_PORT");
    server.statusPort = PortOf("KV_ICECAST_STATUS_PORT");
    server.tlsOnlyPort = PortOf("KV_TLS_ONLY_PORT");
    server.password = EnvOr("KV_ICECAST_SOURCE_PASSWORD", "");
    server.caFile = EnvOr("KV_TEST_CA_FILE", "");
    server.fingerprint = EnvOr("KV_TEST_CERT_SHA256", "");
    return server.tlsPort != 0 && server.plainPort != 0 && server.tlsOnlyPort != 0 && !server.caFile.empty() &&
           !server.fingerprint.empty();
}

// Whether this build's TLS session does anything at all.
bool TlsAvailable(uint16_t port)
{
    TcpSocket socket;
    if (socket.Connect("127.0.0.1", port, 5000) != ConnectResult::Connected)
        return true; // let the test itself fail on the missing server
    TlsSession session;
    session.Handshake(socket, "127.0.0.1", TlsOptions{true, "", ""}, 5000);
    return session.Failure() != TlsFailure::NotAvailable;
}

#define REQUIRE_TLS_SERVER(server)                                                      \
    TlsServer server;                                                                   \
    if (!FindTlsServer(server))                                                         \
        GTEST_SKIP() << "no test Icecast with TLS (run inside scripts/testenv)";        \
    if (!TlsAvailable(server.tlsPort))                                                  \
        GTEST_SKIP() << "this build has no TLS";

std::string Mount(const std::string& name)
{
#if defined(_WIN32)
    return "/kv-win-tls-" + name;
#else
    return "/kv-posix-tls-" + name;
#endif
}

IcecastConfig TlsConfig(const TlsServer& server, const std::string& host, const std::string& mount)
{
    IcecastConfig config;
    config.host = host;
    config.port = server.tlsPort;
    config.mountPoint = mount;
    config.username = "source";
    config.password = server.password;
    config.streamName = "Kelm TLS";
    config.streamGenre = "Kelm Genre";
    config.contentCode = kContentCodeAac;
    config.streamBitrate = 96000;
    config.streamSampleRate = 44100;
    config.streamChannels = 2;
    config.isPublic = false;
    config.tls.enabled = true;
    config.tls.caFile = server.caFile;
    return config;
}

void Feed(IcecastClient& client)
{
    const std::vector<uint8_t> bytes(2048, 0);
    client.Send(bytes.data(), bytes.size());
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST(IcecastTlsTest, OnAirOverTlsAndTheTitleReadsBack)
{
    REQUIRE_TLS_SERVER(server);
    const std::string mount = Mount("on-air");
    IcecastClient client;
    ASSERT_TRUE(client.Connect(TlsConfig(server, "localhost", mount))) << client.LastError();
    EXPECT_EQ(client.LastError(), "Connected: localhost:" + std::to_string(server.tlsPort) + mount);

    // The title goes over a second TLS connection; non-ASCII must survive it byte for byte.
    const std::string title = "Caf\xc3\xa9 \xe2\x80\x94 Tr\xc3\xa4ume & 100%";
    ASSERT_TRUE(client.UpdateTitle(title)) << client.LastError();
    StatusResult result;
    const std::string status = "127.0.0.1:" + std::to_string(server.statusPort);
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(15);
    while (Clock::now() < deadline) {
        Feed(client);
        result = StatusResult();
        if (PollStatus(status, mount, result) && result.title == title)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(result.title, title);
    EXPECT_EQ(result.serverName, "Kelm TLS");
    EXPECT_TRUE(client.IsConnected());
    client.Disconnect();
    EXPECT_EQ(client.LastError(), "Disconnected");

    // The server lets the mount go, so a new start (a reconnection) gets it again.
    bool again = false;
    IcecastClient next;
    for (int i = 0; i < 20 && !again; ++i) {
        again = next.Connect(TlsConfig(server, "localhost", mount));
        if (!again)
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    EXPECT_TRUE(again) << next.LastError();
    next.Disconnect();
}

TEST(IcecastTlsTest, CertificateCases)
{
    REQUIRE_TLS_SERVER(server);
    struct Case {
        const char* name;
        std::string host;
        uint16_t port;
        std::string caFile;
        std::string fingerprint;
        bool accepted;
        std::string textPart; // of the refusal
    };
    std::string otherFingerprint = *NormaliseFingerprint(server.fingerprint);
    otherFingerprint[0] = otherFingerprint[0] == '0' ? '1' : '0';
    const std::vector<Case> cases = {
        {"untrusted without the CA", "localhost", server.tlsPort, "", "", false,
         "The server certificate of localhost is not trusted"},
        {"trusted through the CA file", "127.0.0.1", server.tlsPort, server.caFile, "", true, ""},
        {"right fingerprint, no CA", "127.0.0.1", server.tlsPort, "", server.fingerprint, true, ""},
        {"another certificate than the pinned one", "127.0.0.1", server.tlsOnlyPort, "",
         "SHA256 Fingerprint=" + server.fingerprint, false, "does not match the fingerprint"},
        {"wrong fingerprint", "localhost", server.tlsPort, server.caFile, otherFingerprint, false,
         "The server certificate of localhost does not match the fingerprint"},
        {"name mismatch", "127.0.0.1", server.tlsOnlyPort, server.caFile, "", false,
         "The server certificate does not match the name 127.0.0.1"},
        {"unreadable CA file", "localhost", server.tlsPort, server.caFile + ".missing", "", false,
         "certificate file for localhost cannot be read"},
        {"fingerprint that is no SHA-256", "localhost", server.tlsPort, "", "AB:CD", false,
         "certificate fingerprint for localhost is not a SHA-256"},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A mount of its own: the server may hold the last one a moment after the close.
        IcecastConfig config = TlsConfig(server, c.host, Mount("certificate-" + std::to_string(++index)));
        config.port = c.port;
        config.tls.caFile = c.caFile;
        config.tls.fingerprint = c.fingerprint;
        IcecastClient client;
        const bool connected = client.Connect(config);
        EXPECT_EQ(connected, c.accepted) << client.LastError();
        if (!c.accepted) {
            EXPECT_TRUE(Contains(client.LastError(), c.textPart)) << client.LastError();
            EXPECT_TRUE(Contains(client.LastError(), "certificate")) << client.LastError();
        }
        client.Disconnect();
    }
}

// A wrong transport must end within the connect limit, with a text that says what
// happened, not "certificate" (the certificate is not the cause) and no bare code.
TEST(IcecastTlsTest, WrongTransportFailsInTimeWithItsText)
{
    REQUIRE_TLS_SERVER(server);
    const auto bound = std::chrono::milliseconds(IcecastClient::kConnectTimeoutMs + 5000);

    IcecastConfig tlsToPlain = TlsConfig(server, "127.0.0.1", Mount("tls-to-plain"));
    tlsToPlain.port = server.plainPort;
    IcecastClient first;
    Clock::time_point start = Clock::now();
    EXPECT_FALSE(first.Connect(tlsToPlain));
    EXPECT_LT(Clock::now() - start, bound);
    EXPECT_TRUE(Contains(first.LastError(), "TLS handshake with 127.0.0.1")) << first.LastError();
    EXPECT_FALSE(Contains(first.LastError(), "certificate")) << first.LastError();

    IcecastConfig plainToTls = TlsConfig(server, "127.0.0.1", Mount("plain-to-tls"));
    plainToTls.port = server.tlsOnlyPort;
    plainToTls.tls.enabled = false;
    IcecastClient second;
    start = Clock::now();
    EXPECT_FALSE(second.Connect(plainToTls));
    EXPECT_LT(Clock::now() - start, bound);
    EXPECT_EQ(second.LastError(), "The server 127.0.0.1:" + std::to_string(server.tlsOnlyPort) +
                                      " answers with TLS: turn TLS on for this server");
}

// A station that pins its self-signed certificate: the status poll goes through the same
// verified TLS as the stream (the platform's HTTP client knows neither the pin nor the
// CA), so the server's name and its listener count appear. The status port 5 below the
// TLS port has nothing: the poll falls back to the source port, over https.
TEST(IcecastTlsTest, StatusOfAPinnedServerComesThroughTheVerifiedLink)
{
    REQUIRE_TLS_SERVER(server);
    const std::string mount = Mount("pinned-status");
    IcecastConfig config = TlsConfig(server, "localhost", mount);
    config.tls.caFile.clear();
    config.tls.fingerprint = server.fingerprint;
    IcecastClient client;
    ASSERT_TRUE(client.Connect(config)) << client.LastError();
    Feed(client);

    // One listener on the plain port.
    TcpSocket listener;
    ASSERT_EQ(listener.Connect("127.0.0.1", server.plainPort, 5000), ConnectResult::Connected);
    listener.SetTimeouts(5000, 5000);
    const std::string request = "GET " + mount + " HTTP/1.0\r\n\r\n";
    ASSERT_EQ(listener.Send(request.data(), request.size()), static_cast<int64_t>(request.size()));
    char head[256];
    ASSERT_GT(listener.Receive(head, sizeof head), 0);

    const std::string address = "localhost:" + std::to_string(server.tlsPort - 5) + mount;
    StatusResult result;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(15);
    while (Clock::now() < deadline) {
        Feed(client);
        StatusPortMemory memory;
        result = StatusResult();
        if (PollStatus(address, mount, server.tlsPort, true, StatusFetcher(config.tls), memory, result) &&
            result.listeners == 1)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_EQ(result.serverName, "Kelm TLS");
    EXPECT_EQ(result.listeners, 1);

    // Another pin gets nothing: no unverified way round.
    TlsOptions other = config.tls;
    std::string otherPin = *NormaliseFingerprint(server.fingerprint);
    otherPin[0] = otherPin[0] == '0' ? '1' : '0';
    other.fingerprint = otherPin;
    StatusPortMemory memory;
    StatusResult refused;
    EXPECT_FALSE(PollStatus(address, mount, server.tlsPort, true, StatusFetcher(other), memory, refused));
    EXPECT_EQ(refused.listeners, -1);
    client.Disconnect();
}

// The settings dialog's dots use the stream's transport: a TLS test passes the
// handshake, and a certificate the stream would refuse makes the server unreachable.
TEST(IcecastTlsTest, ConnectionTestOverTls)
{
    REQUIRE_TLS_SERVER(server);
    const std::string address = "localhost:" + std::to_string(server.tlsPort) + Mount("dots");
    const auto run = [&](const TlsOptions& tls) {
        const int32_t generation = BeginConnectionTest();
        RunConnectionTest(generation, address, server.password, {}, tls);
        return std::make_pair(ConnectionTestServerResult(), ConnectionTestAuthResult());
    };
    const auto trusted = run(TlsOptions{true, server.caFile, ""});
    EXPECT_EQ(trusted.first, ServerVerdict::Reachable);
    EXPECT_EQ(trusted.second, AuthVerdict::Accepted);
    const auto untrusted = run(TlsOptions{true, "", ""});
    EXPECT_EQ(untrusted.first, ServerVerdict::Unreachable);
    EXPECT_EQ(untrusted.second, AuthVerdict::NotTested);
}

} // namespace
