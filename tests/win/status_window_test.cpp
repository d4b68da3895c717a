// The status window in-process: its life from before creation through every close path,
// refreshes from a worker-like thread after a poll against the stand-in, and the map link.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "link/console_link.h"
#include "link/link_flags.h"
#include "link/link_timing.h"
#include "link/socket_layer.h"
#include "resource.h"
#include "shell/shell_seams.h"
#include "status/device_record.h"
#include "status/poll_cycle.h"
#include "statuswin/status_window.h"
#include "shell_test_support.h"
#include "unitsim.h"

namespace {

const char title[] = "VORLIX Connection Status";

std::string padded(const std::string& text, size_t width = 31) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}
std::string blanks(size_t n) {
    return std::string(n, ' ');
}

using shelltest::rect_in_parent;
using shelltest::text_of;

// ---- a stand-in for the main window: a tray click opens the status window ----

LRESULT CALLBACK owner_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == TRAY_CALLBACK_MESSAGE && lparam == WM_LBUTTONUP) {
        open_status_window(window);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

HWND make_owner() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = owner_proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "VorlixStatusTestOwner";
    RegisterClassA(&wc);
    return CreateWindowExA(0, wc.lpszClassName, "owner", WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
                           CW_USEDEFAULT, 350, 525, nullptr, nullptr, wc.hInstance, nullptr);
}

struct Pages {
    HWND general = nullptr;
    HWND wifi = nullptr;
};
BOOL CALLBACK find_pages(HWND child, LPARAM out) {
    auto* pages = reinterpret_cast<Pages*>(out);
    if (GetDlgItem(child, IDC_CELL_HARDWARE)) pages->general = child;
    if (GetDlgItem(child, IDC_WIFI_MODE)) pages->wifi = child;
    return TRUE;
}

bool has_visible_style(HWND window) {
    return (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

// Shown, and painted: neither the dialog nor its General page waits for a WM_PAINT.
bool on_screen(HWND dlg) {
    if (!dlg || !IsWindowVisible(dlg) || IsIconic(dlg) || GetUpdateRect(dlg, nullptr, FALSE))
        return false;
    Pages pages;
    EnumChildWindows(dlg, find_pages, reinterpret_cast<LPARAM>(&pages));
    return pages.general && !GetUpdateRect(pages.general, nullptr, FALSE);
}

double ms_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// Rows of both pages: value control, its rectangle in dialog units, and the text the frozen
// stand-in's replies give it after one poll (written from the replies by hand).
struct Row {
    bool wifi;
    int id;
    int x, y, w, h;
    const char* polled;
    size_t width;
    size_t reset_width;
};
const Row rows[] = {
    {false, IDC_CELL_HARDWARE, 90, 15, 60, 10, "MC7354", 31, 31},
    {false, IDC_WIFI_HARDWARE, 90, 25, 60, 10, "RT5370", 31, 31},
    {false, IDC_PRIORITY, 90, 35, 60, 10, "cellular", 31, 31},
    {false, IDC_FIRMWARE_VERSION, 90, 65, 65, 10, "4.2.7", 31, 31},
    {false, IDC_IMEI, 90, 75, 65, 10, "123456789012345", 31, 31},
    {false, IDC_MODEM_ID, 90, 85, 65, 10, "VX4410A", 31, 31},
    {false, IDC_WWAN_IP, 90, 95, 65, 10, "100.100.100.100", 31, 31},
    {false, IDC_SIGNAL_QUALITY, 90, 105, 60, 10, "75 %", 31, 31},
    {false, IDC_UPTIME, 90, 115, 60, 10, "1 day, 12:10", 31, 31},
    {false, IDC_NETWORK_TYPE, 90, 125, 60, 10, "LTE", 31, 31},
    {false, IDC_DATA_SENT, 20, 170, 30, 10, "12.5 MB", 15, 20},
    {false, IDC_DATA_RECEIVED, 125, 170, 30, 10, "3.1 MB", 15, 20},
    {false, IDC_DATA_TOTAL, 72, 178, 40, 10, "15.6 MB", 15, 31},
    {false, IDC_LATITUDE, 90, 205, 60, 10, "49.2742", 31, 31},
    {false, IDC_LONGITUDE, 90, 215, 60, 10, "-123.1853", 31, 31},
    {false, IDC_LAT_HEMISPHERE, 90, 225, 18, 10, "N", 31, 31},
    {false, IDC_LON_HEMISPHERE, 98, 225, 18, 10, "W", 31, 31},
    {false, IDC_SPEED, 90, 235, 60, 10, "41.4848 kph", 31, 31},
    {false, IDC_ODOMETER, 90, 245, 60, 10, "1234.5 km", 31, 31},
    {true, IDC_WIFI_MODE, 90, 15, 60, 10, "Client", 31, 31},
    {true, IDC_AP_SSID, 90, 25, 60, 10, "VORLIX-AP", 31, 31},
    {true, IDC_AP_MAC, 90, 35, 65, 10, "00:11:22:33:44:55", 31, 31},
    {true, IDC_TX_POWER, 90, 45, 60, 10, "20 dBm", 31, 31},
    {true, IDC_LINK_QUALITY, 90, 55, 60, 10, "70/70", 31, 31},
    {true, IDC_RX_POWER, 90, 65, 60, 10, "-40 dBm", 31, 31},
    {true, IDC_NOISE_LEVEL, 90, 75, 60, 10, "-95 dBm", 31, 31},
    {true, IDC_WIFI_IP, 90, 85, 65, 10, "192.168.10.1", 31, 31},
};

// The dialog manager converts position and size each on its own.
void expect_rect(HWND parent, HWND control, int x, int y, int w, int h) {
    RECT want = {x, y, w, h};
    MapDialogRect(parent, &want);
    RECT got = rect_in_parent(control);
    EXPECT_EQ(got.left, want.left);
    EXPECT_EQ(got.top, want.top);
    EXPECT_EQ(got.right - got.left, want.right);
    EXPECT_EQ(got.bottom - got.top, want.bottom);
}

// Labels and frames: text, rectangle in dialog units, and whether it is a group box.
struct Fixed {
    bool wifi;
    const char* text;
    int x, y, w, h;
    bool frame;
};
const Fixed fixed[] = {
    {false, "Hardware", 5, 5, 155, 45, true},
    {false, "Cellular:", 15, 15, 35, 10, false},
    {false, "Wi-Fi:", 15, 25, 35, 10, false},
    {false, "Priority:", 15, 35, 35, 10, false},
    {false, "Connection", 5, 55, 155, 85, true},
    {false, "Firmware Version:", 15, 65, 60, 10, false},
    {false, "IMEI/ESN:", 15, 75, 35, 10, false},
    {false, "Modem ID:", 15, 85, 40, 10, false},
    {false, "WWAN IP Address:", 15, 95, 65, 10, false},
    {false, "WWAN Signal Strength:", 15, 105, 75, 10, false},
    {false, "Uptime:", 15, 115, 30, 10, false},
    {false, "Network Type:", 15, 125, 50, 10, false},
    {false, "Sent", 20, 160, 15, 10, false},
    {false, "Received", 125, 160, 30, 10, false},
    {false, "", 39, 160, 22, 9, true},
    {false, "", 98, 160, 22, 9, true},
    {false, "Location", 5, 195, 155, 75, true},
    {false, "Latitude:", 15, 205, 60, 10, false},
    {false, "Longitude:", 15, 215, 35, 10, false},
    {false, "Direction:", 15, 225, 40, 10, false},
    {false, "Speed:", 15, 235, 65, 10, false},
    {false, "Odometer:", 15, 245, 75, 10, false},
    {true, "Wi-Fi Statistics", 5, 5, 155, 98, true},
    {true, "Wi-Fi Mode:", 15, 15, 40, 10, false},
    {true, "AP SSID:", 15, 25, 35, 10, false},
    {true, "AP MAC Address:", 15, 35, 60, 10, false},
    {true, "TX Power:", 15, 45, 65, 10, false},
    {true, "Link Quality:", 15, 55, 75, 10, false},
    {true, "RX Power:", 15, 65, 37, 10, false},
    {true, "Noise Level:", 15, 75, 48, 10, false},
    {true, "Wi-Fi IP Address:", 15, 85, 64, 10, false},
};

struct FixedSearch {
    const Fixed* want;
    RECT pixels;
    int found;
};
BOOL CALLBACK match_fixed(HWND child, LPARAM param) {
    auto* search = reinterpret_cast<FixedSearch*>(param);
    RECT r = rect_in_parent(child);
    char name[16] = "";
    GetClassNameA(child, name, sizeof(name));
    LONG style = GetWindowLongA(child, GWL_STYLE);
    bool frame = _stricmp(name, "Button") == 0 && (style & BS_TYPEMASK) == BS_GROUPBOX;
    bool label =
        _stricmp(name, "Static") == 0 && (style & (SS_TYPEMASK | WS_GROUP)) == (SS_LEFT | WS_GROUP);
    if (text_of(child) == search->want->text && frame == search->want->frame && (frame || label) &&
        r.left == search->pixels.left && r.top == search->pixels.top &&
        r.right - r.left == search->pixels.right && r.bottom - r.top == search->pixels.bottom)
        ++search->found;
    return TRUE;
}

class StatusWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        shelltest::init_shell_classes();
        net_startup();
        device_record_init();
        request_flags = 0;
        reconnect_request = 0;
        stop_reset();
        tick_ms = 5; // the stand-in answers at once: short receive ticks
        second_ms = 1000;
        shelltest::launches.clear();
    }
    void TearDown() override {
        link_close(device);
        device_record_init();
        tick_ms = 100;
    }
    shelltest::Seam<ShellExecuteFn> launch_seam_{shell_execute_fn, shelltest::record_launch};
};

TEST_F(StatusWindow, WholeLifeFromBeforeCreationThroughEveryClosePath) {
    if (status_window_handle())
        GTEST_SKIP() << "an earlier test of this process already created the status window";

    // Before the window exists: a refresh changes nothing, a hide only clears the flag.
    snprintf(device.imei, sizeof(device.imei), "%s", "999");
    refresh_status_window();
    status_window_shown = 1;
    hide_status_window();
    EXPECT_EQ(status_window_shown, 0);
    EXPECT_EQ(status_window_handle(), nullptr);
    EXPECT_EQ(shelltest::count_windows(title), 0);
    device_record_init();

    HWND owner = make_owner();
    ASSERT_NE(owner, nullptr);
    shelltest::Driver d;
    unitsim::Config config;
    config.frozen = true;
    unitsim::Server unit(config);

    std::vector<double> open_ms;
    std::vector<double> refresh_ms;
    // Each refresh repaints the current page at once; a hundred of them are for the
    // figures only (VORLIX_FIGURES=1), the test itself needs a few.
    const int refresh_runs = getenv("VORLIX_FIGURES") ? 100 : 5;

    d.run(
        [&] {
            // The tray click: the first opening creates the window.
            auto click = std::chrono::steady_clock::now();
            PostMessageA(owner, TRAY_CALLBACK_MESSAGE, TRAY_ICON_ID, WM_LBUTTONUP);
            HWND dlg = nullptr;
            for (int i = 0; i < 3000 && !on_screen(dlg); ++i) {
                dlg = FindWindowA("#32770", title);
                if (!on_screen(dlg)) Sleep(1);
            }
            open_ms.push_back(ms_since(click));
            ASSERT_NE(dlg, nullptr);
            ASSERT_TRUE(IsWindowVisible(dlg));
            d.flush();
            EXPECT_EQ(d.get<HWND>([] { return status_window_handle(); }), dlg);
            EXPECT_EQ(GetWindow(dlg, GW_OWNER), owner);
            HWND tab = GetDlgItem(dlg, IDC_STATUS_TAB);
            Pages pages;
            EnumChildWindows(dlg, find_pages, reinterpret_cast<LPARAM>(&pages));
            ASSERT_NE(pages.general, nullptr);
            ASSERT_NE(pages.wifi, nullptr);
            auto shown = [&] { return d.get<int>([] { return status_window_shown; }); };
            auto cursel = [&] { return SendMessageA(tab, TCM_GETCURSEL, 0, 0); };
            auto expect_on_general = [&](const char* when) {
                SCOPED_TRACE(when);
                EXPECT_EQ(cursel(), 0);
                EXPECT_TRUE(has_visible_style(pages.general));
                EXPECT_FALSE(has_visible_style(pages.wifi));
            };
            auto to_wifi = [&] {
                SendMessageA(tab, TCM_SETCURFOCUS, 1, 0);
                EXPECT_EQ(cursel(), 1);
                EXPECT_TRUE(IsWindowVisible(pages.wifi));
                EXPECT_FALSE(IsWindowVisible(pages.general));
            };
            auto reopen = [&](const char* when, bool timed = true) {
                SCOPED_TRACE(when);
                auto start = std::chrono::steady_clock::now();
                PostMessageA(owner, TRAY_CALLBACK_MESSAGE, TRAY_ICON_ID, WM_LBUTTONUP);
                for (int i = 0; i < 3000 && !on_screen(dlg); ++i)
                    Sleep(1);
                if (timed) open_ms.push_back(ms_since(start));
                d.flush();
                EXPECT_TRUE(IsWindowVisible(dlg));
                EXPECT_EQ(shown(), 1);
                expect_on_general("reopened");
            };

            // First opening: General tab, flag 0 although on screen; blank values and the
            // template's caption.
            EXPECT_EQ(shown(), 0);
            expect_on_general("first opening");
            EXPECT_EQ(text_of(dlg), title);
            char name[32];
            TCITEMA item = {};
            item.mask = TCIF_TEXT;
            item.pszText = name;
            item.cchTextMax = sizeof(name);
            EXPECT_EQ(SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0), 2);
            SendMessageA(tab, TCM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
            EXPECT_STREQ(name, "General");
            SendMessageA(tab, TCM_GETITEMA, 1, reinterpret_cast<LPARAM>(&item));
            EXPECT_STREQ(name, "Wi-Fi");
            for (const Row& row : rows)
                EXPECT_EQ(text_of(GetDlgItem(row.wifi ? pages.wifi : pages.general, row.id)),
                          blanks(row.reset_width))
                    << row.id;
            EXPECT_EQ(text_of(GetDlgItem(pages.general, IDC_ACTIVITY_GROUP)), "Cellular Activity");

            // The templates: every value control where its dialog units put it, values
            // left-aligned statics that never wrap (their padding blanks would push the text
            // onto a hidden second line), the one tab stop of the pages.
            for (const Row& row : rows) {
                HWND page = row.wifi ? pages.wifi : pages.general;
                HWND control = GetDlgItem(page, row.id);
                SCOPED_TRACE(row.id);
                expect_rect(page, control, row.x, row.y, row.w, row.h);
                EXPECT_EQ(GetWindowLongA(control, GWL_STYLE) &
                              (SS_TYPEMASK | WS_GROUP | WS_TABSTOP),
                          SS_LEFTNOWORDWRAP | WS_GROUP);
            }
            expect_rect(pages.general, GetDlgItem(pages.general, IDC_VIEW_LOCATION), 45, 255, 80,
                        13);
            expect_rect(pages.general, GetDlgItem(pages.general, IDC_ACTIVITY_GROUP), 5, 145, 155,
                        45);
            EXPECT_TRUE(GetWindowLongA(GetDlgItem(pages.general, IDC_VIEW_LOCATION), GWL_STYLE) &
                        WS_TABSTOP);
            expect_rect(dlg, GetDlgItem(dlg, IDOK), 65, 305, 55, 15);
            expect_rect(dlg, tab, 5, 5, 175, 295);
            EXPECT_EQ(GetWindowLongA(tab, GWL_STYLE) & (WS_TABSTOP | 0xFFFF), 0);
            EXPECT_EQ(GetWindowLongA(GetDlgItem(dlg, IDOK), GWL_STYLE) & BS_TYPEMASK,
                      BS_DEFPUSHBUTTON);

            for (const Fixed& f : fixed) {
                HWND page = f.wifi ? pages.wifi : pages.general;
                FixedSearch search = {&f, {f.x, f.y, f.w, f.h}, 0};
                MapDialogRect(page, &search.pixels);
                EnumChildWindows(page, match_fixed, reinterpret_cast<LPARAM>(&search));
                EXPECT_EQ(search.found, 1) << f.text << " at " << f.x << "," << f.y;
            }
            // The picture in the activity box: bitmap 137, 47 x 47 pixels, 24 bits.
            HWND picture = nullptr;
            for (HWND c = GetWindow(pages.general, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
                if ((GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) picture = c;
            ASSERT_NE(picture, nullptr);
            HBITMAP bitmap =
                reinterpret_cast<HBITMAP>(SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
            ASSERT_NE(bitmap, nullptr);
            BITMAP bm = {};
            GetObjectA(bitmap, sizeof(bm), &bm);
            EXPECT_EQ(bm.bmWidth, 47);
            EXPECT_EQ(bm.bmHeight, 47);
            RECT spot = {68, 151, 0, 0};
            MapDialogRect(pages.general, &spot);
            RECT at = rect_in_parent(picture);
            EXPECT_EQ(at.left, spot.left);
            EXPECT_EQ(at.top, spot.top);

            // Esc leaves it open.
            PostMessageA(dlg, WM_KEYDOWN, VK_ESCAPE, 0);
            d.flush();
            EXPECT_TRUE(IsWindowVisible(dlg));

            // CLOSE button, from the Wi-Fi page.
            to_wifi();
            PostMessageA(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
            d.flush();
            EXPECT_FALSE(IsWindowVisible(dlg));
            EXPECT_EQ(shown(), 0);
            expect_on_general("after CLOSE");

            // While hidden: one poll against the stand-in, then the worker's refresh.
            int port = unit.start(0);
            ASSERT_GT(port, 0);
            snprintf(device.ip, sizeof(device.ip), "127.0.0.1");
            snprintf(device.port, sizeof(device.port), "%d", port);
            snprintf(device.username, sizeof(device.username), "admin\r");
            snprintf(device.password, sizeof(device.password), "vorlix\r");
            device.socket = link_open(device);
            ASSERT_NE(device.socket.load(), NO_SOCKET);
            ASSERT_EQ(link_login(device), 0);
            raise_request(REQUEST_REFRESH);
            ASSERT_TRUE(poll_status(device));
            refresh_status_window();
            for (const Row& row : rows)
                EXPECT_EQ(text_of(GetDlgItem(row.wifi ? pages.wifi : pages.general, row.id)),
                          padded(row.polled, row.width))
                    << row.id;
            EXPECT_EQ(text_of(GetDlgItem(pages.general, IDC_ACTIVITY_GROUP)), "Cellular Activity");

            // The caption follows a non-empty activity_caption and keeps it while empty.
            snprintf(device.activity_caption, sizeof(device.activity_caption), "Wi-Fi Activity");
            refresh_status_window();
            EXPECT_EQ(text_of(GetDlgItem(pages.general, IDC_ACTIVITY_GROUP)), "Wi-Fi Activity");
            device.activity_caption[0] = '\0';
            refresh_status_window();
            EXPECT_EQ(text_of(GetDlgItem(pages.general, IDC_ACTIVITY_GROUP)), "Wi-Fi Activity");
            raise_request(REQUEST_REFRESH);
            ASSERT_TRUE(poll_status(device));
            refresh_status_window();
            EXPECT_EQ(text_of(GetDlgItem(pages.general, IDC_ACTIVITY_GROUP)), "Cellular Activity");

            // A later opening: flag 1, General page, the polled values already there.
            reopen("after the poll");
            EXPECT_EQ(text_of(GetDlgItem(pages.general, IDC_IMEI)), padded("123456789012345"));

            // Every other close path, each from the Wi-Fi page.
            const char* const closes[] = {"Enter", "the close box", "the main window's close"};
            for (const char* how : closes) {
                SCOPED_TRACE(how);
                to_wifi();
                if (how == closes[0]) // id 1 is the default push button
                    PostMessageA(dlg, WM_KEYDOWN, VK_RETURN, 0);
                else if (how == closes[1])
                    PostMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
                else // the main window's WM_CLOSE
                    d.call([] { hide_status_window(); });
                d.flush();
                EXPECT_FALSE(IsWindowVisible(dlg));
                EXPECT_EQ(shown(), 0);
                expect_on_general(how);
                reopen(how);
            }

            // A second request while displayed restores the same window.
            ShowWindow(dlg, SW_MINIMIZE);
            d.flush();
            reopen("while displayed", false);
            EXPECT_FALSE(IsIconic(dlg));
            EXPECT_EQ(shelltest::count_windows(title), 1);
            EXPECT_EQ(d.get<HWND>([] { return status_window_handle(); }), dlg);

            // The map link: the position as stored, padding included; then blanks. Each click
            // enters the page with the focus on the button; a switch ends that.
            HWND map_button = GetDlgItem(pages.general, IDC_VIEW_LOCATION);
            for (int click = 0; click < 2; ++click) {
                if (click == 1) reset_status();
                PostMessageA(map_button, BM_CLICK, 0, 0);
                d.flush_twice();
                EXPECT_EQ(d.focus(), map_button);
                SendMessageA(tab, TCM_SETCURFOCUS, 1, 0);
                SendMessageA(tab, TCM_SETCURFOCUS, 0, 0);
                d.flush();
            }
            const std::string map = "null|open|https://www.google.com/maps?q=";
            EXPECT_EQ(
                d.get<std::vector<std::string>>([] { return shelltest::launches; }),
                (std::vector<std::string>{map + "49.2742" + blanks(24) + ",+-123.1853" +
                                              blanks(22) + "|null|null|1",
                                          map + blanks(31) + ",+" + blanks(31) + "|null|null|1"}));

            // Refresh from this (worker-like) thread while the window is on screen.
            for (int i = 0; i < refresh_runs; ++i) {
                auto start = std::chrono::steady_clock::now();
                refresh_status_window();
                refresh_ms.push_back(ms_since(start));
            }
            d.quit();
        },
        [&] {
            MSG msg;
            while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        });
    EXPECT_FALSE(d.flush_timed_out);
    unit.stop();
    DestroyWindow(owner);

    ASSERT_EQ(refresh_ms.size(), static_cast<size_t>(refresh_runs));
    std::sort(refresh_ms.begin(), refresh_ms.end());
    printf("[ figures ] refresh_status_window from another thread, median of %d: %.3f ms\n",
           refresh_runs, (refresh_ms[(refresh_runs - 1) / 2] + refresh_ms[refresh_runs / 2]) / 2);
    for (size_t i = 0; i < open_ms.size(); ++i)
        printf("[ figures ] tray click to window on screen (%s): %.1f ms\n",
               i == 0 ? "creation" : "restore", open_ms[i]);
}

} // namespace
