// The status window: a modal dialog created once and afterwards only hidden and shown
// again. Its pages ("General", "Wi-Fi", "History") are child dialogs of a tab page host.
#include "statuswin/status_window.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "resource.h"
#include "shell/common_libraries.h"
#include <shellapi.h>
#include "status/device_record.h"
#include "statuswin/history_page.h"
#include "statuswin/network_picture.h"
#include "statuswin/tab_host.h"

// Google Maps takes q=latitude,+longitude in signed decimal degrees; the host must stay
// within 47 characters so that the URL and both padded fields fit map_url.
static const char map_host[] = "www.google.com";
static_assert(sizeof(map_host) - 1 <= 47, "map host too long for map_url");

int status_window_shown = 0;

// Written once by the main thread after status_tabs is complete; the worker's refresh
// reads it first and only then status_tabs.
static std::atomic<HWND> status_dialog{nullptr};
static TabHost status_tabs;
static char map_url[128];

static const char* const status_tab_titles[] = {"General", "Wi-Fi", "History", nullptr};
static const LPCSTR status_page_templates[] = {MAKEINTRESOURCEA(IDD_PAGE_GENERAL),
                                               MAKEINTRESOURCEA(IDD_PAGE_WIFI),
                                               MAKEINTRESOURCEA(IDD_PAGE_HISTORY), nullptr};
static const int kHistoryPage = 2; // index into status_tabs.pages

struct StatusRow {
    int page; // index into status_tabs.pages
    int control;
    StatusField DeviceRecord::*field;
};

// The value controls in the order they are written: General page, then Wi-Fi page.
static const StatusRow status_rows[] = {
    {0, IDC_CELL_HARDWARE, &DeviceRecord::cell_hardware},
    {0, IDC_WIFI_HARDWARE, &DeviceRecord::wifi_hardware},
    {0, IDC_PRIORITY, &DeviceRecord::priority},
    {0, IDC_FIRMWARE_VERSION, &DeviceRecord::firmware_version},
    {0, IDC_IMEI, &DeviceRecord::imei},
    {0, IDC_MODEM_ID, &DeviceRecord::modem_id},
    {0, IDC_WWAN_IP, &DeviceRecord::wwan_ip},
    {0, IDC_SIGNAL_QUALITY, &DeviceRecord::signal_quality},
    {0, IDC_UPTIME, &DeviceRecord::uptime},
    {0, IDC_NETWORK_TYPE, &DeviceRecord::network_type},
    {0, IDC_ACTIVITY_GROUP, &DeviceRecord::activity_caption},
    {0, IDC_DATA_SENT, &DeviceRecord::data_sent},
    {0, IDC_DATA_RECEIVED, &DeviceRecord::data_received},
    {0, IDC_DATA_TOTAL, &DeviceRecord::data_total},
    {0, IDC_LATITUDE, &DeviceRecord::latitude},
    {0, IDC_LONGITUDE, &DeviceRecord::longitude},
    {0, IDC_LAT_HEMISPHERE, &DeviceRecord::lat_hemisphere},
    {0, IDC_LON_HEMISPHERE, &DeviceRecord::lon_hemisphere},
    {0, IDC_SPEED, &DeviceRecord::speed},
    {0, IDC_ODOMETER, &DeviceRecord::odometer},
    {1, IDC_WIFI_MODE, &DeviceRecord::wifi_mode},
    {1, IDC_AP_SSID, &DeviceRecord::ap_ssid},
    {1, IDC_AP_MAC, &DeviceRecord::ap_mac},
    {1, IDC_TX_POWER, &DeviceRecord::tx_power},
    {1, IDC_LINK_QUALITY, &DeviceRecord::link_quality},
    {1, IDC_RX_POWER, &DeviceRecord::rx_power},
    {1, IDC_NOISE_LEVEL, &DeviceRecord::noise_level},
    {1, IDC_WIFI_IP, &DeviceRecord::wifi_ip},
};

static INT_PTR CALLBACK status_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

static void select_status_tab(int index) {
    HWND tab = status_tabs.tab;
    SendMessageA(tab, TCM_SETCURSEL, index, 0);
    // TCM_SETCURSEL does not notify; the tab control hands this header on to its parent.
    int id = GetDlgCtrlID(tab);
    NMHDR header = {};
    header.hwndFrom = tab;
    header.idFrom = static_cast<UINT_PTR>(id);
    header.code = static_cast<UINT>(TCN_SELCHANGE);
    SendMessageA(tab, WM_NOTIFY, id, reinterpret_cast<LPARAM>(&header));
}

void open_status_window(HWND owner) {
    status_window_shown = 1;
    HWND dialog = status_dialog.load(std::memory_order_acquire);
    if (dialog) {
        ShowWindow(dialog, SW_RESTORE);
        SetForegroundWindow(dialog);
        return;
    }
    ensure_common_controls(); // the tab control and the history's list view
    history_page_register();  // the history's graph
    // Never ended, only hidden: this returns when the thread is told to quit.
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_STATUS), owner,
                    status_dialog_proc, 0);
}

void hide_status_window() {
    status_window_shown = 0;
    HWND dialog = status_dialog.load(std::memory_order_acquire);
    if (!dialog) return;
    select_status_tab(0); // the window always comes back on the General page
    ShowWindow(dialog, SW_HIDE);
}

void refresh_status_window() {
    if (!status_dialog.load(std::memory_order_acquire)) return;
    for (const StatusRow& row : status_rows) {
        const char* text = device.*row.field;
        // The group box keeps its last caption while the unit reports none.
        if (row.control == IDC_ACTIVITY_GROUP && strlen(text) == 0) continue;
        if (row.page >= status_tabs.page_count) continue; // a page the host could not create
        SetWindowTextA(GetDlgItem(status_tabs.pages[row.page], row.control), text);
    }
    if (kHistoryPage < status_tabs.page_count)
        history_page_refresh(status_tabs.pages[kHistoryPage]);
    int sel = static_cast<int>(SendMessageA(status_tabs.tab, TCM_GETCURSEL, 0, 0));
    if (sel >= 0 && sel < status_tabs.page_count && status_tabs.pages[sel] != nullptr)
        RedrawWindow(status_tabs.pages[sel], nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

HWND status_window_handle() {
    return status_dialog.load(std::memory_order_acquire);
}

static void open_location_map() {
    memset(map_url, 0, sizeof(map_url));
    // Both fields go in as stored, padding blanks included.
    snprintf(map_url, sizeof(map_url), "https://%s/maps?q=%s,+%s", map_host, device.latitude,
             device.longitude);
    ShellExecuteA(nullptr, "open", map_url, nullptr, nullptr, SW_SHOWNORMAL);
}

static void init_status_dialog(HWND dialog) {
    status_window_shown = 1;
    tab_host_init(&status_tabs, GetDlgItem(dialog, IDC_STATUS_TAB), status_tab_titles,
                  status_page_templates, status_dialog_proc, nullptr, 1);
    if (kHistoryPage < status_tabs.page_count) history_page_init(status_tabs.pages[kHistoryPage]);
    pick_network_picture(dialog);
    status_dialog.store(dialog, std::memory_order_release);
    refresh_status_window();
    // Every page is visible from its template: selecting each once, the last first, leaves
    // only the General page shown once the hide has selected it.
    for (int i = status_tabs.page_count - 1; i >= 1; --i)
        select_status_tab(i);
    hide_status_window();
}

// Also the dialog procedure of the host's pages, which forward their messages here; it
// never looks at the window handle beyond initialisation.
static INT_PTR CALLBACK status_dialog_proc(HWND window, UINT message, WPARAM wparam,
                                           LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        init_status_dialog(window);
        return FALSE; // no default focus
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDOK:
            hide_status_window();
            break;
        case IDC_VIEW_LOCATION:
            open_location_map();
            break;
        case IDC_HISTORY_COPY:
            history_page_copy(window);
            break;
        default: // IDCANCEL included: Esc leaves the window open
            break;
        }
        return 0;
    case WM_NOTIFY:
        if (wparam == IDC_STATUS_TAB)
            return status_tabs.on_notify(reinterpret_cast<NMHDR*>(lparam));
        if (wparam == IDC_HISTORY_EVENTS) // from the history page, forwarded by the host
            return history_page_notify(reinterpret_cast<NMHDR*>(lparam));
        return 0;
    case WM_CLOSE:
        hide_status_window();
        return 0;
    default:
        return 0;
    }
}
