// Drives VORLIXViewer.exe from outside, as a user or the Windows shell would: it starts the
// program as its own process, finds its windows by class, title and control id, posts the
// tray callback message, walks the popup menu with the keyboard, answers message boxes and
// dialogs, reads window texts, and looks at the taskbar's notification area on screen.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace e2e {

// Polls `done` every step_ms until it holds or timeout_ms passes.
bool wait_until(const std::function<bool()>& done, int timeout_ms, int step_ms = 50);

// The viewer's .exe as a Windows path (Wine maps the Linux root to drive Z:).
std::string viewer_exe_path();

// A fresh folder under the Windows temp folder, removed with everything in it by the
// destructor.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const char* name) const { return path_ + "\\" + name; }

  private:
    std::string path_;
};

bool write_file(const std::string& path, const std::string& bytes);
bool read_file(const std::string& path, std::string* bytes);
void write_settings(const std::string& folder, int port, const char* user, const char* password);

// One run of the viewer, started with a folder as its current directory.
class ViewerProcess {
  public:
    ViewerProcess() = default;
    ~ViewerProcess();
    ViewerProcess(const ViewerProcess&) = delete;
    ViewerProcess& operator=(const ViewerProcess&) = delete;

    bool start(const std::string& folder);
    DWORD pid() const { return info_.dwProcessId; }
    HANDLE handle() const { return info_.hProcess; }
    bool running() const;
    // Waits for the end; true with *code when it ended within timeout_ms.
    bool wait_exit(DWORD timeout_ms, DWORD* code) const;
    // The hidden main window ("VORLIXViewerClass__") of this process, waited for.
    HWND main_window(int timeout_ms = 10000);
    // Ends the process the way a user cannot (test cleanup only): the window is told to
    // close down, then the process is terminated if it is still there.
    void end_for_cleanup();

  private:
    PROCESS_INFORMATION info_ = {};
    HWND main_ = nullptr;
};

// Top-level windows of a process by class and (optional) title; visible ones only when asked.
std::vector<HWND> top_windows(DWORD pid, const char* window_class, const char* title,
                              bool visible_only);
HWND wait_top_window(DWORD pid, const char* window_class, const char* title, int timeout_ms);
HWND find_descendant(HWND parent, int control_id);
std::string window_text(HWND window);
bool set_window_text(HWND window, const std::string& text);

// Message boxes titled "VORLIX Viewer": their text (static control 0xFFFF) and OK.
std::string box_text(HWND box);
HWND wait_box(DWORD pid, const std::string& text_prefix, int timeout_ms);
void press_ok(HWND box);

// The tray callback: message 5 with the mouse event in lParam.
void tray_click(HWND main_window, UINT mouse_message);
// Right click on the tray icon, then `downs` Down keys and Enter on the popup menu (the
// keyboard skips separators; the first Down selects "Exit"). False when no menu showed.
bool choose_menu_entry(HWND main_window, DWORD pid, int downs);
// Menu positions counted in Down keys.
enum MenuDowns {
    kMenuExit = 1,
    kMenuAbout = 2,
    kMenuPowercycle = 3,
    kMenuTelnet = 4,
    kMenuConfig = 5,
    kMenuStatus = 6,
    kMenuLogFile = 7
};

// Status window ("VORLIX Connection Status", a dialog of the viewer's process).
HWND wait_status_window(DWORD pid, int timeout_ms);
struct StatusField {
    int id;
    const char* name;
    bool general_page; // false: Wi-Fi page
};
const std::vector<StatusField>& status_fields(); // the 27 value controls and box 1018
// Text of each value control by id (padding blanks kept), read with WM_GETTEXT.
bool read_status(HWND status_window, std::vector<std::pair<int, std::string>>* texts);
std::string trimmed(const std::string& text);

// The viewer's tray icons as drawn in the taskbar's notification area.
class TrayWatcher {
  public:
    bool load(const std::string& exe_path); // icons 130-135 and 139 at 16 x 16
    // Resource number of the viewer icon now visible in the notification area, 0 if none;
    // *center gets its middle in screen coordinates.
    int shown_icon(POINT* center = nullptr) const;
    // The tooltip the notification area shows while the pointer rests on the viewer's icon
    // (read with WM_GETTEXT from the shell's tooltip window); "" when no icon or no tooltip
    // showed. The pointer is moved off the taskbar again afterwards.
    std::string tooltip() const;

  private:
    struct Picture {
        int id;
        HICON icon;
    };
    std::vector<Picture> pictures_;
};

} // namespace e2e
