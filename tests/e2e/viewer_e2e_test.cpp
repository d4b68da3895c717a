// VORLIXViewer.exe as a user meets it: its own process under Wine, a "telnet.conf" in its
// current directory, the unit stand-in on loopback, and nothing but the window class, the
// tray callback message, the menu, control ids and message boxes to drive it. Only what the
// whole process shows is tested here; the viewer runs in real time (5 s queries, 15 s
// retry pauses), so the waits are real and each names the rule it stands for.
#include "unitsim.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>

namespace {

const int kOneCycleMs = 7000;    // a query every fifth one-second turn, plus Wine
const int kRetryPauseMs = 15000; // a failed attempt is followed by a 15 s pause

bool wait_until(const std::function<bool()>& done, int timeout_ms) {
    for (int waited = 0; !done(); waited += 50, Sleep(50))
        if (waited > timeout_ms) return false;
    return true;
}

// The first top-level window of the process with this class and title, a visible one
// unless hidden ones are asked for.
HWND window_of(DWORD pid, const char* window_class, const char* title, bool hidden = false) {
    DWORD owner = 0;
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, window_class, title)) != nullptr;)
        if (GetWindowThreadProcessId(w, &owner), owner == pid && (hidden || IsWindowVisible(w)))
            return w;
    return nullptr;
}

// The text of a control (of the status window: its pages are dialogs of their own), blanks
// cut.
std::string text_of(HWND window, int id) {
    HWND page = nullptr, control = GetDlgItem(window, id);
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
        port = unit->start(0);
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        folder = temp + std::string("vorlix-e2e-") + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(folder.c_str(), nullptr);
        std::ofstream(folder + "\\telnet.conf") << "IP=\"127.0.0.1\"\nPORT=\"" << port
                                                << "\"\nUSERNAME=\"admin\"\nPASSWORD=\"vorlix\"\n";
    }
    void TearDown() override {
        for (PROCESS_INFORMATION& p : started) {
            if (WaitForSingleObject(p.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(p.hProcess, 9);
            WaitForSingleObject(p.hProcess, 5000);
            CloseHandle(p.hProcess), CloseHandle(p.hThread);
        }
        DeleteFileA((folder + "\\telnet.conf").c_str());
        RemoveDirectoryA(folder.c_str());
    }
    // Starts the viewer in the folder; its hidden main window is found by its class.
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
    // Starts the viewer and opens its status window with a left click on the tray icon.
    void start_with_status() {
        pid = start();
        ASSERT_TRUE(wait_until(
            [&] { return main = window_of(pid, "VORLIXViewerClass__", nullptr, true); }, 10000));
        PostMessageA(main, TRAY_CALLBACK, 2000, WM_LBUTTONUP);
        ASSERT_TRUE(wait_until(
            [&] { return status = window_of(pid, "#32770", "VORLIX Connection Status"); }, 5000));
    }
    bool shows(const char* imei, int timeout_ms) {
        return wait_until([&] { return text_of(status, 1012) == imei; }, timeout_ms);
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
    int port = 0;
    std::string folder;
    std::vector<PROCESS_INFORMATION> started;
    DWORD pid = 0;
    HWND main = nullptr, status = nullptr;
};

// The tray click opens the status window, filled within one cycle; the unit lost blanks it
// and its return refills it by itself, after the pause; Exit ends the process with 0.
TEST_F(Viewer, TrayClickOpensTheStatusWindowThatFollowsTheUnitAndExitEndsWithZero) {
    start_with_status();
    ASSERT_TRUE(shows("123456789012345", kOneCycleMs));
    EXPECT_EQ(text_of(status, 1039), "192.168.10.1"); // the Wi-Fi page's last value
    unit->stop();
    EXPECT_TRUE(shows("", kOneCycleMs));
    ASSERT_EQ(unit->start(port), port);
    EXPECT_TRUE(shows("123456789012345", kRetryPauseMs + kOneCycleMs));
    EXPECT_EQ(unit->stats().logins, 2);
    // Exit: a right click on the tray icon, Down to the first entry, Enter.
    PostMessageA(main, TRAY_CALLBACK, 2000, WM_RBUTTONUP);
    HWND menu = nullptr;
    ASSERT_TRUE(wait_until([&] { return menu = window_of(pid, "#32768", nullptr); }, 5000));
    PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
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
