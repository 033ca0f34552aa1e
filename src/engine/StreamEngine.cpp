#include "engine/StreamEngine.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "base/Log.h"
#include "base/Utf8.h"
#include "audio/AudioCapture.h"
#include "audio/BlockLevel.h"
#include "audio/DynamicsStages.h"
#include "engine/DeadAirAlarm.h"
#include "encoder/AacEncoder.h"
#include "icecast/IcecastClient.h"
#include "icecast/TlsSession.h"

namespace {

// Per capture thread, only ever grown: a steady stream allocates nothing per block.
thread_local std::vector<int16_t> processScratch;
thread_local std::vector<int16_t> resampleScratch;

} // namespace

StreamEngine::StreamEngine()
{
    config.server.port = 8000;
    streamFrameSink = [this](const uint8_t* frame, uint64_t size) { OnStreamFrame(frame, size); };
}

StreamEngine::~StreamEngine()
{
    titleWatcher.Stop();
    Stop();
    // A failed start leaves the sender parked on the open queue: Stop joins it
    // whenever it runs; an engine that never reached Stop joins it here.
    if (sender.joinable()) {
        queue.Close();
        sender.join();
    }
    if (recorder)
        recorder->Finish();
    capture.reset();
    encoder.reset();
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
        return Fail(portProblem);
    const std::string tlsProblem = ServerTlsProblem(config.server.tls);
    if (!tlsProblem.empty())
        return Fail(tlsProblem);

    capture = std::make_unique<AudioCapture>();
    capture->SetDevice(config.device);
    if (!capture->Initialize(config.captureFormat))
        return Fail("Failed to initialize audio capture: " + capture->LastError());

    const uint32_t deviceRate = capture->DeviceRate();
    const uint32_t wanted = config.encoder.sampleRate;
    if (wanted != 0 && wanted != deviceRate) {
        resampler.Configure(deviceRate, wanted, config.encoder.channels);
        LogLine("Engine", "Resampling: " + std::to_string(deviceRate) + " Hz -> " + std::to_string(wanted) + " Hz");
        streamRate = wanted;
    } else {
        resampler.Configure(deviceRate, deviceRate, config.encoder.channels);
        streamRate = deviceRate;
    }

    // The capture thread has not started: the chain is this thread's until Start.
    chain.params = config.processing;
    chain.Configure(deviceRate, config.captureFormat.channels);
    loudness.Configure(streamRate, config.encoder.channels);

    EncoderConfig encoderConfig = config.encoder;
    encoderConfig.sampleRate = streamRate;
    encoder = std::make_unique<AacEncoder>();
    if (!encoder->Open(encoderConfig))
        return Fail("Failed to initialize AAC encoder: " + encoder->LastError());
    // One frame's time: a write that waits longer than that is behind the stream.
    frameTime = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(static_cast<double>(std::max<uint32_t>(encoder->FrameLength(), 1024)) /
                                      std::max<uint32_t>(streamRate, 1)));
    // Frames shorter than half the gathering limit (AAC-LC at 44.1 kHz and up) leave two
    // at a time: half the sender's wake-ups and socket writes, for at most two frames'
    // time of delay. Longer ones leave as they come.
    if (2 * frameTime <= kMaxSendGathering)
        queue.SetGathering(2 * frameTime);

    IcecastConfig server = config.server;
    server.streamSampleRate = static_cast<uint16_t>(streamRate);
    client = std::make_unique<IcecastClient>();
    if (!client->Connect(server)) {
        if (server.host.empty() || server.port == 0)
            return Fail("Check your Icecast server configuration.\nGo to Settings \xe2\x86\x92 Server.");
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
    if (!capture)
        return Fail("Failed to start audio capture");

    stopRequested = false;
    consecutiveSendFailures.store(0);
    startTime = std::chrono::steady_clock::now();
    lastSound.store(startTime.time_since_epoch().count());
    soundThreshold = DeadAirThreshold(config.silenceThresholdDb);
    queue.Reset();
    // A file per connection: this engine's recorder starts with its first frame.
    if (config.recordEnabled) {
        recorder = std::make_unique<ArchiveRecorder>();
        recorder->Start({config.recordFolder, config.server.mountPoint,
                        static_cast<int64_t>(std::max<int32_t>(config.recordSplitMinutes, 0)) * 60});
    }
    try {
        sender = std::thread([this] { SenderLoop(); });
    } catch (const std::system_error&) {
        return Fail("Failed to start sender thread");
    }
    // Streaming before the first block, so that a failure of the sender or the capture,
    // which counts only while streaming, can never be overwritten by this line.
    Publish(EngineState::Streaming, "Streaming");
    const bool started = capture->Start([this](const uint8_t* data, uint64_t size) { OnAudio(data, size); },
                                        [this] { OnCaptureEnded(); });
    if (!started)
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
    const auto send = [server](const std::string& title) {
        const TitleUpdateResult sent = SendTitleUpdate(server, title);
        LogLine("Engine", sent.reason.empty() ? "Title: " + title : sent.reason);
    };
    const auto onAir = [this] { return state.load() == EngineState::Streaming; };
    if (!titleWatcher.Start(config.titleFile, TitleFollower(server.streamName), send, onAir))
        LogLine("Engine", "The title file is not followed: no thread for it");
}

void StreamEngine::Stop()
{
    const EngineState current = state.load();
    if (current == EngineState::Idle || current == EngineState::Stopped)
        return;
    stopRequested = true;
    titleWatcher.Stop();
    if (capture && capture->Running())
        capture->Stop();
    if (encoder) {
        // The capture thread has ended, so this is the only writer left.
        encoder->Flush([this](const uint8_t* frame, uint64_t size) {
            if (queue.Write(frame, size) && recorder)
                recorder->Write(frame, size);
        });
    }
    queue.Close();
    // The archive ends with the encoder's last frame, as the listeners hear it.
    if (recorder)
        recorder->Finish();
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
    stats.levelLeft = levelLeft.load();
    stats.levelRight = levelRight.load();
    if (state.load() == EngineState::Streaming) {
        const auto elapsed = std::chrono::steady_clock::now() - startTime;
        stats.elapsedSeconds =
            static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() / 1000000000);
    }
    return stats;
}

void StreamEngine::UpdateProcessing(const ProcessingParams& params)
{
    pendingParams.Set(params);
}

void StreamEngine::OnAudio(const uint8_t* data, uint64_t size)
{
    if (!encoder || !client || stopRequested.load())
        return;
    const int16_t* block = reinterpret_cast<const int16_t*>(data);
    size_t count = static_cast<size_t>(size / 2);
    pendingParams.TakeInto(chain.params);
    const float ceiling = OutputCeiling(chain.params);
    float knownPeak = -1.0f; // the true-peak limiter's, so the meter need not look again
    if (ProcessingNeeded(chain.params)) {
        if (processScratch.size() < count)
            processScratch.resize(count);
        std::copy(block, block + count, processScratch.begin());
        chain.Process(processScratch.data(), count * 2);
        block = processScratch.data();
        knownPeak = chain.OutputTruePeak();
    } else {
        chain.Pass();
    }
    if (UpdatePeakMeters(block, count, config.captureFormat.channels, levelLeft, levelRight) > soundThreshold)
        lastSound.store(std::chrono::steady_clock::now().time_since_epoch().count(), std::memory_order_relaxed);
    if (resampler.InRate() != resampler.OutRate()) {
        resampler.SetCeiling(ceiling); // the limiters' ceiling holds at the stream rate
        count = resampler.Process(block, count, resampleScratch);
        block = resampleScratch.data();
    }
    // Measures only once someone reads it (the CLI's status line).
    loudness.Add(block, count / std::max<uint16_t>(1, config.encoder.channels), knownPeak);
    encoder->Encode(block, static_cast<uint64_t>(count) * 2, streamFrameSink);
}

std::string ServerPortProblem(int64_t configuredPort)
{
    if (configuredPort >= 0 && configuredPort <= 65535)
        return {};
    return "Server port " + std::to_string(configuredPort) +
           " is out of range (1-65535).\nGo to Settings \xe2\x86\x92 Server.";
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

void StreamEngine::OnStreamFrame(const uint8_t* frame, uint64_t size)
{
    if (queue.Write(frame, size)) {
        if (recorder)
            recorder->Write(frame, size);
        return;
    }
    // A send may hold the connection for seconds; the capture thread must never wait on
    // the network, so it breaks the connection off and the sender closes it.
    if (state.load() == EngineState::Streaming) {
        client->Abort();
        FailWhileStreaming("Send buffer overflow (network too slow)");
    }
}

// The device failed, went away or fell silent for seconds: the stream carries nothing
// any more, so it has failed like a lost connection and supervision takes over.
void StreamEngine::OnCaptureEnded()
{
    if (!stopRequested.load())
        FailWhileStreaming(kInputLostText);
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
