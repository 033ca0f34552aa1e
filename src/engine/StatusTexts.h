#pragma once

#include <cstdint>
#include <string>

#include "encoder/EncoderConfig.h"
#include "engine/EngineState.h"

// The texts of the status panel, shared by the window and the command-line front end.

// "64 kbps | 44.1 kHz | Stereo | aacPlus"; for the other codecs "128 kbps | 44.1 kHz |
// Stereo | MP3" and "96 kbps | 48 kHz | Stereo | Opus" (Opus always at 48 kHz).
std::string QualityText(uint32_t bitrate, uint32_t sampleRate, uint16_t channels, AacProfile profile,
                        Codec codec = Codec::Aac);
// "1:02:05" (hours are not wrapped)
std::string ElapsedText(uint32_t seconds);
// "1.50 KB" (always kilobytes)
std::string DataSentText(uint64_t bytes);

// The level meters: 31 dots, lit from the left in proportion to a linear level.
constexpr int kMeterDots = 31;
int LitDots(float level);

// Indicator colours.
enum class IndicatorColour { Neutral, Green, Yellow, Orange, Red };

struct Indicator {
    std::string text;
    IndicatorColour colour;
};

// Internet indicator from the probe's state (0 none yet, 1 reachable, 3 unreachable).
Indicator InternetIndicator(InternetState internetState);
// Encoder indicator; hasEngine false gives "Offline".
Indicator EncoderIndicator(bool hasEngine, EngineState state, int32_t consecutiveSendFailures);
// The encoder indicator as both front ends show it: "Connecting..." in yellow while a
// connection attempt runs, whatever engine is current meanwhile; otherwise as above.
Indicator LiveEncoderIndicator(bool attemptRunning, bool hasEngine, EngineState state,
                               int32_t consecutiveSendFailures);

// Audio quality from the meters, smoothed per paint: a quick rise, a three-second hold
// and a slow fall.
class AudioQuality {
public:
    Indicator Update(float leftLevel, float rightLevel);
    float SmoothedLevel() const { return smoothedLevel; }

private:
    float smoothedLevel = 0.0f;
    int32_t holdTicks = 0;
};

// The audio indicator as both front ends show it: "Dead air" in red while the alarm
// stands, otherwise the quality.
Indicator AudioIndicator(const Indicator& quality, bool deadAir);

// The rotation phase of the indicator captions: (tickCount / 20) mod 6. At phase 0 the
// internet indicator reads "Internet", at 2 the encoder "Encoder", at 4 the audio "Audio".
uint32_t IndicatorPhase(uint32_t tickCount);
