// The shell in-process: the hidden main window with its real worker and the desktop's events,
// the tray icon and tooltip, the tray menu's commands answered through real message boxes
// (the telnet client's search, the launch and, but where the current directory matters, the
// Save dialog replaced), and the two dialogs.
#include <gtest/gtest.h>

#include <ctime>

#include "link/link_timing.h"
#include "res/resource.h"
#include "shell/tray_menu.h"
#include "shell_test_support.h"
#include "status/device_requests.h"
#include "status/view_hooks.h"
#include "statuswin/status_window.h"

namespace {

using shelltest::text_of;
typedef std::vector<std::string> Texts;

// Reads the first popup menu that opens while it lives ("id text", "-" for a separator)
// and dismisses it with Escape.
struct MenuWatch {
    Texts entries;
    std::atomic<bool> done{false};
    std::thread thread{[this] {
        HWND popup = nullptr;
        while (!done && !((popup = FindWindowA("#32768", nullptr)) && IsWindowVisible(popup)))
            Sleep(5);
        HMENU menu = reinterpret_cast<HMENU>(SendMessageA(popup, MN_GETHMENU, 0, 0));
        for (int k = 0; !done && k < GetMenuItemCount(menu); ++k) {
            char text[64] = "";
            GetMenuStringA(menu, k, text, sizeof(text), MF_BYPOSITION);
            UINT id = GetMenuItemID(menu, k);
            entries.push_back(id == 0 ? "-" : std::to_string(id) + " " + text);
        }
        PostMessageA(popup, WM_KEYDOWN, VK_ESCAPE, 0);
    }};
    Texts stop() { // empty: no menu came
        done = true;
        thread.join();
        return entries;
    }
};

class MainWindow : public shelltest::ShellTest {
  protected:
    void SetUp() override {
        ShellTest::SetUp();
        taskbar_created_message = RegisterWindowMessageA("TaskbarCreated");
        register_main_window_class(GetModuleHandleA(nullptr)); // fails harmlessly when done
        second_ms = 20;                                        // the 15 s pause takes 300 ms
    }
    void TearDown() override {
        if (window_ && IsWindow(window_)) DestroyWindow(window_);
        shelltest::take_quit();
        second_ms = 1000;
        ShellTest::TearDown();
    }
    // The main window with its worker, logged in to unit when there is one.
    void create(unitsim::Server* unit = nullptr) {
        window_ = create_main_window(GetModuleHandleA(nullptr));
        ASSERT_TRUE(window_ && (!unit || unit->wait_logins(1, 5000)));
    }
    bool icon_present() const { return shelltest::tray_icon_present(window_, TRAY_ICON_ID); }
    HWND window_ = nullptr;
};

TEST_F(MainWindow, CreationHidingTrayClicksAndExit) {
    reconnect_request = 1;
    create();
    EXPECT_EQ(reconnect_request.load(), 0);
    EXPECT_TRUE(icon_present());
    EXPECT_EQ(last_tray_icon, IDI_NO_WWAN);
    EXPECT_STREQ(tray_data.szTip, "IMEI: \nWWAN IP: \nRSSI: ");
    EXPECT_EQ(WaitForSingleObject(worker_thread, 0), DWORD(WAIT_TIMEOUT)); // running
    EXPECT_TRUE(view_hooks.refresh_views && view_hooks.update_tray && view_hooks.show_report);
    EXPECT_EQ(text_of(window_), "VORLIX Connection Status");
    // WM_CLOSE hides, and the program runs on.
    ShowWindow(window_, SW_SHOW);
    SendMessageA(window_, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(window_));
    EXPECT_FALSE(shelltest::take_quit());
    // A right click opens the menu; dismissing it runs no command.
    shelltest::Responder boxes("VORLIX Viewer", {IDCANCEL});
    MenuWatch menu;
    SendMessageA(window_, TRAY_CALLBACK_MESSAGE, 0, WM_RBUTTONUP);
    EXPECT_EQ(menu.stop(), (Texts{"3000 Exit", "5000 About", "8000 Powercycle...", "-",
                                  "7000 Start Telnet Session", "6000 Connection Configuration",
                                  "4000 VORLIX Connection Status", "-", "9000 Log File", "-",
                                  "9100 Notify on Link Loss", "9200 Start at Logon"}));
    Sleep(30); // a box that would come late is still seen
    // Exit with Cancel leaves everything running; with OK the worker stops and the program
    // quits with 0.
    run_tray_command(IDM_EXIT);
    EXPECT_EQ(boxes.stop(), Texts{"Are you sure you want to terminate this program?"});
    EXPECT_EQ(WaitForSingleObject(worker_thread, 0), DWORD(WAIT_TIMEOUT));
    EXPECT_FALSE(shelltest::take_quit());
    shelltest::Responder ok("VORLIX Viewer", {IDOK});
    run_tray_command(IDM_EXIT);
    EXPECT_EQ(worker_thread, nullptr);
    int code = -7;
    EXPECT_TRUE(shelltest::take_quit(&code));
    EXPECT_EQ(code, 0);
}

// The capture's report is a box of the main thread, so the worker watches on meanwhile. Exit
// from it stops the worker even while the worker's refresh waits in a message sent to the
// main thread (a label of the test thread stands in for the status window's texts): the stop
// keeps delivering them, or both threads would wait for each other.
HWND refresh_label = nullptr;
void refresh_through_label() {
    SetWindowTextA(refresh_label, "refreshed");
    refresh_views();
}

TEST_F(MainWindow, CaptureReportIsTheMainThreadsBoxAndExitFromItStopsTheWorker) {
    unitsim::Config config;
    config.frozen = true;
    unitsim::Server unit(config);
    std::ofstream(shelltest::private_settings_path())
        << "IP=\"127.0.0.1\"\nPORT=\"" << unit.start(0)
        << "\"\nUSERNAME=\"admin\"\nPASSWORD=\"vorlix\"\n";
    create(&unit);
    refresh_label = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, 0);
    view_hooks.refresh_views = refresh_through_label;
    std::string log = shelltest::private_settings_path() + ".log";
    request_log_capture(log.c_str());
    shelltest::Driver d;
    int quits = d.run([&] {
        HWND box = shelltest::wait_dialog("VORLIX Viewer");
        EXPECT_EQ(text_of(box, 0xFFFF), "Generated Log File : " + log);
        EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);
        EXPECT_EQ(GetWindowThreadProcessId(box, nullptr), d.ui_thread);
        EXPECT_TRUE(unit.wait_commands(unit.stats().commands.size() + 18, 5000)); // a query
        d.call([&] {
            Sleep(300); // not pumping: the next turn's refresh waits in its send meanwhile
            SendMessageA(window_, WM_DESTROY, 0, 0); // Exit, answered OK
        });
    });
    EXPECT_EQ(worker_thread, nullptr); // stopped, not given up on
    EXPECT_EQ(device.socket.load(), NO_SOCKET);
    EXPECT_GE(quits, 1); // and the quit ended the box
    DestroyWindow(refresh_label);
    remove(log.c_str());
}

std::atomic<bool> stuck{false}, release{false};
void refresh_stuck() { // a worker no stop reaches
    stuck = true;
    while (!release)
        Sleep(5);
}

TEST_F(MainWindow, ExitGoesOnWhenTheWorkerDoesNotStop) {
    create(); // no settings: the worker refreshes the blank status every turn
    view_hooks.refresh_views = refresh_stuck;
    ASSERT_TRUE(shelltest::pump_until([] { return stuck.load(); }));
    SendMessageA(window_, WM_DESTROY, 0, 0);
    // Exit went on without the worker (still stuck), which the process end takes with it.
    ASSERT_NE(worker_thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(worker_thread, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_FALSE(icon_present());
    int code = -1;
    EXPECT_TRUE(shelltest::take_quit(&code));
    EXPECT_EQ(code, 0);
    release = true;
    WaitForSingleObject(worker_thread, 5000);
    CloseHandle(worker_thread);
    worker_thread = nullptr;
}

// The desktop's events as the main window takes them: back from sleep it asks the worker for
// a new link (the old one is likely dead), and on a change of DPI, display or taskbar the
// tray icon is loaded again, at the small-icon size of the DPI.
TEST_F(MainWindow, TrayIconFollowsTheDpiAndAResumeAsksForANewLink) {
    const int sizes[][2] = {{96, 16}, {120, 20}, {144, 24}, {192, 32}}; // as Windows sets them
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSX), expected = 0;
    ReleaseDC(nullptr, screen);
    for (const auto& row : sizes)
        if (row[0] == dpi) expected = row[1];
    ASSERT_NE(expected, 0) << "no size written down for " << dpi << " DPI";
    auto shown_width = [] {
        ICONINFO info;
        BITMAP bitmap = {};
        if (!GetIconInfo(tray_data.hIcon, &info)) return 0L;
        GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
        DeleteObject(info.hbmColor), DeleteObject(info.hbmMask);
        return bitmap.bmWidth;
    };
    WNDCLASSA main_class;
    ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "VORLIXViewerClass__", &main_class));
    update_tray(true, false);
    EXPECT_EQ(shown_width(), expected) << dpi << " DPI";
    RECT suggested = {0, 0, 350, 525};
    // clang-format off
    const struct { UINT message; WPARAM wparam; int reconnect, loads; } events[] = {
        {WM_POWERBROADCAST, PBT_APMSUSPEND, 0, 0}, {WM_DPICHANGED, 0, 0, 1},
        {WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 1, 0}, {WM_DISPLAYCHANGE, 32, 0, 1},
        {WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 1, 0}, {WM_SETTINGCHANGE, 0, 0, 1},
        {WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE, 0, 0}, {taskbar_created_message, 0, 0, 1}};
    // clang-format on
    for (const auto& e : events) {
        NOTIFYICONDATAA gone = tray_data; // a new taskbar knows no icons
        if (e.message == taskbar_created_message) Shell_NotifyIconA(NIM_DELETE, &gone);
        reconnect_request = 0;
        int loads = tray_icon_loads;
        WPARAM wparam = e.message == WM_DPICHANGED ? MAKEWPARAM(dpi, dpi) : e.wparam;
        LPARAM rect = e.message == WM_DPICHANGED ? reinterpret_cast<LPARAM>(&suggested) : 0;
        CallWindowProcA(main_class.lpfnWndProc, owner_, e.message, wparam, rect);
        EXPECT_EQ(reconnect_request.load(), e.reconnect) << e.message << " " << e.wparam;
        EXPECT_EQ(tray_icon_loads, loads + e.loads) << e.message;
        EXPECT_EQ(shown_width(), expected) << e.message;
        EXPECT_TRUE(shelltest::tray_icon_present(owner_, TRAY_ICON_ID)) << e.message;
    }
}

const char kNoLog[] =
    "Unable to get log data. Please make sure the ethernet cable is properly connected.";
const char kNoTelnet[] =
    "Unable to open telnet session. Please make sure telnet client is installed.";

// What the Save dialog was asked, and how the fake answers.
struct SaveCall {
    int calls = 0;
    std::string asked; // the name offered, the filter (to its double NUL), title and extension
    BOOL answer = TRUE;
    bool drop_link = false, reenter = false;
    bool click_tray = false;           // a left click on the tray while the dialog is open
    HWND status_during_save = nullptr; // the status window as the dialog saw it
} save_call;

BOOL WINAPI fake_save(LPOPENFILENAMEA record) {
    ++save_call.calls;
    save_call.asked = record->lpstrFile + ("|" + std::string(record->lpstrFilter, 46)) + "|" +
                      record->lpstrTitle + "|" + record->lpstrDefExt;
    if (save_call.reenter) run_tray_command(IDM_LOGFILE); // chosen again from the tray
    if (save_call.click_tray) {
        request_status_window(); // what the tray's left click does
        save_call.status_during_save = status_window_handle();
    }
    if (save_call.drop_link) device.socket = NO_SOCKET;
    if (save_call.answer) snprintf(record->lpstrFile, record->nMaxFile, "C:\\logs\\unit.TXT");
    return save_call.answer;
}

// Finds the telnet client only where it is installed, in the system directory.
bool telnet_installed = true;
DWORD WINAPI fake_search(LPCSTR dir, LPCSTR name, LPCSTR, DWORD size, LPSTR out, LPSTR*) {
    if (!telnet_installed || !dir || _stricmp(dir, "C:\\windows\\system32") != 0 ||
        strcmp(name, "telnet.exe") != 0)
        return 0;
    return static_cast<DWORD>(snprintf(out, size, "C:\\windows\\system32\\telnet.exe"));
}

const char kConfig[] = "Configuration Settings";
const char kStored[] =
    "IP=\"192.168.1.1\"\r\nPORT=\"23\"\r\nUSERNAME=\"admin\"\r\nPASSWORD=\"pw\"\r\n";

// A private settings file read into the record, the tray icon up, and the Save dialog, the
// telnet client's search and the launch replaced.
class Shell : public shelltest::ShellTest {
  protected:
    void SetUp() override {
        ShellTest::SetUp();
        std::ofstream(shelltest::private_settings_path(), std::ios::binary) << kStored;
        settings_read(device);
        save_call = SaveCall();
        shelltest::launches.clear();
        shelltest::launch_result = 42;
        telnet_installed = true;
        update_tray(true, false);
    }
    // Fields as the poll cycle leaves them: blank-filled to 31 characters.
    static void set(char* field, const char* text) {
        snprintf(field, sizeof(StatusField), "%s", text);
        pad_field(field, 31);
    }
    int icon_for(const char* wwan_ip, const char* signal) {
        set(device.wwan_ip, wwan_ip);
        set(device.signal_quality, signal);
        update_tray(false, false);
        return last_tray_icon;
    }
    std::string tip() const { return tray_data.szTip; }
    // Runs a command while a responder answers its boxes; returns their texts.
    Texts run(int id, std::vector<int> buttons = {}) {
        shelltest::Responder responder("VORLIX Viewer", buttons);
        run_tray_command(id);
        Sleep(30); // a box that would come late is still seen
        return responder.stop();
    }
    bool logging() const { return strstr(tray_data.szTip, "Logging") != nullptr; }
    // Chooses `command` from the tray and, once its dialog `title` is up, runs `inside` on
    // the UI thread from within the dialog's modal loop; `inside` ends the dialog.
    void open(int command, const char* title, const std::function<void(HWND)>& inside) {
        shelltest::Driver d;
        bool ran = false;
        d.run(
            [&] {
                if (HWND dialog = shelltest::wait_dialog(title))
                    d.call([&] { inside(dialog), ran = true; });
            },
            [&] { run_tray_command(command); });
        EXPECT_TRUE(ran) << title;
    }
    std::string stored() { return shelltest::read_file(shelltest::private_settings_path()); }

    shelltest::Seam<GetSaveFileNameFn> save_seam_{get_save_file_name_fn, fake_save};
    shelltest::Seam<ShellExecuteFn> launch_seam_{shell_execute_fn, shelltest::record_launch};
    shelltest::Seam<SearchPathFn> search_seam_{search_path_fn, fake_search};
};

// ---- tray icon and tooltip ---------------------------------------------------------------

TEST_F(Shell, TrayIconTableAtItsEdgesEachLoadedOnlyOnAChangeAndTheTooltipCut) {
    update_tray(true, false); // blank status
    EXPECT_EQ(last_tray_icon, 135);
    EXPECT_TRUE(shelltest::tray_icon_present(owner_, TRAY_ICON_ID));
    // clang-format off
    const struct { const char *ip, *signal; int icon; } table[] = {
        {"10.1.2.3", "35 %", 130},  {"10.1.2.3", "36 %", 131}, {"10.1.2.3", "55 %", 131},
        {"10.1.2.3", "56 %", 132},  {"10.1.2.3", "75 %", 132}, {"10.1.2.3", "76 %", 133},
        {"10.1.2.3", "100 %", 133}, {"10.1.2.3", "0 %", 134},  {"10.1.2.3", "1 %", 130},
        {"10.1.2.3", "", 134},      {"10.1.2.3", "N/A", 134},  {"", "75 %", 135},
        {" 10.1.2.3", "75 %", 135}, {"0.0.0.0", "75 %", 139},  {"0.0.0.0", "", 139}};
    // clang-format on
    for (const auto& row : table)
        EXPECT_EQ(icon_for(row.ip, row.signal), row.icon) << "'" << row.ip << "' " << row.signal;
    // The same icon is not loaded again; a negative signal keeps the icon but not the tip.
    ASSERT_EQ(icon_for("10.1.2.3", "60 %"), 132);
    HICON first = tray_data.hIcon;
    int loads = tray_icon_loads;
    EXPECT_EQ(icon_for("10.1.2.3", "70 %"), 132);
    EXPECT_EQ(icon_for("10.1.2.3", "-5 %"), 132);
    EXPECT_EQ(tray_icon_loads, loads);
    EXPECT_EQ(tip(), "IMEI: \nWWAN IP: 10.1.2.3\nRSSI: -5 %");
    // A change loads the new icon and destroys the one it replaces.
    EXPECT_EQ(icon_for("10.1.2.3", "80 %"), 133);
    EXPECT_EQ(tray_icon_loads, loads + 1);
    ICONINFO info;
    EXPECT_FALSE(GetIconInfo(first, &info)) << "the replaced icon was not destroyed";
    // The tooltip trims the three fields only, and is cut with "Logging...".
    set(device.imei, "1234  5");
    set(device.wwan_ip, "100.100.100.100");
    set(device.signal_quality, "75 %");
    set(device.modem_id, "VX4410A");
    update_tray(true, false);
    EXPECT_EQ(tip(), "IMEI: 1234  5\nWWAN IP: 100.100.100.100\nRSSI: 75 %");
    EXPECT_EQ(std::string(device.imei), "1234  5"); // trimmed in place, inner blanks kept
    EXPECT_EQ(std::string(device.modem_id), "VX4410A" + std::string(24, ' ')); // untouched
    memset(device.imei, 'A', sizeof(StatusField)); // no terminator: cut to 31 characters
    update_tray(false, false);
    EXPECT_EQ(tip(), "IMEI: " + std::string(31, 'A') + "\nWWAN IP: 100.100.100.100\n"); // 63
    set(device.imei, "123456789012345");
    update_tray(false, true); // 67 characters with "Logging...": cut to 63
    EXPECT_EQ(tip(), "Logging...\nIMEI: 123456789012345\nWWAN IP: 100.100.100.100\nRSSI:");
    for (size_t i = 63; i < sizeof(tray_data.szTip); ++i)
        ASSERT_EQ(tray_data.szTip[i], '\0') << i;
    // The worker's refresh brings the tray up to date (no status window exists here).
    set(device.wwan_ip, "10.9.8.7");
    set(device.signal_quality, "40 %");
    refresh_views();
    EXPECT_EQ(last_tray_icon, 131);
    EXPECT_EQ(tip(), "IMEI: 123456789012345\nWWAN IP: 10.9.8.7\nRSSI: 40 %");
}

// ---- tray menu -------------------------------------------------------------------------------

// Each command with the link up or down, the Save dialog's answer (or a second Log File
// from within it, or the link lost while it is open) and the telnet client's presence: the
// boxes it shows, the requests it raises, the Save dialogs it opens and the launches.
TEST_F(Shell, MenuCommandsAskConfirmAndRefuseAsTheLinkAndTheirAnswersDecide) {
    const char question[] = "Are you sure you want to powercycle your VORLIX?";
    const char refused[] = "Unable to perform powercycle. Please make sure the ethernet cable is "
                           "properly connected.";
    const char invalid[] = "Unable to open telnet session. The IP address or port in the "
                           "connection settings is not valid.";
    const char launch[] =
        "null|open|C:\\windows\\system32\\cmd.exe| /C telnet 192.168.1.1 23|null|1";
    enum { none, ok, cancel, reenter, drop, no_client, launch_fails, bad_ip };
    const struct {
        int command;
        bool linked;
        int how;
        std::vector<int> buttons;
        Texts boxes;
        uint32_t requests;
        int saves, launches;
    } cases[] = {
        {IDM_POWERCYCLE, false, none, {IDOK}, {question, refused}, 0, 0, 0},
        {IDM_POWERCYCLE, true, none, {IDCANCEL}, {question}, 0, 0, 0},
        {IDM_POWERCYCLE, true, none, {IDOK}, {question}, REQUEST_POWER_CYCLE, 0, 0},
        {IDM_LOGFILE, false, ok, {}, {kNoLog}, 0, 0, 0},
        {IDM_LOGFILE, true, ok, {}, {}, REQUEST_LOG_CAPTURE, 1, 0},
        {IDM_LOGFILE, true, cancel, {}, {}, 0, 1, 0},
        {IDM_LOGFILE, true, drop, {}, {kNoLog}, 0, 1, 0},
        {IDM_LOGFILE, true, reenter, {}, {}, REQUEST_LOG_CAPTURE, 1, 0},
        {IDM_TELNET, false, no_client, {}, {kNoTelnet}, 0, 0, 0},
        {IDM_TELNET, false, launch_fails, {}, {kNoTelnet}, 0, 0, 1},
        {IDM_TELNET, false, bad_ip, {}, {invalid}, 0, 0, 0},
    };
    for (const auto& c : cases) {
        TearDown(), SetUp();
        snprintf(device.ip, 32, c.how == bad_ip ? "1.2.3.4 & calc" : "192.168.1.1");
        snprintf(device.port, 32, "23");
        device.socket = c.linked ? 5 : NO_SOCKET;
        save_call.answer = c.how != cancel;
        save_call.reenter = c.how == reenter;
        save_call.drop_link = c.how == drop;
        telnet_installed = c.how != no_client;
        shelltest::launch_result = c.how == launch_fails ? 2 : 42;
        EXPECT_EQ(run(c.command, c.buttons), c.boxes) << c.command << " " << c.how;
        EXPECT_EQ(request_flags.load(), c.requests) << c.command << " " << c.how;
        EXPECT_EQ(save_call.calls, c.saves) << c.command << " " << c.how;
        EXPECT_EQ(shelltest::launches, Texts(c.launches, launch)) << c.command << " " << c.how;
        EXPECT_EQ(logging(), c.requests == REQUEST_LOG_CAPTURE);
        EXPECT_EQ(log_dialog_busy, 0);
    }
}

// The Save dialog offers the IMEI's name of today and saves text files; only letters and
// digits of the unit's IMEI make a path. The telnet parameters take only safe text.
TEST_F(Shell, MenuLogFileOffersTheImeiNameOfTodayAndTelnetTakesOnlySafeText) {
    time_t now = time(nullptr);
    char today[16];
    strftime(today, sizeof(today), "%m%d%y", localtime(&now));
    device.socket = 5;
    snprintf(device.imei, 32, "123456789012345");
    pad_field(device.imei, 31);
    EXPECT_EQ(run(IDM_LOGFILE), Texts{});
    EXPECT_EQ(save_call.asked,
              "123456789012345-" + std::string(today) + ".TXT|" +
                  std::string("Text Files (*.TXT)\0*.TXT\0All Files (*.*)\0*.*\0\0", 46) +
                  "|Save Log As...|TXT");
    EXPECT_STREQ(log_path, "C:\\logs\\unit.TXT");
    EXPECT_EQ(std::string(tray_data.szTip).rfind("Logging...\nIMEI: 123456789012345\n", 0), 0u);
    struct tm day = {};
    day.tm_year = 113, day.tm_mon = 11, day.tm_mday = 5; // 5 December 2013
    char name[256];
    for (const char* imei :
         {"A1b2C3 ", "..\\..\\x", "12/34", "C:x", "1.2", "123 456", " 123", "12\xe9_", ""}) {
        default_log_name(imei, day, name, sizeof(name));
        EXPECT_STREQ(name, imei[0] == 'A' ? "A1b2C3-120513.TXT" : "DISCONNECTED-120513.TXT");
    }
    // The telnet parameters: four decimal numbers 0-255 without leading zeros and a port
    // 1-65535, printed back; anything else (or no room) refused with nothing written.
    char out[128];
    // clang-format off
    const char* rows[][3] = {
        {"0.0.0.0", "1", " /C telnet 0.0.0.0 1"},
        {"255.255.255.255", "65535", " /C telnet 255.255.255.255 65535"},
        {"1.2.3.4 & calc", "23", ""}, {"192.168.01.1", "23", ""}, {"256.1.1.1", "23", ""},
        {"1.2.3", "23", ""}, {"1.2.3.4.5", "23", ""}, {"", "23", ""}, {"1.2.3.4", "0", ""},
        {"1.2.3.4", "65536", ""}, {"1.2.3.4", "2a", ""}, {"1.2.3.4", "", ""},
        {"1.2.3.4", "23 & calc", ""}, {"1.2.3.4", "-23", ""}, {" 1.2.3.4", "23", ""},
        {"1.2.3.4", "023", ""}, {"1..3.4", "23", ""}, {"1.2.3.4\r", "23", ""},
        {"0x1.2.3.4", "23", ""}, {"1.2.3.1000", "23", ""}};
    // clang-format on
    for (auto& r : rows) {
        strcpy(out, "x");
        EXPECT_EQ(telnet_parameters(r[0], r[1], out, sizeof(out)), *r[2] != 0)
            << r[0] << " / " << r[1];
        EXPECT_STREQ(out, r[2]);
    }
    EXPECT_FALSE(telnet_parameters("255.255.255.255", "65535", out, 20));
    EXPECT_STREQ(out, "");
}

// Opened inside the Save dialog, the status window's never-ending loop would keep the
// dialog's answer from arriving: the first opening waits until the command has returned.
TEST_F(Shell, MenuFirstStatusOpeningWaitsUntilTheCommandWhoseDialogIsOpenHasReturned) {
    device.socket = 5;
    save_call.click_tray = true;
    DWORD ui_thread = GetCurrentThreadId();
    std::thread quitter([ui_thread] { // ends the status window's loop once it exists
        for (int i = 0; i < 1000 && status_window_handle() == nullptr; ++i)
            Sleep(10);
        PostThreadMessageA(ui_thread, WM_QUIT, 0, 0);
    });
    EXPECT_EQ(run(IDM_LOGFILE), Texts{});
    quitter.join();
    shelltest::take_quit();
    EXPECT_EQ(save_call.status_during_save, nullptr);
    EXPECT_NE(status_window_handle(), nullptr); // opened once the command had returned
    EXPECT_EQ(request_flags.load(), static_cast<uint32_t>(REQUEST_LOG_CAPTURE));
}

// ---- the configuration and About dialogs ---------------------------------------------------

// The address as the control itself reports it: "fields a.b.c.d".
std::string address_of(HWND dialog) {
    DWORD a = 0;
    LRESULT n =
        SendDlgItemMessageA(dialog, IDC_IPADDRESS, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&a));
    return std::to_string(n) + " " + std::to_string(a >> 24) + "." + std::to_string(a >> 16 & 255) +
           "." + std::to_string(a >> 8 & 255) + "." + std::to_string(a & 255);
}

TEST_F(Shell, DialogConfigurationShowsTheStoredValuesOnlyConnectWritesAndAboutShowsTheVersion) {
    // Cancel, Escape and the close box write nothing; each look also tries to open it again.
    for (int way = 0; way < 3; ++way) {
        open(IDM_CONFIG, kConfig, [&](HWND dialog) {
            EXPECT_EQ(config_dialog, dialog);
            EXPECT_EQ(address_of(dialog), "4 192.168.1.1");
            EXPECT_EQ(text_of(dialog, IDC_PORT) + text_of(dialog, IDC_USERNAME) +
                          text_of(dialog, IDC_PASSWORD),
                      "23adminpw");
            EXPECT_TRUE(GetWindowLongA(GetDlgItem(dialog, IDC_PASSWORD), GWL_STYLE) & ES_PASSWORD);
            run_tray_command(IDM_CONFIG);
            EXPECT_EQ(shelltest::dialogs_titled(kConfig), 1);
            if (way == 0) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
            if (way == 1) PostMessageA(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
            if (way == 2) PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        });
        EXPECT_EQ(stored(), kStored);
        EXPECT_EQ(reconnect_request.load(), 0);
        EXPECT_EQ(config_dialog, nullptr);
    }
    // Connect writes the file and reconnects: a typed address is saved as the control holds
    // it, a 40-character user name cut to 31; a stored address that is no dotted quad shows
    // blank fields. (Unchanged settings are written too: see the next test.)
    snprintf(device.ip, sizeof(device.ip), "1.2.3.4 & calc");
    std::string typed = std::string(30, 'u') + "XY" + std::string(8, 'u');
    open(IDM_CONFIG, kConfig, [&](HWND dialog) {
        EXPECT_EQ(address_of(dialog), "0 0.0.0.0");
        SendDlgItemMessageA(dialog, IDC_IPADDRESS, IPM_SETADDRESS, 0, MAKEIPADDRESS(10, 0, 0, 254));
        SetDlgItemTextA(dialog, IDC_USERNAME, typed.c_str());
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(stored(), "IP=\"10.0.0.254\"\nPORT=\"23\"\nUSERNAME=\"" + typed.substr(0, 31) +
                            "\"\nPASSWORD=\"pw\"\n");
    EXPECT_STREQ(device.ip, "10.0.0.254");
    EXPECT_EQ(reconnect_request.load(), 1);
    // Settings that cannot be saved are refused, and the dialog stays open.
    reconnect_request = 0;
    settings_set_path((shelltest::private_settings_path() + ".gone\\telnet.conf").c_str());
    shelltest::Responder box("VORLIX Viewer");
    open(IDM_CONFIG, kConfig, [](HWND dialog) {
        SetDlgItemTextA(dialog, IDC_PORT, "2424");
        SendMessageA(dialog, WM_COMMAND, IDOK, 0); // returns once the box is answered
        EXPECT_TRUE(IsWindowVisible(dialog));
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(box.stop(), Texts{"Unable to save the connection settings. Please make sure "
                                "telnet.conf can be written."});
    EXPECT_EQ(reconnect_request.load(), 0);
    EXPECT_STREQ(device.port, "23");
    // About shows the version once, ignores Escape and closes with OK.
    open(IDM_ABOUT, "About", [](HWND dialog) {
        EXPECT_EQ(text_of(GetWindow(GetDlgItem(dialog, IDC_ABOUT_ICON), GW_HWNDNEXT)),
                  "VORLIX Viewer Version 2.0.0");
        run_tray_command(IDM_ABOUT);
        SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        EXPECT_EQ(shelltest::dialogs_titled("About") * IsWindowVisible(dialog), 1);
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(about_dialog, nullptr);
}

// Left alone for weeks, the settings stay the start folder's file: the folder the user saves
// a log in (browsed to in the real Save dialog) does not become the current directory, and
// whatever else moves it, "Connect" writes the file it started with.
TEST_F(Shell, DialogSettingsStayTheStartFoldersFileAfterALogIsSavedElsewhere) {
    std::string start = shelltest::private_settings_path() + ".d", logs = start + "\\logs";
    CreateDirectoryA(start.c_str(), nullptr), CreateDirectoryA(logs.c_str(), nullptr);
    ASSERT_TRUE(SetCurrentDirectoryA(start.c_str()));
    settings_set_path("telnet.conf"); // as the viewer's start does
    shelltest::Seam<GetSaveFileNameFn> real_save(get_save_file_name_fn, GetSaveFileNameA);
    device.socket = 5;
    std::thread user([&] {
        HWND save = shelltest::wait_dialog("Save Log As...");
        HWND combo = FindWindowExA(GetDlgItem(save, 1148), nullptr, "ComboBox", nullptr);
        HWND name = FindWindowExA(combo, nullptr, "Edit", nullptr);
        SetWindowTextA(name, logs.c_str());
        SendMessageA(save, WM_COMMAND, IDOK, 0); // returns once the dialog shows the folder
        SetWindowTextA(name, "u.TXT");
        PostMessageA(save, WM_COMMAND, IDOK, 0);
    });
    run_tray_command(IDM_LOGFILE);
    user.join();
    EXPECT_STREQ(log_path, (logs + "\\u.TXT").c_str());
    char now[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof(now), now);
    EXPECT_EQ(now, start);
    SetCurrentDirectoryA(logs.c_str());
    open(IDM_CONFIG, kConfig, [](HWND dialog) { PostMessageA(dialog, WM_COMMAND, IDOK, 0); });
    EXPECT_EQ(shelltest::read_file(start + "\\telnet.conf"),
              "IP=\"192.168.1.1\"\nPORT=\"23\"\nUSERNAME=\"admin\"\nPASSWORD=\"pw\"\n");
    EXPECT_EQ(GetFileAttributesA((logs + "\\telnet.conf").c_str()), INVALID_FILE_ATTRIBUTES);
    SetCurrentDirectoryA(start_dir_);
    DeleteFileA((start + "\\telnet.conf").c_str());
    RemoveDirectoryA(logs.c_str()), RemoveDirectoryA(start.c_str());
}

} // namespace
