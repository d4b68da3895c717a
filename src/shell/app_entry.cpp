// Process entry of VORLIX Viewer: one instance, the hidden main window, the message loop.
#include <windows.h>

#include "link/settings_file.h"
#include "shell/main_window.h"
#include "shell/user_options.h"

namespace {

// Registered before WinMain runs, so the window procedure knows the message from the start.
const bool taskbar_message_registered =
    (taskbar_created_message = RegisterWindowMessageA("TaskbarCreated")) != 0;

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    (void)taskbar_message_registered;
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "VORLIXViewerMutex__");
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        MessageBoxA(nullptr, "Another instance of this application is already running.", APP_TITLE,
                    MB_ICONERROR);
        CloseHandle(mutex);
        return -1;
    }

    // The folder the viewer starts in keeps the settings for the whole run.
    settings_set_path("telnet.conf");
    char start_folder[MAX_PATH];
    DWORD folder_length = GetCurrentDirectoryA(sizeof(start_folder), start_folder);
    if (folder_length > 0 && folder_length < sizeof(start_folder))
        options_set_start_folder(start_folder); // the logon shortcut starts the viewer there
    if (!register_main_window_class(instance)) return 0;
    HWND window = create_main_window(instance);
    if (!window) {
        // No window means no tray icon and no worker: nothing could ever end the loop.
        if (mutex) CloseHandle(mutex);
        return 0;
    }
    ShowWindow(window, SW_HIDE);
    offer_first_configuration(window, "telnet.conf");

    int exit_code = 0;
    MSG message;
    for (;;) {
        BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) {
            exit_code = static_cast<int>(message.wParam);
            break;
        }
        if (got < 0) break;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (mutex) CloseHandle(mutex);
    // A worker that did not stop (a write to a hung network folder) may hold a lock that the
    // runtime's exit would wait for: end the process without running it.
    if (worker_thread) TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exit_code));
    return exit_code;
}
