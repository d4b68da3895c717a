#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "link/link_flags.h"
#include "link/link_state.h"
#include "link/settings_file.h"
#include "res/resource.h"
#include "shell/main_window.h"
#include "shell/tray_menu.h"
#include "status/device_record.h"

namespace {

// The address control is driven with its own messages: Wine's control neither shows a text
// set with WM_SETTEXT nor reports typed fields through WM_GETTEXT. A stored address that is
// not a dotted quad shows as blank fields.
void show_address(HWND dialog, const char* ip) {
    unsigned octet[4];
    if (parse_dotted_address(ip, octet))
        SendDlgItemMessageA(dialog, IDC_IPADDRESS, IPM_SETADDRESS, 0,
                            MAKEIPADDRESS(octet[0], octet[1], octet[2], octet[3]));
    else
        SendDlgItemMessageA(dialog, IDC_IPADDRESS, IPM_CLEARADDRESS, 0, 0);
}

// The dotted text of the address, or empty while every field is blank.
void read_address(HWND dialog, char* ip, size_t size) {
    DWORD address = 0;
    LRESULT fields = SendDlgItemMessageA(dialog, IDC_IPADDRESS, IPM_GETADDRESS, 0,
                                         reinterpret_cast<LPARAM>(&address));
    if (fields == 0) {
        ip[0] = '\0';
        return;
    }
    snprintf(ip, size, "%u.%u.%u.%u", static_cast<unsigned>(FIRST_IPADDRESS(address)),
             static_cast<unsigned>(SECOND_IPADDRESS(address)),
             static_cast<unsigned>(THIRD_IPADDRESS(address)),
             static_cast<unsigned>(FOURTH_IPADDRESS(address)));
}

void show_settings(HWND dialog) {
    // A copy taken under the settings lock: the worker may be re-reading the file.
    LinkSettings shown;
    settings_snapshot(device, &shown);
    // The stored user name and password end with a CR; show them without it.
    strip_line_ends(shown.username, strlen(shown.username));
    strip_line_ends(shown.password, strlen(shown.password));

    show_address(dialog, shown.ip);
    SetDlgItemTextA(dialog, IDC_PORT, shown.port);
    SetDlgItemTextA(dialog, IDC_USERNAME, shown.username);
    SetDlgItemTextA(dialog, IDC_PASSWORD, shown.password);
}

// False when the file could not be written: the user is told, and nothing else happens.
bool save_and_reconnect(HWND dialog) {
    char ip[32] = "";
    char port[32] = "";
    char username[32] = "";
    char password[32] = "";
    read_address(dialog, ip, sizeof(ip));
    GetDlgItemTextA(dialog, IDC_PORT, port, sizeof(port));
    GetDlgItemTextA(dialog, IDC_USERNAME, username, sizeof(username));
    GetDlgItemTextA(dialog, IDC_PASSWORD, password, sizeof(password));
    if (!settings_write(ip, port, username, password)) {
        MessageBoxA(dialog,
                    "Unable to save the connection settings. Please make sure telnet.conf can "
                    "be written.",
                    APP_TITLE, MB_OK | MB_ICONWARNING);
        return false;
    }
    settings_read(device);
    // Only now, with the fields rewritten, may the worker reconnect.
    raise_reconnect(REASON_NEW_SETTINGS);
    return true;
}

void close_dialog(HWND dialog) {
    config_dialog = nullptr;
    EndDialog(dialog, 0);
}

} // namespace

INT_PTR CALLBACK config_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        config_dialog = dialog;
        show_settings(dialog);
        return TRUE;
    case WM_COMMAND:
        if (wparam == IDOK) {
            if (save_and_reconnect(dialog)) close_dialog(dialog); // else the dialog stays open
            return TRUE;
        }
        if (wparam == IDCANCEL) {
            close_dialog(dialog);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        close_dialog(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}
