// A tab control on a dialog turned into a set of child-dialog pages: placement over the
// tab control's display area, page switching, white pages, and keyboard moves between
// the tab strip and a page.
#pragma once
#include <windows.h>
#include <commctrl.h>

typedef void (*TabSizeFn)(HWND page, UINT size_type, int width, int height);
typedef int (*TabNotifyFn)(NMHDR* header);
typedef void (*TabPlaceFn)(HWND tab, int index);

struct TabHost {
    HWND tab;                  // the tab control
    HWND current_page;         // the page now shown
    HWND* pages;               // page i backs tab i; page_count handles, on the heap
    const char* const* titles; // the caller's title table, borrowed
    int page_count;
    int stretch_pages;   // nonzero: stretch every page over the display area; zero: centre it
    DLGPROC dialog_proc; // the host dialog's own procedure, fed the pages' messages
    TabSizeFn on_size;
    TabNotifyFn on_notify;      // always tab_host_notify
    TabPlaceFn place_stretched; // always the stretching placement
    TabPlaceFn place_centered;  // always the centring placement
};

// Where pages go, in the client coordinates of the tab control's parent.
struct DisplayArea {
    int x;
    int y;
    int width;
    int height;
};

// The one white brush of all pages; null until the first page is initialised.
extern HBRUSH page_brush;

// `templates` is null-terminated (resource names or MAKEINTRESOURCEA ids); `titles` holds at
// least as many entries. The tab control must already be a child of the host dialog.
void tab_host_init(TabHost* host, HWND tab, const char* const* titles, const LPCSTR* templates,
                   DLGPROC dialog_proc, TabSizeFn on_size, int stretch_pages);
int tab_host_notify(NMHDR* header);
void page_display_area(HWND tab, DisplayArea* area);
// Gives the focus to `focus` and runs the page's own Tab loop until it hands the focus back
// to the tab strip, the page is switched away or the program quits.
void enter_page(HWND page, HWND focus);
