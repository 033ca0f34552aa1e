#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Completion.h"
#include "support/LoopbackServer.h"
#include "icecast/ConnectionTest.h"
#include "icecast/FetchUrl.h"
#include "icecast/IcecastClient.h"
#include "icecast/StatusPoller.h"
#include "support/TempDir.h"

// Against the test environment's Icecast (scripts/testenv); skipped without it.
namespace {

using Clock = std::chrono::steady_clock;

struct Server {
    std::string host;
    uint16_t port = 0;
    uint16_t statusPort = 0;
    std::string password;
};

bool FindServer(Server& server)
{
    server.host = EnvOr("KV_ICECAST_HOST", "");
    const std::string port = EnvOr("KV_ICECAST_PORT", "");
    const std::string statusPort = EnvOr("KV_ICECAST_STATUS_PORT", "");
    server.password = EnvOr("KV_ICECAST_SOURCE_PASSWORD", "");
    if (server.host.empty() || port.empty() || statusPort.empty() || server.password.empty())
        return false;
    server.port = static_cast<uint16_t>(std::stoi(port));
    server.statusPort = static_cast<uint16_t>(std::stoi(statusPort));
    return true;
}

#define REQUIRE_ICECAST(server)                                                         \
    Server server;                                                                      \
    if (!FindServer(server))                                                            \
        GTEST_SKIP() << "no test Icecast (run inside scripts/testenv)";

// Mount names of this process, so the Linux and Windows runs never meet on a mount.
std::string Mount(const std::string& name)
{
#if defined(_WIN32)
    return "/kv-win-" + name;
#else
    return "/kv-posix-" + name;
#endif
}

IcecastConfig Config(const Server& server, const std::string& mount, const std::string& name)
{
    IcecastConfig config;
    config.host = server.host;
    config.port = server.port;
    config.mountPoint = mount;
    config.username = "source";
    config.password = server.password;
    config.streamName = name;
    config.streamGenre = "Kelm Genre";
    config.contentCode = kContentCodeAac;
    config.streamBitrate = 96000;
    config.streamSampleRate = 44100;
    config.streamChannels = 2;
    config.isPublic = false;
    return config;
}

std::string StatusAddress(const Server& server)
{
    return server.host + ":" + std::to_string(server.statusPort);
}

std::string StatusDocument(const Server& server)
{
    return FetchUrl("http://" + StatusAddress(server) + "/status-json.xsl");
}

// The text of the source object of mount, from its "{" to its "}".
std::string SourceObject(const std::string& body, const std::string& mount)
{
    const size_t url = body.find(mount + "\"");
    if (url == std::string::npos)
        return {};
    const size_t start = body.rfind('{', url);
    const size_t end = body.find('}', url);
    return body.substr(start, end - start + 1);
}

// The source object of mount once the server lists it with its stream headers (both may
// take a moment: the server can list the mount before it has filed the headers).
std::string WaitForSource(const Server& server, const std::string& mount)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
    for (;;) {
        const std::string source = SourceObject(StatusDocument(server), mount);
        if (source.find("\"server_type\"") != std::string::npos || Clock::now() > deadline)
            return source;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// Some bytes of stream: Icecast publishes a new title with the next data it reads.
void Feed(IcecastClient& client)
{
    const std::vector<uint8_t> bytes(2048, 0);
    client.Send(bytes.data(), bytes.size());
}

// The mount's status once it shows title, the stream fed meanwhile (at most 10 s; the
// last reading otherwise).
StatusResult StatusOnceTitled(IcecastClient& client, const Server& server, const std::string& mount,
                              const std::string& title)
{
    StatusResult result;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        Feed(client);
        result = StatusResult();
        if (PollStatus(StatusAddress(server), mount, result) && result.title == title)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return result;
}

TEST(IcecastServerTest, AnnouncesTheStream)
{
    REQUIRE_ICECAST(server);
    IcecastClient client;
    const std::string mount = Mount("announce");
    ASSERT_TRUE(client.Connect(Config(server, mount, "Kelm Announce"))) << client.LastError();
    EXPECT_EQ(client.LastStatusCode(), 200u);
    EXPECT_EQ(client.LastError(), "Connected: " + server.host + ":" + std::to_string(server.port) + mount);

    const std::string source = WaitForSource(server, mount);
    ASSERT_FALSE(source.empty()) << StatusDocument(server);
    EXPECT_NE(source.find("\"server_name\":\"Kelm Announce\""), std::string::npos) << source;
    EXPECT_NE(source.find("\"genre\":\"Kelm Genre\""), std::string::npos) << source;
    EXPECT_NE(source.find("\"bitrate\":96"), std::string::npos) << source;
    EXPECT_NE(source.find("\"ice-samplerate\":44100"), std::string::npos) << source;
    EXPECT_NE(source.find("\"server_type\":\"audio/aac\""), std::string::npos) << source;
    Feed(client);
    EXPECT_TRUE(client.IsConnected());
    client.Disconnect();
}

TEST(IcecastServerTest, EmptyUserNameAndMountWithoutSlash)
{
    REQUIRE_ICECAST(server);
    IcecastConfig config = Config(server, Mount("bare").substr(1), "Kelm Bare");
    config.username.clear();
    IcecastClient client;
    ASSERT_TRUE(client.Connect(config)) << client.LastError();
    EXPECT_EQ(client.LastError(),
              "Connected: " + server.host + ":" + std::to_string(server.port) + "/" + config.mountPoint);
    EXPECT_FALSE(WaitForSource(server, "/" + config.mountPoint).empty());
}

TEST(IcecastServerTest, Refusals)
{
    REQUIRE_ICECAST(server);
    const std::string mount = Mount("busy");
    IcecastClient holder;
    ASSERT_TRUE(holder.Connect(Config(server, mount, "Holder"))) << holder.LastError();

    IcecastClient second;
    EXPECT_FALSE(second.Connect(Config(server, mount, "Second")));
    EXPECT_EQ(second.LastError(), "Mount point in use: " + mount);
    EXPECT_EQ(second.LastStatusCode(), 403u);

    IcecastConfig wrong = Config(server, Mount("wrong"), "Wrong");
    wrong.password += "-not";
    EXPECT_FALSE(second.Connect(wrong));
    EXPECT_EQ(second.LastError(), "Authentication failed (wrong username/password)");
    EXPECT_EQ(second.LastStatusCode(), 401u);

    IcecastConfig unknown = Config(server, Mount("unknown"), "Unknown");
    unknown.host = "no-such-host.invalid";
    EXPECT_FALSE(second.Connect(unknown));
    EXPECT_EQ(second.LastError(), "Failed to resolve host: no-such-host.invalid");

    IcecastConfig closed = Config(server, Mount("closed"), "Closed");
    closed.port = ClosedLoopbackPort();
    EXPECT_FALSE(second.Connect(closed));
    EXPECT_EQ(second.LastError(), "Connection refused: " + server.host + ":" + std::to_string(closed.port) +
                                      " (error " + std::to_string(RefusedErrorCode()) + ")");
    EXPECT_TRUE(holder.IsConnected());
}

TEST(IcecastServerTest, TitleReadsBackExactly)
{
    REQUIRE_ICECAST(server);
    const std::string mount = Mount("title");
    IcecastClient client;
    ASSERT_TRUE(client.Connect(Config(server, mount, "Kelm Title"))) << client.LastError();
    const std::string title = "Rock & Roll / A+B = 100% \xc3\xbc";
    ASSERT_TRUE(client.UpdateTitle(title));

    const StatusResult result = StatusOnceTitled(client, server, mount, title);
    EXPECT_EQ(result.title, title);
    EXPECT_EQ(result.serverName, "Kelm Title");
    EXPECT_EQ(result.listeners, 0);
}

// A mount with a space, "&", "+", "#", "%" and a non-ASCII letter: the stream, the title
// update and the connection test all reach it (not a 400, not another mount), and the
// messages name it as typed.
TEST(IcecastServerTest, MountWithSpaceAndSymbols)
{
    REQUIRE_ICECAST(server);
    const std::string mount = Mount("on air & more+1 #2 100% Caf\xc3\xa9");
    IcecastClient client;
    ASSERT_TRUE(client.Connect(Config(server, mount, "Kelm Space"))) << client.LastError();
    EXPECT_EQ(client.LastError(), "Connected: " + server.host + ":" + std::to_string(server.port) + mount);
    const std::string title = "Title & more";
    const TitleUpdateResult update = SendTitleUpdate(Config(server, mount, "Kelm Space"), title);
    EXPECT_TRUE(update.sent);
    EXPECT_EQ(update.status, 200u) << update.reason;

    const StatusResult result = StatusOnceTitled(client, server, mount, title);
    EXPECT_EQ(result.title, title);
    EXPECT_EQ(result.serverName, "Kelm Space");

    // The connection test's SOURCE request on such a mount is accepted too.
    const int32_t generation = BeginConnectionTest();
    RunConnectionTest(generation, server.host + ":" + std::to_string(server.port) + Mount("test space & #1"),
                      server.password, {}, TlsOptions{});
    EXPECT_EQ(ConnectionTestAuthResult(), AuthVerdict::Accepted);
    client.Disconnect();
}

TEST(IcecastServerTest, PollerFindsTheWantedMountAmongSeveral)
{
    REQUIRE_ICECAST(server);
    const char* names[] = {"poll-a", "poll-b", "poll-bb"};
    std::vector<std::unique_ptr<IcecastClient>> clients;
    for (const char* name : names) {
        clients.push_back(std::make_unique<IcecastClient>());
        ASSERT_TRUE(clients.back()->Connect(Config(server, Mount(name), std::string("Name ") + name)));
    }
    for (const char* name : names)
        ASSERT_FALSE(WaitForSource(server, Mount(name)).empty()) << name;
    for (const char* name : names) {
        StatusResult result;
        ASSERT_TRUE(PollStatus(StatusAddress(server), Mount(name), result)) << name;
        EXPECT_EQ(result.serverName, std::string("Name ") + name);
        EXPECT_EQ(result.listeners, 0);
        StatusResult fromPath;
        ASSERT_TRUE(PollStatus(StatusAddress(server) + Mount(name), "", fromPath)) << name;
        EXPECT_EQ(fromPath.serverName, std::string("Name ") + name);
    }

    // The same through the detached poll thread, which reports exactly once.
    const auto result = std::make_shared<StatusResult>();
    Completion done;
    EXPECT_TRUE(StartStatusPoll(StatusAddress(server), Mount("poll-b"), [result, done](const StatusResult& r) {
        *result = r;
        done.Signal();
    }));
    ASSERT_TRUE(done.WaitFor(1, 20000));
    EXPECT_EQ(result->serverName, "Name poll-b");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(done.Count(), 1);
}

// A single-port server: the source connects to the port that also serves listeners, and
// the port 5 below it has nothing listening. The poll still fills name and listeners.
TEST(IcecastServerTest, PollerFallsBackToTheSourcePortOfASinglePortServer)
{
    REQUIRE_ICECAST(server);
    const std::string mount = Mount("single-port");
    Server single = server;
    single.port = server.statusPort;
    IcecastClient client;
    ASSERT_TRUE(client.Connect(Config(single, mount, "Single Port"))) << client.LastError();
    ASSERT_FALSE(WaitForSource(server, mount).empty());

    const std::string statusAddress = server.host + ":" + std::to_string(single.port - 5) + mount;
    StatusResult designed;
    ASSERT_FALSE(PollStatus(statusAddress, "", designed)) << "something answers at " << statusAddress;

    StatusPortMemory memory;
    for (int poll = 0; poll < 2; ++poll) {
        StatusResult result;
        ASSERT_TRUE(PollStatus(statusAddress, "", single.port, FetchUrl, memory, result)) << poll;
        EXPECT_EQ(result.serverName, "Single Port");
        EXPECT_EQ(result.listeners, 0);
    }
    EXPECT_EQ(memory.Answered("http://" + server.host + ":" + std::to_string(single.port - 5)),
              server.host + ":" + std::to_string(single.port));
}

TEST(IcecastServerTest, ConnectionTestVerdicts)
{
    REQUIRE_ICECAST(server);
    // A mount per case: a test that got in holds its mount for a moment after closing.
    const std::string hostPort = server.host + ":" + std::to_string(server.port);
    const struct {
        std::string address;
        std::string password;
        ServerVerdict server;
        AuthVerdict auth;
    } cases[] = {
        {hostPort + Mount("check-1"), server.password, ServerVerdict::Reachable, AuthVerdict::Accepted},
        {"http://" + hostPort + Mount("check-2"), server.password, ServerVerdict::Reachable, AuthVerdict::Accepted},
        {hostPort + Mount("check-3"), server.password + "-not", ServerVerdict::Reachable, AuthVerdict::Refused},
        {hostPort + Mount("check-4"), "", ServerVerdict::Reachable, AuthVerdict::NotTested},
        {hostPort, server.password, ServerVerdict::Unreachable, AuthVerdict::NotTested},
    };
    for (const auto& c : cases) {
        Completion done;
        const int32_t generation = BeginConnectionTest();
        ASSERT_TRUE(StartConnectionTest(generation, c.address, c.password, [done] { done.Signal(); }));
        ASSERT_TRUE(done.WaitFor(1, 20000)) << c.address;
        EXPECT_EQ(ConnectionTestServerResult(), c.server) << c.address << " " << c.password;
        EXPECT_EQ(ConnectionTestAuthResult(), c.auth) << c.address << " " << c.password;
    }
}

TEST(IcecastServerTest, SupersededConnectionTestStaysSilent)
{
    REQUIRE_ICECAST(server);
    const std::string address = server.host + ":" + std::to_string(server.port) + Mount("gen");
    Completion stale;
    Completion current;
    const int32_t first = BeginConnectionTest();
    const int32_t second = BeginConnectionTest();
    ASSERT_TRUE(StartConnectionTest(first, address, server.password, [stale] { stale.Signal(); }));
    ASSERT_TRUE(StartConnectionTest(second, address, server.password + "-not", [current] { current.Signal(); }));
    ASSERT_TRUE(current.WaitFor(1, 20000));
    EXPECT_FALSE(stale.WaitFor(1, 2000));
    EXPECT_EQ(ConnectionTestServerResult(), ServerVerdict::Reachable);
    EXPECT_EQ(ConnectionTestAuthResult(), AuthVerdict::Refused);
}

} // namespace
