#include "settings/DialogProcessing.h"

#include <cstdlib>

#include "settings/AppSettings.h"

namespace {

float Number(const std::string& text)
{
    return static_cast<float>(std::strtod(text.c_str(), nullptr));
}

} // namespace

ProcessingParams ProcessingFromDialog(const DialogProcessingControls& c)
{
    ProcessingParams p;
    p.hpfEnabled = c.hpf;
    p.gateEnabled = c.gate;
    p.gainEnabled = c.gain;
    p.gainDb = Number(c.gainDb);
    p.agcEnabled = c.agc;
    p.agcTargetDb = -16.0f;
    p.agcMaxGainDb = 12.0f;
    p.agcSpeed = Number(c.agcSpeed);
    p.compEnabled = c.comp;
    p.compThreshDb = Number(c.compThreshDb);
    p.compRatio = Number(c.compRatio);
    p.compMakeupDb = Number(c.compMakeupDb);
    DeriveCompressorTiming(p);
    p.boostEnabled = c.boost;
    p.bassEnabled = c.bass;
    p.stereoWidthEnabled = c.width;
    p.limiterEnabled = c.limiter;
    p.codecPreEnabled = c.codecPre;
    p.loudnessEnabled = c.loudness;
    p.loudnessTarget = c.loudnessTarget;
    p.loudnessMaxGainDb = c.loudnessMaxGainDb;
    p.truePeakEnabled = c.truePeak;
    p.truePeakCeilingDb = c.truePeakCeilingDb;
    p.codecBitrate = c.bitrateKbps * 1000;
    p.codecHeVersion = c.heVersion;
    p.mono = c.mono;
    return p;
}
