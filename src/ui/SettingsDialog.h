#pragma once

// Windows only: the modal settings dialog, five tabs over the main window.

#include <windows.h>

#include "settings/SettingsDialogData.h"

class InputLevelMonitor;
class PreviewOutput;

// Posted by the connection test's thread; wParam carries the test's generation.
constexpr UINT WM_APP_TEST_DONE = WM_APP + 50;

extern const wchar_t kSettingsDialogClass[];

// Control ids.
constexpr int IDC_ADDRESS = 1001;
constexpr int IDC_PASSWORD = 1005;
constexpr int IDC_METADATA = 1006;
constexpr int IDC_BITRATE = 1009;
constexpr int IDC_CHANNELS = 1011;
constexpr int IDC_INPUT = 1013;
constexpr int IDC_OK = 1014;
constexpr int IDC_CANCEL = 1015;
constexpr int IDC_START_WITH_WINDOWS = 1016;
constexpr int IDC_START_MINIMIZED = 1017;
constexpr int IDC_ENCODE_ON_LAUNCH = 1018;
constexpr int IDC_AUTO_RECONNECT = 1019;
constexpr int IDC_MINIMIZE_TO_TRAY = 1020;
constexpr int IDC_RECORD = 1021;
constexpr int IDC_SHOW_PASSWORD = 1023;
constexpr int IDC_GAIN_SWITCH = 1024;
constexpr int IDC_AGC_SWITCH = 1025;
constexpr int IDC_COMP_SWITCH = 1026;
constexpr int IDC_BOOST_SWITCH = 1027;
constexpr int IDC_BASS_SWITCH = 1028;
constexpr int IDC_LIMIT_SWITCH = 1029;
constexpr int IDC_HPF_SWITCH = 1030;
constexpr int IDC_GATE_SWITCH = 1031;
constexpr int IDC_WIDTH_SWITCH = 1032;
constexpr int IDC_OPT_SWITCH = 1033;
constexpr int IDC_LISTEN = 1034;
constexpr int IDC_OUTPUT = 1035;
constexpr int IDC_GAIN_SLIDER = 1036;
constexpr int IDC_AGC_SLIDER = 1037;
constexpr int IDC_COMP_SLIDER = 1038;
constexpr int IDC_LAMPS_INPUT = 1039;
constexpr int IDC_LAMPS_OUTPUT = 1040;
constexpr int IDC_RECORD_FOLDER = 1052;
constexpr int IDC_LOUDNESS_SWITCH = 1053;
constexpr int IDC_TRUE_PEAK_SWITCH = 1054;
// The SERVER tab's output chooser: a chip per output (1 to 8), the add chip, and the
// chosen further output's switch and remove button.
constexpr int IDC_OUTPUT_CHIP = 1060; // output n: IDC_OUTPUT_CHIP + n - 1
constexpr int IDC_ADD_OUTPUT = 1068;
constexpr int IDC_OUTPUT_ENABLED = 1069;
constexpr int IDC_REMOVE_OUTPUT = 1070;
// The chosen output's server type: Icecast, Shoutcast v1, Shoutcast 2 (IDC_SERVER_TYPE + n).
constexpr int IDC_SERVER_TYPE = 1071;
constexpr int IDC_CODEC = 1075;

// Runs the dialog modally over owner on data. True when the user pressed OK (data then
// holds the new values); false for Cancel, Escape or closing. The dialog live-applies
// processing changes to levelMonitor and to preview while it plays, and always stops
// the preview when it closes. Either pointer may be null.
bool ShowSettingsDialog(HWND owner, HINSTANCE instance, SettingsDialogData& data, InputLevelMonitor* levelMonitor,
                        PreviewOutput* preview);

// The open dialog's window, or null (for tests and the main window).
HWND SettingsDialogWindow();
