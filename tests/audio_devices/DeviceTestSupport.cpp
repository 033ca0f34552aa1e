#include "DeviceTestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "support/TempDir.h"

bool HaveTestDevices()
{
    return !EnvOr("KV_PULSE_SINK", "").empty() && !EnvOr("PULSE_SERVER", "").empty();
}

std::optional<AudioDeviceInfo> FindCaptureDevice(const std::string& name)
{
    for (const AudioDeviceInfo& device : ListCaptureDevices()) {
        if (device.name == name)
            return device;
    }
    return std::nullopt;
}

int32_t FindRenderPosition(const std::string& name)
{
    const std::vector<std::string> names = ListRenderDevices();
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name)
            return static_cast<int32_t>(i);
    }
    return -1;
}

double ToneLevelDb(const std::vector<int16_t>& samples, uint16_t channels, uint16_t channel, size_t startFrame,
                   size_t frames, double rate, double frequency)
{
    const double step = 2.0 * 3.14159265358979323846 * frequency / rate;
    double re = 0.0;
    double im = 0.0;
    for (size_t n = 0; n < frames; ++n) {
        const double x = samples[(startFrame + n) * channels + channel];
        re += x * std::cos(step * static_cast<double>(n));
        im -= x * std::sin(step * static_cast<double>(n));
    }
    const double amplitude = 2.0 * std::sqrt(re * re + im * im) / static_cast<double>(frames);
    return 20.0 * std::log10(amplitude / 32768.0 + 1e-12);
}

double MedianToneLevelDb(const std::vector<int16_t>& samples, uint16_t channels, uint16_t channel, size_t frames,
                         double rate, double frequency)
{
    constexpr size_t kWindow = 4800;
    const size_t total = samples.size() / channels;
    std::vector<double> levels;
    for (size_t start = total - frames; start + kWindow <= total; start += kWindow)
        levels.push_back(ToneLevelDb(samples, channels, channel, start, kWindow, rate, frequency));
    if (levels.empty())
        return -240.0;
    std::nth_element(levels.begin(), levels.begin() + levels.size() / 2, levels.end());
    return levels[levels.size() / 2];
}

bool Recorder::Open(int32_t position, const std::string& endpointId, uint16_t streamChannels)
{
    channels = streamChannels;
    const CaptureFormat format{48000, streamChannels, 16};
    capture.SetDevice({position, endpointId});
    return capture.Initialize(format);
}

bool Recorder::Start()
{
    samples.reserve(static_cast<size_t>(capture.DeviceRate()) * channels * 8);
    return capture.Start([this](const uint8_t* data, uint64_t size) {
        const size_t count = static_cast<size_t>(size / sizeof(int16_t));
        const size_t at = samples.size();
        samples.resize(at + count);
        std::memcpy(samples.data() + at, data, count * sizeof(int16_t));
        last = std::chrono::steady_clock::now();
        if (blocks++ > 0)
            framesAfterFirst += count / channels;
        if (markFrames == 0 && framesAfterFirst.load() >= capture.DeviceRate() / 4) {
            markFrames = framesAfterFirst.load();
            mark = last;
        }
    });
}

double Recorder::MeasuredRate() const
{
    const double seconds = std::chrono::duration<double>(last - mark).count();
    return markFrames > 0 && seconds > 0.0 ? static_cast<double>(framesAfterFirst.load() - markFrames) / seconds
                                           : 0.0;
}

bool WaitForFrames(const std::vector<Recorder*>& recorders, size_t frames, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        bool all = true;
        for (const Recorder* recorder : recorders)
            all = all && recorder->FramesAfterFirstBlock() >= frames;
        if (all)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
