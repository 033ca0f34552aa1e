#pragma once

#include <string>
#include <vector>

#include "audio/DeviceList.h"
#include "settings/AppSettings.h"
#include "settings/SettingsDialogData.h"
#include "settings/SettingsStore.h"

// Fills the dialog's record: stream values from settings, switches and levels from the
// store (not from the running processing parameters).
void FillDialogData(const SettingsStore& store, const AppSettings& settings, SettingsDialogData& data);

// Takes a confirmed record back: stream values into settings, every edited key into the
// store (not saved here), the input device resolved against devices (defaultId names the
// system's default capture endpoint, "" unknown), and the processing
// parameters rebuilt into settings.stream.processing. The chosen device's endpoint
// identifier is stored too (empty for the default device), so that the choice survives
// a restart: a stale stored identifier would otherwise win over the new index.
void ReadBackDialogData(const SettingsDialogData& data, SettingsStore& store, AppSettings& settings,
                        const std::vector<AudioDeviceInfo>& devices, const std::string& defaultId = "");

// Scaled integer of a stored level: value × scale truncated toward zero, computed in
// single precision so that 0.0075 × 10000 is 75.
int32_t ScaledSetting(float value, float scale);
