#include "ui/SettingsDialog.h"

#include <commctrl.h>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/DeviceList.h"
#include "audio/InputLevelMonitor.h"
#include "audio/PreviewOutput.h"
#include "icecast/ConnectionTest.h"
#include "settings/DialogValues.h"
#include "ui/Controls.h"
#include "ui/Gdi.h"
#include "ui/SettingsDialogPaint.h"
#include "ui/Shapes.h"
#include "base/WideText.h"

const wchar_t kSettingsDialogClass[] = L"KelmVantoroSettingsDlg";

namespace {

constexpr int kWidth = 460;
constexpr int kHeight = 284;
constexpr UINT_PTR kMeterTimer = 5001;
constexpr int kFirstSwitch = IDC_START_WITH_WINDOWS;
constexpr int kSwitchCount = IDC_LISTEN - kFirstSwitch + 1;
constexpr std::array<int, 5> kHiddenIds = {1041, 1042, 1043, 1044, 1045};
enum Hidden { HiddenGain, HiddenAgcSpeed, HiddenThresh, HiddenRatio, HiddenMakeup };

constexpr COLORREF kWindowColour = RGB(32, 34, 40);
constexpr COLORREF kEditColour = RGB(22, 24, 30);
constexpr COLORREF kPanelColour = RGB(44, 46, 54);
constexpr COLORREF kCaptionGrey = RGB(140, 148, 158);


// Which record flag each switch edits.
struct SwitchField {
    int id;
    bool SettingsDialogData::*field;
};
constexpr SwitchField kSwitchFields[] = {
    {IDC_START_WITH_WINDOWS, &SettingsDialogData::startWithWindows},
    {IDC_START_MINIMIZED, &SettingsDialogData::startMinimized},
    {IDC_ENCODE_ON_LAUNCH, &SettingsDialogData::autoStartEncode},
    {IDC_AUTO_RECONNECT, &SettingsDialogData::persistentEncoding},
    {IDC_MINIMIZE_TO_TRAY, &SettingsDialogData::minimizeToTray},
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

    HWND address = nullptr, password = nullptr, metadata = nullptr, showPassword = nullptr;
    HWND bitrate = nullptr, channels = nullptr, input = nullptr, output = nullptr, formatLine = nullptr;
    HWND gainLabel = nullptr, agcLabel = nullptr, compLabel = nullptr, aboutCaption = nullptr;
    std::array<HWND, 3> dotWindows{};
    std::array<HWND, 2> meterWindows{};
    std::array<HWND, 2> stripWindows{};
    std::array<HWND, 3> sliders{};
    std::array<HWND, 5> hidden{};

    std::vector<AudioDeviceInfo> inputs;
    std::vector<std::string> outputs;

    HFONT font16 = nullptr, font18 = nullptr, tabFont = nullptr;
    HBRUSH windowBrush = nullptr, editBrush = nullptr, panelBrush = nullptr;
};

DialogState* state = nullptr;

// The switches bound to record flags (the "Listen" switch is not one of them).
bool IsRecordSwitch(int id)
{
    for (const SwitchField& f : kSwitchFields)
        if (f.id == id)
            return true;
    return false;
}

bool& SwitchValue(int id)
{
    return state->switches[static_cast<size_t>(id - kFirstSwitch)];
}

void SetText(HWND window, const std::string& text)
{
    SetWindowTextW(window, Widen(text).c_str());
}

std::string TextOf(HWND window, size_t limit)
{
    std::string text = WindowTextUtf8(window);
    if (text.size() > limit)
        text.resize(limit);
    return text;
}

double HiddenValue(Hidden which)
{
    return std::strtod(WindowTextUtf8(state->hidden[which]).c_str(), nullptr);
}

int ComboIndex(HWND combo)
{
    return static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
}

// ---- live feedback -------------------------------------------------------------------

ProcessingParams ParamsFromControls()
{
    const SettingsDialogData& d = *state->data;
    ProcessingParams p;
    p.hpfEnabled = SwitchValue(IDC_HPF_SWITCH);
    p.gateEnabled = SwitchValue(IDC_GATE_SWITCH);
    p.gainEnabled = SwitchValue(IDC_GAIN_SWITCH);
    p.gainDb = static_cast<float>(HiddenValue(HiddenGain));
    p.agcEnabled = SwitchValue(IDC_AGC_SWITCH);
    p.agcTargetDb = -16.0f;
    p.agcMaxGainDb = 12.0f;
    p.agcSpeed = static_cast<float>(HiddenValue(HiddenAgcSpeed));
    p.compEnabled = SwitchValue(IDC_COMP_SWITCH);
    p.compThreshDb = static_cast<float>(HiddenValue(HiddenThresh));
    p.compRatio = static_cast<float>(HiddenValue(HiddenRatio));
    const double x = 300.0 - 250.0 * state->compStrength;
    p.compAttackMs = static_cast<float>(x * 0.1);
    p.compReleaseMs = static_cast<float>(x * 0.9);
    p.compMakeupDb = static_cast<float>(HiddenValue(HiddenMakeup));
    p.boostEnabled = SwitchValue(IDC_BOOST_SWITCH);
    p.bassEnabled = SwitchValue(IDC_BASS_SWITCH);
    p.stereoWidthEnabled = SwitchValue(IDC_WIDTH_SWITCH);
    p.limiterEnabled = SwitchValue(IDC_LIMIT_SWITCH);
    p.codecPreEnabled = SwitchValue(IDC_OPT_SWITCH);
    p.codecBitrate = d.bitrate * 1000;
    p.codecHeVersion = d.heVersion;
    p.mono = ComboIndex(state->channels) == 1;
    return p;
}

void LiveApply()
{
    if (!state || !state->hidden[HiddenMakeup])
        return; // still being created
    const ProcessingParams params = ParamsFromControls();
    if (state->monitor)
        state->monitor->SetParams(params);
    if (state->preview && state->preview->Running())
        state->preview->UpdatePreviewParams(params);
}

// The input entry chosen in the combo: its position (-1 "(Default)") and identifier.
void SelectedInput(int32_t& position, std::string& id)
{
    position = ComboIndex(state->input) - 1;
    id.clear();
    if (position >= 0 && static_cast<size_t>(position) < state->inputs.size())
        id = state->inputs[static_cast<size_t>(position)].id;
    else
        position = -1;
}

int32_t SelectedOutput()
{
    const int index = ComboIndex(state->output);
    return index > 0 ? index - 1 : -1;
}

void RestartPreview(int32_t inputPosition, const std::string& inputId)
{
    if (!state->preview)
        return;
    state->preview->StopPreview();
    state->preview->StartPreview(inputPosition, inputId, SelectedOutput(), ParamsFromControls());
}

void RefreshMeters()
{
    DialogState& s = *state;
    ProcessingMeters m;
    bool source = false;
    if (s.preview && s.preview->Running()) {
        m = s.preview->Meters();
        source = true;
    } else if (s.monitor) {
        m = s.monitor->Chain().Meters();
        source = true;
    }
    auto lamp = [source](bool on, float meter, float idle) {
        if (!on)
            return 0.0f;
        return source ? std::max(meter, 0.02f) : idle;
    };
    auto dynamicLamp = [source](bool on, float meter) { return on ? (source ? meter : 0.5f) : 0.0f; };
    const bool gainOn = SwitchValue(IDC_GAIN_SWITCH);
    s.inputLamps.on = {SwitchValue(IDC_HPF_SWITCH), SwitchValue(IDC_GATE_SWITCH), gainOn, SwitchValue(IDC_AGC_SWITCH),
                       SwitchValue(IDC_COMP_SWITCH)};
    s.inputLamps.values = {lamp(s.inputLamps.on[0], m.hpfActivity, 0.02f),
                           lamp(s.inputLamps.on[1], m.gateActivity, 0.02f),
                           gainOn ? static_cast<float>((s.gainDb + 6.0) / 12.0) : 0.0f,
                           dynamicLamp(s.inputLamps.on[3], m.agcActivity),
                           dynamicLamp(s.inputLamps.on[4], m.compActivity)};
    s.outputLamps.on = {SwitchValue(IDC_BOOST_SWITCH), SwitchValue(IDC_BASS_SWITCH), SwitchValue(IDC_WIDTH_SWITCH),
                        SwitchValue(IDC_OPT_SWITCH), SwitchValue(IDC_LIMIT_SWITCH)};
    const float outputMeters[5] = {m.boostActivity, m.bassActivity, m.widthActivity, m.codecPreActivity,
                                   m.limiterActivity};
    for (size_t i = 0; i < 5; ++i)
        s.outputLamps.values[i] = lamp(s.outputLamps.on[i], outputMeters[i], 0.02f);
    s.inputMeter = source ? m.inputLevel * 1.2f : 0.0f;
    s.outputMeter = source ? m.outputLevel * 1.2f : 0.0f;
    for (HWND w : s.stripWindows)
        InvalidateRect(w, nullptr, FALSE);
    for (HWND w : s.meterWindows)
        InvalidateRect(w, nullptr, FALSE);
}

void RepaintDots()
{
    for (HWND w : state->dotWindows)
        InvalidateRect(w, nullptr, FALSE);
}

// Checks the server fields: every edit starts a fresh connection test, and only the
// newest test's verdicts reach the dots.
void FieldCheck()
{
    DialogState& s = *state;
    const std::string address = TextOf(s.address, 512);
    const std::string password = TextOf(s.password, 256);
    const std::string metadata = TextOf(s.metadata, 512);
    s.dots[2] = metadata.empty() ? 0 : 2;
    if (address.empty()) {
        AbandonConnectionTests(); // a test of an earlier text must not colour the dots
        s.testGeneration = 0;
        s.dots[0] = s.dots[1] = 0;
    } else {
        // The dots keep their colours until the new verdicts arrive.
        const int32_t generation = BeginConnectionTest();
        s.testGeneration = generation;
        HWND target = s.window;
        StartConnectionTest(generation, address, password, [target, generation] {
            PostMessageW(target, WM_APP_TEST_DONE, static_cast<WPARAM>(generation), 0);
        });
    }
    RepaintDots();
}

int DotState(int32_t result)
{
    return result > 0 ? 2 : (result < 0 ? 1 : 0);
}

// ---- sliders -------------------------------------------------------------------------

void ShowGain()
{
    SetText(state->gainLabel, GainLabel(static_cast<float>(state->gainDb)));
    SetText(state->hidden[HiddenGain], OneDecimal(state->gainDb));
}

void ShowAgcSpeed()
{
    SetText(state->agcLabel, AgcSpeedLabel(state->agcSpeed));
    SetText(state->hidden[HiddenAgcSpeed], FourDecimals(state->agcSpeed));
}

void ShowCompressor()
{
    const CompressorSetting c = CompressorFromStrength(state->compStrength);
    SetText(state->compLabel, CompressorLabel(state->compStrength));
    SetText(state->hidden[HiddenThresh], OneDecimal(c.threshDb));
    SetText(state->hidden[HiddenRatio], OneDecimal(c.ratio));
    SetText(state->hidden[HiddenMakeup], OneDecimal(c.makeupDb));
}

// ---- creation ------------------------------------------------------------------------

void AddTo(int tab, HWND child)
{
    state->tabChildren[static_cast<size_t>(tab)].push_back(child);
}

void AddSwitch(int tab, int id, int x, int y, const wchar_t* label, int labelX, int labelWidth)
{
    AddTo(tab, MakeToggleSwitch(state->window, id, x, y));
    AddTo(tab, MakeLabel(state->window, label, labelX, y + 1, labelWidth, 20));
}

void CreateSystemTab()
{
    AddSwitch(0, IDC_START_WITH_WINDOWS, 32, 82, L"Start with Windows", 74, 150);
    AddSwitch(0, IDC_ENCODE_ON_LAUNCH, 240, 82, L"Encode on launch", 282, 150);
    AddSwitch(0, IDC_START_MINIMIZED, 32, 112, L"Start minimized", 74, 150);
    AddSwitch(0, IDC_AUTO_RECONNECT, 240, 112, L"Auto reconnect", 282, 150);
    AddSwitch(0, IDC_MINIMIZE_TO_TRAY, 32, 142, L"Minimize to tray", 74, 150);
}

// A server tab row at y: caption, an edit with its placeholder, and the status dot
// (index dot) that judges the entry. Returns the edit.
HWND AddServerField(const wchar_t* caption, int id, const std::string& text, int y, const wchar_t* placeholder,
                    int dot)
{
    DialogState& s = *state;
    HWND w = s.window;
    AddTo(1, MakeLabel(w, caption, 26, y + 2, 70, 18));
    HWND edit = MakeEdit(w, id, text, 100, y, 316, 22, false);
    SetPlaceholder(edit, placeholder);
    AddTo(1, edit);
    s.dotWindows[dot] = MakeStatusDot(w, 422, y + 4, &s.dots[dot]);
    AddTo(1, s.dotWindows[dot]);
    return edit;
}

void CreateServerTab()
{
    DialogState& s = *state;
    const SettingsDialogData& d = *s.data;
    HWND w = s.window;
    AddTo(1, MakeCentredLabel(w, L"Icecast v2 server configuration required.", 10, 82, 440, 18));
    s.address = AddServerField(L"Address:", IDC_ADDRESS, DialogText(d.address), 113, L"put.domain.here:port/mount", 0);
    AddTo(1, MakeLabel(w, L"Password:", 26, 141, 70, 18));
    s.password = MakeEdit(w, IDC_PASSWORD, DialogText(d.password), 100, 139, 288, 22, true);
    SendMessageW(s.password, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(L"the_password_here"));
    AddTo(1, s.password);
    s.showPassword = CreateWindowExW(0, L"BUTTON", L"\u25CF", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 392, 139, 24, 22,
                                     w, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_SHOW_PASSWORD)), nullptr,
                                     nullptr);
    AddTo(1, s.showPassword);
    s.dotWindows[1] = MakeStatusDot(w, 422, 143, &s.dots[1]);
    AddTo(1, s.dotWindows[1]);
    s.metadata = AddServerField(L"Metadata:", IDC_METADATA, DialogText(d.streamName), 185,
                                L"Personalize Your Stream Title Here", 2);
}

void FillDeviceCombos()
{
    DialogState& s = *state;
    const SettingsDialogData& d = *s.data;
    s.inputs = ListCaptureDevices();
    s.outputs = ListRenderDevices();
    SendMessageW(s.input, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"(Default)"));
    for (const AudioDeviceInfo& device : s.inputs)
        SendMessageW(s.input, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(device.name).c_str()));
    int selected = 0;
    const std::string id = DialogText(d.deviceEndpointId);
    if (!id.empty()) {
        for (size_t i = 0; i < s.inputs.size(); ++i)
            if (s.inputs[i].id == id)
                selected = static_cast<int>(i) + 1;
    } else if (d.deviceIndex >= 0 && static_cast<size_t>(d.deviceIndex) < s.inputs.size()) {
        selected = d.deviceIndex + 1;
    }
    SendMessageW(s.input, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);

    SendMessageW(s.output, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"(Default)"));
    for (const std::string& name : s.outputs)
        SendMessageW(s.output, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(name).c_str()));
    const bool validOutput = d.previewOutputDevice >= 0 && static_cast<size_t>(d.previewOutputDevice) < s.outputs.size();
    SendMessageW(s.output, CB_SETCURSEL, validOutput ? static_cast<WPARAM>(d.previewOutputDevice + 1) : 0, 0);
}

void CreateAudioTab()
{
    DialogState& s = *state;
    const SettingsDialogData& d = *s.data;
    HWND w = s.window;
    s.formatLine = MakeCentredLabel(w, Widen(FormatLineForBitrate(d.bitrate)).c_str(), 10, 84, 440, 18);
    AddTo(2, s.formatLine);
    AddTo(2, MakeCentredLabel(w, L"Designed and optimized exclusively for Icecast v2 servers.", 10, 102, 440, 18));
    AddTo(2, MakeLabel(w, L"Bitrate:", 26, 135, 60, 18));
    s.bitrate = MakeDropDown(w, IDC_BITRATE, 86, 133, 111);
    for (uint32_t kbps : kBitrateChoices)
        SendMessageW(s.bitrate, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>((std::to_wstring(kbps) + L" kbps").c_str()));
    SendMessageW(s.bitrate, CB_SETCURSEL, NearestBitrateChoice(d.bitrate), 0);
    AddTo(2, s.bitrate);
    s.channels = MakeDropDown(w, IDC_CHANNELS, 203, 133, 111);
    SendMessageW(s.channels, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Stereo"));
    SendMessageW(s.channels, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Mono"));
    SendMessageW(s.channels, CB_SETCURSEL, d.channels < 2 ? 1 : 0, 0);
    AddTo(2, s.channels);
    HWND listen = MakeLabel(w, L"Listen", 358, 135, 42, 18);
    SetWindowLongPtrW(listen, GWL_STYLE, GetWindowLongPtrW(listen, GWL_STYLE) | SS_RIGHT);
    AddTo(2, listen);
    AddTo(2, MakeToggleSwitch(w, IDC_LISTEN, 406, 133));
    AddTo(2, MakeLabel(w, L"Input:", 26, 161, 60, 18));
    s.input = MakeDropDown(w, IDC_INPUT, 86, 159, 228);
    AddTo(2, s.input);
    s.meterWindows[0] = MakeMiniMeter(w, 320, 159, &s.inputMeter);
    AddTo(2, s.meterWindows[0]);
    AddTo(2, MakeLabel(w, L"Output:", 26, 187, 60, 18));
    s.output = MakeDropDown(w, IDC_OUTPUT, 86, 185, 228);
    AddTo(2, s.output);
    s.meterWindows[1] = MakeMiniMeter(w, 320, 185, &s.outputMeter);
    AddTo(2, s.meterWindows[1]);
    FillDeviceCombos();
}

void CreateDspTab()
{
    DialogState& s = *state;
    HWND w = s.window;
    const struct {
        int y, left, right;
        const wchar_t *leftLabel, *rightLabel;
    } rows[] = {
        {82, IDC_HPF_SWITCH, IDC_BOOST_SWITCH, L"HPF", L"Boost"},
        {110, IDC_GATE_SWITCH, IDC_BASS_SWITCH, L"Gate", L"Bass"},
        {138, IDC_GAIN_SWITCH, IDC_WIDTH_SWITCH, L"Gain", L"Width"},
        {166, IDC_AGC_SWITCH, IDC_OPT_SWITCH, L"AGC", L"Opt"},
        {194, IDC_COMP_SWITCH, IDC_LIMIT_SWITCH, L"Comp", L"Limit"},
    };
    for (const auto& row : rows) {
        AddSwitch(3, row.left, 32, row.y, row.leftLabel, 74, 36);
        AddSwitch(3, row.right, 370, row.y, row.rightLabel, 408, 42);
    }
    s.inputLamps.captions = {L"HPF", L"Gate", L"Gain", L"AGC", L"Comp"};
    s.inputLamps.kinds = {0, 0, 1, 2, 2};
    s.outputLamps.captions = {L"Boost", L"Bass", L"Width", L"Opt", L"Limit"};
    s.stripWindows[0] = MakeActivityStrip(w, IDC_LAMPS_INPUT, 112, 82, &s.inputLamps);
    s.stripWindows[1] = MakeActivityStrip(w, IDC_LAMPS_OUTPUT, 112, 110, &s.outputLamps);
    AddTo(3, s.stripWindows[0]);
    AddTo(3, s.stripWindows[1]);

    s.sliders[0] = MakeSlider(w, IDC_GAIN_SLIDER, 112, 138,
                              {&SwitchValue(IDC_GAIN_SWITCH), [] { return GainPosition(static_cast<float>(state->gainDb)); },
                               [](double t) {
                                   state->gainDb = GainFromPosition(t);
                                   ShowGain();
                               }});
    s.sliders[1] = MakeSlider(w, IDC_AGC_SLIDER, 112, 166,
                              {&SwitchValue(IDC_AGC_SWITCH), [] { return AgcSpeedPosition(state->agcSpeed); },
                               [](double t) {
                                   state->agcSpeed = AgcSpeedFromPosition(t);
                                   ShowAgcSpeed();
                               }});
    s.sliders[2] = MakeSlider(w, IDC_COMP_SLIDER, 112, 194,
                              {&SwitchValue(IDC_COMP_SWITCH), [] { return state->compStrength; },
                               [](double t) {
                                   state->compStrength = std::clamp(t, 0.0, 1.0);
                                   ShowCompressor();
                               }});
    s.gainLabel = MakeLabel(w, L"+0.0 dB", 318, 139, 50, 18);
    s.agcLabel = MakeLabel(w, L"Moderate", 318, 167, 50, 18);
    s.compLabel = MakeLabel(w, L"Soft", 318, 195, 50, 18);
    for (HWND child : {s.sliders[0], s.sliders[1], s.sliders[2], s.gainLabel, s.agcLabel, s.compLabel})
        AddTo(3, child);
}

void CreateHiddenEdits()
{
    for (size_t i = 0; i < kHiddenIds.size(); ++i)
        state->hidden[i] = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | ES_AUTOHSCROLL, 0, 0, 0, 0, state->window,
                                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(kHiddenIds[i])), nullptr,
                                           nullptr);
}

void ShowTab(int tab)
{
    state->tab = tab;
    for (int t = 0; t < kSettingsTabCount; ++t)
        for (HWND child : state->tabChildren[static_cast<size_t>(t)])
            ShowWindow(child, t == tab ? SW_SHOW : SW_HIDE);
    InvalidateRect(state->window, nullptr, FALSE);
}

void OnCreate(HWND window, SettingsDialogData* data)
{
    DialogState& s = *state;
    s.window = window;
    s.data = data;
    s.font16 = CreateUiFont(-16);
    s.font18 = CreateUiFont(-18);
    s.tabFont = CreateUiFont(-13, FW_BOLD);
    s.windowBrush = CreateSolidBrush(kWindowColour);
    s.editBrush = CreateSolidBrush(kEditColour);
    s.panelBrush = CreateSolidBrush(kPanelColour);

    for (const SwitchField& f : kSwitchFields)
        SwitchValue(f.id) = data->*f.field;
    SwitchValue(IDC_LISTEN) = s.preview && s.preview->Running();
    s.gainDb = data->gainDb;
    s.agcSpeed = std::clamp(static_cast<double>(data->agcSpeed), kAgcSpeedMin, kAgcSpeedMax);
    s.compStrength = CompressorStrength(data->compThreshDb);

    CreateSystemTab();
    CreateServerTab();
    CreateAudioTab();
    CreateDspTab();
    s.aboutCaption = MakeCentredLabel(window, L"Kelm Vantoro v1.0", 10, 86, 440, 22);
    AddTo(4, s.aboutCaption);
    AddTo(4, MakeCentredLabel(window, L"Live AAC and HE-AAC encoder for Icecast v2.", 10, 120, 440, 18));
    CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 270, 242, 85, 28, window,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_OK)), nullptr, nullptr);
    CreateWindowExW(0, L"BUTTON", L"Cancel", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 365, 242, 85, 28, window,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_CANCEL)), nullptr, nullptr);
    CreateHiddenEdits();
    ShowGain();
    ShowAgcSpeed();
    ShowCompressor();

    EnumChildWindows(
        window,
        [](HWND child, LPARAM font) -> BOOL {
            SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(s.font16));
    for (HWND child : {s.aboutCaption, s.address, s.password, s.metadata})
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(s.font18), FALSE);
    CentreEditText(s.address);
    CentreEditText(s.metadata);
    ShowTab(0);
    FieldCheck();
    SetTimer(window, kMeterTimer, 100, nullptr);
}

// ---- OK ------------------------------------------------------------------------------

void SaveInto(SettingsDialogData& d)
{
    DialogState& s = *state;
    const ServerAddress address = SplitServerAddress(WindowTextUtf8(s.address));
    CopyDialogText(d.host, address.host);
    d.port = address.port;
    CopyDialogText(d.mountPoint, address.mountPoint);
    CopyDialogText(d.username, "source");
    CopyDialogText(d.password, WindowTextUtf8(s.password));
    CopyDialogText(d.streamName, WindowTextUtf8(s.metadata));
    CopyDialogText(d.streamGenre, "");

    const int choice = ComboIndex(s.bitrate);
    const uint32_t kbps = choice >= 0 && static_cast<size_t>(choice) < kBitrateChoices.size()
                              ? kBitrateChoices[static_cast<size_t>(choice)]
                              : 64;
    d.bitrate = kbps;
    d.heVersion = HeVersionForBitrate(kbps);
    d.sampleRate = SampleRateForBitrate(kbps);
    d.channels = ComboIndex(s.channels) == 1 ? 1 : 2;

    int32_t position = -1;
    std::string id;
    SelectedInput(position, id);
    d.deviceIndex = position;
    CopyDialogText(d.deviceEndpointId, id);

    for (const SwitchField& f : kSwitchFields)
        d.*f.field = SwitchValue(f.id);
    d.gainDb = static_cast<float>(HiddenValue(HiddenGain));
    d.agcSpeed = static_cast<float>(HiddenValue(HiddenAgcSpeed));
    d.compThreshDb = static_cast<float>(HiddenValue(HiddenThresh));
    d.compRatio = static_cast<float>(HiddenValue(HiddenRatio));
    d.compMakeupDb = static_cast<float>(HiddenValue(HiddenMakeup));
    d.agcTargetDb = -16.0f;
    d.agcMaxGainDb = 12.0f;
    d.previewEnabled = false;
    d.previewOutputDevice = SelectedOutput();
}

// ---- commands ------------------------------------------------------------------------

void TogglePasswordVisible()
{
    DialogState& s = *state;
    s.passwordVisible = !s.passwordVisible;
    const std::string text = WindowTextUtf8(s.password);
    LONG_PTR style = GetWindowLongPtrW(s.password, GWL_STYLE);
    style = s.passwordVisible ? (style & ~static_cast<LONG_PTR>(ES_PASSWORD)) : (style | ES_PASSWORD);
    SetWindowLongPtrW(s.password, GWL_STYLE, style);
    SendMessageW(s.password, EM_SETPASSWORDCHAR, s.passwordVisible ? 0 : 0x25CF, 0);
    SetText(s.password, text);
    InvalidateRect(s.password, nullptr, TRUE);
    InvalidateRect(s.showPassword, nullptr, TRUE);
}

void ToggleListen()
{
    DialogState& s = *state;
    bool& on = SwitchValue(IDC_LISTEN);
    on = !on;
    if (!s.preview)
        return;
    if (!on) {
        s.preview->StopPreview();
        return;
    }
    s.preview->StartPreview(s.data->deviceIndex, DialogText(s.data->deviceEndpointId), SelectedOutput(),
                            ParamsFromControls());
}

void InputChanged()
{
    DialogState& s = *state;
    int32_t position = -1;
    std::string id;
    SelectedInput(position, id);
    if (s.monitor) {
        s.monitor->Stop();
        if (!id.empty())
            s.monitor->StartByEndpointId(id);
        else
            s.monitor->StartByIndex(position);
        s.monitor->SetParams(ParamsFromControls());
    }
    if (s.preview && s.preview->Running())
        RestartPreview(position, id);
}

void OnCommand(HWND window, int id, int code)
{
    DialogState& s = *state;
    if (IsRecordSwitch(id)) {
        if (code != BN_CLICKED)
            return;
        SwitchValue(id) = !SwitchValue(id);
        InvalidateRect(GetDlgItem(window, id), nullptr, FALSE);
        if (id >= IDC_GAIN_SWITCH) {
            LiveApply();
            if (id <= IDC_COMP_SWITCH)
                InvalidateRect(s.sliders[static_cast<size_t>(id - IDC_GAIN_SWITCH)], nullptr, FALSE);
        }
        return;
    }
    if (std::find(kHiddenIds.begin(), kHiddenIds.end(), id) != kHiddenIds.end()) {
        if (code == EN_CHANGE)
            LiveApply();
        return;
    }
    switch (id) {
    case IDC_SHOW_PASSWORD:
        TogglePasswordVisible();
        break;
    case IDC_LISTEN:
        ToggleListen();
        InvalidateRect(GetDlgItem(window, id), nullptr, FALSE);
        break;
    case IDC_BITRATE:
        if (code == CBN_SELCHANGE) {
            const int choice = ComboIndex(s.bitrate);
            if (choice >= 0 && static_cast<size_t>(choice) < kBitrateChoices.size())
                SetText(s.formatLine, FormatLineForBitrate(kBitrateChoices[static_cast<size_t>(choice)]));
        }
        break;
    case IDC_CHANNELS:
        if (code == CBN_SELCHANGE)
            LiveApply();
        break;
    case IDC_INPUT:
        if (code == CBN_SELCHANGE)
            InputChanged();
        break;
    case IDC_OUTPUT:
        if (code == CBN_SELCHANGE && s.preview && s.preview->Running()) {
            int32_t position = -1;
            std::string inputId;
            SelectedInput(position, inputId);
            RestartPreview(position, inputId);
        }
        break;
    case IDC_ADDRESS:
    case IDC_PASSWORD:
    case IDC_METADATA:
        if (code == EN_CHANGE)
            FieldCheck();
        break;
    case IDC_OK:
        SaveInto(*s.data);
        s.result = true;
        DestroyWindow(window);
        break;
    case IDC_CANCEL:
    case IDCANCEL:
        s.result = false;
        DestroyWindow(window);
        break;
    default:
        break;
    }
}

void OnDestroy(HWND window)
{
    DialogState& s = *state;
    if (s.preview)
        s.preview->StopPreview();
    AbandonConnectionTests();
    KillTimer(window, kMeterTimer);
    for (HGDIOBJ object : {static_cast<HGDIOBJ>(s.font16), static_cast<HGDIOBJ>(s.font18),
                           static_cast<HGDIOBJ>(s.tabFont), static_cast<HGDIOBJ>(s.windowBrush),
                           static_cast<HGDIOBJ>(s.editBrush), static_cast<HGDIOBJ>(s.panelBrush)})
        if (object)
            DeleteObject(object);
    s.font16 = s.font18 = s.tabFont = nullptr;
    s.windowBrush = s.editBrush = s.panelBrush = nullptr;
    for (auto& children : s.tabChildren)
        children.clear();
    s.window = nullptr;
    PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
}

LRESULT CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(window, static_cast<SettingsDialogData*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        return 0;
    case WM_NCHITTEST: {
        POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        ScreenToClient(window, &p);
        return p.y < 30 ? HTCAPTION : HTCLIENT;
    }
    case WM_MOVING:
        if (state->owner) {
            const RECT* r = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(state->owner, nullptr, r->left, r->top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        break;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        PaintSettingsDialog(window, state->tab, {state->font18, state->tabFont, state->font16});
        return 0;
    case WM_LBUTTONDOWN: {
        const POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        const int tab = SettingsTabAt(p);
        if (tab >= 0 && tab != state->tab)
            ShowTab(tab);
        return 0;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        SetTextColor(reinterpret_cast<HDC>(wParam), RGB(200, 210, 220));
        SetBkColor(reinterpret_cast<HDC>(wParam), kEditColour);
        return reinterpret_cast<LRESULT>(state->editBrush);
    case WM_CTLCOLORBTN:
        return reinterpret_cast<LRESULT>(state->windowBrush);
    case WM_CTLCOLORSTATIC:
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        SetTextColor(reinterpret_cast<HDC>(wParam), kCaptionGrey);
        return reinterpret_cast<LRESULT>(state->panelBrush);
    case WM_DRAWITEM: {
        const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (IsRecordSwitch(static_cast<int>(item.CtlID)) || item.CtlID == static_cast<UINT>(IDC_LISTEN))
            DrawToggleSwitch(item, SwitchValue(static_cast<int>(item.CtlID)));
        else
            DrawDialogButton(item, state->passwordVisible, state->font16);
        return TRUE;
    }
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_CLOSE:
        state->result = false;
        DestroyWindow(window);
        return 0;
    case WM_TIMER:
        if (wParam == kMeterTimer)
            RefreshMeters();
        return 0;
    case WM_APP_TEST_DONE:
        if (static_cast<int32_t>(wParam) == state->testGeneration) {
            state->dots[0] = DotState(ConnectionTestServerResult());
            state->dots[1] = DotState(ConnectionTestAuthResult());
            RepaintDots();
        }
        return 0;
    case WM_DESTROY:
        OnDestroy(window);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

HWND SettingsDialogWindow()
{
    return state ? state->window : nullptr;
}

bool ShowSettingsDialog(HWND owner, HINSTANCE instance, SettingsDialogData& data, InputLevelMonitor* levelMonitor,
                        PreviewOutput* preview)
{
    if (state)
        return false; // one dialog at a time
    static bool registered = false;
    if (!registered) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DialogProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = CreateSolidBrush(kWindowColour);
        wc.lpszClassName = kSettingsDialogClass;
        registered = RegisterClassExW(&wc) != 0;
    }
    DialogState dialog;
    dialog.owner = owner;
    dialog.monitor = levelMonitor;
    dialog.preview = preview;
    state = &dialog;

    RECT frame{0, 0, kWidth, kHeight};
    AdjustWindowRect(&frame, WS_POPUP | WS_CLIPCHILDREN, FALSE);
    int x = CW_USEDEFAULT, y = CW_USEDEFAULT;
    int w = frame.right - frame.left, h = frame.bottom - frame.top;
    RECT ownerRect;
    if (owner && GetWindowRect(owner, &ownerRect)) {
        x = ownerRect.left;
        y = ownerRect.top;
        w = ownerRect.right - ownerRect.left;
        h = ownerRect.bottom - ownerRect.top;
    }
    HWND window = CreateWindowExW(0, kSettingsDialogClass, L"Settings", WS_POPUP | WS_CLIPCHILDREN, x, y, w, h, owner,
                                  nullptr, instance, &data);
    if (!window) {
        state = nullptr;
        return false;
    }
    if (owner)
        EnableWindow(owner, FALSE);
    RoundWindowCorners(window, w, h);
    ShowWindow(window, SW_SHOW);
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    MSG msg;
    while (IsWindow(window)) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            // The program is quitting: close the dialog and hand the quit on.
            DestroyWindow(window);
            if (got == 0)
                PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (msg.hwnd == window || IsChild(window, msg.hwnd)) {
            // Escape anywhere in the dialog cancels it, as IDCANCEL does in a dialog box.
            if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
                PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
                continue;
            }
            // The text edits are multi-line inside (for centring): outside a dialog box
            // they would take Enter and Tab into the address or the title.
            if (msg.message == WM_CHAR && (msg.wParam == '\r' || msg.wParam == '\n' || msg.wParam == '\t'))
                continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (owner) {
        EnableWindow(owner, TRUE);
        SetForegroundWindow(owner);
    }
    const bool result = dialog.result;
    state = nullptr;
    return result;
}
