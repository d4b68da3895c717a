// The status window in-process: its life from before creation through every close path,
// refreshes from a worker-like thread, and the map link.
#include <gtest/gtest.h>

#include "resource.h"
#include "shell_test_support.h"
#include "statuswin/status_window.h"

namespace {

const char title[] = "VORLIX Connection Status";
using shelltest::text_of;

const std::string kBlank(31, ' ');

// A stand-in for the main window: a tray click opens the status window.
LRESULT CALLBACK owner_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != TRAY_CALLBACK_MESSAGE || lparam != WM_LBUTTONUP)
        return DefWindowProcA(window, message, wparam, lparam);
    open_status_window(window);
    return 0;
}

// The value control of each status field, on the General page or (true) the Wi-Fi page.
// clang-format off
const struct { bool wifi; int id; const char* field; } rows[] = {
    {false, IDC_CELL_HARDWARE, "cell_hardware"}, {false, IDC_WIFI_HARDWARE, "wifi_hardware"},
    {false, IDC_PRIORITY, "priority"}, {false, IDC_FIRMWARE_VERSION, "firmware_version"},
    {false, IDC_IMEI, "imei"}, {false, IDC_MODEM_ID, "modem_id"}, {false, IDC_WWAN_IP, "wwan_ip"},
    {false, IDC_SIGNAL_QUALITY, "signal_quality"}, {false, IDC_UPTIME, "uptime"},
    {false, IDC_NETWORK_TYPE, "network_type"}, {false, IDC_DATA_SENT, "data_sent"},
    {false, IDC_DATA_RECEIVED, "data_received"}, {false, IDC_DATA_TOTAL, "data_total"},
    {false, IDC_LATITUDE, "latitude"}, {false, IDC_LONGITUDE, "longitude"},
    {false, IDC_LAT_HEMISPHERE, "lat_hemisphere"}, {false, IDC_LON_HEMISPHERE, "lon_hemisphere"},
    {false, IDC_SPEED, "speed"}, {false, IDC_ODOMETER, "odometer"}, {true, IDC_WIFI_MODE, "wifi_mode"},
    {true, IDC_AP_SSID, "ap_ssid"}, {true, IDC_AP_MAC, "ap_mac"}, {true, IDC_TX_POWER, "tx_power"},
    {true, IDC_LINK_QUALITY, "link_quality"}, {true, IDC_RX_POWER, "rx_power"},
    {true, IDC_NOISE_LEVEL, "noise_level"}, {true, IDC_WIFI_IP, "wifi_ip"},
    {false, IDC_ACTIVITY_GROUP, "activity_caption"}};
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

    WNDCLASSA wc = {};
    wc.lpfnWndProc = owner_proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "VorlixStatusTestOwner";
    RegisterClassA(&wc);
    HWND owner = CreateWindowExA(0, wc.lpszClassName, "owner", 0, 0, 0, 0, 0, nullptr, nullptr,
                                 wc.hInstance, nullptr);
    shelltest::Driver d;
    d.run(
        [&] {
            HWND dlg = nullptr;
            auto click = [&] {
                PostMessageA(owner, TRAY_CALLBACK_MESSAGE, TRAY_ICON_ID, WM_LBUTTONUP);
                for (int i = 0; i < 3000 && !(dlg && IsWindowVisible(dlg)); ++i, Sleep(1))
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

            // While hidden: the worker's refresh, each field named by its text.
            for (int i = 0; i < STATUS_FIELD_COUNT; ++i)
                snprintf(*status_field_at(device, i), 32, "%s", status_field_name(i));
            refresh_status_window();
            for (const auto& row : rows)
                EXPECT_EQ(text_of(GetDlgItem(row.wifi ? wifi : general, row.id)), row.field);
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
                EXPECT_EQ(d.focus(), map_button);
                SendMessageA(tab, TCM_SETCURFOCUS, 1, 0);
                SendMessageA(tab, TCM_SETCURFOCUS, 0, 0);
                d.flush();
            }
            const std::string map = "null|open|https://www.google.com/maps?q=";
            EXPECT_EQ(d.get<std::vector<std::string>>([] { return shelltest::launches; }),
                      (std::vector<std::string>{map + "latitude,+longitude|null|null|1",
                                                map + kBlank + ",+" + kBlank + "|null|null|1"}));
            d.quit();
        },
        [&] {
            MSG msg;
            while (GetMessageA(&msg, nullptr, 0, 0) > 0)
                DispatchMessageA(&msg);
        });
    EXPECT_FALSE(d.flush_timed_out);
}

} // namespace
