#pragma once

// Member definitions of StreamSupervisor; included by StreamSupervisor.h only.

// Whether engine failed on settings no retry mends; an engine that cannot tell never did.
template <class Engine>
bool SettingsFault(const Engine& engine)
{
    if constexpr (requires { engine.SettingsFault(); })
        return engine.SettingsFault();
    else
        return false;
}

template <class Engine>
void StreamSupervisor<Engine>::StartStreaming()
{
    if (engine && engine->GetState() == EngineState::Streaming)
        return;
    // The attempt under way (a start or a reconnection) already does what was asked.
    if (state.attemptRunning)
        return;
    state.statusText = "Connecting...";
    Hook(hooks.repaintNow);

    Retire(std::move(engine));
    Hook(hooks.applySettings);
    // Stop abandons the attempt, so it answers from the first moment.
    if (hooks.enableStop)
        hooks.enableStop(true);
    LaunchAttempt(false);
}

template <class Engine>
void StreamSupervisor<Engine>::LaunchAttempt(bool reconnection)
{
    auto attempt = std::make_unique<ConnectionAttempt<Engine>>();
    attempt->generation = generation->fetch_add(1) + 1;
    attempt->reconnection = reconnection;
    attempt->engine = std::make_unique<Engine>();
    state.attemptRunning = true;
    // Last: a launcher may complete the attempt before it returns.
    launcher(AttemptJob<Engine>(std::move(attempt), settings.stream, generation));
}

template <class Engine>
void StreamSupervisor<Engine>::AbandonAttempt()
{
    if (!state.attemptRunning)
        return;
    state.attemptRunning = false;
    generation->fetch_add(1);
}

template <class Engine>
void StreamSupervisor<Engine>::OnAttemptResult(std::unique_ptr<ConnectionAttempt<Engine>> attempt)
{
    // A result nobody waits for any more goes with its record.
    if (!attempt || !state.attemptRunning || attempt->generation != generation->load())
        return;
    state.attemptRunning = false;
    if (attempt->reconnection)
        CompleteReconnect(*attempt);
    else
        CompleteStart(*attempt);
}

template <class Engine>
void StreamSupervisor<Engine>::CompleteStart(ConnectionAttempt<Engine>& attempt)
{
    Retire(std::move(engine));
    engine = std::move(attempt.engine);
    if (!attempt.initialized) {
        FailStart("Connection Failed");
        return;
    }
    if (!engine->Start()) {
        FailStart("Start Failed");
        return;
    }
    state.statusText = "STREAMING";
    state.streamingActive = true;
    state.reconnectCountdown = 0;
    state.startTimeText = hooks.localTimeText ? hooks.localTimeText() : LocalTimeText();
    SetPhase(StreamPhase::Online);
    if (hooks.enableStop)
        hooks.enableStop(true);
}

template <class Engine>
void StreamSupervisor<Engine>::FailStart(const char* title)
{
    state.statusText = engine->GetStatusMessage();
    if (oneOfSeveral) {
        LogLine("Engine", OutputLabel() + state.statusText);
        if (settings.persistentEncoding && !SettingsFault(*engine)) {
            // The failed engine stays current until the attempt, as after a loss.
            state.streamingActive = false;
            state.reconnectCountdown = kReconnectDelayTicks;
            SetPhase(StreamPhase::Reconnecting);
            return;
        }
        Retire(std::move(engine));
        state.reconnectCountdown = 0;
        SetPhase(StreamPhase::Offline);
        return;
    }
    const std::string text = state.statusText;
    // The failed engine goes before the alert: a window's alert runs a message loop,
    // and the ticks it lets through may build the next engine of a pending
    // reconnection meanwhile, which must survive the alert.
    Retire(std::move(engine));
    // Stop stays for a countdown still pending from before the start.
    if (hooks.enableStop)
        hooks.enableStop(state.reconnectCountdown > 0);
    if (hooks.alert)
        hooks.alert(title, text);
}

template <class Engine>
void StreamSupervisor<Engine>::StopStreaming()
{
    AbandonAttempt();
    state.reconnectCountdown = 0;
    state.startTimeText.clear();
    state.streamingActive = false;
    Retire(std::move(engine));
    state.statusText = "Stopped";
    UpdateDeadAir();
    SetPhase(StreamPhase::Idle);
    if (hooks.enableStart)
        hooks.enableStart(true);
    if (hooks.enableStop)
        hooks.enableStop(false);
}

template <class Engine>
void StreamSupervisor<Engine>::AttemptReconnect()
{
    state.statusText = "Reconnecting...";
    state.reconnects += 1;
    Hook(hooks.repaintNow);
    Retire(std::move(engine));
    Hook(hooks.applySettings);
    LaunchAttempt(true);
}

template <class Engine>
void StreamSupervisor<Engine>::CompleteReconnect(ConnectionAttempt<Engine>& attempt)
{
    Retire(std::move(engine));
    engine = std::move(attempt.engine);
    if (attempt.initialized && engine->Start()) {
        state.statusText = "STREAMING";
        state.streamingActive = true;
        SetPhase(StreamPhase::Online);
        if (hooks.enableStop)
            hooks.enableStop(true);
        return;
    }
    // The failed engine stays current until the next attempt.
    if (oneOfSeveral)
        LogLine("Engine", OutputLabel() + engine->GetStatusMessage());
    state.statusText = "Reconnect failed, retrying...";
    state.streamingActive = false;
    state.reconnectCountdown = kReconnectDelayTicks;
    SetPhase(StreamPhase::Reconnecting);
}

template <class Engine>
void StreamSupervisor<Engine>::SupervisionTick()
{
    state.tickCount += 1;

    // A running stream that is no longer streaming has been lost.
    if (engine && state.reconnectCountdown == 0 && state.streamingActive &&
        engine->GetState() != EngineState::Streaming) {
        state.streamingActive = false;
        if (settings.persistentEncoding) {
            if (oneOfSeveral)
                LogLine("Engine", OutputLabel() + engine->GetStatusMessage());
            state.reconnectCountdown = kReconnectDelayTicks;
        } else {
            state.statusText = engine->GetStatusMessage();
            if (oneOfSeveral)
                LogLine("Engine", OutputLabel() + state.statusText);
            Retire(std::move(engine));
            SetPhase(StreamPhase::Offline);
            if (hooks.enableStart)
                hooks.enableStart(true);
            if (hooks.enableStop)
                hooks.enableStop(false);
        }
    }

    // The countdown waits while an attempt runs: a start from the countdown's wait that
    // fails lets the countdown go on where it was.
    if (settings.persistentEncoding && state.reconnectCountdown > 0 && !state.attemptRunning) {
        state.reconnectCountdown -= 1;
        state.statusText = ReconnectCountdownText(state.reconnectCountdown);
        SetPhase((state.tickCount / 10) % 2 == 0 ? StreamPhase::Reconnecting : StreamPhase::Disconnected);
        if (state.reconnectCountdown == 0)
            AttemptReconnect();
    }

    UpdateDeadAir();

    if (state.statusResultArrived) {
        state.statusResultArrived = false;
        state.statusPollInFlight = false;
    }
    if (!settings.statusAddress.empty() && !state.statusPollInFlight) {
        state.statusPollTicks += 1;
        if (state.statusPollTicks >= kStatusPollTicks) {
            state.statusPollTicks = 0;
            state.statusPollInFlight = true;
            if (hooks.startStatusPoll)
                hooks.startStatusPoll(settings.statusAddress, settings.stream.server.mountPoint);
        }
    }

    if (!state.netCheckInFlight) {
        state.netCheckTicks += 1;
        if (state.internetState == InternetState::Unknown || state.netCheckTicks >= kNetCheckTicks) {
            state.netCheckTicks = 0;
            state.netCheckInFlight = true;
            if (hooks.startProbe)
                hooks.startProbe();
        }
    }

    Hook(hooks.invalidate);
}

template <class Engine>
std::string StreamSupervisor<Engine>::OutputLabel() const
{
    const IcecastConfig& server = settings.stream.server;
    return "Output " + std::to_string(settings.stream.outputNumber) + " (" +
           CombineServerAddress(server.host, server.port, server.mountPoint) + "): ";
}

template <class Engine>
void StreamSupervisor<Engine>::OnNetCheck(bool reachable)
{
    state.netCheckInFlight = false;
    state.internetState = reachable ? InternetState::Reachable : InternetState::Unreachable;
}

template <class Engine>
void StreamSupervisor<Engine>::SetPhase(StreamPhase phase)
{
    state.phase = phase;
    if (hooks.setPhase)
        hooks.setPhase(phase);
}

template <class Engine>
void StreamSupervisor<Engine>::UpdateDeadAir()
{
    const bool onAir = engine && state.streamingActive && state.reconnectCountdown == 0 &&
                       engine->GetState() == EngineState::Streaming;
    const auto now = DeadAirAlarm::Clock::now();
    const DeadAirAlarm::Change change =
        deadAirAlarm.Update(now, onAir ? engine->LastSoundTime() : now, onAir, settings.stream.silenceSeconds);
    if (change == DeadAirAlarm::Change::Started)
        LogLine("Engine", DeadAirStartedText(settings.stream.silenceThresholdDb, settings.stream.silenceSeconds));
    else if (change == DeadAirAlarm::Change::Ended)
        LogLine("Engine", DeadAirEndedText(deadAirAlarm.SilenceSeconds()));
    const bool sounding = deadAirAlarm.Sounding();
    if (sounding == state.deadAir)
        return;
    state.deadAir = sounding;
    if (hooks.deadAirChanged)
        hooks.deadAirChanged(sounding);
}

template <class Engine>
void StreamSupervisor<Engine>::Retire(std::unique_ptr<Engine> old)
{
    if (!old)
        return;
    // The engine's Stop may wait for the network or the disk: it and the destruction
    // finish elsewhere, while the window or the command loop goes on at once.
    auto held = std::make_shared<std::unique_ptr<Engine>>(std::move(old));
    std::function<void()> finish = [held] {
        (*held)->Stop();
        held->reset();
    };
    if (hooks.retire)
        hooks.retire(std::move(finish));
    else
        retirement.Run(std::move(finish));
}
