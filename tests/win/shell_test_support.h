// Helpers of the UI tests: finding, reading and answering windows the way a user would,
// driving the UI thread from a script thread, a private settings file, and the fixture of
// the shell tests.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace unitsim {
class Server;
}

namespace shelltest {

std::string text_of(HWND window);
std::string text_of(HWND dialog, int id);
// Top-level dialog-class windows of this process titled `title`, shown or hidden.
int count_windows(const char* title);
// Top-level dialog-class window of this process with this title, or null.
HWND find_dialog(const char* title);
// Waits (up to timeout_ms, letting this thread's sent messages through) for that dialog.
HWND wait_dialog(const char* title, int timeout_ms = 3000);
// The window's rectangle in its parent's client coordinates.
RECT rect_in_parent(HWND window);

// Answers every box or dialog titled `title` that appears while it lives, on its own
// thread: records the box's text (its static 0xFFFF) and presses the next button of
// `buttons` (IDOK when they run out).
class Responder {
  public:
    explicit Responder(const char* title, std::vector<int> buttons = {});
    ~Responder() { stop(); }
    std::vector<std::string> stop(); // the texts seen
  private:
    std::string title_;
    std::vector<int> buttons_;
    std::vector<std::string> texts_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// Reads the first popup menu that opens while it lives ("id text", "-" for a separator)
// and dismisses it with Escape.
class MenuWatch {
  public:
    MenuWatch();
    ~MenuWatch() { stop(); }
    std::vector<std::string> stop(); // empty: no menu came
  private:
    std::vector<std::string> entries_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// Drives windows of the UI thread from a script thread, the way the worker and the user
// reach them: the UI thread pumps (its own loop or a modal one), the script posts and sends
// to its windows and runs calls on it.
class Driver {
  public:
    Driver();
    ~Driver() { DestroyWindow(helper); }
    // UI thread: runs script on its own thread; meanwhile runs body (which must pump, e.g. a
    // modal dialog that the script ends) or, without a body, pumps until the script is done.
    // Returns the number of quit messages that reached the outer pump.
    int run(const std::function<void()>& script, const std::function<void()>& body = {});
    // Script thread: runs fn on the UI thread and waits for it.
    void call(const std::function<void()>& fn);
    template <class T> T get(const std::function<T()>& fn) {
        T value{};
        call([&] { value = fn(); });
        return value;
    }
    // Script thread: queues fn for the UI thread and returns at once (for calls that run a
    // loop of their own).
    void post(const std::function<void()>& fn);
    // Script thread: waits until everything posted so far has been dispatched. True when
    // the outer pump dispatched the mark itself (no nested loop running).
    bool flush();
    // After something that starts a focus loop: the first flush may overtake what the
    // loop's start posts (the primed Tab); the second comes after it.
    bool flush_twice() {
        flush();
        return flush();
    }
    void quit(int code = 0) { PostThreadMessageA(ui_thread, WM_QUIT, code, 0); }
    HWND focus() {
        return get<HWND>([] { return GetFocus(); });
    }

    HWND helper = nullptr;
    DWORD ui_thread = 0;
    bool flush_timed_out = false;
};

// A settings file of this process only, under the temporary directory.
std::string private_settings_path();
void write_settings_file(const char* ip, const char* port, const char* user, const char* password);
// Starts the stand-in on a free port and points the settings file at it.
void serve_settings(unitsim::Server& server);
std::string read_file(const std::string& path);

// Whether the shell has an icon for (window, id): NIM_MODIFY succeeds only for one.
bool tray_icon_present(HWND window, UINT id);

// Removes a WM_QUIT that a WM_DESTROY posted to this thread, and says whether there was
// one and its exit code.
bool take_quit(int* exit_code = nullptr);

// Registers the window classes the shell needs and its settings file (once per process).
void init_shell_classes();

// A blank record, no requests, a hidden owner window standing in for the main window and
// the tray record pointing at it.
class ShellTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    HWND owner_ = nullptr;
};

} // namespace shelltest
