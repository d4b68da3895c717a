// The smallest tray program we can write: one hidden window and one tray icon, nothing
// else. The benchmark measures it beside the viewer in the same run, so the figures show
// what the viewer costs above what Wine and a bare tray icon already cost.
// With the argument "platform" it also does the platform set-up the viewer does before any
// work of its own (Winsock and one more thread that only sleeps; the viewer loads the
// common controls and dialog libraries only when a dialog first opens), which splits the viewer's
// figure into what the system libraries take and what the viewer itself takes.
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <cstring>

namespace {

const char kClassName[] = "VORLIXMinimalTray";
NOTIFYICONDATAA tray_icon;

LRESULT CALLBACK minimal_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CREATE:
        tray_icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
        tray_icon.hWnd = window;
        tray_icon.uID = 1;
        tray_icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        tray_icon.uCallbackMessage = WM_APP;
        tray_icon.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
        lstrcpynA(tray_icon.szTip, "minimal tray", sizeof tray_icon.szTip);
        Shell_NotifyIconA(NIM_ADD, &tray_icon);
        return 0;
    case WM_DESTROY:
        Shell_NotifyIconA(NIM_DELETE, &tray_icon);
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

DWORD WINAPI idle_thread(void*) {
    for (;;)
        Sleep(1000);
}

// Loaded by name, so that the bare program does not even import these libraries.
void platform_setup() {
    typedef int(WINAPI * StartupFn)(WORD, WSADATA*);
    HMODULE sockets_dll = LoadLibraryA("ws2_32.dll");
    StartupFn startup = reinterpret_cast<StartupFn>(
        reinterpret_cast<void*>(GetProcAddress(sockets_dll, "WSAStartup")));
    WSADATA data;
    if (startup) startup(0x0202, &data);
    CloseHandle(CreateThread(nullptr, 0, idle_thread, nullptr, 0, nullptr));
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
    if (command_line && strstr(command_line, "platform")) platform_setup();
    WNDCLASSEXA window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = minimal_proc;
    window_class.hInstance = instance;
    window_class.lpszClassName = kClassName;
    if (!RegisterClassExA(&window_class)) return 1;
    if (!CreateWindowExA(0, kClassName, "minimal tray", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                         CW_USEDEFAULT, 100, 100, nullptr, nullptr, instance, nullptr))
        return 1;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
