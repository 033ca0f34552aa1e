#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/EngineConfig.h"
#include "engine/EngineState.h"

// Internet reachability as last probed: 0 no result yet, 1 reachable, 3 unreachable.
enum class InternetState : int32_t { Unknown = 0, Reachable = 1, Unreachable = 3 };

// Start button captions, the user's view of the stream state.
inline constexpr const char* kCaptionStart = "Start";
inline constexpr const char* kCaptionOnline = "Online";
inline constexpr const char* kCaptionReconnecting = "Reconnecting";
inline constexpr const char* kCaptionDisconnected = "Disconnected";
inline constexpr const char* kCaptionOffline = "Offline";

// Timing of supervision, in 100 ms ticks.
inline constexpr int32_t kReconnectDelayTicks = 50;
inline constexpr int32_t kStatusPollTicks = 50;
inline constexpr int32_t kNetCheckTicks = 30;

// The supervision fields of the application object.
struct SupervisionState {
    bool streamingActive = false;
    int32_t reconnectCountdown = 0;
    uint32_t tickCount = 0;
    int32_t statusPollTicks = 0;
    int32_t netCheckTicks = 0;
    bool netCheckInFlight = false;
    bool statusPollInFlight = false;
    bool statusResultArrived = false;
    InternetState internetState = InternetState::Unknown;
    std::string statusText = "Idle";
    std::string startTimeText;
    std::string serverName;
    std::string streamTitle;
    int32_t listeners = -1;
};

// What supervision asks of its front end (the main window or the command-line loop).
struct SupervisionHooks {
    std::function<void(const std::string& caption)> setCaption;
    std::function<void(bool enabled)> enableStart;
    std::function<void(bool enabled)> enableStop;
    std::function<void(const std::string& title, const std::string& text)> alert;
    // Repaint at once, before a blocking handshake.
    std::function<void()> repaintNow;
    // Repaint on the next occasion (every tick).
    std::function<void()> invalidate;
    // Refresh the settings from the store (ApplyStoredSettings).
    std::function<void()> applySettings;
    // Start one detached status poll / connectivity probe; results come back through
    // OnStatusResult / OnNetCheck on the supervising thread.
    std::function<void(const std::string& statusAddress, const std::string& mountPoint)> startStatusPoll;
    std::function<void()> startProbe;
    // Local time as "YYYY.MM.DD.hh:mm:ss".
    std::function<std::string()> localTimeText;
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

// Starts, stops and keeps up one stream on a 100 ms tick. Everything runs on the one
// supervising thread; engines are created anew for every start and every reconnection.
// Engine is StreamEngine in the product and a scripted stand-in in tests.
template <class Engine>
class StreamSupervisor {
public:
    StreamSupervisor(SupervisedSettings supervisedSettings, SupervisionHooks supervisionHooks)
        : settings(supervisedSettings), hooks(std::move(supervisionHooks))
    {
    }

    ~StreamSupervisor() { engine.reset(); }

    StreamSupervisor(const StreamSupervisor&) = delete;
    StreamSupervisor& operator=(const StreamSupervisor&) = delete;

    void StartStreaming();
    void StopStreaming();
    void SupervisionTick();

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

    Engine* CurrentEngine() const { return engine.get(); }
    SupervisionState state;

private:
    bool AttemptReconnect();
    void FailStart(const char* title);
    void Hook(const std::function<void()>& f) { if (f) f(); }

    SupervisedSettings settings;
    SupervisionHooks hooks;
    std::unique_ptr<Engine> engine;
};

#include "engine/StreamSupervisorImpl.h"
