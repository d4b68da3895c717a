// The tray menu's commands, answered through real message boxes; only the Save dialog, the
// search for the telnet client and the program launch are replaced.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "link/link_flags.h"
#include "res/resource.h"
#include "shell/tray_icon.h"
#include "shell/tray_menu.h"
#include "shell_test_support.h"
#include "status/device_record.h"
#include "statuswin/status_window.h"

namespace {

typedef std::vector<std::string> Texts;
const char kNoLog[] =
    "Unable to get log data. Please make sure the ethernet cable is properly connected.";
const char kNoTelnet[] =
    "Unable to open telnet session. Please make sure telnet client is installed.";

// What the Save dialog was asked, and how the fake answers.
struct SaveCall {
    int calls = 0;
    OPENFILENAMEA seen;
    std::string offered, filter, title, def_ext;
    BOOL answer = TRUE;
    bool drop_link = false;
    bool reenter = false;
    bool click_tray = false;           // a left click on the tray while the dialog is open
    HWND status_during_save = nullptr; // the status window as the dialog saw it
} save_call;

BOOL WINAPI fake_save(LPOPENFILENAMEA record) {
    ++save_call.calls;
    save_call.seen = *record;
    save_call.offered = record->lpstrFile;
    const char* f = record->lpstrFilter;
    size_t n = 0;
    while (f && !(f[n] == '\0' && f[n + 1] == '\0'))
        ++n;
    save_call.filter.assign(f ? f : "", f ? n + 2 : 0); // up to the double NUL
    save_call.title = record->lpstrTitle ? record->lpstrTitle : "";
    save_call.def_ext = record->lpstrDefExt ? record->lpstrDefExt : "";
    if (save_call.reenter) run_tray_command(IDM_LOGFILE); // chosen again from the tray
    if (save_call.click_tray) {
        request_status_window(); // what the tray's left click does
        save_call.status_during_save = status_window_handle();
    }
    if (save_call.drop_link) device.socket = NO_SOCKET;
    if (save_call.answer) snprintf(record->lpstrFile, record->nMaxFile, "C:\\logs\\unit.TXT");
    return save_call.answer;
}

bool telnet_installed = true;
DWORD WINAPI fake_search(LPCSTR, LPCSTR name, LPCSTR, DWORD size, LPSTR out, LPSTR*) {
    if (!telnet_installed || strcmp(name, "telnet.exe") != 0) return 0;
    snprintf(out, size, "C:\\windows\\system32\\telnet.exe");
    return static_cast<DWORD>(strlen(out));
}

class ShellTrayMenu : public shelltest::ShellTest {
  protected:
    void SetUp() override {
        ShellTest::SetUp();
        log_dialog_busy = 0;
        save_call = SaveCall();
        shelltest::launches.clear();
        shelltest::launch_result = 42;
        telnet_installed = true;
        update_tray(true, false);
    }

    // Runs a command while a responder answers its boxes; returns their texts.
    Texts run(int id, std::vector<int> buttons = {}) {
        shelltest::Responder responder("VORLIX Viewer", buttons);
        run_tray_command(id);
        Sleep(30); // a box that would come late is still seen
        return responder.stop();
    }
    bool logging() const { return strstr(tray_data.szTip, "Logging") != nullptr; }

    shelltest::Seam<GetSaveFileNameFn> save_seam_{get_save_file_name_fn, fake_save};
    shelltest::Seam<ShellExecuteFn> launch_seam_{shell_execute_fn, shelltest::record_launch};
    shelltest::Seam<SearchPathFn> search_seam_{search_path_fn, fake_search};
};

TEST_F(ShellTrayMenu, PowercycleIsRefusedWithoutAConnectionAndRaisesItsBitWithOne) {
    const char question[] = "Are you sure you want to powercycle your VORLIX?";
    EXPECT_EQ(run(IDM_POWERCYCLE, {IDOK, IDOK}),
              (Texts{question, "Unable to perform powercycle. Please make sure the ethernet "
                               "cable is properly connected."}));
    EXPECT_EQ(request_flags.load(), 0u);

    device.socket = 5;
    EXPECT_EQ(run(IDM_POWERCYCLE, {IDCANCEL}), Texts{question});
    EXPECT_EQ(request_flags.load(), 0u);
    EXPECT_EQ(run(IDM_POWERCYCLE, {IDOK}), Texts{question});
    EXPECT_EQ(request_flags.load(), static_cast<uint32_t>(REQUEST_POWER_CYCLE));
}

TEST_F(ShellTrayMenu, LogFileOffersItsNameAndIsRefusedBeforeAndAfterTheSaveDialogWithoutLink) {
    // Link down: refused before the Save dialog.
    EXPECT_EQ(run(IDM_LOGFILE), Texts{kNoLog});
    EXPECT_EQ(save_call.calls, 0);

    // Link up: the IMEI name of today, the dialog's settings, then the capture.
    time_t now = time(nullptr);
    char today[16];
    strftime(today, sizeof(today), "%m%d%y", localtime(&now));
    device.socket = 5;
    snprintf(device.imei, 32, "123456789012345");
    pad_field(device.imei, 31);
    EXPECT_EQ(run(IDM_LOGFILE), Texts{});
    ASSERT_EQ(save_call.calls, 1);
    EXPECT_EQ(save_call.offered, "123456789012345-" + std::string(today) + ".TXT");
    const OPENFILENAMEA& seen = save_call.seen;
    EXPECT_EQ(seen.lStructSize, sizeof(OPENFILENAMEA));
    EXPECT_EQ(seen.hwndOwner, nullptr);
    EXPECT_EQ(seen.lpstrFile, log_path);
    EXPECT_EQ(seen.nMaxFile, 255u);
    EXPECT_EQ(save_call.filter,
              std::string("Text Files (*.TXT)\0*.TXT\0All Files (*.*)\0*.*\0\0", 46));
    EXPECT_EQ(seen.nFilterIndex, 1u);
    EXPECT_EQ(seen.lpstrFileTitle, nullptr);
    EXPECT_EQ(seen.lpstrInitialDir, nullptr);
    EXPECT_EQ(save_call.title, "Save Log As...");
    EXPECT_EQ(save_call.def_ext, "TXT");
    EXPECT_EQ(seen.Flags, 0x802u);
    EXPECT_STREQ(log_path, "C:\\logs\\unit.TXT");
    EXPECT_EQ(request_flags.load(), static_cast<uint32_t>(REQUEST_LOG_CAPTURE));
    EXPECT_EQ(std::string(tray_data.szTip).rfind("Logging...\nIMEI: 123456789012345\n", 0), 0u);
    EXPECT_EQ(log_dialog_busy, 0);

    // A blank IMEI offers DISCONNECTED; the user cancels: no capture.
    request_flags = 0;
    update_tray(false, false);
    device_record_init();
    device.socket = 5;
    save_call = SaveCall();
    save_call.answer = FALSE;
    EXPECT_EQ(run(IDM_LOGFILE), Texts{});
    EXPECT_EQ(save_call.offered, "DISCONNECTED-" + std::string(today) + ".TXT");
    EXPECT_EQ(request_flags.load(), 0u);
    EXPECT_FALSE(logging());
    EXPECT_EQ(log_dialog_busy, 0);

    // The link goes while the dialog is open: refused after it.
    save_call = SaveCall();
    save_call.drop_link = true;
    EXPECT_EQ(run(IDM_LOGFILE), Texts{kNoLog});
    EXPECT_EQ(save_call.calls, 1);
    EXPECT_EQ(request_flags.load(), 0u);
    EXPECT_FALSE(logging());
    EXPECT_EQ(log_dialog_busy, 0);

    // A second Log File while its dialog is open does nothing.
    device.socket = 5;
    save_call = SaveCall();
    save_call.reenter = true;
    EXPECT_EQ(run(IDM_LOGFILE), Texts{});
    EXPECT_EQ(save_call.calls, 1);
    EXPECT_EQ(request_flags.load(), static_cast<uint32_t>(REQUEST_LOG_CAPTURE));
}

TEST(ShellLogName, DefaultNamesFromImeiAndDate) {
    struct tm day = {};
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

TEST_F(ShellTrayMenu, TelnetRunsCmdWithTheParametersPrintedBackAndRefusesUnsafeOnes) {
    snprintf(device.ip, 32, "192.168.1.1");
    snprintf(device.port, 32, "23");
    EXPECT_EQ(run(IDM_TELNET), Texts{});
    const Texts launched = {"null|open|cmd| /C telnet 192.168.1.1 23|null|1"};
    EXPECT_EQ(shelltest::launches, launched);

    // No client on the search path, or a launch that fails: the message, nothing else.
    telnet_installed = false;
    EXPECT_EQ(run(IDM_TELNET), Texts{kNoTelnet});
    EXPECT_EQ(shelltest::launches, launched);
    telnet_installed = true;
    shelltest::launch_result = 2;
    EXPECT_EQ(run(IDM_TELNET), Texts{kNoTelnet});
    EXPECT_EQ(shelltest::launches.size(), 2u);

    char out[128];
    EXPECT_TRUE(telnet_parameters("0.0.0.0", "1", out, sizeof(out)));
    EXPECT_STREQ(out, " /C telnet 0.0.0.0 1");
    EXPECT_TRUE(telnet_parameters("255.255.255.255", "65535", out, sizeof(out)));
    EXPECT_STREQ(out, " /C telnet 255.255.255.255 65535");
    EXPECT_FALSE(telnet_parameters("255.255.255.255", "65535", out, 20)); // no room: nothing
    EXPECT_STREQ(out, "");
    const char* unsafe[][2] = {
        {"1.2.3.4 & calc", "23"}, {"192.168.01.1", "23"},   {"256.1.1.1", "23"},
        {"1.2.3", "23"},          {"1.2.3.4.5", "23"},      {"", "23"},
        {"1.2.3.4", "0"},         {"1.2.3.4", "65536"},     {"1.2.3.4", "2a"},
        {"1.2.3.4", ""},          {"1.2.3.4", "23 & calc"}, {"1.2.3.4", "-23"},
        {" 1.2.3.4", "23"},       {"1.2.3.4", "023"},       {"1..3.4", "23"},
        {"1.2.3.4\r", "23"},      {"0x1.2.3.4", "23"},      {"1.2.3.1000", "23"},
    };
    for (auto& c : unsafe) {
        strcpy(out, "x");
        EXPECT_FALSE(telnet_parameters(c[0], c[1], out, sizeof(out))) << c[0] << " / " << c[1];
        EXPECT_STREQ(out, "");
    }
    // The command refuses them with a message and launches nothing.
    for (int i : {0, 10}) {
        snprintf(device.ip, 32, "%s", unsafe[i][0]);
        snprintf(device.port, 32, "%s", unsafe[i][1]);
        Texts texts = run(IDM_TELNET);
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_NE(texts[0].find("not valid"), std::string::npos) << texts[0];
    }
    EXPECT_EQ(shelltest::launches.size(), 2u);
}

} // namespace

TEST_F(ShellTrayMenu, FirstStatusOpeningWaitsUntilTheCommandWhoseDialogIsOpenHasReturned) {
    // Opened inside the Save dialog, the status window's never-ending loop would keep the
    // dialog's answer from arriving: no capture, and Log File refused for good.
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
    MSG quit;
    PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);

    EXPECT_EQ(save_call.status_during_save, nullptr);
    EXPECT_NE(status_window_handle(), nullptr); // opened once the command had returned
    EXPECT_EQ(request_flags.load(), static_cast<uint32_t>(REQUEST_LOG_CAPTURE));
    EXPECT_EQ(log_dialog_busy, 0);
}
