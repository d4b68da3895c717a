// The smallest tray program we can write: one hidden window and one tray icon, nothing
// else. The benchmark measures it beside the viewer in the same run, so the figures show
// what the viewer costs above what Wine and a bare tray icon already cost.
#include <windows.h>
#include <shellapi.h>

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

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
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
