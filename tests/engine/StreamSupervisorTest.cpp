#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/DetachedWorker.h"

#include "engine/EngineRetirement.h"
#include "engine/StatusTexts.h"
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

    // With hold set, Initialize waits until release: a handshake that hangs.
    std::mutex gateLock;
    std::condition_variable gateChanged;
    bool hold = false;
    bool entered = false;
    bool released = false;
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
    ~FakeEngine()
    {
        std::lock_guard<std::mutex> guard(script.gateLock);
        ++script.destroyed;
        script.gateChanged.notify_all();
    }

    bool Initialize(const EngineConfig& config)
    {
        {
            std::unique_lock<std::mutex> guard(script.gateLock);
            script.entered = true;
            script.gateChanged.notify_all();
            script.gateChanged.wait(guard, [] { return !script.hold || script.released; });
        }
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
    std::chrono::steady_clock::time_point LastSoundTime() const { return lastSound; }

    // The last block above the dead-air threshold; sound at construction.
    std::chrono::steady_clock::time_point lastSound = std::chrono::steady_clock::now();

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

using Supervisor = StreamSupervisor<FakeEngine>;
using Attempt = std::unique_ptr<ConnectionAttempt<FakeEngine>>;

class StreamSupervisorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        script.initializeResults.clear();
        script.startResults.clear();
        script.failureMessage = "Failed to connect to Icecast server: Connection refused";
        script.constructed = script.destroyed = script.stopped = 0;
        script.initializedPorts.clear();
        script.hold = script.entered = script.released = false;
        settings.stream.server.port = 8005;
        settings.stream.server.mountPoint = "/live";
    }

    // A supervisor whose attempts run at once, on the calling thread, and report at once:
    // the whole start or reconnection completes inside the call that launched it.
    Supervisor& Make(SupervisionHooks hooks)
    {
        supervisor = std::make_unique<Supervisor>(Supervised(settings), std::move(hooks),
                                                  [this](AttemptJob<FakeEngine> job) {
                                                      if (inlineAttempts)
                                                          supervisor->OnAttemptResult(job());
                                                      else
                                                          jobs.push_back(std::move(job));
                                                  });
        return *supervisor;
    }
    Supervisor& Make() { return Make(Hooks()); }

    // With inlineAttempts off, jobs wait here until the test runs them.
    Attempt RunJob(size_t index) { return jobs.at(index)(); }

    SupervisionHooks Hooks()
    {
        SupervisionHooks h;
        h.setPhase = [this](StreamPhase p) {
            EXPECT_EQ(supervisor->state.phase, p) << "the state holds the phase before the hook runs";
            rec.captions.push_back(PhaseCaption(p));
        };
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
        h.retire = [this](std::function<void()> finish) {
            if (inlineRetire)
                finish();
            else
                retired.push_back(std::move(finish));
        };
        return h;
    }

    std::string Caption() const { return rec.captions.empty() ? "" : rec.captions.back(); }

    AppSettings settings;
    Recorder rec;
    bool inlineAttempts = true;
    // With inlineRetire off, stopped engines wait here until the test finishes them.
    bool inlineRetire = true;
    std::vector<std::function<void()>> retired;
    std::vector<AttemptJob<FakeEngine>> jobs;
    std::unique_ptr<Supervisor> supervisor;
};

TEST_F(StreamSupervisorTest, StartGoesOnlineAndASecondStartDoesNothing)
{
    Supervisor& s = Make();
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
    Supervisor& s = Make();
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
    Supervisor& s = Make(hooks);
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
    Supervisor& s = Make();
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
    Supervisor& s = Make();
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
    Supervisor& s = Make();
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
    Supervisor& s = Make();
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

// Stop and reconnection hand the old engine over and go on: its Stop (the sender's
// drain, the recorder, the close) runs elsewhere, never inside the call.
TEST_F(StreamSupervisorTest, StopAndReconnectionLeaveTheOldEnginesStopToAWorker)
{
    settings.persistentEncoding = true;
    inlineRetire = false;
    Supervisor& s = Make();
    s.StartStreaming();
    s.CurrentEngine()->Fail("Server closed connection");
    for (int i = 0; i < kReconnectDelayTicks; ++i)
        s.SupervisionTick();
    EXPECT_EQ(Caption(), "Online") << "reconnected";
    EXPECT_EQ(script.constructed, 2);
    EXPECT_EQ(script.stopped, 0) << "the failed engine was stopped on the supervising thread";
    s.StopStreaming();
    EXPECT_EQ(Caption(), "Start");
    EXPECT_EQ(s.CurrentEngine(), nullptr);
    EXPECT_EQ(script.stopped, 0) << "the stopped engine was stopped on the supervising thread";
    ASSERT_EQ(retired.size(), 2u);
    for (auto& finish : retired)
        finish();
    EXPECT_EQ(script.stopped, 2);
    EXPECT_EQ(script.destroyed, 2);
}

// What the front ends wait for before the process ends: every stopped engine's finish.
TEST(EngineRetirementTest, WaitAllWaitsForEveryFinish)
{
    EngineRetirement retirement;
    EXPECT_TRUE(retirement.WaitAll(std::chrono::milliseconds(0)));
    struct Gate {
        std::mutex lock;
        std::condition_variable changed;
        bool released = false;
    };
    auto gate = std::make_shared<Gate>();
    auto owned = std::make_shared<int>(1);
    std::weak_ptr<int> watch = owned;
    retirement.Run([gate, owned] {
        std::unique_lock<std::mutex> guard(gate->lock);
        gate->changed.wait(guard, [&] { return gate->released; });
    });
    owned.reset();
    retirement.Run([] {});
    EXPECT_FALSE(retirement.WaitAll(std::chrono::milliseconds(200))) << "one finish still waits";
    {
        std::lock_guard<std::mutex> guard(gate->lock);
        gate->released = true;
        gate->changed.notify_all();
    }
    EXPECT_TRUE(retirement.WaitAll(std::chrono::milliseconds(10000)));
    EXPECT_TRUE(watch.expired()) << "what the finish owned outlived it";
}

TEST_F(StreamSupervisorTest, StatusPollsRunOnlyWithAnAddressFiftyTicksAfterTheLastResult)
{
    Supervisor& s = Make();
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
    Supervisor& s = Make();
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

// The attempt runs apart from the call that starts it; the supervisor keeps ticking and
// completes the start only when the result is handed back.
TEST_F(StreamSupervisorTest, StartCompletesWhenTheAttemptsResultArrives)
{
    inlineAttempts = false;
    Supervisor& s = Make();
    s.StartStreaming();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_TRUE(s.AttemptRunning());
    EXPECT_EQ(s.CurrentEngine(), nullptr) << "the attempt owns its engine until it reports";
    EXPECT_EQ(s.state.statusText, "Connecting...");
    EXPECT_TRUE(rec.stopEnabled) << "Stop abandons the attempt";
    EXPECT_TRUE(script.initializedPorts.empty()) << "Initialize belongs to the attempt's thread";
    const Indicator shown = LiveEncoderIndicator(s.AttemptRunning(), false, EngineState::Idle, 0);
    EXPECT_EQ(shown.text, "Connecting...");

    for (int i = 0; i < 60; ++i)
        s.SupervisionTick();
    EXPECT_EQ(rec.probes, 1) << "ticks go on while the handshake waits";
    s.StartStreaming();
    EXPECT_EQ(jobs.size(), 1u) << "a second start joins the attempt under way";
    EXPECT_TRUE(rec.captions.empty());

    s.OnAttemptResult(RunJob(0));
    EXPECT_FALSE(s.AttemptRunning());
    ASSERT_NE(s.CurrentEngine(), nullptr);
    EXPECT_EQ(s.CurrentEngine()->GetState(), EngineState::Streaming);
    EXPECT_EQ(Caption(), "Online");
    EXPECT_TRUE(rec.stopEnabled);
    EXPECT_EQ(script.initializedPorts, std::vector<uint16_t>{8005});
}

TEST_F(StreamSupervisorTest, FailedAttemptAlertsWhenItsResultArrives)
{
    inlineAttempts = false;
    Supervisor& s = Make();
    script.initializeResults = {false};
    s.StartStreaming();
    EXPECT_TRUE(rec.alerts.empty());
    s.OnAttemptResult(RunJob(0));
    EXPECT_EQ(rec.alerts, std::vector<std::string>{"Connection Failed|" + script.failureMessage});
    EXPECT_EQ(s.CurrentEngine(), nullptr);
    EXPECT_EQ(script.destroyed, 1);
    EXPECT_FALSE(s.AttemptRunning());
    EXPECT_FALSE(rec.stopEnabled);
}

// Stop abandons the attempt wherever it is: not begun, or finished with its result still
// on the way. Either way no alert, no engine, and the attempt's engine is freed.
TEST_F(StreamSupervisorTest, StopAbandonsTheAttemptAndDropsItsResult)
{
    struct Case {
        const char* name;
        bool jobRanBeforeStop;
        bool initializeSucceeds;
    };
    const Case cases[] = {
        {"before the handshake", false, true},
        {"after a handshake that succeeded", true, true},
        {"after a handshake that failed", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        jobs.clear();
        SetUp();
        rec = Recorder{};
        inlineAttempts = false;
        Supervisor& s = Make();
        script.initializeResults = {c.initializeSucceeds};
        s.StartStreaming();
        Attempt finished = c.jobRanBeforeStop ? RunJob(0) : nullptr;
        s.StopStreaming();
        EXPECT_FALSE(s.AttemptRunning());
        EXPECT_EQ(Caption(), "Start");
        EXPECT_EQ(s.state.statusText, "Stopped");
        if (c.jobRanBeforeStop)
            s.OnAttemptResult(std::move(finished));
        else
            EXPECT_EQ(RunJob(0), nullptr) << "an abandoned attempt reports nothing";
        EXPECT_EQ(s.CurrentEngine(), nullptr);
        EXPECT_TRUE(rec.alerts.empty());
        EXPECT_EQ(script.destroyed, 1);
        EXPECT_EQ(script.initializedPorts.size(), c.jobRanBeforeStop ? 1u : 0u);
        EXPECT_FALSE(rec.stopEnabled);
    }
}

TEST_F(StreamSupervisorTest, ReconnectionAttemptsRunApartAndTheCountdownWaitsForThem)
{
    settings.persistentEncoding = true;
    Supervisor& s = Make();
    s.StartStreaming();
    s.CurrentEngine()->Fail("Server closed connection");
    inlineAttempts = false;
    for (int i = 0; i < 50; ++i)
        s.SupervisionTick();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(s.state.statusText, "Reconnecting...");
    EXPECT_EQ(s.CurrentEngine(), nullptr) << "the lost engine goes before the attempt";
    EXPECT_EQ(script.stopped, 1);
    for (int i = 0; i < 120; ++i)
        s.SupervisionTick();
    EXPECT_EQ(jobs.size(), 1u) << "no second attempt while one runs";
    EXPECT_EQ(s.state.reconnectCountdown, 0);

    script.initializeResults = {false};
    s.OnAttemptResult(RunJob(0));
    EXPECT_EQ(s.state.statusText, "Reconnect failed, retrying...");
    EXPECT_EQ(s.state.reconnectCountdown, 50);
    EXPECT_EQ(Caption(), "Reconnecting");
    EXPECT_NE(s.CurrentEngine(), nullptr) << "the failed attempt's engine stays current";
    EXPECT_TRUE(rec.alerts.empty());

    for (int i = 0; i < 50; ++i)
        s.SupervisionTick();
    ASSERT_EQ(jobs.size(), 2u);
    s.OnAttemptResult(RunJob(1));
    EXPECT_EQ(Caption(), "Online");
    EXPECT_TRUE(s.state.streamingActive);
    EXPECT_EQ(s.CurrentEngine()->GetState(), EngineState::Streaming);
}

// A start from the countdown's wait that fails leaves the countdown where it was.
TEST_F(StreamSupervisorTest, StartDuringTheCountdownHoldsItUntilTheResult)
{
    settings.persistentEncoding = true;
    Supervisor& s = Make();
    s.StartStreaming();
    s.CurrentEngine()->Fail("Server closed connection");
    for (int i = 0; i < 20; ++i)
        s.SupervisionTick();
    const int32_t left = s.state.reconnectCountdown;
    ASSERT_GT(left, 0);

    inlineAttempts = false;
    script.initializeResults = {false};
    s.StartStreaming();
    for (int i = 0; i < 100; ++i)
        s.SupervisionTick();
    EXPECT_EQ(s.state.reconnectCountdown, left);
    EXPECT_EQ(jobs.size(), 1u);
    s.OnAttemptResult(RunJob(0));
    EXPECT_EQ(rec.alerts.size(), 1u);
    EXPECT_TRUE(rec.stopEnabled) << "Stop still cancels the pending countdown";
    for (int i = 0; i < left; ++i)
        s.SupervisionTick();
    EXPECT_EQ(jobs.size(), 2u) << "the countdown went on after the failed start";
}

// With real threads, as the product runs them: the supervising thread never waits for a
// hanging handshake, and an abandoned attempt frees its engine on its own thread.
TEST_F(StreamSupervisorTest, AbandonedHangingAttemptFreesItsEngineOnItsOwnThread)
{
    struct Mailbox {
        std::mutex lock;
        std::condition_variable arrived;
        std::vector<Attempt> results;
    };
    auto mailbox = std::make_shared<Mailbox>();
    supervisor = std::make_unique<Supervisor>(Supervised(settings), Hooks(), [mailbox](AttemptJob<FakeEngine> job) {
        auto shared = std::make_shared<AttemptJob<FakeEngine>>(std::move(job));
        const auto work = [mailbox, shared] {
            Attempt result = (*shared)();
            if (!result)
                return;
            std::lock_guard<std::mutex> guard(mailbox->lock);
            mailbox->results.push_back(std::move(result));
            mailbox->arrived.notify_all();
        };
        StartDetachedWorker(work, work);
    });
    Supervisor& s = *supervisor;
    const auto waitFor = [](auto condition) {
        std::unique_lock<std::mutex> guard(script.gateLock);
        script.gateChanged.wait(guard, condition);
    };

    // A normal attempt reports through the mailbox.
    s.StartStreaming();
    {
        std::unique_lock<std::mutex> guard(mailbox->lock);
        mailbox->arrived.wait(guard, [&] { return !mailbox->results.empty(); });
    }
    s.OnAttemptResult(std::move(mailbox->results.front()));
    mailbox->results.clear();
    EXPECT_EQ(Caption(), "Online");
    s.StopStreaming();

    // A hanging one is abandoned while its handshake waits.
    {
        std::lock_guard<std::mutex> guard(script.gateLock);
        script.hold = true;
        script.entered = false;
    }
    s.StartStreaming();
    waitFor([] { return script.entered; });
    s.StopStreaming();
    EXPECT_EQ(s.CurrentEngine(), nullptr);
    EXPECT_EQ(Caption(), "Start");
    {
        std::lock_guard<std::mutex> guard(script.gateLock);
        EXPECT_EQ(script.destroyed, 1) << "the hanging engine is still its thread's";
        script.released = true;
        script.gateChanged.notify_all();
    }
    waitFor([] { return script.destroyed == 2; });
    std::lock_guard<std::mutex> guard(mailbox->lock);
    EXPECT_TRUE(mailbox->results.empty());
    EXPECT_TRUE(rec.alerts.empty());
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

// The alarm follows the engine's last sound on the tick, tells its front end once per
// change, and ends without a "back" when the stream stops under it.
TEST_F(StreamSupervisorTest, DeadAirFollowsTheEnginesLastSound)
{
    settings.stream.silenceSeconds = 20;
    std::vector<bool> changes;
    SupervisionHooks hooks = Hooks();
    hooks.deadAirChanged = [this, &changes](bool sounding) {
        EXPECT_EQ(supervisor->state.deadAir, sounding) << "the state holds the alarm before the hook runs";
        changes.push_back(sounding);
    };
    Supervisor& s = Make(hooks);
    s.StartStreaming();
    s.SupervisionTick();
    EXPECT_FALSE(s.state.deadAir);

    const auto now = std::chrono::steady_clock::now();
    s.CurrentEngine()->lastSound = now - std::chrono::seconds(19);
    s.SupervisionTick();
    EXPECT_FALSE(s.state.deadAir) << "19 s of silence is not yet dead air";

    s.CurrentEngine()->lastSound = now - std::chrono::seconds(25);
    s.SupervisionTick();
    s.SupervisionTick();
    EXPECT_TRUE(s.state.deadAir);
    EXPECT_EQ(changes, (std::vector<bool>{true}));

    s.CurrentEngine()->lastSound = std::chrono::steady_clock::now();
    s.SupervisionTick();
    EXPECT_FALSE(s.state.deadAir);
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));

    // Silent again, then stopped: the alarm goes with the stream.
    s.CurrentEngine()->lastSound = now - std::chrono::seconds(60);
    s.SupervisionTick();
    ASSERT_TRUE(s.state.deadAir);
    s.StopStreaming();
    EXPECT_FALSE(s.state.deadAir);
    EXPECT_EQ(changes, (std::vector<bool>{true, false, true, false}));
}

TEST_F(StreamSupervisorTest, DeadAirNeverSoundsWhenOffOrWhileReconnecting)
{
    settings.stream.silenceSeconds = 0;
    settings.persistentEncoding = true;
    Supervisor& s = Make();
    s.StartStreaming();
    s.CurrentEngine()->lastSound = std::chrono::steady_clock::now() - std::chrono::hours(1);
    s.SupervisionTick();
    EXPECT_FALSE(s.state.deadAir) << "silenceSeconds 0 turns the alarm off";

    settings.stream.silenceSeconds = 5;
    s.CurrentEngine()->Fail("Server closed connection");
    s.SupervisionTick();
    ASSERT_GT(s.state.reconnectCountdown, 0);
    EXPECT_FALSE(s.state.deadAir) << "a lost stream sends no silence";
}

} // namespace
