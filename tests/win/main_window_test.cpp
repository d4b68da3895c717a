// The hidden main window with its real worker: creation, hiding, taskbar restart, the tray
// callback, Exit, and the stop from every state of the worker.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "link/link_flags.h"
#include "link/link_timing.h"
#include "res/resource.h"
#include "shell/main_window.h"
#include "shell/tray_icon.h"
#include "shell/tray_menu.h"
#include "shell_test_support.h"
#include "status/device_record.h"
#include "status/device_requests.h"
#include "status/view_hooks.h"
#include "unitsim.h"

namespace {

typedef std::vector<std::string> Texts;

class ShellMainWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        shelltest::init_shell_classes();
        if (!taskbar_created_message)
            taskbar_created_message = RegisterWindowMessageA("TaskbarCreated");
        register_main_window_class(GetModuleHandleA(nullptr)); // fails harmlessly when done
        remove(shelltest::private_settings_path().c_str());
        request_flags = 0;
    }
    void TearDown() override {
        close();
        remove(shelltest::private_settings_path().c_str());
        second_ms = 1000;
        request_flags = 0;
    }
    void create() {
        window_ = create_main_window(GetModuleHandleA(nullptr));
        ASSERT_NE(window_, nullptr);
    }
    void close() {
        if (window_ && IsWindow(window_)) DestroyWindow(window_);
        shelltest::take_quit();
        main_window = window_ = nullptr;
    }
    bool worker_running() const {
        return worker_thread && WaitForSingleObject(worker_thread, 0) == WAIT_TIMEOUT;
    }
    bool icon_present() const { return shelltest::tray_icon_present(window_, TRAY_ICON_ID); }
    // Sends WM_DESTROY as Exit does and returns how long its handling took.
    ULONGLONG destroy_ms() {
        ULONGLONG start = GetTickCount64();
        SendMessageA(window_, WM_DESTROY, 0, 0);
        return GetTickCount64() - start;
    }

    HWND window_ = nullptr;
};

TEST_F(ShellMainWindow, CreationHidingTaskbarRestartTrayClicksAndExit) {
    reconnect_request = 1;
    create();
    EXPECT_EQ(main_window, window_);
    EXPECT_EQ(reconnect_request.load(), 0);
    EXPECT_EQ(device.socket.load(), NO_SOCKET);
    EXPECT_TRUE(icon_present());
    EXPECT_EQ(last_tray_icon, 135);
    EXPECT_NE(tray_data.hIcon, nullptr);
    EXPECT_STREQ(tray_data.szTip, "IMEI: \nWWAN IP: \nRSSI: ");
    EXPECT_EQ(tray_data.cbSize, static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE));
    EXPECT_EQ(tray_data.uID, 2000u);
    EXPECT_EQ(tray_data.uFlags, 7u);
    EXPECT_EQ(tray_data.uCallbackMessage, 5u);
    EXPECT_TRUE(worker_running());
    EXPECT_NE(view_hooks.refresh_views, nullptr);
    EXPECT_NE(view_hooks.update_tray, nullptr);
    EXPECT_NE(view_hooks.show_report, nullptr);
    EXPECT_EQ(shelltest::text_of(window_), "VORLIX Connection Status");
    EXPECT_FALSE(IsWindowVisible(window_));
    RECT box;
    GetWindowRect(window_, &box);
    EXPECT_EQ(box.right - box.left, 350);
    EXPECT_EQ(box.bottom - box.top, 525);
    EXPECT_EQ(GetWindowLongA(window_, GWL_STYLE) & 0x00CF0000, 0x00C80000);

    // WM_CLOSE hides, and the program runs on.
    ShowWindow(window_, SW_SHOW);
    EXPECT_EQ(SendMessageA(window_, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(IsWindow(window_));
    EXPECT_FALSE(IsWindowVisible(window_));
    EXPECT_FALSE(shelltest::take_quit());
    EXPECT_TRUE(worker_running());
    EXPECT_TRUE(icon_present());

    // A taskbar restart forgets the icon; TaskbarCreated puts it up again and hides.
    NOTIFYICONDATAA gone = tray_data;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &gone));
    ASSERT_FALSE(icon_present());
    ShowWindow(window_, SW_SHOW);
    EXPECT_EQ(SendMessageA(window_, taskbar_created_message, 0, 0), 0);
    EXPECT_TRUE(icon_present());
    EXPECT_FALSE(IsWindowVisible(window_));

    // Only a right click opens the menu; dismissing it runs no command.
    shelltest::Responder boxes("VORLIX Viewer", {IDCANCEL});
    shelltest::MenuWatch quiet;
    for (LPARAM event : {WM_MOUSEMOVE, WM_RBUTTONDOWN, WM_LBUTTONDBLCLK})
        EXPECT_EQ(SendMessageA(window_, TRAY_CALLBACK_MESSAGE, 0, event), 0);
    Sleep(50);
    EXPECT_EQ(quiet.stop(), Texts{});
    shelltest::MenuWatch menu;
    EXPECT_EQ(SendMessageA(window_, TRAY_CALLBACK_MESSAGE, 0, WM_RBUTTONUP), 0);
    EXPECT_EQ(menu.stop(), (Texts{"3000 Exit", "5000 About", "8000 Powercycle...", "-",
                                  "7000 Start Telnet Session", "6000 Connection Configuration",
                                  "4000 VORLIX Connection Status", "-", "9000 Log File"}));
    Sleep(30); // a box that would come late is still seen

    // Exit with Cancel leaves everything running.
    run_tray_command(IDM_EXIT);
    EXPECT_EQ(boxes.stop(), Texts{"Are you sure you want to terminate this program?"});
    EXPECT_TRUE(worker_running());
    EXPECT_TRUE(icon_present());
    EXPECT_FALSE(shelltest::take_quit());

    // Exit with OK removes the icon, stops the worker and quits with 0, within a second.
    shelltest::Responder ok("VORLIX Viewer", {IDOK});
    ULONGLONG start = GetTickCount64();
    run_tray_command(IDM_EXIT);
    ULONGLONG took = GetTickCount64() - start;
    EXPECT_EQ(ok.stop().size(), 1u);
    EXPECT_EQ(worker_thread, nullptr);
    EXPECT_FALSE(icon_present());
    int code = -7;
    EXPECT_TRUE(shelltest::take_quit(&code));
    EXPECT_EQ(code, 0);
    EXPECT_LT(took, 1000u);
}

bool wait_for_command(const unitsim::Server& server, const std::string& command) {
    for (int waited = 0; waited < 5000; waited += 10) {
        for (const std::string& seen : server.stats().commands)
            if (seen == command) return true;
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        Sleep(10);
    }
    return false;
}

// The worker's refresh writes the status window's texts with messages sent to the main
// thread; the stop must keep delivering them or both threads wait for each other. A label
// of the test thread stands in for the status window, whose single instance another test
// of this process may already have used.
HWND refresh_label = nullptr;
void refresh_through_label() {
    SetWindowTextA(refresh_label, "refreshed");
    refresh_views();
}

TEST_F(ShellMainWindow, StopsWithinASecondFromEveryStateOfTheWorker) {
    std::string log = shelltest::private_settings_path() + ".log";
    second_ms = 20;
    enum { poll, capture, report_box, refresh_send };
    for (int state : {poll, capture, report_box, refresh_send}) {
        SCOPED_TRACE(state);
        unitsim::Config config;
        config.frozen = true;
        unitsim::Server server(config);
        unitsim::Fault fault; // the unit answers the login, then goes silent
        fault.command = state == capture ? "cmd showconfig" : "";
        fault.silence = true;
        if (state == poll || state == capture) server.add_fault(fault);
        shelltest::serve_settings(server);
        create();
        if (state == refresh_send) {
            refresh_label = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                            GetModuleHandleA(nullptr), nullptr);
            view_hooks.refresh_views = refresh_through_label;
        }
        ASSERT_TRUE(server.wait_logins(1, 5000));
        HWND report = nullptr;
        if (state == poll) {
            ASSERT_TRUE(server.wait_commands(1, 5000)); // the poll now waits for its reply
        } else if (state == refresh_send) {
            ASSERT_TRUE(server.wait_commands(18, 5000)); // a whole poll has run
            Sleep(300); // not pumping: the refresh after the poll now waits in its send
        } else {
            request_log_capture(log.c_str());
            if (state == capture) {
                ASSERT_TRUE(wait_for_command(server, "cmd showconfig"));
            } else {
                report = shelltest::wait_dialog("VORLIX Viewer", 5000); // the worker's own box
                ASSERT_NE(report, nullptr);
                EXPECT_EQ(shelltest::text_of(report, 0xFFFF), "Generated Log File : " + log);
            }
        }
        EXPECT_LT(destroy_ms(), 1000u);
        EXPECT_EQ(worker_thread, nullptr);
        EXPECT_EQ(device.socket.load(), NO_SOCKET);
        EXPECT_FALSE(icon_present());
        EXPECT_EQ(shelltest::find_dialog("VORLIX Viewer"), nullptr);
        if (report) {
            EXPECT_FALSE(IsWindow(report));
        }
        if (state == refresh_send) {
            EXPECT_EQ(shelltest::text_of(refresh_label), "refreshed");
            DestroyWindow(refresh_label);
            view_hooks.refresh_views = refresh_views;
        }
        close();
        remove(log.c_str());
    }
}

} // namespace
