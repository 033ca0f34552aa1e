#include "ui/SettingsDialogState.h"

#include <algorithm>
#include <optional>

#include "audio/InputLevelMonitor.h"
#include "audio/PreviewOutput.h"
#include "base/Log.h"
#include "icecast/ConnectionTest.h"
#include "settings/DialogProcessing.h"
#include "settings/DialogValues.h"

namespace settings_dialog {

ProcessingParams ParamsFromControls()
{
    const DialogState& s = *state;
    DialogProcessingControls c;
    c.hpf = SwitchValue(IDC_HPF_SWITCH);
    c.gate = SwitchValue(IDC_GATE_SWITCH);
    c.gain = SwitchValue(IDC_GAIN_SWITCH);
    c.agc = SwitchValue(IDC_AGC_SWITCH);
    c.comp = SwitchValue(IDC_COMP_SWITCH);
    c.boost = SwitchValue(IDC_BOOST_SWITCH);
    c.bass = SwitchValue(IDC_BASS_SWITCH);
    c.width = SwitchValue(IDC_WIDTH_SWITCH);
    c.limiter = SwitchValue(IDC_LIMIT_SWITCH);
    c.codecPre = SwitchValue(IDC_OPT_SWITCH);
    c.loudness = SwitchValue(IDC_LOUDNESS_SWITCH);
    c.truePeak = SwitchValue(IDC_TRUE_PEAK_SWITCH);
    c.loudnessTarget = s.data->loudnessTarget;
    c.loudnessMaxGainDb = s.data->loudnessMaxGainDb;
    c.truePeakCeilingDb = s.data->truePeakCeilingDb;
    c.gainDb = WindowTextUtf8(s.hidden[HiddenGain]);
    c.agcSpeed = WindowTextUtf8(s.hidden[HiddenAgcSpeed]);
    c.compThreshDb = WindowTextUtf8(s.hidden[HiddenThresh]);
    c.compRatio = WindowTextUtf8(s.hidden[HiddenRatio]);
    c.compMakeupDb = WindowTextUtf8(s.hidden[HiddenMakeup]);
    c.bitrateKbps = s.data->bitrate;
    c.heVersion = s.data->heVersion;
    c.mono = ComboIndex(s.channels) == 1;
    return ProcessingFromDialog(c);
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
DeviceChoice SelectedInput()
{
    const int32_t position = ComboIndex(state->input) - 1;
    if (position >= 0 && static_cast<size_t>(position) < state->inputs.size())
        return {position, state->inputs[static_cast<size_t>(position)].id};
    return {};
}

int32_t SelectedOutput()
{
    const int index = ComboIndex(state->output);
    return index > 0 ? index - 1 : -1;
}

void RestartPreview(const DeviceChoice& input)
{
    if (!state->preview)
        return;
    state->preview->StopPreview();
    if (!state->preview->StartPreview(input, SelectedOutput(), ParamsFromControls()))
        LogLine("UI", state->preview->LastError());
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
    // The loudness of what the monitor's chain hands on; "-" while nothing is measured.
    std::optional<LoudnessReading> loudness;
    if (s.monitor && s.monitor->Running())
        loudness = s.monitor->Loudness();
    const std::string readout = LoudnessReadout(loudness);
    if (readout != WindowTextUtf8(s.loudnessReadout))
        SetText(s.loudnessReadout, readout);
}

void RepaintDots()
{
    for (HWND w : state->dotWindows)
        InvalidateRect(w, nullptr, FALSE);
}

// Checks the server fields of the chosen output: every edit, and every choice of another
// output, starts a fresh connection test, and only the newest test's verdicts reach the
// dots.
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
        // The dots answer for the transport the stream will take: TLS for "https://".
        StartConnectionTest(
            generation, address, password,
            [target, generation] { PostMessageW(target, WM_APP_TEST_DONE, static_cast<WPARAM>(generation), 0); },
            s.chosenOutput == 0 ? ConnectionTestTls(address, *s.data)
                                : ConnectionTestTls(address, s.furtherOutputs[s.chosenOutput - 1]),
            static_cast<ServerType>(s.chosenOutput == 0 ? s.firstServerType
                                                        : s.furtherOutputs[s.chosenOutput - 1].serverType));
    }
    RepaintDots();
}

int DotState(ServerVerdict verdict)
{
    return verdict == ServerVerdict::Reachable ? 2 : (verdict == ServerVerdict::Unreachable ? 1 : 0);
}

int DotState(AuthVerdict verdict)
{
    return verdict == AuthVerdict::Accepted ? 2 : (verdict == AuthVerdict::Refused ? 1 : 0);
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

} // namespace settings_dialog
