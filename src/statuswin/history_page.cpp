#include "statuswin/history_page.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "link/link_history.h"
#include "resource.h"

int history_graph_draws = 0;

namespace {

constexpr char kGraphClass[] = "VorlixSignalGraph";

// The graph's state, main thread only: the minutes drawn and their picture, kept until the
// history, the size or the DPI changes, so a repaint only copies it.
SignalMinute graph_minutes[HISTORY_MINUTES];
HDC graph_dc = nullptr;
HBITMAP graph_bitmap = nullptr;
int graph_width = 0;
int graph_height = 0;
UINT graph_dpi = 0;
uint32_t graph_generation = 0;

// The generation the list and the graph were last told about; the worker's refresh and the
// page's set-up on the main thread both move it.
std::atomic<uint32_t> shown_generation{0};

UINT dpi_of(HWND window) {
    typedef UINT(WINAPI * DpiForWindow)(HWND);
    static auto dpi_for_window = reinterpret_cast<DpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    UINT dpi = dpi_for_window ? dpi_for_window(window) : 0;
    if (dpi == 0) {
        HDC screen = GetDC(nullptr);
        dpi = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSY));
        ReleaseDC(nullptr, screen);
    }
    return dpi ? dpi : 96;
}

int scaled(int pixels, UINT dpi) {
    return MulDiv(pixels, static_cast<int>(dpi), 96);
}

void fill(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
    RECT r = {left, top, right, bottom};
    SetBkColor(dc, colour);
    ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

// Minutes oldest first over the plot's width, one pixel column at a time: the band from the
// lowest to the highest signal, the mean as a line, and columns of no link shaded.
void draw_graph(HDC dc, int width, int height, UINT dpi) {
    ++history_graph_draws;
    fill(dc, 0, 0, width, height, RGB(255, 255, 255));
    HFONT font = CreateFontA(-MulDiv(7, static_cast<int>(dpi), 72), 0, 0, 0, FW_NORMAL, 0, 0, 0,
                             DEFAULT_CHARSET, 0, 0, 0, 0, "Tahoma");
    HGDIOBJ old_font = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(64, 64, 64));
    SIZE label = {0, 0};
    GetTextExtentPoint32A(dc, "100", 3, &label);

    const int left = label.cx + scaled(5, dpi);
    const int right = width - scaled(8, dpi);
    const int top = label.cy / 2 + scaled(2, dpi);
    const int bottom = height - label.cy - scaled(4, dpi);
    const int plot_width = right - left;
    if (plot_width < 4 || bottom - top < 4) {
        SelectObject(dc, old_font);
        DeleteObject(font);
        return;
    }
    auto y_of = [&](int percent) { return bottom - percent * (bottom - top) / 100; };

    HPEN grid = CreatePen(PS_SOLID, 1, RGB(224, 224, 224));
    HGDIOBJ old_pen = SelectObject(dc, grid);
    for (int percent = 0; percent <= 100; percent += 25) {
        MoveToEx(dc, left, y_of(percent), nullptr);
        LineTo(dc, right, y_of(percent));
        if (percent % 50 == 0) {
            char text[8];
            (void)snprintf(text, sizeof(text), "%d", percent);
            SIZE size = {0, 0};
            GetTextExtentPoint32A(dc, text, static_cast<int>(strlen(text)), &size);
            TextOutA(dc, left - scaled(3, dpi) - size.cx, y_of(percent) - size.cy / 2, text,
                     static_cast<int>(strlen(text)));
        }
    }
    // The outer labels inside the plot's width: clear of the "0" and of the right edge.
    static const char* const hours[] = {"24 h", "18 h", "12 h", "6 h", "now"};
    for (int i = 0; i <= 4; ++i) {
        int x = left + i * plot_width / 4;
        MoveToEx(dc, x, top, nullptr);
        LineTo(dc, x, bottom);
        SIZE size = {0, 0};
        GetTextExtentPoint32A(dc, hours[i], static_cast<int>(strlen(hours[i])), &size);
        int text_x = i == 0 ? x : i == 4 ? x - size.cx : x - size.cx / 2;
        TextOutA(dc, text_x, bottom + scaled(2, dpi), hours[i], static_cast<int>(strlen(hours[i])));
    }

    HPEN mean_pen = CreatePen(PS_SOLID, scaled(2, dpi), RGB(0, 84, 190));
    SelectObject(dc, mean_pen);
    bool drawing = false;
    for (int x = 0; x < plot_width; ++x) {
        int first = x * HISTORY_MINUTES / plot_width;
        int last = (x + 1) * HISTORY_MINUTES / plot_width;
        if (last <= first) last = first + 1;
        int low = 101, high = -1, sum = 0, samples = 0;
        bool no_link = false;
        for (int m = first; m < last && m < HISTORY_MINUTES; ++m) {
            const SignalMinute& minute = graph_minutes[m];
            if (minute.samples == 0) {
                no_link = no_link || minute.no_link;
                continue;
            }
            if (minute.low < low) low = minute.low;
            if (minute.high > high) high = minute.high;
            sum += minute.mean;
            ++samples;
        }
        if (samples == 0) {
            if (no_link) fill(dc, left + x, top, left + x + 1, bottom, RGB(242, 205, 205));
            drawing = false;
            continue;
        }
        fill(dc, left + x, y_of(high), left + x + 1, y_of(low) + 1, RGB(190, 214, 242));
        int mean_y = y_of((sum + samples / 2) / samples);
        if (drawing)
            LineTo(dc, left + x, mean_y);
        else { // a lone minute still shows as a dot
            MoveToEx(dc, left + x, mean_y, nullptr);
            LineTo(dc, left + x + 1, mean_y);
        }
        drawing = true;
    }

    HPEN frame = CreatePen(PS_SOLID, scaled(1, dpi), RGB(128, 128, 128));
    SelectObject(dc, frame);
    SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, left, top, right + 1, bottom + 1);

    SelectObject(dc, old_pen);
    SelectObject(dc, old_font);
    DeleteObject(grid);
    DeleteObject(mean_pen);
    DeleteObject(frame);
    DeleteObject(font);
}

void paint_graph(HWND graph) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(graph, &paint);
    RECT client;
    GetClientRect(graph, &client);
    int width = client.right;
    int height = client.bottom;
    UINT dpi = dpi_of(graph);
    uint32_t generation = history_generation();
    if (width > 0 && height > 0) {
        bool resized = !graph_bitmap || width != graph_width || height != graph_height;
        if (resized) {
            if (!graph_dc) graph_dc = CreateCompatibleDC(dc);
            HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
            SelectObject(graph_dc, bitmap); // the DC lives as long as the process
            if (graph_bitmap) DeleteObject(graph_bitmap);
            graph_bitmap = bitmap;
            graph_width = width;
            graph_height = height;
        }
        // Only something new (or a new size or DPI) draws the picture again.
        if (resized || dpi != graph_dpi || generation != graph_generation) {
            history_signal(static_cast<int64_t>(time(nullptr)), graph_minutes);
            draw_graph(graph_dc, width, height, dpi);
            graph_dpi = dpi;
            graph_generation = generation;
        }
        BitBlt(dc, 0, 0, width, height, graph_dc, 0, 0, SRCCOPY);
    }
    EndPaint(graph, &paint);
}

LRESULT CALLBACK graph_proc(HWND graph, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_PAINT:
        paint_graph(graph);
        return 0;
    case WM_ERASEBKGND:
        return 1; // the picture covers it all
    default:
        return DefWindowProcA(graph, message, wparam, lparam);
    }
}

void duration_text(uint32_t seconds, char* out, size_t size) {
    if (seconds < 60)
        (void)snprintf(out, size, "%u s", static_cast<unsigned>(seconds));
    else if (seconds < 3600)
        (void)snprintf(out, size, "%u min", static_cast<unsigned>(seconds / 60));
    else
        (void)snprintf(out, size, "%u h %02u min", static_cast<unsigned>(seconds / 3600),
                       static_cast<unsigned>(seconds / 60 % 60));
}

void show_row_count(HWND page) {
    HWND list = GetDlgItem(page, IDC_HISTORY_EVENTS);
    // Newest first: a new event moves every row, so all are drawn again.
    SendMessageA(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(history_event_count()), 0);
    InvalidateRect(list, nullptr, TRUE);
}

} // namespace

bool history_page_register() {
    WNDCLASSA graph_class;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (GetClassInfoA(instance, kGraphClass, &graph_class)) return true;
    memset(&graph_class, 0, sizeof(graph_class));
    graph_class.lpfnWndProc = graph_proc;
    graph_class.hInstance = instance;
    graph_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
    graph_class.lpszClassName = kGraphClass;
    return RegisterClassA(&graph_class) != 0;
}

void history_page_init(HWND page) {
    HWND list = GetDlgItem(page, IDC_HISTORY_EVENTS);
    UINT dpi = dpi_of(page);
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    static const char* const titles[] = {"Time", "Event", "Detail"};
    // The first two as wide as their longest text in the list's own font, at any DPI.
    static const char* const widest[] = {"00-00 00:00:00", "power cycle", nullptr};
    for (int i = 0; i < 3; ++i) {
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<char*>(titles[i]);
        column.cx = widest[i]
                        ? static_cast<int>(SendMessageA(list, LVM_GETSTRINGWIDTHA, 0,
                                                        reinterpret_cast<LPARAM>(widest[i]))) +
                              scaled(14, dpi)
                        : scaled(200, dpi);
        column.iSubItem = i;
        SendMessageA(list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
    }
    shown_generation = history_generation();
    show_row_count(page);
}

void history_page_refresh(HWND page) {
    uint32_t generation = history_generation();
    if (shown_generation.exchange(generation) == generation) return;
    show_row_count(page);
    InvalidateRect(GetDlgItem(page, IDC_HISTORY_GRAPH), nullptr, FALSE);
}

void history_row_text(const LinkEvent& event, int column, char* out, size_t size) {
    if (size == 0) return;
    out[0] = '\0';
    if (column == 0) {
        time_t when = static_cast<time_t>(event.when);
        if (const struct tm* local = localtime(&when))
            (void)snprintf(out, size, "%02d-%02d %02d:%02d:%02d", (local->tm_mon + 1) % 100,
                           local->tm_mday % 100, local->tm_hour % 100, local->tm_min % 100,
                           local->tm_sec % 100);
    } else if (column == 1) {
        (void)snprintf(out, size, "%s", link_event_word(event.kind));
    } else {
        char count[24] = "";
        char back[40] = "";
        if (event.count > 1)
            (void)snprintf(count, sizeof(count), " (%u times)", static_cast<unsigned>(event.count));
        if (event.kind == EVENT_LOST && event.outage_s > 0) {
            char length[24];
            duration_text(event.outage_s, length, sizeof(length));
            (void)snprintf(back, sizeof(back), ", back after %s", length);
        }
        (void)snprintf(out, size, "%.*s%s%s", static_cast<int>(sizeof(event.detail)), event.detail,
                       count, back);
    }
}

LRESULT history_page_notify(NMHDR* header) {
    if (header->code == LVN_GETDISPINFOA) {
        LVITEMA& item = reinterpret_cast<NMLVDISPINFOA*>(header)->item;
        LinkEvent event;
        if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
            item.pszText[0] = '\0';
            if (history_event_newest(item.iItem, &event))
                history_row_text(event, item.iSubItem, item.pszText,
                                 static_cast<size_t>(item.cchTextMax));
        }
        return 0;
    }
    if (header->code == LVN_GETDISPINFOW) {
        LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(header)->item;
        LinkEvent event;
        if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
            item.pszText[0] = L'\0';
            char text[128] = "";
            if (history_event_newest(item.iItem, &event))
                history_row_text(event, item.iSubItem, text, sizeof(text));
            MultiByteToWideChar(CP_ACP, 0, text, -1, item.pszText, item.cchTextMax);
            item.pszText[item.cchTextMax - 1] = L'\0';
        }
        return 0;
    }
    return 0;
}

bool history_page_copy(HWND owner) {
    const int64_t now = static_cast<int64_t>(time(nullptr));
    // Room for a few lines more than now: the worker may add one meanwhile; the text is cut,
    // never overrun.
    size_t size = history_text(now, nullptr, 0) + 512;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!memory) return false;
    char* text = static_cast<char*>(GlobalLock(memory));
    if (!text) {
        GlobalFree(memory);
        return false;
    }
    history_text(now, text, size);
    GlobalUnlock(memory);
    bool placed = false;
    if (OpenClipboard(owner)) {
        EmptyClipboard();
        placed = SetClipboardData(CF_TEXT, memory) != nullptr;
        CloseClipboard();
    }
    if (!placed) GlobalFree(memory); // the clipboard owns it only once placed
    return placed;
}
