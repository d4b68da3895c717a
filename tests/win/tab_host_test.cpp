// The tab page host on test dialogs of its own, with pages built in memory.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "statuswin/tab_host.h"
#include "shell_test_support.h"

namespace {

// ---- dialog templates in memory ----

struct ControlItem {
    WORD atom; // 0x80 button, 0x82 static
    DWORD style;
    short x, y, cx, cy;
    WORD id;
    const char* text;
};

// DLGTEMPLATE and its DLGITEMTEMPLATEs, as words.
class Template {
  public:
    Template(DWORD style, short cx, short cy, std::vector<ControlItem> items) {
        // Style, extended style, item count, rectangle, no menu, class or title.
        put({LOWORD(style), HIWORD(style), 0, 0, static_cast<WORD>(items.size()), 0, 0,
             static_cast<WORD>(cx), static_cast<WORD>(cy), 0, 0, 0});
        for (const ControlItem& item : items) {
            if (words.size() % 2) words.push_back(0); // DWORD alignment
            DWORD s = item.style | WS_CHILD | WS_VISIBLE;
            put({LOWORD(s), HIWORD(s), 0, 0, static_cast<WORD>(item.x), static_cast<WORD>(item.y),
                 static_cast<WORD>(item.cx), static_cast<WORD>(item.cy), item.id, 0xFFFF,
                 item.atom});
            for (const char* c = item.text; *c; ++c)
                words.push_back(static_cast<WORD>(*c));
            put({0, 0}); // end of the text, no creation data
        }
    }
    LPCSTR name() const { return reinterpret_cast<LPCSTR>(words.data()); }

  private:
    void put(std::initializer_list<WORD> list) { words.insert(words.end(), list); }
    std::vector<WORD> words;
};

const DWORD page_style = WS_CHILD | WS_VISIBLE;
const WORD button = 0x80, label = 0x82;

// Page 0: two buttons; page 1: no control that takes the focus; page 2: one button.
const Template two_buttons(page_style, 120, 80,
                           {{label, SS_LEFT, 5, 5, 60, 10, 0xFFFF, "Two buttons"},
                            {button, WS_TABSTOP, 5, 20, 50, 14, 601, "One"},
                            {button, WS_TABSTOP, 5, 40, 50, 14, 602, "Two"}});
const Template no_control(page_style, 120, 80, {{label, SS_LEFT, 5, 5, 60, 10, 0xFFFF, "None"}});
const Template one_button(page_style, 120, 80, {{button, WS_TABSTOP, 5, 20, 50, 14, 611, "One"}});
const Template small_page(page_style, 47, 31, {});
const Template large_page(page_style, 400, 300, {});
const Template host_dialog(WS_POPUP | WS_VISIBLE | WS_CAPTION, 320, 240, {});

HWND WINAPI create_test_page(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc,
                             LPARAM param) {
    if (IS_INTRESOURCE(name)) return CreateDialogParamA(instance, name, parent, proc, param);
    return CreateDialogIndirectParamA(instance, reinterpret_cast<LPCDLGTEMPLATEA>(name), parent,
                                      proc, param);
}

// ---- the host dialog of the tests ----

const int tab_id = 700;
const char* const titles[] = {"Alpha", "Beta", "Gamma", nullptr};

struct Forwarded {
    HWND window;
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
};
std::vector<Forwarded> forwarded; // page messages that reached the host dialog's procedure
TabHost* dialog_host = nullptr;

INT_PTR CALLBACK host_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NOTIFY && wparam == tab_id && dialog_host)
        return dialog_host->on_notify(reinterpret_cast<NMHDR*>(lparam));
    if (message == WM_COMMAND || message >= WM_APP)
        forwarded.push_back({window, message, wparam, lparam});
    return 0;
}

struct SizeCall {
    HWND page;
    UINT type;
    int width, height;
};
std::vector<SizeCall> size_calls;
void record_size(HWND page, UINT type, int width, int height) {
    size_calls.push_back({page, type, width, height});
}

struct TestHost {
    HWND dialog = nullptr;
    HWND tab = nullptr;
    TabHost host = {};
};

// Tab control at (13, 17), 301 x 211 pixels in the dialog's client area.
void make_host(TestHost& t, DWORD tab_style, const LPCSTR* templates, int stretch,
               TabSizeFn on_size = nullptr) {
    create_page_fn = create_test_page;
    t.dialog = CreateDialogIndirectParamA(GetModuleHandleA(nullptr),
                                          reinterpret_cast<LPCDLGTEMPLATEA>(host_dialog.name()),
                                          nullptr, host_dialog_proc, 0);
    t.tab = CreateWindowExA(0, WC_TABCONTROLA, "", WS_CHILD | WS_VISIBLE | tab_style, 13, 17, 301,
                            211, t.dialog, reinterpret_cast<HMENU>(tab_id),
                            GetModuleHandleA(nullptr), nullptr);
    dialog_host = &t.host;
    tab_host_init(&t.host, t.tab, titles, templates, host_dialog_proc, on_size, stretch);
}

using shelltest::rect_in_parent;

int shown_page(TestHost& t) {
    int shown = -1;
    for (int i = 0; i < t.host.page_count; ++i)
        if (IsWindowVisible(t.host.pages[i])) shown = shown == -1 ? i : -2;
    return shown;
}

void select(TestHost& t, int index) {
    SendMessageA(t.tab, TCM_SETCURFOCUS, index, 0);
    SendMessageA(t.tab, TCM_SETCURSEL, index, 0);
    NMHDR hdr = {t.tab, static_cast<UINT_PTR>(tab_id), static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageA(t.dialog, WM_NOTIFY, tab_id, reinterpret_cast<LPARAM>(&hdr));
}

// As the status window does after set-up: select each tab once, which leaves only the
// selected page visible.
void settle(TestHost& t) {
    for (int i = t.host.page_count - 1; i >= 0; --i)
        select(t, i);
}

void destroy_host(TestHost& t) {
    dialog_host = nullptr;
    DestroyWindow(t.dialog);
    free(t.host.pages);
    create_page_fn = CreateDialogParamA;
}

int send_key(HWND dialog, HWND tab, WORD vkey) {
    NMTCKEYDOWN key = {};
    key.hdr = {tab, static_cast<UINT_PTR>(tab_id), static_cast<UINT>(TCN_KEYDOWN)};
    key.wVKey = vkey;
    return static_cast<int>(
        SendMessageA(dialog, WM_NOTIFY, tab_id, reinterpret_cast<LPARAM>(&key)));
}

const LPCSTR three_pages[] = {two_buttons.name(), no_control.name(), one_button.name(), nullptr};

class TabHostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        shelltest::init_shell_classes();
        forwarded.clear();
        size_calls.clear();
    }
};

// ---- set-up and placement ----

TEST_F(TabHostTest, SetUpAndStretchedPagesOverTheDisplayAreaForAllFourTabPositions) {
    const DWORD styles[] = {0, TCS_BOTTOM, TCS_VERTICAL | TCS_MULTILINE,
                            TCS_VERTICAL | TCS_RIGHT | TCS_MULTILINE};
    for (int s = 0; s < 4; ++s) {
        SCOPED_TRACE(s);
        TestHost t;
        make_host(t, styles[s], three_pages, 1);
        ASSERT_EQ(t.host.page_count, 3);
        EXPECT_EQ(SendMessageA(t.tab, TCM_GETITEMCOUNT, 0, 0), 3);
        EXPECT_EQ(reinterpret_cast<TabHost*>(GetWindowLongPtrA(t.tab, GWLP_USERDATA)), &t.host);
        EXPECT_EQ(t.host.current_page, t.host.pages[0]);
        for (int i = 0; i < 3; ++i) {
            char text[32] = {};
            TCITEMA item = {};
            item.mask = TCIF_TEXT | TCIF_IMAGE;
            item.pszText = text;
            item.cchTextMax = sizeof(text);
            ASSERT_TRUE(SendMessageA(t.tab, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item)));
            EXPECT_STREQ(text, titles[i]);
            EXPECT_EQ(item.iImage, -1);
            EXPECT_EQ(GetParent(t.host.pages[i]), t.dialog);
            EXPECT_EQ(reinterpret_cast<HWND>(GetWindowLongPtrA(t.host.pages[i], GWLP_USERDATA)),
                      t.tab);
            EXPECT_TRUE(IsWindowVisible(t.host.pages[i])); // set-up hides no page
        }

        // Platform: the tab control's place and size in the dialog, and item 0's size.
        RECT tr = rect_in_parent(t.tab);
        int x = tr.left, y = tr.top, w = tr.right - tr.left, h = tr.bottom - tr.top;
        RECT item;
        ASSERT_TRUE(SendMessageA(t.tab, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item)));
        int iw = item.right - item.left, ih = item.bottom - item.top;
        EXPECT_EQ(x, 13);
        EXPECT_EQ(w, 301);
        const RECT wants[] = {
            {x + 4, y + ih + 6, x + 4 + w - 12, y + ih + 6 + h - ih - 16},
            {x + 4, y + 6, x + 4 + w - 12, y + 6 + h - ih - 16},
            {x + iw + 4, y + 6, x + iw + 4 + w - iw - 12, y + 6 + h - 12},
            {x + 4, y + 6, x + 4 + w - iw - 12, y + 6 + h - 12},
        };
        const RECT& want = wants[s];
        DisplayArea area;
        page_display_area(t.tab, &area);
        EXPECT_EQ(area.x, want.left);
        EXPECT_EQ(area.y, want.top);
        EXPECT_EQ(area.width, want.right - want.left);
        EXPECT_EQ(area.height, want.bottom - want.top);
        for (int i = 0; i < 3; ++i) {
            RECT got = rect_in_parent(t.host.pages[i]);
            EXPECT_TRUE(EqualRect(&got, &want)) << i;
        }
        // Raised above the tab control they lie on.
        EXPECT_NE(GetWindow(t.tab, GW_HWNDPREV), nullptr);
        settle(t);
        EXPECT_EQ(shown_page(t), 0);
        destroy_host(t);
    }
}

TEST_F(TabHostTest, CentredPagesUseRoundedDownHalvesAndLargerPagesSitTopLeft) {
    const LPCSTR pages[] = {small_page.name(), large_page.name(), nullptr};
    TestHost t;
    make_host(t, 0, pages, 0);
    RECT small_client, large_client;
    GetClientRect(t.host.pages[0], &small_client);
    GetClientRect(t.host.pages[1], &large_client);
    int pw = small_client.right, ph = small_client.bottom;

    // Resize the tab control so that both leftovers are odd, then place again through
    // the record.
    RECT item;
    SendMessageA(t.tab, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item));
    int ih = item.bottom - item.top;
    int w = pw + 12 + 41, h = ph + ih + 16 + 23;
    ASSERT_LT(w, large_client.right);
    SetWindowPos(t.tab, nullptr, 13, 17, w, h, SWP_NOZORDER);
    SendMessageA(t.tab, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item));
    ih = item.bottom - item.top;
    RECT tr = rect_in_parent(t.tab);
    int ax = tr.left + 4, ay = tr.top + ih + 6;
    int aw = (tr.right - tr.left) - 12, ah = (tr.bottom - tr.top) - ih - 16;
    ASSERT_EQ((aw - pw) % 2, 1);
    ASSERT_EQ((ah - ph) % 2, 1);

    t.host.place_centered(t.tab, 0);
    t.host.place_centered(t.tab, 1);
    RECT got = rect_in_parent(t.host.pages[0]);
    RECT want = {ax + (aw - pw - 1) / 2, ay + (ah - ph - 1) / 2, 0, 0};
    want.right = want.left + pw;
    want.bottom = want.top + ph;
    EXPECT_TRUE(EqualRect(&got, &want));
    got = rect_in_parent(t.host.pages[1]);
    want = {ax, ay, ax + large_client.right, ay + large_client.bottom}; // not shrunk
    EXPECT_TRUE(EqualRect(&got, &want));
    destroy_host(t);
}

// ---- page procedure ----

TEST_F(TabHostTest, PagesShareOneWhiteBrushForwardMessagesAndReportSizes) {
    const LPCSTR pages[] = {two_buttons.name(), no_control.name(), nullptr};
    TestHost a, b;
    make_host(a, 0, pages, 1, record_size);
    make_host(b, TCS_BOTTOM, pages, 1);
    ASSERT_NE(page_brush, nullptr);
    HBRUSH first = page_brush;
    EXPECT_EQ(reinterpret_cast<HBRUSH>(SendMessageA(a.host.pages[0], WM_CTLCOLORDLG, 0, 0)), first);
    EXPECT_EQ(reinterpret_cast<HBRUSH>(SendMessageA(b.host.pages[1], WM_CTLCOLORDLG, 0, 0)), first);
    LOGBRUSH lb;
    ASSERT_EQ(GetObjectA(page_brush, sizeof(lb), &lb), static_cast<int>(sizeof(lb)));
    EXPECT_EQ(lb.lbStyle, static_cast<UINT>(BS_SOLID));
    EXPECT_EQ(lb.lbColor, RGB(255, 255, 255));

    // Black text on white for statics and buttons.
    HDC dc = CreateCompatibleDC(nullptr);
    for (UINT message : {WM_CTLCOLORSTATIC, WM_CTLCOLORBTN}) {
        SetTextColor(dc, RGB(1, 2, 3));
        SetBkColor(dc, RGB(4, 5, 6));
        EXPECT_EQ(reinterpret_cast<HBRUSH>(
                      SendMessageA(b.host.pages[0], message, reinterpret_cast<WPARAM>(dc), 0)),
                  first);
        EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 0));
        EXPECT_EQ(GetBkColor(dc), RGB(255, 255, 255));
    }
    DeleteDC(dc);

    // Sizes arrive as signed 16-bit halves; host b has no size callback.
    size_calls.clear();
    EXPECT_EQ(SendMessageA(a.host.pages[1], WM_SIZE, SIZE_RESTORED, MAKELPARAM(-5, 70)), 0);
    SendMessageA(b.host.pages[1], WM_SIZE, SIZE_RESTORED, MAKELPARAM(5, 7));
    ASSERT_EQ(size_calls.size(), 1u);
    EXPECT_EQ(size_calls[0].page, a.host.pages[1]);
    EXPECT_EQ(size_calls[0].width, -5);
    EXPECT_EQ(size_calls[0].height, 70);

    // Anything the page does not handle goes to the host dialog's procedure, with the page
    // as the window.
    forwarded.clear();
    SendMessageA(b.host.pages[0], WM_APP + 7, 11, 22);
    ASSERT_EQ(forwarded.size(), 1u);
    EXPECT_EQ(forwarded[0].window, b.host.pages[0]);
    EXPECT_EQ(forwarded[0].message, static_cast<UINT>(WM_APP + 7));
    EXPECT_EQ(forwarded[0].wparam, 11u);
    EXPECT_EQ(forwarded[0].lparam, 22);
    destroy_host(b);
    destroy_host(a);
    EXPECT_EQ(page_brush, first); // still the one brush
}

// ---- keys ----

TEST_F(TabHostTest, KeyTableMovesAlongTheStripInEachOrientation) {
    struct Row {
        bool vertical;
        int from;
        WORD key;
        int to;
    };
    // The host's own key routine (the tab control's handling of the key is not part of a
    // synthetic notification): arrows along the strip give the focus back to the tab that
    // was selected, which keeps it selected.
    const Row rows[] = {
        {false, 0, VK_PRIOR, 1}, {false, 2, VK_PRIOR, 2}, {false, 1, VK_NEXT, 0},
        {false, 0, VK_NEXT, 0},  {false, 1, VK_LEFT, 1},  {false, 0, VK_LEFT, 0},
        {false, 1, VK_RIGHT, 1}, {false, 2, VK_RIGHT, 2}, {false, 1, VK_END, 1},
        {false, 1, VK_HOME, 1},  {false, 1, 'A', 1},      {true, 1, VK_PRIOR, 0},
        {true, 0, VK_PRIOR, 0},  {true, 0, VK_NEXT, 1},   {true, 2, VK_NEXT, 2},
        {true, 1, VK_UP, 1},     {true, 0, VK_UP, 0},     {true, 1, VK_DOWN, 1},
        {true, 2, VK_DOWN, 2},   {true, 1, VK_END, 1},    {true, 2, VK_HOME, 2},
    };
    TestHost h, v;
    make_host(h, 0, three_pages, 1);
    make_host(v, TCS_VERTICAL | TCS_MULTILINE, three_pages, 1);
    settle(h);
    settle(v);
    for (const Row& row : rows) {
        TestHost& t = row.vertical ? v : h;
        SCOPED_TRACE(testing::Message()
                     << "vertical " << row.vertical << " from " << row.from << " key " << row.key);
        dialog_host = &t.host;
        select(t, row.from);
        ASSERT_EQ(SendMessageA(t.tab, TCM_GETCURSEL, 0, 0), row.from);
        send_key(t.dialog, t.tab, row.key);
        EXPECT_EQ(SendMessageA(t.tab, TCM_GETCURSEL, 0, 0), row.to);
        EXPECT_EQ(t.host.current_page, t.host.pages[row.to]);
        EXPECT_EQ(shown_page(t), row.to);
    }

    // Real arrow keys on the horizontal strip: one tab at a time, nothing past the ends.
    dialog_host = &h.host;
    const Row real[] = {{false, 1, VK_LEFT, 0},
                        {false, 0, VK_LEFT, 0},
                        {false, 1, VK_RIGHT, 2},
                        {false, 2, VK_RIGHT, 2}};
    for (const Row& row : real) {
        SCOPED_TRACE(testing::Message() << "real key " << row.key << " from " << row.from);
        select(h, row.from);
        SendMessageA(h.tab, WM_KEYDOWN, row.key, 0);
        EXPECT_EQ(SendMessageA(h.tab, TCM_GETCURSEL, 0, 0), row.to);
        EXPECT_EQ(shown_page(h), row.to);
    }

    // The notification's own result: 1 when it showed a page, 0 for other codes, which lets
    // a change go ahead.
    NMTCKEYDOWN key = {
        {h.tab, static_cast<UINT_PTR>(tab_id), static_cast<UINT>(TCN_KEYDOWN)}, VK_END, 0};
    EXPECT_EQ(tab_host_notify(&key.hdr), 1);
    NMHDR change = {h.tab, static_cast<UINT_PTR>(tab_id), static_cast<UINT>(TCN_SELCHANGE)};
    EXPECT_EQ(tab_host_notify(&change), 1);
    change.code = static_cast<UINT>(TCN_SELCHANGING);
    EXPECT_EQ(tab_host_notify(&change), 0);
    change.code = static_cast<UINT>(NM_CLICK);
    EXPECT_EQ(tab_host_notify(&change), 0);
    destroy_host(v);
    destroy_host(h);
}

// ---- focus loops ----

bool is_in(HWND window, HWND page) {
    return window == page || IsChild(page, window);
}

TEST_F(TabHostTest, ArrowsEnterAPageAndOneTabCycleReturnsTheFocusToTheStrip) {
    TestHost t, v;
    make_host(t, 0, three_pages, 1);
    settle(t);
    const LPCSTR vertical_pages[] = {one_button.name(), no_control.name(), nullptr};
    make_host(v, TCS_VERTICAL | TCS_MULTILINE, vertical_pages, 1);
    settle(v);
    struct Case {
        TestHost* host;
        int page;
        WORD key;    // into the page: Down on horizontal tabs, Left or Right on vertical ones
        int presses; // Tab key-downs of the user until the focus is back on the strip
    } cases[] = {{&t, 0, VK_DOWN, 2},
                 {&t, 1, VK_DOWN, 1},
                 {&t, 2, VK_DOWN, 1},
                 {&v, 0, VK_LEFT, 1},
                 {&v, 0, VK_RIGHT, 1}};
    shelltest::Driver d;
    int quits = d.run([&] {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "page " << c.page << " key " << c.key);
            TestHost& h = *c.host;
            HWND page = h.host.pages[c.page];
            d.call([&] {
                dialog_host = &h.host;
                select(h, c.page);
            });
            d.post([&] { send_key(h.dialog, h.tab, c.key); });
            EXPECT_FALSE(d.flush_twice()) << "no focus loop runs";
            EXPECT_TRUE(is_in(d.focus(), page));
            for (int i = 1; i <= c.presses; ++i) {
                HWND focus = d.focus();
                EXPECT_TRUE(is_in(focus, page)) << "press " << i;
                PostMessageA(focus, WM_KEYDOWN, VK_TAB, 0);
                EXPECT_EQ(d.flush(), i == c.presses) << "press " << i;
            }
            EXPECT_EQ(d.focus(), h.tab);
            EXPECT_EQ(d.get<LRESULT>([&] { return SendMessageA(h.tab, TCM_GETCURSEL, 0, 0); }),
                      c.page);
        }
    });
    EXPECT_EQ(quits, 0);
    EXPECT_FALSE(d.flush_timed_out);
    destroy_host(v);
    destroy_host(t);
}

TEST_F(TabHostTest, ClicksEnterThePageSwitchesEndTheLoopsAndQuitPassesThrough) {
    TestHost t;
    make_host(t, 0, three_pages, 1);
    settle(t);
    shelltest::Driver d;
    bool returned = false;
    int quits = d.run([&] {
        HWND page = t.host.pages[0];
        // A click on the background (the label lets it through to the page).
        PostMessageA(page, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
        EXPECT_FALSE(d.flush_twice());
        EXPECT_TRUE(is_in(d.focus(), page));
        // A click on a button: the command reaches the host dialog first, then the page
        // is entered with the focus on the button, in a second loop.
        HWND two = GetDlgItem(page, 602);
        d.call([&] { forwarded.clear(); });
        PostMessageA(two, BM_CLICK, 0, 0);
        EXPECT_FALSE(d.flush_twice());
        EXPECT_EQ(d.focus(), two);
        d.call([&] {
            ASSERT_EQ(forwarded.size(), 1u);
            EXPECT_EQ(forwarded[0].window, page);
            EXPECT_EQ(forwarded[0].message, static_cast<UINT>(WM_COMMAND));
            EXPECT_EQ(forwarded[0].wparam, MAKEWPARAM(602, BN_CLICKED));
            EXPECT_EQ(forwarded[0].lparam, reinterpret_cast<LPARAM>(two));
        });
        // Two switches end the two loops, one each.
        d.call([&] { SendMessageA(t.tab, TCM_SETCURFOCUS, 1, 0); });
        EXPECT_FALSE(d.flush()) << "the outer loop still runs";
        d.call([&] { SendMessageA(t.tab, TCM_SETCURFOCUS, 2, 0); });
        EXPECT_TRUE(d.flush());
        EXPECT_EQ(d.get<HWND>([&] { return t.host.current_page; }), t.host.pages[2]);
        EXPECT_TRUE(IsWindowVisible(t.host.pages[2]));
        EXPECT_FALSE(IsWindowVisible(page));

        // The quit message passes through a running loop to the outer pump.
        d.post([&] {
            enter_page(t.host.pages[2], t.host.pages[2]);
            returned = true;
        });
        EXPECT_FALSE(d.flush_twice());
        d.quit(3);
        EXPECT_TRUE(d.flush());
    });
    EXPECT_TRUE(returned);
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(d.flush_timed_out);
    destroy_host(t);
}

} // namespace
