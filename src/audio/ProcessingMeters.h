#pragma once

#include <array>

// The twelve values a processing chain publishes once per block, each in [0, 1].
struct ProcessingMeters {
    float inputLevel = 0.0f;
    float hpfActivity = 0.0f;
    float gateActivity = 0.0f;
    float gainPosition = 0.0f;
    float agcActivity = 0.0f;
    float compActivity = 0.0f;
    float boostActivity = 0.0f;
    float bassActivity = 0.0f;
    float widthActivity = 0.0f;
    float limiterActivity = 0.0f;
    float codecPreActivity = 0.0f;
    float outputLevel = 0.0f;
};

// Index of each meter, in the order above.
enum class Meter {
    InputLevel,
    HpfActivity,
    GateActivity,
    GainPosition,
    AgcActivity,
    CompActivity,
    BoostActivity,
    BassActivity,
    WidthActivity,
    LimiterActivity,
    CodecPreActivity,
    OutputLevel,
};
constexpr int kMeterCount = 12;

// Name and member of every meter in order, for printing and iterating.
struct MeterField {
    const char* name;
    float ProcessingMeters::*member;
};

inline constexpr std::array<MeterField, kMeterCount> kMeterFields = {{
    {"inputLevel", &ProcessingMeters::inputLevel},
    {"hpfActivity", &ProcessingMeters::hpfActivity},
    {"gateActivity", &ProcessingMeters::gateActivity},
    {"gainPosition", &ProcessingMeters::gainPosition},
    {"agcActivity", &ProcessingMeters::agcActivity},
    {"compActivity", &ProcessingMeters::compActivity},
    {"boostActivity", &ProcessingMeters::boostActivity},
    {"bassActivity", &ProcessingMeters::bassActivity},
    {"widthActivity", &ProcessingMeters::widthActivity},
    {"limiterActivity", &ProcessingMeters::limiterActivity},
    {"codecPreActivity", &ProcessingMeters::codecPreActivity},
    {"outputLevel", &ProcessingMeters::outputLevel},
}};
