// VORLIXViewer.exe as a user meets it: its own process under Wine, a "telnet.conf" in its
// current directory, the unit stand-in on loopback, and nothing but the window class, the
// tray callback message, the menu, control ids and message boxes to drive it. Only what the
// whole process shows is tested here; the viewer runs in real time (5 s queries), so the
// waits are real and each names the rule it stands for.
#include "unitsim.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>

namespace {

const int kOneCycleMs = 7000; // a query every fifth one-second turn, plus Wine

bool wait_until(const std::function<bool()>& done, int timeout_ms) {
    for (int waited = 0; !done(); waited += 50) {
        if (waited > timeout_ms) return false;
        Sleep(50);
    }
    return true;
}

// The first visible top-level window of the process with this class and title.
HWND window_of(DWORD pid, const char* window_class, const char* title) {
    DWORD owner = 0;
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, window_class, title)) != nullptr;) {
        GetWindowThreadProcessId(w, &owner);
        if (owner == pid && IsWindowVisible(w)) return w;
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

class Viewer : public ::testing::Test {
  protected:
    void SetUp() override {
        unitsim::Config config;
        config.frozen = true;
        unit = std::make_unique<unitsim::Server>(config);
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        folder = temp + std::string("vorlix-e2e-") + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(folder.c_str(), nullptr);
        std::ofstream(folder + "\\telnet.conf") << "IP=\"127.0.0.1\"\nPORT=\"" << unit->start(0)
                                                << "\"\nUSERNAME=\"admin\"\nPASSWORD=\"vorlix\"\n";
    }
    void TearDown() override {
        for (PROCESS_INFORMATION& p : started) {
            TerminateProcess(p.hProcess, 9); // nothing when it has ended
            WaitForSingleObject(p.hProcess, 5000);
            CloseHandle(p.hProcess);
            CloseHandle(p.hThread);
        }
        DeleteFileA((folder + "\\telnet.conf").c_str());
        RemoveDirectoryA(folder.c_str());
    }
    // Starts the viewer in the folder.
    DWORD start() {
        std::string command = "\"" VIEWER_EXE "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION p = {};
        EXPECT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                   folder.c_str(), &startup, &p));
        started.push_back(p);
        return p.dwProcessId;
    }
    // Starts the viewer and opens its status window with a left click on the tray icon (its
    // hidden main window found by its class).
    void start_with_status() {
        pid = start();
        ASSERT_TRUE(
            wait_until([&] { return main = FindWindowA("VORLIXViewerClass__", nullptr); }, 10000));
        PostMessageA(main, TRAY_CALLBACK, 2000, WM_LBUTTONUP);
        ASSERT_TRUE(wait_until(
            [&] { return status = window_of(pid, "#32770", "VORLIX Connection Status"); }, 5000));
    }
    bool shows(const char* imei) {
        return wait_until([&] { return text_of(status, 1012) == imei; }, kOneCycleMs);
    }
    // A right click on the tray icon, then Down `downs` times and Enter.
    void choose(int downs) {
        PostMessageA(main, TRAY_CALLBACK, 2000, WM_RBUTTONUP);
        HWND menu = nullptr;
        ASSERT_TRUE(wait_until([&] { return menu = window_of(pid, "#32768", nullptr); }, 5000));
        for (int i = 0; i < downs; ++i)
            PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
        PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    }
    // Waits for a box of the process titled "VORLIX Viewer", returns its text and answers OK.
    std::string answer_box(DWORD from) {
        HWND box = nullptr;
        if (!wait_until([&] { return box = window_of(from, "#32770", "VORLIX Viewer"); }, 10000))
            return "no box";
        std::string text = text_of(box, 0xFFFF);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        return text;
    }
    DWORD exit_code(size_t process, DWORD timeout_ms) {
        DWORD code = 259;
        WaitForSingleObject(started.at(process).hProcess, timeout_ms);
        GetExitCodeProcess(started.at(process).hProcess, &code);
        return code;
    }

    static const UINT TRAY_CALLBACK = 5;
    std::unique_ptr<unitsim::Server> unit;
    std::string folder;
    std::vector<PROCESS_INFORMATION> started;
    DWORD pid = 0;
    HWND main = nullptr;
    HWND status = nullptr;
};

// The tray click opens the status window, filled within one cycle; "Connect" with a second
// unit's port in the configuration dialog moves the viewer to that unit; Exit ends the
// process with 0.
TEST_F(Viewer, StatusWindowFollowsTheUnitNewSettingsMoveItAndExitEndsWithZero) {
    unitsim::Config other_config;
    other_config.frozen = true;
    other_config.esn = "999999999999999";
    unitsim::Server other(other_config);
    const std::string other_port = std::to_string(other.start(0));
    start_with_status();
    ASSERT_TRUE(shows("123456789012345"));
    choose(5); // "Connection Configuration"
    HWND config = nullptr;
    ASSERT_TRUE(wait_until(
        [&] { return config = window_of(pid, "#32770", "Configuration Settings"); }, 5000));
    SendDlgItemMessageA(config, 1001, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(other_port.c_str()));
    PostMessageA(config, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(shows("999999999999999"));
    EXPECT_EQ(other.stats().logins, 1);
    choose(1); // "Exit"
    EXPECT_EQ(answer_box(pid), "Are you sure you want to terminate this program?");
    DWORD answered = GetTickCount();
    EXPECT_EQ(exit_code(0, 3000), 0u); // its bound is tested in-process, by order of events
    printf("[ figures  ] process ended %lu ms after OK on Exit\n", GetTickCount() - answered);
}

TEST_F(Viewer, SecondStartShowsTheBoxAndEndsWithMinusOne) {
    start_with_status();
    DWORD second = start();
    EXPECT_EQ(answer_box(second), "Another instance of this application is already running.");
    EXPECT_EQ(exit_code(1, 3000), 0xFFFFFFFFu);
    EXPECT_EQ(exit_code(0, 0), 259u); // the first one still runs
}

} // namespace
