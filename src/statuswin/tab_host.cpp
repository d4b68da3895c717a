// Tab page host: pages are modeless child dialogs laid over the tab control, siblings of
// it. The tab control's user data points to its TabHost, each page's user data holds the
// tab control, so any window the host serves leads back to its record.
#include "statuswin/tab_host.h"

#include <cstdlib>

HBRUSH page_brush = nullptr;

// The host of the window now being served; main thread only.
static TabHost* current_host = nullptr;

static int show_selected_page();
static void tab_key_down(NMTCKEYDOWN* key);
static void prime_page_focus(HWND page);
static void page_focus_loop(HWND page);
static INT_PTR CALLBACK tab_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);

static TabHost* host_of_tab(HWND tab) {
    return reinterpret_cast<TabHost*>(GetWindowLongPtrA(tab, GWLP_USERDATA));
}

static void place_page_stretched(HWND tab, int index) {
    current_host = host_of_tab(tab);
    if (!current_host || index < 0 || index >= current_host->page_count) return;
    DisplayArea area;
    page_display_area(tab, &area);
    SetWindowPos(current_host->pages[index], HWND_TOP, area.x, area.y, area.width, area.height, 0);
}

static void place_page_centered(HWND tab, int index) {
    current_host = host_of_tab(tab);
    if (!current_host || index < 0 || index >= current_host->page_count) return;
    DisplayArea area;
    page_display_area(tab, &area);
    HWND page = current_host->pages[index];
    RECT client;
    GetClientRect(page, &client);
    int width = client.right - client.left;
    int height = client.bottom - client.top;
    int x = area.x;
    int y = area.y;
    // A page larger than the area keeps its size at the area's top-left corner.
    if (width < area.width) x += (area.width - width) / 2;
    if (height < area.height) y += (area.height - height) / 2;
    SetWindowPos(page, HWND_TOP, x, y, width, height, 0);
}

static void no_size_handler(HWND, UINT, int, int) {}

void tab_host_init(TabHost* host, HWND tab, const char* const* titles, const LPCSTR* templates,
                   DLGPROC dialog_proc, TabSizeFn on_size, int stretch_pages) {
    current_host = host;
    SetWindowLongPtrA(tab, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(host));

    host->tab = tab;
    host->current_page = nullptr;
    host->titles = titles;
    host->stretch_pages = stretch_pages;
    host->dialog_proc = dialog_proc;
    host->on_size = on_size ? on_size : no_size_handler;
    host->on_notify = tab_host_notify;
    host->place_stretched = place_page_stretched;
    host->place_centered = place_page_centered;
    host->page_count = 0;

    int count = 0;
    while (templates[count])
        ++count;
    // Set up once per host and kept while the dialog lives.
    host->pages = static_cast<HWND*>(calloc(count > 0 ? count : 1, sizeof(HWND)));
    if (!host->pages) return; // no pages: the host stays an empty tab strip
    host->page_count = count;

    TCITEMA item = {};
    item.mask = TCIF_TEXT | TCIF_IMAGE;
    item.iImage = -1;

    HINSTANCE instance = GetModuleHandleA(nullptr);
    HWND parent = GetParent(tab);
    for (int i = 0; i < count; ++i) {
        item.pszText = const_cast<char*>(titles[i]);
        SendMessageA(tab, TCM_INSERTITEMA, i, reinterpret_cast<LPARAM>(&item));
        host->pages[i] = CreateDialogParamA(instance, templates[i], parent, tab_page_proc, 0);
        SetWindowLongPtrA(host->pages[i], GWLP_USERDATA, reinterpret_cast<LONG_PTR>(tab));
        if (host->stretch_pages)
            host->place_stretched(tab, i);
        else
            host->place_centered(tab, i);
    }
    current_host = host;
    if (count > 0) {
        ShowWindow(host->pages[0], SW_SHOW);
        host->current_page = host->pages[0];
    }
}

void page_display_area(HWND tab, DisplayArea* area) {
    LONG style = GetWindowLongA(tab, GWL_STYLE);
    RECT frame;
    GetWindowRect(tab, &frame);
    POINT top_left = {frame.left, frame.top};
    ScreenToClient(GetParent(tab), &top_left);
    // The tab control has no border: its bottom-right corner in its own client
    // coordinates is its size.
    POINT bottom_right = {frame.right, frame.bottom};
    ScreenToClient(tab, &bottom_right);

    // Item 0 stands for the whole strip: one row or column of tabs.
    RECT item = {};
    SendMessageA(tab, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item));
    int iw = item.right - item.left;
    int ih = item.bottom - item.top;

    int x = top_left.x, y = top_left.y, width = bottom_right.x, height = bottom_right.y;
    bool vertical = (style & TCS_VERTICAL) != 0;
    bool far_side = (style & TCS_BOTTOM) != 0; // TCS_RIGHT on vertical tabs
    if (!vertical) {
        area->x = x + 4;
        area->y = far_side ? y + 6 : y + ih + 6;
        area->width = width - 12;
        area->height = height - ih - 16;
    } else {
        area->x = far_side ? x + 4 : x + iw + 4;
        area->y = y + 6;
        area->width = width - iw - 12;
        area->height = height - 12;
    }
}

int tab_host_notify(NMHDR* header) {
    TabHost* host = host_of_tab(header->hwndFrom);
    if (!host) return 0;
    current_host = host;
    switch (header->code) {
    case TCN_SELCHANGE:
        return show_selected_page();
    case TCN_KEYDOWN:
        tab_key_down(reinterpret_cast<NMTCKEYDOWN*>(header));
        show_selected_page();
        return 1;
    default: // TCN_SELCHANGING included: let the change go ahead
        return 0;
    }
}

static int show_selected_page() {
    TabHost* host = current_host;
    int sel = static_cast<int>(SendMessageA(host->tab, TCM_GETCURSEL, 0, 0));
    if (sel < 0 || sel >= host->page_count) return 1;
    ShowWindow(host->current_page, SW_HIDE);
    // Ends a focus loop running in the page that goes away.
    PostMessageA(host->current_page, WM_SHOWWINDOW, 0, 0);
    ShowWindow(host->pages[sel], SW_SHOWNORMAL);
    host->current_page = host->pages[sel];
    return 1;
}

static void select_and_focus(HWND tab, int select, int focus) {
    SendMessageA(tab, TCM_SETCURSEL, select, 0);
    SendMessageA(tab, TCM_SETCURFOCUS, focus, 0);
}

static void tab_key_down(NMTCKEYDOWN* key) {
    HWND tab = key->hdr.hwndFrom;
    int count = static_cast<int>(SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0));
    int cur = static_cast<int>(SendMessageA(tab, TCM_GETCURSEL, 0, 0));
    if (count <= 1) return;
    TabHost* host = current_host;
    bool vertical = (GetWindowLongA(host->tab, GWL_STYLE) & TCS_VERTICAL) != 0;
    bool has_page = cur >= 0 && cur < host->page_count;

    // Arrows along the strip give the focus back to cur; the tab control's own handling of
    // the key, which follows this notification, then moves the selection.
    switch (key->wVKey) {
    case VK_PRIOR:
        if (!vertical)
            select_and_focus(tab, cur + 1, cur + 1);
        else if (cur > 0)
            select_and_focus(tab, cur - 1, cur - 1);
        break;
    case VK_NEXT:
        if (vertical)
            select_and_focus(tab, cur + 1, cur + 1);
        else if (cur > 0)
            select_and_focus(tab, cur - 1, cur - 1);
        break;
    case VK_LEFT:
        if (vertical) {
            if (has_page) enter_page(host->pages[cur], host->pages[cur]);
        } else if (cur > 0) {
            select_and_focus(tab, cur - 1, cur);
        }
        break;
    case VK_UP:
        if (!vertical) {
            if (has_page) enter_page(host->pages[cur], host->pages[cur]);
        } else if (cur > 0) {
            select_and_focus(tab, cur - 1, cur);
        }
        break;
    case VK_RIGHT:
        if (vertical) {
            if (has_page) enter_page(host->pages[cur], host->pages[cur]);
        } else {
            select_and_focus(tab, cur + 1, cur);
        }
        break;
    case VK_DOWN:
        if (!vertical) {
            if (has_page) enter_page(host->pages[cur], host->pages[cur]);
        } else {
            select_and_focus(tab, cur + 1, cur);
        }
        break;
    default: // End, Home and every other key
        break;
    }
}

void enter_page(HWND page, HWND focus) {
    SetFocus(focus);
    prime_page_focus(page);
    page_focus_loop(page);
}

static void prime_page_focus(HWND page) {
    SendMessageA(page, WM_NEXTDLGCTL, 1, 0);
    // The primed Tab moves the focus forward again and marks where the cycle starts.
    PostMessageA(GetFocus(), WM_KEYDOWN, VK_TAB, 0);
}

static void page_focus_loop(HWND page) {
    HWND first_tab = nullptr;
    MSG msg;
    for (;;) {
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(0); // the enclosing loops end too
            return;
        }
        if (got == -1) return;
        if (msg.message == WM_SHOWWINDOW && msg.wParam == 0) return;
        if (msg.message == WM_KEYDOWN && msg.wParam == VK_TAB) {
            if (!first_tab) {
                first_tab = msg.hwnd;
            } else if (msg.hwnd == first_tab) {
                // Once round the page: back to the tab strip.
                HWND strip =
                    reinterpret_cast<HWND>(GetWindowLongPtrA(GetParent(msg.hwnd), GWLP_USERDATA));
                if (!strip && current_host) strip = current_host->tab;
                SetFocus(strip);
                return;
            }
        }
        if (!IsDialogMessageA(page, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

static INT_PTR message_result(HWND page, LRESULT result) {
    SetWindowLongPtrA(page, DWLP_MSGRESULT, result);
    return TRUE;
}

static INT_PTR CALLBACK tab_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
    // While a page is being created its user data is still 0: it works with the host
    // that is being set up.
    HWND tab = reinterpret_cast<HWND>(GetWindowLongPtrA(page, GWLP_USERDATA));
    if (tab) {
        TabHost* host = host_of_tab(tab);
        if (host) current_host = host;
    }
    TabHost* host = current_host;

    switch (message) {
    case WM_INITDIALOG:
        if (!page_brush) page_brush = CreateSolidBrush(RGB(255, 255, 255));
        return DefWindowProcA(page, message, wparam, lparam);
    case WM_SIZE:
        if (host)
            host->on_size(page, static_cast<UINT>(wparam), static_cast<short>(LOWORD(lparam)),
                          static_cast<short>(HIWORD(lparam)));
        return message_result(page, 0);
    case WM_COMMAND: {
        WORD id = LOWORD(wparam);
        WORD code = HIWORD(wparam);
        HWND control = reinterpret_cast<HWND>(lparam);
        if (host && host->dialog_proc)
            host->dialog_proc(page, WM_COMMAND, MAKEWPARAM(id, code), lparam);
        // A command without a control (a key that the dialog manager turned into one)
        // enters the page itself.
        if (code == BN_CLICKED) enter_page(page, control ? control : page);
        return message_result(page, 0);
    }
    case WM_LBUTTONDOWN: {
        HWND strip = tab ? tab : (host ? host->tab : nullptr);
        if (strip) {
            int id = GetDlgCtrlID(strip);
            NMTCKEYDOWN key = {};
            key.hdr.hwndFrom = strip;
            key.hdr.idFrom = static_cast<UINT_PTR>(id);
            key.hdr.code = static_cast<UINT>(TCN_KEYDOWN);
            key.wVKey = (GetWindowLongA(strip, GWL_STYLE) & TCS_VERTICAL) ? VK_LEFT : VK_DOWN;
            key.flags = 0;
            SendMessageA(strip, WM_NOTIFY, id, reinterpret_cast<LPARAM>(&key));
        }
        return message_result(page, 0);
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        HDC dc = reinterpret_cast<HDC>(wparam);
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkColor(dc, RGB(255, 255, 255));
        return reinterpret_cast<INT_PTR>(page_brush);
    }
    case WM_CTLCOLORDLG:
        return reinterpret_cast<INT_PTR>(page_brush);
    default:
        if (host && host->dialog_proc) host->dialog_proc(page, message, wparam, lparam);
        return FALSE;
    }
}
