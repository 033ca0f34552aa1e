#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/LoudnessMeter.h"
#include "engine/ArchiveRecorder.h"
#include "engine/EngineConfig.h"
#include "engine/EngineState.h"
#include "engine/ProgramSource.h"
#include "engine/TitleWatcher.h"
#include "icecast/SendQueue.h"

// Peak meters of one block of interleaved samples with channels per frame: a side takes
// the larger of the block's peak and its stored level less 15 % (FallingPeak). A mono
// block shows its one channel on both sides. Returns the block's peak over all channels.
float UpdatePeakMeters(const int16_t* samples, size_t count, uint16_t channels, std::atomic<float>& left,
                      std::atomic<float>& right);

// The status line that refuses a configured port outside 1..65535, naming it; "" for a
// port that can be used (0 included, which the connection refuses by the usual rule).
std::string ServerPortProblem(int64_t configuredPort);

// The status line that refuses TLS settings no connection could use, naming the key: with
// TLS on, a tlsFingerprint that is not a SHA-256 (NormaliseFingerprint: 64 hex digits,
// colons allowed, any case). "" when the options can be tried; with TLS off they are
// not looked at.
std::string ServerTlsProblem(const TlsOptions& tls);

// Sends one title update to an output's server and mount, after the checks a start
// makes before it connects (serverTypeProblem: EngineConfig's): "" when the server took
// it, else why not.
std::string SendStreamTitle(const IcecastConfig& server, int64_t configuredPort, const std::string& serverTypeProblem,
                            const std::string& title);

// The status line that refuses a serverType or streamId the settings hold but no
// connection can use (EngineConfig::serverTypeProblem); "" otherwise.
std::string ServerTypeProblem(const EngineConfig& config);

class IcecastClient;

// The program of the only output: its input, processing, archive and one encoding.
ProgramConfig SingleOutputProgram(const EngineConfig& config);
// The program a session of several outputs shares: the first output's input, processing
// and archive, one encoding per distinct encoder record (named by the first mount that
// uses it), and the codec values of the encoding that needs the widest true-peak margin.
ProgramConfig SessionProgram(const std::vector<const EngineConfig*>& outputs);

// Counters and meters of one stream.
struct StreamStats {
    uint64_t sendCount = 0;      // successful socket writes (chunks of at most 4096 bytes)
    uint64_t bytesSent = 0;
    float levelLeft = 0.0f;      // peak meters, 0..1 of full scale
    float levelRight = 0.0f;     // equals levelLeft for a mono stream
    uint32_t elapsedSeconds = 0; // since Start while streaming, else 0
};

// One stream attempt of one output: the send queue and a sender thread writing to the
// Icecast source connection, fed by a program (capture, processing, meters, resampling,
// AAC encoding and the archive, ProgramSource). The only output's engine makes its own
// program, which lives as long as the engine; an engine of one of several outputs is
// given the session's (EngineConfig::sharedProgram). It never reconnects by itself;
// supervision makes a new engine instead.
class StreamEngine {
public:
    static constexpr uint64_t kSendChunkBytes = 4096;
    static constexpr int32_t kMaxSendFailures = 40;
    static constexpr float kMeterFall = 0.85f;
    // The longest a frame waits in the send queue for the next one to leave with it.
    static constexpr std::chrono::milliseconds kMaxSendGathering{50};
    // About how long an output among several gathers frames before its sender wakes.
    static constexpr std::chrono::milliseconds kSharedSendGathering{120};
    // The status line when the capture ends by itself while streaming.
    static constexpr const char* kInputLostText = "Audio input lost (the device stopped delivering sound)";

    StreamEngine();
    ~StreamEngine();
    StreamEngine(const StreamEngine&) = delete;
    StreamEngine& operator=(const StreamEngine&) = delete;

    // Builds the components and opens the source connection; blocks for the handshake.
    bool Initialize(const EngineConfig& config);
    // Starts the sender thread and the capture. True when streaming.
    bool Start();
    // Stops capture, flushes the encoder, drains and joins the sender, disconnects.
    void Stop();

    // State and status line are published together under the status lock: a reader
    // that sees a state and then takes the status line gets that state's text.
    EngineState GetState() const { return state.load(); }
    std::string GetStatusMessage() const;
    StreamStats GetStats() const;
    // Failed writes since the last one that succeeded; a write that has waited longer than
    // a frame's time counts as one, so that a server that stops reading shows as
    // Buffering at once rather than when the send time-out ends the stream.
    int32_t ConsecutiveSendFailures() const;
    // When the last processed block with a peak above the dead-air threshold reached the
    // encoder; the start while none has yet.
    std::chrono::steady_clock::time_point LastSoundTime() const;
    // Why the archive recording of this stream stopped; "" while it records or is off.
    std::string RecordingProblem() const;
    // Whether this stream is archived: off, on, or stopped (RecordingProblem says why)
    // and trying again every ArchiveOptions::retryInterval.
    RecordingState Recording() const;
    ArchiveProgress RecordingProgress() const;
    // Replaces the processing parameters of a running stream; filter states carry on.
    void UpdateProcessing(const ProcessingParams& params);

    // Loudness and true peak of what the encoder receives, measured from the first call
    // on (until then the meter costs nothing).
    LoudnessReading Loudness() const;

    // Whether the start failed on settings that no retry can mend (a port out of range,
    // a fingerprint that is none, no server at all).
    bool SettingsFault() const { return settingsFault.load(); }

    // How a title from outside the title file (the control interface) reaches this
    // stream when the server's title update cannot carry it: an Opus stream takes it in
    // band, a Shoutcast 2 connection as a metadata message. Empty otherwise. The sender
    // owns what it needs: any thread may call it, also after this engine is gone. False
    // when the connection is gone.
    std::function<bool(const std::string& title)> InStreamTitleSender() const;

    // The stream rate the encoder runs at (the device rate when no resampling).
    uint32_t StreamRate() const { return streamRate; }

private:
    // State changes, each under the status lock together with its text.
    void SetState(EngineState next);
    void Publish(EngineState next, const std::string& text);
    // To Error with text, unless already in Error: the first failure's text wins.
    bool Fail(const std::string& text);
    bool FailSettings(const std::string& text);
    // The same for failures of a running stream, which count only while streaming.
    void FailWhileStreaming(const std::string& text);
    // A frame the send queue refused, on the capture thread.
    void OnFrameRefused();
    void SenderLoop();
    void StartTitleWatcher();
    bool Program() const { return program && encoding >= 0; }

    EngineConfig config;
    std::atomic<EngineState> state{EngineState::Idle};
    std::string statusMessage;
    mutable std::mutex statusLock;
    uint64_t sendCount = 0;
    uint64_t bytesSent = 0;
    mutable std::mutex statsLock;
    std::shared_ptr<IcecastClient> client;
    // The program that feeds this output, the encoding it takes, and whether this engine
    // made it (the only output) or shares the session's.
    std::shared_ptr<ProgramSource> program;
    int32_t encoding = -1;
    bool ownsProgram = false;
    bool subscribed = false;
    SendQueue queue;
    std::thread sender;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> settingsFault{false};
    std::atomic<int32_t> consecutiveSendFailures{0};
    // When the write under way began (steady clock ticks), 0 between writes; and how
    // long one frame of the stream lasts.
    std::atomic<std::chrono::steady_clock::rep> sendStarted{0};
    std::chrono::steady_clock::duration frameTime{std::chrono::milliseconds(21)};
    std::chrono::steady_clock::time_point startTime;
    uint32_t streamRate = 0;
    // Sends the connection's title and, with a title file, the later ones.
    TitleWatcher titleWatcher;
};
