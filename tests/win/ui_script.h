// Drives windows of this (the UI) thread from a script thread, the way the worker and the
// user reach them in the program: the UI thread pumps messages (its own loop or a modal
// one), the script posts and sends to its windows and runs calls on it.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <thread>

namespace ui_script {

const UINT call_message = WM_APP + 0x310;
const UINT mark_message = WM_APP + 0x311;

struct Mark {
    HANDLE done;
    bool from_outer_pump;
};

inline LPARAM& outer_lparam() {
    static LPARAM value = 0;
    return value;
}

inline LRESULT CALLBACK helper_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == call_message) {
        auto* fn = reinterpret_cast<std::function<void()>*>(lp);
        (*fn)();
        if (wp) delete fn; // posted calls own their function
        return 0;
    }
    if (msg == mark_message) {
        auto* mark = reinterpret_cast<Mark*>(lp);
        // Dispatched by the outer pump itself, or from a loop nested inside it.
        mark->from_outer_pump = outer_lparam() == lp;
        SetEvent(mark->done);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

class Driver {
  public:
    Driver() {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = helper_proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "VorlixUiScriptHelper";
        RegisterClassA(&wc);
        helper = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 wc.hInstance, nullptr);
        ui_thread = GetCurrentThreadId();
    }
    ~Driver() { DestroyWindow(helper); }

    // UI thread: runs script on its own thread; meanwhile runs body (which must pump, e.g. a
    // modal dialog that the script ends with quit()) or, without a body, pumps until the
    // script is done. Returns the number of quit messages that reached the outer pump.
    int run(const std::function<void()>& script, const std::function<void()>& body = {}) {
        std::atomic<bool> finished{false};
        quits_seen = 0;
        std::thread t([&] {
            script();
            finished = true;
            PostMessageA(helper, WM_NULL, 0, 0);
        });
        if (body) {
            body();
        } else {
            MSG msg;
            while (!finished) {
                BOOL got = GetMessageA(&msg, nullptr, 0, 0);
                if (got == -1) break;
                if (got == 0) {
                    ++quits_seen;
                    continue;
                }
                outer_lparam() = msg.lParam;
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
                outer_lparam() = 0;
            }
        }
        t.join();
        // A modal loop ended by quit posts it again: keep it from ending the next test.
        MSG msg;
        while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
            ++quits_seen;
        return quits_seen;
    }

    // Script thread: runs fn on the UI thread and waits for it.
    void call(const std::function<void()>& fn) {
        std::function<void()> copy = fn;
        DWORD_PTR ignored;
        SendMessageTimeoutA(helper, call_message, 0, reinterpret_cast<LPARAM>(&copy), SMTO_NORMAL,
                            10000, &ignored);
    }
    template <class T> T get(const std::function<T()>& fn) {
        T value{};
        call([&] { value = fn(); });
        return value;
    }
    // Script thread: queues fn for the UI thread (behind everything posted before) and
    // returns at once; for calls that run a loop of their own.
    void post(const std::function<void()>& fn) {
        PostMessageA(helper, call_message, 1,
                     reinterpret_cast<LPARAM>(new std::function<void()>(fn)));
    }
    // Script thread: waits until everything posted so far has been dispatched. Returns
    // true when the outer pump dispatched the mark itself (no nested loop running).
    bool flush() {
        Mark mark = {CreateEventA(nullptr, TRUE, FALSE, nullptr), false};
        PostMessageA(helper, mark_message, 0, reinterpret_cast<LPARAM>(&mark));
        DWORD waited = WaitForSingleObject(mark.done, 10000);
        CloseHandle(mark.done);
        flush_timed_out |= waited != WAIT_OBJECT_0;
        return mark.from_outer_pump;
    }
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
    int quits_seen = 0;
    bool flush_timed_out = false;
};

} // namespace ui_script
