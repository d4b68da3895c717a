// The tab page host on a test dialog of its own, with pages built in memory.
#include <gtest/gtest.h>

#include "statuswin/tab_host.h"
#include "shell_test_support.h"

namespace {

// A dialog template in memory: buttons (tab stops) with the given ids, or a label for 0.
struct Template {
    std::vector<WORD> w;
    Template(short cx, short cy, std::vector<WORD> ids, DWORD style = WS_CHILD | WS_VISIBLE) {
        w = {LOWORD(style),
             HIWORD(style),
             0,
             0,
             WORD(ids.size()),
             0,
             0,
             WORD(cx),
             WORD(cy),
             0,
             0,
             0};
        for (size_t i = 0; i < ids.size(); ++i) {
            DWORD s = WS_CHILD | WS_VISIBLE | (ids[i] ? WS_TABSTOP : 0);
            w.resize(w.size() + w.size() % 2); // DWORD alignment
            w.insert(w.end(), {LOWORD(s), HIWORD(s), 0, 0, 5, WORD(5 + 20 * i), 50, 14, ids[i],
                               0xFFFF, WORD(ids[i] ? 0x80 : 0x82), 'x', 0, 0});
        }
    }
    LPCSTR name() const { return reinterpret_cast<LPCSTR>(w.data()); }
};
// Page 0: two buttons; page 1: no control that takes the focus; page 2: one button.
const Template two_buttons(120, 80, {0, 601, 602}), no_control(120, 80, {0}),
    one_button(120, 80, {611}), host_dialog(320, 240, {}, WS_POPUP | WS_VISIBLE);
const LPCSTR three_pages[] = {two_buttons.name(), no_control.name(), one_button.name(), nullptr};

HWND WINAPI create_test_page(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc, LPARAM) {
    return CreateDialogIndirectParamA(instance, (LPCDLGTEMPLATEA)name, parent, proc, 0);
}

const int kTabId = 700;
const char* const titles[] = {"Alpha", "Beta", "Gamma", nullptr};
TabHost* dialog_host = nullptr;
INT_PTR CALLBACK host_dialog_proc(HWND, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NOTIFY && wparam == kTabId && dialog_host)
        return dialog_host->on_notify(reinterpret_cast<NMHDR*>(lparam));
    return 0;
}

RECT rect_in_parent(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// A host dialog whose tab control sits at (13, 17), 301 x 211 pixels in its client area.
struct TestHost {
    HWND dialog, tab;
    TabHost host = {};
    TestHost(DWORD tab_style, const LPCSTR* templates, int stretch = 1) {
        shelltest::init_shell_classes();
        create_page_fn = create_test_page;
        dialog = CreateDialogIndirectParamA(nullptr, (LPCDLGTEMPLATEA)host_dialog.name(), nullptr,
                                            host_dialog_proc, 0);
        tab = CreateWindowExA(0, WC_TABCONTROLA, "", WS_CHILD | WS_VISIBLE | tab_style, 13, 17, 301,
                              211, dialog, reinterpret_cast<HMENU>(kTabId), nullptr, nullptr);
        tab_host_init(&host, tab, titles, templates, host_dialog_proc, nullptr, stretch);
        for (int i = host.page_count - 1; i >= 0; --i) // as the status window does: each once
            select(i);
    }
    ~TestHost() {
        DestroyWindow(dialog);
        free(host.pages);
        create_page_fn = CreateDialogParamA;
    }
    void select(int index) {
        SendMessageA(tab, TCM_SETCURFOCUS, index, 0);
        SendMessageA(tab, TCM_SETCURSEL, index, 0);
        notify(TCN_SELCHANGE);
    }
    void notify(UINT code, WORD key = 0) {
        dialog_host = &host;
        NMTCKEYDOWN k = {{tab, static_cast<UINT_PTR>(kTabId), code}, key, 0};
        SendMessageA(dialog, WM_NOTIFY, kTabId, reinterpret_cast<LPARAM>(&k));
    }
    // The selected tab, then the one page visible (-1 none, -2 several).
    std::string state() {
        int shown = -1;
        for (int i = 0; i < host.page_count; ++i)
            if (IsWindowVisible(host.pages[i])) shown = shown == -1 ? i : -2;
        return std::to_string(SendMessageA(tab, TCM_GETCURSEL, 0, 0)) + " " + std::to_string(shown);
    }
};

TEST(TabHost, PagesFillTheDisplayAreaForAllFourTabPositions) {
    const DWORD styles[] = {0, TCS_BOTTOM, TCS_VERTICAL | TCS_MULTILINE,
                            TCS_VERTICAL | TCS_RIGHT | TCS_MULTILINE};
    for (int s = 0; s < 4; ++s) {
        TestHost t(styles[s], three_pages);
        EXPECT_EQ(SendMessageA(t.tab, TCM_GETITEMCOUNT, 0, 0), 3);
        // Inside the tab control, beside the strip (item 0's height or width), with the
        // platform's margins of 4 and 6 pixels; raised above the tab control.
        RECT it, got;
        SendMessageA(t.tab, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&it));
        int iw = it.right - it.left, ih = it.bottom - it.top;
        const RECT wants[] = {{17, 23 + ih, 306, 218},
                              {17, 23, 306, 218 - ih},
                              {17 + iw, 23, 306, 222},
                              {17, 23, 306 - iw, 222}};
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(EqualRect(&(got = rect_in_parent(t.host.pages[i])), &wants[s]))
                << s << " page " << i << ": " << got.left << "," << got.top << " " << got.right
                << "," << got.bottom;
        EXPECT_NE(GetWindow(t.tab, GW_HWNDPREV), nullptr);
        EXPECT_EQ(t.state(), "0 0");
    }
}

TEST(TabHost, KeyTableMovesAlongTheStripInEachOrientation) {
    // The host's own key routine (the tab control's handling of the key is not part of a
    // synthetic notification): arrows along the strip give the focus back to the tab that
    // was selected, which keeps it selected.
    struct Row {
        bool vertical;
        int from;
        WORD key;
        int to;
    };
    // clang-format off
    const Row rows[] = {
        {false, 0, VK_PRIOR, 1}, {false, 2, VK_PRIOR, 2}, {false, 1, VK_NEXT, 0}, {false, 0, VK_NEXT, 0},
        {false, 1, VK_LEFT, 1}, {false, 0, VK_LEFT, 0}, {false, 1, VK_RIGHT, 1}, {false, 2, VK_RIGHT, 2},
        {false, 1, VK_END, 1}, {false, 1, VK_HOME, 1}, {false, 1, 'A', 1}, {true, 1, VK_PRIOR, 0},
        {true, 0, VK_PRIOR, 0}, {true, 0, VK_NEXT, 1}, {true, 2, VK_NEXT, 2}, {true, 1, VK_UP, 1},
        {true, 0, VK_UP, 0}, {true, 1, VK_DOWN, 1}, {true, 2, VK_DOWN, 2}, {true, 1, VK_END, 1},
        {true, 2, VK_HOME, 2}};
    // clang-format on
    TestHost h(0, three_pages), v(TCS_VERTICAL | TCS_MULTILINE, three_pages);
    for (const Row& row : rows) {
        TestHost& t = row.vertical ? v : h;
        t.select(row.from);
        t.notify(TCN_KEYDOWN, row.key);
        std::string to = std::to_string(row.to);
        EXPECT_EQ(t.state(), to + " " + to) << row.vertical << " " << row.from << " " << row.key;
        EXPECT_EQ(t.host.current_page, t.host.pages[row.to]);
    }
    NMHDR change = {h.tab, static_cast<UINT_PTR>(kTabId), static_cast<UINT>(TCN_SELCHANGING)};
    EXPECT_EQ(tab_host_notify(&change), 0); // lets a change go ahead
}

// A focus loop runs while the focus is in a page: one round of Tab key-downs hands it back
// to the strip, a switch of page ends it, the quit message passes through it.
TEST(TabHost, FocusLoopsOfThePagesEndOnATabRoundASwitchOrTheQuit) {
    const LPCSTR vertical_pages[] = {one_button.name(), no_control.name(), nullptr};
    TestHost t(0, three_pages), v(TCS_VERTICAL | TCS_MULTILINE, vertical_pages);
    const struct {
        TestHost* host;
        int page;
        WORD key;    // into the page: Down on horizontal tabs, Left or Right on vertical ones
        int presses; // Tab key-downs until the focus is back on the strip
    } cases[] = {
        {&t, 0, VK_DOWN, 2}, {&t, 1, VK_DOWN, 1}, {&v, 0, VK_LEFT, 1}, {&v, 0, VK_RIGHT, 1}};
    shelltest::Driver d;
    bool returned = false;
    int quits = d.run([&] {
        for (const auto& c : cases) {
            TestHost& h = *c.host;
            d.call([&] { h.select(c.page); });
            d.post([&] { h.notify(TCN_KEYDOWN, c.key); });
            EXPECT_FALSE(d.flush(2)) << "a focus loop runs";
            for (int i = 1; i <= c.presses; ++i) {
                HWND focus = d.focus();
                EXPECT_TRUE(IsChild(h.host.pages[c.page], focus) || focus == h.host.pages[c.page]);
                PostMessageA(focus, WM_KEYDOWN, VK_TAB, 0);
                EXPECT_EQ(d.flush(), i == c.presses) << c.page << " " << c.key << " press " << i;
            }
            EXPECT_EQ(d.focus(), h.tab);
            EXPECT_EQ(d.get<std::string>([&] { return h.state(); }),
                      std::to_string(c.page) + " " + std::to_string(c.page));
        }
        // A switch of page ends the loop; the quit message passes through one.
        d.post([&] { t.notify(TCN_KEYDOWN, VK_DOWN); });
        EXPECT_FALSE(d.flush(2));
        d.call([&] { SendMessageA(t.tab, TCM_SETCURFOCUS, 2, 0); });
        EXPECT_TRUE(d.flush());
        EXPECT_EQ(d.get<std::string>([&] { return t.state(); }), "2 2");
        d.post([&] { enter_page(t.host.pages[2], t.host.pages[2]), returned = true; });
        EXPECT_FALSE(d.flush(2));
        d.quit(3);
        EXPECT_TRUE(d.flush());
    });
    EXPECT_TRUE(returned);
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(d.flush_timed_out);
}

} // namespace
