#include "audio/LoudnessMeter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include <ebur128.h>

#include "audio/TruePeakDetector.h"

namespace {

constexpr float kSilent = -std::numeric_limits<float>::infinity();
constexpr size_t kPeakParts = 30; // 3 s of 100 ms parts
constexpr size_t kMomentaryParts = 4; // 400 ms

float ToDb(double linear)
{
    return linear > 0.0 ? static_cast<float>(20.0 * std::log10(linear)) : kSilent;
}

// BS.1770's loudness of a K-weighted mean square, and back.
float EnergyToLufs(double energy)
{
    return energy > 0.0 ? static_cast<float>(10.0 * std::log10(energy) - 0.691) : kSilent;
}

double LufsToEnergy(double lufs)
{
    return std::pow(10.0, (lufs + 0.691) / 10.0);
}

} // namespace

struct LoudnessMeter::Impl {
    ebur128_state* state = nullptr;
    uint16_t channels = 0;
    TruePeakDetector detector;
    std::vector<float> frame; // one frame as the detector takes it
    size_t partFrames = 0;
    size_t filled = 0;
    double partPeak = 0.0;
    std::array<double, kPeakParts> peaks{};
    // The K-weighted energy of each of the same parts: the momentary and short-term
    // loudness are means of the last 4 and 30. Asked for them, the library would sum
    // the last 400 ms and 3 s of samples again at every part, most of its cost.
    std::array<double, kPeakParts> energies{};
    size_t nextPeak = 0;
    double maxPeak = 0.0;

    ~Impl()
    {
        if (state != nullptr)
            ebur128_destroy(&state);
    }
};

std::string FormatLoudness(float value)
{
    if (!(value >= -70.0f))
        return "-inf";
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(value));
    return text;
}

LoudnessMeter::LoudnessMeter()
    : impl(std::make_unique<Impl>()), momentary(kSilent), shortTerm(kSilent), integrated(kSilent),
      truePeak(kSilent), maxTruePeak(kSilent)
{
}

LoudnessMeter::~LoudnessMeter() = default;

bool LoudnessMeter::Configure(uint32_t sampleRate, uint16_t channels)
{
    impl = std::make_unique<Impl>();
    for (std::atomic<float>* value : {&momentary, &shortTerm, &integrated, &truePeak, &maxTruePeak})
        value->store(kSilent, std::memory_order_relaxed);
    if (sampleRate == 0 || channels == 0)
        return false;
    // True peak is found by our own detector (or given by the limiter), not the library's;
    // the short-term loudness from the parts' energies, so the library keeps only 400 ms.
    impl->state = ebur128_init(channels, sampleRate, EBUR128_MODE_M | EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM);
    if (impl->state == nullptr)
        return false;
    if (channels == 1)
        ebur128_set_channel(impl->state, 0, EBUR128_DUAL_MONO);
    impl->channels = channels;
    impl->detector.Configure(channels);
    impl->frame.assign(channels, 0.0f);
    impl->partFrames = std::max<size_t>(1, sampleRate / 10);
    return true;
}

void LoudnessMeter::Add(const int16_t* samples, size_t frames, float knownPeak)
{
    Impl& m = *impl;
    if (m.state == nullptr || !watched.load(std::memory_order_relaxed))
        return;
    if (knownPeak >= 0.0f)
        m.partPeak = std::max(m.partPeak, static_cast<double>(knownPeak) / 32768.0);
    // In pieces that end on the 100 ms marks, so the published values follow the sound.
    while (frames > 0) {
        const size_t take = std::min(frames, m.partFrames - m.filled);
        ebur128_add_frames_short(m.state, samples, take);
        if (knownPeak < 0.0f) {
            float peak = 0.0f;
            for (size_t f = 0; f < take; ++f) {
                for (uint16_t c = 0; c < m.channels; ++c)
                    m.frame[c] = static_cast<float>(samples[f * m.channels + c]);
                peak = std::max(peak, m.detector.Detect(m.frame.data()));
            }
            m.partPeak = std::max(m.partPeak, static_cast<double>(peak) / 32768.0);
        }
        samples += take * m.channels;
        frames -= take;
        m.filled += take;
        if (m.filled == m.partFrames) {
            double partLufs = 0.0;
            m.energies[m.nextPeak] = ebur128_loudness_window(m.state, 100, &partLufs) == EBUR128_SUCCESS
                                         ? LufsToEnergy(partLufs)
                                         : 0.0;
            m.peaks[m.nextPeak] = m.partPeak;
            m.nextPeak = (m.nextPeak + 1) % kPeakParts;
            m.maxPeak = std::max(m.maxPeak, m.partPeak);
            m.partPeak = 0.0;
            m.filled = 0;
            Publish();
        }
    }
}

void LoudnessMeter::Flush()
{
    Impl& m = *impl;
    if (m.state == nullptr)
        return;
    m.maxPeak = std::max(m.maxPeak, m.partPeak);
    m.peaks[m.nextPeak] = std::max(m.peaks[m.nextPeak], m.partPeak);
    Publish();
}

void LoudnessMeter::Publish()
{
    Impl& m = *impl;
    // The parts just completed end before nextPeak; a part not yet complete (at Flush)
    // counts in the integrated loudness and the peaks only.
    double recent = 0.0;
    for (size_t back = 1; back <= kMomentaryParts; ++back)
        recent += m.energies[(m.nextPeak + kPeakParts - back) % kPeakParts];
    double all = 0.0;
    for (const double energy : m.energies)
        all += energy;
    momentary.store(EnergyToLufs(recent / kMomentaryParts), std::memory_order_relaxed);
    shortTerm.store(EnergyToLufs(all / kPeakParts), std::memory_order_relaxed);
    double value = 0.0;
    if (ebur128_loudness_global(m.state, &value) == EBUR128_SUCCESS)
        integrated.store(static_cast<float>(value), std::memory_order_relaxed);
    truePeak.store(ToDb(*std::max_element(m.peaks.begin(), m.peaks.end())), std::memory_order_relaxed);
    maxTruePeak.store(ToDb(m.maxPeak), std::memory_order_relaxed);
}

LoudnessReading LoudnessMeter::Reading() const
{
    watched.store(true, std::memory_order_relaxed);
    return {momentary.load(std::memory_order_relaxed), shortTerm.load(std::memory_order_relaxed),
            integrated.load(std::memory_order_relaxed), truePeak.load(std::memory_order_relaxed),
            maxTruePeak.load(std::memory_order_relaxed)};
}
