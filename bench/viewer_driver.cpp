#include "viewer_driver.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char kViewerClass[] = "VORLIXViewerClass__";
const int kTrayIconId = 2000;
const UINT kTrayCallback = 5;

struct TopSearch {
    DWORD pid;
    const char* window_class;
    const char* title;
    bool visible_only;
    HWND found;
};

BOOL CALLBACK find_top(HWND window, LPARAM param) {
    TopSearch* search = reinterpret_cast<TopSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char name[128] = "";
    GetClassNameA(window, name, sizeof name);
    if (pid != search->pid || (search->visible_only && !IsWindowVisible(window)) ||
        strcmp(name, search->window_class) != 0 ||
        (search->title && window_text(window) != search->title))
        return TRUE;
    search->found = window;
    return FALSE;
}

// The value field that follows "key:" in a /proc file, or -1.
long proc_field(const std::string& path, const char* key) {
    std::string text;
    if (!read_file(path, &text)) return -1;
    size_t at = text.find(key);
    return at == std::string::npos ? -1 : atol(text.c_str() + at + strlen(key));
}

// Calls `each` with "Z:\\proc\\<pid>\\task\\<tid>" for every thread of the process.
void for_each_task(const std::string& proc, const std::function<void(const std::string&)>& each) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((proc + "\\task\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (isdigit(static_cast<unsigned char>(entry.cFileName[0])))
            each(proc + "\\task\\" + entry.cFileName);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

// The fields of /proc/<pid>/stat after the command's closing parenthesis, from field 3.
std::vector<std::string> stat_fields(const std::string& proc) {
    std::string stat;
    std::vector<std::string> fields;
    if (!read_file(proc + "\\stat", &stat)) return fields;
    size_t at = stat.rfind(')');
    if (at == std::string::npos) return fields;
    for (at += 2; at < stat.size();) {
        size_t end = std::min(stat.find(' ', at), stat.size());
        fields.push_back(stat.substr(at, end - at));
        at = end + 1;
    }
    return fields;
}

} // namespace

double now_s() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void print_spread(const char* what, const std::vector<double>& seconds) {
    if (seconds.empty()) {
        printf("  %-44s none\n", what);
        return;
    }
    auto range = std::minmax_element(seconds.begin(), seconds.end());
    printf("  %-44s median %6.0f ms (%.0f-%.0f), %zu\n", what, 1000 * median(seconds),
           1000 * *range.first, 1000 * *range.second, seconds.size());
}

bool wait_until(const std::function<bool()>& done, int timeout_ms, int step_ms) {
    double until = now_s() + timeout_ms / 1000.0;
    for (;;) {
        if (done()) return true;
        if (now_s() >= until) return false;
        Sleep(step_ms);
    }
}

std::string windows_path(const char* unix_path) {
    std::string path = unix_path;
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string viewer_exe() {
    return windows_path(VIEWER_EXE);
}

bool read_file(const std::string& path, std::string* bytes) {
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return false;
    bytes->clear();
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, file)) > 0)
        bytes->append(buf, n);
    fclose(file);
    return true;
}

HWND top_window(DWORD pid, const char* window_class, const char* title, bool visible_only) {
    TopSearch search = {pid, window_class, title, visible_only, nullptr};
    EnumWindows(find_top, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string window_text(HWND window) {
    char text[512] = "";
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, 3000, &copied))
        return std::string();
    text[sizeof text - 1] = '\0';
    return text;
}

void tray_click(HWND main, UINT mouse_message) {
    PostMessageA(main, kTrayCallback, kTrayIconId, mouse_message);
}

bool choose_menu(HWND main, DWORD pid, int downs) {
    tray_click(main, WM_RBUTTONUP);
    HWND menu = nullptr;
    if (!wait_until([&] { return (menu = top_window(pid, "#32768", nullptr, true)) != nullptr; },
                    5000))
        return false;
    for (int i = 0; i < downs; ++i)
        PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    return wait_until([&] { return !IsWindowVisible(menu); }, 5000);
}

bool answer_box(DWORD pid, const char* prefix, int timeout_ms) {
    HWND box = nullptr;
    auto found = [&] {
        box = top_window(pid, "#32770", "VORLIX Viewer", true);
        HWND text = box ? GetDlgItem(box, 0xFFFF) : nullptr;
        return text && window_text(text).compare(0, strlen(prefix), prefix) == 0;
    };
    if (!wait_until(found, timeout_ms)) return false;
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    return true;
}

bool status_full(HWND status_window) {
    // The value controls 1011-1039 (1028 is the map button) sit on the two pages.
    for (int id = 1011; id <= 1039; ++id) {
        if (id == 1028) continue;
        HWND control = nullptr;
        for (HWND page = nullptr;
             !control && (page = FindWindowExA(status_window, page, "#32770", nullptr)) != nullptr;)
            control = GetDlgItem(page, id);
        std::string text = control ? window_text(control) : std::string();
        if (text.find_first_not_of(' ') == std::string::npos) return false;
    }
    return true;
}

bool tray_icon_shown() {
    static std::vector<HICON> icons = [] {
        std::vector<HICON> loaded;
        HMODULE module = LoadLibraryExA(viewer_exe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        for (int id : {130, 131, 132, 133, 134, 135, 139})
            if (HANDLE icon = module ? LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16,
                                                  LR_DEFAULTCOLOR)
                                     : nullptr)
                loaded.push_back(static_cast<HICON>(icon));
        return loaded;
    }();
    HWND taskbar = FindWindowA("Shell_TrayWnd", nullptr);
    RECT area;
    if (!taskbar || !GetWindowRect(taskbar, &area)) return false;
    // The notification area: the right 300 pixels of the taskbar.
    int width = std::min<int>(300, area.right - area.left), height = area.bottom - area.top;
    if (width < 16 || height < 16) return false;
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HDC dc = CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    HDC screen = GetDC(nullptr);
    BitBlt(dc, 0, 0, width, height, screen, area.right - width, area.top, SRCCOPY);
    ReleaseDC(nullptr, screen);
    const DWORD* shot = static_cast<const DWORD*>(bits);
    std::vector<DWORD> taken(shot, shot + width * height);
    bool found = false;
    for (HICON icon : icons) {
        // The icon drawn over the taskbar's own colour (its top-right corner), then sought.
        for (int i = 0; i < 16 * 16; ++i)
            static_cast<DWORD*>(bits)[(i / 16) * width + i % 16] = taken[width - 1];
        DrawIconEx(dc, 0, 0, icon, 16, 16, 0, nullptr, DI_NORMAL);
        GdiFlush();
        std::vector<DWORD> drawn(16 * 16);
        for (int i = 0; i < 16 * 16; ++i)
            drawn[i] = shot[(i / 16) * width + i % 16] & 0xFFFFFF;
        for (int y = 0; !found && y + 16 <= height; ++y)
            for (int x = 0; !found && x + 16 <= width; ++x) {
                int differing = 0;
                for (int i = 0; i < 16 * 16 && differing <= 8; ++i)
                    differing += (taken[(y + i / 16) * width + x + i % 16] & 0xFFFFFF) != drawn[i];
                found = differing <= 8;
            }
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return found;
}

bool LinuxSide::find(const std::string& exe, const char* with, const char* without) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &entry);
    if (search == INVALID_HANDLE_VALUE) return false;
    unsigned long long newest = 0;
    do {
        if (!isdigit(static_cast<unsigned char>(entry.cFileName[0]))) continue;
        std::string dir = std::string("Z:\\proc\\") + entry.cFileName, command;
        if (!read_file(dir + "\\cmdline", &command)) continue;
        std::replace(command.begin(), command.end(), '\0', ' ');
        std::vector<std::string> stat = stat_fields(dir);
        if (command.find(exe) == std::string::npos ||
            (with && command.find(with) == std::string::npos) ||
            (without && command.find(without) != std::string::npos) || stat.size() < 20 ||
            stat[0] == "Z")
            continue;
        unsigned long long started = strtoull(stat[19].c_str(), nullptr, 10); // field 22
        if (started >= newest) {
            newest = started;
            proc = dir;
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return !proc.empty();
}

double LinuxSide::cpu_s() const {
    // Nanoseconds on the CPU of each thread (schedstat), finer than stat's 1/100 s ticks.
    double sum = 0;
    for_each_task(proc, [&](const std::string& task) {
        std::string text;
        if (read_file(task + "\\schedstat", &text)) sum += atof(text.c_str()) / 1e9;
    });
    return sum;
}

long LinuxSide::anon_kib() const {
    return proc_field(proc + "\\status", "RssAnon:");
}

long LinuxSide::wakeups() const {
    long sum = 0;
    for_each_task(proc, [&](const std::string& task) {
        sum += std::max(0L, proc_field(task + "\\status", "voluntary_ctxt_switches:"));
    });
    return sum;
}

bool Viewer::running() const {
    return process.hProcess && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT;
}

Viewer::~Viewer() {
    viewer_close(*this);
}

bool viewer_open(Viewer& viewer, const std::function<void()>& each) {
    int port = viewer.unit.port() > 0 ? viewer.unit.port() : viewer.unit.start(0);
    char temp[MAX_PATH] = "", name[MAX_PATH + 64];
    GetTempPathA(sizeof temp, temp);
    snprintf(name, sizeof name, "%svorlix-bench-%lu-%.0f", temp, GetCurrentProcessId(),
             1e6 * now_s());
    viewer.folder = name;
    std::string conf = viewer.folder + "\\telnet.conf";
    FILE* file = port > 0 && CreateDirectoryA(name, nullptr) ? fopen(conf.c_str(), "wb") : nullptr;
    if (!file) return false;
    fprintf(file, "IP=\"127.0.0.1\"\nPORT=\"%d\"\nUSERNAME=\"admin\"\nPASSWORD=\"vorlix\"\n", port);
    fclose(file);
    int logins = viewer.unit.stats().logins;
    std::string exe = viewer_exe(), command = "\"" + exe + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    viewer.started_s = now_s();
    if (!CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, name,
                        &startup, &viewer.process))
        return false;
    auto ready = [&] {
        if (!viewer.main && (viewer.main = top_window(viewer.pid(), kViewerClass, nullptr, false)))
            viewer.window_s = now_s();
        if (each) each();
        return viewer.main && viewer.unit.stats().logins > logins;
    };
    if (!wait_until(ready, 15000, 5) || !viewer.side.find(exe, nullptr, nullptr)) {
        fprintf(stderr, "viewer_bench: the viewer did not start and log in\n");
        return false;
    }
    return true;
}

void viewer_close(Viewer& viewer) {
    if (viewer.process.hProcess) {
        if (viewer.running() && viewer.main) PostMessageA(viewer.main, WM_DESTROY, 0, 0);
        if (WaitForSingleObject(viewer.process.hProcess, 3000) != WAIT_OBJECT_0) {
            TerminateProcess(viewer.process.hProcess, 99);
            WaitForSingleObject(viewer.process.hProcess, 5000);
        }
        CloseHandle(viewer.process.hThread);
        CloseHandle(viewer.process.hProcess);
        viewer.process = PROCESS_INFORMATION();
        viewer.main = nullptr;
    }
    if (viewer.folder.empty()) return;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((viewer.folder + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string file = viewer.folder + "\\" + entry.cFileName;
            SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(file.c_str());
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(viewer.folder.c_str());
    viewer.folder.clear();
}
