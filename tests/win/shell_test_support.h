// Helpers of the shell tests: answering boxes and dialogs the way a user would, a private
// settings file, and the hidden main window with its worker.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace shelltest {

// Top-level dialog-class window of this process with this title, or null.
HWND find_dialog(const char* title);

// Answers every box or dialog titled `title` that appears while it lives, on its own
// thread: records the box's text (its static 0xFFFF) and presses the next button of
// `buttons` (IDOK when they run out). Stop it (or let it go out of scope) after the call.
class Responder {
  public:
    explicit Responder(const char* title, std::vector<int> buttons = {});
    ~Responder();
    void stop();
    std::vector<std::string> texts(); // after stop()
  private:
    void run();
    std::string title_;
    std::vector<int> buttons_;
    std::vector<std::string> texts_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// Waits (up to timeout_ms, while letting this thread's sent messages through) for a
// dialog titled `title` of this process.
HWND wait_dialog(const char* title, int timeout_ms = 3000);

// Calls `action` on the test thread from inside whatever modal loop runs there, once the
// dialog `title` is up: posts to a helper window from another thread.
class InLoop {
  public:
    typedef void (*Action)(void* context);
    InLoop(const char* title, Action action, void* context);
    ~InLoop();
    bool ran() const { return ran_.load(); }

  private:
    static LRESULT CALLBACK proc(HWND, UINT, WPARAM, LPARAM);
    HWND window_ = nullptr;
    std::string title_;
    Action action_;
    void* context_;
    std::atomic<bool> ran_{false};
    std::thread thread_;
};

// A settings file of this process only, under the temporary directory.
std::string private_settings_path();
// Writes four settings lines in the file's own format.
void write_settings_file(const char* ip, const char* port, const char* user, const char* password);
std::string read_file(const std::string& path);

// Whether the shell has an icon for (window, id): NIM_MODIFY succeeds only for one.
bool tray_icon_present(HWND window, UINT id);

// Removes a WM_QUIT that a WM_DESTROY posted to this thread, and says whether there was
// one and its exit code.
bool take_quit(int* exit_code = nullptr);

// Registers the window classes the shell needs (once per process).
void init_shell_classes();

} // namespace shelltest
