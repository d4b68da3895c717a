// VORLIXViewer.exe as a user meets it: its own process under Wine, a "telnet.conf" in its
// current directory, the unit stand-in on loopback, and nothing but the window class, the
// tray callback message, the menu, dialog control ids, message boxes and files to drive it.
// The viewer runs in real time (1 s turns, 5 s queries, 15 s retry pauses), so the waits
// below are real; each deadline names the rule it stands for.
#include "viewer_driver.h"
#include "unitsim.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdio>
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
const char kTooltip[] = "IMEI: 123456789012345\nWWAN IP: 100.100.100.100\nRSSI: 75 %";
const char kBlankTooltip[] = "IMEI: \nWWAN IP: \nRSSI: ";

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

// The poll cycle's commands, in order, for the frozen stand-in (whose WAN device is eth1).
const char* const kCycle[] = {"cmd device cell",
                              "cmd device wifi",
                              "cmd device priority",
                              "cmd ver",
                              "uptime",
                              "cmd esn",
                              "cmd modemid",
                              "cmd ipadr",
                              "cmd rfstats|grep 'Signal Quality'|awk -F: '{print $2}'",
                              "cmd data",
                              "cmd odometer",
                              "cmd gpsrmc",
                              "cmd rfstats",
                              "cmd wlan enable",
                              "cmd wandevice",
                              "uci show wireless",
                              "iwconfig",
                              "ifconfig eth1"};
const char* const kCaptureCommands[] = {"cmd showstate", "cmd showconfig", "cmd syslog",
                                        "cmd event dump"};

// The stand-in stamps its syslog and event lines with its running clock: compare such
// texts with every hh:mm:ss replaced by a placeholder.
std::string without_clock_times(const std::string& text) {
    std::string out = text;
    for (size_t i = 0; i + 8 <= out.size(); ++i) {
        const char* p = out.c_str() + i;
        bool time = isdigit(p[0]) && isdigit(p[1]) && p[2] == ':' && isdigit(p[3]) &&
                    isdigit(p[4]) && p[5] == ':' && isdigit(p[6]) && isdigit(p[7]);
        if (time) out.replace(i, 8, "hh:mm:ss");
    }
    return out;
}

// A visible dialog of the process that holds a control with the given id.
HWND wait_dialog_with(DWORD pid, int control_id, int timeout_ms) {
    HWND dialog = nullptr;
    wait_until(
        [&] {
            for (HWND candidate : top_windows(pid, "#32770", nullptr, true))
                if (find_descendant(candidate, control_id)) {
                    dialog = candidate;
                    return true;
                }
            return false;
        },
        timeout_ms);
    return dialog;
}

// Clicks along the top of the tab control, as a user moving right over the tabs, until the
// given tab is selected (the tab rectangles belong to the other process).
bool click_tab(HWND status_window, int index) {
    HWND tabs = find_descendant(status_window, 1010);
    if (!tabs) return false;
    for (int x = 4; x < 320; x += 6) {
        PostMessageA(tabs, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, 8));
        PostMessageA(tabs, WM_LBUTTONUP, 0, MAKELPARAM(x, 8));
        DWORD_PTR selected = 0;
        SendMessageTimeoutA(tabs, TCM_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 3000, &selected);
        if (static_cast<int>(selected) == index) return true;
    }
    return false;
}

bool has_command(const unitsim::Server& unit, const std::string& command) {
    for (const std::string& seen : unit.stats().commands)
        if (seen == command) return true;
    return false;
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
        DWORD took = GetTickCount() - answered;
        EXPECT_LT(took, 1000u);
        printf("[ figures  ] process ended %lu ms after OK on Exit\n", took);
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

    // What a capture of the first n commands writes: each reply as the stand-in sends
    // it, then CR LF.
    std::string captured(int n) {
        std::string text;
        for (int i = 0; i < n; ++i)
            text += unit.reply_for(kCaptureCommands[i]) + "\r\n";
        return without_clock_times(text);
    }

    std::string log_file(const std::string& path) {
        std::string bytes;
        EXPECT_TRUE(read_file(path, &bytes)) << path;
        return without_clock_times(bytes);
    }

    void answer_question(const char* question) {
        HWND box = wait_box(viewer.pid(), question, 5000);
        ASSERT_TRUE(box) << "no box asking \"" << question << "\"";
        press_ok(box);
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
    EXPECT_EQ(tray.tooltip(), kTooltip);
    // The window opens on the General page; the Wi-Fi page is hidden but filled all the same.
    HWND general = GetParent(find_descendant(status, 1012));
    HWND wifi = GetParent(find_descendant(status, 1039));
    ASSERT_TRUE(general && wifi);
    EXPECT_TRUE(IsWindowVisible(general));
    EXPECT_FALSE(IsWindowVisible(wifi));
    EXPECT_TRUE(IsWindowVisible(status));
    // The user turns to the Wi-Fi tab: its page shows, with the same values, and back.
    ASSERT_TRUE(click_tab(status, 1)) << "the Wi-Fi tab could not be selected";
    EXPECT_TRUE(
        wait_until([&] { return IsWindowVisible(wifi) && !IsWindowVisible(general); }, 3000));
    EXPECT_TRUE(shows_unit(&difference)) << difference;
    ASSERT_TRUE(click_tab(status, 0));
    EXPECT_TRUE(
        wait_until([&] { return IsWindowVisible(general) && !IsWindowVisible(wifi); }, 3000));
    expect_fields_bounded();
}

} // namespace

namespace {

TEST_F(ViewerTest, SecondStartShowsTheBoxAndEndsWithMinusOne) {
    start_viewer();
    ASSERT_TRUE(wait_unit(kOneCycleMs));
    ViewerProcess second;
    ASSERT_TRUE(second.start(folder.path()));
    const char text[] = "Another instance of this application is already running.";
    HWND box = wait_box(second.pid(), text, 5000);
    ASSERT_TRUE(box);
    EXPECT_EQ(box_text(box), text);
    EXPECT_TRUE(top_windows(second.pid(), "VORLIXViewerClass__", nullptr, false).empty());
    press_ok(box);
    DWORD code = 0;
    ASSERT_TRUE(second.wait_exit(3000, &code));
    EXPECT_EQ(code, 0xFFFFFFFFu); // -1
    EXPECT_TRUE(viewer.running());
    EXPECT_TRUE(shows_unit());
}

TEST_F(ViewerTest, StoppedUnitBlanksTheStatusAndItsReturnRefillsIt) {
    start_viewer();
    ASSERT_TRUE(wait_unit(kOneCycleMs));
    unit.stop();
    EXPECT_TRUE(wait_blank(kOneCycleMs)) << "status not blank within one cycle";
    EXPECT_TRUE(wait_until([this] { return tray.shown_icon() == 135; }, 3000))
        << "tray shows icon " << tray.shown_icon() << " without a unit";
    EXPECT_EQ(tray.tooltip(), kBlankTooltip);
    ASSERT_EQ(unit.start(port), port);
    // No action: the next attempt after the retry pause logs in and queries.
    EXPECT_TRUE(wait_unit(kRetryPauseMs + kOneCycleMs));
    EXPECT_TRUE(wait_until([this] { return tray.shown_icon() == 132; }, 3000));
    EXPECT_EQ(unit.stats().logins, 2);
    expect_fields_bounded();
}

TEST_F(ViewerTest, PowercycleFromTheMenuRestartsTheUnitAndTheStatusComesBack) {
    start_viewer();
    ASSERT_TRUE(wait_unit(kOneCycleMs));
    ASSERT_TRUE(choose_menu_entry(main, viewer.pid(), kMenuPowercycle));
    answer_question("Are you sure you want to powercycle your VORLIX?");
    // Served within about a second; no refusal box while connected.
    EXPECT_TRUE(wait_until([this] { return has_command(unit, "cmd pwrmode 2"); }, 3000));
    EXPECT_FALSE(wait_box(viewer.pid(), "Unable to perform powercycle", 500));
    // The unit refuses connections for 3 s; the viewer finds the link broken, retries
    // after its pause and fills the status again.
    EXPECT_TRUE(wait_until([this] { return unit.stats().logins >= 2; },
                           kOneCycleMs + kRetryPauseMs + 2000));
    EXPECT_TRUE(wait_unit(kOneCycleMs));
    EXPECT_TRUE(viewer.running());
    expect_fields_bounded();
}

TEST_F(ViewerTest, SettingsSavedInTheDialogMoveTheViewerToAnotherUnit) {
    unitsim::Config other = frozen_unit();
    other.esn = "356938035643809";
    unitsim::Server second(other);
    int second_port = second.start(0);
    ASSERT_GT(second_port, 0);
    start_viewer();
    ASSERT_TRUE(wait_unit(kOneCycleMs));

    ASSERT_TRUE(choose_menu_entry(main, viewer.pid(), kMenuConfig));
    HWND dialog = wait_dialog_with(viewer.pid(), 1001, 5000);
    ASSERT_TRUE(dialog) << "Connection Configuration opened no dialog";
    EXPECT_EQ(window_text(find_descendant(dialog, 1000)), "127.0.0.1");
    EXPECT_EQ(window_text(find_descendant(dialog, 1001)), std::to_string(port));
    EXPECT_EQ(window_text(find_descendant(dialog, 1002)), kUser);
    ASSERT_TRUE(set_window_text(find_descendant(dialog, 1001), std::to_string(second_port)));
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    DWORD saved = GetTickCount();

    EXPECT_TRUE(wait_until([&] { return second.stats().logins >= 1; }, 3000));
    DWORD moved = GetTickCount() - saved;
    EXPECT_LE(moved, 1500u) << "logged in to the second unit " << moved << " ms after Connect";
    printf("[ figures  ] logged in to the second unit %lu ms after Connect\n", moved);
    std::string conf;
    ASSERT_TRUE(read_file(folder.file("telnet.conf"), &conf));
    EXPECT_EQ(conf, "IP=\"127.0.0.1\"\nPORT=\"" + std::to_string(second_port) +
                        "\"\nUSERNAME=\"admin\"\nPASSWORD=\"vorlix\"\n");
    EXPECT_TRUE(
        wait_until([this] { return trimmed(read()[1012]) == "356938035643809"; }, kOneCycleMs));
    EXPECT_EQ(unit.stats().logins, 1);
    second.stop();
}

TEST_F(ViewerTest, LogFileCapturesFourCommandsAndReportsTheFile) {
    start_viewer();
    ASSERT_TRUE(wait_unit(kOneCycleMs));
    std::string path = capture_to(folder.file("unit-log.TXT"));
    HWND box = wait_box(viewer.pid(), "Generated Log File : ", 10000);
    ASSERT_TRUE(box) << "no report after the capture";
    EXPECT_EQ(box_text(box), "Generated Log File : " + path);
    EXPECT_EQ(log_file(path), captured(4));
    EXPECT_EQ(tray.tooltip(), kTooltip); // "Logging..." is gone before the report
    press_ok(box);
    EXPECT_TRUE(wait_until([&] { return !IsWindow(box); }, 3000));
    EXPECT_EQ(unit.stats().connections, 1);
}

TEST_F(ViewerTest, LogFileWhoseReplyGoesSilentReportsTheFailure) {
    unitsim::Fault silent;
    silent.command = "cmd event dump";
    silent.silence = true;
    silent.times = 1;
    unit.add_fault(silent);
    start_viewer();
    ASSERT_TRUE(wait_unit(kOneCycleMs));
    std::string path = capture_to(folder.file("silent-log.TXT"));
    DWORD saved = GetTickCount();
    HWND box = wait_box(viewer.pid(), "Failed To Generate Log File : ", kIdleLimitMs + 8000);
    ASSERT_TRUE(box) << "no failure report after the silent reply";
    DWORD waited = GetTickCount() - saved;
    EXPECT_GE(waited, static_cast<DWORD>(kIdleLimitMs - 1000)) << "gave up before 30 s";
    EXPECT_EQ(box_text(box), "Failed To Generate Log File : " + path);
    // What came before the silence stays in the file.
    EXPECT_EQ(log_file(path), captured(3));
    size_t before = unit.stats().commands.size();
    press_ok(box);
    // The capture's outcome does not end the connection: the queries go on.
    EXPECT_TRUE(unit.wait_commands(before + 10, kOneCycleMs));
    EXPECT_EQ(unit.stats().connections, 1);
    expect_fields_bounded();
}

// Fault scenarios: the viewer keeps running, no value control ever holds more than 31
// characters, and the status comes back once the fault is over.

TEST_F(ViewerTest, PromptsSplitAcrossPiecesStillFillTheStatus) {
    for (const char* command : kCycle) {
        unitsim::Fault split;
        split.command = command;
        // "VORLI" | "X:/# ": the prompt arrives in two pieces.
        split.split_at = {unit.reply_for(command).size() - 5};
        unit.add_fault(split);
    }
    start_viewer();
    std::string difference;
    EXPECT_TRUE(wait_until([&] { return shows_unit(&difference); }, kOneCycleMs, 100))
        << difference;
    EXPECT_EQ(unit.stats().connections, 1);
    expect_fields_bounded();
}

TEST_F(ViewerTest, OverlongWordsInRepliesAreCutTo31Characters) {
    const struct {
        const char* command;
        const char* output;
        int id;
        const char* shown;
    } cases[] = {
        {"cmd ver", "4.2.7-build-20261206-abcdefghijklmnopq\r\n", 1011,
         "4.2.7-build-20261206-abcdefghij"},
        {"cmd esn", "1234567890123456789012345678901234567890\r\n", 1012,
         "1234567890123456789012345678901"},
        {"cmd modemid", "cmd modemid VX4410A-with-a-much-longer-model-name\r\n", 1013,
         "VX4410A-with-a-much-longer-mode"},
    };
    for (const auto& c : cases) {
        unitsim::Fault longer;
        longer.command = c.command;
        longer.has_output = true;
        longer.output = c.output;
        unit.add_fault(longer);
    }
    start_viewer();
    for (const auto& c : cases)
        EXPECT_TRUE(wait_until([&] { return trimmed(read()[c.id]) == c.shown; }, kOneCycleMs))
            << c.command << " shows \"" << read()[c.id] << "\"";
    EXPECT_EQ(trimmed(read()[1014]), "100.100.100.100"); // the rest of the cycle went on
    EXPECT_EQ(unit.stats().connections, 1);
    expect_fields_bounded();
}

TEST_F(ViewerTest, OversizeReplyDropsTheLinkAndTheNextLoginRecovers) {
    unitsim::Fault oversize;
    oversize.command = "cmd ver";
    oversize.has_output = true;
    oversize.output = std::string(3000, 'x') + "\r\n";
    oversize.times = 1;
    unit.add_fault(oversize);
    start_viewer();
    EXPECT_TRUE(wait_unit(2 * kOneCycleMs));
    EXPECT_EQ(unit.stats().connections, 2);
    EXPECT_TRUE(viewer.running());
    expect_fields_bounded();
}

TEST_F(ViewerTest, ConnectionClosedMidCycleIsReopenedAtOnce) {
    unitsim::Fault close;
    close.command = "cmd ipadr";
    close.close_after = 12;
    close.times = 1;
    unit.add_fault(close);
    start_viewer();
    EXPECT_TRUE(wait_unit(2 * kOneCycleMs));
    EXPECT_EQ(unit.stats().connections, 2);
    EXPECT_TRUE(viewer.running());
    expect_fields_bounded();
}

TEST_F(ViewerTest, SilentReplyDropsTheLinkAfterTheIdleLimitAndRecovers) {
    unitsim::Fault silent;
    silent.command = "cmd esn";
    silent.silence = true;
    silent.times = 1;
    unit.add_fault(silent);
    start_viewer();
    ASSERT_TRUE(wait_until([this] { return has_command(unit, "cmd esn"); }, kOneCycleMs));
    // The viewer waits out the idle limit with blank values, then reconnects at once.
    EXPECT_TRUE(
        wait_until([this] { return unit.stats().connections >= 2; }, kIdleLimitMs + kOneCycleMs));
    EXPECT_TRUE(wait_unit(kOneCycleMs));
    EXPECT_TRUE(viewer.running());
    expect_fields_bounded();
}

TEST_F(ViewerTest, WrongPasswordKeepsTheStatusBlankUntilTheUnitAcceptsIt) {
    unitsim::Config strict = frozen_unit();
    strict.password = "changed";
    unit.set_config(strict);
    start_viewer();
    // The viewer answers every new prompt with the same password.
    ASSERT_TRUE(wait_until([this] { return unit.stats().failed_logins >= 3; }, kOneCycleMs));
    EXPECT_TRUE(shows_blank());
    EXPECT_TRUE(viewer.running());
    EXPECT_EQ(tray.shown_icon(), 135);
    unit.set_config(frozen_unit());
    EXPECT_TRUE(wait_unit(kOneCycleMs));
    EXPECT_EQ(unit.stats().logins, 1);
    expect_fields_bounded();
}

TEST_F(ViewerTest, UnitThatNeverAsksForLoginIsRetriedUntilItDoes) {
    unitsim::Config mute = frozen_unit();
    mute.never_login = true;
    unit.set_config(mute);
    start_viewer();
    ASSERT_TRUE(wait_until([this] { return unit.stats().connections >= 1; }, 5000));
    unit.set_config(frozen_unit()); // from the next connection on
    EXPECT_TRUE(shows_blank());
    // About 15 s of silence ends the login, then the 15 s pause, then a fresh attempt.
    EXPECT_TRUE(wait_unit(2 * kRetryPauseMs + kOneCycleMs));
    EXPECT_TRUE(unit.stats().login_answers.size() >= 2); // sent only after being asked
    EXPECT_EQ(unit.stats().connections, 2);
    expect_fields_bounded();
}

// Exit from every state: the process ends with 0 within 1 s and the icon is gone.

TEST_F(ViewerTest, ExitDuringAPoll) {
    unitsim::Fault slow;
    slow.command = "cmd ver";
    slow.delay_ms = 5000;
    unit.add_fault(slow);
    start_viewer();
    ASSERT_TRUE(wait_until([this] { return has_command(unit, "cmd ver"); }, kOneCycleMs));
    exit_from_menu();
}

TEST_F(ViewerTest, ExitWhileReconnecting) {
    unit.stop(); // nothing listens on the configured port
    start_viewer();
    EXPECT_TRUE(wait_until([this] { return tray.shown_icon() == 135; }, 3000));
    Sleep(1000); // inside the retry pause
    exit_from_menu();
}

TEST_F(ViewerTest, ExitDuringACapture) {
    unitsim::Fault silent;
    silent.command = "cmd showstate";
    silent.silence = true;
    unit.add_fault(silent);
    start_viewer();
    ASSERT_TRUE(wait_unit(kOneCycleMs));
    capture_to(folder.file("never.TXT"));
    ASSERT_TRUE(wait_until([this] { return has_command(unit, "cmd showstate"); }, 3000));
    // The tooltip's first 63 characters: the RSSI value falls off the end.
    EXPECT_EQ(tray.tooltip(), "Logging...\nIMEI: 123456789012345\nWWAN IP: 100.100.100.100\nRSSI:");
    exit_from_menu();
}

TEST_F(ViewerTest, ExitWithTheCaptureReportOpen) {
    start_viewer();
    ASSERT_TRUE(wait_unit(kOneCycleMs));
    capture_to(folder.file("report.TXT"));
    HWND report = wait_box(viewer.pid(), "Generated Log File : ", 10000);
    ASSERT_TRUE(report);
    exit_from_menu();
    EXPECT_FALSE(IsWindow(report));
}

} // namespace
