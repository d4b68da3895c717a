#include "shell/user_options.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <atomic>
#include <cstdio>

namespace {

constexpr char kOptionsKey[] = "Software\\VORLIX\\VORLIX Viewer";
constexpr char kNotifyValue[] = "NotifyOnLinkLoss";
constexpr char kShortcutName[] = "VORLIX Viewer.lnk"; // the installer's Startup shortcut

// The worker reads it when a notice is due; the menu writes it.
std::atomic<bool> notify_choice{true};
char start_folder[MAX_PATH] = "";

} // namespace

void options_load() {
    DWORD value = 1;
    DWORD size = sizeof(value);
    DWORD type = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kOptionsKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        if (RegQueryValueExA(key, kNotifyValue, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                             &size) != ERROR_SUCCESS ||
            type != REG_DWORD)
            value = 1;
        RegCloseKey(key);
    }
    notify_choice = value != 0;
}

bool notify_on_link_loss() {
    return notify_choice.load();
}

bool set_notify_on_link_loss(bool on) {
    notify_choice = on;
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kOptionsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    DWORD value = on ? 1 : 0;
    bool stored =
        RegSetValueExA(key, kNotifyValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                       sizeof(value)) == ERROR_SUCCESS;
    RegCloseKey(key);
    return stored;
}

void options_set_start_folder(const char* folder) {
    (void)snprintf(start_folder, sizeof(start_folder), "%s", folder);
}

bool startup_shortcut_path(char* out, size_t size) {
    char folder[MAX_PATH];
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_STARTUP, nullptr, SHGFP_TYPE_CURRENT, folder)))
        return false;
    int n = snprintf(out, size, "%s\\%s", folder, kShortcutName);
    return n > 0 && static_cast<size_t>(n) < size;
}

bool start_at_logon() {
    char path[MAX_PATH + 32];
    return startup_shortcut_path(path, sizeof(path)) &&
           GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool set_start_at_logon(bool on) {
    char path[MAX_PATH + 32];
    if (!startup_shortcut_path(path, sizeof(path))) return false;
    if (!on) return DeleteFileA(path) || GetLastError() == ERROR_FILE_NOT_FOUND;

    char target[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, target, sizeof(target));
    if (length == 0 || length >= sizeof(target)) return false;
    char folder[MAX_PATH];
    if (start_folder[0])
        (void)snprintf(folder, sizeof(folder), "%s", start_folder);
    else if (GetCurrentDirectoryA(sizeof(folder), folder) == 0)
        return false;
    WCHAR wide_path[MAX_PATH + 32];
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide_path, MAX_PATH + 32) == 0) return false;

    // The menu runs on the main thread, which may not have COM yet; undone only if done here.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool made = false;
    IShellLinkA* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = nullptr;
        link->SetPath(target);
        link->SetWorkingDirectory(folder);
        link->SetDescription("VORLIX Viewer");
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            made = SUCCEEDED(file->Save(wide_path, TRUE));
            file->Release();
        }
        link->Release();
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return made;
}
