#include "shell/tray_menu.h"

#include <cstdio>
#include <cstring>

#include <shellapi.h>

#include "link/link_flags.h"
#include "link/settings_file.h"
#include "res/resource.h"
#include "shell/common_libraries.h"
#include "shell/main_window.h"
#include "shell/tray_icon.h"
#include "shell/user_options.h"
#include "status/device_record.h"
#include "status/device_requests.h"
#include "statuswin/status_window.h"

HWND about_dialog = nullptr;
HWND config_dialog = nullptr;
int log_dialog_busy = 0;
char log_path[256];

namespace {

const char kNoLogLink[] =
    "Unable to get log data. Please make sure the ethernet cable is properly connected.";
const char kNoTelnet[] =
    "Unable to open telnet session. Please make sure telnet client is installed.";

bool connected() {
    return device.socket.load() != NO_SOCKET;
}

int ask(const char* text) {
    return MessageBoxA(main_window, text, APP_TITLE, MB_OKCANCEL | MB_ICONWARNING);
}

void refuse(const char* text) {
    MessageBoxA(main_window, text, APP_TITLE, MB_OK | MB_ICONWARNING);
}

// An address octet: a decimal number of 1 to max_digits digits without a leading zero, at
// most limit. Advances text past it.
bool take_number(const char*& text, int max_digits, unsigned limit, unsigned* value) {
    if (text[0] < '0' || text[0] > '9') return false;
    if (text[0] == '0' && text[1] >= '0' && text[1] <= '9') return false;
    unsigned result = 0;
    int digits = 0;
    while (*text >= '0' && *text <= '9') {
        if (++digits > max_digits) return false;
        result = result * 10 + static_cast<unsigned>(*text++ - '0');
    }
    if (result > limit) return false;
    *value = result;
    return true;
}

void command_exit() {
    if (ask("Are you sure you want to terminate this program?") == IDOK)
        SendMessageA(main_window, WM_DESTROY, 0, 0);
}

void command_about() {
    if (about_dialog) return;
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUT), main_window,
                    about_dialog_proc, 0);
}

void command_config() {
    if (config_dialog) return;
    ensure_common_controls(); // the IP address control
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_CONFIG), main_window,
                    config_dialog_proc, 0);
}

void command_powercycle() {
    if (ask("Are you sure you want to powercycle your VORLIX?") != IDOK) return;
    if (!connected()) {
        refuse("Unable to perform powercycle. Please make sure the ethernet cable is properly "
               "connected.");
        return;
    }
    raise_request(REQUEST_POWER_CYCLE);
}

void command_telnet() {
    LinkSettings settings; // under the settings lock: the worker may be re-reading the file
    settings_snapshot(device, &settings);
    char parameters[128];
    if (!telnet_parameters(settings.ip, settings.port, parameters, sizeof(parameters))) {
        MessageBoxA(nullptr,
                    "Unable to open telnet session. The IP address or port in the connection "
                    "settings is not valid.",
                    APP_TITLE, MB_OK | MB_ICONWARNING);
        return;
    }
    // The system's own client by its full path, started in the system directory: a
    // telnet.exe in the current directory (a zip unpacked in Downloads, a log's folder) or on
    // PATH is never the one run, as it would be through cmd and the bare word "telnet".
    char system_dir[MAX_PATH];
    UINT length = GetSystemDirectoryA(system_dir, sizeof(system_dir));
    char telnet[MAX_PATH + 16];
    HINSTANCE result = nullptr; // a failure, unless started below
    if (length > 0 && length < sizeof(system_dir) &&
        snprintf(telnet, sizeof(telnet), "%s\\telnet.exe", system_dir) < int(sizeof(telnet)))
        result = ShellExecuteA(nullptr, "open", telnet, parameters, system_dir, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(result) <= 32) MessageBoxA(nullptr, kNoTelnet, APP_TITLE, MB_OK);
}

void command_log_file() {
    if (!connected()) {
        refuse(kNoLogLink);
        return;
    }
    if (log_dialog_busy) return;
    log_dialog_busy = 1;

    time_t now = time(nullptr);
    struct tm local;
    memset(&local, 0, sizeof(local));
    if (const struct tm* converted = localtime(&now)) local = *converted;

    default_log_name(device.imei, local, log_path, sizeof(log_path));

    OPENFILENAMEA save;
    memset(&save, 0, sizeof(save));
    save.lStructSize = sizeof(OPENFILENAMEA);
    save.hwndOwner = nullptr;
    save.lpstrFile = log_path;
    save.nMaxFile = 255;
    save.lpstrFilter = "Text Files (*.TXT)\0*.TXT\0All Files (*.*)\0*.*\0";
    save.nFilterIndex = 1;
    save.lpstrTitle = "Save Log As...";
    save.lpstrDefExt = "TXT";
    // OFN_NOCHANGEDIR: the folder the user saves in must not become the current directory.
    save.Flags = OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR;

    if (load_and_get_save_file_name(&save)) {
        // The link may have gone while the dialog was open.
        if (!connected()) {
            refuse(kNoLogLink);
        } else {
            update_tray(false, true);
            request_log_capture(log_path);
        }
    }
    log_dialog_busy = 0;
}

} // namespace

void default_log_name(const char* imei, const struct tm& when, char* out, size_t size) {
    char name[32];
    snprintf(name, sizeof(name), "%.31s", imei);
    size_t length = strlen(name);
    while (length > 0 && name[length - 1] == ' ') // the field's blank filling
        name[--length] = '\0';
    // The unit's text becomes part of a path: only letters and digits are taken.
    bool usable = length > 0;
    for (size_t i = 0; i < length; ++i) {
        char c = name[i];
        usable =
            usable && ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'));
    }
    snprintf(out, size, "%s-%02d%02d%02d.TXT", usable ? name : "DISCONNECTED",
             (when.tm_mon + 1) % 100, when.tm_mday % 100, when.tm_year % 100);
}

bool parse_dotted_address(const char* text, unsigned octet[4]) {
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && *text++ != '.') return false;
        if (!take_number(text, 3, 255, &octet[i])) return false;
    }
    return *text == '\0';
}

bool telnet_parameters(const char* ip, const char* port, char* out, size_t size) {
    if (size > 0) out[0] = '\0';
    unsigned octet[4];
    int port_number = 0;
    if (!parse_dotted_address(ip, octet) || !settings_port(port, &port_number)) return false;
    int written =
        snprintf(out, size, "%u.%u.%u.%u %d", octet[0], octet[1], octet[2], octet[3], port_number);
    if (written < 0 || static_cast<size_t>(written) >= size) {
        if (size > 0) out[0] = '\0';
        return false;
    }
    return true;
}

namespace {

// Tray commands (the menu included) now running, nested in each other's boxes and dialogs.
int commands_running = 0;
bool status_open_deferred = false;

void begin_command() {
    ++commands_running;
}

void end_command() {
    if (--commands_running > 0 || !status_open_deferred) return;
    status_open_deferred = false;
    MSG quit;
    if (PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) return; // Exit was chosen
    open_status_window(main_window);
}

} // namespace

void request_status_window() {
    // The first opening runs a dialog loop that never returns. Started inside a command's box
    // or dialog, it would keep that box's answer from ever arriving (Exit not ending, a Save
    // never starting its capture), so it waits until the commands have returned.
    if (commands_running > 0 && status_window_handle() == nullptr) {
        status_open_deferred = true;
        return;
    }
    open_status_window(main_window);
}

void run_tray_command(int id) {
    if (id == IDM_STATUS) {
        request_status_window();
        return;
    }
    begin_command();
    switch (id) {
    case IDM_EXIT:
        command_exit();
        break;
    case IDM_ABOUT:
        command_about();
        break;
    case IDM_POWERCYCLE:
        command_powercycle();
        break;
    case IDM_TELNET:
        command_telnet();
        break;
    case IDM_CONFIG:
        command_config();
        break;
    case IDM_LOGFILE:
        command_log_file();
        break;
    case IDM_NOTIFY_LINK_LOSS:
        // Kept for this run even when the registry refuses it.
        set_notify_on_link_loss(!notify_on_link_loss());
        break;
    case IDM_START_AT_LOGON:
        if (!set_start_at_logon(!start_at_logon()))
            refuse("Unable to change the shortcut in the Startup folder.");
        break;
    default:
        break;
    }
    end_command();
}

void show_tray_menu() {
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    begin_command(); // the menu's own loop counts too
    AppendMenuA(menu, MF_STRING, IDM_EXIT, "Exit");
    AppendMenuA(menu, MF_STRING, IDM_ABOUT, "About");
    AppendMenuA(menu, MF_STRING, IDM_POWERCYCLE, "Powercycle...");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, IDM_TELNET, "Start Telnet Session");
    AppendMenuA(menu, MF_STRING, IDM_CONFIG, "Connection Configuration");
    AppendMenuA(menu, MF_STRING, IDM_STATUS, "VORLIX Connection Status");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, IDM_LOGFILE, "Log File");
    // Below the first nine, so theirs keep their positions.
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING | (notify_on_link_loss() ? MF_CHECKED : MF_UNCHECKED),
                IDM_NOTIFY_LINK_LOSS, "Notify on Link Loss");
    AppendMenuA(menu, MF_STRING | (start_at_logon() ? MF_CHECKED : MF_UNCHECKED),
                IDM_START_AT_LOGON, "Start at Logon");

    POINT at = {0, 0};
    GetCursorPos(&at);
    // Without the foreground the menu would not close on a click elsewhere.
    SetForegroundWindow(main_window);
    int chosen = static_cast<int>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY, at.x, at.y, 0, main_window, nullptr));
    SendMessageA(main_window, WM_NULL, 0, 0);
    DestroyMenu(menu);
    run_tray_command(chosen);
    end_command();
}
