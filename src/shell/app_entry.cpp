// Process entry of VORLIX Viewer: one instance, the hidden main window, the message loop.
#include <windows.h>

#include "shell/main_window.h"

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

    if (!register_main_window_class(instance)) return 0;
    HWND window = create_main_window(instance);
    if (!window) {
        // No window means no tray icon and no worker: nothing could ever end the loop.
        if (mutex) CloseHandle(mutex);
        return 0;
    }
    ShowWindow(window, SW_HIDE);

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
    return exit_code;
}
