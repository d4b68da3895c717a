// The status window's network picture at the window's DPI.
#pragma once
#include <windows.h>

// Gives every bitmap static under `window` the network picture drawn for the window's DPI;
// at 96 DPI (and up to 120) the template's bitmap stays.
void pick_network_picture(HWND window);
