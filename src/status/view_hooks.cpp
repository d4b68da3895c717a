#include "status/view_hooks.h"

ViewHooks view_hooks = {nullptr, nullptr, nullptr, nullptr};

void views_refresh() {
    if (view_hooks.refresh_views) view_hooks.refresh_views();
}

void views_update_tray(bool add, bool logging) {
    if (view_hooks.update_tray) view_hooks.update_tray(add, logging);
}

void views_show_report(const char* text) {
    if (view_hooks.show_report) view_hooks.show_report(text);
}

void views_show_notice(const char* text) {
    if (view_hooks.show_notice) view_hooks.show_notice(text);
}
