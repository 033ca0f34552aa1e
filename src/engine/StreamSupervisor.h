#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/Log.h"
#include "engine/ConnectionAttempt.h"
#include "engine/DeadAirAlarm.h"
#include "engine/EngineConfig.h"
#include "engine/EngineRetirement.h"
#include "engine/EngineState.h"
#include "icecast/ServerAddress.h"

// The user's view of the stream, which the Start button shows: Idle before a start and
// after a stop, Online on air, Reconnecting and Disconnected alternating through a
// reconnection countdown, Offline after a loss without reconnection.
enum class StreamPhase { Idle, Online, Reconnecting, Disconnected, Offline };

// The Start button's caption for a phase: "Start", "Online", "Reconnecting",
// "Disconnected", "Offline".
const char* PhaseCaption(StreamPhase phase);

// Timing of supervision, in 100 ms ticks.
inline constexpr int32_t kReconnectDelayTicks = 50;
inline constexpr int32_t kStatusPollTicks = 50;
inline constexpr int32_t kNetCheckTicks = 30;

// The supervision fields of the application object.
struct SupervisionState {
    bool streamingActive = false;
    StreamPhase phase = StreamPhase::Idle;
    int32_t reconnectCountdown = 0;
    uint32_t tickCount = 0;
    int32_t statusPollTicks = 0;
    int32_t netCheckTicks = 0;
    bool netCheckInFlight = false;
    bool statusPollInFlight = false;
    bool statusResultArrived = false;
    // A connection attempt runs on its own thread; its result is awaited.
    bool attemptRunning = false;
    InternetState internetState = InternetState::Unknown;
    std::string statusText = "Idle";
    std::string startTimeText;
    std::string serverName;
    std::string streamTitle;
    int32_t listeners = -1;
    // The dead-air alarm stands (DeadAirAlarm on the engine's last sound).
    bool deadAir = false;
    // Attempts to rebuild a lost stream since the supervisor was made, for monitoring.
    uint32_t reconnects = 0;
};

// What supervision asks of its front end (the main window or the command-line loop).
struct SupervisionHooks {
    // The phase changed (state.phase holds it already).
    std::function<void(StreamPhase phase)> setPhase;
    std::function<void(bool enabled)> enableStart;
    std::function<void(bool enabled)> enableStop;
    std::function<void(const std::string& title, const std::string& text)> alert;
    // Repaint at once, as a connection attempt begins.
    std::function<void()> repaintNow;
    // Repaint on the next occasion (every tick).
    std::function<void()> invalidate;
    // Refresh the settings from the store (ApplyStoredSettings).
    std::function<void()> applySettings;
    // Start one detached status poll / connectivity probe; results come back through
    // OnStatusResult / OnNetCheck on the supervising thread.
    std::function<void(const std::string& statusAddress, const std::string& mountPoint)> startStatusPoll;
    std::function<void()> startProbe;
    // The dead-air alarm started (true) or ended (false); state.deadAir holds it already.
    std::function<void(bool sounding)> deadAirChanged;
    // Local time as "YYYY.MM.DD.hh:mm:ss".
    std::function<std::string()> localTimeText;
    // Runs finish (a stopped engine's Stop and destruction) elsewhere; null: on a worker
    // of the supervisor's EngineRetirement.
    std::function<void(std::function<void()> finish)> retire;
};

// The settings supervision acts on. They belong to the front end, which refreshes them
// through hooks.applySettings before every engine.
struct SupervisedSettings {
    const EngineConfig& stream;
    // "host:port-5/mount", or "" for no status polling.
    const std::string& statusAddress;
    const bool& persistentEncoding;
};

// Formats the current local time for startTimeText.
std::string LocalTimeText();

// "Reconnecting in %ds..." for the ticks left.
std::string ReconnectCountdownText(int32_t ticksLeft);

// Runs one attempt's job on a thread of its own and hands the job's result, when not
// null, back to the supervising thread's OnAttemptResult (by a posted message, an inbox).
template <class Engine>
using AttemptLauncher = std::function<void(AttemptJob<Engine> job)>;

// Starts, stops and keeps up one stream on a 100 ms tick. Every decision is taken on the
// one supervising thread; only the connection attempt (the engine's Initialize) runs
// elsewhere, and its result completes the start or reconnection that launched it.
// Engines are created anew for every start and every reconnection. Engine is
// StreamEngine in the product and a scripted stand-in in tests.
template <class Engine>
class StreamSupervisor {
public:
    StreamSupervisor(SupervisedSettings supervisedSettings, SupervisionHooks supervisionHooks,
                     AttemptLauncher<Engine> attemptLauncher)
        : settings(supervisedSettings), hooks(std::move(supervisionHooks)), launcher(std::move(attemptLauncher))
    {
    }

    // An attempt still under way is abandoned: its thread frees its engine.
    ~StreamSupervisor()
    {
        AbandonAttempt();
        engine.reset();
    }

    StreamSupervisor(const StreamSupervisor&) = delete;
    StreamSupervisor& operator=(const StreamSupervisor&) = delete;

    void StartStreaming();
    void StopStreaming();
    void SupervisionTick();

    // The finished attempt of the job last launched; a stale or abandoned one is dropped.
    void OnAttemptResult(std::unique_ptr<ConnectionAttempt<Engine>> attempt);
    // Forgets the attempt under way, if any: its result will be dropped.
    void AbandonAttempt();
    bool AttemptRunning() const { return state.attemptRunning; }

    // A status poll's result (serverName, title, listeners), or null when the poll
    // failed: the values stay, and the next poll is scheduled either way.
    template <class Result>
    void OnStatusResult(const Result* result)
    {
        if (result) {
            state.serverName = result->serverName;
            state.streamTitle = result->title;
            state.listeners = result->listeners;
        }
        state.statusResultArrived = true;
    }
    // A connectivity probe's result.
    void OnNetCheck(bool reachable);

    // Supervises one output among several: a failed start is not alerted but treated as a
    // lost stream (with Auto reconnect, the countdown to the next attempt; without it,
    // Offline), since the other outputs stream on. Settings no attempt can mend (the
    // engine's SettingsFault) go Offline at once.
    void SetOneOfSeveral(bool several) { oneOfSeveral = several; }
    bool OneOfSeveral() const { return oneOfSeveral; }

    Engine* CurrentEngine() const { return engine.get(); }
    // Waits, at most limit, for the engines stopped so far to finish their Stop (the last
    // frames to the server and the disk); true when all have. For the end of the process.
    bool WaitForStoppedEngines(std::chrono::milliseconds limit) const { return retirement.WaitAll(limit); }
    SupervisionState state;

private:
    void LaunchAttempt(bool reconnection);
    void AttemptReconnect();
    void CompleteStart(ConnectionAttempt<Engine>& attempt);
    void CompleteReconnect(ConnectionAttempt<Engine>& attempt);
    void FailStart(const char* title);
    void SetPhase(StreamPhase phase);
    void UpdateDeadAir();
    // "Output N (host:port/mount): " for the log of an output among several.
    std::string OutputLabel() const;
    void Hook(const std::function<void()>& f) { if (f) f(); }
    // Hands a replaced or stopped engine over to be stopped and destroyed off this thread.
    void Retire(std::unique_ptr<Engine> old);

    SupervisedSettings settings;
    bool oneOfSeveral = false;
    SupervisionHooks hooks;
    AttemptLauncher<Engine> launcher;
    std::unique_ptr<Engine> engine;
    DeadAirAlarm deadAirAlarm;
    EngineRetirement retirement;
    // The generation of the attempt that is awaited; shared with the attempt threads,
    // which check it to learn that they were abandoned.
    std::shared_ptr<std::atomic<uint64_t>> generation = std::make_shared<std::atomic<uint64_t>>(0);
};

#include "engine/StreamSupervisorImpl.h"
