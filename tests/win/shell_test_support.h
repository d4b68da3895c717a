// Helpers of the UI tests: finding, reading and answering windows the way a user would,
// driving the UI thread from a script thread, what the launch recorder saw, a private
// settings file, and the fixtures of the shell tests.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "link/link_flags.h"
#include "link/settings_file.h"
#include "shell/main_window.h"
#include "shell/tray_icon.h"
#include "status/device_record.h"
#include "unitsim.h"

inline std::string text_of(HWND window, int id = -1) {
    char text[512] = "";
    GetWindowTextA(id == -1 ? window : GetDlgItem(window, id), text, sizeof(text));
    return text;
}

// The first visible top-level dialog of this process titled `title`, and in *count how many
// there are, shown or hidden.
inline HWND find_dialog(const char* title, int* count = nullptr) {
    HWND visible = nullptr;
    DWORD pid = 0;
    if (count) *count = 0;
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32770", title)) != nullptr;) {
        GetWindowThreadProcessId(w, &pid);
        if (pid != GetCurrentProcessId()) continue;
        if (count) ++*count;
        if (!visible && IsWindowVisible(w)) visible = w;
    }
    return visible;
}
inline int dialogs_titled(const char* title) {
    int count = 0;
    find_dialog(title, &count);
    return count;
}
// Waits (up to 10 s) for that dialog; from a thread other than the dialog's.
inline HWND wait_dialog(const char* title) {
    HWND found = nullptr;
    for (int i = 0; i < 2000 && !(found = find_dialog(title)); ++i)
        Sleep(5);
    return found;
}

// Answers every box or dialog titled `title` that appears while it lives, on its own
// thread: records the box's text (its static 0xFFFF) and presses the next button of
// `buttons` (IDOK when they run out); or, given `answer`, records what that returns once it
// has answered the box.
struct Responder {
    typedef std::function<std::string(HWND)> Answer;
    explicit Responder(const char* title, std::vector<int> buttons = {}, Answer answer = {})
        : title(title), buttons(std::move(buttons)), answer(std::move(answer)) {}
    ~Responder() { stop(); }
    std::vector<std::string> stop() { // the texts seen
        done = true;
        if (thread.joinable()) thread.join();
        return texts;
    }
    std::string title;
    std::vector<int> buttons;
    Answer answer;
    std::vector<std::string> texts;
    std::atomic<bool> done{false};
    std::thread thread{[this] {
        for (HWND box; !done; Sleep(5)) {
            if (!(box = find_dialog(title.c_str()))) continue;
            if (answer) {
                texts.push_back(answer(box));
            } else {
                int button = texts.size() < buttons.size() ? buttons[texts.size()] : IDOK;
                texts.push_back(text_of(box, 0xFFFF));
                PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
            }
            for (int i = 0; i < 400 && IsWindow(box); ++i) // this box goes first
                Sleep(5);
        }
    }};
};

// Drives windows of the UI thread from a script thread, the way the worker and the user
// reach them: the UI thread pumps (its own loop or a modal one), the script posts and sends
// to its windows and runs calls on it.
struct Driver {
    Driver() {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = helper_proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "VorlixTestDriver";
        RegisterClassA(&wc); // fails harmlessly when done
        helper = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 wc.hInstance, nullptr);
        ui_thread = GetCurrentThreadId();
    }
    ~Driver() { DestroyWindow(helper); }

    // UI thread: runs script on its own thread and pumps until it is done. Returns the
    // number of quit messages that reached this pump.
    int run(const std::function<void()>& script) {
        std::atomic<bool> finished{false};
        int quits = 0;
        std::thread t([&] {
            script();
            finished = true;
            PostMessageA(helper, WM_NULL, 0, 0);
        });
        MSG msg;
        for (BOOL got; !finished && (got = GetMessageA(&msg, nullptr, 0, 0)) != -1;) {
            quits += got == 0;
            outer_lparam = got ? msg.lParam : 0;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            outer_lparam = 0;
        }
        t.join();
        // A modal loop ended by quit posts it again: keep it from ending the next test.
        while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
            ++quits;
        return quits;
    }
    // Script thread: runs fn on the UI thread and waits for it.
    void call(const std::function<void()>& fn) {
        DWORD_PTR ignored;
        SendMessageTimeoutA(helper, kCall, 0, reinterpret_cast<LPARAM>(&fn), SMTO_NORMAL, 10000,
                            &ignored);
    }
    template <class T> T get(const std::function<T()>& fn) {
        T value{};
        call([&] { value = fn(); });
        return value;
    }
    // Script thread: queues fn for the UI thread and returns at once (for calls that run a
    // loop of their own).
    void post(const std::function<void()>& fn) {
        PostMessageA(helper, kCall, 1, reinterpret_cast<LPARAM>(new std::function<void()>(fn)));
    }
    // Script thread: waits until everything posted so far has been dispatched. True when
    // the outer pump dispatched the mark itself (no nested loop running). After something
    // that starts a focus loop, flush twice: the first may overtake the loop's primed Tab.
    bool flush(int times = 1) {
        Mark mark = {CreateEventA(nullptr, TRUE, FALSE, nullptr), false};
        PostMessageA(helper, kMark, 0, reinterpret_cast<LPARAM>(&mark));
        flush_timed_out |= WaitForSingleObject(mark.done, 10000) != WAIT_OBJECT_0;
        CloseHandle(mark.done);
        return times > 1 ? flush(times - 1) : mark.from_outer_pump;
    }
    void quit(int code = 0) { PostThreadMessageA(ui_thread, WM_QUIT, code, 0); }

    HWND helper = nullptr;
    DWORD ui_thread = 0;
    bool flush_timed_out = false;
    static const UINT kCall = WM_APP + 0x310, kMark = WM_APP + 0x311;
    struct Mark {
        HANDLE done; // set by the UI thread: a wait, not a poll of a flag
        bool from_outer_pump;
    };
    static inline LPARAM outer_lparam = 0; // of what the outer pump dispatches now
    static LRESULT CALLBACK helper_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == kCall) {
            auto* fn = reinterpret_cast<std::function<void()>*>(lp);
            (*fn)();
            if (wp) delete fn; // posted calls own their function
            return 0;
        }
        if (msg != kMark) return DefWindowProcA(hwnd, msg, wp, lp);
        auto* mark = reinterpret_cast<Mark*>(lp);
        mark->from_outer_pump = outer_lparam == lp;
        SetEvent(mark->done);
        return 0;
    }
};

inline std::string temp_path(const char* name) {
    char dir[MAX_PATH] = "";
    GetTempPathA(sizeof(dir), dir);
    return dir + std::string(name);
}
inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
// A settings file of this process only.
inline std::string conf_path() {
    return temp_path("shell-tests-") + std::to_string(GetCurrentProcessId()) + ".conf";
}
// What the launch recorder (put in the system's place) wrote: "its path|its arguments|its
// folder", waited for up to 10 s; empty when nothing was started.
inline std::string wait_launch() {
    const std::string mark = temp_path("vorlix-launch.txt");
    for (int i = 0; i < 1000 && GetFileAttributesA(mark.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(10);
    std::string seen = read_file(mark);
    DeleteFileA(mark.c_str());
    return seen;
}
// Built on Linux, the path is a Unix one: Wine shows the root as drive Z:.
inline std::string recorder_path() {
    return std::string(LAUNCH_RECORDER[0] == '/' ? "Z:" : "") + LAUNCH_RECORDER;
}

// Whether the shell has an icon for (window, id): NIM_MODIFY succeeds only for one.
inline bool tray_icon_present(HWND window, UINT id) {
    NOTIFYICONDATAA probe = {};
    probe.cbSize = NOTIFYICONDATAA_V1_SIZE;
    probe.hWnd = window;
    probe.uID = id;
    return Shell_NotifyIconA(NIM_MODIFY, &probe) != FALSE;
}

// Removes the WM_QUITs that a WM_DESTROY posted to this thread; whether there was one.
inline bool take_quit() {
    MSG message;
    bool found = false;
    while (PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        found = true;
    return found;
}

// The control classes the windows need, the settings file, and no launch left unread by a
// test that failed.
inline void init_shell_classes() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TAB_CLASSES | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&controls);
    settings_set_path(conf_path().c_str());
    DeleteFileA(temp_path("vorlix-launch.txt").c_str());
}

// A blank record, no requests, a hidden owner window standing in for the main window and
// the tray record pointing at it; the current directory as it was at the start.
class ShellTest : public ::testing::Test {
  protected:
    void SetUp() override {
        init_shell_classes();
        GetCurrentDirectoryA(sizeof(start_dir_), start_dir_);
        owner_ = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, 0, 0, 0, 0);
        TearDown();
        main_window = owner_;
        tray_data_init(owner_);
    }
    void TearDown() override {
        remove_tray_icon();
        main_window = nullptr;
        device_record_init();
        request_flags = 0;
        reconnect_request = 0;
        SetCurrentDirectoryA(start_dir_);
        settings_set_path(conf_path().c_str());
        remove(conf_path().c_str());
    }
    HWND owner_ = nullptr;
    char start_dir_[MAX_PATH] = "";
};
