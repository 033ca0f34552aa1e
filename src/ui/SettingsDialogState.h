#pragma once

// Windows only: the settings dialog's state and the jobs its files share. The window
// procedure (SettingsDialogWin.cpp) hands each message to the job that owns it: building
// the tabs, the live feedback, reading the values back on OK, or a command.

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/DeviceChoice.h"
#include "audio/DeviceList.h"
#include "audio/ProcessingParams.h"
#include "icecast/ConnectionTest.h"
#include "settings/SettingsDialogData.h"
#include "ui/Controls.h"
#include "ui/Gdi.h"
#include "ui/SettingsDialog.h"
#include "ui/SettingsDialogPaint.h"

class InputLevelMonitor;
class PreviewOutput;

namespace settings_dialog {

constexpr UINT_PTR kMeterTimer = 5001;
constexpr int kFirstSwitch = IDC_START_WITH_WINDOWS;
// The switches' flags are indexed by id from the first switch to the last one, the
// loudness pair after the record folder; the ids between them hold no switch.
constexpr int kSwitchCount = IDC_TRUE_PEAK_SWITCH - kFirstSwitch + 1;
static_assert(IDC_LISTEN < IDC_LOUDNESS_SWITCH && IDC_LOUDNESS_SWITCH < IDC_TRUE_PEAK_SWITCH);
constexpr std::array<int, 5> kHiddenIds = {1041, 1042, 1043, 1044, 1045};
enum Hidden { HiddenGain, HiddenAgcSpeed, HiddenThresh, HiddenRatio, HiddenMakeup };

// Which record flag each switch edits.
struct SwitchField {
    int id;
    bool SettingsDialogData::*field;
};
inline constexpr SwitchField kSwitchFields[] = {
    {IDC_START_WITH_WINDOWS, &SettingsDialogData::startWithWindows},
    {IDC_START_MINIMIZED, &SettingsDialogData::startMinimized},
    {IDC_ENCODE_ON_LAUNCH, &SettingsDialogData::autoStartEncode},
    {IDC_AUTO_RECONNECT, &SettingsDialogData::persistentEncoding},
    {IDC_MINIMIZE_TO_TRAY, &SettingsDialogData::minimizeToTray},
    {IDC_RECORD, &SettingsDialogData::recordEnabled},
    {IDC_GAIN_SWITCH, &SettingsDialogData::gainEnabled},
    {IDC_AGC_SWITCH, &SettingsDialogData::agcEnabled},
    {IDC_COMP_SWITCH, &SettingsDialogData::compEnabled},
    {IDC_BOOST_SWITCH, &SettingsDialogData::boostEnabled},
    {IDC_BASS_SWITCH, &SettingsDialogData::bassEnabled},
    {IDC_LIMIT_SWITCH, &SettingsDialogData::limiterEnabled},
    {IDC_HPF_SWITCH, &SettingsDialogData::hpfEnabled},
    {IDC_GATE_SWITCH, &SettingsDialogData::gateEnabled},
    {IDC_WIDTH_SWITCH, &SettingsDialogData::stereoWidthEnabled},
    {IDC_OPT_SWITCH, &SettingsDialogData::codecPreEnabled},
    {IDC_LOUDNESS_SWITCH, &SettingsDialogData::loudnessEnabled},
    {IDC_TRUE_PEAK_SWITCH, &SettingsDialogData::truePeakEnabled},
};


// The one dialog's state; reset when it is destroyed.
struct DialogState {
    SettingsDialogData* data = nullptr;
    HWND owner = nullptr;
    HWND window = nullptr;
    int tab = 0;
    std::array<std::vector<HWND>, kSettingsTabCount> tabChildren;
    std::array<bool, kSwitchCount> switches{};
    double gainDb = 0.0;
    double agcSpeed = 0.005;
    double compStrength = 0.0;
    bool passwordVisible = false;
    std::array<int, 3> dots{}; // address, password, metadata
    int32_t testGeneration = 0;
    ActivityLamps inputLamps;
    ActivityLamps outputLamps;
    float inputMeter = 0.0f;
    float outputMeter = 0.0f;
    InputLevelMonitor* monitor = nullptr;
    PreviewOutput* preview = nullptr;
    bool result = false;

    // The output the server fields show: 0 the first, i output i + 1. The fields of the
    // outputs not shown wait here; the record changes only on OK.
    size_t chosenOutput = 0;
    std::string firstAddress, firstPassword, firstMetadata;
    std::array<DialogOutput, kDialogOutputs> furtherOutputs{};
    bool loadingFields = false; // the fields are being refilled, not edited

    HWND address = nullptr, password = nullptr, metadata = nullptr, showPassword = nullptr;
    HWND recordFolder = nullptr;
    HWND bitrate = nullptr, channels = nullptr, input = nullptr, output = nullptr, formatLine = nullptr;
    HWND codec = nullptr;
    uint32_t shownCodec = 0; // the codec whose bitrates the list holds
    HWND gainLabel = nullptr, agcLabel = nullptr, compLabel = nullptr, aboutCaption = nullptr;
    HWND loudnessReadout = nullptr;
    // The loudness switches and their labels, below the panel beside OK and Cancel.
    std::array<HWND, 4> footer{};
    std::array<HWND, 3> dotWindows{};
    std::array<HWND, 2> meterWindows{};
    std::array<HWND, 2> stripWindows{};
    std::array<HWND, 3> sliders{};
    std::array<HWND, 5> hidden{};
    std::array<HWND, kDialogOutputs + 1> chips{};
    // The server type chips, and the first output's type wherever it is held now.
    std::array<HWND, 3> typeChips{};
    uint32_t firstServerType = 0;
    bool firstServerTypeEdited = false;
    HWND addOutput = nullptr, outputSwitch = nullptr, outputSwitchLabel = nullptr, removeOutput = nullptr;

    std::vector<AudioDeviceInfo> inputs;
    std::vector<std::string> outputs;

    GdiObject<HFONT> font16, font18, tabFont;
    GdiObject<HBRUSH> windowBrush, editBrush, panelBrush;
};

// The open dialog's state, or null.
extern DialogState* state;

// Shared helpers (SettingsDialogWin.cpp).
bool IsRecordSwitch(int id);
bool& SwitchValue(int id);
void SetText(HWND window, const std::string& text);
std::string TextOf(HWND window, size_t limit);
double HiddenValue(Hidden which);
int ComboIndex(HWND combo);

// Live feedback (SettingsDialogFeedbackWin.cpp).
ProcessingParams ParamsFromControls();
void LiveApply();
DeviceChoice SelectedInput();
int32_t SelectedOutput();
void RestartPreview(const DeviceChoice& input);
void RefreshMeters();
void RepaintDots();
void FieldCheck();
int DotState(ServerVerdict verdict);
int DotState(AuthVerdict verdict);
void ShowGain();
void ShowAgcSpeed();
void ShowCompressor();

// Building the tabs (SettingsDialogTabsWin.cpp).
void ShowTab(int tab);
// Fills the bitrate list with codec's choices, the one nearest kbps selected.
void FillBitrateChoices(uint32_t codec, uint32_t kbps);
void OnCreate(HWND window, SettingsDialogData* data);

// The output chooser on the SERVER tab (SettingsDialogOutputsWin.cpp).
void CreateOutputRow();
void LayOutOutputRow();
void ChooseOutput(size_t index);
void AddOutput();
void RemoveOutput();
void ToggleOutputEnabled();
void MarkEdited(int id);
bool IsOutputCommand(int id);
void OnOutputCommand(int id);
// The first output's address, password and metadata, wherever they are held now.
void FirstOutputFields(std::string& address, std::string& password, std::string& metadata);
// Every output's address usable and no mount shared; else the output is shown and why.
bool OutputsUsable();
void SaveOutputsInto(SettingsDialogData& d);
void DrawOutputControl(const DRAWITEMSTRUCT& item);
bool IsOutputControl(int id);

// OK and the commands (SettingsDialogCommandsWin.cpp).
void SaveInto(SettingsDialogData& d);
// The codec chosen on the AUDIO tab (0 AAC, 1 MP3, 2 Opus), the bitrate at a position of
// a codec's list, and the one chosen for codec.
uint32_t SelectedCodec();
uint32_t BitrateAt(uint32_t codec, int position);
uint32_t SelectedBitrate(uint32_t codec);
void OnCommand(HWND window, int id, int code);

} // namespace settings_dialog
