// The status window's "History" page: a graph of the last 24 hours of signal, the link's
// events newest first in a virtual list view (rows read from the history, no copies kept)
// and a "Copy" button that puts the history's text on the clipboard.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <cstddef>

#include "link/link_history.h"

extern int history_graph_draws; // times the graph was drawn into its memory picture

// Registers the graph's window class; before the page's template is created.
bool history_page_register();
// Sets up the list view's columns and row count once the page exists.
void history_page_init(HWND page);
// The worker's refresh: when the history changed, new row count and a repaint of the graph
// and the list. Through messages only, like every status text.
void history_page_refresh(HWND page);
// The list view's notifications (rows asked for by index); 0 for others.
LRESULT history_page_notify(NMHDR* header);
// "Copy": history_text() as CF_TEXT; false when the clipboard refused it.
bool history_page_copy(HWND owner);

// A row's texts: "MM-DD HH:MM:SS" local, the event word, and the detail with " (N times)" for
// a count and ", back after 12 min" for an ended outage.
void history_row_text(const LinkEvent& event, int column, char* out, size_t size);
