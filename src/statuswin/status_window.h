// The status window ("General", "Wi-Fi", "History" tabs), created once and then only hidden.
#pragma once
#include <windows.h>

extern int status_window_shown; // 1 after an open, 0 after every hide

void open_status_window(HWND owner);
void hide_status_window();
void refresh_status_window(); // callable from the worker; nothing before the window exists
HWND status_window_handle();  // null until the window has been created
