#include <gtest/gtest.h>

#include <windows.h>

#include <objidl.h>

#include <gdiplus.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <thread>

#include "CutTexts.h"
#include "GdiplusSuite.h"
#include "audio/InputLevelMonitor.h"
#include "icecast/Base64.h"
#include "icecast/ConnectionTest.h"
#include "settings/DialogValues.h"
#include "settings/IniFile.h"
#include "settings/SettingsApply.h"
#include "support/LoopbackServer.h"
#include "ui/Controls.h"
#include "ui/Gdi.h"
#include "ui/SettingsDialog.h"
#include "ui/SettingsDialogPaint.h"

namespace {

using namespace std::chrono_literals;

class SettingsDialogTest : public GdiplusSuite {};

// A record as the program fills it from default settings.
SettingsDialogData DefaultRecord()
{
    SettingsStore store;
    AppSettings settings;
    ApplyStoredSettings(store, settings, {});
    SettingsDialogData data;
    FillDialogData(store, settings, data);
    return data;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 8000ms)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// Runs the modal dialog on this thread while script drives it from another, as a user
// would: the dialog's own loop handles every message the script sends.
bool RunDialog(SettingsDialogData& data, const std::function<void(HWND)>& script,
               InputLevelMonitor* monitor = nullptr)
{
    std::thread driver([&script] {
        HWND dialog = nullptr;
        // Shown only once created, so every child exists by then.
        WaitFor([&dialog] {
            dialog = FindWindowW(kSettingsDialogClass, nullptr);
            return dialog && IsWindowVisible(dialog);
        });
        if (!dialog)
            return;
        script(dialog);
        if (IsWindow(dialog))
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_CANCEL, BN_CLICKED), 0);
    });
    const bool result = ShowSettingsDialog(nullptr, GetModuleHandleW(nullptr), data, monitor, nullptr);
    driver.join();
    return result;
}

// The colour of a child's pixel once the child has painted.
Rgb PixelOf(HWND window, int x, int y)
{
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    std::this_thread::sleep_for(50ms);
    HDC dc = GetDC(window);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return {GetRValue(c), GetGValue(c), GetBValue(c)};
}

HWND ChildAt(HWND dialog, int x, int y)
{
    return ChildWindowFromPointEx(dialog, POINT{x, y}, CWP_SKIPINVISIBLE | CWP_SKIPTRANSPARENT);
}

void Click(HWND dialog, int id)
{
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Replaces an edit's text as typing would (a multi-line edit reports no change for a
// plain WM_SETTEXT).
void Type(HWND dialog, int id, const wchar_t* text)
{
    HWND edit = GetDlgItem(dialog, id);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text));
}

void ClickTab(HWND dialog, int tab)
{
    SendMessageW(dialog, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50 + 88 * tab, 50));
}

void DragSlider(HWND slider, int x)
{
    SendMessageW(slider, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, 9));
    SendMessageW(slider, WM_LBUTTONUP, 0, MAKELPARAM(x, 9));
}

// Switch pixels: the pill's far end from the knob shows the on or off colour.
Rgb SwitchColour(HWND dialog, int id, bool expectOn)
{
    return PixelOf(GetDlgItem(dialog, id), expectOn ? 5 : 27, 9);
}

TEST_F(SettingsDialogTest, TabsAndSwitchesShowTheirState)
{
    SettingsDialogData data = DefaultRecord();
    data.startWithWindows = true;
    Rgb on{}, off{}, flipped{};
    bool systemVisible = false, serverVisible = false, systemHidden = false;
    RunDialog(data, [&](HWND dialog) {
        on = SwitchColour(dialog, IDC_START_WITH_WINDOWS, true);
        off = SwitchColour(dialog, IDC_START_MINIMIZED, false);
        Click(dialog, IDC_START_MINIMIZED);
        flipped = SwitchColour(dialog, IDC_START_MINIMIZED, true);
        systemVisible = IsWindowVisible(GetDlgItem(dialog, IDC_START_WITH_WINDOWS));
        ClickTab(dialog, 1);
        serverVisible = IsWindowVisible(GetDlgItem(dialog, IDC_ADDRESS));
        systemHidden = !IsWindowVisible(GetDlgItem(dialog, IDC_START_WITH_WINDOWS));
    });
    EXPECT_EQ(on, colours::kSwitchOn);
    EXPECT_EQ(off, colours::kSwitchOff);
    EXPECT_EQ(flipped, colours::kSwitchOn);
    EXPECT_TRUE(systemVisible);
    EXPECT_TRUE(serverVisible);
    EXPECT_TRUE(systemHidden);
}

// The dialog shares the main window's outline: on the outermost pixel of every side.
TEST_F(SettingsDialogTest, OutlineLiesOnAllFourEdges)
{
    SettingsDialogData data = DefaultRecord();
    Rgb edges[4]{}, insides[4]{};
    RunDialog(data, [&](HWND dialog) {
        RECT r;
        GetClientRect(dialog, &r);
        const POINT edge[4] = {{230, 0}, {0, 140}, {r.right - 1, 140}, {230, r.bottom - 1}};
        const POINT inside[4] = {{230, 1}, {1, 140}, {r.right - 2, 140}, {230, r.bottom - 2}};
        for (int i = 0; i < 4; ++i) {
            edges[i] = PixelOf(dialog, edge[i].x, edge[i].y);
            insides[i] = PixelOf(dialog, inside[i].x, inside[i].y);
        }
    });
    const auto over = [](Rgb under) {
        const auto mix = [](int o, int u) {
            return static_cast<uint8_t>((o * colours::kOutlineAlpha + u * (255 - colours::kOutlineAlpha) + 127) / 255);
        };
        return Rgb{mix(colours::kOutline.r, under.r), mix(colours::kOutline.g, under.g), mix(colours::kOutline.b, under.b)};
    };
    const auto close = [](Rgb a, Rgb b) {
        return std::abs(a.r - b.r) <= 3 && std::abs(a.g - b.g) <= 3 && std::abs(a.b - b.b) <= 3;
    };
    const char* names[4] = {"top", "left", "right", "bottom"};
    for (int i = 0; i < 4; ++i) {
        const Rgb under = i == 0 ? colours::kPanel : colours::kWindow; // the title strip is at the top
        EXPECT_TRUE(close(edges[i], over(under))) << names[i];
        EXPECT_TRUE(close(insides[i], under)) << names[i] << " inside";
    }
}

// Every label and button of every tab shows its whole text, also the values the DSP
// sliders write at their ends.
TEST_F(SettingsDialogTest, NoLabelOrButtonTextIsCut)
{
    SettingsDialogData data = DefaultRecord();
    std::vector<std::string> cut;
    RunDialog(data, [&](HWND dialog) {
        for (const std::string& line : CutTexts(dialog))
            cut.push_back(line);
        ClickTab(dialog, 3);
        Click(dialog, IDC_GAIN_SWITCH);
        Click(dialog, IDC_AGC_SWITCH);
        Click(dialog, IDC_COMP_SWITCH);
        for (int x : {0, 300}) {
            for (int id : {IDC_GAIN_SLIDER, IDC_AGC_SLIDER, IDC_COMP_SLIDER})
                DragSlider(GetDlgItem(dialog, id), x);
            for (const std::string& line : CutTexts(dialog))
                cut.push_back("slider at " + std::to_string(x) + ": " + line);
        }
        // The loudness readout's widest figures.
        SetWindowTextW(ChildAt(dialog, 440, 220), L"-69.9 LUFS | TP -69.9 dBTP");
        for (const std::string& line : CutTexts(dialog))
            cut.push_back("loudness readout: " + line);
    });
    for (const std::string& line : cut)
        ADD_FAILURE() << line;
}

int CellHeight(HWND window, HFONT font)
{
    HDC dc = GetDC(window);
    HGDIOBJ previous = SelectObject(dc, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, previous);
    ReleaseDC(window, dc);
    return metrics.tmHeight;
}

// The dialog's text is as tall as the main window's: its fonts are given by cell height
// (16 px for the labels and buttons, 18 px for the server edits and the ABOUT caption,
// as the main window's label and button fonts), not by the taller character height.
TEST_F(SettingsDialogTest, FontsHaveTheMainWindowsCellHeights)
{
    static int label = 0, button = 0;
    {
        GdiObject<HFONT> labelFont(CreateUiFont(16)), buttonFont(CreateUiFont(18));
        label = CellHeight(nullptr, labelFont.Get());
        button = CellHeight(nullptr, buttonFont.Get());
    }
    SettingsDialogData data = DefaultRecord();
    std::vector<std::string> wrong;
    RunDialog(data, [&](HWND dialog) {
        EnumChildWindows(
            dialog,
            [](HWND child, LPARAM list) -> BOOL {
                HFONT font = reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0));
                LOGFONTW logical{};
                if (!font || !GetObjectW(font, sizeof(logical), &logical))
                    return TRUE;
                const int cell = CellHeight(child, font);
                if (logical.lfHeight <= 0 || (cell != label && cell != button))
                    reinterpret_cast<std::vector<std::string>*>(list)->push_back(
                        WindowTextUtf8(child) + ": height " + std::to_string(logical.lfHeight) + ", cell " +
                        std::to_string(cell));
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&wrong));
    });
    EXPECT_GT(button, label);
    for (const std::string& line : wrong)
        ADD_FAILURE() << line;
}

TEST_F(SettingsDialogTest, ServerDotsFollowTheNewestTest)
{
    const std::string good = "Authorization: Basic " + Base64Encode("source:right");
    LoopbackServer server([&good](LoopbackPeer& peer, int) {
        const std::string request = peer.ReadRequest();
        peer.Write(request.find(good) != std::string::npos ? "HTTP/1.0 200 OK\r\n\r\n"
                                                           : "HTTP/1.0 401 Unauthorized\r\n\r\n");
    });
    const std::string address = "127.0.0.1:" + std::to_string(server.Port()) + "/live";

    SettingsDialogData data = DefaultRecord();
    CopyDialogText(data.address, address);
    CopyDialogText(data.password, "right");
    CopyDialogText(data.streamName, "Morning Show");
    Rgb metadataDot{}, rightServer{}, rightPassword{}, wrongPassword{}, againPassword{}, emptyAddress{};
    bool coloured = true;
    RunDialog(data, [&](HWND dialog) {
        ClickTab(dialog, 1);
        HWND addressDot = ChildAt(dialog, 429, 124);
        HWND passwordDot = ChildAt(dialog, 429, 150);
        HWND metadataDotWindow = ChildAt(dialog, 429, 196);
        const Rgb green = colours::kDot[2];
        const Rgb red = colours::kDot[1];
        metadataDot = PixelOf(metadataDotWindow, 7, 7);
        coloured &= WaitFor([&] { return PixelOf(passwordDot, 7, 7) == green; });
        rightServer = PixelOf(addressDot, 7, 7);
        rightPassword = PixelOf(passwordDot, 7, 7);
        Type(dialog, IDC_PASSWORD, L"wrong");
        coloured &= WaitFor([&] { return PixelOf(passwordDot, 7, 7) == red; });
        wrongPassword = PixelOf(passwordDot, 7, 7);
        Type(dialog, IDC_PASSWORD, L"right");
        coloured &= WaitFor([&] { return PixelOf(passwordDot, 7, 7) == green; });
        againPassword = PixelOf(passwordDot, 7, 7);
        Type(dialog, IDC_ADDRESS, L"");
        emptyAddress = PixelOf(addressDot, 7, 7);
    });
    EXPECT_TRUE(coloured);
    EXPECT_EQ(metadataDot, colours::kDot[2]);
    EXPECT_EQ(rightServer, colours::kDot[2]);
    EXPECT_EQ(rightPassword, colours::kDot[2]);
    EXPECT_EQ(wrongPassword, colours::kDot[1]);
    EXPECT_EQ(againPassword, colours::kDot[2]);
    EXPECT_EQ(emptyAddress, colours::kDot[0]);
}

// The SERVER tab's output chooser: chips for the outputs that exist below the design's
// rows, which keep their places; choosing one shows its fields and its test verdicts,
// "+" adds the lowest free number following the first output, the switch disables, the
// remove button removes, and OK hands back only what was edited.
TEST_F(SettingsDialogTest, OutputChooserAddsChoosesDisablesAndRemovesOutputs)
{
    const std::string good = "Authorization: Basic " + Base64Encode("source:right");
    LoopbackServer server([&good](LoopbackPeer& peer, int) {
        const std::string request = peer.ReadRequest();
        peer.Write(request.find(good) != std::string::npos ? "HTTP/1.0 200 OK\r\n\r\n"
                                                           : "HTTP/1.0 401 Unauthorized\r\n\r\n");
    });
    const std::string port = std::to_string(server.Port());
    SettingsDialogData data = DefaultRecord();
    CopyDialogText(data.address, "127.0.0.1:" + port + "/live");
    CopyDialogText(data.password, "right");
    DialogOutput& three = data.outputs[1];
    three.present = three.enabled = three.ownMountPoint = three.ownPassword = true;
    CopyDialogText(three.address, "127.0.0.1:" + port + "/hq");
    CopyDialogText(three.mountPoint, "/hq");
    CopyDialogText(three.password, "wrong");

    using namespace chip_colours;
    struct Seen {
        bool twoHidden, addShown, switchHidden, removeHidden;
        RECT chipThree, add, address;
        Rgb oneFill, threeFill;
    } first{};
    std::string threeAddress, addedAddress, afterRemove;
    Rgb threeOn{}, threeOff{}, threeOffChip{}, threePassword{}, onePassword{};
    bool coloured = true, threeGone = false;
    RECT typeChip{}, metadata{};
    Rgb icecastChosen{}, shoutcast2Chosen{}, icecastAgain{};
    const bool result = RunDialog(data, [&](HWND dialog) {
        ClickTab(dialog, 1);
        const auto rect = [dialog](int id) {
            RECT r;
            GetWindowRect(GetDlgItem(dialog, id), &r);
            MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
            return r;
        };
        const auto shown = [dialog](int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; };
        const auto chip = [dialog](int number) { return GetDlgItem(dialog, IDC_OUTPUT_CHIP + number - 1); };
        HWND passwordDot = ChildAt(dialog, 429, 150);
        first = {!shown(IDC_OUTPUT_CHIP + 1), shown(IDC_ADD_OUTPUT), !shown(IDC_OUTPUT_ENABLED),
                 !shown(IDC_REMOVE_OUTPUT), rect(IDC_OUTPUT_CHIP + 2), rect(IDC_ADD_OUTPUT), rect(IDC_ADDRESS),
                 PixelOf(chip(1), 3, 9), PixelOf(chip(3), 3, 9)};
        coloured &= WaitFor([&] { return PixelOf(passwordDot, 7, 7) == colours::kDot[2]; });

        Click(dialog, IDC_OUTPUT_CHIP + 2);
        threeAddress = WindowTextUtf8(GetDlgItem(dialog, IDC_ADDRESS));
        coloured &= WaitFor([&] { return PixelOf(passwordDot, 7, 7) == colours::kDot[1]; });
        threePassword = PixelOf(passwordDot, 7, 7);
        threeOn = SwitchColour(dialog, IDC_OUTPUT_ENABLED, true);
        Click(dialog, IDC_OUTPUT_ENABLED);
        threeOff = SwitchColour(dialog, IDC_OUTPUT_ENABLED, false);
        Click(dialog, IDC_OUTPUT_CHIP);
        threeOffChip = PixelOf(chip(3), 3, 9);
        coloured &= WaitFor([&] { return PixelOf(passwordDot, 7, 7) == colours::kDot[2]; });
        onePassword = PixelOf(passwordDot, 7, 7);

        Click(dialog, IDC_ADD_OUTPUT); // output 2, chosen at once
        addedAddress = WindowTextUtf8(GetDlgItem(dialog, IDC_ADDRESS));
        Type(dialog, IDC_ADDRESS, Widen("127.0.0.1:" + port + "/mobile").c_str());
        Type(dialog, IDC_METADATA, L"Mobile");
        // The server type row, in the gap between the password and the metadata: the
        // chosen output's type, output 2 to Shoutcast 2, the first staying Icecast.
        typeChip = rect(IDC_SERVER_TYPE);
        metadata = rect(IDC_METADATA);
        icecastChosen = PixelOf(GetDlgItem(dialog, IDC_SERVER_TYPE), 3, 9);
        Click(dialog, IDC_SERVER_TYPE + 2);
        shoutcast2Chosen = PixelOf(GetDlgItem(dialog, IDC_SERVER_TYPE + 2), 3, 9);
        Click(dialog, IDC_OUTPUT_CHIP);
        icecastAgain = PixelOf(GetDlgItem(dialog, IDC_SERVER_TYPE), 3, 9);

        Click(dialog, IDC_OUTPUT_CHIP + 2);
        Click(dialog, IDC_REMOVE_OUTPUT);
        threeGone = !shown(IDC_OUTPUT_CHIP + 2) && !shown(IDC_REMOVE_OUTPUT);
        afterRemove = WindowTextUtf8(GetDlgItem(dialog, IDC_ADDRESS));
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_OK, BN_CLICKED), 0);
    });
    EXPECT_TRUE(result);
    EXPECT_TRUE(first.twoHidden && first.addShown && first.switchHidden && first.removeHidden);
    EXPECT_EQ(first.address.left, 100); // the design's rows keep their places
    EXPECT_EQ(first.address.top, 113);
    EXPECT_EQ(first.chipThree.left, 123); // the second chip's place: output 2 does not exist
    EXPECT_EQ(first.chipThree.top, 213);
    EXPECT_LE(first.chipThree.bottom, 231); // above the panel's bottom line
    EXPECT_EQ(first.add.left, 146);
    EXPECT_EQ(first.oneFill, kChosenFill);
    EXPECT_EQ(first.threeFill, kFill);

    EXPECT_EQ(threeAddress, "127.0.0.1:" + port + "/hq");
    EXPECT_TRUE(coloured);
    EXPECT_EQ(threePassword, colours::kDot[1]); // output 3's own password is refused
    EXPECT_EQ(onePassword, colours::kDot[2]);
    EXPECT_EQ(threeOn, colours::kSwitchOn);
    EXPECT_EQ(threeOff, colours::kSwitchOff);
    EXPECT_EQ(threeOffChip, kOffFill);
    EXPECT_EQ(addedAddress, "127.0.0.1:" + port + "/live"); // follows the first output
    EXPECT_TRUE(threeGone);
    EXPECT_EQ(afterRemove, "127.0.0.1:" + port + "/live");
    EXPECT_EQ(typeChip.left, 100);
    EXPECT_GE(typeChip.top, 162); // below the password row
    EXPECT_LE(typeChip.bottom, metadata.top);
    EXPECT_EQ(metadata.top, 185);
    EXPECT_EQ(icecastChosen, kChosenFill);
    EXPECT_EQ(shoutcast2Chosen, kChosenFill);
    EXPECT_EQ(icecastAgain, kChosenFill);
    EXPECT_EQ(data.outputs[0].serverType, 2u);
    EXPECT_TRUE(data.outputs[0].serverTypeEdited);
    EXPECT_FALSE(data.serverTypeEdited);

    const DialogOutput& two = data.outputs[0];
    EXPECT_TRUE(two.present && two.added && two.enabled && two.addressEdited && two.streamNameEdited);
    EXPECT_FALSE(two.passwordEdited);
    EXPECT_STREQ(two.mountPoint, "/mobile");
    EXPECT_STREQ(two.streamName, "Mobile");
    EXPECT_STREQ(two.password, "right");
    EXPECT_FALSE(data.outputs[1].present);
    EXPECT_STREQ(data.address, ("127.0.0.1:" + port + "/live").c_str());
}

TEST_F(SettingsDialogTest, ASupersededTestNeverColoursTheDots)
{
    // The first connection (the check at opening) never gets an answer and would end
    // refused after 4 s; the second, started by an edit, is accepted at once.
    LoopbackServer server([](LoopbackPeer& peer, int index) {
        peer.ReadRequest();
        if (index == 0)
            peer.Idle(6000);
        else
            peer.Write("HTTP/1.0 200 OK\r\n\r\n");
    });
    SettingsDialogData data = DefaultRecord();
    CopyDialogText(data.address, "127.0.0.1:" + std::to_string(server.Port()) + "/live");
    CopyDialogText(data.password, "right");
    bool green = false;
    Rgb later{};
    RunDialog(data, [&](HWND dialog) {
        ClickTab(dialog, 1);
        HWND passwordDot = ChildAt(dialog, 429, 150);
        Type(dialog, IDC_PASSWORD, L"right");
        green = WaitFor([&] { return PixelOf(passwordDot, 7, 7) == colours::kDot[2]; });
        std::this_thread::sleep_for(std::chrono::milliseconds(kConnectionTestTimeoutMs + 1000));
        later = PixelOf(passwordDot, 7, 7);
    });
    EXPECT_TRUE(green);
    EXPECT_EQ(later, colours::kDot[2]);
}

TEST_F(SettingsDialogTest, CancelLeavesTheRecordAlone)
{
    SettingsDialogData data = DefaultRecord();
    const SettingsDialogData before = data;
    const bool result = RunDialog(data, [](HWND dialog) {
        Click(dialog, IDC_START_WITH_WINDOWS);
        ClickTab(dialog, 3);
        Click(dialog, IDC_GAIN_SWITCH);
        DragSlider(GetDlgItem(dialog, IDC_GAIN_SLIDER), 0);
        Type(dialog, IDC_ADDRESS, L"changed:8000/x");
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_CANCEL, BN_CLICKED), 0);
    });
    EXPECT_FALSE(result);
    EXPECT_EQ(std::memcmp(&before, &data, sizeof data), 0);
}

TEST_F(SettingsDialogTest, OkFillsTheRecord)
{
    SettingsDialogData data = DefaultRecord();
    CopyDialogText(data.streamGenre, "Talk");
    std::string gainText, compText;
    const bool result = RunDialog(data, [&](HWND dialog) {
        ClickTab(dialog, 1);
        Type(dialog, IDC_ADDRESS, L"http://radio.example:8000/live/");
        // Enter and Tab typed into the address change nothing.
        PostMessageW(GetDlgItem(dialog, IDC_ADDRESS), WM_CHAR, '\r', 0);
        PostMessageW(GetDlgItem(dialog, IDC_ADDRESS), WM_CHAR, '\t', 0);
        std::this_thread::sleep_for(200ms);
        Type(dialog, IDC_PASSWORD, L"pw");
        Type(dialog, IDC_METADATA, L"News");
        SendMessageW(GetDlgItem(dialog, IDC_BITRATE), CB_SETCURSEL, 8, 0); // 128 kbps
        SendMessageW(GetDlgItem(dialog, IDC_CHANNELS), CB_SETCURSEL, 1, 0); // Mono
        Click(dialog, IDC_AUTO_RECONNECT);
        ClickTab(dialog, 3);
        Click(dialog, IDC_COMP_SWITCH);
        DragSlider(GetDlgItem(dialog, IDC_GAIN_SLIDER), 0);
        DragSlider(GetDlgItem(dialog, IDC_COMP_SLIDER), 300); // past the end: strength 1
        gainText = WindowTextUtf8(ChildAt(dialog, 320, 141));
        compText = WindowTextUtf8(ChildAt(dialog, 320, 197));
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_OK, BN_CLICKED), 0);
    });
    EXPECT_TRUE(result);
    EXPECT_EQ(gainText, "-6.0 dB");
    EXPECT_EQ(compText, "50 ms");
    EXPECT_STREQ(data.host, "radio.example");
    EXPECT_EQ(data.port, 8000u);
    EXPECT_STREQ(data.mountPoint, "/live");
    EXPECT_STREQ(data.username, "source");
    EXPECT_STREQ(data.password, "pw");
    EXPECT_STREQ(data.streamName, "News");
    EXPECT_STREQ(data.streamGenre, "");
    EXPECT_EQ(data.bitrate, 128u);
    EXPECT_EQ(data.heVersion, 0u);
    EXPECT_EQ(data.sampleRate, 44100u);
    EXPECT_EQ(data.channels, 1u);
    EXPECT_TRUE(data.persistentEncoding);
    EXPECT_TRUE(data.compEnabled);
    EXPECT_FALSE(data.gainEnabled);
    EXPECT_FLOAT_EQ(data.gainDb, -6.0f);
    EXPECT_FLOAT_EQ(data.compThreshDb, -30.0f);
    EXPECT_FLOAT_EQ(data.compRatio, 4.0f);
    EXPECT_FLOAT_EQ(data.agcTargetDb, -16.0f);
    EXPECT_FALSE(data.previewEnabled);
    EXPECT_EQ(data.previewOutputDevice, -1);
    EXPECT_EQ(data.deviceIndex, -1);
}

// The codec choice on the AUDIO tab: Opus offers its own bitrates, the format line names
// it, and OK stores the codec with Opus's rate, leaving the AAC profile as it was.
TEST_F(SettingsDialogTest, CodecChoiceOffersItsBitrates)
{
    SettingsDialogData data = DefaultRecord();
    std::string line;
    LRESULT choices = 0;
    const bool result = RunDialog(data, [&](HWND dialog) {
        ClickTab(dialog, 2);
        HWND codec = GetDlgItem(dialog, IDC_CODEC);
        SendMessageW(codec, CB_SETCURSEL, 2, 0); // Opus
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_CODEC, CBN_SELCHANGE), reinterpret_cast<LPARAM>(codec));
        HWND bitrate = GetDlgItem(dialog, IDC_BITRATE);
        choices = SendMessageW(bitrate, CB_GETCOUNT, 0, 0);
        SendMessageW(bitrate, CB_SETCURSEL, 5, 0); // 96 kbps
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_BITRATE, CBN_SELCHANGE), reinterpret_cast<LPARAM>(bitrate));
        line = WindowTextUtf8(ChildAt(dialog, 230, 90));
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_OK, BN_CLICKED), 0);
    });
    EXPECT_TRUE(result);
    EXPECT_EQ(choices, static_cast<LRESULT>(kOpusBitrateChoices.size()));
    EXPECT_EQ(line, "Opus @ 48,000 Hz");
    EXPECT_EQ(data.codec, 2u);
    EXPECT_EQ(data.bitrate, 96u);
    EXPECT_EQ(data.sampleRate, 48000u);
    EXPECT_EQ(data.heVersion, DefaultRecord().heVersion);
}

// The SYSTEM tab's "Record" switch and folder: shown with the record's values, beside
// and below the switches that were there, which keep their places; OK takes both back.
TEST_F(SettingsDialogTest, RecordSwitchAndFolderSitOnTheSystemTab)
{
    SettingsDialogData data = DefaultRecord();
    CopyDialogText(data.recordFolder, "D:\\Old");
    Rgb offBefore{}, onAfter{};
    std::string folderShown;
    bool switchVisible = false, folderVisible = false, hiddenOnServer = false;
    RECT trayRect{}, recordRect{}, folderRect{};
    const bool result = RunDialog(data, [&](HWND dialog) {
        HWND record = GetDlgItem(dialog, IDC_RECORD);
        HWND folder = GetDlgItem(dialog, IDC_RECORD_FOLDER);
        switchVisible = IsWindowVisible(record);
        folderVisible = IsWindowVisible(folder);
        folderShown = WindowTextUtf8(folder);
        GetWindowRect(GetDlgItem(dialog, IDC_MINIMIZE_TO_TRAY), &trayRect);
        GetWindowRect(record, &recordRect);
        GetWindowRect(folder, &folderRect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&trayRect), 2);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&recordRect), 2);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&folderRect), 2);
        offBefore = SwitchColour(dialog, IDC_RECORD, false);
        Click(dialog, IDC_RECORD);
        onAfter = SwitchColour(dialog, IDC_RECORD, true);
        Type(dialog, IDC_RECORD_FOLDER, L"E:\\Archiv \u00fc");
        ClickTab(dialog, 1);
        hiddenOnServer = !IsWindowVisible(record) && !IsWindowVisible(folder);
        ClickTab(dialog, 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_OK, BN_CLICKED), 0);
    });
    EXPECT_TRUE(result);
    EXPECT_TRUE(switchVisible);
    EXPECT_TRUE(folderVisible);
    EXPECT_TRUE(hiddenOnServer);
    EXPECT_EQ(folderShown, "D:\\Old");
    EXPECT_EQ(offBefore, colours::kSwitchOff);
    EXPECT_EQ(onAfter, colours::kSwitchOn);
    // "Minimize to tray" stays where it was; "Record" shares its row, the folder lies below.
    EXPECT_EQ(trayRect.left, 32);
    EXPECT_EQ(trayRect.top, 142);
    EXPECT_EQ(recordRect.left, 240);
    EXPECT_EQ(recordRect.top, 142);
    EXPECT_GE(folderRect.top, trayRect.bottom + 8);
    EXPECT_LT(folderRect.bottom, 242); // above OK and Cancel
    EXPECT_TRUE(data.recordEnabled);
    EXPECT_STREQ(data.recordFolder, "E:\\Archiv \xc3\xbc");
}

// The DSP tab's "Loudness" and "True peak" switches: shown with the record's flags in a
// row of their own below the panel, beside OK and Cancel (the design's rows keep their
// places), with a readout of "-" in the title strip while no monitor measures; OK takes
// the flipped flags back.
TEST_F(SettingsDialogTest, LoudnessSwitchesAndReadoutSitOnTheDspTab)
{
    SettingsDialogData data = DefaultRecord();
    data.loudnessEnabled = true;
    Rgb loudnessShown{}, truePeakShown{}, loudnessFlipped{}, truePeakFlipped{};
    std::string readout;
    bool hiddenOnSystem = false;
    RECT compRect{}, loudnessRect{}, truePeakRect{}, readoutRect{};
    const bool result = RunDialog(data, [&](HWND dialog) {
        ClickTab(dialog, 3);
        HWND loudness = GetDlgItem(dialog, IDC_LOUDNESS_SWITCH);
        HWND truePeak = GetDlgItem(dialog, IDC_TRUE_PEAK_SWITCH);
        HWND readoutWindow = ChildAt(dialog, 440, 14);
        readout = WindowTextUtf8(readoutWindow);
        const std::pair<HWND, RECT*> rects[] = {{GetDlgItem(dialog, IDC_COMP_SWITCH), &compRect},
                                                {loudness, &loudnessRect},
                                                {truePeak, &truePeakRect},
                                                {readoutWindow, &readoutRect}};
        for (const auto& [window, rect] : rects) {
            GetWindowRect(window, rect);
            MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(rect), 2);
        }
        loudnessShown = SwitchColour(dialog, IDC_LOUDNESS_SWITCH, true);
        truePeakShown = SwitchColour(dialog, IDC_TRUE_PEAK_SWITCH, false);
        Click(dialog, IDC_LOUDNESS_SWITCH);
        Click(dialog, IDC_TRUE_PEAK_SWITCH);
        loudnessFlipped = SwitchColour(dialog, IDC_LOUDNESS_SWITCH, false);
        truePeakFlipped = SwitchColour(dialog, IDC_TRUE_PEAK_SWITCH, true);
        ClickTab(dialog, 0);
        hiddenOnSystem = !IsWindowVisible(loudness) && !IsWindowVisible(truePeak) && !IsWindowVisible(readoutWindow);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_OK, BN_CLICKED), 0);
    });
    EXPECT_TRUE(result);
    EXPECT_EQ(loudnessShown, colours::kSwitchOn);
    EXPECT_EQ(truePeakShown, colours::kSwitchOff);
    EXPECT_EQ(loudnessFlipped, colours::kSwitchOff);
    EXPECT_EQ(truePeakFlipped, colours::kSwitchOn);
    EXPECT_TRUE(hiddenOnSystem);
    EXPECT_EQ(readout, "-");
    // "Comp" stays where it was; the new row lies below the panel (its edge at y 231) by
    // more than the rows' 10 pixels, centred on OK and Cancel (242 to 270) and left of
    // them; the readout lies in the title strip (0 to 30).
    EXPECT_EQ(compRect.left, 32);
    EXPECT_EQ(compRect.top, 194);
    EXPECT_EQ(loudnessRect.left, 32);
    EXPECT_GE(loudnessRect.top, 232 + 10);
    EXPECT_EQ(loudnessRect.top + loudnessRect.bottom, 242 + 270);
    EXPECT_EQ(truePeakRect.top, loudnessRect.top);
    EXPECT_GT(truePeakRect.left, loudnessRect.right);
    EXPECT_LT(truePeakRect.right + 66 + 6, 270);
    EXPECT_GE(readoutRect.top, 0);
    EXPECT_LE(readoutRect.bottom, 30);
    EXPECT_FALSE(data.loudnessEnabled);
    EXPECT_TRUE(data.truePeakEnabled);
}

// A TLS server: the address opens with "https://", OK without an edit keeps TLS on and
// the certificates, and the scheme typed into the address switches TLS.
TEST_F(SettingsDialogTest, HttpsAddressSurvivesOpenAndOk)
{
    const std::string fingerprint(64, 'c');
    SettingsStore store;
    IniFile::ParseText("[Icecast]\nhost=127.0.0.1\nport=8443\nmountPoint=live\ntlsEnabled=true\n"
                       "tlsCaFile=C:\\radio\\ca.pem\ntlsFingerprint=" + fingerprint + "\n",
                       store);
    AppSettings settings;
    ApplyStoredSettings(store, settings, {});
    SettingsDialogData data;
    FillDialogData(store, settings, data);

    std::string shown;
    ASSERT_TRUE(RunDialog(data, [&](HWND dialog) {
        ClickTab(dialog, 1);
        shown = WindowTextUtf8(GetDlgItem(dialog, IDC_ADDRESS));
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_OK, BN_CLICKED), 0);
    }));
    EXPECT_EQ(shown, "https://127.0.0.1:8443/live");
    EXPECT_TRUE(data.tlsEnabled);
    EXPECT_STREQ(data.host, "127.0.0.1");
    EXPECT_EQ(data.port, 8443u);
    ReadBackDialogData(data, store, settings, {});
    EXPECT_TRUE(store.GetBool("Icecast", "tlsEnabled", false));
    EXPECT_EQ(store.GetString("Icecast", "tlsCaFile", ""), "C:\\radio\\ca.pem");
    EXPECT_EQ(store.GetString("Icecast", "tlsFingerprint", ""), fingerprint);

    // Reopened: still https. Typed without a scheme: off, certificates kept.
    FillDialogData(store, settings, data);
    ASSERT_TRUE(RunDialog(data, [&](HWND dialog) {
        shown = WindowTextUtf8(GetDlgItem(dialog, IDC_ADDRESS));
        Type(dialog, IDC_ADDRESS, L"127.0.0.1:8000/live");
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_OK, BN_CLICKED), 0);
    }));
    EXPECT_EQ(shown, "https://127.0.0.1:8443/live");
    EXPECT_FALSE(data.tlsEnabled);
    ReadBackDialogData(data, store, settings, {});
    EXPECT_FALSE(store.GetBool("Icecast", "tlsEnabled", true));
    EXPECT_EQ(store.GetString("Icecast", "tlsFingerprint", ""), fingerprint);

    // An IPv6 host over TLS, typed in brackets.
    FillDialogData(store, settings, data);
    ASSERT_TRUE(RunDialog(data, [&](HWND dialog) {
        shown = WindowTextUtf8(GetDlgItem(dialog, IDC_ADDRESS));
        Type(dialog, IDC_ADDRESS, L"HTTPS://[::1]:8443/live");
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_OK, BN_CLICKED), 0);
    }));
    EXPECT_EQ(shown, "127.0.0.1:8000/live");
    EXPECT_TRUE(data.tlsEnabled);
    EXPECT_STREQ(data.host, "::1");
    ReadBackDialogData(data, store, settings, {});
    FillDialogData(store, settings, data);
    EXPECT_STREQ(data.address, "https://[::1]:8443/live");
}

TEST_F(SettingsDialogTest, LiveChangesReachTheLevelMonitorAndItsMeters)
{
    if (!std::getenv("PULSE_SERVER"))
        GTEST_SKIP() << "needs the test environment's tone source";
    InputLevelMonitor monitor;
    ASSERT_TRUE(monitor.Start({-1, ""}));
    SettingsDialogData data = DefaultRecord();
    float before = 0.0f;
    bool louder = false, lit = false, measured = false;
    std::string readout;
    RunDialog(
        data,
        [&](HWND dialog) {
            std::this_thread::sleep_for(1500ms);
            before = monitor.leftLevel.load();
            ClickTab(dialog, 3);
            Click(dialog, IDC_GAIN_SWITCH);
            DragSlider(GetDlgItem(dialog, IDC_GAIN_SLIDER), 204); // +6 dB
            louder = WaitFor([&] { return monitor.leftLevel.load() > before * 1.7f; }, 5000ms);
            ClickTab(dialog, 2);
            HWND inputMeter = ChildAt(dialog, 326, 168);
            lit = WaitFor([&] { return PixelOf(inputMeter, 6, 9) == colours::kMeterLit[0]; }, 3000ms);
            // The DSP tab's readout shows the processed tone's loudness and true peak.
            ClickTab(dialog, 3);
            HWND readoutWindow = ChildAt(dialog, 440, 14);
            measured = WaitFor(
                [&] {
                    readout = WindowTextUtf8(readoutWindow);
                    float lufs = 0.0f, peak = 0.0f;
                    return std::sscanf(readout.c_str(), "%f LUFS | TP %f dBTP", &lufs, &peak) == 2 && lufs > -30.0f &&
                           lufs < 0.0f && peak > -20.0f && peak <= 0.5f;
                },
                8000ms);
        },
        &monitor);
    EXPECT_GT(before, 0.05f); // the -12 dBFS tone
    EXPECT_TRUE(louder) << "before " << before << ", after " << monitor.leftLevel.load();
    EXPECT_TRUE(lit);
    EXPECT_TRUE(measured) << readout;
}

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(SettingsDialogTest, MiniMeterLightsDotsForItsLevel)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = HostProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KelmMeterHost";
    RegisterClassW(&wc);
    HWND host = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP | WS_VISIBLE, 0, 0, 200, 60, nullptr, nullptr,
                                wc.hInstance, nullptr);
    float level = 0.5f;
    HWND meter = MakeMiniMeter(host, 10, 10, &level);
    auto dot = [meter](int i) {
        const int left = static_cast<int>(i * 107 * 0.125 + 0.5);
        return PixelOf(meter, left + 6, 9);
    };
    EXPECT_EQ(dot(3), colours::kMeterLit[0]);
    EXPECT_EQ(dot(4), colours::kMeterUnlit[0]);
    EXPECT_EQ(dot(8), colours::kMeterUnlit[3]);
    level = 1.0f;
    EXPECT_EQ(dot(4), colours::kMeterLit[0]);
    EXPECT_EQ(dot(5), colours::kMeterLit[1]);
    EXPECT_EQ(dot(7), colours::kMeterLit[2]);
    EXPECT_EQ(dot(8), colours::kMeterLit[3]);
    DestroyWindow(host);
}

} // namespace
