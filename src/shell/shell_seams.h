// The two system calls a test must not make for real: launching a program or a URL, and
// the Save dialog. The shell calls them through these pointers; tests replace them.
#pragma once
#include <windows.h>
#include <commdlg.h>

typedef HINSTANCE(WINAPI* ShellExecuteFn)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
typedef BOOL(WINAPI* GetSaveFileNameFn)(LPOPENFILENAMEA);

extern ShellExecuteFn shell_execute_fn;         // ShellExecuteA
extern GetSaveFileNameFn get_save_file_name_fn; // GetSaveFileNameA

// Looks for the telnet client in the system directory (SearchPathA with that directory as
// the path), so tests can say whether one is installed.
typedef DWORD(WINAPI* SearchPathFn)(LPCSTR, LPCSTR, LPCSTR, DWORD, LPSTR, LPSTR*);
extern SearchPathFn search_path_fn; // SearchPathA
