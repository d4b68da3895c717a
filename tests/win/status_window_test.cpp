// The status window in-process: its life from before creation through every close path,
// refreshes from a worker-like thread, the map link (the launch recorder as the browser) and
// the History page; and its tab page host on a test dialog of its own, with pages from test
// templates.
#include <ctime>
#include <map>

#include "resource.h"
#include "link/link_history.h"
#include "shell_test_support.h"
#include "statuswin/history_page.h"
#include "statuswin/status_window.h"
#include "statuswin/tab_host.h"

namespace {

const char title[] = "VORLIX Connection Status";

// The launch recorder stands in for the browser while it lives: the handler of https links.
struct BrowserStandIn {
    const char* key = "https\\shell\\open\\command";
    char saved[MAX_PATH] = "";
    BrowserStandIn() {
        DWORD size = sizeof(saved);
        RegGetValueA(HKEY_CLASSES_ROOT, key, nullptr, RRF_RT_REG_SZ, nullptr, saved, &size);
        set("\"" + recorder_path() + "\" \"%1\"");
    }
    ~BrowserStandIn() { set(saved); }
    void set(const std::string& command) {
        RegSetKeyValueA(HKEY_CLASSES_ROOT, key, nullptr, REG_SZ, command.c_str(),
                        static_cast<DWORD>(command.size() + 1));
    }
};

// 7 December 2026, local time.
int64_t at(int hour, int minute) {
    struct tm t = {0, minute, hour, 7, 11, 126, 0, 0, -1};
    return mktime(&t);
}

// The main window's stand-in: told when the status window's loop first waits for input, which
// it does once it has shown the window (a hide before that would be undone).
std::atomic<bool> idled{false};
LRESULT CALLBACK owner_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    idled = idled || message == WM_ENTERIDLE;
    return DefWindowProcA(window, message, wparam, lparam);
}

TEST(StatusWindow, WholeLife) {
    init_shell_classes();
    device_record_init();
    history_clear();
    history_add_event(at(14, 2), EVENT_CONNECTED, "192.168.1.1:23");
    history_add_event(at(14, 12), EVENT_LOST, "unit silent");
    for (int i = 0; i < 3; ++i)
        history_add_event(at(14, 13) + 15 * i, EVENT_FAILED, "refused");
    history_link_back(at(14, 24));
    history_add_event(at(14, 24), EVENT_CONNECTED, "192.168.1.1:23");
    BrowserStandIn browser;
    HWND owner = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, 0, 0, 0, 0);
    SetWindowLongPtrA(owner, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(owner_proc));
    Driver d;
    d.run([&] {
        HWND dlg = nullptr;
        auto click = [&] {
            // As a tray click does.
            d.post([&] { open_status_window(owner); });
            for (int i = 0; i < 2000 && !(dlg && IsWindowVisible(dlg) && idled); ++i) {
                dlg = FindWindowA("#32770", title);
                Sleep(5);
            }
            d.flush();
        };
        // The first opening creates the window.
        click();
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(GetWindow(dlg, GW_OWNER), owner);
        HWND tab = GetDlgItem(dlg, IDC_STATUS_TAB);
        HWND general = nullptr;
        HWND wifi = nullptr;
        HWND history = nullptr;
        for (HWND c = nullptr; (c = FindWindowExA(dlg, c, "#32770", nullptr));)
            (GetDlgItem(c, IDC_IMEI) ? general : GetDlgItem(c, IDC_WIFI_IP) ? wifi : history) = c;
        ASSERT_TRUE(general && wifi && history);
        // The first opening shows the blank status on General; Esc leaves it open.
        EXPECT_EQ(text_of(general, IDC_IMEI), std::string(31, ' '));
        PostMessageA(dlg, WM_KEYDOWN, VK_ESCAPE, 0);
        d.flush();
        EXPECT_TRUE(IsWindowVisible(general) && !IsWindowVisible(wifi));
        // Each close path from the Wi-Fi page (CLOSE, the caption's button, the main window's
        // close) hides it, and the next opening shows General.
        for (int how = 0; how < 3; ++how) {
            SCOPED_TRACE(how);
            SendMessageA(tab, TCM_SETCURFOCUS, 1, 0);
            if (how == 0) PostMessageA(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
            if (how == 1) PostMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
            if (how == 2) d.call([] { hide_status_window(); });
            d.flush();
            EXPECT_FALSE(IsWindowVisible(dlg));
            if (how == 0) {
                // While hidden: the worker's refresh reaches both pages; the caption follows
                // a non-empty activity_caption and keeps it while empty.
                for (int i = 0; i < STATUS_FIELD_COUNT; ++i)
                    snprintf(*status_field_at(device, i), 32, "f%d", i);
                refresh_status_window();
                device.activity_caption[0] = '\0';
                refresh_status_window();
                EXPECT_EQ(text_of(general, IDC_IMEI) + text_of(general, IDC_WWAN_IP) +
                              text_of(wifi, IDC_WIFI_IP) + text_of(general, IDC_ACTIVITY_GROUP),
                          "f0f2f27f19");
            }
            click();
            EXPECT_EQ(SendMessageA(tab, TCM_GETCURSEL, 0, 0), 0);
            EXPECT_TRUE(IsWindowVisible(general) && !IsWindowVisible(wifi));
        }
        // A second request while displayed restores the same window.
        ShowWindow(dlg, SW_MINIMIZE);
        click();
        EXPECT_FALSE(IsIconic(dlg));
        EXPECT_EQ(dialogs_titled(title), 1);

        // The map link: the position as stored, padding included. The click enters the page
        // (the tab host's test); the switch to the History page ends that.
        pad_field(device.latitude, 31);
        const std::string url =
            "\"https://www.google.com/maps?q=f8" + std::string(29, ' ') + ",+f10\"";
        PostMessageA(GetDlgItem(general, IDC_VIEW_LOCATION), BM_CLICK, 0, 0);
        d.flush(2);
        std::string seen = wait_launch();
        EXPECT_EQ(seen.substr(seen.find('|') + 1, url.size()), url);

        // The History page: the events newest first, with the outage's length.
        HWND list = GetDlgItem(history, IDC_HISTORY_EVENTS);
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
        // Shown (the keys along the strip: the tab host's test), its graph is drawn again
        // only when a sample came in, whatever asks for a repaint. -2: none; the refresh
        // repaints the page.
        SendMessageA(tab, TCM_SETCURFOCUS, 2, 0);
        for (int sample : {-2, 60}) {
            d.call([&] {
                RedrawWindow(history, 0, 0, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
            });
            int draws = d.get<int>([] { return history_graph_draws; });
            if (sample > -2) history_add_signal(time(nullptr), sample);
            refresh_status_window();
            EXPECT_EQ(d.get<int>([] { return history_graph_draws; }), draws + (sample > -2));
        }
        // Copy puts the history's text on the clipboard.
        PostMessageA(GetDlgItem(history, IDC_HISTORY_COPY), BM_CLICK, 0, 0);
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

// ---- the tab page host ---------------------------------------------------------------------

const int kTabId = 700;
TabHost* dialog_host = nullptr;
// What the pages handed to the host dialog's procedure ("message wparam") and the last size
// each page was given.
std::vector<std::string> forwarded;
std::map<HWND, std::string> sizes;
INT_PTR CALLBACK host_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NOTIFY && wparam == kTabId && dialog_host)
        return dialog_host->on_notify(reinterpret_cast<NMHDR*>(lparam));
    // A page's user data holds its tab control; the host dialog's stays 0.
    if ((message == WM_COMMAND || message == WM_APP) && GetWindowLongPtrA(window, GWLP_USERDATA))
        forwarded.push_back(std::to_string(message) + " " + std::to_string(wparam));
    return 0;
}
void record_size(HWND page, UINT, int width, int height) {
    sizes[page] = std::to_string(width) + " " + std::to_string(height);
}

// A host dialog with a tab control and three pages: page 0 with two buttons, page 1 with no
// control that takes the focus, page 2 with one button.
struct TestHost {
    HWND dialog, tab;
    TabHost host = {};
    TestHost() {
        const char* const titles[] = {"Alpha", "Beta", "Gamma", nullptr};
        const LPCSTR pages[] = {MAKEINTRESOURCEA(9101), MAKEINTRESOURCEA(9102),
                                MAKEINTRESOURCEA(9103), nullptr};
        init_shell_classes();
        dialog_host = &host;
        dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(9100), nullptr,
                                    host_dialog_proc, 0);
        tab = CreateWindowExA(0, WC_TABCONTROLA, "", WS_CHILD | WS_VISIBLE, 13, 17, 301, 211,
                              dialog, reinterpret_cast<HMENU>(kTabId), nullptr, nullptr);
        tab_host_init(&host, tab, titles, pages, host_dialog_proc, record_size, 1);
        // As the status window does: each once.
        for (int i = host.page_count - 1; i >= 0; --i)
            select(i);
    }
    ~TestHost() {
        DestroyWindow(dialog);
        free(host.pages);
        dialog_host = nullptr;
    }
    // As a click on the tab does.
    void select(int index) { SendMessageA(tab, TCM_SETCURFOCUS, index, 0); }
    // The notification of a key on the strip.
    void key(WORD key) {
        dialog_host = &host;
        NMTCKEYDOWN k = {{tab, static_cast<UINT_PTR>(kTabId), UINT(TCN_KEYDOWN)}, key, 0};
        SendMessageA(dialog, WM_NOTIFY, kTabId, reinterpret_cast<LPARAM>(&k));
    }
    // The selected tab, then the one page visible (-1 none, -2 several).
    std::string state() {
        int shown = -1;
        for (int i = 0; i < host.page_count; ++i)
            if (IsWindowVisible(host.pages[i])) shown = shown == -1 ? i : -2;
        return std::to_string(SendMessageA(tab, TCM_GETCURSEL, 0, 0)) + " " + std::to_string(shown);
    }
};

// Pages are raised above the tab control, each told its size. The host's own key routine
// (the tab control's handling of the key is not part of a synthetic notification): arrows
// along the strip give the focus back to the tab that was selected, which keeps it selected.
// A focus loop runs while the focus is in a page, entered by key or by a click on the
// page's background or its button: one round of Tab key-downs hands it back to the strip, a
// switch of page ends it, the quit message passes through it. The pages hand their commands
// and other messages to the host dialog's procedure.
TEST(TabHost, PageSizesKeysAndFocusLoops) {
    const struct {
        int from;
        WORD key;
        int to;
    } rows[] = {{0, VK_PRIOR, 1}, {2, VK_PRIOR, 2}, {1, VK_NEXT, 0}, {0, VK_NEXT, 0},
                {1, VK_LEFT, 1},  {1, VK_RIGHT, 1}, {1, VK_HOME, 1}};
    TestHost t;
    EXPECT_NE(GetWindow(t.tab, GW_HWNDPREV), nullptr);
    for (HWND page : {t.host.pages[0], t.host.pages[1], t.host.pages[2]}) {
        RECT got;
        GetClientRect(page, &got);
        EXPECT_EQ(sizes[page], std::to_string(got.right) + " " + std::to_string(got.bottom));
    }
    for (const auto& row : rows) {
        t.select(row.from);
        t.key(row.key);
        std::string to = std::to_string(row.to);
        EXPECT_EQ(t.state(), to + " " + to) << row.key;
    }
    // Down into the page (0: a click on its background, 1: on button 611), then the Tab
    // key-downs until the focus is back on the strip.
    const struct {
        int page;
        WORD key;
        int presses;
    } cases[] = {{0, VK_DOWN, 2}, {1, VK_DOWN, 1}, {0, 0, 2}, {2, 1, 1}};
    forwarded.clear();
    Driver d;
    bool returned = false;
    int quits = d.run([&] {
        for (const auto& c : cases) {
            HWND page = t.host.pages[c.page];
            d.call([&] { t.select(c.page); });
            if (c.key == 0) PostMessageA(page, WM_LBUTTONDOWN, 0, 0);
            if (c.key == 1) PostMessageA(GetDlgItem(page, 611), BM_CLICK, 0, 0);
            if (c.key > 1) d.post([&] { t.key(c.key); });
            EXPECT_FALSE(d.flush(2));
            for (int i = 1; i <= c.presses; ++i) {
                PostMessageA(d.get<HWND>(GetFocus), WM_KEYDOWN, VK_TAB, 0);
                EXPECT_EQ(d.flush(), i == c.presses) << c.page << " " << c.key << " press " << i;
            }
            EXPECT_EQ(d.get<HWND>(GetFocus), t.tab);
            EXPECT_EQ(d.get<std::string>([&] { return t.state(); }),
                      std::to_string(c.page) + " " + std::to_string(c.page));
        }
        SendMessageA(t.host.pages[1], WM_APP, 7, 0);
        // A switch of page ends the loop; the quit message passes through one.
        d.post([&] { t.key(VK_DOWN); });
        EXPECT_FALSE(d.flush(2));
        d.call([&] { SendMessageA(t.tab, TCM_SETCURFOCUS, 0, 0); });
        EXPECT_TRUE(d.flush());
        EXPECT_EQ(d.get<std::string>([&] { return t.state(); }), "0 0");
        d.post([&] {
            enter_page(t.host.pages[2], t.host.pages[2]);
            returned = true;
        });
        EXPECT_FALSE(d.flush(2));
        d.quit(3);
        EXPECT_TRUE(d.flush());
    });
    EXPECT_TRUE(returned);
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(d.flush_timed_out);
    EXPECT_EQ(forwarded, (std::vector<std::string>{"273 611", "32768 7"}));
}

} // namespace
