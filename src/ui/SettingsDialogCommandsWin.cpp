#include "ui/SettingsDialogState.h"

#include <algorithm>

#include "audio/InputLevelMonitor.h"
#include "audio/PreviewOutput.h"
#include "base/Log.h"
#include "base/Utf8.h"
#include "settings/DialogValues.h"

namespace settings_dialog {

uint32_t SelectedCodec()
{
    const int choice = ComboIndex(state->codec);
    return choice > 0 && static_cast<size_t>(choice) < kCodecChoices.size() ? static_cast<uint32_t>(choice) : 0;
}

uint32_t BitrateAt(uint32_t codec, int position)
{
    const std::vector<uint32_t> choices = BitrateChoices(codec);
    return position >= 0 && static_cast<size_t>(position) < choices.size() ? choices[static_cast<size_t>(position)]
                                                                           : 64;
}

uint32_t SelectedBitrate(uint32_t codec)
{
    return BitrateAt(codec, ComboIndex(state->bitrate));
}

void SaveInto(SettingsDialogData& d)
{
    DialogState& s = *state;
    std::string addressText, password, metadata;
    FirstOutputFields(addressText, password, metadata);
    const ServerAddress address = SplitServerAddress(addressText);
    CopyDialogText(d.host, address.host);
    d.port = address.port;
    CopyDialogText(d.mountPoint, address.mountPoint);
    d.tlsEnabled = address.secure;
    CopyDialogText(d.username, "source");
    CopyDialogText(d.password, password);
    CopyDialogText(d.streamName, metadata);
    CopyDialogText(d.streamGenre, "");
    CopyDialogText(d.recordFolder, WindowTextUtf8(s.recordFolder));

    const uint32_t codec = SelectedCodec();
    const uint32_t kbps = SelectedBitrate(codec);
    d.codec = codec;
    d.bitrate = kbps;
    // The AAC profile follows the bitrate; the other codecs leave the stored one.
    d.heVersion = codec == 0 ? HeVersionForBitrate(kbps) : s.data->heVersion;
    d.sampleRate = SampleRateFor(codec, kbps);
    d.channels = ComboIndex(s.channels) == 1 ? 1 : 2;

    const DeviceChoice input = SelectedInput();
    d.deviceIndex = input.position;
    CopyDialogText(d.deviceEndpointId, input.endpointId);

    for (const SwitchField& f : kSwitchFields)
        d.*f.field = SwitchValue(f.id);
    d.gainDb = static_cast<float>(HiddenValue(HiddenGain));
    d.agcSpeed = static_cast<float>(HiddenValue(HiddenAgcSpeed));
    d.compThreshDb = static_cast<float>(HiddenValue(HiddenThresh));
    d.compRatio = static_cast<float>(HiddenValue(HiddenRatio));
    d.compMakeupDb = static_cast<float>(HiddenValue(HiddenMakeup));
    d.agcTargetDb = kAgcTargetDb;
    d.agcMaxGainDb = kAgcMaxGainDb;
    d.previewEnabled = false;
    d.previewOutputDevice = SelectedOutput();
    SaveOutputsInto(d);
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
    const DeviceChoice input{s.data->deviceIndex, DialogText(s.data->deviceEndpointId)};
    if (!s.preview->StartPreview(input, SelectedOutput(), ParamsFromControls()))
        LogLine("UI", s.preview->LastError());
}

void InputChanged()
{
    DialogState& s = *state;
    const DeviceChoice input = SelectedInput();
    if (s.monitor) {
        s.monitor->Stop();
        if (!s.monitor->Start(input))
            LogLine("UI", "Input level monitor: " + s.monitor->LastError());
        s.monitor->SetParams(ParamsFromControls());
    }
    if (s.preview && s.preview->Running())
        RestartPreview(input);
}

// An edit never holds more than its stored field: the text is cut on a character
// boundary while it is typed or pasted, so the limit shows at once.
void LimitToField(int id)
{
    DialogState& s = *state;
    HWND edit = id == IDC_ADDRESS ? s.address : id == IDC_PASSWORD ? s.password : id == IDC_RECORD_FOLDER ? s.recordFolder : s.metadata;
    const size_t limit = id == IDC_ADDRESS           ? kAddressBytes
                         : id == IDC_PASSWORD        ? kPasswordBytes
                         : id == IDC_RECORD_FOLDER ? kRecordFolderBytes
                                                   : kStreamNameBytes;
    const std::string text = WindowTextUtf8(edit);
    if (text.size() <= limit)
        return;
    SetText(edit, std::string(Utf8Prefix(text, limit))); // its EN_CHANGE finds the text within the limit
    SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(-1), -1);
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
    if (IsOutputCommand(id)) {
        if (code == BN_CLICKED)
            OnOutputCommand(id);
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
        if (code == CBN_SELCHANGE)
            SetText(s.formatLine, FormatLineFor(SelectedCodec(), SelectedBitrate(SelectedCodec())));
        break;
    case IDC_CODEC:
        if (code == CBN_SELCHANGE) {
            // The list offers what the codec carries, keeping the nearest bitrate.
            const uint32_t codec = SelectedCodec();
            const int previous = ComboIndex(s.bitrate);
            const uint32_t kbps = previous >= 0 ? BitrateAt(s.shownCodec, previous) : 64;
            FillBitrateChoices(codec, kbps);
            s.shownCodec = codec;
            SetText(s.formatLine, FormatLineFor(codec, SelectedBitrate(codec)));
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
            RestartPreview(SelectedInput());
        }
        break;
    case IDC_ADDRESS:
    case IDC_PASSWORD:
    case IDC_METADATA:
        if (code == EN_CHANGE && !s.loadingFields) {
            MarkEdited(id);
            LimitToField(id);
            FieldCheck();
        }
        break;
    case IDC_RECORD_FOLDER:
        if (code == EN_CHANGE)
            LimitToField(id);
        break;
    case IDC_OK:
        // Every output's address, not only the one shown; the alert shows the culprit.
        if (!OutputsUsable())
            break;
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

} // namespace settings_dialog
