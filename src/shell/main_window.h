// The hidden main window: owner of the tray icon, the worker thread and every tray command.
#pragma once
#include <windows.h>

extern HWND main_window;
// Number of the registered "TaskbarCreated" message; 0 until registered.
extern UINT taskbar_created_message;
extern HANDLE worker_thread; // 0 while no worker runs

constexpr char APP_TITLE[] = "VORLIX Viewer"; // title of every message box

bool register_main_window_class(HINSTANCE instance);
// Creates the (never shown) main window; its creation puts up the tray icon and starts
// the worker.
HWND create_main_window(HINSTANCE instance);

// Posted by the worker when a capture report waits to be shown.
constexpr UINT REPORT_MESSAGE = WM_APP + 1;

// Posted once at start when there is no settings file: opens "Connection Configuration".
constexpr UINT FIRST_START_MESSAGE = WM_APP + 2;
// Without the settings file, asks the window (once its worker runs and the message loop
// turns) to open the configuration dialog, so a first start asks for what it needs.
void offer_first_configuration(HWND window, const char* settings_file);

// How long Exit waits for the worker to end after the stop.
constexpr DWORD kWorkerStopMs = 500;

// Stops the worker: raises the stop and keeps handling messages sent to this thread until
// the thread has ended (true; also when none runs) or kWorkerStopMs have passed (false: the
// worker still runs and worker_thread stays set).
bool stop_worker();
