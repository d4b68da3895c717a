// The common-controls and common-dialog libraries are loaded on first use: an unattended
// viewer that never opens a dialog should not carry their memory for weeks.
#pragma once
#include <windows.h>
#include <commdlg.h>

// Registers the tab and IP address control classes; call before creating any dialog.
// False when the library cannot be loaded.
bool ensure_common_controls();

// GetSaveFileNameA from comdlg32, loaded on the first call; FALSE when it cannot be loaded.
BOOL WINAPI load_and_get_save_file_name(LPOPENFILENAMEA dialog);
