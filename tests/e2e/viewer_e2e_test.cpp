// VORLIXViewer.exe as a user meets it: its own process under Wine, a "telnet.conf" in its
// current directory, the unit stand-in on loopback, and nothing but the window class, the
// tray callback message, the menu, dialog control ids, message boxes and files to drive it.
// The viewer runs in real time (1 s turns, 5 s queries, 15 s retry pauses), so the waits
// below are real; each deadline names the rule it stands for.
#include "viewer_driver.h"
#include "unitsim.h"

#include <gtest/gtest.h>

#include <map>

using namespace e2e;

namespace {

// One status query every fifth one-second turn, plus the stand-in's replies and Wine.
const int kOneCycleMs = 7000;
// A failed attempt is followed by a 15 s pause.
const int kRetryPauseMs = 15000;
// The idle limit of a reply: 30 s of silence.
const int kIdleLimitMs = 30000;

const char kUser[] = "admin";
const char kPassword[] = "vorlix";
const char kExitQuestion[] = "Are you sure you want to terminate this program?";

unitsim::Config frozen_unit() {
    unitsim::Config config;
    config.frozen = true;
    config.user = kUser;
    config.password = kPassword;
    return config;
}

// What the status window shows for the frozen stand-in, written out by hand from its
// replies: "cmd ver" prints 4.2.7, "cmd data" TX: 12.5 / RX: 3.1 / Total: 15.6, the RMC
// sentence 4916.45,N,12311.12,W at 22.4 knots, iwconfig's Tx-Power=20 dBm, and so on.
const std::map<int, std::string>& frozen_values() {
    static const std::map<int, std::string> values = {
        {1032, "MC7354"},
        {1033, "RT5370"},
        {1034, "cellular"},
        {1011, "4.2.7"},
        {1012, "123456789012345"},
        {1013, "VX4410A"},
        {1014, "100.100.100.100"},
        {1015, "75 %"},
        {1016, "1 day, 12:10"},
        {1017, "LTE"},
        {1018, "Cellular Activity"},
        {1019, "12.5 MB"},
        {1020, "3.1 MB"},
        {1021, "15.6 MB"},
        {1022, "49.2742"},
        {1023, "-123.1853"},
        {1024, "N"},
        {1025, "W"},
        {1026, "41.4848 kph"},
        {1027, "1234.5 km"},
        {1029, "Client"},
        {1030, "VORLIX-AP"},
        {1031, "00:11:22:33:44:55"},
        {1035, "20 dBm"},
        {1036, "70/70"},
        {1037, "-40 dBm"},
        {1038, "-95 dBm"},
        {1039, "192.168.10.1"},
    };
    return values;
}

class ViewerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tray.load(viewer_exe_path())) << viewer_exe_path();
        port = unit.start(0);
        ASSERT_GT(port, 0);
    }

    void TearDown() override {
        viewer.end_for_cleanup();
        unit.stop();
    }

    // Starts the viewer on the stand-in and opens its status window with a left click.
    void start_viewer() {
        write_settings(folder.path(), port, kUser, kPassword);
        launch();
    }

    void launch() {
        ASSERT_TRUE(viewer.start(folder.path())) << viewer_exe_path();
        main = viewer.main_window();
        ASSERT_TRUE(main) << "no window of class VORLIXViewerClass__";
        tray_click(main, WM_LBUTTONUP);
        status = wait_status_window(viewer.pid(), 5000);
        ASSERT_TRUE(status) << "a left click on the tray icon opened no status window";
    }

    // Reads every value control; records the longest text ever seen.
    std::map<int, std::string> read() {
        std::vector<std::pair<int, std::string>> texts;
        std::map<int, std::string> shown;
        if (!read_status(status, &texts)) {
            controls_missing = true;
            return shown;
        }
        for (auto& text : texts) {
            if (text.second.size() > longest.size()) {
                longest = text.second;
                longest_id = text.first;
            }
            shown[text.first] = text.second;
        }
        return shown;
    }

    // The status shows the frozen unit's values (trailing blanks aside).
    bool shows_unit(std::string* first_difference = nullptr) {
        std::map<int, std::string> shown = read();
        for (const auto& expected : frozen_values()) {
            std::string value = trimmed(shown[expected.first]);
            if (value != expected.second) {
                if (first_difference)
                    *first_difference = std::to_string(expected.first) + ": \"" + value +
                                        "\" instead of \"" + expected.second + "\"";
                return false;
            }
        }
        return true;
    }

    // Every value control shows nothing but blanks (box 1018 keeps its caption).
    bool shows_blank() {
        std::map<int, std::string> shown = read();
        if (shown.empty()) return false;
        for (const auto& text : shown)
            if (text.first != 1018 && !trimmed(text.second).empty()) return false;
        return true;
    }

    bool wait_unit(int timeout_ms) {
        return wait_until([this] { return shows_unit(); }, timeout_ms, 100);
    }
    bool wait_blank(int timeout_ms) {
        return wait_until([this] { return shows_blank(); }, timeout_ms, 100);
    }

    void expect_fields_bounded() {
        EXPECT_FALSE(controls_missing) << "a value control of the status window is missing";
        EXPECT_LE(longest.size(), 31u) << "control " << longest_id << " showed " << longest.size()
                                       << " characters: \"" << longest << "\"";
    }

    // Exit from the tray menu and OK on its question: the process ends with 0 within 1 s
    // of the answer, and its tray icon leaves the notification area.
    void exit_from_menu() {
        ASSERT_TRUE(choose_menu_entry(main, viewer.pid(), kMenuExit));
        HWND question = wait_box(viewer.pid(), kExitQuestion, 5000);
        ASSERT_TRUE(question) << "Exit asked no question";
        press_ok(question);
        DWORD answered = GetTickCount();
        DWORD code = 1234;
        ASSERT_TRUE(viewer.wait_exit(1000, &code)) << "still running 1 s after OK on Exit";
        EXPECT_LT(GetTickCount() - answered, 1000u);
        EXPECT_EQ(code, 0u);
        EXPECT_TRUE(wait_until([this] { return tray.shown_icon() == 0; }, 2000))
            << "icon " << tray.shown_icon() << " still in the notification area";
    }

    std::string capture_to(const std::string& path) {
        EXPECT_TRUE(choose_menu_entry(main, viewer.pid(), kMenuLogFile));
        HWND save = wait_top_window(viewer.pid(), "#32770", "Save Log As...", 5000);
        if (!save) {
            ADD_FAILURE() << "Log File opened no \"Save Log As...\" dialog";
            return std::string();
        }
        HWND name = find_descendant(save, 0x47c);       // the file name box (cmb13)
        if (!name) name = find_descendant(save, 0x480); // edt1 in the older layout
        EXPECT_TRUE(name) << "no file name box in the Save dialog";
        if (!name) return std::string();
        set_window_text(name, path);
        PostMessageA(save, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        EXPECT_TRUE(wait_until([&] { return !IsWindow(save); }, 5000))
            << "the Save dialog did not close";
        return path;
    }

    // What a capture writes: each reply as the stand-in sends it, then CR LF.
    std::string captured(const std::vector<const char*>& commands) {
        std::string text;
        for (const char* command : commands)
            text += unit.reply_for(command) + "\r\n";
        return text;
    }

    TempFolder folder;
    unitsim::Server unit{frozen_unit()};
    int port = 0;
    ViewerProcess viewer;
    TrayWatcher tray;
    HWND main = nullptr;
    HWND status = nullptr;
    std::string longest;
    int longest_id = 0;
    bool controls_missing = false;
};

TEST_F(ViewerTest, StatusWindowShowsTheUnitOnBothPagesWithinOneCycle) {
    start_viewer();
    std::string difference;
    bool shown = wait_until([&] { return shows_unit(&difference); }, kOneCycleMs, 100);
    EXPECT_TRUE(shown) << difference;
    // Signal 75 % with a WWAN address: three bars of four.
    EXPECT_TRUE(wait_until([this] { return tray.shown_icon() == 132; }, 3000))
        << "tray shows icon " << tray.shown_icon();
    // The window opens on the General page; the Wi-Fi page is hidden but filled all the same.
    HWND general = GetParent(find_descendant(status, 1012));
    HWND wifi = GetParent(find_descendant(status, 1039));
    ASSERT_TRUE(general && wifi);
    EXPECT_TRUE(IsWindowVisible(general));
    EXPECT_FALSE(IsWindowVisible(wifi));
    EXPECT_TRUE(IsWindowVisible(status));
    expect_fields_bounded();
}

} // namespace
