#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "audio/InputLevelMonitor.h"
#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "base/DetachedWorker.h"
#include "control/ControlServer.h"
#include "control/SessionSnapshot.h"
#include "engine/InputMeters.h"
#include "engine/OutputStates.h"
#include "engine/StatusTexts.h"
#include "engine/StreamEngine.h"
#include "engine/StreamSupervisor.h"
#include "icecast/FetchUrl.h"
#include "icecast/IcecastClient.h"
#include "icecast/ServerAddress.h"
#include "icecast/StatusPoller.h"

namespace {

std::atomic<bool> stopSignal{false};

// How long the end waits for the stopped engines: twice the send time-out, which ends a
// drain to a stalled server.
constexpr std::chrono::milliseconds kStoppedEnginesWait{2 * IcecastClient::kSendTimeoutMs};

// --seconds for scripts; a year is more than any scheduled stream needs.
constexpr long kMaxStreamSeconds = 366L * 24 * 3600;

extern "C" void OnStopSignal(int)
{
    stopSignal.store(true);
}

// Results of the detached poll, probe and connection attempt threads, waiting for the
// command loop. Shared with the workers, so a worker that outlives the loop still writes
// into live memory.
struct Inbox {
    struct Event {
        size_t output = 0; // which supervisor it is for
        bool isStatus = false;
        std::optional<StatusResult> status; // empty: the poll failed
        bool reachable = false;
        std::unique_ptr<ConnectionAttempt<StreamEngine>> attempt; // set: an attempt's result
    };
    std::mutex lock;
    std::deque<Event> events;

    void Push(Event event)
    {
        std::lock_guard<std::mutex> guard(lock);
        events.push_back(std::move(event));
    }
    std::deque<Event> TakeAll()
    {
        std::lock_guard<std::mutex> guard(lock);
        std::deque<Event> taken;
        taken.swap(events);
        return taken;
    }
};

std::string Meter(float level)
{
    const float clamped = level < 0.0f ? 0.0f : (level > 1.0f ? 1.0f : level);
    const int lit = static_cast<int>(clamped * 20.0f);
    return std::string(static_cast<size_t>(lit), '#') + std::string(static_cast<size_t>(20 - lit), '-');
}

struct StreamView {
    AudioQuality quality;
    bool terminal = false;
};

using Supervisor = StreamSupervisor<StreamEngine>;

// Every output's supervision, the first output's at the front, and the program the
// outputs share while there are several.
struct Session {
    std::vector<std::unique_ptr<Supervisor>> outputs;
    std::vector<size_t> numbers; // each output's number, 1 for the first
    std::shared_ptr<ProgramSource> program;

    Supervisor& First() { return *outputs.front(); }
    const Supervisor& First() const { return *outputs.front(); }
    bool Several() const { return outputs.size() > 1; }
};

// An engine of the session that streams (all share the program's meters), else the
// first output's.
const StreamEngine* MeterEngine(const Session& session)
{
    for (const auto& output : session.outputs) {
        if (OutputOnAir(*output))
            return output->CurrentEngine();
    }
    return session.First().CurrentEngine();
}

std::string StatusLine(const Session& session, const AppSettings& settings, const InputLevelMonitor& monitor,
                       StreamView& view)
{
    const Supervisor& supervisor = session.First();
    const SupervisionState& s = supervisor.state;
    const StreamEngine* engine = supervisor.CurrentEngine();
    StreamStats stats;
    if (engine)
        stats = engine->GetStats();
    const MeterLevels levels = CurrentMeterLevels(MeterEngine(session), monitor);
    const float left = levels.left;
    const float right = levels.right;
    const EngineConfig& c = settings.stream;
    const Indicator internet = InternetIndicator(s.internetState);
    size_t onAir = 0;
    for (const auto& output : session.outputs)
        onAir += OutputOnAir(*output) ? 1 : 0;
    // With several outputs the indicator speaks for all: connected only when every one is.
    const Indicator encoder = OutputsIndicator(
        LiveEncoderIndicator(s.attemptRunning, engine != nullptr, engine ? engine->GetState() : EngineState::Idle,
                             engine ? engine->ConsecutiveSendFailures() : 0),
        onAir, session.outputs.size());
    const Indicator audio = AudioIndicator(view.quality.Update(left, right), s.deadAir);
    std::string line = PhaseCaption(s.phase);
    line += " | Internet: " + internet.text;
    line += " | Encoder: " + encoder.text;
    line += " | Audio: " + audio.text;
    line += " | Name: " + (s.serverName.empty() ? std::string("-") : s.serverName);
    line += " | Title: " + (s.streamTitle.empty() ? std::string("-") : s.streamTitle);
    line += " | Listeners: " + (s.listeners < 0 ? std::string("-") : std::to_string(s.listeners));
    line += " | " + QualityText(c.encoder.bitrate, c.encoder.sampleRate, c.captureFormat.channels, c.encoder.profile,
                            c.encoder.codec);
    line += " | " + ElapsedText(stats.elapsedSeconds);
    line += " | " + DataSentText(stats.bytesSent);
    line += " | L " + Meter(left) + " R " + Meter(right);
    // The loudness is measured only for a line that shows it: on a terminal, or when
    // a loudness feature is on.
    const ProcessingParams& dsp = c.processing;
    if (engine && (view.terminal || dsp.loudnessEnabled || dsp.truePeakEnabled)) {
        const LoudnessReading loudness = engine->Loudness();
        line += " | " + FormatLoudness(loudness.shortTermLufs) + " LUFS | TP " + FormatLoudness(loudness.truePeakDb) +
                " dBTP";
    }
    // While the stream is being built or rebuilt, say so and when.
    if (s.reconnectCountdown > 0 || s.statusText.rfind("Reconnect", 0) == 0 || s.statusText == "Connecting...")
        line += " | " + s.statusText;
    // The stream goes on when its archive fails; the line says that recording stopped.
    if (engine) {
        const std::string recording = engine->RecordingProblem();
        if (!recording.empty())
            line += " | " + recording;
    }
    if (session.Several()) {
        line += " | Outputs:";
        for (size_t i = 0; i < session.outputs.size(); ++i)
            line += (i == 0 ? " " : ", ") + std::to_string(session.numbers[i]) + " " +
                    OutputStateText(*session.outputs[i]);
    }
    return line;
}

// The hooks of one output's supervision (output, the position in the session; stream,
// its settings, which stay in place while the settings are applied again). Only the
// first output probes the network and alerts a failed start.
SupervisionHooks MakeHooks(SettingsStore& store, AppSettings& settings, const Session& session,
                           std::shared_ptr<Inbox> inbox, size_t output, const EngineConfig& stream,
                           std::string& alertText, const ProbeTarget& probeTarget,
                           const std::function<void()>& repaintNow)
{
    SupervisionHooks hooks;
    // As an attempt begins, the line says so at once, as the window repaints.
    hooks.repaintNow = [&repaintNow] {
        if (repaintNow)
            repaintNow();
    };
    hooks.alert = [&alertText](const std::string& title, const std::string& text) { alertText = title + ": " + text; };
    // The session's program is handed to every output's engine with the settings.
    hooks.applySettings = [&store, &settings, &session] {
        ApplyCliSettings(store, settings);
        AttachProgram(settings, session.program);
    };
    hooks.startStatusPoll = [inbox, output, &stream](const std::string& address, const std::string& mount) {
        const IcecastConfig& server = stream.server;
        StartStatusPoll(address, mount, server, [inbox, output](const StatusResult& result) {
            Inbox::Event event;
            event.output = output;
            event.isStatus = true;
            event.status = result;
            inbox->Push(std::move(event));
        });
    };
    if (output == 0) {
        hooks.startProbe = [inbox, probeTarget] {
            StartConnectivityProbe(
                [inbox](bool reachable) {
                    Inbox::Event event;
                    event.reachable = reachable;
                    inbox->Push(std::move(event));
                },
                probeTarget);
        };
    }
    return hooks;
}

// Connection attempts run on their own threads and report through the inbox, so the
// loop (and Ctrl+C) never waits for a handshake.
AttemptLauncher<StreamEngine> MakeAttemptLauncher(std::shared_ptr<Inbox> inbox, size_t output)
{
    return [inbox, output](AttemptJob<StreamEngine> job) {
        auto shared = std::make_shared<AttemptJob<StreamEngine>>(std::move(job));
        // Without a thread of its own the attempt runs here: late, but its result arrives.
        const auto work = [inbox, shared, output] {
            Inbox::Event event;
            event.output = output;
            event.attempt = (*shared)();
            if (event.attempt)
                inbox->Push(std::move(event));
        };
        StartDetachedWorker(work, work);
    };
}

void Deliver(Inbox& inbox, Session& session)
{
    for (Inbox::Event& event : inbox.TakeAll()) {
        Supervisor& supervisor = *session.outputs.at(event.output);
        if (event.attempt)
            supervisor.OnAttemptResult(std::move(event.attempt));
        else if (event.isStatus)
            supervisor.OnStatusResult(event.status ? &*event.status : nullptr);
        else
            supervisor.OnNetCheck(event.reachable);
    }
}

// The stream command's options.
struct StreamOptions {
    std::string dir;
    bool hasSeconds = false;
    long seconds = 0;
    ProbeTarget probeTarget;
};

// Reads the options; false after printing why they cannot be used.
bool ReadStreamOptions(const std::vector<std::string>& arguments, StreamOptions& options)
{
    std::vector<std::string> args = arguments;
    std::string error;
    std::string secondsText;
    std::string probeText;
    bool hasProbe = false;
    if (!TakeConfigOption(args, options.dir, error) ||
        !TakeValueOption(args, "seconds", secondsText, options.hasSeconds, error) ||
        !TakeValueOption(args, "probe-target", probeText, hasProbe, error)) {
        PrintError(error);
        return false;
    }
    std::optional<ProbeTarget> probeTarget = DefaultProbeTarget();
    if (hasProbe)
        probeTarget = ParseProbeTarget(probeText, PortText::Whole);
    if (!probeTarget) {
        PrintError("--probe-target needs ADDRESS:PORT");
        return false;
    }
    options.probeTarget = *probeTarget;
    if (!args.empty()) {
        PrintError("unexpected argument: " + args.front());
        return false;
    }
    if (options.hasSeconds && !ParseWholeSeconds(secondsText, kMaxStreamSeconds, options.seconds)) {
        PrintError("--seconds needs a whole number from 1 to " + std::to_string(kMaxStreamSeconds));
        return false;
    }
    return true;
}

// Writes the status line: in place on a terminal, one line each elsewhere.
void PrintStatusLine(bool terminal, const std::string& line)
{
    if (terminal)
        std::printf("\r%s\033[K", line.c_str());
    else
        std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// A status poll still under way is inside libcurl: told to give up (AbandonFetches), it
// ends at its next progress call; give it a moment, so the process does not unload the
// TLS library beneath it (a normal poll takes milliseconds).
void SettleStatusPoll(Inbox& inbox, Session& session)
{
    const auto inFlight = [&session] {
        for (const auto& output : session.outputs) {
            if (output->state.statusPollInFlight)
                return true;
        }
        return false;
    };
    const auto settle = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (inFlight() && std::chrono::steady_clock::now() < settle) {
        for (const Inbox::Event& event : inbox.TakeAll()) {
            if (event.isStatus && !event.attempt)
                session.outputs.at(event.output)->state.statusPollInFlight = false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Builds the supervision of every output: the first, and each further one present and
// enabled, which then stream as one of several around the session's program.
void BuildSession(Session& session, SettingsStore& store, AppSettings& settings, std::shared_ptr<Inbox> inbox,
                  std::string& alertText, const ProbeTarget& probeTarget, const std::function<void()>& repaintNow)
{
    const auto add = [&](size_t number, SupervisedSettings supervised, const EngineConfig& stream) {
        const size_t position = session.outputs.size();
        session.outputs.push_back(std::make_unique<Supervisor>(
            supervised,
            MakeHooks(store, settings, session, inbox, position, stream, alertText, probeTarget, repaintNow),
            MakeAttemptLauncher(inbox, position)));
        session.numbers.push_back(number);
    };
    add(1, Supervised(settings), settings.stream);
    for (size_t number = 2; number <= kMaxOutputs; ++number) {
        const OutputSettings& output = settings.outputs[number - 2];
        if (output.present && output.enabled)
            add(number, SupervisedOutput(settings, number), output.stream);
    }
    if (!session.Several())
        return;
    for (const auto& output : session.outputs)
        output->SetOneOfSeveral(true);
    session.program = MakeSessionProgram(settings);
    AttachProgram(settings, session.program);
}

// Announces how the first attempts ended: the outputs on air, and why the others are
// not. False when none is on air and none will try again, which ends the command.
bool AnnounceStart(const Session& session, const AppSettings& settings, const std::string& alertText)
{
    if (!session.Several()) {
        if (!session.First().CurrentEngine()) {
            std::fprintf(stderr, "%s\n", alertText.c_str());
            return false;
        }
        std::printf("Streaming to %s\n", OutputName(settings.stream).c_str());
        std::fflush(stdout);
        return true;
    }
    bool alive = false;
    for (size_t i = 0; i < session.outputs.size(); ++i) {
        const Supervisor& output = *session.outputs[i];
        const size_t number = session.numbers[i];
        const EngineConfig& stream = number == 1 ? settings.stream : settings.outputs[number - 2].stream;
        if (OutputOnAir(output))
            std::printf("Streaming to %s\n", OutputName(stream).c_str());
        else
            std::fprintf(stderr, "Output %zu (%s) is not on air: %s\n", number, OutputName(stream).c_str(),
                         output.state.statusText.c_str());
        alive = alive || OutputAlive(output);
    }
    std::fflush(stdout);
    return alive;
}

// The control interface's view of the session and its hands on it: a stop ends every
// output (the program's last frames go out first), a start starts them again.
// controlled tells the command loop that the session has been in the interface's hands.
SessionControls MakeSessionControls(Session& session, AppSettings& settings, const InputLevelMonitor& monitor,
                                    bool& controlled)
{
    SessionControls controls;
    controls.snapshot = [&session, &settings, &monitor] {
        std::vector<SessionOutput> outputs;
        for (size_t i = 0; i < session.outputs.size(); ++i) {
            const size_t number = session.numbers[i];
            const EngineConfig& stream = number == 1 ? settings.stream : settings.outputs[number - 2].stream;
            outputs.push_back({number, session.outputs[i].get(), &stream});
        }
        const StreamEngine* meters = MeterEngine(session);
        return TakeSessionSnapshot(outputs, CurrentMeterLevels(meters, monitor), meters);
    };
    controls.stop = [&session, &settings, &controlled] {
        controlled = true;
        if (session.program)
            session.program->Stop();
        for (const auto& output : session.outputs)
            output->StopStreaming();
        // A stopped program has flushed its encoders: the next start gets a new one, as
        // the window's next session does.
        if (session.program) {
            session.program = MakeSessionProgram(settings);
            AttachProgram(settings, session.program);
        }
        std::printf("Stopped by the control interface\n");
        std::fflush(stdout);
    };
    controls.start = [&session, &controlled] {
        controlled = true;
        for (const auto& output : session.outputs)
            output->StartStreaming();
    };
    return controls;
}

} // namespace

// The program's main job without a window: stream the configured input to the
// configured servers, keep them up, and show a live status line until Ctrl+C.
int RunStreamCommand(const std::vector<std::string>& arguments)
{
    StreamOptions options;
    if (!ReadStreamOptions(arguments, options))
        return kExitUsage;

    SettingsStore store;
    AppSettings settings;
    LoadConfiguredSettings(options.dir, store, settings);

    StreamView view;
    std::string alertText;
    auto inbox = std::make_shared<Inbox>();
    std::function<void()> repaintNow;
    Session session;
    BuildSession(session, store, settings, inbox, alertText, options.probeTarget, repaintNow);
    Supervisor& supervisor = session.First();

    InputLevelMonitor monitor;
    monitor.SetParams(settings.stream.processing);
    const bool terminal = OutputIsTerminal();
    view.terminal = terminal;
    repaintNow = [&] { PrintStatusLine(terminal, StatusLine(session, settings, monitor, view)); };

    // The control interface, when the settings ask for it; settings it cannot use end the
    // command before the stream starts, so a service fails where it can be seen.
    ControlServer control;
    // Once the interface has stopped or started the session, it is its to end: a stop,
    // a failed start or a loss leaves the command waiting for the next start.
    bool controlled = false;
    const ControlSettings controlSettings = ReadControlSettings(store);
    if (controlSettings.enabled) {
        std::string problem;
        if (!control.Open(controlSettings, problem)) {
            PrintError(problem);
            return kExitFailure;
        }
        std::printf("Control interface on %s\n", controlSettings.listen.c_str());
    }
    const SessionControls controls = MakeSessionControls(session, settings, monitor, controlled);

    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);

    for (const auto& output : session.outputs)
        output->StartStreaming();
    // The first attempts' end is announced once: on air, or the alert and out.
    bool announced = false;

    // A line a second for a reader; the journal keeps every line, so one per status poll.
    const uint32_t lineTicks = OutputIsJournal() ? 50 : 10;
    const auto tick = std::chrono::milliseconds(100);
    auto next = std::chrono::steady_clock::now();
    const auto deadline = next + std::chrono::seconds(options.seconds);
    int exitStatus = kExitOk;
    bool lostTold = false; // the loss of the stream was told, while the interface keeps the command
    const auto attemptsRunning = [&session] {
        for (const auto& output : session.outputs) {
            if (output->AttemptRunning())
                return true;
        }
        return false;
    };
    for (uint32_t ticks = 0;; ++ticks) {
        if (stopSignal.load() || (options.hasSeconds && std::chrono::steady_clock::now() >= deadline))
            break;
        Deliver(*inbox, session);
        if (!announced && !attemptsRunning()) {
            announced = true;
            if (!AnnounceStart(session, settings, alertText) && !controlled) {
                exitStatus = kExitFailure;
                break;
            }
        }
        for (const auto& output : session.outputs)
            output->SupervisionTick();
        if (control.IsOpen())
            control.Serve(controls);
        // The only output lost without reconnection ends the command; of several, the
        // last one that could still come back.
        bool lost = supervisor.state.phase == StreamPhase::Offline;
        if (session.Several()) {
            lost = announced;
            for (const auto& output : session.outputs)
                lost = lost && !OutputAlive(*output);
        }
        // In the interface's hands the command stays to be started again through it; a
        // loss (not a stop) is told once.
        if (lost && controlled) {
            bool failed = false;
            for (const auto& output : session.outputs)
                failed = failed || output->state.phase == StreamPhase::Offline;
            if (!lostTold && failed)
                std::fprintf(stderr, "%sStream lost: %s\n", terminal ? "\n" : "", supervisor.state.statusText.c_str());
            lostTold = lostTold || failed;
            lost = false;
        } else if (!lost) {
            lostTold = false;
        }
        // The meters follow the input while no engine streams, as the window's do; not
        // before the first attempt ends, so the device is opened once while it connects.
        if (!lost && announced)
            KeepInputMonitor(monitor, settings.stream, MeterEngine(session));

        // While the first attempt runs, the "Connecting..." line printed as it began stays.
        if (announced && (terminal || ticks % lineTicks == 0 || lost))
            PrintStatusLine(terminal, StatusLine(session, settings, monitor, view));
        if (lost) {
            std::fprintf(stderr, "%sStream lost: %s\n", terminal ? "\n" : "", supervisor.state.statusText.c_str());
            exitStatus = kExitFailure;
            break;
        }
        // Every 100 ms while the ticks keep up; a tick that overran is followed by the
        // next one 100 ms after it returned, as a window timer fires: missed ticks are
        // not made up in a burst.
        const auto returned = std::chrono::steady_clock::now();
        next += tick;
        if (next < returned)
            next = returned + tick;
        std::this_thread::sleep_until(next);
    }
    control.Close();
    monitor.Stop();
    // The program's last frames go to every output before they close.
    if (session.program)
        session.program->Stop();
    if (exitStatus == kExitOk) {
        for (const auto& output : session.outputs)
            output->StopStreaming();
        std::printf("%sStopped\n", terminal ? "\n" : "");
        std::fflush(stdout);
    }
    // The stopped engines finish on their workers: the last frames reach the server (or
    // the send time-out ends the wait) and the archive, before the process ends.
    bool delivered = true;
    for (const auto& output : session.outputs)
        delivered = output->WaitForStoppedEngines(kStoppedEnginesWait) && delivered;
    if (!delivered)
        std::fprintf(stderr, "The last frames were not all delivered: the network or the disk did not answer\n");
    AbandonFetches();
    SettleStatusPoll(*inbox, session);
    return exitStatus;
}
