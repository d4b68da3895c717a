// Drives VORLIXViewer.exe from outside, as a user or the Windows shell would: its own
// process, found by window class and title, the tray callback message, the popup menu walked
// with the keyboard, message boxes answered; and its Linux side read through drive Z:.
#pragma once
#include <windows.h>

#include "unitsim.h"

#include <functional>
#include <string>
#include <vector>

// One clock for every figure: seconds, from the performance counter.
double now_s();
double median(std::vector<double> values);
// "median M ms (min-max)" of values in seconds.
void print_spread(const char* what, const std::vector<double>& seconds);

// Polls `done` every step_ms until it holds or timeout_ms passes.
bool wait_until(const std::function<bool()>& done, int timeout_ms, int step_ms = 20);
std::string windows_path(const char* unix_path); // Wine maps the Linux root to Z:
bool read_file(const std::string& path, std::string* bytes);

HWND top_window(DWORD pid, const char* window_class, const char* title, bool visible_only);
std::string window_text(HWND window);

// Menu positions counted in Down keys (the keyboard skips separators).
enum MenuDowns { MENU_EXIT = 1, MENU_CONFIG = 5 };
// Right click on the tray icon, then `downs` Down keys and Enter on its menu.
bool choose_menu(HWND main, DWORD pid, int downs);
// Presses OK on the viewer's message box whose text starts with `prefix`; false if none came.
bool answer_box(DWORD pid, const char* prefix, int timeout_ms);
void tray_click(HWND main, UINT mouse_message);
// Every value control of the status window holds a text.
bool status_full(HWND status_window);
// The viewer's icon drawn in the taskbar's notification area.
bool tray_icon_shown();

// The Linux side of a Wine process: every thread of the program and of Wine inside it.
struct LinuxSide {
    std::string proc; // "Z:\\proc\\<pid>"
    // The newest live process whose command line holds `exe`, and `with` unless null, and
    // not `without` unless null.
    bool find(const std::string& exe, const char* with, const char* without);
    double cpu_s() const;  // user + system
    long anon_kib() const; // RssAnon: the private memory
    long wakeups() const;  // voluntary context switches summed over its threads
};

// The viewer against a stand-in of its own, from a folder of its own.
struct Viewer {
    unitsim::Server unit;
    std::string folder;
    PROCESS_INFORMATION process = {};
    HWND main = nullptr;
    LinuxSide side;
    double started_s = 0, window_s = 0; // when started; when its main window showed
    explicit Viewer(const unitsim::Config& config = unitsim::Config()) : unit(config) {}
    ~Viewer();
    Viewer(const Viewer&) = delete;
    Viewer& operator=(const Viewer&) = delete;
    DWORD pid() const { return process.dwProcessId; }
    bool running() const;
};

// The start-up every mode shares: the stand-in, a fresh folder with telnet.conf for it, the
// viewer started there, its main window and its first login. `each` runs on every poll
// until then (the start-up figures watch the screen with it).
bool viewer_open(Viewer& viewer, const std::function<void()>& each = nullptr);
// Ends the viewer the way a user cannot (cleanup only) and removes its folder.
void viewer_close(Viewer& viewer);
// The viewer's .exe as a Windows path.
std::string viewer_exe();
