// Left alone for weeks: the settings stay the start folder's file, programs come from the
// system directory only, neither the capture report nor a stuck worker holds the watch or
// Exit, the unit's IMEI never makes a path, and settings that cannot be saved are refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

#include "link/link_flags.h"
#include "link/link_timing.h"
#include "res/resource.h"
#include "shell/main_window.h"
#include "shell/tray_menu.h"
#include "shell_test_support.h"
#include "status/device_requests.h"
#include "status/view_hooks.h"

namespace {

using shelltest::Responder;
using shelltest::text_of;
typedef std::vector<std::string> Texts;

// A fresh folder under the temporary directory.
std::string folder(const char* name) {
    char dir[MAX_PATH] = "";
    GetTempPathA(sizeof(dir), dir);
    std::string path = dir + std::string(name) + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

void remove_all(const std::string& dir, std::vector<const char*> names) {
    for (const char* name : names)
        DeleteFileA((dir + name).c_str());
    RemoveDirectoryA(dir.c_str());
}

// Dispatches this thread's messages, posted ones too, until done() (at most 10 s).
bool pump_until(const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i) {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&m);
        Sleep(10);
    }
    return done();
}

class Unattended : public shelltest::ShellTest {
  protected:
    void SetUp() override {
        ShellTest::SetUp();
        register_main_window_class(GetModuleHandleA(nullptr)); // fails harmlessly when done
        GetCurrentDirectoryA(sizeof(start_dir_), start_dir_);
        second_ms = 20; // the 15 s pause takes 300 ms
    }
    void TearDown() override {
        if (window_ && IsWindow(window_)) DestroyWindow(window_);
        shelltest::take_quit();
        SetCurrentDirectoryA(start_dir_);
        second_ms = 1000;
        ShellTest::TearDown();
    }
    // The main window with its worker, logged in to unit when there is one.
    void create(unitsim::Server* unit) {
        window_ = create_main_window(GetModuleHandleA(nullptr));
        ASSERT_TRUE(window_ && (!unit || unit->wait_logins(1, 5000)));
    }
    HWND window_ = nullptr;
    char start_dir_[MAX_PATH];
};

TEST_F(Unattended, SettingsStayTheStartFoldersFileAfterALogIsSavedElsewhere) {
    std::string start = folder("vw-start-"), logs = start + "\\logs";
    CreateDirectoryA(logs.c_str(), nullptr);
    unitsim::Config config;
    config.restart_ms = 1000; // the first attempt after the drop is refused
    unitsim::Server unit(config);
    std::string conf = "IP=\"127.0.0.1\"\r\nPORT=\"" + std::to_string(unit.start(0)) +
                       "\"\r\nUSERNAME=\"admin\"\r\nPASSWORD=\"vorlix\"\r\n";
    ASSERT_TRUE(SetCurrentDirectoryA(start.c_str()));
    FILE* file = fopen("telnet.conf", "wb");
    fputs(conf.c_str(), file);
    fclose(file);
    settings_set_path("telnet.conf"); // as the viewer's start does
    create(&unit);
    Responder boxes("VORLIX Viewer"); // the capture's report

    // The user browses to another folder in the real Save dialog and saves the log there.
    std::thread user([&] {
        HWND save = shelltest::wait_dialog("Save Log As...", 15000);
        HWND combo = FindWindowExA(GetDlgItem(save, 1148), nullptr, "ComboBox", nullptr);
        HWND name = FindWindowExA(combo, nullptr, "Edit", nullptr);
        SetWindowTextA(name, logs.c_str());
        SendMessageA(save, WM_COMMAND, IDOK, 0); // returns once the dialog shows the folder
        SetWindowTextA(name, "u.TXT");
        PostMessageA(save, WM_COMMAND, IDOK, 0);
    });
    run_tray_command(IDM_LOGFILE);
    user.join();
    char now[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof(now), now);
    EXPECT_EQ(now, start);
    EXPECT_TRUE(pump_until([] { return !strstr(tray_data.szTip, "Logging"); })); // captured

    // Whatever else moves the current directory, a dropped link (the unit power-cycles) is
    // logged in again after the usual pause, and "Connect" rewrites the start folder's file.
    SetCurrentDirectoryA(logs.c_str());
    raise_request(REQUEST_POWER_CYCLE);
    EXPECT_TRUE(pump_until([&] { return unit.stats().logins >= 2; }));
    EXPECT_GE(unit.stats().refused, 1);
    Responder connect("Configuration Settings", {IDOK});
    run_tray_command(IDM_CONFIG);
    connect.stop();
    conf.erase(std::remove(conf.begin(), conf.end(), '\r'), conf.end());
    EXPECT_EQ(shelltest::read_file(start + "\\telnet.conf"), conf);
    EXPECT_EQ(GetFileAttributesA((logs + "\\telnet.conf").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(boxes.stop(), Texts{"Generated Log File : " + logs + "\\u.TXT"});
    DestroyWindow(window_);
    remove_all(logs, {"\\u.TXT"});
    remove_all(start, {"\\telnet.conf"});
}

DWORD WINAPI telnet_anywhere(LPCSTR, LPCSTR, LPCSTR, DWORD size, LPSTR out, LPSTR*) {
    return static_cast<DWORD>(snprintf(out, size, "telnet.exe"));
}

TEST_F(Unattended, TelnetSessionUsesTheSystemDirectorysProgramsOnly) {
    std::string here = folder("vw-cwd-");
    for (const char* name : {"\\cmd.exe", "\\telnet.exe"})
        fclose(fopen((here + name).c_str(), "wb"));
    ASSERT_TRUE(SetCurrentDirectoryA(here.c_str()));
    snprintf(device.ip, 32, "192.168.1.1");
    snprintf(device.port, 32, "23");
    shelltest::Seam<ShellExecuteFn> launch(shell_execute_fn, shelltest::record_launch);
    shelltest::launches.clear();
    // Wine's system directory has no telnet client: the one lying here is not taken.
    Responder box("VORLIX Viewer");
    run_tray_command(IDM_TELNET);
    EXPECT_EQ(box.stop(), Texts{"Unable to open telnet session. Please make sure telnet client "
                                "is installed."});
    // With a client, the command interpreter run is the system directory's.
    shelltest::Seam<SearchPathFn> search(search_path_fn, telnet_anywhere);
    run_tray_command(IDM_TELNET);
    EXPECT_EQ(shelltest::launches,
              Texts{"null|open|C:\\windows\\system32\\cmd.exe| /C telnet 192.168.1.1 23|null|1"});
    SetCurrentDirectoryA(start_dir_);
    remove_all(here, {"\\cmd.exe", "\\telnet.exe"});
}

TEST_F(Unattended, CaptureReportIsTheMainThreadsBoxWhileTheWorkerWatchesOnAndExitEndsIt) {
    unitsim::Config config;
    config.frozen = true;
    unitsim::Server unit(config);
    shelltest::serve_settings(unit);
    create(&unit);
    std::string log = shelltest::private_settings_path() + ".log", text;
    request_log_capture(log.c_str());
    shelltest::Driver d;
    HWND owner = window_;
    DWORD shown_by = 0;
    bool polled = false;
    int quits = d.run([&] {
        HWND box = shelltest::wait_dialog("VORLIX Viewer", 10000);
        text = text_of(box, 0xFFFF);
        owner = GetWindow(box, GW_OWNER);
        shown_by = GetWindowThreadProcessId(box, nullptr);
        polled = unit.wait_commands(unit.stats().commands.size() + 18, 5000); // a whole query
        d.call([&] { SendMessageA(window_, WM_DESTROY, 0, 0); });             // Exit, answered OK
    });
    EXPECT_EQ(text, "Generated Log File : " + log);
    EXPECT_EQ(owner, nullptr);
    EXPECT_EQ(shown_by, d.ui_thread);
    EXPECT_TRUE(polled);
    EXPECT_EQ(worker_thread, nullptr); // stopped, and the quit ended the box
    EXPECT_GE(quits, 1);
    EXPECT_EQ(shelltest::find_dialog("VORLIX Viewer"), nullptr);
    remove(log.c_str());
}

std::atomic<bool> stuck{false}, release{false};
void refresh_stuck() { // a worker no stop reaches
    stuck = true;
    while (!release)
        Sleep(5);
}

TEST_F(Unattended, ExitGoesOnWithinASecondWhenTheWorkerDoesNotStop) {
    create(nullptr); // no settings: the worker refreshes the blank status every turn
    view_hooks.refresh_views = refresh_stuck;
    ASSERT_TRUE(pump_until([] { return stuck.load(); }));
    SendMessageA(window_, WM_DESTROY, 0, 0);
    // Exit went on without the worker, which the process end takes with it.
    ASSERT_NE(worker_thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(worker_thread, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_FALSE(shelltest::tray_icon_present(window_, TRAY_ICON_ID));
    int code = -1;
    EXPECT_TRUE(shelltest::take_quit(&code));
    EXPECT_EQ(code, 0);
    release = true;
    WaitForSingleObject(worker_thread, 5000);
    CloseHandle(worker_thread);
    worker_thread = nullptr;
}

TEST(UnattendedLogName, TheImeiNamesTheFileOnlyWhenItIsLettersAndDigits) {
    struct tm day = {};
    day.tm_year = 113; // 5 December 2013
    day.tm_mon = 11;
    day.tm_mday = 5;
    char name[256];
    default_log_name("123456789012345                ", day, name, sizeof(name));
    EXPECT_STREQ(name, "123456789012345-120513.TXT");
    default_log_name("A1b2C3", day, name, sizeof(name));
    EXPECT_STREQ(name, "A1b2C3-120513.TXT");
    for (const char* bad : {"..\\..\\x", "12/34", "C:x", "1.2", "123 456", " 123", "12\xe9_", ""}) {
        default_log_name(bad, day, name, sizeof(name));
        EXPECT_STREQ(name, "DISCONNECTED-120513.TXT") << bad;
    }
}

TEST_F(Unattended, ConnectRefusesSettingsThatCannotBeSavedAndStaysOpen) {
    snprintf(device.port, 32, "23");
    std::string gone = shelltest::private_settings_path() + ".gone\\telnet.conf"; // no folder
    settings_set_path(gone.c_str());
    Responder box("VORLIX Viewer");
    bool open_after = false;
    int flagged = -1;
    std::thread user([&] {
        HWND dialog = shelltest::wait_dialog("Configuration Settings", 10000);
        SetDlgItemTextA(dialog, IDC_PORT, "2424");
        SendMessageA(dialog, WM_COMMAND, IDOK, 0); // returns once the box is answered
        open_after = IsWindowVisible(dialog);
        flagged = reconnect_request;
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    run_tray_command(IDM_CONFIG);
    user.join();
    EXPECT_EQ(box.stop(), Texts{"Unable to save the connection settings. Please make sure "
                                "telnet.conf can be written."});
    EXPECT_TRUE(open_after);
    EXPECT_EQ(flagged, 0);
    EXPECT_STREQ(device.port, "23");
}

} // namespace
