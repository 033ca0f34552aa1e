#pragma once

#include <cstdint>
#include <type_traits>

#include "settings/SettingsStore.h"

// The processing switches and levels the store keeps under "DSP". The processing
// parameters and the settings dialog's record name them alike, so one list serves
// reading, writing and copying them. A level is stored as an integer, value × scale.
struct StoredProcessingField {
    const char* key;
    float scale = 1.0f;
    int32_t fallback = 0; // stored value when the key is missing
};

// Calls visit(field, records.member...) for every switch and level, in store order.
template <typename Visit, typename... Records>
void ForEachStoredProcessingField(Visit visit, Records&... records)
{
    visit(StoredProcessingField{"hpfEnabled"}, records.hpfEnabled...);
    visit(StoredProcessingField{"gateEnabled"}, records.gateEnabled...);
    visit(StoredProcessingField{"gainEnabled"}, records.gainEnabled...);
    visit(StoredProcessingField{"gainDb", 10.0f, 0}, records.gainDb...);
    visit(StoredProcessingField{"agcEnabled"}, records.agcEnabled...);
    visit(StoredProcessingField{"agcSpeed", 10000.0f, 50}, records.agcSpeed...);
    visit(StoredProcessingField{"compEnabled"}, records.compEnabled...);
    visit(StoredProcessingField{"compThreshDb", 10.0f, -120}, records.compThreshDb...);
    visit(StoredProcessingField{"compRatio", 10.0f, 40}, records.compRatio...);
    visit(StoredProcessingField{"compMakeupDb", 10.0f, 0}, records.compMakeupDb...);
    visit(StoredProcessingField{"boostEnabled"}, records.boostEnabled...);
    visit(StoredProcessingField{"bassEnabled"}, records.bassEnabled...);
    visit(StoredProcessingField{"stereoWidthEnabled"}, records.stereoWidthEnabled...);
    visit(StoredProcessingField{"limiterEnabled"}, records.limiterEnabled...);
    visit(StoredProcessingField{"codecPreEnabled"}, records.codecPreEnabled...);
    visit(StoredProcessingField{"loudnessEnabled"}, records.loudnessEnabled...);
    visit(StoredProcessingField{"loudnessTarget", 10.0f, -160}, records.loudnessTarget...);
    visit(StoredProcessingField{"loudnessMaxGainDb", 10.0f, 180}, records.loudnessMaxGainDb...);
    visit(StoredProcessingField{"truePeakEnabled"}, records.truePeakEnabled...);
    visit(StoredProcessingField{"truePeakCeilingDb", 10.0f, -10}, records.truePeakCeilingDb...);
}

// Reads the stored switches (missing: off) and levels into record.
template <typename Record>
void ReadStoredProcessing(const SettingsStore& store, Record& record)
{
    ForEachStoredProcessingField(
        [&store](const StoredProcessingField& field, auto& value) {
            if constexpr (std::is_same_v<std::remove_reference_t<decltype(value)>, bool>)
                value = store.GetBool("DSP", field.key, false);
            else
                value = static_cast<float>(store.GetInt("DSP", field.key, field.fallback)) / field.scale;
        },
        record);
}
