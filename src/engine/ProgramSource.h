#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/CaptureFormat.h"
#include "audio/DeviceChoice.h"
#include "audio/LoudnessMeter.h"
#include "audio/PendingParams.h"
#include "audio/ProcessingChain.h"
#include "audio/ProcessingParams.h"
#include "encoder/EncoderConfig.h"
#include "engine/ArchiveRecorder.h"

class AudioCapture;
class SendQueue;

// One encoding of the program: the encoder's record and the mount its archive files are
// named after (the first output that uses it).
struct ProgramEncoding {
    EncoderConfig encoder;
    std::string mountPoint;
};

// What a program is made of: one input, one processing chain, and the encodings the
// outputs need. Outputs whose encoder records are equal share one encoding. The
// processing's codec values name the encoding whose true peaks overshoot most, so that
// the limiter's margin holds for every encoding.
struct ProgramConfig {
    CaptureFormat captureFormat;
    DeviceChoice device;
    ProcessingParams processing;
    int32_t silenceThresholdDb = -50;
    bool recordEnabled = false;
    std::string recordFolder;
    int32_t recordSplitMinutes = 60;
    std::vector<ProgramEncoding> encodings;
};

// Whether two encoder records make the same stream, so that one encoder serves both.
bool SameEncoding(const EncoderConfig& a, const EncoderConfig& b);

// Adds encoding to config unless an equal one is there; its position either way.
size_t AddEncoding(ProgramConfig& config, const ProgramEncoding& encoding);

// Interleaved 16-bit blocks from one channel count to another: stereo to mono averages
// the two sides, mono to stereo doubles the one. Returns the samples written to out.
size_t ConvertChannels(const int16_t* in, size_t count, uint16_t from, uint16_t to, std::vector<int16_t>& out);

// Where an output's frames come from: it captures the input, runs the processing chain
// and the meters once, and encodes the result once per encoding, handing each frame to
// every send queue subscribed to that encoding and to the encoding's archive. An engine
// of the only output owns its program, and the program lives and dies with that one
// connection; outputs of a session of several share one for the whole session, so
// that no output's connection ever interrupts the sound of another.
class ProgramSource {
public:
    // An output's hold on an encoding. refused is called on the capture thread when its
    // queue refuses a frame; inputLost when the capture ended by itself. Neither runs
    // any more once Unsubscribe has returned.
    struct Subscriber {
        SendQueue* queue = nullptr;
        std::function<void()> refused;
        std::function<void()> inputLost;
    };

    explicit ProgramSource(ProgramConfig config);
    ~ProgramSource();
    ProgramSource(const ProgramSource&) = delete;
    ProgramSource& operator=(const ProgramSource&) = delete;

    // Opens the input and the encoders; with them open already, does nothing. After the
    // capture ended by itself it opens the input anew. False with the status line (as
    // the engine shows it) in error.
    bool Open(std::string& error);
    // Starts the capture (and the archives) unless it runs. False when it does not start.
    bool Start();
    // Stops the capture, hands every encoder's last frame to its subscribers and ends
    // the archives. The program can be opened and started again.
    void Stop();
    // The two halves of Stop: the first returns at once; the second waits for the disk,
    // so a front end may leave it to a worker.
    void StopCapture();
    void FinishArchives();

    // The encoding made by encoder, or -1 when the program has none.
    int32_t FindEncoding(const EncoderConfig& encoder) const;
    // The rate an encoding runs at (the device's when no resampling), and the time of one
    // of its frames. Valid once opened.
    uint32_t StreamRate(int32_t encoding) const;
    std::chrono::steady_clock::duration FrameTime(int32_t encoding) const;

    // A subscriber of an encoding with titles in band (Ogg) is handed pages from the next
    // logical stream on, which its subscription starts.
    void Subscribe(int32_t encoding, const Subscriber& subscriber);
    void Unsubscribe(int32_t encoding, const SendQueue* queue);

    // Whether an encoding carries its titles in band (Opus in Ogg) rather than by the
    // server's title update.
    bool TitlesInBand(int32_t encoding) const;
    // With titles in band: the encoding's next frame starts a new logical stream whose
    // tags carry title. From any thread; the same title again changes nothing.
    void SetTitle(int32_t encoding, const std::string& title);

    // New processing parameters for the running chain. The codec values (for the
    // true-peak margin) stay those the program was made with.
    void UpdateProcessing(const ProcessingParams& params);

    float LevelLeft() const { return levelLeft.load(); }
    float LevelRight() const { return levelRight.load(); }
    std::chrono::steady_clock::time_point LastSoundTime() const
    {
        return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(lastSound.load()));
    }
    LoudnessReading Loudness(int32_t encoding) const;
    RecordingState Recording(int32_t encoding) const;
    std::string RecordingProblem(int32_t encoding) const;
    ArchiveProgress RecordingProgress(int32_t encoding) const;

private:
    struct Encoding;

    void OnAudio(const uint8_t* data, uint64_t size);
    void OnCaptureEnded();
    void Deliver(Encoding& encoding, const uint8_t* frame, uint64_t size);
    void RequestStream(Encoding& encoding);
    bool OpenEncodings(uint32_t deviceRate, std::string& error);
    // Sets params' codec values to the program's own.
    void HoldCodecMargin(ProcessingParams& params) const;

    ProgramConfig config;
    std::mutex controlLock; // Open, Start and Stop, from whichever thread calls them
    std::unique_ptr<AudioCapture> capture;
    std::atomic<bool> captureEnded{false};
    std::atomic<bool> stopRequested{false};
    bool started = false;
    ProcessingChain chain;
    PendingParams pendingParams;
    std::vector<std::unique_ptr<Encoding>> encodings;
    std::atomic<float> levelLeft{0.0f};
    std::atomic<float> levelRight{0.0f};
    std::atomic<std::chrono::steady_clock::rep> lastSound{0};
    float soundThreshold = 0.0f;
    std::vector<int16_t> processScratch; // the capture thread's, only ever grown
};
