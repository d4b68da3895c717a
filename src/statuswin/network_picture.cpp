#include "statuswin/network_picture.h"

namespace {

// Rendered from the same SVG as bitmap 137 at 1.5, 2 and 3 times its 47 px.
struct Variant {
    UINT dpi; // the least DPI that takes it
    const char* name;
    HBITMAP loaded; // loaded once, kept for the process's life
};
Variant variants[] = {
    {288, "NETWORK_288", nullptr}, {192, "NETWORK_192", nullptr}, {144, "NETWORK_144", nullptr}};

UINT window_dpi(HWND window) {
    typedef UINT(WINAPI * DpiForWindow)(HWND);
    // Windows 10 1607 and later; before that the whole process runs at the system DPI.
    auto dpi_for_window = reinterpret_cast<DpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (dpi_for_window) return dpi_for_window(window);
    HDC screen = GetDC(nullptr);
    UINT dpi = screen ? static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSY)) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi;
}

BOOL CALLBACK set_picture(HWND control, LPARAM bitmap) {
    char name[16] = "";
    GetClassNameA(control, name, sizeof name);
    LONG_PTR style = GetWindowLongPtrA(control, GWL_STYLE);
    if (lstrcmpiA(name, "Static") != 0 || (style & SS_TYPEMASK) != SS_BITMAP) return TRUE;
    HGDIOBJ old = reinterpret_cast<HGDIOBJ>(
        SendMessageA(control, STM_SETIMAGE, IMAGE_BITMAP, static_cast<LPARAM>(bitmap)));
    // The control never frees an image it is given; the one it loaded itself is ours now.
    if (old && old != reinterpret_cast<HGDIOBJ>(bitmap)) DeleteObject(old);
    return TRUE;
}

} // namespace

void pick_network_picture(HWND window) {
    UINT dpi = window_dpi(window);
    for (Variant& variant : variants) {
        // From halfway between two scales up, the larger picture.
        if (dpi <= variant.dpi - variant.dpi / 6) continue;
        if (!variant.loaded)
            variant.loaded = static_cast<HBITMAP>(
                LoadImageA(GetModuleHandleA(nullptr), variant.name, IMAGE_BITMAP, 0, 0, 0));
        if (variant.loaded)
            EnumChildWindows(window, set_picture, reinterpret_cast<LPARAM>(variant.loaded));
        return;
    }
}
