// The link's history: the event ring, failures counted in one event, outages, the minutes of
// signal and the copied text. Times are chosen here; the text's stamps are UTC.
#include "link/link_history.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

// 2024-03-01 00:00:00 UTC.
const int64_t kMarch = 1709251200;

std::vector<std::string> held_events() {
    std::vector<LinkEvent> all(HISTORY_EVENTS + 1);
    all.resize(static_cast<size_t>(history_events(all.data(), HISTORY_EVENTS + 1)));
    std::vector<std::string> lines;
    for (const LinkEvent& e : all)
        lines.push_back(std::string(link_event_word(e.kind)) + "|" + e.detail + "|" +
                        std::to_string(e.count) + "|" + std::to_string(e.outage_s));
    return lines;
}

// Events with the details "0", "1", ...: the ring keeps the last 1000, oldest first.
TEST(LinkHistory, TheEventRingKeepsTheNewestThousandInOrder) {
    const struct {
        int added, first;
    } cases[] = {{0, 0}, {1, 0}, {1000, 0}, {1001, 1}, {2500, 1500}};
    for (const auto& c : cases) {
        history_clear();
        for (int i = 0; i < c.added; ++i)
            history_add_event(i, EVENT_CONNECTED, std::to_string(i).c_str());
        std::vector<std::string> expected;
        for (int i = c.first; i < c.added; ++i)
            expected.push_back("connected|" + std::to_string(i) + "|1|0");
        EXPECT_EQ(expected, held_events()) << c.added;
        EXPECT_EQ(c.added - c.first, history_event_count());
        LinkEvent newest{};
        EXPECT_FALSE(history_event_newest(c.added - c.first, &newest));
        EXPECT_EQ(c.added > 0, history_event_newest(0, &newest));
        EXPECT_EQ(c.added > 0 ? std::to_string(c.added - 1) : "", newest.detail);
        EXPECT_EQ(0, history_events(&newest, -1));
    }
}

// Operations at a second: 'F' failed, 'L' lost, 'C' connected, 'B' link back, '?' kind 99.
TEST(LinkHistory, RepeatedFailuresAreOneEventAndALossEndsOnce) {
    const std::string long_reason(40, 'r'), longer = long_reason + "x";
    const struct {
        std::vector<std::tuple<char, int64_t, const char*>> ops;
        std::vector<std::string> held;
    } cases[] = {
        {{{'F', 1, "refused"}, {'F', 16, "refused"}, {'F', 31, "refused"}}, {"failed|refused|3|0"}},
        {{{'F', 1, "refused"}, {'F', 16, "no answer"}, {'F', 31, "refused"}},
         {"failed|refused|1|0", "failed|no answer|1|0", "failed|refused|1|0"}},
        {{{'F', 1, "refused"}, {'L', 2, "refused"}, {'F', 3, "refused"}, {'?', 4, "refused"}},
         {"failed|refused|1|0", "lost|refused|1|0", "failed|refused|1|0"}},
        {{{'L', 5, "unit\tsilent"}, {'L', 6, "unit\tsilent"}, {'F', 7, nullptr}, {'F', 8, ""}},
         {"lost|unit silent|1|0", "lost|unit silent|1|0", "failed||2|0"}},
        {{{'F', 1, long_reason.c_str()}, {'F', 2, longer.c_str()}},
         {"failed|" + long_reason.substr(0, 34) + "|2|0"}},
        // the newest loss ends once, at least 1 s long; an earlier one stays as it was
        {{{'L', 100, "closed by the unit"}, {'F', 120, "refused"}, {'B', 160, ""}, {'B', 999, ""}},
         {"lost|closed by the unit|1|60", "failed|refused|1|0"}},
        {{{'L', 100, "a"}, {'L', 300, "b"}, {'B', 300, ""}, {'C', 301, "h:23"}, {'B', 400, ""}},
         {"lost|a|1|0", "lost|b|1|1", "connected|h:23|1|0"}},
        {{{'L', 5000000000, "a"}, {'B', 0, ""}, {'L', 0, "b"}, {'B', 5000000000, ""}},
         {"lost|a|1|1", "lost|b|1|4294967295"}},
    };
    for (const auto& c : cases) {
        history_clear();
        for (const auto& [op, when, detail] : c.ops) {
            if (op == 'B') {
                history_link_back(when);
                continue;
            }
            const int kind = op == 'F'   ? EVENT_FAILED
                             : op == 'L' ? EVENT_LOST
                             : op == 'C' ? EVENT_CONNECTED
                                         : 99;
            history_add_event(when, kind, detail);
        }
        EXPECT_EQ(c.held, held_events()) << c.held[0];
    }
}

// Samples at minutes back from `now`, 7 s into the minute; the minutes that hold anything,
// "back:low mean high xsamples", with " no link" for a minute the link was down.
TEST(LinkHistory, TheMinutesKeepADayOfLowMeanAndHigh) {
    const int64_t minute = kMarch + 600; // a minute's start
    const struct {
        int64_t now;
        std::vector<std::pair<int, int>> samples; // minutes back (now's minute: 0), percent
        std::string shown;
    } cases[] = {
        {minute + 59, {{0, 40}, {0, 60}, {0, 65}}, "0:40 55 65 x3 "},
        {minute,
         {{0, 50}, {0, 51}, {1, 150}, {2, -1}, {3, 30}, {3, -1}, {3, 0}},
         "3:0 15 30 x2 no link 2:no link 1:100 100 100 x1 0:50 51 51 x2 "},
        // a day back is gone; a slot that held it takes the new minute alone
        {minute,
         {{1440, 90}, {1439, 20}, {700, -1}, {1445, 10}, {5, 70}},
         "1439:20 20 20 x1 700:no link 5:70 70 70 x1 "},
        {minute, {}, ""},
        // near 1970 the minutes before the first are empty; earlier times count as the first
        {100, {{1, 5}, {3, 9}}, "1:5 7 9 x2 "},
    };
    for (const auto& c : cases) {
        history_clear();
        for (const auto& [back, percent] : c.samples)
            history_add_signal(c.now - c.now % 60 - back * 60 + 7, percent);
        std::vector<SignalMinute> minutes(HISTORY_MINUTES);
        history_signal(c.now, minutes.data());
        std::string shown;
        for (int i = 0; i < HISTORY_MINUTES; ++i) {
            const SignalMinute& m = minutes[static_cast<size_t>(i)];
            EXPECT_EQ(c.now / 60 - HISTORY_MINUTES + 1 + i, m.minute);
            if (m.samples == 0 && m.no_link == 0) continue;
            shown += std::to_string(HISTORY_MINUTES - 1 - i) + ":";
            if (m.samples > 0)
                shown += std::to_string(m.low) + " " + std::to_string(m.mean) + " " +
                         std::to_string(m.high) + " x" + std::to_string(m.samples) + " ";
            if (m.no_link) shown += "no link ";
        }
        EXPECT_EQ(c.shown, shown) << c.shown;
    }
}

// The whole text, then cut at a small size: always terminated, the length written.
TEST(LinkHistory, TheCopiedTextListsEventsThenMinutesAndIsCutToSize) {
#ifdef _WIN32
    _putenv("TZ=UTC");
    _tzset();
#else
    setenv("TZ", "UTC", 1);
    tzset();
#endif
    history_clear();
    history_add_event(kMarch + 3661, EVENT_CONNECTED, "192.168.1.1:23");
    history_add_event(kMarch + 3700, EVENT_LOST, "unit silent");
    history_link_back(kMarch + 3760);
    for (int i = 0; i < 3; ++i)
        history_add_event(kMarch + 3705 + 15 * i, EVENT_FAILED, "refused");
    history_add_signal(kMarch + 3720, 40);
    history_add_signal(kMarch + 3725, 61);
    history_add_signal(kMarch + 3780, -1);
    history_add_signal(kMarch + 3600 - 86400, 80); // a day before now's minute
    const std::string whole = "2024-03-01 01:01:01\tconnected\t192.168.1.1:23\r\n"
                              "2024-03-01 01:01:40\tlost\tunit silent\r\n"
                              "2024-03-01 01:01:45\tfailed\trefused (3 times)\r\n"
                              "2024-03-01 01:02\tsignal\t40 51 61\r\n"
                              "2024-03-01 01:03\tsignal\tno link\r\n";
    const struct {
        size_t size;
        std::string text;
        size_t returned;
    } cases[] = {{0, "", whole.size()},
                 {1, "", 0},
                 {12, "2024-03-01 ", 11},
                 {whole.size(), whole.substr(0, whole.size() - 1), whole.size() - 1},
                 {whole.size() + 1, whole, whole.size()}};
    for (const auto& c : cases) {
        std::vector<char> out(c.size + 1, '#'); // one byte past the size that must stay
        EXPECT_EQ(c.returned, history_text(kMarch + 3810, c.size ? out.data() : nullptr, c.size));
        EXPECT_EQ(c.text, c.size ? out.data() : "") << c.size;
        EXPECT_EQ('#', out[c.size]);
    }
}

// The worker adds events while the main thread copies them: every copy is whole (its
// detail names its time), and the sanitizer sees the lock on both sides.
TEST(LinkHistory, ACopyTakenWhileTheWorkerWritesIsNeverTorn) {
    history_clear();
    std::atomic<bool> done{false};
    std::atomic<int> copies{0}; // relaxed: no order between the threads but the lock's
    std::thread worker([&] {
        for (int i = 0; i < 20000 || copies.load(std::memory_order_relaxed) < 100; ++i)
            history_add_event(i, i % 2 ? EVENT_FAILED : EVENT_LOST, std::to_string(i).c_str());
        done = true;
    });
    std::vector<char> text(HISTORY_EVENTS * 64);
    int torn = 0;
    while (!done) {
        LinkEvent e;
        if (history_event_newest(0, &e) && std::to_string(e.when) != e.detail) ++torn;
        history_text(0, text.data(), text.size());
        copies.fetch_add(1, std::memory_order_relaxed);
    }
    worker.join();
    EXPECT_EQ(0, torn);
    EXPECT_EQ(HISTORY_EVENTS, history_event_count());
}

} // namespace
