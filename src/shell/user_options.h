// The two choices of the tray menu's last section: notices on link loss (a value under
// HKCU\Software\VORLIX\VORLIX Viewer) and start at logon (the Startup folder's shortcut, the
// same one the installer's STARTATLOGON=1 makes, so an uninstall removes either).
#pragma once
#include <cstddef>

// Reads the notice choice from the registry (on when never set). Main thread, at start.
void options_load();
// Any thread: whether a link notice is shown.
bool notify_on_link_loss();
// Main thread: stores the choice; false when the registry refused it (the choice still
// holds for this run).
bool set_notify_on_link_loss(bool on);

// The folder the viewer started in (where telnet.conf is), the shortcut's working folder.
// Until set, the current directory at the time the shortcut is made.
void options_set_start_folder(const char* folder);
// "<Startup folder>\VORLIX Viewer.lnk"; false when the folder is unknown.
bool startup_shortcut_path(char* out, size_t size);
bool start_at_logon();
// Makes the shortcut to this .exe (working folder the start folder), or removes it. False
// when that failed.
bool set_start_at_logon(bool on);
