#pragma once

// Windows only: the exit dialog, the alert and the toast, three layered popups with
// rounded corners.

#include <windows.h>

#include <string>

// What the exit dialog was answered with; None when it was dismissed.
enum class ExitChoice { None, Exit, Minimise };

extern const wchar_t kExitDialogClass[];
extern const wchar_t kAlertClass[];
extern const wchar_t kToastClass[];
extern const char kToastText[];

// Modal: asks whether to exit or minimise.
ExitChoice ShowExitDialog(HWND owner, HINSTANCE instance);

// Modal: a title and a word-wrapped UTF-8 message with an OK button.
void ShowAlert(HWND owner, const std::string& message, const std::string& title);

// "Stop encoding before changing settings." over the owner for two seconds, without
// taking the focus. The toast window, or null.
HWND ShowToast(HWND owner);

// The alert's height for a message of the given wrapped text height: 140 to 260.
int AlertHeight(int messageHeight);

// Shows the picture in source as the layered window's image, with the corners cut
// round (anti-aliased) and a thin outline.
void PresentLayered(HWND window, HDC source, int width, int height, int radius);
