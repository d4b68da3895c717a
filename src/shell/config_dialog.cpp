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

// The dotted text of the address, or empty unless all four fields are filled in.
void read_address(HWND dialog, char* ip, size_t size) {
    DWORD address = 0;
    LRESULT fields = SendDlgItemMessageA(dialog, IDC_IPADDRESS, IPM_GETADDRESS, 0,
                                         reinterpret_cast<LPARAM>(&address));
    if (fields != 4) {
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

    // No more than a read keeps: a longer user name or password would be cut in the file and
    // the login would then fail for ever.
    SendDlgItemMessageA(dialog, IDC_PORT, EM_LIMITTEXT, 5, 0);
    SendDlgItemMessageA(dialog, IDC_USERNAME, EM_LIMITTEXT, SETTINGS_LOGIN_MAX, 0);
    SendDlgItemMessageA(dialog, IDC_PASSWORD, EM_LIMITTEXT, SETTINGS_LOGIN_MAX, 0);
    show_address(dialog, shown.ip);
    SetDlgItemTextA(dialog, IDC_PORT, shown.port);
    SetDlgItemTextA(dialog, IDC_USERNAME, shown.username);
    SetDlgItemTextA(dialog, IDC_PASSWORD, shown.password);
}

// A user name or password the worker can log in with: whole after a read, no quote to end it.
bool usable_login(const char* text) {
    size_t length = strlen(text);
    return length > 0 && length <= SETTINGS_LOGIN_MAX && strchr(text, '"') == nullptr;
}

// The refusal for the first field the worker could not use, or null when all are usable.
const char* refusal(const char* ip, const char* port, const char* username, const char* password,
                    int* control) {
    int number = 0;
    if (ip[0] == '\0') {
        *control = IDC_IPADDRESS;
        return "Please enter the unit's IP Address.";
    }
    if (!settings_port(port, &number)) {
        *control = IDC_PORT;
        return "Please enter a Port from 1 to 65535.";
    }
    if (!usable_login(username)) {
        *control = IDC_USERNAME;
        return "Please enter a Username of 1 to 21 characters, without double quotes.";
    }
    if (!usable_login(password)) {
        *control = IDC_PASSWORD;
        return "Please enter a Password of 1 to 21 characters, without double quotes.";
    }
    return nullptr;
}

// False when a field is unusable or the file could not be written: the user is told, the
// dialog stays open and nothing else happens.
bool save_and_reconnect(HWND dialog) {
    char ip[32] = "";
    char port[32] = "";
    char username[32] = "";
    char password[32] = "";
    read_address(dialog, ip, sizeof(ip));
    GetDlgItemTextA(dialog, IDC_PORT, port, sizeof(port));
    GetDlgItemTextA(dialog, IDC_USERNAME, username, sizeof(username));
    GetDlgItemTextA(dialog, IDC_PASSWORD, password, sizeof(password));
    int control = 0;
    if (const char* text = refusal(ip, port, username, password, &control)) {
        MessageBoxA(dialog, text, APP_TITLE, MB_OK | MB_ICONWARNING);
        SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, control)),
                     TRUE);
        return false;
    }
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
