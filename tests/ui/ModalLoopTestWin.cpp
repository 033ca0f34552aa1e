#include <gtest/gtest.h>

#include <windows.h>

#include <objidl.h>

#include <gdiplus.h>

#include <functional>

#include "GdiplusSuite.h"
#include "settings/SettingsDialogData.h"
#include "ui/Popups.h"
#include "ui/SettingsDialog.h"

namespace {

class ModalLoopTest : public GdiplusSuite {};

HWND MakeOwner()
{
    return CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 460, 284, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

// A quit that arrives while a modal window is open ends that window, frees its owner and
// is still there for the program's own loop, with its exit code.
TEST_F(ModalLoopTest, QuitWhileOpenClosesTheWindowAndReachesTheCaller)
{
    struct Case {
        const char* name;
        const wchar_t* windowClass;
        std::function<void(HWND owner)> show;
    };
    const Case cases[] = {
        {"exit dialog", kExitDialogClass,
         [](HWND owner) { EXPECT_EQ(ShowExitDialog(owner, GetModuleHandleW(nullptr)), ExitChoice::None); }},
        {"alert", kAlertClass, [](HWND owner) { ShowAlert(owner, "The server refused the password.", "Error"); }},
        {"settings dialog", kSettingsDialogClass,
         [](HWND owner) {
             SettingsDialogData data{};
             data.bitrate = 64;
             data.channels = 2;
             EXPECT_FALSE(ShowSettingsDialog(owner, GetModuleHandleW(nullptr), data, nullptr, nullptr));
         }},
    };
    for (const Case& c : cases) {
        HWND owner = MakeOwner();
        ASSERT_NE(owner, nullptr);
        PostQuitMessage(7);
        c.show(owner);
        EXPECT_EQ(FindWindowW(c.windowClass, nullptr), nullptr) << c.name << " still open";
        EXPECT_TRUE(IsWindowEnabled(owner)) << c.name << " left its owner disabled";
        MSG msg{};
        ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << c.name << " swallowed the quit";
        EXPECT_EQ(msg.wParam, 7u) << c.name;
        DestroyWindow(owner);
    }
}

} // namespace
