#include "ui/SettingsDialogState.h"

#include <commctrl.h>

#include <algorithm>
#include <string>

#include "audio/PreviewOutput.h"
#include "settings/DialogValues.h"
#include "ui/Gdi.h"
#include "base/WideText.h"

namespace settings_dialog {
namespace {

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
    // Archive recording: the switch in the free place beside the tray's, the folder on a
    // row of its own below, as wide as the server tab's edits.
    AddSwitch(0, IDC_RECORD, 240, 142, L"Record", 282, 150);
    DialogState& s = *state;
    AddTo(0, MakeLabel(s.window, L"Folder:", 32, 180, 60, 18));
    s.recordFolder = MakeEdit(s.window, IDC_RECORD_FOLDER, DialogText(s.data->recordFolder), 100, 178, 316, 22, false);
    SetPlaceholder(s.recordFolder, L"recordings beside the settings");
    AddTo(0, s.recordFolder);
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
    CreateOutputRow();
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
    const int selected = ResolveDevicePosition({d.deviceIndex, DialogText(d.deviceEndpointId)}, s.inputs) + 1;
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
    s.formatLine = MakeCentredLabel(w, Widen(FormatLineFor(d.codec, d.bitrate)).c_str(), 10, 84, 440, 18);
    AddTo(2, s.formatLine);
    AddTo(2, MakeCentredLabel(w, L"Designed and optimized exclusively for Icecast v2 servers.", 10, 102, 440, 18));
    AddTo(2, MakeLabel(w, L"Bitrate:", 26, 135, 60, 18));
    s.bitrate = MakeDropDown(w, IDC_BITRATE, 86, 133, 111);
    FillBitrateChoices(d.codec, d.bitrate);
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
    // The codec, in the row below the devices: the rows above keep their places.
    AddTo(2, MakeLabel(w, L"Codec:", 26, 211, 60, 18));
    s.codec = MakeDropDown(w, IDC_CODEC, 86, 209, 111);
    for (const char* name : kCodecChoices)
        SendMessageW(s.codec, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(name).c_str()));
    SendMessageW(s.codec, CB_SETCURSEL, d.codec < kCodecChoices.size() ? d.codec : 0, 0);
    AddTo(2, s.codec);
    FillDeviceCombos();
}

// The row of the loudness switches: centred on OK and Cancel (y 242, 28 high).
constexpr int kFooterRowY = 247;

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
        // 38 wide: up to the strips and sliders at x 112, room for "Comp".
        AddSwitch(3, row.left, 32, row.y, row.leftLabel, 74, 38);
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

    // Broadcast loudness: the panel holds the module rows and nothing more, so its
    // switches sit below it, in the free strip left of OK and Cancel and centred on them,
    // at the module switches' x; the live readout goes to the title strip's right end.
    s.footer = {MakeToggleSwitch(w, IDC_LOUDNESS_SWITCH, 32, kFooterRowY), MakeLabel(w, L"Loudness", 74, kFooterRowY + 1, 64, 17),
                MakeToggleSwitch(w, IDC_TRUE_PEAK_SWITCH, 146, kFooterRowY),
                MakeLabel(w, L"True peak", 188, kFooterRowY + 1, 66, 17)};
    for (HWND child : s.footer)
        AddTo(3, child);
    s.loudnessReadout = MakeLabel(w, L"-", 258, 7, 188, 17);
    SetWindowLongPtrW(s.loudnessReadout, GWL_STYLE, GetWindowLongPtrW(s.loudnessReadout, GWL_STYLE) | SS_RIGHT);
    AddTo(3, s.loudnessReadout);
}

void CreateHiddenEdits()
{
    for (size_t i = 0; i < kHiddenIds.size(); ++i)
        state->hidden[i] = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | ES_AUTOHSCROLL, 0, 0, 0, 0, state->window,
                                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(kHiddenIds[i])), nullptr,
                                           nullptr);
}

} // namespace

void FillBitrateChoices(uint32_t codec, uint32_t kbps)
{
    DialogState& s = *state;
    SendMessageW(s.bitrate, CB_RESETCONTENT, 0, 0);
    for (uint32_t choice : BitrateChoices(codec))
        SendMessageW(s.bitrate, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>((std::to_wstring(choice) + L" kbps").c_str()));
    SendMessageW(s.bitrate, CB_SETCURSEL, NearestBitrateChoice(codec, kbps), 0);
    s.shownCodec = codec;
}

void ShowTab(int tab)
{
    state->tab = tab;
    for (int t = 0; t < kSettingsTabCount; ++t)
        for (HWND child : state->tabChildren[static_cast<size_t>(t)])
            ShowWindow(child, t == tab ? SW_SHOW : SW_HIDE);
    LayOutOutputRow();
    InvalidateRect(state->window, nullptr, FALSE);
}

void OnCreate(HWND window, SettingsDialogData* data)
{
    DialogState& s = *state;
    s.window = window;
    s.data = data;
    // Cell heights, as every other window of the program gives them: the character
    // heights these once were drew a third larger than the main window's 16 px text.
    s.font16.Reset(CreateUiFont(16));
    s.font18.Reset(CreateUiFont(18));
    s.tabFont.Reset(CreateUiFont(13, FW_BOLD));
    s.windowBrush.Reset(CreateSolidBrush(ToColorref(colours::kWindow)));
    s.editBrush.Reset(CreateSolidBrush(ToColorref(colours::kEdit)));
    s.panelBrush.Reset(CreateSolidBrush(ToColorref(colours::kPanel)));

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
    // The libraries on a line each: together they are wider than the panel.
    AddTo(4, MakeCentredLabel(window, L"Fraunhofer FDK AAC library.", 10, 150, 440, 18));
    AddTo(4, MakeCentredLabel(window, L"libebur128 (MIT licence, Jan Kokem\u00fcller).", 10, 168, 440, 18));
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
        reinterpret_cast<LPARAM>(s.font16.Get()));
    for (HWND child : {s.aboutCaption, s.address, s.password, s.metadata})
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(s.font18.Get()), FALSE);
    CentreEditText(s.address);
    CentreEditText(s.metadata);
    ShowTab(0);
    FieldCheck();
    SetTimer(window, kMeterTimer, 100, nullptr);
}

} // namespace settings_dialog
