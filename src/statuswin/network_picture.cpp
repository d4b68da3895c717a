#include "statuswin/network_picture.h"

namespace {

// Rendered from the same SVG as bitmap 137 (47 px) for 150, 175, 200, 250 and 300 %.
struct Variant {
    int size; // pixels, square
    const char* name;
    HBITMAP loaded; // loaded once, kept for the process's life
};
Variant variants[] = {{141, "NETWORK_288", nullptr},
                      {118, "NETWORK_240", nullptr},
                      {94, "NETWORK_192", nullptr},
                      {82, "NETWORK_168", nullptr},
                      {71, "NETWORK_144", nullptr}};

// The picture is 47 px where the dialog font's base unit is 13 px high (8 point at 96 DPI).
// Sized by the dialog's own layout rather than the DPI alone, so it keeps its place between
// the labels around it when the font does not grow exactly with the DPI.
int wanted_size(HWND dialog) {
    RECT unit = {0, 0, 4, 8};
    if (!MapDialogRect(dialog, &unit)) return 47;
    return 47 * unit.bottom / 13;
}

BOOL CALLBACK set_picture(HWND control, LPARAM) {
    char name[16] = "";
    GetClassNameA(control, name, sizeof name);
    LONG_PTR style = GetWindowLongPtrA(control, GWL_STYLE);
    if (lstrcmpiA(name, "Static") != 0 || (style & SS_TYPEMASK) != SS_BITMAP) return TRUE;
    int wanted = wanted_size(GetParent(control));
    for (Variant& variant : variants) {
        if (variant.size > wanted + 1) continue; // the largest that fits; else bitmap 137
        if (!variant.loaded)
            variant.loaded = static_cast<HBITMAP>(
                LoadImageA(GetModuleHandleA(nullptr), variant.name, IMAGE_BITMAP, 0, 0, 0));
        if (!variant.loaded) return TRUE;
        HGDIOBJ old = reinterpret_cast<HGDIOBJ>(SendMessageA(
            control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(variant.loaded)));
        // The control never frees an image it is given; the one it loaded itself is ours now.
        if (old && old != variant.loaded) DeleteObject(old);
        return TRUE;
    }
    return TRUE;
}

} // namespace

void pick_network_picture(HWND window) {
    EnumChildWindows(window, set_picture, 0);
}
