// The main window on a real desktop: back from sleep it reconnects, and the tray icon follows
// the DPI and display changes at the small-icon size.
#include <gtest/gtest.h>

#include <atomic>

#include "link/link_timing.h"
#include "res/resource.h"
#include "shell_test_support.h"

namespace {

class DesktopLife : public ::testing::Test {
  protected:
    void SetUp() override {
        shelltest::init_shell_classes();
        if (!taskbar_created_message)
            taskbar_created_message = RegisterWindowMessageA("TaskbarCreated");
        register_main_window_class(GetModuleHandleA(nullptr)); // fails harmlessly when done
        remove(shelltest::private_settings_path().c_str());
        second_ms = 20;
    }
    void TearDown() override {
        if (window_ && IsWindow(window_)) DestroyWindow(window_);
        shelltest::take_quit();
        main_window = nullptr;
        remove(shelltest::private_settings_path().c_str());
        second_ms = 1000;
    }
    // Runs this thread's messages until done() or about 5 s have passed.
    static bool pump_until(const std::function<bool()>& done) {
        for (int i = 0; i < 1000 && !done(); ++i) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&message);
            Sleep(5);
        }
        return done();
    }
    HWND window_ = nullptr;
};

TEST_F(DesktopLife, ResumeFromSleepDropsTheLinkAndLogsInAgain) {
    unitsim::Config frozen;
    frozen.frozen = true;
    unitsim::Server server(frozen);
    std::atomic<int> drops{0};
    server.set_log([&](int, const std::string& text) {
        if (text == "connection closed") ++drops;
    });
    shelltest::serve_settings(server);
    window_ = create_main_window(GetModuleHandleA(nullptr));
    ASSERT_TRUE(pump_until([&] { return server.stats().logins == 1; }));

    const struct {
        WPARAM event;
        int logins, drops; // at the stand-in once the worker has gone on after it
    } table[] = {
        {PBT_APMSUSPEND, 1, 0},
        {PBT_APMRESUMEAUTOMATIC, 2, 1},
        {PBT_APMRESUMESUSPEND, 3, 2},
        {PBT_APMPOWERSTATUSCHANGE, 3, 2},
    };
    for (const auto& row : table) {
        PostMessageA(window_, WM_POWERBROADCAST, row.event, 0);
        // Settled: the worker has run a query turn (18 commands) after the message.
        size_t seen = server.stats().commands.size();
        EXPECT_TRUE(pump_until([&] {
            return server.stats().logins == row.logins && server.wait_commands(seen + 18, 0);
        })) << "event "
            << row.event;
        EXPECT_EQ(server.stats().logins, row.logins) << "event " << row.event;
        EXPECT_EQ(drops.load(), row.drops) << "event " << row.event;
    }
}

TEST_F(DesktopLife, TrayIconReloadedAtTheSmallIconSizeOfTheDpi) {
    // Small-icon sizes by DPI, as Windows sets them: 16 px at 100 %, 32 px at 200 %.
    const int sizes[][2] = {{96, 16}, {120, 20}, {144, 24}, {192, 32}};
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    int expected = 0;
    for (const auto& row : sizes)
        if (row[0] == dpi) expected = row[1];
    ASSERT_NE(expected, 0) << "no size written down for " << dpi << " DPI";

    window_ = create_main_window(GetModuleHandleA(nullptr));
    auto shown_width = [] {
        ICONINFO info;
        if (!GetIconInfo(tray_data.hIcon, &info)) return 0;
        BITMAP bitmap;
        GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
        if (info.hbmColor) DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        return static_cast<int>(bitmap.bmWidth);
    };
    EXPECT_EQ(shown_width(), expected) << dpi << " DPI";

    RECT suggested = {0, 0, 350, 525};
    for (UINT message : {static_cast<UINT>(WM_DPICHANGED), static_cast<UINT>(WM_DISPLAYCHANGE),
                         static_cast<UINT>(WM_SETTINGCHANGE), taskbar_created_message}) {
        NOTIFYICONDATAA gone = tray_data; // a new taskbar knows no icons
        if (message == taskbar_created_message) Shell_NotifyIconA(NIM_DELETE, &gone);
        int loads = tray_icon_loads;
        LPARAM rect = message == WM_DPICHANGED ? reinterpret_cast<LPARAM>(&suggested) : 0;
        SendMessageA(window_, message, MAKEWPARAM(dpi, dpi), rect);
        EXPECT_EQ(tray_icon_loads, loads + 1) << "message " << message;
        EXPECT_EQ(shown_width(), expected) << "message " << message;
        EXPECT_TRUE(shelltest::tray_icon_present(window_, TRAY_ICON_ID)) << "message " << message;
    }
}

} // namespace
