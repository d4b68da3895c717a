// The few view operations the core needs; the shell fills them in before the worker starts,
// tests fill them with recorders. A hook left null does nothing.
#pragma once

struct ViewHooks {
    void (*refresh_views)();                     // status window, then tray
    void (*update_tray)(bool add, bool logging); // tray icon and tooltip
    void (*show_report)(const char* text);       // the capture's report; returns at once
    void (*show_notice)(const char* text);       // link lost for a minute, or back; at once
};
extern ViewHooks view_hooks;

void views_refresh();
void views_update_tray(bool add, bool logging);
void views_show_report(const char* text);
void views_show_notice(const char* text);
