// The tray icon and its tooltip, kept in step with the device record.
#pragma once
#include <windows.h>
#include <shellapi.h>

extern NOTIFYICONDATAA tray_data; // second layout: 128-byte tooltip, balloons
extern int last_tray_icon;        // resource number of the icon in tray_data; 0 before any
extern int tray_icon_loads;       // icons loaded so far (an icon is loaded only on a change)

// Fills tray_data for the main window (identifier, flags, callback) with no icon loaded yet,
// releasing an icon left from an earlier window.
void tray_data_init(HWND owner);

// Picks the icon for wwan_ip and signal_quality, trims those two and imei in place, writes
// the tooltip ("Logging..." first while a capture is requested; while the link is down, why
// and since when) and hands it to the shell: NIM_ADD when add, else NIM_MODIFY. Safe from
// the main thread and the worker.
void update_tray(bool add, bool logging);

// The last balloon handed to the shell and how many were (tests read them).
extern NOTIFYICONDATAA tray_notice;
extern int tray_notices;

// A balloon titled "VORLIX Viewer" with the text, when "Notify on Link Loss" is on. Safe
// from the worker: it only talks to the shell, under the tray's lock.
void show_tray_notice(const char* text);

// Loads the shown icon again at the current small-icon size (the DPI or the display changed)
// and hands it to the shell: NIM_ADD when add (a new taskbar knows no icons), else NIM_MODIFY.
void reload_tray_icon(bool add);

// Removes the icon from the tray (main window destruction).
void remove_tray_icon();

// The worker's view refresh: the status window, then the tray.
void refresh_views();
