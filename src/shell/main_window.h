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

// Stops the worker: raises the stop, keeps handling messages sent to this thread and
// closes the worker's own boxes until the thread has ended. Nothing when none runs.
void stop_worker();
