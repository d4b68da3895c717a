// The hidden main window with its real worker: creation, hiding, taskbar restart, and the
// stop from every state of the worker.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <string>

#include "link/link_flags.h"
#include "link/link_timing.h"
#include "link/settings_file.h"
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

class ShellMainWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        shelltest::init_shell_classes();
        if (!taskbar_created_message)
            taskbar_created_message = RegisterWindowMessageA("TaskbarCreated");
        register_main_window_class(GetModuleHandleA(nullptr)); // fails harmlessly when done
        remove(shelltest::private_settings_path().c_str());
        tick_ms = 100;
        second_ms = 1000;
        request_flags = 0;
    }
    void TearDown() override {
        if (window_ && IsWindow(window_)) DestroyWindow(window_);
        shelltest::take_quit();
        main_window = nullptr;
        remove(shelltest::private_settings_path().c_str());
        tick_ms = 100;
        second_ms = 1000;
        request_flags = 0;
    }
    void create() {
        window_ = create_main_window(GetModuleHandleA(nullptr));
        ASSERT_NE(window_, nullptr);
    }
    bool worker_running() const {
        return worker_thread && WaitForSingleObject(worker_thread, 0) == WAIT_TIMEOUT;
    }
    // Sends WM_DESTROY as Exit does and returns how long its handling took.
    ULONGLONG destroy_ms() {
        ULONGLONG start = GetTickCount64();
        SendMessageA(window_, WM_DESTROY, 0, 0);
        return GetTickCount64() - start;
    }

    HWND window_ = nullptr;
};

TEST_F(ShellMainWindow, CreationPutsUpTheIconAndStartsTheWorker) {
    reconnect_request = 1;
    request_flags = 0;
    create();
    EXPECT_EQ(main_window, window_);
    EXPECT_EQ(reconnect_request.load(), 0);
    EXPECT_EQ(device.socket.load(), NO_SOCKET);
    EXPECT_TRUE(shelltest::tray_icon_present(window_, TRAY_ICON_ID));
    EXPECT_EQ(last_tray_icon, 135);
    EXPECT_NE(tray_data.hIcon, nullptr);
    EXPECT_STREQ(tray_data.szTip, "IMEI: \nWWAN IP: \nRSSI: ");
    EXPECT_EQ(tray_data.cbSize, static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE));
    EXPECT_EQ(tray_data.hWnd, window_);
    EXPECT_EQ(tray_data.uID, 2000u);
    EXPECT_EQ(tray_data.uFlags, 7u);
    EXPECT_EQ(tray_data.uCallbackMessage, 5u);
    EXPECT_TRUE(worker_running());
    EXPECT_NE(view_hooks.refresh_views, nullptr);
    EXPECT_NE(view_hooks.update_tray, nullptr);
    EXPECT_NE(view_hooks.show_report, nullptr);

    char title[64] = "";
    GetWindowTextA(window_, title, sizeof(title));
    EXPECT_STREQ(title, "VORLIX Connection Status");
    EXPECT_FALSE(IsWindowVisible(window_));
    RECT box;
    GetWindowRect(window_, &box);
    EXPECT_EQ(box.right - box.left, 350);
    EXPECT_EQ(box.bottom - box.top, 525);
    EXPECT_EQ(GetWindowLongA(window_, GWL_STYLE) & 0x00CF0000, 0x00C80000);
}

TEST_F(ShellMainWindow, CloseHidesAndTheProgramRunsOn) {
    create();
    ShowWindow(window_, SW_SHOW);
    EXPECT_EQ(SendMessageA(window_, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(IsWindow(window_));
    EXPECT_FALSE(IsWindowVisible(window_));
    EXPECT_FALSE(shelltest::take_quit());
    EXPECT_TRUE(worker_running());
    EXPECT_TRUE(shelltest::tray_icon_present(window_, TRAY_ICON_ID));
}

TEST_F(ShellMainWindow, TaskbarCreatedPutsTheIconUpAgain) {
    create();
    NOTIFYICONDATAA gone = tray_data;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &gone)); // what a taskbar restart does
    ASSERT_FALSE(shelltest::tray_icon_present(window_, TRAY_ICON_ID));
    ShowWindow(window_, SW_SHOW);
    EXPECT_EQ(SendMessageA(window_, taskbar_created_message, 0, 0), 0);
    EXPECT_TRUE(shelltest::tray_icon_present(window_, TRAY_ICON_ID));
    EXPECT_FALSE(IsWindowVisible(window_));
    EXPECT_TRUE(worker_running());
}

// Watches for the popup menu, says whether it came, and dismisses it with Escape.
struct MenuWatch {
    std::atomic<bool> seen{false};
    std::atomic<bool> done{false};
    std::thread thread;
    MenuWatch()
        : thread([this] {
              while (!done) {
                  HWND popup = FindWindowA("#32768", nullptr);
                  if (popup && IsWindowVisible(popup)) {
                      seen = true;
                      PostMessageA(popup, WM_KEYDOWN, VK_ESCAPE, 0);
                      return;
                  }
                  Sleep(5);
              }
          }) {}
    ~MenuWatch() { stop(); }
    void stop() {
        done = true;
        if (thread.joinable()) thread.join();
    }
};

TEST_F(ShellMainWindow, TrayRightClickOpensTheMenuAndOtherMouseEventsDoNothing) {
    create();
    {
        MenuWatch watch;
        EXPECT_EQ(SendMessageA(window_, TRAY_CALLBACK_MESSAGE, 0, WM_MOUSEMOVE), 0);
        EXPECT_EQ(SendMessageA(window_, TRAY_CALLBACK_MESSAGE, 0, WM_RBUTTONDOWN), 0);
        EXPECT_EQ(SendMessageA(window_, TRAY_CALLBACK_MESSAGE, 0, WM_LBUTTONDBLCLK), 0);
        Sleep(50);
        watch.stop();
        EXPECT_FALSE(watch.seen);
    }
    MenuWatch watch;
    EXPECT_EQ(SendMessageA(window_, TRAY_CALLBACK_MESSAGE, 0, WM_RBUTTONUP), 0);
    watch.stop();
    EXPECT_TRUE(watch.seen);
    EXPECT_TRUE(worker_running()); // dismissed: no command ran
}

TEST_F(ShellMainWindow, ExitWithCancelLeavesEverythingRunning) {
    create();
    shelltest::Responder responder("VORLIX Viewer", {IDCANCEL});
    run_tray_command(IDM_EXIT);
    responder.stop();
    EXPECT_EQ(responder.texts(),
              std::vector<std::string>{"Are you sure you want to terminate this program?"});
    EXPECT_TRUE(worker_running());
    EXPECT_TRUE(shelltest::tray_icon_present(window_, TRAY_ICON_ID));
    EXPECT_FALSE(shelltest::take_quit());
}

TEST_F(ShellMainWindow, ExitWithOkRemovesTheIconStopsTheWorkerAndQuitsWithZero) {
    create();
    shelltest::Responder responder("VORLIX Viewer", {IDOK});
    ULONGLONG start = GetTickCount64();
    run_tray_command(IDM_EXIT);
    ULONGLONG took = GetTickCount64() - start;
    responder.stop();
    EXPECT_EQ(responder.texts().size(), 1u);
    EXPECT_EQ(worker_thread, nullptr);
    EXPECT_FALSE(shelltest::tray_icon_present(window_, TRAY_ICON_ID));
    int code = -7;
    EXPECT_TRUE(shelltest::take_quit(&code));
    EXPECT_EQ(code, 0);
    EXPECT_LT(took, 1000u);
}

// A unit that answers the login and then goes silent on `silent_command` ("" : every one).
struct SilentUnit {
    unitsim::Server server;
    explicit SilentUnit(const char* silent_command) {
        unitsim::Fault fault;
        fault.command = silent_command;
        fault.silence = true;
        server.add_fault(fault);
        int port = server.start(0);
        char port_text[16];
        snprintf(port_text, sizeof(port_text), "%d", port);
        shelltest::write_settings_file("127.0.0.1", port_text, "admin", "vorlix");
    }
};

bool wait_for_command(const unitsim::Server& server, const std::string& command, int timeout_ms) {
    for (int waited = 0; waited < timeout_ms; waited += 10) {
        for (const std::string& seen : server.stats().commands)
            if (seen == command) return true;
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        Sleep(10);
    }
    return false;
}

TEST_F(ShellMainWindow, StopsWithinASecondDuringAPoll) {
    SilentUnit unit("");
    second_ms = 20;
    create();
    ASSERT_TRUE(unit.server.wait_logins(1, 5000));
    ASSERT_TRUE(unit.server.wait_commands(1, 5000)); // the poll now waits for its reply
    EXPECT_LT(destroy_ms(), 1000u);
    EXPECT_EQ(worker_thread, nullptr);
    EXPECT_EQ(device.socket.load(), NO_SOCKET);
    EXPECT_FALSE(shelltest::tray_icon_present(window_, TRAY_ICON_ID));
}

TEST_F(ShellMainWindow, StopsWithinASecondWhileTheCaptureReportIsOpen) {
    unitsim::Config config;
    config.frozen = true;
    unitsim::Server server(config);
    int port = server.start(0);
    char port_text[16];
    snprintf(port_text, sizeof(port_text), "%d", port);
    shelltest::write_settings_file("127.0.0.1", port_text, "admin", "vorlix");
    second_ms = 20;
    create();
    ASSERT_TRUE(server.wait_logins(1, 5000));
    char path[MAX_PATH];
    snprintf(path, sizeof(path), "%s.log", shelltest::private_settings_path().c_str());
    request_log_capture(path);
    HWND report = shelltest::wait_dialog("VORLIX Viewer", 5000); // the worker's own box
    ASSERT_NE(report, nullptr);
    char text[512] = "";
    GetDlgItemTextA(report, 0xFFFF, text, sizeof(text));
    EXPECT_EQ(std::string(text), std::string("Generated Log File : ") + path);
    EXPECT_LT(destroy_ms(), 1000u);
    EXPECT_EQ(worker_thread, nullptr);
    EXPECT_FALSE(IsWindow(report));
    remove(path);
}

TEST_F(ShellMainWindow, StopsWithinASecondDuringACapture) {
    SilentUnit unit("cmd showconfig");
    second_ms = 20;
    create();
    ASSERT_TRUE(unit.server.wait_logins(1, 5000));
    char path[MAX_PATH];
    snprintf(path, sizeof(path), "%s.log", shelltest::private_settings_path().c_str());
    request_log_capture(path);
    ASSERT_TRUE(wait_for_command(unit.server, "cmd showconfig", 5000));
    EXPECT_LT(destroy_ms(), 1000u);
    EXPECT_EQ(worker_thread, nullptr);
    EXPECT_EQ(shelltest::find_dialog("VORLIX Viewer"), nullptr);
    remove(path);
}

// The worker's refresh writes the status window's texts with messages sent to the main
// thread; the stop must keep delivering them or both threads wait for each other. A label
// of the test thread stands in for the status window, whose single instance other tests
// of this process may already have used.
HWND refresh_label = nullptr;
void refresh_through_label() {
    SetWindowTextA(refresh_label, "refreshed");
    refresh_views();
}

TEST_F(ShellMainWindow, StopsWithinASecondWhileTheWorkerWritesAWindowOfTheMainThread) {
    unitsim::Config config;
    config.frozen = true;
    unitsim::Server server(config);
    int port = server.start(0);
    char port_text[16];
    snprintf(port_text, sizeof(port_text), "%d", port);
    shelltest::write_settings_file("127.0.0.1", port_text, "admin", "vorlix");
    refresh_label = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                    GetModuleHandleA(nullptr), nullptr);
    second_ms = 20;
    create();
    view_hooks.refresh_views = refresh_through_label;
    ASSERT_TRUE(server.wait_logins(1, 5000));
    ASSERT_TRUE(server.wait_commands(18, 5000)); // a whole poll has run
    Sleep(300); // not pumping: the refresh after the poll now waits in its send
    EXPECT_LT(destroy_ms(), 1000u);
    EXPECT_EQ(worker_thread, nullptr);
    char text[32] = "";
    GetWindowTextA(refresh_label, text, sizeof(text));
    EXPECT_STREQ(text, "refreshed");
    DestroyWindow(refresh_label);
}

} // namespace
