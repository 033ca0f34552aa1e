#include "ui/SettingsDialogState.h"

#include <string>
#include <vector>

#include "settings/DialogValues.h"
#include "ui/Popups.h"

// The SERVER tab's output chooser, on the free row below the metadata: "Output:", a chip
// per output (the first, then each further one that exists), "+" to add the next free
// one, and for a chosen further output its on/off switch and a remove button. Choosing a
// chip shows that output's address, password and metadata in the tab's three fields.
// Between the password and the metadata, the chosen output's server type: three chips,
// Icecast, Shoutcast v1 and Shoutcast 2.

namespace settings_dialog {
namespace {

constexpr int kRowY = 213;
constexpr int kChipsX = 100;
constexpr int kChipWidth = 20;
constexpr int kChipStep = 23;
constexpr int kSwitchX = 288;
constexpr int kRemoveX = 392; // under the show-password button
// The server type row, in the gap between the password and the metadata rows.
constexpr int kTypeRowY = 164;
constexpr int kTypeX[] = {100, 164, 244};
constexpr int kTypeWidth[] = {60, 76, 88};
constexpr const wchar_t* kTypeCaption[] = {L"Icecast", L"Shoutcast", L"Shoutcast 2"};

HWND MakeOwnerDrawn(const wchar_t* text, int id, int x, int width)
{
    return CreateWindowExW(0, L"BUTTON", text, WS_CHILD | BS_OWNERDRAW, x, kRowY, width, 18, state->window,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

// The chosen output's server type.
uint32_t& ChosenServerType()
{
    DialogState& s = *state;
    return s.chosenOutput == 0 ? s.firstServerType : s.furtherOutputs[s.chosenOutput - 1].serverType;
}

void ChooseServerType(uint32_t type)
{
    DialogState& s = *state;
    ChosenServerType() = type;
    if (s.chosenOutput == 0)
        s.firstServerTypeEdited = true;
    else
        s.furtherOutputs[s.chosenOutput - 1].serverTypeEdited = true;
    for (HWND chip : s.typeChips)
        InvalidateRect(chip, nullptr, FALSE);
    FieldCheck(); // the dots answer for the protocol now chosen
}

bool Exists(size_t index)
{
    return index == 0 || state->furtherOutputs[index - 1].present;
}

// The shown fields into the chosen output's place.
void StoreFields()
{
    DialogState& s = *state;
    if (s.chosenOutput == 0) {
        s.firstAddress = WindowTextUtf8(s.address);
        s.firstPassword = WindowTextUtf8(s.password);
        s.firstMetadata = WindowTextUtf8(s.metadata);
        return;
    }
    DialogOutput& o = s.furtherOutputs[s.chosenOutput - 1];
    CopyDialogText(o.address, WindowTextUtf8(s.address));
    CopyDialogText(o.password, WindowTextUtf8(s.password));
    CopyDialogText(o.streamName, WindowTextUtf8(s.metadata));
}

// What a further output streams with: its own or edited values, else the first output's
// as they stand now.
std::string AddressOf(const DialogOutput& o)
{
    return o.addressEdited ? DialogText(o.address) : FollowingAddress(o, state->firstAddress);
}

std::string PasswordOf(const DialogOutput& o)
{
    return o.passwordEdited || o.ownPassword ? DialogText(o.password) : state->firstPassword;
}

std::string StreamNameOf(const DialogOutput& o)
{
    return o.streamNameEdited || o.ownStreamName ? DialogText(o.streamName) : state->firstMetadata;
}

void LoadFields()
{
    DialogState& s = *state;
    s.loadingFields = true;
    if (s.chosenOutput == 0) {
        SetText(s.address, s.firstAddress);
        SetText(s.password, s.firstPassword);
        SetText(s.metadata, s.firstMetadata);
    } else {
        const DialogOutput& o = s.furtherOutputs[s.chosenOutput - 1];
        SetText(s.address, AddressOf(o));
        SetText(s.password, PasswordOf(o));
        SetText(s.metadata, StreamNameOf(o));
    }
    s.loadingFields = false;
    for (HWND edit : {s.address, s.password, s.metadata})
        InvalidateRect(edit, nullptr, TRUE);
}

void ShowIf(HWND window, bool shown)
{
    ShowWindow(window, shown ? SW_SHOW : SW_HIDE);
}

} // namespace

void CreateOutputRow()
{
    DialogState& s = *state;
    s.tabChildren[1].push_back(MakeLabel(s.window, L"Output:", 26, kRowY + 1, 70, 17));
    for (size_t i = 0; i < s.chips.size(); ++i)
        s.chips[i] = MakeOwnerDrawn(std::to_wstring(i + 1).c_str(), IDC_OUTPUT_CHIP + static_cast<int>(i), kChipsX,
                                    kChipWidth);
    s.addOutput = MakeOwnerDrawn(L"+", IDC_ADD_OUTPUT, kChipsX, kChipWidth);
    s.outputSwitch = MakeOwnerDrawn(L"", IDC_OUTPUT_ENABLED, kSwitchX, 32);
    s.outputSwitchLabel = MakeLabel(s.window, L"Enabled", kSwitchX + 42, kRowY + 1, 58, 17);
    ShowWindow(s.outputSwitchLabel, SW_HIDE);
    s.removeOutput = MakeOwnerDrawn(L"", IDC_REMOVE_OUTPUT, kRemoveX, 24);
    for (size_t i = 0; i < s.typeChips.size(); ++i) {
        s.typeChips[i] = CreateWindowExW(0, L"BUTTON", kTypeCaption[i], WS_CHILD | BS_OWNERDRAW, kTypeX[i], kTypeRowY,
                                         kTypeWidth[i], 18, s.window,
                                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_SERVER_TYPE + i)), nullptr,
                                         nullptr);
    }
    s.firstServerType = s.data->serverType;
    for (size_t i = 0; i < kDialogOutputs; ++i)
        s.furtherOutputs[i] = s.data->outputs[i];
    s.firstAddress = DialogText(s.data->address);
    s.firstPassword = DialogText(s.data->password);
    s.firstMetadata = DialogText(s.data->streamName);
}

// Places the chips of the outputs that exist side by side, "+" after them while an
// output is free, and the switch and remove button while a further output is chosen;
// nothing of it shows on the other tabs.
void LayOutOutputRow()
{
    DialogState& s = *state;
    const bool tab = s.tab == 1;
    int x = kChipsX;
    for (size_t i = 0; i < s.chips.size(); ++i) {
        const bool exists = Exists(i);
        if (exists) {
            SetWindowPos(s.chips[i], nullptr, x, kRowY, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            x += kChipStep;
        }
        ShowIf(s.chips[i], tab && exists);
        InvalidateRect(s.chips[i], nullptr, FALSE);
    }
    bool free = false;
    for (const DialogOutput& o : s.furtherOutputs)
        free = free || !o.present;
    SetWindowPos(s.addOutput, nullptr, x, kRowY, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowIf(s.addOutput, tab && free);
    const bool further = s.chosenOutput > 0;
    for (HWND w : {s.outputSwitch, s.outputSwitchLabel, s.removeOutput})
        ShowIf(w, tab && further);
    InvalidateRect(s.outputSwitch, nullptr, FALSE);
    for (HWND chip : s.typeChips) {
        ShowIf(chip, tab);
        InvalidateRect(chip, nullptr, FALSE);
    }
}

void ChooseOutput(size_t index)
{
    DialogState& s = *state;
    if (index >= s.chips.size() || !Exists(index))
        return;
    StoreFields();
    s.chosenOutput = index;
    LoadFields();
    LayOutOutputRow();
    FieldCheck();
}

// The lowest free number; its fields start as the first output's, which it follows
// until the user edits them.
void AddOutput()
{
    DialogState& s = *state;
    for (size_t i = 0; i < kDialogOutputs; ++i) {
        if (s.furtherOutputs[i].present)
            continue;
        DialogOutput& o = s.furtherOutputs[i];
        ClearDialogOutput(o);
        o.present = o.added = true;
        o.enabled = true;
        CopyDialogText(o.tlsCaFile, DialogText(s.data->tlsCaFile));
        CopyDialogText(o.tlsFingerprint, DialogText(s.data->tlsFingerprint));
        ChooseOutput(i + 1);
        SetFocus(s.address);
        return;
    }
}

// Takes effect on OK, as every change in the dialog; Cancel keeps the output.
void RemoveOutput()
{
    DialogState& s = *state;
    const size_t index = s.chosenOutput;
    if (index == 0)
        return;
    ChooseOutput(0);
    ClearDialogOutput(s.furtherOutputs[index - 1]);
    LayOutOutputRow();
}

void ToggleOutputEnabled()
{
    DialogState& s = *state;
    if (s.chosenOutput == 0)
        return;
    DialogOutput& o = s.furtherOutputs[s.chosenOutput - 1];
    o.enabled = !o.enabled;
    InvalidateRect(s.outputSwitch, nullptr, FALSE);
    InvalidateRect(s.chips[s.chosenOutput], nullptr, FALSE);
}

// A typed change to a further output's field: its keys are written on OK.
void MarkEdited(int id)
{
    DialogState& s = *state;
    if (s.chosenOutput == 0)
        return;
    DialogOutput& o = s.furtherOutputs[s.chosenOutput - 1];
    if (id == IDC_ADDRESS)
        o.addressEdited = true;
    else if (id == IDC_PASSWORD)
        o.passwordEdited = true;
    else
        o.streamNameEdited = true;
}

bool IsOutputCommand(int id)
{
    return id >= IDC_OUTPUT_CHIP && id <= IDC_SERVER_TYPE + 2;
}

void OnOutputCommand(int id)
{
    if (id == IDC_ADD_OUTPUT)
        AddOutput();
    else if (id == IDC_REMOVE_OUTPUT)
        RemoveOutput();
    else if (id == IDC_OUTPUT_ENABLED)
        ToggleOutputEnabled();
    else if (id >= IDC_SERVER_TYPE)
        ChooseServerType(static_cast<uint32_t>(id - IDC_SERVER_TYPE));
    else
        ChooseOutput(static_cast<size_t>(id - IDC_OUTPUT_CHIP));
}

void FirstOutputFields(std::string& address, std::string& password, std::string& metadata)
{
    StoreFields();
    address = state->firstAddress;
    password = state->firstPassword;
    metadata = state->firstMetadata;
}

// OK keeps the dialog open for an address it cannot use: that output is shown, its
// address marked red and selected, and an alert says why.
bool OutputsUsable()
{
    DialogState& s = *state;
    StoreFields();
    std::string reason;
    size_t culprit = 0; // the output shown with the reason
    std::vector<OutputTarget> targets{{1, s.firstAddress, true}};
    bool usable = CheckServerAddress(s.firstAddress, reason);
    for (size_t i = 0; usable && i < kDialogOutputs; ++i) {
        const DialogOutput& o = s.furtherOutputs[i];
        if (!o.present)
            continue;
        targets.push_back({i + 2, AddressOf(o), o.enabled});
        usable = CheckOutputAddress(i + 2, targets.back().address, reason);
        culprit = i + 1;
    }
    if (usable) {
        const size_t shared = SharedTarget(targets, reason);
        usable = shared == 0;
        culprit = usable ? 0 : shared - 1;
    }
    if (usable)
        return true;
    if (culprit != s.chosenOutput)
        ChooseOutput(culprit);
    s.dots[0] = 1;
    RepaintDots();
    ShowAlert(s.window, reason, "Invalid Address");
    if (state) {
        SetFocus(s.address);
        SendMessageW(s.address, EM_SETSEL, 0, -1);
    }
    return false;
}

void SaveOutputsInto(SettingsDialogData& d)
{
    DialogState& s = *state;
    StoreFields();
    for (size_t i = 0; i < kDialogOutputs; ++i) {
        DialogOutput o = s.furtherOutputs[i];
        if (o.present) {
            const std::string address = AddressOf(o);
            const ServerAddress parsed = SplitServerAddress(address);
            CopyDialogText(o.address, address);
            CopyDialogText(o.host, parsed.host);
            o.port = parsed.port;
            CopyDialogText(o.mountPoint, parsed.mountPoint);
            o.tlsEnabled = parsed.secure;
            CopyDialogText(o.password, PasswordOf(o));
            CopyDialogText(o.streamName, StreamNameOf(o));
        }
        d.outputs[i] = o;
    }
    d.serverType = s.firstServerType;
    d.serverTypeEdited = s.firstServerTypeEdited;
}

bool IsOutputControl(int id)
{
    return (id >= IDC_OUTPUT_CHIP && id <= IDC_OUTPUT_ENABLED) || (id >= IDC_SERVER_TYPE && id <= IDC_SERVER_TYPE + 2);
}

void DrawOutputControl(const DRAWITEMSTRUCT& item)
{
    DialogState& s = *state;
    const int id = static_cast<int>(item.CtlID);
    if (id == IDC_OUTPUT_ENABLED) {
        DrawToggleSwitch(item, s.chosenOutput > 0 && s.furtherOutputs[s.chosenOutput - 1].enabled);
        return;
    }
    ChipLook look;
    if (id >= IDC_SERVER_TYPE) {
        look.chosen = static_cast<uint32_t>(id - IDC_SERVER_TYPE) == ChosenServerType();
        look.enabled = true;
    } else if (id != IDC_ADD_OUTPUT) {
        const size_t index = static_cast<size_t>(id - IDC_OUTPUT_CHIP);
        look.chosen = index == s.chosenOutput;
        look.enabled = index == 0 || s.furtherOutputs[index - 1].enabled;
    }
    DrawOutputChip(item, look, s.font16.Get());
}

} // namespace settings_dialog
