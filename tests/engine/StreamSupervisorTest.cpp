#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/StreamSupervisor.h"
#include "settings/AppSettings.h"

namespace {

// A scripted engine: each new engine takes the next results from the script, and the
// test can make the current one fail as a lost connection would.
struct EngineScript {
    std::vector<bool> initializeResults; // consumed front to back; true when exhausted
    std::vector<bool> startResults;
    std::string failureMessage = "Failed to connect to Icecast server: Connection refused";
    int constructed = 0;
    int destroyed = 0;
    int stopped = 0;
    std::vector<uint16_t> initializedPorts;
};

EngineScript script;

bool Next(std::vector<bool>& results)
{
    if (results.empty())
        return true;
    const bool result = results.front();
    results.erase(results.begin());
    return result;
}

class FakeEngine {
public:
    FakeEngine() { ++script.constructed; }
    ~FakeEngine() { ++script.destroyed; }

    bool Initialize(const EngineConfig& config)
    {
        script.initializedPorts.push_back(config.server.port);
        state = EngineState::Connecting;
        if (!Next(script.initializeResults)) {
            state = EngineState::Error;
            message = script.failureMessage;
            return false;
        }
        state = EngineState::Idle;
        message = "Engine initialized successfully";
        return true;
    }
    bool Start()
    {
        if (!Next(script.startResults)) {
            state = EngineState::Error;
            message = "Failed to start audio capture";
            return false;
        }
        state = EngineState::Streaming;
        message = "Streaming";
        return true;
    }
    void Stop()
    {
        ++script.stopped;
        state = EngineState::Stopped;
        message = "Stopped";
    }
    EngineState GetState() const { return state; }
    std::string GetStatusMessage() const { return message; }

    void Fail(const std::string& reason)
    {
        state = EngineState::Error;
        message = reason;
    }

private:
    EngineState state = EngineState::Idle;
    std::string message;
};

struct Recorder {
    std::vector<std::string> captions;
    std::vector<std::string> alerts;
    bool startEnabled = true;
    bool stopEnabled = false;
    int polls = 0;
    int probes = 0;
    int applied = 0;
    std::string polledAddress;
    std::string polledMount;
};

class StreamSupervisorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        script = EngineScript{};
        settings.stream.server.port = 8005;
        settings.stream.server.mountPoint = "/live";
    }

    SupervisionHooks Hooks()
    {
        SupervisionHooks h;
        h.setCaption = [this](const std::string& c) { rec.captions.push_back(c); };
        h.enableStart = [this](bool e) { rec.startEnabled = e; };
        h.enableStop = [this](bool e) { rec.stopEnabled = e; };
        h.alert = [this](const std::string& title, const std::string& text) { rec.alerts.push_back(title + "|" + text); };
        h.applySettings = [this] { ++rec.applied; };
        h.startStatusPoll = [this](const std::string& address, const std::string& mount) {
            ++rec.polls;
            rec.polledAddress = address;
            rec.polledMount = mount;
        };
        h.startProbe = [this] { ++rec.probes; };
        h.localTimeText = [] { return std::string("2026.12.08.09:05:03"); };
        return h;
    }

    std::string Caption() const { return rec.captions.empty() ? "" : rec.captions.back(); }

    AppSettings settings;
    Recorder rec;
};

TEST_F(StreamSupervisorTest, StartGoesOnlineAndASecondStartDoesNothing)
{
    StreamSupervisor<FakeEngine> s(Supervised(settings), Hooks());
    s.StartStreaming();
    EXPECT_EQ(Caption(), "Online");
    EXPECT_TRUE(rec.stopEnabled);
    EXPECT_EQ(s.state.statusText, "STREAMING");
    EXPECT_TRUE(s.state.streamingActive);
    EXPECT_EQ(s.state.startTimeText, "2026.12.08.09:05:03");
    EXPECT_EQ(rec.applied, 1);
    EXPECT_EQ(script.initializedPorts, std::vector<uint16_t>{8005});

    s.StartStreaming();
    EXPECT_EQ(script.constructed, 1);
    EXPECT_EQ(rec.applied, 1);
}

TEST_F(StreamSupervisorTest, FailedStartsAlertAndLeaveNoEngine)
{
    StreamSupervisor<FakeEngine> s(Supervised(settings), Hooks());
    script.initializeResults = {false};
    script.failureMessage = "Check your Icecast server configuration.\nGo to Settings \xe2\x86\x92 Server.";
    s.StartStreaming();
    ASSERT_EQ(rec.alerts.size(), 1u);
    EXPECT_EQ(rec.alerts[0], "Connection Failed|Check your Icecast server configuration.\nGo to Settings \xe2\x86\x92 Server.");
    EXPECT_EQ(s.CurrentEngine(), nullptr);
    EXPECT_TRUE(rec.captions.empty()) << "the caption stays as it was";
    EXPECT_EQ(s.state.statusText, script.failureMessage);

    script.startResults = {false};
    s.StartStreaming();
    ASSERT_EQ(rec.alerts.size(), 2u);
    EXPECT_EQ(rec.alerts[1], "Start Failed|Failed to start audio capture");
    EXPECT_EQ(s.CurrentEngine(), nullptr);
    EXPECT_EQ(script.destroyed, 2);
}

// A window's alert runs a message loop, so supervision ticks go on while it is open: a
// reconnection that succeeds meanwhile must not be undone when the alert closes.
TEST_F(StreamSupervisorTest, ReconnectionDuringAFailedStartsAlertSurvivesIt)
{
    settings.persistentEncoding = true;
    StreamSupervisor<FakeEngine>* self = nullptr;
    SupervisionHooks hooks = Hooks();
    hooks.alert = [this, &self](const std::string& title, const std::string&) {
        rec.alerts.push_back(title);
        for (int i = 0; i < kReconnectDelayTicks; ++i)
            self->SupervisionTick();
    };
    StreamSupervisor<FakeEngine> s(Supervised(settings), hooks);
    self = &s;
    s.StartStreaming();
    s.CurrentEngine()->Fail("Server closed connection");
    s.SupervisionTick(); // the loss: the countdown runs
    ASSERT_GT(s.state.reconnectCountdown, 0);

    script.initializeResults = {false, true};
    s.StartStreaming();
    ASSERT_EQ(rec.alerts, std::vector<std::string>{"Connection Failed"});
    ASSERT_NE(s.CurrentEngine(), nullptr);
    EXPECT_EQ(s.CurrentEngine()->GetState(), EngineState::Streaming);
    EXPECT_TRUE(s.state.streamingActive);
    EXPECT_EQ(Caption(), "Online");
}

TEST_F(StreamSupervisorTest, LossWithoutPersistenceGoesOfflineWithTheReason)
{
    StreamSupervisor<FakeEngine> s(Supervised(settings), Hooks());
    s.StartStreaming();
    s.SupervisionTick();
    EXPECT_EQ(Caption(), "Online");
    s.CurrentEngine()->Fail("Connection lost (send timeout)");
    s.SupervisionTick();
    EXPECT_EQ(Caption(), "Offline");
    EXPECT_EQ(s.state.statusText, "Connection lost (send timeout)");
    EXPECT_EQ(s.CurrentEngine(), nullptr);
    EXPECT_EQ(script.stopped, 1);
    EXPECT_TRUE(rec.startEnabled);
    EXPECT_FALSE(rec.stopEnabled);
    EXPECT_TRUE(rec.alerts.empty());
    EXPECT_FALSE(s.state.streamingActive);
}

TEST_F(StreamSupervisorTest, LossWithPersistenceCountsDownBlinksAndReconnects)
{
    settings.persistentEncoding = true;
    StreamSupervisor<FakeEngine> s(Supervised(settings), Hooks());
    s.StartStreaming();
    // Bring tickCount to 9, so the loss is noticed on tick 10.
    for (int i = 0; i < 9; ++i)
        s.SupervisionTick();
    FakeEngine* failed = s.CurrentEngine();
    failed->Fail("Server closed connection");

    std::vector<std::string> texts;
    std::vector<std::string> captions;
    for (int tick = 1; tick <= 49; ++tick) {
        s.SupervisionTick();
        texts.push_back(s.state.statusText);
        captions.push_back(Caption());
        EXPECT_EQ(s.CurrentEngine(), failed) << "the failed engine stays until the attempt";
    }
    // Five for 9 ticks, then 4, 3, 2 and 1 for 10 ticks each.
    EXPECT_EQ(texts[0], "Reconnecting in 5s...");
    EXPECT_EQ(texts[8], "Reconnecting in 5s...");
    EXPECT_EQ(texts[9], "Reconnecting in 4s...");
    EXPECT_EQ(texts[48], "Reconnecting in 1s...");
    // Ticks 10..19 are odd in tenths: "Disconnected"; 20..29 "Reconnecting", and so on.
    EXPECT_EQ(captions[0], "Disconnected");
    EXPECT_EQ(captions[9], "Disconnected");
    EXPECT_EQ(captions[10], "Reconnecting");
    EXPECT_EQ(captions[19], "Reconnecting");
    EXPECT_EQ(captions[20], "Disconnected");
    EXPECT_EQ(script.constructed, 1);

    s.SupervisionTick(); // the 50th tick from the loss: the attempt
    EXPECT_EQ(script.constructed, 2);
    EXPECT_EQ(Caption(), "Online");
    EXPECT_EQ(s.state.statusText, "STREAMING");
    EXPECT_TRUE(s.state.streamingActive);
    EXPECT_EQ(s.state.startTimeText, "2026.12.08.09:05:03");
    EXPECT_EQ(s.state.reconnectCountdown, 0);
}

TEST_F(StreamSupervisorTest, FailedReconnectionRetriesEveryFiftyTicksWithoutLimit)
{
    settings.persistentEncoding = true;
    StreamSupervisor<FakeEngine> s(Supervised(settings), Hooks());
    s.StartStreaming();
    s.CurrentEngine()->Fail("Connection lost (error 104)");
    script.initializeResults = {false, false};
    for (int i = 0; i < 50; ++i)
        s.SupervisionTick();
    EXPECT_EQ(script.constructed, 2);
    EXPECT_EQ(s.state.statusText, "Reconnect failed, retrying...");
    EXPECT_EQ(Caption(), "Reconnecting");
    EXPECT_EQ(s.state.reconnectCountdown, 50);
    EXPECT_NE(s.CurrentEngine(), nullptr) << "the failed attempt's engine stays current";
    EXPECT_TRUE(rec.alerts.empty());

    for (int i = 0; i < 49; ++i)
        s.SupervisionTick();
    EXPECT_EQ(script.constructed, 2);
    s.SupervisionTick();
    EXPECT_EQ(script.constructed, 3);
    for (int i = 0; i < 50; ++i)
        s.SupervisionTick();
    EXPECT_EQ(script.constructed, 4);
    EXPECT_EQ(Caption(), "Online");
    EXPECT_TRUE(s.state.streamingActive);
}

TEST_F(StreamSupervisorTest, StopDuringCountdownCancelsIt)
{
    settings.persistentEncoding = true;
    StreamSupervisor<FakeEngine> s(Supervised(settings), Hooks());
    s.StartStreaming();
    s.CurrentEngine()->Fail("Server closed connection");
    for (int i = 0; i < 20; ++i)
        s.SupervisionTick();
    s.StopStreaming();
    EXPECT_EQ(Caption(), "Start");
    EXPECT_EQ(s.state.statusText, "Stopped");
    EXPECT_EQ(s.CurrentEngine(), nullptr);
    EXPECT_EQ(s.state.startTimeText, "");
    EXPECT_FALSE(rec.stopEnabled);
    for (int i = 0; i < 100; ++i)
        s.SupervisionTick();
    EXPECT_EQ(script.constructed, 1);
}

TEST_F(StreamSupervisorTest, StatusPollsRunOnlyWithAnAddressFiftyTicksAfterTheLastResult)
{
    StreamSupervisor<FakeEngine> s(Supervised(settings), Hooks());
    for (int i = 0; i < 200; ++i)
        s.SupervisionTick();
    EXPECT_EQ(rec.polls, 0);

    settings.statusAddress = "radio.example:8000/live";
    for (int i = 0; i < 49; ++i)
        s.SupervisionTick();
    EXPECT_EQ(rec.polls, 0);
    s.SupervisionTick();
    EXPECT_EQ(rec.polls, 1);
    EXPECT_EQ(rec.polledAddress, "radio.example:8000/live");
    EXPECT_EQ(rec.polledMount, "/live");

    // No new poll while one is in flight, however long it takes.
    for (int i = 0; i < 120; ++i)
        s.SupervisionTick();
    EXPECT_EQ(rec.polls, 1);

    struct Result {
        std::string serverName;
        std::string title;
        int32_t listeners;
    } result{"Test Server", "Now Playing", 7};
    s.OnStatusResult(&result);
    EXPECT_EQ(s.state.listeners, 7);
    // A failed poll keeps the values but still frees the schedule.
    for (int i = 0; i < 50; ++i)
        s.SupervisionTick();
    EXPECT_EQ(rec.polls, 2);
    s.OnStatusResult<Result>(nullptr);
    EXPECT_EQ(s.state.serverName, "Test Server");
    EXPECT_EQ(s.state.streamTitle, "Now Playing");
    for (int i = 0; i < 50; ++i)
        s.SupervisionTick();
    EXPECT_EQ(rec.polls, 3);
}

TEST_F(StreamSupervisorTest, ProbeStartsOnTheFirstTickThenThirtyTicksAfterEachResult)
{
    StreamSupervisor<FakeEngine> s(Supervised(settings), Hooks());
    s.SupervisionTick();
    EXPECT_EQ(rec.probes, 1);
    for (int i = 0; i < 100; ++i)
        s.SupervisionTick();
    EXPECT_EQ(rec.probes, 1) << "one probe at a time";

    s.OnNetCheck(false);
    EXPECT_EQ(s.state.internetState, InternetState::Unreachable);
    for (int i = 0; i < 29; ++i)
        s.SupervisionTick();
    EXPECT_EQ(rec.probes, 1);
    s.SupervisionTick();
    EXPECT_EQ(rec.probes, 2);
    s.OnNetCheck(true);
    EXPECT_EQ(s.state.internetState, InternetState::Reachable);
    EXPECT_FALSE(s.state.netCheckInFlight);
}

TEST(ReconnectCountdownTextTest, RoundsTheSecondsUp)
{
    EXPECT_EQ(ReconnectCountdownText(49), "Reconnecting in 5s...");
    EXPECT_EQ(ReconnectCountdownText(41), "Reconnecting in 5s...");
    EXPECT_EQ(ReconnectCountdownText(40), "Reconnecting in 4s...");
    EXPECT_EQ(ReconnectCountdownText(1), "Reconnecting in 1s...");
    EXPECT_EQ(ReconnectCountdownText(0), "Reconnecting in 0s...");
}

TEST(LocalTimeTextTest, HasTheDottedLayout)
{
    const std::string text = LocalTimeText();
    ASSERT_EQ(text.size(), 19u);
    EXPECT_EQ(text[4], '.');
    EXPECT_EQ(text[7], '.');
    EXPECT_EQ(text[10], '.');
    EXPECT_EQ(text[13], ':');
    EXPECT_EQ(text[16], ':');
}

} // namespace
