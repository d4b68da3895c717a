// What the shell shows of the link's history: the tooltip while the link is down, the link
// notice, the menu's two choices, the first start and the status window's History tab.
#include <ctime>

#include "link/link_history.h"
#include "link/link_state.h"
#include "res/resource.h"
#include "shell/tray_menu.h"
#include "shell/user_options.h"
#include "shell_test_support.h"
#include "status/view_hooks.h"
#include "statuswin/history_page.h"
#include "statuswin/status_window.h"

namespace {

int64_t at(int hour, int minute) { // 7 December 2026, local time
    struct tm t = {0, minute, hour, 7, 11, 126, 0, 0, -1};
    return mktime(&t);
}

class HistoryUi : public ShellTest {
  protected:
    void create() { // the main window, its hooks and worker
        register_main_window_class(GetModuleHandleA(nullptr));
        window_ = create_main_window(GetModuleHandleA(nullptr));
    }
    void TearDown() override {
        DestroyWindow(window_);
        take_quit();
        ShellTest::TearDown();
    }
    HWND window_ = nullptr;
};

TEST_F(HistoryUi, TooltipSaysWhyWhileDownAndIsTheFirstOneWhileConnected) {
    snprintf(device.ip, 32, "192.168.1.1");
    snprintf(device.port, 32, "23");
    const struct {
        int reason; // 0: connected
        const char* tip;
    } rows[] = {{REASON_LOGIN_REJECTED,
                 "VORLIX Viewer: login rejected by 192.168.1.1:23 since 14:02, "
                 "retrying"},
                {0, "IMEI: \nWWAN IP: \nRSSI: "}};
    for (const auto& row : rows) {
        row.reason ? link_status_down(row.reason, at(14, 2)) : link_status_up();
        update_tray(false, false);
        EXPECT_STREQ(tray_data.szTip, row.tip);
    }
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

TEST_F(HistoryUi, NoticeIsABalloonWhileChosenAndTheChoicesFollowRegistryAndShortcut) {
    create();
    RegDeleteKeyValueA(HKEY_CURRENT_USER, "Software\\VORLIX\\VORLIX Viewer", "NotifyOnLinkLoss");
    set_start_at_logon(false);
    char lnk[MAX_PATH + 32], exe[MAX_PATH];
    std::string made, folder; // the shortcut's bytes; its working folder as UTF-16
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
        options_load(); // as the next start reads it
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
    EXPECT_STREQ(tray_notice.szInfo, "The link is back after 12 min.");
    EXPECT_STREQ(tray_notice.szInfoTitle, "VORLIX Viewer");
    for (char c : std::string(start_dir_))
        folder += {c, '\0'};
    EXPECT_NE(made.find(exe + std::string(1, '\0')), std::string::npos); // the target
    EXPECT_NE(made.find(folder), std::string::npos);
}

TEST_F(HistoryUi, FirstStartOpensTheConfigurationOnceOnlyWithoutSettings) {
    create();
    std::string path = conf_path();
    for (bool exists : {false, true}) {
        if (exists) std::ofstream(path) << "IP=\"1.2.3.4\"\n";
        Responder dialogs("Configuration Settings", {IDCANCEL});
        offer_first_configuration(window_, path.c_str());
        MSG message;
        while (PeekMessageA(&message, window_, FIRST_START_MESSAGE, FIRST_START_MESSAGE, PM_REMOVE))
            DispatchMessageA(&message);
        EXPECT_EQ(dialogs.stop().size(), exists ? 0u : 1u);
    }
}

TEST(HistoryPage, RowsNewestFirstCopyAndRedrawsOnlyOnNews) {
    init_shell_classes();
    history_clear();
    history_add_event(at(14, 2), EVENT_CONNECTED, "192.168.1.1:23");
    history_add_event(at(14, 12), EVENT_LOST, "unit silent");
    for (int i = 0; i < 3; ++i)
        history_add_event(at(14, 13) + 15 * i, EVENT_FAILED, "refused");
    history_link_back(at(14, 24));
    history_add_event(at(14, 24), EVENT_CONNECTED, "192.168.1.1:23");
    HWND owner = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, 0, 0, 0, 0);
    Driver d;
    d.run([&] {
        d.post([&] { open_status_window(owner); });
        HWND dlg = wait_dialog("VORLIX Connection Status"), page = nullptr;
        for (HWND c = nullptr; (c = FindWindowExA(dlg, c, "#32770", nullptr));)
            page = GetDlgItem(c, IDC_HISTORY_EVENTS) ? c : page;
        ASSERT_TRUE(page);
        HWND list = GetDlgItem(page, IDC_HISTORY_EVENTS), tab = GetDlgItem(dlg, IDC_STATUS_TAB);
        std::string rows;
        for (int i = 0; i < SendMessageA(list, LVM_GETITEMCOUNT, 0, 0); ++i)
            for (int column = 0; column < 3; ++column) {
                char text[64] = "";
                ListView_GetItemText(list, i, column, text, sizeof(text));
                rows += text + std::string(column < 2 ? "|" : "\n");
            }
        EXPECT_EQ(rows, "12-07 14:24:00|connected|192.168.1.1:23\n"
                        "12-07 14:13:00|failed|refused (3 times)\n"
                        "12-07 14:12:00|lost|unit silent, back after 12 min\n"
                        "12-07 14:02:00|connected|192.168.1.1:23\n");
        // The third tab shows the page (the keys along the strip: the tab host's test).
        SendMessageA(tab, TCM_SETCURFOCUS, 2, 0);
        EXPECT_TRUE(IsWindowVisible(page));
        // Drawn again only when a sample came in, whatever asks for a repaint.
        for (int sample : {-2, 60, -2, -1}) { // -2: none; the refresh repaints the page
            d.call([&] {
                RedrawWindow(page, 0, 0, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
            });
            int draws = d.get<int>([] { return history_graph_draws; });
            if (sample > -2) history_add_signal(time(nullptr), sample);
            refresh_status_window();
            EXPECT_EQ(d.get<int>([] { return history_graph_draws; }), draws + (sample > -2));
        }
        PostMessageA(GetDlgItem(page, IDC_HISTORY_COPY), BM_CLICK, 0, 0);
        d.flush(2);
        std::string copied, expected(history_text(time(nullptr), nullptr, 0), '\0');
        history_text(time(nullptr), &expected[0], expected.size() + 1);
        if (OpenClipboard(nullptr)) {
            copied = static_cast<const char*>(GlobalLock(GetClipboardData(CF_TEXT)));
            CloseClipboard();
        }
        EXPECT_EQ(copied, expected);
        d.quit();
    });
    EXPECT_FALSE(d.flush_timed_out);
}

} // namespace
