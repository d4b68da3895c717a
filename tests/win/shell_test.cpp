// The shell in-process: the hidden main window with its real worker and the desktop's events,
// the tray icon and tooltip, the tray menu's commands answered through real message boxes,
// the real Save dialog and the launch recorder in the system's place, and the configuration
// dialog.
#include <ctime>

#include "link/link_state.h"
#include "link/link_timing.h"
#include "res/resource.h"
#include "shell/tray_menu.h"
#include "shell/user_options.h"
#include "shell_test_support.h"
#include "status/device_requests.h"
#include "status/view_hooks.h"
#include "statuswin/status_window.h"

namespace {

typedef std::vector<std::string> Texts;

class MainWindow : public ShellTest {
  protected:
    void SetUp() override {
        ShellTest::SetUp();
        taskbar_created_message = RegisterWindowMessageA("TaskbarCreated");
        // Fails harmlessly when done; the 15 s pause takes 300 ms.
        register_main_window_class(GetModuleHandleA(nullptr));
        second_ms = 20;
    }
    void TearDown() override {
        DestroyWindow(window_);
        take_quit();
        second_ms = 1000;
        ShellTest::TearDown();
    }
    // The main window with its worker.
    void create() {
        window_ = create_main_window(GetModuleHandleA(nullptr));
        ASSERT_TRUE(window_);
    }
    bool worker_runs() const { return WaitForSingleObject(worker_thread, 0) == WAIT_TIMEOUT; }
    HWND window_ = nullptr;
};

// The capture's report is a box of the main thread, so the worker watches on meanwhile. Exit
// from it stops the worker even while the worker's refresh waits in a message sent to the
// main thread (a label of the test thread stands in for the status window's texts): the stop
// keeps delivering them, or both threads would wait for each other.
HWND refresh_label = nullptr;
std::atomic<bool> refreshing{false};
void refresh_through_label() {
    refreshing = true;
    SetWindowTextA(refresh_label, "refreshed");
    refreshing = false;
}

TEST_F(MainWindow, CaptureReportAndExitFromIt) {
    unitsim::Config config;
    config.frozen = true;
    unitsim::Server unit(config);
    std::ofstream(conf_path()) << "IP=\"127.0.0.1\"\nPORT=\"" << unit.start(0)
                               << "\"\nUSERNAME=\"admin\"\nPASSWORD=\"vorlix\"\n";
    create();
    ASSERT_TRUE(unit.wait_logins(1, 5000));
    refresh_label = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, 0);
    view_hooks.refresh_views = refresh_through_label;
    std::string log = conf_path() + ".log";
    request_log_capture(log.c_str());
    Driver d;
    int quits = d.run([&] {
        HWND box = wait_dialog("VORLIX Viewer");
        EXPECT_EQ(text_of(box, 0xFFFF), "Generated Log File : " + log);
        EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);
        // A query.
        EXPECT_TRUE(unit.wait_commands(unit.stats().commands.size() + 18, 5000));
        d.call([&] {
            // Not pumping: a refresh that has begun waits in its send to the label.
            while (!refreshing)
                Sleep(1);
            // Exit, answered OK.
            SendMessageA(window_, WM_DESTROY, 0, 0);
        });
    });
    // Stopped, not given up on; and the quit ended the box.
    EXPECT_EQ(worker_thread, nullptr);
    EXPECT_EQ(device.socket.load(), NO_SOCKET);
    EXPECT_GE(quits, 1);
    DestroyWindow(refresh_label);
    remove(log.c_str());
}

std::atomic<bool> stuck{false};
std::atomic<bool> release{false};
// A worker no stop reaches.
void refresh_stuck() {
    stuck = true;
    while (!release)
        Sleep(5);
}

TEST_F(MainWindow, CreationHidingAndExitPastAStuckWorker) {
    // No settings: the worker refreshes the blank status every turn.
    create();
    EXPECT_TRUE(tray_icon_present(window_, TRAY_ICON_ID));
    // WM_CLOSE hides, and the program runs on.
    ShowWindow(window_, SW_SHOW);
    SendMessageA(window_, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(window_));
    // Exit with Cancel leaves everything running. With OK the program quits, and goes on
    // without a worker that no stop reaches, which the process end takes with it (a worker
    // that stops is stopped: the capture's case; the question and the exit code: end to end).
    Responder boxes("VORLIX Viewer", {IDCANCEL, IDOK});
    run_tray_command(IDM_EXIT);
    EXPECT_TRUE(worker_runs());
    EXPECT_FALSE(take_quit());
    view_hooks.refresh_views = refresh_stuck;
    for (MSG m; !stuck; Sleep(5))
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&m);
    run_tray_command(IDM_EXIT);
    EXPECT_EQ(boxes.stop().size(), 2u);
    EXPECT_TRUE(worker_runs());
    EXPECT_FALSE(tray_icon_present(window_, TRAY_ICON_ID));
    EXPECT_TRUE(take_quit());
    release = true;
    WaitForSingleObject(worker_thread, 5000);
    CloseHandle(worker_thread);
    worker_thread = nullptr;
}

// The width of the icon the tray shows.
long shown_width() {
    ICONINFO info;
    BITMAP bitmap = {};
    if (!GetIconInfo(tray_data.hIcon, &info)) return 0;
    GetObjectA(info.hbmColor, sizeof(bitmap), &bitmap);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

// The desktop's events as the main window takes them: back from sleep it asks the worker for
// a new link (the old one is likely dead), and on a change of DPI, display or taskbar the
// tray icon is loaded again, at the small-icon size of the DPI.
TEST_F(MainWindow, DpiAndResume) {
    // The small-icon size of the screen's DPI: 16 pixels at 96 DPI, 32 at 192.
    const int size = GetSystemMetrics(SM_CXSMICON);
    WNDCLASSA main_class;
    ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "VORLIXViewerClass__", &main_class));
    update_tray(true, false);
    RECT suggested = {0, 0, 350, 525};
    const struct {
        UINT message;
        WPARAM wparam;
        int reconnect, loads;
    } events[] = {{WM_POWERBROADCAST, PBT_APMSUSPEND, 0, 0},
                  {WM_DPICHANGED, MAKEWPARAM(96, 96), 0, 1},
                  {WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 1, 0},
                  {WM_DISPLAYCHANGE, 32, 0, 1},
                  {taskbar_created_message, 0, 0, 1}};
    for (const auto& e : events) {
        // A new taskbar knows no icons.
        NOTIFYICONDATAA gone = tray_data;
        if (e.message == taskbar_created_message) Shell_NotifyIconA(NIM_DELETE, &gone);
        reconnect_request = 0;
        int loads = tray_icon_loads;
        LPARAM rect = e.message == WM_DPICHANGED ? reinterpret_cast<LPARAM>(&suggested) : 0;
        CallWindowProcA(main_class.lpfnWndProc, owner_, e.message, e.wparam, rect);
        SCOPED_TRACE(e.message + e.wparam);
        EXPECT_EQ(reconnect_request.load(), e.reconnect);
        EXPECT_EQ(tray_icon_loads, loads + e.loads);
        EXPECT_EQ(shown_width(), size);
        EXPECT_TRUE(tray_icon_present(owner_, TRAY_ICON_ID));
    }
}

const char kNoLog[] =
    "Unable to get log data. Please make sure the ethernet cable is properly connected.";
const char kConfig[] = "Configuration Settings";
const char kStored[] =
    "IP=\"192.168.1.1\"\r\nPORT=\"23\"\r\nUSERNAME=\"admin\"\r\nPASSWORD=\"pw\"\r\n";

// A private settings file read into the record and the tray icon up.
class Shell : public ShellTest {
  protected:
    void SetUp() override {
        ShellTest::SetUp();
        std::ofstream(conf_path(), std::ios::binary) << kStored;
        settings_read(device);
        update_tray(true, false);
    }
    // A field as the poll cycle leaves it: blank-filled to 31 characters.
    static void set(char* field, const char* text) {
        snprintf(field, sizeof(StatusField), "%s", text);
        pad_field(field, 31);
    }
    // Runs a command while a responder answers its boxes; returns their texts. Every box is
    // modal inside the command, so all have been seen when it returns.
    Texts run(int id, std::vector<int> buttons = {}) {
        Responder responder("VORLIX Viewer", buttons);
        run_tray_command(id);
        return responder.stop();
    }
    // Types the log's name into the real Save dialog and presses `button`; returns the name
    // the dialog offered.
    std::string save(HWND dialog, int button) {
        HWND combo = FindWindowExA(GetDlgItem(dialog, 1148), nullptr, "ComboBox", nullptr);
        HWND edit = FindWindowExA(combo, nullptr, "Edit", nullptr);
        std::string offered = text_of(edit);
        SetWindowTextA(edit, log_.c_str());
        PostMessageA(dialog, WM_COMMAND, button, 0);
        return offered;
    }
    std::string log_ = conf_path() + ".TXT";
};

TEST_F(Shell, TrayIconAndTooltip) {
    // The blank status.
    EXPECT_EQ(last_tray_icon, 135);
    const struct {
        const char *ip, *signal;
        int icon;
    } table[] = {{" 1.1.1.1", "75 %", 135}, {"0.0.0.0", "75 %", 139}, {"1.1.1.1", "35 %", 130},
                 {"1.1.1.1", "36 %", 131},  {"1.1.1.1", "55 %", 131}, {"1.1.1.1", "56 %", 132},
                 {"1.1.1.1", "76 %", 133},  {"1.1.1.1", "0 %", 134},  {"1.1.1.1", "1 %", 130},
                 {"1.1.1.1", "75 %", 132}};
    for (const auto& row : table) {
        set(device.wwan_ip, row.ip);
        set(device.signal_quality, row.signal);
        update_tray(false, false);
        EXPECT_EQ(last_tray_icon, row.icon) << row.ip << row.signal;
    }
    // The same icon is not loaded again; a change loads the new one and destroys the old.
    HICON first = tray_data.hIcon;
    int loads = tray_icon_loads;
    set(device.signal_quality, "70 %");
    update_tray(false, false);
    EXPECT_EQ(tray_icon_loads, loads);
    // The tooltip trims the three fields in place, and is cut with "Logging...".
    set(device.imei, "1234  5");
    set(device.signal_quality, "40 %");
    // While the link is down: why, with the stored address, and since when; once it is up
    // again, the first tooltip. The worker's refresh (no status window exists here).
    struct tm down = {0, 2, 14, 7, 11, 126, 0, 0, -1};
    link_status_down(REASON_LOGIN_REJECTED, mktime(&down));
    update_tray(false, false);
    EXPECT_STREQ(tray_data.szTip,
                 "VORLIX Viewer: login rejected by 192.168.1.1:23 since 14:02, retrying");
    link_status_up();
    refresh_views();
    EXPECT_EQ(tray_icon_loads, loads + 1);
    ICONINFO info;
    EXPECT_FALSE(GetIconInfo(first, &info));
    EXPECT_STREQ(tray_data.szTip, "IMEI: 1234  5\nWWAN IP: 1.1.1.1\nRSSI: 40 %");
    set(device.imei, "123456789012345");
    set(device.wwan_ip, "100.100.100.100");
    // 67 characters with "Logging...": cut to 63.
    update_tray(false, true);
    EXPECT_STREQ(tray_data.szTip,
                 "Logging...\nIMEI: 123456789012345\nWWAN IP: 100.100.100.100\nRSSI:");
}

// Each command with the link up or down and the answer given in the real Save dialog (or the
// link lost while it is open): the boxes it shows, the requests it raises and the Save dialogs
// it opens, offering the IMEI's name of the day.
TEST_F(Shell, MenuCommandsByLinkAndAnswer) {
    const char question[] = "Are you sure you want to powercycle your VORLIX?";
    const char refused[] = "Unable to perform powercycle. Please make sure the ethernet cable is "
                           "properly connected.";
    enum { saved, cancel, drop };
    const struct {
        int command;
        bool linked;
        int how;
        std::vector<int> buttons;
        Texts boxes;
        uint32_t requests;
        size_t saves;
    } cases[] = {
        {IDM_POWERCYCLE, false, saved, {IDOK}, {question, refused}, 0, 0},
        {IDM_POWERCYCLE, true, saved, {IDCANCEL}, {question}, 0, 0},
        {IDM_POWERCYCLE, true, saved, {IDOK}, {question}, REQUEST_POWER_CYCLE, 0},
        {IDM_LOGFILE, false, saved, {}, {kNoLog}, 0, 0},
        {IDM_LOGFILE, true, saved, {}, {}, REQUEST_LOG_CAPTURE, 1},
        {IDM_LOGFILE, true, cancel, {}, {}, 0, 1},
        {IDM_LOGFILE, true, drop, {}, {kNoLog}, 0, 1},
    };
    auto today = [] {
        char name[32];
        time_t now = time(nullptr);
        strftime(name, sizeof(name), "A1b2C3-%m%d%y.TXT", localtime(&now));
        return std::string(name);
    };
    for (const auto& c : cases) {
        TearDown();
        SetUp();
        device.socket = c.linked ? 5 : NO_SOCKET;
        set(device.imei, "A1b2C3");
        std::string before = today();
        Responder saves("Save Log As...", {}, [&](HWND box) {
            if (c.how == drop) device.socket = NO_SOCKET;
            return save(box, c.how == cancel ? IDCANCEL : IDOK);
        });
        SCOPED_TRACE(c.command * 10 + c.how);
        EXPECT_EQ(run(c.command, c.buttons), c.boxes);
        Texts offered = saves.stop();
        EXPECT_EQ(offered.size(), c.saves);
        // Across midnight the name may be of either day.
        for (const std::string& name : offered)
            EXPECT_TRUE(name == before || name == today()) << name;
        EXPECT_EQ(request_flags.load(), c.requests);
        EXPECT_EQ(strstr(tray_data.szTip, "Logging") != nullptr, c.requests == REQUEST_LOG_CAPTURE);
    }
    EXPECT_STREQ(log_path, log_.c_str());
}

// Only letters and digits of the unit's IMEI make a path (a whole one: the Log File command).
TEST(LogFileName, ImeiOrDisconnected) {
    // 5 December 2013
    struct tm day = {0, 0, 0, 5, 11, 113, 0, 0, 0};
    char name[256];
    for (const char* imei : {"..\\x", ""}) {
        default_log_name(imei, day, name, sizeof(name));
        EXPECT_STREQ(name, "DISCONNECTED-120513.TXT");
    }
}

// With a telnet.exe in the current directory, only the system's own client is started, by
// its full path, in the system directory, with the stored address and port as numbers.
TEST_F(Shell, MenuTelnetOnlyTheSystems) {
    char system_dir[MAX_PATH];
    GetSystemDirectoryA(system_dir, sizeof(system_dir));
    const std::string system_telnet = system_dir + std::string("\\telnet.exe");
    const std::string here = conf_path() + ".d";
    CreateDirectoryA(here.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(recorder_path().c_str(), (here + "\\telnet.exe").c_str(), 0));
    SetCurrentDirectoryA(here.c_str());
    // None in the system directory (or one left by a run that stopped half-way).
    DeleteFileA(system_telnet.c_str());
    EXPECT_EQ(run(IDM_TELNET), Texts{"Unable to open telnet session. Please make sure telnet "
                                     "client is installed."});
    ASSERT_TRUE(CopyFileA(recorder_path().c_str(), system_telnet.c_str(), 0));
    snprintf(device.port, 32, "023");
    EXPECT_EQ(run(IDM_TELNET), Texts{});
    EXPECT_EQ(wait_launch(), system_telnet + "|192.168.1.1 23|" + system_dir);
    // Only four decimal octets without leading zeros: nothing else reaches the client.
    snprintf(device.ip, 32, "1.2.3.4 & calc");
    EXPECT_EQ(run(IDM_TELNET), Texts{"Unable to open telnet session. The IP address or port in "
                                     "the connection settings is not valid."});
    DeleteFileA(system_telnet.c_str());
    SetCurrentDirectoryA(start_dir_);
    DeleteFileA((here + "\\telnet.exe").c_str());
    RemoveDirectoryA(here.c_str());
    char out[32];
    for (const char* ip : {"192.168.01.1", "256.1.1.1", "1.2.3", " 1.2.3.4"})
        EXPECT_FALSE(telnet_parameters(ip, "23", out, sizeof(out))) << ip;
    // No room.
    EXPECT_FALSE(telnet_parameters("255.255.255.255", "65535", out, 21));
    EXPECT_STREQ(out, "");
}

// Opened inside the Save dialog, the status window's never-ending loop would keep the
// dialog's answer from arriving: the first opening waits until the command has returned.
TEST_F(Shell, StatusOpeningWaitsForTheCommand) {
    // Run alone (as ctest does), no status window exists yet.
    if (status_window_handle()) GTEST_SKIP();
    device.socket = 5;
    Driver d;
    Responder saves("Save Log As...", {}, [&](HWND box) {
        // The tray's left click.
        d.call([] { request_status_window(); });
        std::string during = status_window_handle() ? "opened" : "waits";
        save(box, IDOK);
        return during;
    });
    // Ends the status window's loop once it exists.
    std::thread quitter([&] {
        for (int i = 0; i < 1000 && status_window_handle() == nullptr; ++i)
            Sleep(10);
        d.quit();
    });
    run_tray_command(IDM_LOGFILE);
    quitter.join();
    take_quit();
    EXPECT_EQ(saves.stop(), Texts{"waits"});
    // Opened once the command had returned.
    EXPECT_NE(status_window_handle(), nullptr);
    EXPECT_EQ(request_flags.load(), static_cast<uint32_t>(REQUEST_LOG_CAPTURE));
}

TEST_F(Shell, ConfigurationDialog) {
    // The dialog shows the stored values and opens once however often it is chosen.
    // "Connect" with a field the worker cannot use, or with settings that cannot be saved:
    // one box naming it, the dialog stays open, nothing is saved. Escape writes nothing.
    const char* port = "Please enter a Port from 1 to 65535.";
    const char* user = "Please enter a Username of 1 to 21 characters, without double quotes.";
    const char* word = "Please enter a Password of 1 to 21 characters, without double quotes.";
    // The port's rule is the settings file's own, tested with it.
    const char* unusable[][3] = {{"70000", "admin", "pw"},
                                 {"23", "", "pw"},
                                 {"23", "ad\"min", "pw"},
                                 {"23", "admin", "pppppppppppppppppppppp"},
                                 {"23", "admin", "pw"}};
    Responder refusals("VORLIX Viewer");
    // Chosen from the tray; the script runs on the UI thread from within the dialog's loop.
    Driver d;
    d.run([&] {
        d.post([] { run_tray_command(IDM_CONFIG); });
        HWND dialog = wait_dialog(kConfig);
        d.call([&] {
            EXPECT_EQ(text_of(dialog, IDC_IPADDRESS) + text_of(dialog, IDC_PORT) +
                          text_of(dialog, IDC_USERNAME) + text_of(dialog, IDC_PASSWORD),
                      "192.168.1.123adminpw");
            run_tray_command(IDM_CONFIG);
            EXPECT_EQ(dialogs_titled(kConfig), 1);
            SendDlgItemMessageA(dialog, IDC_IPADDRESS, IPM_CLEARADDRESS, 0, 0);
            SendMessageA(dialog, WM_COMMAND, IDOK, 0);
            SendDlgItemMessageA(dialog, IDC_IPADDRESS, IPM_SETADDRESS, 0,
                                MAKEIPADDRESS(10, 0, 0, 1));
            // The last row is usable, but its folder is gone.
            for (const auto& fields : unusable) {
                const int ids[] = {IDC_PORT, IDC_USERNAME, IDC_PASSWORD};
                for (int i = 0; i < 3; ++i)
                    SetDlgItemTextA(dialog, ids[i], fields[i]);
                if (&fields == &unusable[4])
                    settings_set_path((conf_path() + ".gone\\telnet.conf").c_str());
                // Returns once the box is answered.
                SendMessageA(dialog, WM_COMMAND, IDOK, 0);
                EXPECT_TRUE(IsWindowVisible(dialog));
            }
            settings_set_path(conf_path().c_str());
            PostMessageA(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
        });
    });
    EXPECT_EQ(config_dialog, nullptr);
    EXPECT_EQ(refusals.stop(), (Texts{"Please enter the unit's IP Address.", port, user, user, word,
                                      "Unable to save the connection settings. Please make sure "
                                      "telnet.conf can be written."}));
    EXPECT_EQ(read_file(conf_path()), kStored);
    EXPECT_EQ(reconnect_request.load(), 0);
}

// The open menu as "id text|", "-|" for a separator, "*" after a check mark.
std::string menu_seen() {
    std::string seen;
    std::thread reader([&] {
        HWND popup = nullptr;
        while (!((popup = FindWindowA("#32768", nullptr)) && IsWindowVisible(popup)))
            Sleep(5);
        HMENU menu = reinterpret_cast<HMENU>(SendMessageA(popup, MN_GETHMENU, 0, 0));
        for (int k = 0; k < GetMenuItemCount(menu); ++k) {
            char text[64] = "";
            GetMenuStringA(menu, k, text, sizeof(text), MF_BYPOSITION);
            UINT id = GetMenuItemID(menu, k);
            seen += id ? std::to_string(id) + " " + text : "-";
            seen += GetMenuState(menu, k, MF_BYPOSITION) & MF_CHECKED ? "*|" : "|";
        }
        PostMessageA(popup, WM_KEYDOWN, VK_ESCAPE, 0);
    });
    show_tray_menu();
    reader.join();
    return seen;
}

TEST_F(MainWindow, NoticeMenuChoicesAndFirstStart) {
    create();
    RegDeleteKeyValueA(HKEY_CURRENT_USER, "Software\\VORLIX\\VORLIX Viewer", "NotifyOnLinkLoss");
    set_start_at_logon(false);
    char lnk[MAX_PATH + 32], exe[MAX_PATH];
    // The shortcut's bytes; its working folder as UTF-16.
    std::string made, folder;
    startup_shortcut_path(lnk, sizeof(lnk));
    GetModuleFileNameA(nullptr, exe, sizeof(exe));
    // The command, then the two check marks.
    const struct {
        int command;
        std::string notify, logon;
    } steps[] = {{0, "*", ""},
                 {IDM_NOTIFY_LINK_LOSS, "", ""},
                 {IDM_START_AT_LOGON, "", "*"},
                 {IDM_START_AT_LOGON, "", ""}};
    for (const auto& step : steps) {
        run_tray_command(step.command);
        // As the next start reads it.
        options_load();
        EXPECT_EQ(menu_seen(),
                  "3000 Exit|5000 About|8000 Powercycle...|-|7000 Start Telnet Session|"
                  "6000 Connection Configuration|4000 VORLIX Connection Status|-|"
                  "9000 Log File|-|9100 Notify on Link Loss" +
                      step.notify + "|9200 Start at Logon" + step.logon + "|");
        int shown = tray_notices;
        std::thread([] { views_show_notice("The link is back after 12 min."); }).join();
        EXPECT_EQ(tray_notices, shown + int(step.notify.size()));
        if (step.logon.size()) made = read_file(lnk);
    }
    EXPECT_EQ(tray_notice.uFlags & NIF_INFO, UINT(NIF_INFO));
    EXPECT_STREQ(tray_notice.szInfoTitle, "VORLIX Viewer");
    for (char c : std::string(start_dir_))
        folder += {c, '\0'};
    // The target and the working folder.
    EXPECT_NE(made.find(exe + std::string(1, '\0')), std::string::npos);
    EXPECT_NE(made.find(folder), std::string::npos);
    // A first start opens the configuration dialog once, only without settings.
    for (bool exists : {false, true}) {
        if (exists) std::ofstream(conf_path()) << "IP=\"1.2.3.4\"\n";
        Responder dialogs(kConfig, {IDCANCEL});
        offer_first_configuration(window_, conf_path().c_str());
        MSG message;
        while (PeekMessageA(&message, window_, FIRST_START_MESSAGE, FIRST_START_MESSAGE, PM_REMOVE))
            DispatchMessageA(&message);
        EXPECT_EQ(dialogs.stop().size(), exists ? 0u : 1u);
    }
}

} // namespace
