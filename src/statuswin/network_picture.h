// The status window's network picture at the window's scale.
#pragma once
#include <windows.h>

// Gives every bitmap static under `window` the network picture drawn for its dialog's scale;
// at 100 % (and up to about 140 %) the template's bitmap 137 stays.
void pick_network_picture(HWND window);
