#include "audio/PreviewOutput.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "audio/AudioCapture.h"
#include "audio/AudioStreams.h"
#include "audio/PacketConversion.h"
#include "audio/ProcessingChain.h"
#include "audio/SampleConversion.h"

namespace {

constexpr uint32_t kBufferMs = 20;
constexpr uint32_t kPollMs = 5;
// An input gone quiet this long has gone, as for the capture.
constexpr auto kInputStall = std::chrono::seconds(AudioCapture::kStallSeconds);

} // namespace

// Buffers reused from packet to packet.
struct PreviewOutput::Conversion {
    std::vector<int16_t> input;
    std::vector<int16_t> resampled;
    std::vector<int16_t> mapped;
};

PreviewOutput::PreviewOutput()
{
    for (std::atomic<float>& meter : meters)
        meter.store(0.0f);
}

PreviewOutput::~PreviewOutput()
{
    StopPreview();
}

bool PreviewOutput::StartPreview(const DeviceChoice& input, int32_t output, const ProcessingParams& params)
{
    StopPreview();
    inputDevice = input;
    outputIndex = output;
    pendingParams.Set(params);
    error.clear();
    std::promise<bool> started;
    std::future<bool> result = started.get_future();
    running.store(true);
    // The streams belong to the thread (a PulseAudio connection and a COM apartment are
    // per thread), so it opens them and tells how that went.
    thread = std::thread(&PreviewOutput::PreviewThread, this, std::move(started));
    if (result.get())
        return true;
    StopPreview();
    return false;
}

void PreviewOutput::StopPreview()
{
    running.store(false);
    if (thread.joinable())
        thread.join();
}

ProcessingMeters PreviewOutput::Meters() const
{
    ProcessingMeters values;
    for (size_t i = 0; i < kMeterFields.size(); ++i)
        values.*kMeterFields[i].member = meters[i].load(std::memory_order_relaxed);
    return values;
}

void PreviewOutput::PreviewThread(std::promise<bool> started)
{
    AudioSession session;
    session.EnterThread();
    CaptureStream input(session);
    RenderStream output(session);
    if (!session.Open())
        error = "Preview: " + session.LastError();
    else if (!input.Open(inputDevice, kBufferMs))
        error = "Preview input: " + input.LastError();
    else if (!output.Open(outputIndex, kBufferMs))
        error = "Preview output: " + output.LastError();
    if (!error.empty()) {
        running.store(false); // the streams release what they hold
        started.set_value(false);
        return;
    }
    auto chain = std::make_unique<ProcessingChain>();
    pendingParams.TakeInto(chain->params);
    chain->Configure(input.Format().rate, input.Format().channels);
    if (!input.Start())
        error = "Preview input: " + input.LastError();
    else if (!output.Start())
        error = "Preview output: " + output.LastError();
    if (error.empty()) {
        started.set_value(true);
        Conversion work;
        auto lastPacket = std::chrono::steady_clock::now();
        while (running.load()) {
            session.Wait(kPollMs);
            pendingParams.TakeInto(chain->params);
            const bool inputAlive = input.DrainPackets([&](const CapturedPacket& packet) {
                lastPacket = std::chrono::steady_clock::now();
                PlayPacket(packet, input, output, *chain, work);
                return running.load();
            });
            // An input that failed, went away or fell silent for seconds ends the
            // preview, so that it no longer claims to run.
            if (!inputAlive || std::chrono::steady_clock::now() - lastPacket > kInputStall)
                running.store(false);
        }
    } else {
        running.store(false);
    }
    input.Stop();
    output.Stop();
    if (!error.empty())
        started.set_value(false); // after the streams stopped: the caller joins at once
}

// One captured packet through the chain and the conversions into the output.
void PreviewOutput::PlayPacket(const CapturedPacket& packet, const CaptureStream& input, RenderStream& output,
                               ProcessingChain& chain, Conversion& work)
{
    const StreamFormat& in = input.Format();
    const StreamFormat& out = output.Format();
    const size_t n = static_cast<size_t>(packet.frames) * in.channels;
    work.input.resize(n);
    if (packet.silent || packet.data == nullptr)
        std::fill(work.input.begin(), work.input.end(), int16_t{0});
    else
        DeviceSamplesToInt16(packet.data, n, in.kind, work.input.data());
    if (n == 0)
        return;

    chain.Process(work.input.data(), n * 2);
    const ProcessingMeters values = chain.Meters();
    for (size_t i = 0; i < kMeterFields.size(); ++i)
        meters[i].store(values.*kMeterFields[i].member, std::memory_order_relaxed);

    const int16_t* samples = work.input.data();
    size_t frames = packet.frames;
    if (in.rate != out.rate) {
        frames = ResamplePacket(samples, frames, in.channels, in.rate, out.rate, work.resampled);
        samples = work.resampled.data();
    }
    if (in.channels != out.channels) {
        ConvertPacketChannels(samples, frames, in.channels, out.channels, work.mapped);
        samples = work.mapped.data();
    }
    const std::optional<uint32_t> space = output.FreeFrames();
    if (!space)
        return;
    const uint32_t m = static_cast<uint32_t>(std::min<size_t>(frames, *space)); // the rest is dropped
    if (m > 0)
        output.Write(samples, m);
}
