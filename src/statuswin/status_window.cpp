// The status window: a modal dialog created once and afterwards only hidden and shown.
#include "statuswin/status_window.h"

#include <atomic>

int status_window_shown = 0;

// Written once by the main thread, read by the worker's refresh.
static std::atomic<HWND> status_dialog{nullptr};

void open_status_window(HWND owner) {
    (void)owner;
    status_window_shown = 1;
}

void hide_status_window() { status_window_shown = 0; }

void refresh_status_window() {
    if (status_dialog.load(std::memory_order_acquire) == nullptr) return;
}

HWND status_window_handle() { return status_dialog.load(std::memory_order_acquire); }
