#include "engine/StreamEngine.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "base/Log.h"
#include "base/Utf8.h"
#include "audio/BlockLevel.h"
#include "audio/TruePeakLimiter.h"
#include "icecast/IcecastClient.h"
#include "icecast/ServerAddress.h"
#include "icecast/TlsSession.h"

ProgramConfig SingleOutputProgram(const EngineConfig& config)
{
    ProgramConfig program;
    program.captureFormat = config.captureFormat;
    program.device = config.device;
    program.processing = config.processing;
    program.silenceThresholdDb = config.silenceThresholdDb;
    program.recordEnabled = config.recordEnabled;
    program.recordFolder = config.recordFolder;
    program.recordSplitMinutes = config.recordSplitMinutes;
    program.encodings.push_back({config.encoder, config.server.mountPoint});
    return program;
}

ProgramConfig SessionProgram(const std::vector<const EngineConfig*>& outputs)
{
    ProgramConfig program = SingleOutputProgram(*outputs.front());
    float widest = CodecOvershootDb(program.processing.codecFamily, program.processing.codecHeVersion,
                                    program.processing.codecBitrate);
    for (size_t i = 1; i < outputs.size(); ++i) {
        const EngineConfig& output = *outputs[i];
        AddEncoding(program, {output.encoder, output.server.mountPoint});
        const float overshoot = CodecOvershootDb(output.processing.codecFamily, output.processing.codecHeVersion,
                                                 output.processing.codecBitrate);
        if (overshoot > widest) {
            widest = overshoot;
            program.processing.codecFamily = output.processing.codecFamily;
            program.processing.codecHeVersion = output.processing.codecHeVersion;
            program.processing.codecBitrate = output.processing.codecBitrate;
        }
    }
    return program;
}

StreamEngine::StreamEngine()
{
    config.server.port = 8000;
}

StreamEngine::~StreamEngine()
{
    titleWatcher.Stop();
    Stop();
    // A failed start leaves the sender parked on the open queue: Stop joins it
    // whenever it runs; an engine that never reached Stop joins it here.
    if (subscribed) {
        program->Unsubscribe(encoding, &queue);
        subscribed = false;
    }
    if (sender.joinable()) {
        queue.Close();
        sender.join();
    }
    if (ownsProgram)
        program->Stop();
    program.reset();
    client.reset();
}

void StreamEngine::SetState(EngineState next)
{
    std::lock_guard<std::mutex> guard(statusLock);
    state.store(next);
}

void StreamEngine::Publish(EngineState next, const std::string& text)
{
    std::lock_guard<std::mutex> guard(statusLock);
    state.store(next);
    statusMessage = text;
}

std::string StreamEngine::GetStatusMessage() const
{
    std::lock_guard<std::mutex> guard(statusLock);
    return statusMessage;
}

bool StreamEngine::Fail(const std::string& text)
{
    std::lock_guard<std::mutex> guard(statusLock);
    if (state.load() != EngineState::Error) {
        state.store(EngineState::Error);
        statusMessage = text;
    }
    return false;
}

bool StreamEngine::FailSettings(const std::string& text)
{
    settingsFault = true;
    return Fail(text);
}

void StreamEngine::FailWhileStreaming(const std::string& text)
{
    std::lock_guard<std::mutex> guard(statusLock);
    if (state.load() == EngineState::Streaming) {
        state.store(EngineState::Error);
        statusMessage = text;
    }
}

bool StreamEngine::Initialize(const EngineConfig& configuration)
{
    config = configuration;
    SetState(EngineState::Connecting);
    // Before any device is opened: the port is wrong whatever else is right.
    const std::string portProblem = ServerPortProblem(config.configuredPort);
    if (!portProblem.empty())
        return FailSettings(portProblem);
    const std::string tlsProblem = ServerTlsProblem(config.server.tls);
    if (!tlsProblem.empty())
        return FailSettings(tlsProblem);
    const std::string typeProblem = ServerTypeProblem(config);
    if (!typeProblem.empty())
        return FailSettings(typeProblem);

    ownsProgram = !config.sharedProgram;
    program = ownsProgram ? std::make_shared<ProgramSource>(SingleOutputProgram(config)) : config.sharedProgram;
    config.sharedProgram.reset();
    std::string problem;
    if (!program->Open(problem))
        return Fail(problem);
    encoding = program->FindEncoding(config.encoder);
    if (encoding < 0)
        return Fail("Failed to initialize AAC encoder: the output's encoding is not part of the program");
    streamRate = program->StreamRate(encoding);
    frameTime = program->FrameTime(encoding);
    // Frames shorter than half the gathering limit (AAC-LC at 44.1 kHz and up) leave two
    // at a time: half the sender's wake-ups and socket writes, for at most two frames'
    // time of delay. Longer ones leave as they come. An output among several is different:
    // its sender's wake-ups are nearly all it adds to the session, so its frames leave in
    // bundles of about a tenth of a second (a listener's player buffers seconds).
    if (!ownsProgram) {
        const int64_t frames = std::max<int64_t>(2, (kSharedSendGathering + frameTime - std::chrono::nanoseconds(1)) / frameTime);
        queue.SetGathering(frames * frameTime);
    } else if (2 * frameTime <= kMaxSendGathering) {
        queue.SetGathering(2 * frameTime);
    }

    IcecastConfig server = config.server;
    server.streamSampleRate = static_cast<uint16_t>(streamRate);
    client = std::make_shared<IcecastClient>();
    if (!client->Connect(server)) {
        if (server.host.empty() || server.port == 0)
            return FailSettings("Check your Icecast server configuration.\nGo to Settings \xe2\x86\x92 Server.");
        return Fail("Failed to connect to Icecast server: " + client->LastError());
    }
    // The connection's title goes out at once from the watcher's worker, beside the
    // start: neither the file nor the server's answer delays the first audio byte.
    if (!config.titleFile.empty() || !config.server.streamName.empty())
        StartTitleWatcher();
    Publish(EngineState::Idle, "Engine initialized successfully");
    return true;
}

bool StreamEngine::Start()
{
    const EngineState current = state.load();
    if (current == EngineState::Streaming)
        return true;
    if (current != EngineState::Idle)
        return false;
    if (!Program())
        return Fail("Failed to start audio capture");

    stopRequested = false;
    consecutiveSendFailures.store(0);
    startTime = std::chrono::steady_clock::now();
    queue.Reset();
    try {
        sender = std::thread([this] { SenderLoop(); });
    } catch (const std::system_error&) {
        return Fail("Failed to start sender thread");
    }
    // Streaming before the first frame, so that a failure of the sender or the capture,
    // which counts only while streaming, can never be overwritten by this line.
    Publish(EngineState::Streaming, "Streaming");
    program->Subscribe(encoding, {&queue, [this] { OnFrameRefused(); },
                                  [this] { FailWhileStreaming(kInputLostText); }});
    subscribed = true;
    if (!program->Start())
        return Fail("Failed to start audio capture");
    return true;
}

void StreamEngine::StartTitleWatcher()
{
    // The watcher's sends may outlive this engine by a few seconds (TitleWatcher::Stop):
    // they own a copy of the server's parameters. A title that does not arrive leaves
    // the stream as it is; the log says why.
    IcecastConfig server = config.server;
    server.streamSampleRate = static_cast<uint16_t>(streamRate);
    // With several outputs, each line names its server.
    const std::string label =
        ownsProgram ? std::string() : CombineServerAddress(server.host, server.port, server.mountPoint) + ": ";
    TitleWatcher::Send send = [server, label](const std::string& title) {
        const TitleUpdateResult sent = SendTitleUpdate(server, title);
        LogLine("Engine", label + (sent.reason.empty() ? "Title: " + title : sent.reason));
    };
    // The server takes no title update for an Ogg stream, and Shoutcast 2 carries the
    // titles in the stream: they go there, on this engine's program or connection.
    if (auto inStream = InStreamTitleSender()) {
        send = [inStream, label](const std::string& title) {
            LogLine("Engine", label + (inStream(title) ? "Title: " + title : "Title not sent: the connection is gone"));
        };
    }
    const auto onAir = [this] { return state.load() == EngineState::Streaming; };
    if (!titleWatcher.Start(config.titleFile, TitleFollower(server.streamName), send, onAir,
                            static_cast<size_t>(std::max<int32_t>(config.outputNumber, 1))))
        LogLine("Engine", "The title file is not followed: no thread for it");
}

std::function<bool(const std::string& title)> StreamEngine::InStreamTitleSender() const
{
    if (Program() && program->TitlesInBand(encoding)) {
        return [shared = program, at = encoding](const std::string& title) {
            shared->SetTitle(at, title);
            return true;
        };
    }
    if (client && config.server.serverType == ServerType::Shoutcast2)
        return [inStream = client](const std::string& title) { return inStream->SendTitleMessage(title); };
    return {};
}

void StreamEngine::Stop()
{
    const EngineState current = state.load();
    if (current == EngineState::Idle || current == EngineState::Stopped)
        return;
    stopRequested = true;
    titleWatcher.Stop();
    // The only output's program ends with it: its last frames go into the queue. An
    // output of several leaves the session's program running for the others.
    if (program && ownsProgram)
        program->Stop();
    if (subscribed) {
        program->Unsubscribe(encoding, &queue);
        subscribed = false;
    }
    queue.Close();
    if (sender.joinable())
        sender.join();
    if (client)
        client->Disconnect();
    Publish(EngineState::Stopped, "Stopped");
}

int32_t StreamEngine::ConsecutiveSendFailures() const
{
    const int32_t failures = consecutiveSendFailures.load();
    const auto started = sendStarted.load();
    if (failures > 0 || started == 0 || state.load() != EngineState::Streaming)
        return failures;
    const auto waited = std::chrono::steady_clock::now().time_since_epoch() -
                        std::chrono::steady_clock::duration(started);
    return waited > frameTime ? 1 : 0;
}

StreamStats StreamEngine::GetStats() const
{
    StreamStats stats;
    {
        std::lock_guard<std::mutex> guard(statsLock);
        stats.sendCount = sendCount;
        stats.bytesSent = bytesSent;
    }
    if (program) {
        stats.levelLeft = program->LevelLeft();
        stats.levelRight = program->LevelRight();
    }
    if (state.load() == EngineState::Streaming) {
        const auto elapsed = std::chrono::steady_clock::now() - startTime;
        stats.elapsedSeconds =
            static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() / 1000000000);
    }
    return stats;
}

void StreamEngine::UpdateProcessing(const ProcessingParams& params)
{
    if (program)
        program->UpdateProcessing(params);
}

std::chrono::steady_clock::time_point StreamEngine::LastSoundTime() const
{
    return program ? program->LastSoundTime() : startTime;
}

LoudnessReading StreamEngine::Loudness() const
{
    return Program() ? program->Loudness(encoding) : LoudnessReading{};
}

RecordingState StreamEngine::Recording() const
{
    return Program() ? program->Recording(encoding) : RecordingState::Off;
}

ArchiveProgress StreamEngine::RecordingProgress() const
{
    return Program() ? program->RecordingProgress(encoding) : ArchiveProgress{};
}

std::string StreamEngine::RecordingProblem() const
{
    return Program() ? program->RecordingProblem(encoding) : std::string();
}

std::string ServerPortProblem(int64_t configuredPort)
{
    if (configuredPort >= 0 && configuredPort <= 65535)
        return {};
    return "Server port " + std::to_string(configuredPort) +
           " is out of range (1-65535).\nGo to Settings \xe2\x86\x92 Server.";
}

namespace {

std::string ServerTypeAlert(const std::string& serverTypeProblem)
{
    if (serverTypeProblem.empty())
        return {};
    return serverTypeProblem + "\nGo to Settings \xe2\x86\x92 Server.";
}

} // namespace

std::string ServerTypeProblem(const EngineConfig& config)
{
    return ServerTypeAlert(config.serverTypeProblem);
}

std::string ServerTlsProblem(const TlsOptions& tls)
{
    if (!tls.enabled || tls.fingerprint.empty() || NormaliseFingerprint(tls.fingerprint))
        return {};
    // The value as written, shortened: a pasted certificate must not fill the alert.
    constexpr size_t kShown = 100;
    std::string shown(Utf8Prefix(tls.fingerprint, kShown));
    if (shown.size() < tls.fingerprint.size())
        shown += "...";
    return "The setting tlsFingerprint \"" + shown +
           "\" is not a SHA-256 fingerprint (64 hex digits, colons allowed).\n"
           "Give the server certificate's SHA-256 there, or leave it empty.";
}

std::string SendStreamTitle(const IcecastConfig& server, int64_t configuredPort, const std::string& serverTypeProblem,
                            const std::string& title)
{
    std::string problem = ServerPortProblem(configuredPort);
    if (problem.empty())
        problem = ServerTlsProblem(server.tls);
    if (problem.empty())
        problem = ServerTypeAlert(serverTypeProblem);
    if (problem.empty() && (server.host.empty() || server.port == 0))
        problem = "no server in the settings (host and port under [Icecast])";
    if (!problem.empty())
        return problem;
    return SendTitleUpdate(server, title).reason;
}

float UpdatePeakMeters(const int16_t* samples, size_t count, uint16_t channels, std::atomic<float>& left,
                       std::atomic<float>& right)
{
    const size_t c = std::max<size_t>(channels, 1);
    float peakLeft = 0.0f;
    float peakRight = 0.0f;
    for (size_t i = 0; i < count; i += c) {
        peakLeft = std::max(peakLeft, static_cast<float>(std::abs(static_cast<int>(samples[i]))) / 32768.0f);
        if (c >= 2 && i + 1 < count)
            peakRight = std::max(peakRight, static_cast<float>(std::abs(static_cast<int>(samples[i + 1]))) / 32768.0f);
    }
    if (c < 2)
        peakRight = peakLeft;
    left.store(FallingPeak(left.load(), peakLeft, StreamEngine::kMeterFall));
    right.store(FallingPeak(right.load(), peakRight, StreamEngine::kMeterFall));
    return std::max(peakLeft, peakRight);
}

// A send may hold the connection for seconds; the capture thread must never wait on
// the network, so it breaks the connection off and the sender closes it.
void StreamEngine::OnFrameRefused()
{
    if (state.load() == EngineState::Streaming) {
        client->Abort();
        FailWhileStreaming("Send buffer overflow (network too slow)");
    }
}

void StreamEngine::SenderLoop()
{
    uint8_t buffer[kSendChunkBytes];
    for (;;) {
        if (queue.IsClosedAndEmpty())
            return;
        const uint64_t n = queue.Take(buffer, sizeof(buffer));
        if (n == 0)
            continue;
        if (!client || !client->IsConnected()) {
            if (state.load() != EngineState::Streaming)
                return;
            FailWhileStreaming(client ? client->LastError() : "Icecast client unavailable");
            return;
        }
        sendStarted.store(std::chrono::steady_clock::now().time_since_epoch().count());
        const bool sent = client->Send(buffer, n);
        sendStarted.store(0);
        if (sent) {
            {
                std::lock_guard<std::mutex> guard(statsLock);
                bytesSent += n;
                sendCount += 1;
            }
            consecutiveSendFailures.store(0);
            continue;
        }
        const int32_t failures = consecutiveSendFailures.fetch_add(1) + 1;
        if (!client->IsConnected()) {
            FailWhileStreaming(client->LastError());
            return;
        }
        if (failures >= kMaxSendFailures) {
            client->Disconnect();
            FailWhileStreaming("Connection lost (send timeout)");
            return;
        }
        std::this_thread::sleep_until(std::chrono::steady_clock::now() + std::chrono::milliseconds(50));
    }
}
