#include "shell_test_support.h"

#include <commctrl.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "link/settings_file.h"

namespace shelltest {

namespace {

struct Search {
    const char* title;
    HWND found;
};

BOOL CALLBACK match_dialog(HWND window, LPARAM context) {
    Search* search = reinterpret_cast<Search*>(context);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    char name[16] = "";
    char title[128] = "";
    GetClassNameA(window, name, sizeof(name));
    GetWindowTextA(window, title, sizeof(title));
    if (strcmp(name, "#32770") == 0 && strcmp(title, search->title) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND find_dialog(const char* title) {
    Search search = {title, nullptr};
    EnumWindows(match_dialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

Responder::Responder(const char* title, std::vector<int> buttons)
    : title_(title), buttons_(std::move(buttons)), thread_([this] { run(); }) {}

Responder::~Responder() {
    stop();
}

void Responder::stop() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
}

std::vector<std::string> Responder::texts() {
    return texts_;
}

void Responder::run() {
    size_t answered = 0;
    while (!done_) {
        HWND box = find_dialog(title_.c_str());
        if (!box) {
            Sleep(5);
            continue;
        }
        char text[512] = "";
        GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
        texts_.push_back(text);
        int button = answered < buttons_.size() ? buttons_[answered] : IDOK;
        ++answered;
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        // Wait for this box to go before looking for the next one.
        for (int i = 0; i < 400 && IsWindow(box); ++i)
            Sleep(5);
    }
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

InLoop::InLoop(const char* title, Action action, void* context)
    : title_(title), action_(action), context_(context) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "ShellTestInLoop";
        RegisterClassA(&wc);
        registered = true;
    }
    window_ = CreateWindowExA(0, "ShellTestInLoop", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    thread_ = std::thread([this] {
        for (int waited = 0; waited < 3000; waited += 5) {
            if (find_dialog(title_.c_str())) {
                PostMessageA(window_, WM_APP, 0, 0);
                return;
            }
            Sleep(5);
        }
    });
}

InLoop::~InLoop() {
    if (thread_.joinable()) thread_.join();
    DestroyWindow(window_);
}

LRESULT CALLBACK InLoop::proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_APP) {
        InLoop* self = reinterpret_cast<InLoop*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self) {
            self->action_(self->context_);
            self->ran_ = true;
        }
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
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

} // namespace shelltest
