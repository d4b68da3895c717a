// VORLIXViewer.exe as a user meets it: its own process under Wine, a "telnet.conf" in its
// current directory, the unit stand-in on loopback, and nothing but the window class, the
// tray callback message, the menu, control ids and message boxes to drive it. Only what the
// whole process shows is tested here; the viewer runs in real time (5 s queries), so the
// waits are real and each names the rule it stands for.
#include "resource.h"
#include "unitsim.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <fstream>

namespace {

// The first top-level window of the process with this class and title, a visible one
// unless hidden ones are asked for, waited for up to 10 s.
HWND wait_window(DWORD pid, const char* window_class, const char* title, bool hidden = false) {
    DWORD owner = 0;
    for (int i = 0; i < 200; ++i) {
        for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, window_class, title)) != nullptr;) {
            GetWindowThreadProcessId(w, &owner);
            if (owner == pid && (hidden || IsWindowVisible(w))) return w;
        }
        Sleep(50);
    }
    return nullptr;
}

// The text of a control (of the status window: its pages are dialogs of their own), blanks
// cut.
std::string text_of(HWND window, int id) {
    HWND page = nullptr;
    HWND control = GetDlgItem(window, id);
    while (!control && (page = FindWindowExA(window, page, "#32770", nullptr)) != nullptr)
        control = GetDlgItem(page, id);
    char text[512] = "";
    DWORD_PTR ignored;
    SendMessageTimeoutA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 3000, &ignored);
    std::string cut = text;
    return cut.erase(cut.find_last_not_of(' ') + 1);
}

// Ends the viewers a test started, whether or not they have ended.
struct Started : std::vector<PROCESS_INFORMATION> {
    ~Started() {
        for (PROCESS_INFORMATION& p : *this) {
            TerminateProcess(p.hProcess, 9);
            WaitForSingleObject(p.hProcess, 5000);
            CloseHandle(p.hProcess);
            CloseHandle(p.hThread);
        }
    }
};

// The tray click opens the status window, filled within one cycle; a second start shows its
// box and ends with -1; "Connect" with a second unit's port in the configuration dialog
// moves the viewer to that unit; Exit ends the process with 0.
TEST(Viewer, FromStartToExit) {
    unitsim::Config config;
    config.frozen = true;
    config.esn = "123456789012345";
    unitsim::Server unit(config);
    config.esn = "999999999999999";
    unitsim::Server other(config);
    const std::string other_port = std::to_string(other.start(0));
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string folder = temp + std::string("vorlix-e2e-") + std::to_string(GetCurrentProcessId());
    std::string conf = folder + "\\telnet.conf";
    CreateDirectoryA(folder.c_str(), nullptr);
    std::ofstream(conf) << "IP=\"127.0.0.1\"\nPORT=\"" << unit.start(0)
                        << "\"\nUSERNAME=\"admin\"\nPASSWORD=\"vorlix\"\n";
    Started started;
    // Starts the viewer in the folder.
    auto start = [&] {
        std::string command = "\"" VIEWER_EXE "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION p = {};
        EXPECT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                   folder.c_str(), &startup, &p));
        started.push_back(p);
        return p.dwProcessId;
    };
    DWORD pid = start();
    HWND main = wait_window(pid, "VORLIXViewerClass__", nullptr, true);
    // Waits (a query every fifth one-second turn, plus Wine) until the status window shows
    // the IMEI.
    HWND status = nullptr;
    auto shows = [&](const char* imei) {
        for (int i = 0; i < 140 && text_of(status, 1012) != imei; ++i)
            Sleep(50);
        return text_of(status, 1012) == imei;
    };
    // A right click on the tray icon, then Down `downs` times and Enter.
    auto choose = [&](int downs) {
        PostMessageA(main, TRAY_CALLBACK_MESSAGE, 2000, WM_RBUTTONUP);
        HWND menu = wait_window(pid, "#32768", nullptr);
        for (int i = 0; i < downs; ++i)
            PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
        PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    };
    // Waits for a box of the process titled "VORLIX Viewer", returns its text and answers OK.
    auto answer_box = [&](DWORD from) {
        HWND box = wait_window(from, "#32770", "VORLIX Viewer");
        std::string text = text_of(box, 0xFFFF);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        return text;
    };
    auto exit_code = [&](size_t process) {
        DWORD code = 259;
        WaitForSingleObject(started.at(process).hProcess, 3000);
        GetExitCodeProcess(started.at(process).hProcess, &code);
        return code;
    };
    PostMessageA(main, TRAY_CALLBACK_MESSAGE, 2000, WM_LBUTTONUP);
    status = wait_window(pid, "#32770", "VORLIX Connection Status");
    ASSERT_TRUE(shows("123456789012345"));
    DWORD second = start();
    EXPECT_EQ(answer_box(second), "Another instance of this application is already running.");
    EXPECT_EQ(exit_code(1), 0xFFFFFFFFu);
    // "Connection Configuration"
    choose(5);
    HWND dialog = wait_window(pid, "#32770", "Configuration Settings");
    SendDlgItemMessageA(dialog, 1001, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(other_port.c_str()));
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(shows("999999999999999"));
    // "Exit"
    choose(1);
    EXPECT_EQ(answer_box(pid), "Are you sure you want to terminate this program?");
    // How soon it ends is tested in-process, by order of events.
    EXPECT_EQ(exit_code(0), 0u);
    DeleteFileA(conf.c_str());
    RemoveDirectoryA(folder.c_str());
}

} // namespace
