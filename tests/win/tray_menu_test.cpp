// The tray menu and its commands, answered through real message boxes; only the Save
// dialog and the program launch are replaced.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "link/link_flags.h"
#include "res/resource.h"
#include "shell/main_window.h"
#include "shell/shell_seams.h"
#include "shell/tray_icon.h"
#include "shell/tray_menu.h"
#include "shell_test_support.h"
#include "status/device_record.h"

namespace {

const char kTitle[] = "VORLIX Viewer";
const char kNoLog[] =
    "Unable to get log data. Please make sure the ethernet cable is properly connected.";
const char kNoTelnet[] =
    "Unable to open telnet session. Please make sure telnet client is installed.";

// What the Save dialog was asked, and how the fake answers.
struct SaveCall {
    int calls = 0;
    OPENFILENAMEA seen;
    std::string offered;
    std::string filter; // up to the double NUL
    std::string title, def_ext;
    BOOL answer = TRUE;
    const char* chosen = "C:\\logs\\unit.TXT";
    bool drop_link = false;
    bool reenter = false;
} save_call;

BOOL WINAPI fake_save(LPOPENFILENAMEA record) {
    ++save_call.calls;
    save_call.seen = *record;
    save_call.offered = record->lpstrFile;
    const char* f = record->lpstrFilter;
    size_t n = 0;
    while (f && !(f[n] == '\0' && f[n + 1] == '\0'))
        ++n;
    save_call.filter.assign(f ? f : "", f ? n + 2 : 0);
    save_call.title = record->lpstrTitle ? record->lpstrTitle : "";
    save_call.def_ext = record->lpstrDefExt ? record->lpstrDefExt : "";
    if (save_call.reenter) run_tray_command(IDM_LOGFILE); // chosen again from the tray
    if (save_call.drop_link) device.socket = NO_SOCKET;
    if (save_call.answer) snprintf(record->lpstrFile, record->nMaxFile, "%s", save_call.chosen);
    return save_call.answer;
}

struct ShellCall {
    int calls = 0;
    HWND owner = reinterpret_cast<HWND>(1);
    std::string verb, file, parameters;
    const char* directory = "unset";
    int show = -1;
    INT_PTR result = 42;
} shell_call;

HINSTANCE WINAPI fake_shell(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                            LPCSTR directory, INT show) {
    ++shell_call.calls;
    shell_call.owner = owner;
    shell_call.verb = verb ? verb : "";
    shell_call.file = file ? file : "";
    shell_call.parameters = parameters ? parameters : "";
    shell_call.directory = directory;
    shell_call.show = show;
    return reinterpret_cast<HINSTANCE>(shell_call.result);
}

bool telnet_installed = true;
DWORD WINAPI fake_search(LPCSTR, LPCSTR name, LPCSTR, DWORD size, LPSTR out, LPSTR*) {
    if (!telnet_installed || strcmp(name, "telnet.exe") != 0) return 0;
    snprintf(out, size, "C:\\windows\\system32\\telnet.exe");
    return static_cast<DWORD>(strlen(out));
}

class ShellTrayMenu : public ::testing::Test {
  protected:
    void SetUp() override {
        shelltest::init_shell_classes();
        owner_ = CreateWindowExA(0, "STATIC", "menu owner", 0, 0, 0, 0, 0, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(owner_, nullptr);
        main_window = owner_;
        device_record_init();
        request_flags = 0;
        log_dialog_busy = 0;
        save_call = SaveCall();
        shell_call = ShellCall();
        telnet_installed = true;
        saved_save_ = get_save_file_name_fn;
        saved_shell_ = shell_execute_fn;
        saved_search_ = search_path_fn;
        get_save_file_name_fn = fake_save;
        shell_execute_fn = fake_shell;
        search_path_fn = fake_search;

        tray_data_reset(tray_data, "");
        tray_data.hWnd = owner_;
        tray_data.uID = 2102;
        tray_data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        tray_data.uCallbackMessage = 5;
        last_tray_icon = 0;
        update_tray(true, false);
    }
    void TearDown() override {
        get_save_file_name_fn = saved_save_;
        shell_execute_fn = saved_shell_;
        search_path_fn = saved_search_;
        Shell_NotifyIconA(NIM_DELETE, &tray_data);
        main_window = nullptr;
        DestroyWindow(owner_);
        device_record_init();
        request_flags = 0;
    }

    // Runs a command while a responder answers its boxes; returns their texts.
    std::vector<std::string> run(int id, std::vector<int> buttons = {}) {
        shelltest::Responder responder(kTitle, buttons);
        run_tray_command(id);
        Sleep(30); // a box that would come late is still seen
        responder.stop();
        return responder.texts();
    }
    static std::string today_mmddyy() {
        time_t now = time(nullptr);
        char text[16];
        strftime(text, sizeof(text), "%m%d%y", localtime(&now));
        return text;
    }

    HWND owner_ = nullptr;
    GetSaveFileNameFn saved_save_;
    ShellExecuteFn saved_shell_;
    SearchPathFn saved_search_;
};

typedef std::vector<std::string> Texts;

TEST_F(ShellTrayMenu, ExitWithCancelDoesNothing) {
    EXPECT_EQ(run(IDM_EXIT, {IDCANCEL}), Texts{"Are you sure you want to terminate this program?"});
    EXPECT_TRUE(IsWindow(owner_));
    EXPECT_FALSE(shelltest::take_quit());
}

TEST_F(ShellTrayMenu, PowercycleIsRefusedWithoutAConnection) {
    EXPECT_EQ(run(IDM_POWERCYCLE, {IDOK, IDOK}),
              (Texts{"Are you sure you want to powercycle your VORLIX?",
                     "Unable to perform powercycle. Please make sure the ethernet cable is "
                     "properly connected."}));
    EXPECT_EQ(request_flags.load(), 0u);
}

TEST_F(ShellTrayMenu, PowercycleRaisesItsBitWithAConnectionAndNothingOnCancel) {
    device.socket = 5;
    EXPECT_EQ(run(IDM_POWERCYCLE, {IDCANCEL}),
              Texts{"Are you sure you want to powercycle your VORLIX?"});
    EXPECT_EQ(request_flags.load(), 0u);

    EXPECT_EQ(run(IDM_POWERCYCLE, {IDOK}),
              Texts{"Are you sure you want to powercycle your VORLIX?"});
    EXPECT_EQ(request_flags.load(), static_cast<uint32_t>(REQUEST_POWER_CYCLE));
}

TEST_F(ShellTrayMenu, LogFileIsRefusedBeforeTheSaveDialogWhenTheLinkIsDown) {
    EXPECT_EQ(run(IDM_LOGFILE), Texts{kNoLog});
    EXPECT_EQ(save_call.calls, 0);
    EXPECT_EQ(request_flags.load(), 0u);
}

TEST_F(ShellTrayMenu, LogFileOffersTheImeiNameAndRequestsTheCapture) {
    device.socket = 5;
    snprintf(device.imei, 32, "123456789012345");
    pad_field(device.imei, 31);

    EXPECT_EQ(run(IDM_LOGFILE), Texts{});
    ASSERT_EQ(save_call.calls, 1);
    EXPECT_EQ(save_call.offered, "123456789012345-" + today_mmddyy() + ".TXT");
    const OPENFILENAMEA& seen = save_call.seen;
    EXPECT_EQ(seen.lStructSize, sizeof(OPENFILENAMEA));
    EXPECT_EQ(seen.hwndOwner, nullptr);
    EXPECT_EQ(seen.lpstrFile, log_path);
    EXPECT_EQ(seen.nMaxFile, 255u);
    EXPECT_EQ(save_call.filter,
              std::string("Text Files (*.TXT)\0*.TXT\0All Files (*.*)\0*.*\0\0", 46));
    EXPECT_EQ(seen.nFilterIndex, 1u);
    EXPECT_EQ(seen.lpstrFileTitle, nullptr);
    EXPECT_EQ(seen.nMaxFileTitle, 0u);
    EXPECT_EQ(seen.lpstrInitialDir, nullptr);
    EXPECT_EQ(save_call.title, "Save Log As...");
    EXPECT_EQ(save_call.def_ext, "TXT");
    EXPECT_EQ(seen.Flags, 0x802u);

    EXPECT_STREQ(log_path, "C:\\logs\\unit.TXT");
    EXPECT_EQ(request_flags.load(), static_cast<uint32_t>(REQUEST_LOG_CAPTURE));
    EXPECT_EQ(std::string(tray_data.szTip).rfind("Logging...\nIMEI: 123456789012345\n", 0), 0u)
        << tray_data.szTip;
    EXPECT_EQ(log_dialog_busy, 0);
}

TEST_F(ShellTrayMenu, LogFileWithBlankImeiOffersDisconnected) {
    device.socket = 5;
    save_call.answer = FALSE; // the user cancels
    EXPECT_EQ(run(IDM_LOGFILE), Texts{});
    EXPECT_EQ(save_call.offered, "DISCONNECTED-" + today_mmddyy() + ".TXT");
    EXPECT_EQ(request_flags.load(), 0u);
    EXPECT_EQ(log_dialog_busy, 0);
    EXPECT_EQ(std::string(tray_data.szTip).find("Logging"), std::string::npos);
}

TEST_F(ShellTrayMenu, LogFileIsRefusedAfterTheSaveDialogWhenTheLinkWentMeanwhile) {
    device.socket = 5;
    save_call.drop_link = true;
    EXPECT_EQ(run(IDM_LOGFILE), Texts{kNoLog});
    EXPECT_EQ(save_call.calls, 1);
    EXPECT_EQ(request_flags.load(), 0u);
    EXPECT_EQ(std::string(tray_data.szTip).find("Logging"), std::string::npos);
    EXPECT_EQ(log_dialog_busy, 0);
}

TEST_F(ShellTrayMenu, SecondLogFileWhileItsDialogIsOpenDoesNothing) {
    device.socket = 5;
    save_call.reenter = true;
    EXPECT_EQ(run(IDM_LOGFILE), Texts{});
    EXPECT_EQ(save_call.calls, 1);
    EXPECT_EQ(request_flags.load(), static_cast<uint32_t>(REQUEST_LOG_CAPTURE));
}

TEST(ShellLogName, DefaultNamesFromImeiAndDate) {
    struct tm day;
    memset(&day, 0, sizeof(day));
    day.tm_year = 113; // 5 December 2013
    day.tm_mon = 11;
    day.tm_mday = 5;
    char name[256];
    default_log_name("123456789012345                ", day, name, sizeof(name));
    EXPECT_STREQ(name, "123456789012345-120513.TXT");
    default_log_name("                               ", day, name, sizeof(name));
    EXPECT_STREQ(name, "DISCONNECTED-120513.TXT");
    default_log_name("", day, name, sizeof(name));
    EXPECT_STREQ(name, "DISCONNECTED-120513.TXT");

    day.tm_year = 100; // 1 January 2000
    day.tm_mon = 0;
    day.tm_mday = 1;
    default_log_name("123456789012345 ", day, name, sizeof(name));
    EXPECT_STREQ(name, "123456789012345-010100.TXT");
}

TEST_F(ShellTrayMenu, TelnetRunsCmdWithTheParametersPrintedBack) {
    snprintf(device.ip, 32, "192.168.1.1");
    snprintf(device.port, 32, "23");
    EXPECT_EQ(run(IDM_TELNET), Texts{});
    ASSERT_EQ(shell_call.calls, 1);
    EXPECT_EQ(shell_call.parameters, " /C telnet 192.168.1.1 23");
    EXPECT_EQ(shell_call.owner, nullptr);
    EXPECT_EQ(shell_call.verb, "open");
    EXPECT_EQ(shell_call.file, "cmd");
    EXPECT_EQ(shell_call.directory, nullptr);
    EXPECT_EQ(shell_call.show, SW_SHOWNORMAL);
}

TEST_F(ShellTrayMenu, TelnetRefusesUnsafeOrMalformedSettings) {
    const char* cases[][2] = {
        {"1.2.3.4 & calc", "23"}, {"192.168.01.1", "23"},   {"256.1.1.1", "23"},
        {"1.2.3", "23"},          {"1.2.3.4.5", "23"},      {"", "23"},
        {"1.2.3.4", "0"},         {"1.2.3.4", "65536"},     {"1.2.3.4", "2a"},
        {"1.2.3.4", ""},          {"1.2.3.4", "23 & calc"}, {"1.2.3.4", "-23"},
        {" 1.2.3.4", "23"},       {"1.2.3.4", "023"},       {"1..3.4", "23"},
        {"1.2.3.4\r", "23"},      {"0x1.2.3.4", "23"},      {"1.2.3.1000", "23"},
    };
    for (auto& c : cases) {
        snprintf(device.ip, 32, "%s", c[0]);
        snprintf(device.port, 32, "%s", c[1]);
        Texts texts = run(IDM_TELNET);
        ASSERT_EQ(texts.size(), 1u) << c[0] << " / " << c[1];
        EXPECT_NE(texts[0].find("not valid"), std::string::npos) << texts[0];
    }
    EXPECT_EQ(shell_call.calls, 0);
}

TEST(ShellTelnetParameters, EdgesOfTheAcceptedRange) {
    char out[128];
    EXPECT_TRUE(telnet_parameters("0.0.0.0", "1", out, sizeof(out)));
    EXPECT_STREQ(out, " /C telnet 0.0.0.0 1");
    EXPECT_TRUE(telnet_parameters("255.255.255.255", "65535", out, sizeof(out)));
    EXPECT_STREQ(out, " /C telnet 255.255.255.255 65535");
    EXPECT_FALSE(telnet_parameters("255.255.255.255", "65535", out, 20)); // no room: nothing
    EXPECT_STREQ(out, "");
}

TEST_F(ShellTrayMenu, TelnetWithoutAClientSaysSoAndLaunchesNothing) {
    snprintf(device.ip, 32, "192.168.1.1");
    snprintf(device.port, 32, "23");
    telnet_installed = false;
    EXPECT_EQ(run(IDM_TELNET), Texts{kNoTelnet});
    EXPECT_EQ(shell_call.calls, 0);

    telnet_installed = true;
    shell_call.result = 2; // the launch fails
    EXPECT_EQ(run(IDM_TELNET), Texts{kNoTelnet});
    EXPECT_EQ(shell_call.calls, 1);
}

// The popup menu: its entries, read from the menu window while it is open, then dismissed.
std::vector<std::string> menu_entries;

TEST_F(ShellTrayMenu, RightClickMenuHasTheNineEntriesAndDismissingItDoesNothing) {
    menu_entries.clear();
    std::thread reader([] {
        for (int i = 0; i < 600; ++i) {
            HWND popup = FindWindowA("#32768", nullptr);
            if (popup && IsWindowVisible(popup)) {
                HMENU menu = reinterpret_cast<HMENU>(SendMessageA(popup, MN_GETHMENU, 0, 0));
                int count = GetMenuItemCount(menu);
                for (int k = 0; k < count; ++k) {
                    char text[64] = "";
                    MENUITEMINFOA item = {};
                    item.cbSize = sizeof(item);
                    item.fMask = MIIM_FTYPE | MIIM_ID;
                    GetMenuItemInfoA(menu, k, TRUE, &item);
                    GetMenuStringA(menu, k, text, sizeof(text), MF_BYPOSITION);
                    menu_entries.push_back((item.fType & MFT_SEPARATOR)
                                               ? std::string("-")
                                               : std::to_string(item.wID) + " " + text);
                }
                return;
            }
            Sleep(5);
        }
    });
    std::thread dismiss([] {
        for (int i = 0; i < 600; ++i) {
            HWND popup = FindWindowA("#32768", nullptr);
            if (popup && IsWindowVisible(popup)) {
                Sleep(50);
                PostMessageA(popup, WM_KEYDOWN, VK_ESCAPE, 0);
                return;
            }
            Sleep(5);
        }
    });
    shelltest::Responder responder(kTitle);
    show_tray_menu();
    reader.join();
    dismiss.join();
    responder.stop();
    EXPECT_EQ(menu_entries, (std::vector<std::string>{
                                "3000 Exit", "5000 About", "8000 Powercycle...", "-",
                                "7000 Start Telnet Session", "6000 Connection Configuration",
                                "4000 VORLIX Connection Status", "-", "9000 Log File"}));
    EXPECT_TRUE(responder.texts().empty());
    EXPECT_EQ(request_flags.load(), 0u);
    EXPECT_EQ(shell_call.calls, 0);
}

} // namespace
