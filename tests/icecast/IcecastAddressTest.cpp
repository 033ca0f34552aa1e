#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "icecast/IcecastClient.h"
#include "icecast/TcpSocket.h"
#include "support/TempDir.h"

// Every address of a host, and IPv6, against the test environment's Icecast
// (scripts/testenv); skipped without it.
namespace {

IcecastConfig PlainConfig(const std::string& host, uint16_t port, const std::string& mount)
{
    IcecastConfig config;
    config.host = host;
    config.port = port;
    config.mountPoint = mount;
    config.username = "source";
    config.password = EnvOr("KV_ICECAST_SOURCE_PASSWORD", "");
    config.streamName = "Kelm Address";
    config.contentCode = kContentCodeAac;
    config.streamBitrate = 64000;
    config.streamSampleRate = 44100;
    config.streamChannels = 2;
    config.isPublic = false;
    return config;
}

std::string Mount(const std::string& name)
{
#if defined(_WIN32)
    return "/kv-win-address-" + name;
#else
    return "/kv-posix-address-" + name;
#endif
}

TEST(IcecastAddressTest, IpV6LiteralReachesTheServer)
{
    const std::string port = EnvOr("KV_ICECAST_V6_PORT", "");
    if (port.empty())
        GTEST_SKIP() << "no test Icecast on ::1 (run inside scripts/testenv)";
    IcecastClient client;
    const IcecastConfig config = PlainConfig("::1", static_cast<uint16_t>(std::stoi(port)), Mount("v6"));
    ASSERT_TRUE(client.Connect(config)) << client.LastError();
    EXPECT_EQ(client.LastError(), "Connected: ::1:" + port + Mount("v6"));
    // The server listens on ::1 only: the IPv4 loopback must not be what answered.
    TcpSocket v4;
    EXPECT_NE(v4.Connect("127.0.0.1", config.port, 2000), ConnectResult::Connected);
}

TEST(IcecastAddressTest, HostWhoseFirstAddressRefusesIsReachedThroughTheNext)
{
    const std::string host = EnvOr("KV_DUAL_HOST", "");
    const std::string port = EnvOr("KV_ICECAST_PORT", "");
    if (host.empty() || port.empty())
        GTEST_SKIP() << "no two-address host (run inside scripts/testenv run)";
    const uint16_t number = static_cast<uint16_t>(std::stoi(port));
    // The first address really refuses: ::1 has nothing on the source port.
    TcpSocket first;
    EXPECT_NE(first.Connect("::1", number, 2000), ConnectResult::Connected);

    IcecastClient client;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.Connect(PlainConfig(host, number, Mount("dual")))) << client.LastError();
    // A refusal is immediate on loopback: trying on costs no time-out.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(IcecastClient::kConnectTimeoutMs / 1000));
    EXPECT_TRUE(client.UpdateTitle("Through the second address")) << client.LastError();
}

} // namespace

