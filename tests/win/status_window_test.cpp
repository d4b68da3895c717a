// The status window in-process: its life from before creation through every close path,
// refreshes from a worker-like thread, and the map link; and its tab page host on a test
// dialog of its own, with pages built in memory.
#include <gtest/gtest.h>

#include "resource.h"
#include "shell_test_support.h"
#include "statuswin/status_window.h"
#include "statuswin/tab_host.h"

namespace {

const char title[] = "VORLIX Connection Status";
using shelltest::text_of;

const std::string kBlank(31, ' ');

// The value control of each status field on the General page, then on the Wi-Fi page.
// clang-format off
const struct Row { int id; char* field; } general_rows[] = {
    {IDC_CELL_HARDWARE, device.cell_hardware}, {IDC_WIFI_HARDWARE, device.wifi_hardware},
    {IDC_PRIORITY, device.priority}, {IDC_FIRMWARE_VERSION, device.firmware_version},
    {IDC_IMEI, device.imei}, {IDC_MODEM_ID, device.modem_id}, {IDC_WWAN_IP, device.wwan_ip},
    {IDC_SIGNAL_QUALITY, device.signal_quality}, {IDC_UPTIME, device.uptime},
    {IDC_NETWORK_TYPE, device.network_type}, {IDC_DATA_SENT, device.data_sent},
    {IDC_DATA_RECEIVED, device.data_received}, {IDC_DATA_TOTAL, device.data_total},
    {IDC_LATITUDE, device.latitude}, {IDC_LONGITUDE, device.longitude},
    {IDC_LAT_HEMISPHERE, device.lat_hemisphere}, {IDC_LON_HEMISPHERE, device.lon_hemisphere},
    {IDC_SPEED, device.speed}, {IDC_ODOMETER, device.odometer},
    {IDC_ACTIVITY_GROUP, device.activity_caption}},
  wifi_rows[] = {{IDC_WIFI_MODE, device.wifi_mode}, {IDC_AP_SSID, device.ap_ssid},
    {IDC_AP_MAC, device.ap_mac}, {IDC_TX_POWER, device.tx_power},
    {IDC_LINK_QUALITY, device.link_quality}, {IDC_RX_POWER, device.rx_power},
    {IDC_NOISE_LEVEL, device.noise_level}, {IDC_WIFI_IP, device.wifi_ip}};
// clang-format on

TEST(StatusWindow, WholeLifeFromBeforeCreationThroughEveryClosePath) {
    shelltest::init_shell_classes();
    device_record_init();
    shelltest::launches.clear();
    shelltest::Seam<ShellExecuteFn> launch_seam{shell_execute_fn, shelltest::record_launch};
    // Before the window exists: a refresh changes nothing, a hide only clears the flag.
    refresh_status_window();
    status_window_shown = 1;
    hide_status_window();
    EXPECT_EQ(status_window_shown, 0);
    EXPECT_EQ(shelltest::dialogs_titled(title), 0);

    HWND owner = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, 0, 0, 0, 0); // the main window
    shelltest::Driver d;
    d.run([&] {
        HWND dlg = nullptr;
        auto click = [&] {
            d.post([&] { open_status_window(owner); }); // as a tray click does
            for (int i = 0; i < 2000 && !(dlg && IsWindowVisible(dlg)); ++i, Sleep(5))
                dlg = FindWindowA("#32770", title);
            d.flush();
        };
        click(); // the first opening creates the window
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(GetWindow(dlg, GW_OWNER), owner);
        HWND tab = GetDlgItem(dlg, IDC_STATUS_TAB);
        HWND general = nullptr, wifi = nullptr;
        for (HWND c = FindWindowExA(dlg, nullptr, "#32770", nullptr); c;
             c = FindWindowExA(dlg, c, "#32770", nullptr))
            (GetDlgItem(c, IDC_IMEI) ? general : wifi) = c;
        ASSERT_TRUE(general && wifi);
        auto shown = [&] { return d.get<int>([] { return status_window_shown; }); };
        auto on_general = [&](const char* when) {
            SCOPED_TRACE(when);
            EXPECT_EQ(SendMessageA(tab, TCM_GETCURSEL, 0, 0), 0);
            EXPECT_TRUE(GetWindowLongA(general, GWL_STYLE) & WS_VISIBLE);
            EXPECT_FALSE(GetWindowLongA(wifi, GWL_STYLE) & WS_VISIBLE);
        };
        // First opening: General tab, the flag 0 although on screen, blank values.
        EXPECT_EQ(shown(), 0);
        on_general("first opening");
        EXPECT_EQ(text_of(general, IDC_IMEI), kBlank); // the blank status
        // Esc leaves it open; CLOSE from the Wi-Fi page hides it, back on General.
        PostMessageA(dlg, WM_KEYDOWN, VK_ESCAPE, 0);
        d.flush();
        EXPECT_TRUE(IsWindowVisible(dlg));
        SendMessageA(tab, TCM_SETCURFOCUS, 1, 0);
        EXPECT_TRUE(IsWindowVisible(wifi));
        PostMessageA(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
        d.flush();
        EXPECT_FALSE(IsWindowVisible(dlg));
        EXPECT_EQ(shown(), 0);
        on_general("after CLOSE");

        // While hidden: the worker's refresh, each field holding its control's id.
        for (const Row& row : general_rows)
            snprintf(row.field, 32, "%d", row.id);
        for (const Row& row : wifi_rows)
            snprintf(row.field, 32, "%d", row.id);
        refresh_status_window();
        for (const Row& row : general_rows)
            EXPECT_EQ(text_of(general, row.id), std::to_string(row.id));
        for (const Row& row : wifi_rows)
            EXPECT_EQ(text_of(wifi, row.id), std::to_string(row.id));
        // The caption follows a non-empty activity_caption and keeps it while empty.
        snprintf(device.activity_caption, sizeof(device.activity_caption), "Wi-Fi Activity");
        refresh_status_window();
        device.activity_caption[0] = '\0';
        refresh_status_window();
        EXPECT_EQ(text_of(general, IDC_ACTIVITY_GROUP), "Wi-Fi Activity");

        // Every other close path, each from the Wi-Fi page: then a later opening shows
        // the General page with the flag 1.
        for (int how = 0; how < 4; ++how) {
            SCOPED_TRACE(how);
            click();
            EXPECT_TRUE(IsWindowVisible(dlg));
            EXPECT_EQ(shown(), 1);
            on_general("reopened");
            if (how == 3) break;
            SendMessageA(tab, TCM_SETCURFOCUS, 1, 0);
            if (how == 0) PostMessageA(dlg, WM_KEYDOWN, VK_RETURN, 0); // the default button
            if (how == 1) PostMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
            if (how == 2) d.call([] { hide_status_window(); }); // the main window's close
            d.flush();
            EXPECT_FALSE(IsWindowVisible(dlg));
            EXPECT_EQ(shown(), 0);
        }
        // A second request while displayed restores the same window.
        ShowWindow(dlg, SW_MINIMIZE);
        click();
        EXPECT_FALSE(IsIconic(dlg));
        EXPECT_EQ(shelltest::dialogs_titled(title), 1);

        // The map link: the position as stored, padding included; then blanks. Each click
        // enters the page with the focus on the button; a switch ends that.
        HWND map_button = GetDlgItem(general, IDC_VIEW_LOCATION);
        for (int n = 0; n < 2; ++n) {
            if (n == 1) d.call([] { reset_status(); });
            PostMessageA(map_button, BM_CLICK, 0, 0);
            d.flush(2);
            EXPECT_EQ(d.get<HWND>(GetFocus), map_button);
            SendMessageA(tab, TCM_SETCURFOCUS, 1, 0);
            SendMessageA(tab, TCM_SETCURFOCUS, 0, 0);
            d.flush();
        }
        const std::string map = "null|open|https://www.google.com/maps?q=";
        EXPECT_EQ(d.get<std::vector<std::string>>([] { return shelltest::launches; }),
                  (std::vector<std::string>{map + "1022,+1023|null|null|1",
                                            map + kBlank + ",+" + kBlank + "|null|null|1"}));
        d.quit();
    });
    EXPECT_FALSE(d.flush_timed_out);
}

// ---- the tab page host ---------------------------------------------------------------------

// A dialog template in memory: buttons (tab stops) with the given ids, or a label for 0.
struct Template {
    std::vector<WORD> w;
    Template(short cx, short cy, std::vector<WORD> ids, DWORD style = WS_CHILD | WS_VISIBLE) {
        // clang-format off
        w = {LOWORD(style), HIWORD(style), 0, 0, WORD(ids.size()), 0, 0, WORD(cx), WORD(cy),
             0, 0, 0};
        // clang-format on
        for (size_t i = 0; i < ids.size(); ++i) {
            DWORD s = WS_CHILD | WS_VISIBLE | (ids[i] ? WS_TABSTOP : 0);
            w.resize(w.size() + w.size() % 2); // DWORD alignment
            w.insert(w.end(), {LOWORD(s), HIWORD(s), 0, 0, 5, WORD(5 + 20 * i), 50, 14, ids[i],
                               0xFFFF, WORD(ids[i] ? 0x80 : 0x82), 'x', 0, 0});
        }
    }
    LPCSTR name() const { return reinterpret_cast<LPCSTR>(w.data()); }
};
// Page 0: two buttons; page 1: no control that takes the focus; page 2: one button.
const Template two_buttons(120, 80, {0, 601, 602}), no_control(120, 80, {0}),
    one_button(120, 80, {611}), host_dialog(320, 240, {}, WS_POPUP | WS_VISIBLE);
const LPCSTR three_pages[] = {two_buttons.name(), no_control.name(), one_button.name(), nullptr};

HWND WINAPI create_test_page(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc, LPARAM) {
    return CreateDialogIndirectParamA(instance, (LPCDLGTEMPLATEA)name, parent, proc, 0);
}

const int kTabId = 700;
const char* const titles[] = {"Alpha", "Beta", "Gamma", nullptr};
TabHost* dialog_host = nullptr;
INT_PTR CALLBACK host_dialog_proc(HWND, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NOTIFY && wparam == kTabId && dialog_host)
        return dialog_host->on_notify(reinterpret_cast<NMHDR*>(lparam));
    return 0;
}

// A host dialog whose tab control sits at (13, 17), 301 x 211 pixels in its client area.
struct TestHost {
    HWND dialog, tab;
    TabHost host = {};
    TestHost(DWORD tab_style, const LPCSTR* templates) {
        shelltest::init_shell_classes();
        create_page_fn = create_test_page;
        dialog = CreateDialogIndirectParamA(nullptr, (LPCDLGTEMPLATEA)host_dialog.name(), nullptr,
                                            host_dialog_proc, 0);
        tab = CreateWindowExA(0, WC_TABCONTROLA, "", WS_CHILD | WS_VISIBLE | tab_style, 13, 17, 301,
                              211, dialog, reinterpret_cast<HMENU>(kTabId), nullptr, nullptr);
        tab_host_init(&host, tab, titles, templates, host_dialog_proc, nullptr, 1);
        for (int i = host.page_count - 1; i >= 0; --i) // as the status window does: each once
            select(i);
    }
    ~TestHost() {
        DestroyWindow(dialog);
        free(host.pages);
        create_page_fn = CreateDialogParamA;
    }
    void select(int index) {
        SendMessageA(tab, TCM_SETCURFOCUS, index, 0);
        SendMessageA(tab, TCM_SETCURSEL, index, 0);
        notify(TCN_SELCHANGE);
    }
    void notify(UINT code, WORD key = 0) {
        dialog_host = &host;
        NMTCKEYDOWN k = {{tab, static_cast<UINT_PTR>(kTabId), code}, key, 0};
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

TEST(TabHost, PagesFillTheDisplayAreaForAllFourTabPositions) {
    const DWORD styles[] = {0, TCS_BOTTOM, TCS_VERTICAL | TCS_MULTILINE,
                            TCS_VERTICAL | TCS_RIGHT | TCS_MULTILINE};
    for (int s = 0; s < 4; ++s) {
        TestHost t(styles[s], three_pages);
        EXPECT_EQ(SendMessageA(t.tab, TCM_GETITEMCOUNT, 0, 0), 3);
        // Inside the tab control, beside the strip (item 0's height or width), with the
        // platform's margins of 4 and 6 pixels; raised above the tab control.
        RECT it, got;
        SendMessageA(t.tab, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&it));
        int iw = it.right - it.left, ih = it.bottom - it.top;
        // clang-format off
        const RECT wants[] = {{17, 23 + ih, 306, 218}, {17, 23, 306, 218 - ih},
                              {17 + iw, 23, 306, 222}, {17, 23, 306 - iw, 222}};
        // clang-format on
        for (int i = 0; i < 3; ++i) {
            GetWindowRect(t.host.pages[i], &got);
            MapWindowPoints(nullptr, t.dialog, reinterpret_cast<POINT*>(&got), 2);
            EXPECT_TRUE(EqualRect(&got, &wants[s]))
                << s << " page " << i << ": " << got.left << "," << got.top << " " << got.right
                << "," << got.bottom;
        }
        EXPECT_NE(GetWindow(t.tab, GW_HWNDPREV), nullptr);
        EXPECT_EQ(t.state(), "0 0");
    }
}

TEST(TabHost, KeyTableMovesAlongTheStripInEachOrientation) {
    // The host's own key routine (the tab control's handling of the key is not part of a
    // synthetic notification): arrows along the strip give the focus back to the tab that
    // was selected, which keeps it selected.
    // clang-format off
    const struct { bool vertical; int from; WORD key; int to; } rows[] = {
        {false, 0, VK_PRIOR, 1}, {false, 2, VK_PRIOR, 2}, {false, 1, VK_NEXT, 0}, {false, 0, VK_NEXT, 0},
        {false, 1, VK_LEFT, 1}, {false, 0, VK_LEFT, 0}, {false, 1, VK_RIGHT, 1}, {false, 2, VK_RIGHT, 2},
        {false, 1, VK_END, 1}, {false, 1, VK_HOME, 1}, {false, 1, 'A', 1}, {true, 1, VK_PRIOR, 0},
        {true, 0, VK_PRIOR, 0}, {true, 0, VK_NEXT, 1}, {true, 2, VK_NEXT, 2}, {true, 1, VK_UP, 1},
        {true, 0, VK_UP, 0}, {true, 1, VK_DOWN, 1}, {true, 2, VK_DOWN, 2}, {true, 1, VK_END, 1},
        {true, 2, VK_HOME, 2}};
    // clang-format on
    TestHost h(0, three_pages), v(TCS_VERTICAL | TCS_MULTILINE, three_pages);
    for (const auto& row : rows) {
        TestHost& t = row.vertical ? v : h;
        t.select(row.from);
        t.notify(TCN_KEYDOWN, row.key);
        std::string to = std::to_string(row.to);
        EXPECT_EQ(t.state(), to + " " + to) << row.vertical << " " << row.from << " " << row.key;
        EXPECT_EQ(t.host.current_page, t.host.pages[row.to]);
    }
    NMHDR change = {h.tab, static_cast<UINT_PTR>(kTabId), static_cast<UINT>(TCN_SELCHANGING)};
    EXPECT_EQ(tab_host_notify(&change), 0); // lets a change go ahead
}

// A focus loop runs while the focus is in a page: one round of Tab key-downs hands it back
// to the strip, a switch of page ends it, the quit message passes through it.
TEST(TabHost, FocusLoopsOfThePagesEndOnATabRoundASwitchOrTheQuit) {
    const LPCSTR vertical_pages[] = {one_button.name(), no_control.name(), nullptr};
    TestHost t(0, three_pages), v(TCS_VERTICAL | TCS_MULTILINE, vertical_pages);
    // A key into the page (Down on horizontal tabs, Left or Right on vertical ones), then the
    // Tab key-downs until the focus is back on the strip.
    // clang-format off
    const struct { TestHost* host; int page; WORD key; int presses; } cases[] = {
        {&t, 0, VK_DOWN, 2}, {&t, 1, VK_DOWN, 1}, {&v, 0, VK_LEFT, 1}, {&v, 0, VK_RIGHT, 1}};
    // clang-format on
    shelltest::Driver d;
    bool returned = false;
    int quits = d.run([&] {
        for (const auto& c : cases) {
            TestHost& h = *c.host;
            d.call([&] { h.select(c.page); });
            d.post([&] { h.notify(TCN_KEYDOWN, c.key); });
            EXPECT_FALSE(d.flush(2)) << "a focus loop runs";
            for (int i = 1; i <= c.presses; ++i) {
                HWND focus = d.get<HWND>(GetFocus);
                EXPECT_TRUE(IsChild(h.host.pages[c.page], focus) || focus == h.host.pages[c.page]);
                PostMessageA(focus, WM_KEYDOWN, VK_TAB, 0);
                EXPECT_EQ(d.flush(), i == c.presses) << c.page << " " << c.key << " press " << i;
            }
            EXPECT_EQ(d.get<HWND>(GetFocus), h.tab);
            EXPECT_EQ(d.get<std::string>([&] { return h.state(); }),
                      std::to_string(c.page) + " " + std::to_string(c.page));
        }
        // A switch of page ends the loop; the quit message passes through one.
        d.post([&] { t.notify(TCN_KEYDOWN, VK_DOWN); });
        EXPECT_FALSE(d.flush(2));
        d.call([&] { SendMessageA(t.tab, TCM_SETCURFOCUS, 2, 0); });
        EXPECT_TRUE(d.flush());
        EXPECT_EQ(d.get<std::string>([&] { return t.state(); }), "2 2");
        d.post([&] { enter_page(t.host.pages[2], t.host.pages[2]), returned = true; });
        EXPECT_FALSE(d.flush(2));
        d.quit(3);
        EXPECT_TRUE(d.flush());
    });
    EXPECT_TRUE(returned);
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(d.flush_timed_out);
}

} // namespace
