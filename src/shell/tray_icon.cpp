#include "shell/tray_icon.h"

#include <cstdio>
#include <cstring>

#include "link/link_state.h"
#include "link/settings_file.h"
#include "res/resource.h"
#include "shell/user_options.h"
#include "status/device_record.h"
#include "statuswin/status_window.h"

NOTIFYICONDATAA tray_data;
int last_tray_icon = 0;
int tray_icon_loads = 0;
NOTIFYICONDATAA tray_notice;
int tray_notices = 0;

namespace {

constexpr int TRAY_TIP_SIZE = 64;       // the tooltip of the first-version layout
constexpr int TRAY_DOWN_TIP_SIZE = 128; // why the link is down needs the longer one

// update_tray runs on both threads; one lock keeps tray_data and last_tray_icon whole.
struct TrayLock {
    CRITICAL_SECTION section;
    TrayLock() { InitializeCriticalSection(&section); }
};
TrayLock tray_lock;

struct Hold {
    Hold() { EnterCriticalSection(&tray_lock.section); }
    ~Hold() { LeaveCriticalSection(&tray_lock.section); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
};

// The icon and tooltip the shell last took. A modify that changes neither is left out: the
// worker updates the tray every query, and each call is a round trip to the shell's process.
int sent_icon = 0; // last_tray_icon: a handle may be reused once destroyed
char sent_tip[sizeof(tray_data.szTip)];
bool sent_valid = false;

void notify_shell(bool add) {
    if (!add && sent_valid && sent_icon == last_tray_icon &&
        memcmp(sent_tip, tray_data.szTip, sizeof(sent_tip)) == 0)
        return;
    sent_valid = Shell_NotifyIconA(add ? NIM_ADD : NIM_MODIFY, &tray_data) != FALSE;
    sent_icon = last_tray_icon;
    memcpy(sent_tip, tray_data.szTip, sizeof(sent_tip));
}

// The number at the start of the text, read as atoi reads it, within the field's 31
// characters. Saturates instead of overflowing.
long leading_number(const char* text) {
    int i = 0;
    while (i < 31 && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < 31 && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long value = 0;
    while (i < 31 && text[i] >= '0' && text[i] <= '9') {
        if (value < 1000000) value = value * 10 + (text[i] - '0');
        ++i;
    }
    return negative ? -value : value;
}

// Cuts the field to 31 characters and drops its trailing blanks.
void trim_field(char* field) {
    field[31] = '\0';
    size_t len = strlen(field);
    while (len > 0 && field[len - 1] == ' ')
        field[--len] = '\0';
}

// Copies at most size - 1 characters; the rest of the tooltip stays zero.
void copy_tip(NOTIFYICONDATAA& data, const char* tip, size_t size) {
    memset(data.szTip, 0, sizeof(data.szTip));
    size_t len = strlen(tip);
    if (len > size - 1) len = size - 1;
    static_assert(sizeof(data.szTip) >= TRAY_DOWN_TIP_SIZE, "tooltip smaller than 128 bytes");
    memcpy(data.szTip, tip, len);
}

// The icon's resource number for the fields as they stand; -1 keeps the current icon.
int choose_tray_icon(const char* wwan_ip, const char* signal_quality) {
    if (wwan_ip[0] == '\0' || wwan_ip[0] == ' ') return IDI_NO_WWAN;
    if (strncmp(wwan_ip, "0.0.0.0", 7) == 0) return IDI_UNPLUGGED;
    long signal = leading_number(signal_quality);
    if (signal < 0) return -1;
    if (signal == 0) return IDI_SIGNAL_0;
    if (signal <= 35) return IDI_SIGNAL_1;
    if (signal <= 55) return IDI_SIGNAL_2;
    if (signal <= 75) return IDI_SIGNAL_3;
    return IDI_SIGNAL_4;
}

// The small-icon size at the DPI of the main window's monitor, which the taskbar shares (the
// window sits on the primary one). Windows before 10 lack the per-DPI calls: the system's size.
int small_icon_size() {
    typedef UINT(WINAPI * DpiForWindow)(HWND);
    typedef int(WINAPI * MetricForDpi)(int, UINT);
    HMODULE user32 = GetModuleHandleA("user32.dll");
    auto dpi_for_window = reinterpret_cast<DpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")));
    auto metric_for_dpi = reinterpret_cast<MetricForDpi>(
        reinterpret_cast<void*>(GetProcAddress(user32, "GetSystemMetricsForDpi")));
    UINT dpi = dpi_for_window && tray_data.hWnd ? dpi_for_window(tray_data.hWnd) : 0;
    if (dpi && metric_for_dpi) return metric_for_dpi(SM_CXSMICON, dpi);
    return GetSystemMetrics(SM_CXSMICON);
}

// At the current small-icon size (the .ico holds 16 to 64 px, 100 % to 400 %).
HICON load_tray_icon(int resource_id) {
    ++tray_icon_loads;
    int size = small_icon_size();
    return static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resource_id),
                                         IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

} // namespace

void tray_data_init(HWND owner) {
    Hold hold;
    if (tray_data.hIcon) DestroyIcon(tray_data.hIcon);
    memset(&tray_data, 0, sizeof(tray_data)); // the tooltip too: empty until update_tray
    // The second layout: a 128-byte tooltip (why the link is down) and balloons.
    tray_data.cbSize = NOTIFYICONDATAA_V2_SIZE;
    tray_data.hWnd = owner;
    tray_data.uID = TRAY_ICON_ID;
    tray_data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    tray_data.uCallbackMessage = TRAY_CALLBACK_MESSAGE;
    last_tray_icon = 0;
    sent_valid = false;
}

void update_tray(bool add, bool logging) {
    Hold hold;

    int icon = choose_tray_icon(device.wwan_ip, device.signal_quality);
    if (icon > 0 && icon != last_tray_icon) {
        HICON previous = tray_data.hIcon;
        tray_data.hIcon = load_tray_icon(icon);
        last_tray_icon = icon;
        if (previous) DestroyIcon(previous);
    }

    trim_field(device.signal_quality);
    trim_field(device.imei);
    trim_field(device.wwan_ip);

    // At most 127 characters: three fields of 31 and the labels.
    char text[160];
    LinkStatus link;
    link_status_get(&link);
    if (!logging && link.state == LINK_DOWN) {
        // Why and since when, instead of three empty values.
        LinkSettings settings;
        settings_snapshot(device, &settings);
        link_down_tip(link, settings.ip, settings.port, text, sizeof(text));
        copy_tip(tray_data, text, TRAY_DOWN_TIP_SIZE);
        notify_shell(add);
        return;
    }
    if (logging)
        snprintf(text, sizeof(text), "Logging...\nIMEI: %s\nWWAN IP: %s\nRSSI: %s", device.imei,
                 device.wwan_ip, device.signal_quality);
    else
        snprintf(text, sizeof(text), "IMEI: %s\nWWAN IP: %s\nRSSI: %s", device.imei, device.wwan_ip,
                 device.signal_quality);
    copy_tip(tray_data, text, TRAY_TIP_SIZE);
    notify_shell(add);
}

void show_tray_notice(const char* text) {
    if (!notify_on_link_loss()) return;
    Hold hold;
    // A copy: the balloon goes once, not again with every later update of the icon.
    tray_notice = tray_data;
    tray_notice.uFlags |= NIF_INFO;
    tray_notice.dwInfoFlags = NIIF_INFO;
    (void)snprintf(tray_notice.szInfo, sizeof(tray_notice.szInfo), "%s", text);
    (void)snprintf(tray_notice.szInfoTitle, sizeof(tray_notice.szInfoTitle), "VORLIX Viewer");
    ++tray_notices;
    Shell_NotifyIconA(NIM_MODIFY, &tray_notice);
}

void reload_tray_icon(bool add) {
    Hold hold;
    if (last_tray_icon > 0) {
        HICON previous = tray_data.hIcon;
        tray_data.hIcon = load_tray_icon(last_tray_icon);
        if (previous) DestroyIcon(previous);
    }
    sent_valid = false; // a new picture of the same icon: the shell takes it
    notify_shell(add);
}

void remove_tray_icon() {
    Hold hold;
    Shell_NotifyIconA(NIM_DELETE, &tray_data);
    sent_valid = false;
}

void refresh_views() {
    refresh_status_window();
    update_tray(false, false);
}
