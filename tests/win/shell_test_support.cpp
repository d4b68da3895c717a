#include "shell_test_support.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "link/link_flags.h"
#include "link/settings_file.h"
#include "shell/main_window.h"
#include "shell/tray_icon.h"
#include "status/device_record.h"
#include "unitsim.h"

namespace shelltest {

namespace {

struct Search {
    const char* title;
    bool visible_only; // and stop at the first
    HWND found;
    int count;
};

BOOL CALLBACK match_window(HWND window, LPARAM context) {
    Search* search = reinterpret_cast<Search*>(context);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != GetCurrentProcessId()) return TRUE;
    if (search->visible_only && !IsWindowVisible(window)) return TRUE;
    char name[16] = "";
    GetClassNameA(window, name, sizeof(name));
    if (strcmp(name, "#32770") != 0 || text_of(window) != search->title) return TRUE;
    search->found = window;
    ++search->count;
    return !search->visible_only;
}

const UINT call_message = WM_APP + 0x310;
const UINT mark_message = WM_APP + 0x311;

struct Mark {
    HANDLE done;
    bool from_outer_pump;
};
LPARAM outer_lparam = 0; // lParam of what the outer pump dispatches now

LRESULT CALLBACK helper_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == call_message) {
        auto* fn = reinterpret_cast<std::function<void()>*>(lp);
        (*fn)();
        if (wp) delete fn; // posted calls own their function
        return 0;
    }
    if (msg == mark_message) {
        auto* mark = reinterpret_cast<Mark*>(lp);
        // Dispatched by the outer pump itself, or from a loop nested inside it.
        mark->from_outer_pump = outer_lparam == lp;
        SetEvent(mark->done);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

} // namespace

std::string text_of(HWND window) {
    char text[512] = "";
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

std::string text_of(HWND dialog, int id) {
    return text_of(GetDlgItem(dialog, id));
}

int count_windows(const char* title) {
    Search search = {title, false, nullptr, 0};
    EnumWindows(match_window, reinterpret_cast<LPARAM>(&search));
    return search.count;
}

HWND find_dialog(const char* title) {
    Search search = {title, true, nullptr, 0};
    EnumWindows(match_window, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND wait_dialog(const char* title, int timeout_ms) {
    for (int waited = 0; waited < timeout_ms; waited += 5) {
        if (HWND found = find_dialog(title)) return found;
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        Sleep(5);
    }
    return nullptr;
}

RECT rect_in_parent(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

Responder::Responder(const char* title, std::vector<int> buttons)
    : title_(title), buttons_(std::move(buttons)), thread_([this] {
          size_t answered = 0;
          while (!done_) {
              HWND box = find_dialog(title_.c_str());
              if (!box) {
                  Sleep(5);
                  continue;
              }
              texts_.push_back(text_of(box, 0xFFFF));
              int button = answered < buttons_.size() ? buttons_[answered] : IDOK;
              ++answered;
              PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
              // Wait for this box to go before looking for the next one.
              for (int i = 0; i < 400 && IsWindow(box); ++i)
                  Sleep(5);
          }
      }) {}

std::vector<std::string> Responder::stop() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
    return texts_;
}

MenuWatch::MenuWatch()
    : thread_([this] {
          while (!done_) {
              HWND popup = FindWindowA("#32768", nullptr);
              if (!popup || !IsWindowVisible(popup)) {
                  Sleep(5);
                  continue;
              }
              HMENU menu = reinterpret_cast<HMENU>(SendMessageA(popup, MN_GETHMENU, 0, 0));
              for (int k = 0, count = GetMenuItemCount(menu); k < count; ++k) {
                  char text[64] = "";
                  MENUITEMINFOA item = {};
                  item.cbSize = sizeof(item);
                  item.fMask = MIIM_FTYPE | MIIM_ID;
                  GetMenuItemInfoA(menu, k, TRUE, &item);
                  GetMenuStringA(menu, k, text, sizeof(text), MF_BYPOSITION);
                  entries_.push_back((item.fType & MFT_SEPARATOR)
                                         ? std::string("-")
                                         : std::to_string(item.wID) + " " + text);
              }
              PostMessageA(popup, WM_KEYDOWN, VK_ESCAPE, 0);
              return;
          }
      }) {}

std::vector<std::string> MenuWatch::stop() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
    return entries_;
}

Driver::Driver() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = helper_proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "VorlixTestDriver";
    RegisterClassA(&wc); // fails harmlessly when done
    helper = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             wc.hInstance, nullptr);
    ui_thread = GetCurrentThreadId();
}

int Driver::run(const std::function<void()>& script, const std::function<void()>& body) {
    std::atomic<bool> finished{false};
    int quits = 0;
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
                ++quits;
                continue;
            }
            outer_lparam = msg.lParam;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            outer_lparam = 0;
        }
    }
    t.join();
    // A modal loop ended by quit posts it again: keep it from ending the next test.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        ++quits;
    return quits;
}

void Driver::call(const std::function<void()>& fn) {
    std::function<void()> copy = fn;
    DWORD_PTR ignored;
    SendMessageTimeoutA(helper, call_message, 0, reinterpret_cast<LPARAM>(&copy), SMTO_NORMAL,
                        10000, &ignored);
}

void Driver::post(const std::function<void()>& fn) {
    PostMessageA(helper, call_message, 1, reinterpret_cast<LPARAM>(new std::function<void()>(fn)));
}

bool Driver::flush() {
    Mark mark = {CreateEventA(nullptr, TRUE, FALSE, nullptr), false};
    PostMessageA(helper, mark_message, 0, reinterpret_cast<LPARAM>(&mark));
    DWORD waited = WaitForSingleObject(mark.done, 10000);
    CloseHandle(mark.done);
    flush_timed_out |= waited != WAIT_OBJECT_0;
    return mark.from_outer_pump;
}

std::string private_settings_path() {
    char dir[MAX_PATH] = "";
    GetTempPathA(sizeof(dir), dir);
    char path[MAX_PATH];
    snprintf(path, sizeof(path), "%sshell-tests-%lu.conf", dir, GetCurrentProcessId());
    return path;
}

void write_settings_file(const char* ip, const char* port, const char* user, const char* password) {
    std::ofstream out(private_settings_path(), std::ios::binary | std::ios::trunc);
    out << "IP=\"" << ip << "\"\nPORT=\"" << port << "\"\nUSERNAME=\"" << user << "\"\nPASSWORD=\""
        << password << "\"\n";
}

void serve_settings(unitsim::Server& server) {
    std::string port = std::to_string(server.start(0));
    write_settings_file("127.0.0.1", port.c_str(), "admin", "vorlix");
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool tray_icon_present(HWND window, UINT id) {
    NOTIFYICONDATAA probe;
    memset(&probe, 0, sizeof(probe));
    probe.cbSize = NOTIFYICONDATAA_V1_SIZE;
    probe.hWnd = window;
    probe.uID = id;
    return Shell_NotifyIconA(NIM_MODIFY, &probe) != FALSE;
}

bool take_quit(int* exit_code) {
    MSG message;
    bool found = false;
    while (PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        found = true;
        if (exit_code) *exit_code = static_cast<int>(message.wParam);
    }
    return found;
}

void init_shell_classes() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TAB_CLASSES | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&controls);
    settings_set_path(private_settings_path().c_str());
}

void ShellTest::SetUp() {
    init_shell_classes();
    owner_ = CreateWindowExA(0, "STATIC", "test owner", 0, 0, 0, 0, 0, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(owner_, nullptr);
    main_window = owner_;
    device_record_init();
    request_flags = 0;
    reconnect_request = 0;
    tray_data_init(owner_);
}

void ShellTest::TearDown() {
    remove_tray_icon();
    main_window = nullptr;
    DestroyWindow(owner_);
    device_record_init();
    request_flags = 0;
    reconnect_request = 0;
    remove(private_settings_path().c_str());
}

} // namespace shelltest
