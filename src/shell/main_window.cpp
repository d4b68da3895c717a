#include "shell/main_window.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "link/console_link.h"
#include "link/link_flags.h"
#include "link/link_history.h"
#include "link/link_state.h"
#include "link/socket_layer.h"
#include "link/supervisor.h"
#include "res/resource.h"
#include "shell/tray_icon.h"
#include "shell/tray_menu.h"
#include "shell/user_options.h"
#include "status/device_record.h"
#include "status/view_hooks.h"
#include "statuswin/status_window.h"

HWND main_window = nullptr;
UINT taskbar_created_message = 0;
HANDLE worker_thread = nullptr;

namespace {

constexpr char MAIN_WINDOW_CLASS[] = "VORLIXViewerClass__";
constexpr char MAIN_WINDOW_TITLE[] = "VORLIX Connection Status";

DWORD WINAPI worker_entry(LPVOID) {
    worker_main();
    return 0;
}

// Capture reports on their way from the worker to the main thread, copied into fixed slots:
// a posted message that is never dispatched (the program ends first) leaks nothing, and one
// whose post failed is shown with the next. Each report needs a Log File command that the
// main thread runs in between, so the slots never fill.
constexpr int kReportSlots = 4;
constexpr size_t kReportSize = 2048;
std::mutex report_lock;
char report_slots[kReportSlots][kReportSize];
int report_first = 0;
int report_count = 0;

// Worker: the capture's report is shown by the main thread, so the watch goes on meanwhile.
void hand_report_over(const char* text) {
    {
        std::lock_guard<std::mutex> guard(report_lock);
        if (report_count == kReportSlots) return;
        (void)snprintf(report_slots[(report_first + report_count) % kReportSlots], kReportSize,
                       "%s", text);
        ++report_count;
    }
    PostMessageA(main_window, REPORT_MESSAGE, 0, 0);
}

bool take_report(char* text) {
    std::lock_guard<std::mutex> guard(report_lock);
    if (report_count == 0) return false;
    memcpy(text, report_slots[report_first], kReportSize);
    report_first = (report_first + 1) % kReportSlots;
    --report_count;
    return true;
}

// The same box the worker used to show: no owner, OK only.
void show_reports() {
    char text[kReportSize];
    while (take_report(text))
        MessageBoxA(nullptr, text, APP_TITLE, MB_OK);
}

void start_worker() {
    if (worker_thread) return;
    stop_reset();
    {
        std::lock_guard<std::mutex> guard(report_lock);
        report_count = 0; // a report the last run could not show belongs to it
    }
    worker_thread = CreateThread(nullptr, 0, worker_entry, nullptr, 0, nullptr);
}

void on_create(HWND window) {
    reconnect_request = 0;
    device_record_init();
    // Empty, and its pages written once now: the history never grows the process later.
    history_clear();

    options_load();
    tray_data_init(window);
    update_tray(true, false);

    view_hooks.refresh_views = refresh_views;
    view_hooks.update_tray = update_tray;
    view_hooks.show_report = hand_report_over;
    view_hooks.show_notice = show_tray_notice;
    start_worker();
}

void on_destroy() {
    // A worker that did not stop still owns its socket; the process end closes it.
    if (stop_worker()) link_drop(device);
    remove_tray_icon();
    PostQuitMessage(0);
}

} // namespace

void offer_first_configuration(HWND window, const char* settings_file) {
    if (GetFileAttributesA(settings_file) != INVALID_FILE_ATTRIBUTES) return;
    PostMessageA(window, FIRST_START_MESSAGE, 0, 0);
}

bool stop_worker() {
    if (!worker_thread) return true;
    stop_request();
    const ULONGLONG deadline = GetTickCount64() + kWorkerStopMs;
    for (;;) {
        ULONGLONG now = GetTickCount64();
        DWORD wait = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        DWORD woke = MsgWaitForMultipleObjects(1, &worker_thread, FALSE, wait, QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) break;
        // Stuck in something no stop reaches (a file write to a hung network folder): the
        // caller goes on without it, and Exit stays bounded.
        if (woke == WAIT_TIMEOUT || wait == 0) return false;
        // Delivers what the worker sent to this thread's windows (status texts), and
        // leaves posted messages where they are.
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    CloseHandle(worker_thread);
    worker_thread = nullptr;
    return true;
}

namespace {

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (taskbar_created_message != 0 && message == taskbar_created_message) {
        // A new taskbar knows no icons: put ours up again, at its size.
        reload_tray_icon(true);
        if (!status_window_shown) {
            ShowWindow(window, SW_HIDE);
            hide_status_window();
            return 0;
        }
        return DefWindowProcA(window, message, wparam, lparam);
    }

    switch (message) {
    case WM_CREATE:
        main_window = window;
        on_create(window);
        return 0;
    case WM_DESTROY:
        on_destroy();
        return 0;
    case REPORT_MESSAGE:
        show_reports();
        return 0;
    case FIRST_START_MESSAGE:
        run_tray_command(IDM_CONFIG); // as chosen from the menu; a cancel leaves the tray
        return 0;
    case TRAY_CALLBACK_MESSAGE:
        if (lparam == WM_LBUTTONUP)
            request_status_window();
        else if (lparam == WM_RBUTTONUP)
            show_tray_menu();
        return 0;
    case WM_CLOSE:
        ShowWindow(window, SW_HIDE);
        hide_status_window();
        return 0;
    case WM_POWERBROADCAST:
        // Back from sleep the connection is likely dead: ask for a new one now, as new
        // settings do, rather than wait for the silence limit.
        if (wparam == PBT_APMRESUMEAUTOMATIC || wparam == PBT_APMRESUMESUSPEND)
            raise_reconnect(REASON_RESUMED);
        return TRUE;
    case WM_DPICHANGED:
    case WM_DISPLAYCHANGE:
    case WM_SETTINGCHANGE:
        reload_tray_icon(false);
        return DefWindowProcA(window, message, wparam, lparam);
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

} // namespace

bool register_main_window_class(HINSTANCE instance) {
    WNDCLASSEXA wc;
    ZeroMemory(&wc, sizeof(wc));
    wc.cbSize = sizeof(WNDCLASSEXA);
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = main_window_proc;
    wc.hInstance = instance;
    wc.hIcon = static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, 32, 32, LR_DEFAULTSIZE));
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = MAIN_WINDOW_CLASS;
    wc.hIconSm = static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(IDI_APP_SMALL), IMAGE_ICON, 32, 32, LR_DEFAULTSIZE));
    return RegisterClassExA(&wc) != 0;
}

HWND create_main_window(HINSTANCE instance) {
    return CreateWindowExA(0, MAIN_WINDOW_CLASS, MAIN_WINDOW_TITLE, WS_CAPTION | WS_SYSMENU,
                           CW_USEDEFAULT, CW_USEDEFAULT, 350, 525, nullptr, nullptr, instance,
                           nullptr);
}
