#include "res/resource.h"
#include "shell/tray_menu.h"

INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        about_dialog = dialog;
        return TRUE;
    case WM_COMMAND:
        // Only OK (or Enter); Escape leaves the dialog open.
        if (wparam != IDOK) return FALSE;
        about_dialog = nullptr;
        EndDialog(dialog, 0);
        return TRUE;
    case WM_CLOSE:
        about_dialog = nullptr;
        EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}
