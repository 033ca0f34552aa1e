#include "engine/ProgramSource.h"

#include <algorithm>

#include "audio/AudioCapture.h"
#include "audio/DynamicsStages.h"
#include "audio/Resampler.h"
#include "base/Log.h"
#include "encoder/FrameHeaders.h"
#include "encoder/StreamEncoder.h"
#include "engine/DeadAirAlarm.h"
#include "engine/StreamEngine.h"
#include "icecast/SendQueue.h"

struct ProgramSource::Encoding {
    ProgramEncoding setup;
    uint32_t streamRate = 0;
    std::chrono::steady_clock::duration frameTime{std::chrono::milliseconds(21)};
    Resampler resampler;
    StreamEncoder encoder;
    LoudnessMeter loudness;
    std::unique_ptr<ArchiveRecorder> recorder;
    FrameSink sink;
    std::mutex subscribersLock; // held while a frame is handed out
    std::vector<Subscriber> subscribers;
    // Subscribers (by queue) that wait for the next logical stream to begin: an Ogg
    // stream must reach each server from its headers on.
    std::vector<const SendQueue*> waitingForStream;
    // With titles in band: a new logical stream was asked for (by a title, a new
    // subscriber or the archive) and has not begun yet; and the title it carries.
    std::atomic<bool> streamWanted{false};
    std::atomic<bool> titleChanged{false};
    std::mutex titleLock;
    std::string title;
    bool streamRequested = false; // the capture thread's: asked the encoder already

    bool TitlesInBand() const { return setup.encoder.codec == Codec::Opus; }
    // The capture thread's, only ever grown.
    std::vector<int16_t> channelScratch;
    std::vector<int16_t> resampleScratch;
};

bool SameEncoding(const EncoderConfig& a, const EncoderConfig& b)
{
    // The AAC profile means nothing to the other codecs.
    return a.codec == b.codec && CodecStreamRate(a.codec, a.sampleRate) == CodecStreamRate(b.codec, b.sampleRate) &&
           (a.channels < 2) == (b.channels < 2) &&
           a.bitrate == b.bitrate && (a.codec != Codec::Aac || a.profile == b.profile);
}

size_t AddEncoding(ProgramConfig& config, const ProgramEncoding& encoding)
{
    for (size_t i = 0; i < config.encodings.size(); ++i) {
        if (SameEncoding(config.encodings[i].encoder, encoding.encoder))
            return i;
    }
    config.encodings.push_back(encoding);
    return config.encodings.size() - 1;
}

size_t ConvertChannels(const int16_t* in, size_t count, uint16_t from, uint16_t to, std::vector<int16_t>& out)
{
    const bool monoIn = from < 2;
    const bool monoOut = to < 2;
    const size_t frames = monoIn ? count : count / 2;
    const size_t written = monoOut ? frames : frames * 2;
    if (out.size() < written)
        out.resize(written);
    for (size_t i = 0; i < frames; ++i) {
        if (monoIn && !monoOut) {
            out[2 * i] = in[i];
            out[2 * i + 1] = in[i];
        } else if (!monoIn && monoOut) {
            out[i] = static_cast<int16_t>((static_cast<int32_t>(in[2 * i]) + in[2 * i + 1]) / 2);
        } else if (monoIn) {
            out[i] = in[i];
        } else {
            out[2 * i] = in[2 * i];
            out[2 * i + 1] = in[2 * i + 1];
        }
    }
    return written;
}

ProgramSource::ProgramSource(ProgramConfig programConfig) : config(std::move(programConfig))
{
    for (const ProgramEncoding& setup : config.encodings) {
        auto encoding = std::make_unique<Encoding>();
        encoding->setup = setup;
        Encoding* raw = encoding.get();
        encoding->sink = [this, raw](const uint8_t* frame, uint64_t size) { Deliver(*raw, frame, size); };
        encodings.push_back(std::move(encoding));
    }
}

ProgramSource::~ProgramSource()
{
    Stop();
    capture.reset();
}

bool ProgramSource::Open(std::string& error)
{
    std::lock_guard<std::mutex> guard(controlLock);
    if (capture && !captureEnded.load())
        return true;
    // The input went away while streaming: the next connection opens it again, and the
    // encoders carry on where they were.
    const bool reopening = capture != nullptr;
    if (reopening) {
        capture->Stop();
        capture.reset();
        started = false;
        captureEnded = false;
    }
    auto opened = std::make_unique<AudioCapture>();
    opened->SetDevice(config.device);
    if (!opened->Initialize(config.captureFormat)) {
        error = "Failed to initialize audio capture: " + opened->LastError();
        return false;
    }
    const uint32_t deviceRate = opened->DeviceRate();
    if (!OpenEncodings(deviceRate, error))
        return false;
    // Until the capture thread starts, the chain is this thread's.
    if (!reopening) {
        chain.params = config.processing;
        HoldCodecMargin(chain.params);
    }
    chain.Configure(deviceRate, config.captureFormat.channels);
    capture = std::move(opened);
    return true;
}

bool ProgramSource::OpenEncodings(uint32_t deviceRate, std::string& error)
{
    for (const std::unique_ptr<Encoding>& encoding : encodings) {
        const uint32_t wanted = encoding->setup.encoder.sampleRate;
        const uint16_t channels = encoding->setup.encoder.channels;
        const bool opened = encoding->streamRate != 0;
        if (!opened)
            encoding->streamRate = CodecStreamRate(encoding->setup.encoder.codec, wanted != 0 ? wanted : deviceRate);
        encoding->resampler.Configure(deviceRate, encoding->streamRate, channels);
        if (deviceRate != encoding->streamRate)
            LogLine("Engine", "Resampling: " + std::to_string(deviceRate) + " Hz -> " +
                                  std::to_string(encoding->streamRate) + " Hz");
        if (opened)
            continue;
        encoding->loudness.Configure(encoding->streamRate, channels);
        EncoderConfig encoderConfig = encoding->setup.encoder;
        encoderConfig.sampleRate = encoding->streamRate;
        if (!encoding->encoder.Open(encoderConfig)) {
            encoding->streamRate = 0;
            error = std::string("Failed to initialize ") + CodecName(encoderConfig.codec) +
                    " encoder: " + encoding->encoder.LastError();
            return false;
        }
        // One frame's time: a write that waits longer than that is behind the stream.
        encoding->frameTime = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(static_cast<double>(std::max<uint32_t>(encoding->encoder.FrameLength(), 1024)) /
                                          std::max<uint32_t>(encoding->streamRate, 1)));
    }
    return true;
}

bool ProgramSource::Start()
{
    std::lock_guard<std::mutex> guard(controlLock);
    if (started)
        return true;
    if (!capture)
        return false;
    stopRequested = false;
    const auto now = std::chrono::steady_clock::now();
    lastSound.store(now.time_since_epoch().count());
    soundThreshold = DeadAirThreshold(config.silenceThresholdDb);
    // The archive starts with the first frame of this run.
    if (config.recordEnabled) {
        for (const std::unique_ptr<Encoding>& encoding : encodings) {
            encoding->recorder = std::make_unique<ArchiveRecorder>();
            ArchiveOptions options{config.recordFolder, encoding->setup.mountPoint,
                                   static_cast<int64_t>(std::max<int32_t>(config.recordSplitMinutes, 0)) * 60};
            options.codec = encoding->setup.encoder.codec;
            encoding->recorder->Start(options);
            encoding->streamWanted = encoding->TitlesInBand();
        }
    }
    started = capture->Start([this](const uint8_t* data, uint64_t size) { OnAudio(data, size); },
                             [this] { OnCaptureEnded(); });
    return started;
}

void ProgramSource::Stop()
{
    StopCapture();
    FinishArchives();
}

void ProgramSource::StopCapture()
{
    std::lock_guard<std::mutex> guard(controlLock);
    stopRequested = true;
    if (capture && capture->Running())
        capture->Stop();
    // The capture thread has ended, so this is the only writer left.
    for (const std::unique_ptr<Encoding>& encoding : encodings) {
        if (encoding->streamRate != 0 && started)
            encoding->encoder.Flush(encoding->sink);
    }
    started = false;
}

void ProgramSource::FinishArchives()
{
    std::lock_guard<std::mutex> guard(controlLock);
    // The archive ends with the encoder's last frame, as the listeners hear it.
    for (const std::unique_ptr<Encoding>& encoding : encodings) {
        if (encoding->recorder)
            encoding->recorder->Finish();
    }
}

int32_t ProgramSource::FindEncoding(const EncoderConfig& encoder) const
{
    for (size_t i = 0; i < encodings.size(); ++i) {
        if (SameEncoding(encodings[i]->setup.encoder, encoder))
            return static_cast<int32_t>(i);
    }
    return -1;
}

uint32_t ProgramSource::StreamRate(int32_t encoding) const
{
    return encodings.at(static_cast<size_t>(encoding))->streamRate;
}

std::chrono::steady_clock::duration ProgramSource::FrameTime(int32_t encoding) const
{
    return encodings.at(static_cast<size_t>(encoding))->frameTime;
}

void ProgramSource::Subscribe(int32_t encoding, const Subscriber& subscriber)
{
    Encoding& e = *encodings.at(static_cast<size_t>(encoding));
    std::lock_guard<std::mutex> guard(e.subscribersLock);
    e.subscribers.push_back(subscriber);
    if (e.TitlesInBand()) {
        e.waitingForStream.push_back(subscriber.queue);
        e.streamWanted = true;
    }
}

void ProgramSource::Unsubscribe(int32_t encoding, const SendQueue* queue)
{
    Encoding& e = *encodings.at(static_cast<size_t>(encoding));
    std::lock_guard<std::mutex> guard(e.subscribersLock);
    std::erase_if(e.subscribers, [queue](const Subscriber& s) { return s.queue == queue; });
    std::erase(e.waitingForStream, queue);
}

bool ProgramSource::TitlesInBand(int32_t encoding) const
{
    return encodings.at(static_cast<size_t>(encoding))->TitlesInBand();
}

void ProgramSource::SetTitle(int32_t encoding, const std::string& title)
{
    Encoding& e = *encodings.at(static_cast<size_t>(encoding));
    {
        std::lock_guard<std::mutex> guard(e.titleLock);
        if (e.title == title)
            return;
        e.title = title;
    }
    e.titleChanged = true;
}

void ProgramSource::UpdateProcessing(const ProcessingParams& params)
{
    ProcessingParams held = params;
    HoldCodecMargin(held);
    pendingParams.Set(held);
}

void ProgramSource::HoldCodecMargin(ProcessingParams& params) const
{
    params.codecHeVersion = config.processing.codecHeVersion;
    params.codecBitrate = config.processing.codecBitrate;
    params.codecFamily = config.processing.codecFamily;
}

LoudnessReading ProgramSource::Loudness(int32_t encoding) const
{
    return encodings.at(static_cast<size_t>(encoding))->loudness.Reading();
}

RecordingState ProgramSource::Recording(int32_t encoding) const
{
    const Encoding& e = *encodings.at(static_cast<size_t>(encoding));
    if (!e.recorder)
        return RecordingState::Off;
    return e.recorder->Problem().empty() ? RecordingState::On : RecordingState::Stopped;
}

std::string ProgramSource::RecordingProblem(int32_t encoding) const
{
    const Encoding& e = *encodings.at(static_cast<size_t>(encoding));
    return e.recorder ? e.recorder->Problem() : std::string();
}

ArchiveProgress ProgramSource::RecordingProgress(int32_t encoding) const
{
    const Encoding& e = *encodings.at(static_cast<size_t>(encoding));
    return e.recorder ? e.recorder->Progress() : ArchiveProgress{};
}

void ProgramSource::OnAudio(const uint8_t* data, uint64_t size)
{
    if (stopRequested.load())
        return;
    const int16_t* block = reinterpret_cast<const int16_t*>(data);
    const size_t count = static_cast<size_t>(size / 2);
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
    const uint16_t inChannels = config.captureFormat.channels;
    if (UpdatePeakMeters(block, count, inChannels, levelLeft, levelRight) > soundThreshold)
        lastSound.store(std::chrono::steady_clock::now().time_since_epoch().count(), std::memory_order_relaxed);
    for (const std::unique_ptr<Encoding>& encoding : encodings) {
        const uint16_t channels = encoding->setup.encoder.channels;
        const int16_t* samples = block;
        size_t n = count;
        float peak = knownPeak;
        if ((inChannels < 2) != (channels < 2)) {
            n = ConvertChannels(samples, n, inChannels, channels, encoding->channelScratch);
            samples = encoding->channelScratch.data();
            peak = -1.0f;
        }
        Resampler& resampler = encoding->resampler;
        if (resampler.InRate() != resampler.OutRate()) {
            resampler.SetCeiling(ceiling); // the limiters' ceiling holds at the stream rate
            n = resampler.Process(samples, n, encoding->resampleScratch);
            samples = encoding->resampleScratch.data();
        }
        // Measures only once someone reads it (the CLI's status line).
        encoding->loudness.Add(samples, n / std::max<uint16_t>(1, channels < 2 ? 1 : 2), peak);
        if (encoding->TitlesInBand())
            RequestStream(*encoding);
        encoding->encoder.Encode(samples, static_cast<uint64_t>(n) * 2, encoding->sink);
    }
}

// On the capture thread: a title, a new subscriber or the archive asks for a new
// logical stream, and the encoder starts one with its next frame.
void ProgramSource::RequestStream(Encoding& encoding)
{
    const bool titled = encoding.titleChanged.exchange(false);
    const bool wanted = encoding.streamWanted.exchange(false) ||
                        (encoding.recorder && encoding.recorder->WantsStreamStart());
    if (!titled && (!wanted || encoding.streamRequested))
        return;
    std::string title;
    {
        std::lock_guard<std::mutex> guard(encoding.titleLock);
        title = encoding.title;
    }
    encoding.encoder.StartNewStream(title);
    encoding.streamRequested = true;
}

void ProgramSource::Deliver(Encoding& encoding, const uint8_t* frame, uint64_t size)
{
    bool taken = false;
    bool anyone = false;
    if (encoding.TitlesInBand()) {
        const std::optional<OggPageHeader> page = ReadOggPageHeader(frame, size);
        if (page && page->beginsStream) {
            encoding.streamRequested = false;
            std::lock_guard<std::mutex> guard(encoding.subscribersLock);
            encoding.waitingForStream.clear();
        }
    }
    {
        std::lock_guard<std::mutex> guard(encoding.subscribersLock);
        for (const Subscriber& subscriber : encoding.subscribers) {
            if (!encoding.waitingForStream.empty() &&
                std::find(encoding.waitingForStream.begin(), encoding.waitingForStream.end(), subscriber.queue) !=
                    encoding.waitingForStream.end())
                continue;
            anyone = true;
            if (subscriber.queue->Write(frame, size))
                taken = true;
            else if (subscriber.refused)
                subscriber.refused();
        }
    }
    // The archive keeps what went out, and the whole program while no output is up.
    if (encoding.recorder && (taken || !anyone))
        encoding.recorder->Write(frame, size);
}

// The device failed, went away or fell silent for seconds: every output carries nothing
// any more, so each has failed like a lost connection and its supervision takes over.
void ProgramSource::OnCaptureEnded()
{
    if (stopRequested.load())
        return;
    captureEnded = true;
    for (const std::unique_ptr<Encoding>& encoding : encodings) {
        std::lock_guard<std::mutex> guard(encoding->subscribersLock);
        for (const Subscriber& subscriber : encoding->subscribers) {
            if (subscriber.inputLost)
                subscriber.inputLost();
        }
    }
}
