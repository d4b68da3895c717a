// The tray popup menu and its seven commands.
#pragma once
#include <windows.h>
#include <cstddef>
#include <ctime>

extern HWND about_dialog;   // the open About dialog, or null
extern HWND config_dialog;  // the open configuration dialog, or null
extern int log_dialog_busy; // 1 while the Log File command has its Save dialog open
extern char log_path[256];  // default name offered, then the path chosen

// Opens the menu at the cursor and carries out the chosen command.
void show_tray_menu();

// Carries out one menu command (ids IDM_*); any other number does nothing.
void run_tray_command(int id);

// Opens the status window (tray click, menu), or, while a tray command's box or dialog is
// still open and the window has never been created, as soon as that command has returned.
void request_status_window();

// "<imei or DISCONNECTED>-MMDDYY.TXT" for the Save dialog: the IMEI only when it is letters
// and digits once its blank filling is trimmed. Reads at most 31 characters of imei, so the
// status field itself may be passed.
void default_log_name(const char* imei, const struct tm& when, char* out, size_t size);

// The parameters of the system's telnet client: "A.B.C.D PORT", printed from the parsed
// numbers. False (out empty) unless ip is four decimal numbers 0..255 without leading zeros
// and port one settings_port takes, so nothing but digits, dots and a blank reach it.
bool telnet_parameters(const char* ip, const char* port, char* out, size_t size);

// Four decimal numbers 0..255 without leading zeros, joined by dots and nothing else.
bool parse_dotted_address(const char* text, unsigned octet[4]);

// The two dialogs of the shell (templates IDD_ABOUT and IDD_CONFIG).
INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK config_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
