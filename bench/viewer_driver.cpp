#include "viewer_driver.h"

#include <cstdio>
#include <cstring>

namespace e2e {

namespace {

const char kViewerClass[] = "VORLIXViewerClass__";
const int kTrayIconId = 2000;
const UINT kTrayCallback = 5;

struct TopSearch {
    DWORD pid;
    const char* window_class;
    const char* title;
    bool visible_only;
    std::vector<HWND>* found;
};

BOOL CALLBACK collect_top(HWND window, LPARAM param) {
    TopSearch* search = reinterpret_cast<TopSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->pid) return TRUE;
    if (search->visible_only && !IsWindowVisible(window)) return TRUE;
    char name[128] = "";
    GetClassNameA(window, name, sizeof name);
    if (search->window_class && strcmp(name, search->window_class) != 0) return TRUE;
    if (search->title && window_text(window) != search->title) return TRUE;
    search->found->push_back(window);
    return TRUE;
}

struct ChildSearch {
    int id;
    HWND found;
};

BOOL CALLBACK find_child(HWND window, LPARAM param) {
    ChildSearch* search = reinterpret_cast<ChildSearch*>(param);
    if (GetDlgCtrlID(window) != search->id) return TRUE;
    search->found = window;
    return FALSE;
}

// A 32-bit top-down DIB section and its memory DC.
struct Canvas {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    DWORD* pixels = nullptr;
    int width = 0, height = 0;

    Canvas(int w, int h) : width(w), height(h) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc = CreateCompatibleDC(nullptr);
        void* bits = nullptr;
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        pixels = static_cast<DWORD*>(bits);
        if (bitmap) old = SelectObject(dc, bitmap);
    }
    ~Canvas() {
        if (old) SelectObject(dc, old);
        if (bitmap) DeleteObject(bitmap);
        if (dc) DeleteDC(dc);
    }
    bool ok() const { return pixels != nullptr; }
    DWORD at(int x, int y) const { return pixels[y * width + x] & 0xFFFFFF; }
};

} // namespace

bool wait_until(const std::function<bool()>& done, int timeout_ms, int step_ms) {
    DWORD start = GetTickCount();
    for (;;) {
        if (done()) return true;
        if (static_cast<int>(GetTickCount() - start) >= timeout_ms) return false;
        Sleep(step_ms);
    }
}

std::string viewer_exe_path() {
    std::string path = VIEWER_EXE;
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

TempFolder::TempFolder() {
    char base[MAX_PATH] = "";
    GetTempPathA(sizeof base, base);
    char name[MAX_PATH];
    snprintf(name, sizeof name, "%svorlix-e2e-%lu-%lu", base, GetCurrentProcessId(),
             GetTickCount());
    CreateDirectoryA(name, nullptr);
    path_ = name;
}

TempFolder::~TempFolder() {
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((path_ + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string file = path_ + "\\" + entry.cFileName;
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(file.c_str());
            }
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(path_.c_str());
}

bool write_file(const std::string& path, const std::string& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
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

void write_settings(const std::string& folder, int port, const char* user, const char* password) {
    char text[256];
    snprintf(text, sizeof text, "IP=\"127.0.0.1\"\nPORT=\"%d\"\nUSERNAME=\"%s\"\nPASSWORD=\"%s\"\n",
             port, user, password);
    write_file(folder + "\\telnet.conf", text);
}

ViewerProcess::~ViewerProcess() {
    end_for_cleanup();
}

bool ViewerProcess::start(const std::string& folder) {
    std::string exe = viewer_exe_path();
    std::string command = "\"" + exe + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    main_ = nullptr;
    return CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                          folder.c_str(), &startup, &info_) != 0;
}

bool ViewerProcess::running() const {
    return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

bool ViewerProcess::wait_exit(DWORD timeout_ms, DWORD* code) const {
    if (!info_.hProcess || WaitForSingleObject(info_.hProcess, timeout_ms) != WAIT_OBJECT_0)
        return false;
    GetExitCodeProcess(info_.hProcess, code);
    return true;
}

HWND ViewerProcess::main_window(int timeout_ms) {
    if (main_ && IsWindow(main_)) return main_;
    wait_until(
        [this] {
            std::vector<HWND> found = top_windows(pid(), kViewerClass, nullptr, false);
            main_ = found.empty() ? nullptr : found[0];
            return main_ != nullptr || !running();
        },
        timeout_ms);
    return main_;
}

void ViewerProcess::end_for_cleanup() {
    if (!info_.hProcess) return;
    if (running()) {
        std::vector<HWND> found = top_windows(pid(), kViewerClass, nullptr, false);
        if (!found.empty()) PostMessageA(found[0], WM_DESTROY, 0, 0);
        if (WaitForSingleObject(info_.hProcess, 3000) != WAIT_OBJECT_0) {
            TerminateProcess(info_.hProcess, 99);
            WaitForSingleObject(info_.hProcess, 5000);
        }
    }
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
    info_ = PROCESS_INFORMATION();
    main_ = nullptr;
}

std::vector<HWND> top_windows(DWORD pid, const char* window_class, const char* title,
                              bool visible_only) {
    std::vector<HWND> found;
    TopSearch search = {pid, window_class, title, visible_only, &found};
    EnumWindows(collect_top, reinterpret_cast<LPARAM>(&search));
    return found;
}

HWND wait_top_window(DWORD pid, const char* window_class, const char* title, int timeout_ms) {
    HWND window = nullptr;
    wait_until(
        [&] {
            std::vector<HWND> found = top_windows(pid, window_class, title, true);
            window = found.empty() ? nullptr : found[0];
            return window != nullptr;
        },
        timeout_ms);
    return window;
}

HWND find_descendant(HWND parent, int control_id) {
    ChildSearch search = {control_id, nullptr};
    EnumChildWindows(parent, find_child, reinterpret_cast<LPARAM>(&search));
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

bool set_window_text(HWND window, const std::string& text) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                               SMTO_ABORTIFHUNG, 3000, &result) != 0;
}

std::string box_text(HWND box) {
    HWND text = GetDlgItem(box, 0xFFFF);
    return text ? window_text(text) : std::string();
}

HWND wait_box(DWORD pid, const std::string& text_prefix, int timeout_ms) {
    HWND box = nullptr;
    wait_until(
        [&] {
            for (HWND candidate : top_windows(pid, "#32770", "VORLIX Viewer", true)) {
                if (box_text(candidate).compare(0, text_prefix.size(), text_prefix) == 0) {
                    box = candidate;
                    return true;
                }
            }
            return false;
        },
        timeout_ms);
    return box;
}

void press_ok(HWND box) {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
}

void tray_click(HWND main_window, UINT mouse_message) {
    PostMessageA(main_window, kTrayCallback, kTrayIconId, mouse_message);
}

bool choose_menu_entry(HWND main_window, DWORD pid, int downs) {
    tray_click(main_window, WM_RBUTTONUP);
    HWND menu = wait_top_window(pid, "#32768", nullptr, 5000);
    if (!menu) return false;
    for (int i = 0; i < downs; ++i)
        PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    return wait_until([&] { return !IsWindow(menu) || !IsWindowVisible(menu); }, 5000);
}

HWND wait_status_window(DWORD pid, int timeout_ms) {
    return wait_top_window(pid, "#32770", "VORLIX Connection Status", timeout_ms);
}

const std::vector<StatusField>& status_fields() {
    static const std::vector<StatusField> fields = {
        {1032, "cell_hardware", true},
        {1033, "wifi_hardware", true},
        {1034, "priority", true},
        {1011, "firmware_version", true},
        {1012, "imei", true},
        {1013, "modem_id", true},
        {1014, "wwan_ip", true},
        {1015, "signal_quality", true},
        {1016, "uptime", true},
        {1017, "network_type", true},
        {1018, "activity_caption", true},
        {1019, "data_sent", true},
        {1020, "data_received", true},
        {1021, "data_total", true},
        {1022, "latitude", true},
        {1023, "longitude", true},
        {1024, "lat_hemisphere", true},
        {1025, "lon_hemisphere", true},
        {1026, "speed", true},
        {1027, "odometer", true},
        {1029, "wifi_mode", false},
        {1030, "ap_ssid", false},
        {1031, "ap_mac", false},
        {1035, "tx_power", false},
        {1036, "link_quality", false},
        {1037, "rx_power", false},
        {1038, "noise_level", false},
        {1039, "wifi_ip", false},
    };
    return fields;
}

bool read_status(HWND status_window, std::vector<std::pair<int, std::string>>* texts) {
    texts->clear();
    for (const StatusField& field : status_fields()) {
        HWND control = find_descendant(status_window, field.id);
        if (!control) return false;
        texts->emplace_back(field.id, window_text(control));
    }
    return true;
}

std::string trimmed(const std::string& text) {
    size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

bool TrayWatcher::load(const std::string& exe_path) {
    HMODULE module = LoadLibraryExA(exe_path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return false;
    static const int ids[] = {130, 131, 132, 133, 134, 135, 139};
    for (int id : ids) {
        HICON icon = static_cast<HICON>(
            LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
        if (!icon) return false;
        pictures_.push_back(Picture{id, icon});
    }
    return true;
}

int TrayWatcher::shown_icon(POINT* center) const {
    HWND taskbar = FindWindowA("Shell_TrayWnd", nullptr);
    if (!taskbar) return 0;
    RECT area;
    GetWindowRect(taskbar, &area);
    int width = area.right - area.left, height = area.bottom - area.top;
    if (width < 16 || height < 16) return 0;
    Canvas screen(width, height);
    HDC desktop = GetDC(nullptr);
    bool copied = screen.ok() &&
                  BitBlt(screen.dc, 0, 0, width, height, desktop, area.left, area.top, SRCCOPY);
    ReleaseDC(nullptr, desktop);
    if (!copied) return 0;
    // The taskbar's own colour: its top-right corner, beside the notification area.
    DWORD background = screen.at(width - 1, 0);
    for (const Picture& picture : pictures_) {
        Canvas drawn(16, 16);
        if (!drawn.ok()) continue;
        for (int i = 0; i < 16 * 16; ++i)
            drawn.pixels[i] = background;
        DrawIconEx(drawn.dc, 0, 0, picture.icon, 16, 16, 0, nullptr, DI_NORMAL);
        GdiFlush();
        // Only the right part of the taskbar holds the notification area.
        int from = width > 300 ? width - 300 : 0;
        for (int y = 0; y + 16 <= height; ++y) {
            for (int x = from; x + 16 <= width; ++x) {
                int differing = 0;
                for (int py = 0; py < 16 && differing <= 8; ++py)
                    for (int px = 0; px < 16 && differing <= 8; ++px)
                        if (screen.at(x + px, y + py) != drawn.at(px, py)) ++differing;
                if (differing > 8) continue;
                if (center) *center = POINT{area.left + x + 8, area.top + y + 8};
                return picture.id;
            }
        }
    }
    return 0;
}

namespace {

HWND visible_tooltip() {
    HWND tip = nullptr;
    while ((tip = FindWindowExA(nullptr, tip, "tooltips_class32", nullptr)) != nullptr)
        if (IsWindowVisible(tip)) return tip;
    return nullptr;
}

void pointer_off_taskbar() {
    SetCursorPos(512, 300);
    wait_until([] { return visible_tooltip() == nullptr; }, 2000);
}

} // namespace

std::string TrayWatcher::tooltip() const {
    pointer_off_taskbar();
    POINT center;
    if (!shown_icon(&center)) return std::string();
    SetCursorPos(center.x, center.y);
    HWND tip = nullptr;
    wait_until([&] { return (tip = visible_tooltip()) != nullptr; }, 3000);
    std::string text = tip ? window_text(tip) : std::string();
    pointer_off_taskbar();
    return text;
}

} // namespace e2e
