// The link's history: the event ring, failures counted in one event, outages, the minutes of
// signal and the copied text. Times are chosen here; the text's stamps are UTC.
#include "link/link_history.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <tuple>
#include <vector>

namespace {

// The events held, oldest first: "word|detail|count|outage ".
std::string held() {
    static LinkEvent all[HISTORY_EVENTS];
    std::string text;
    char line[64];
    for (int i = 0, n = history_events(all, HISTORY_EVENTS); i < n; ++i) {
        snprintf(line, sizeof line, "%s|%s|%u|%u ", link_event_word(all[i].kind), all[i].detail,
                 all[i].count, all[i].outage_s);
        text += line;
    }
    return text;
}

// Events with the details "0", "1", ...: the newest 1000 stay, oldest first.
TEST(LinkHistory, TheEventRingKeepsTheNewestThousandInOrder) {
    for (int added : {0, 1000, 1001, 2500}) {
        history_clear();
        std::string expected;
        for (int i = 0; i < added; ++i) {
            history_add_event(i, EVENT_RESUMED, std::to_string(i).c_str());
            if (i >= added - 1000) expected += "resumed|" + std::to_string(i) + "|1|0 ";
        }
        EXPECT_EQ(expected, held());
        LinkEvent newest{};
        EXPECT_EQ(added > 0, history_event_newest(0, &newest));
        EXPECT_EQ(added > 0 ? std::to_string(added - 1) : "", newest.detail);
        EXPECT_EQ(std::min(added, 1000), history_event_count());
        EXPECT_FALSE(history_event_newest(std::min(added, 1000), &newest));
    }
}

// At a second: F failed, L lost, C connected, ? an unknown kind, B the link is back.
TEST(LinkHistory, RepeatedFailuresAreOneEventAndALossEndsOnce) {
    const std::string r40(40, 'r'), r41 = r40 + "x";
    const struct {
        std::vector<std::tuple<char, int64_t, const char*>> ops;
        std::string held;
    } cases[] = {
        {{{'F', 1, "r"},
          {'F', 16, "r"},
          {'F', 31, "r"},
          {'F', 32, "n"},
          {'F', 33, "r"},
          {'L', 34, "r"},
          {'F', 35, "r"},
          {'?', 36, "r"}},
         "failed|r|3|0 failed|n|1|0 failed|r|1|0 lost|r|1|0 failed|r|1|0 "},
        // cut to 34 characters, a tab made a blank, no detail an empty one
        {{{'L', 5, "a\tb"},
          {'L', 6, "a\tb"},
          {'F', 7, r40.c_str()},
          {'F', 8, r41.c_str()},
          {'F', 9, nullptr},
          {'F', 9, ""}},
         "lost|a b|1|0 lost|a b|1|0 failed|" + r40.substr(6) + "|2|0 failed||2|0 "},
        // only the newest loss ends, once, at least 1 s long, at most what its count holds
        {{{'L', 50, "z"},
          {'L', 100, "a"},
          {'F', 120, "b"},
          {'B', 160, ""},
          {'B', 999, ""},
          {'L', 300, "c"},
          {'B', 300, ""},
          {'L', 5000000000, "d"},
          {'B', 0, ""}},
         "lost|z|1|0 lost|a|1|60 failed|b|1|0 lost|c|1|1 lost|d|1|1 "},
        {{{'L', 0, "e"}, {'B', 5000000000, ""}}, "lost|e|1|4294967295 "},
    };
    for (const auto& c : cases) {
        history_clear();
        for (const auto& [op, when, detail] : c.ops) {
            if (op == 'B') {
                history_link_back(when);
                continue;
            }
            // C, L, F: the kinds 0 to 2; any other letter: -1
            history_add_event(when, static_cast<int>(std::string("CLF").find(op)), detail);
        }
        EXPECT_EQ(c.held, held());
    }
}

// Samples 7 s into minutes back from now's; the minutes that hold anything, oldest first:
// "back:low mean high samples no_link".
TEST(LinkHistory, TheMinutesKeepADayOfLowMeanAndHigh) {
    const int64_t minute = 1709251800; // a minute's start
    const struct {
        int64_t now;
        std::vector<std::pair<int, int>> samples; // minutes back, percent
        std::string shown;
    } cases[] = {
        {minute + 59,
         {{0, 50}, {0, 51}, {1, 150}, {2, -1}, {3, 40}, {3, -1}, {3, 0}, {3, 65}},
         "3:0 35 65 3 1 2:0 0 0 0 1 1:100 100 100 1 0 0:50 51 51 2 0 "},
        // a day back is gone; a slot that held it takes the new minute alone
        {minute,
         {{1440, 90}, {1439, 20}, {1445, 10}, {5, 70}},
         "1439:20 20 20 1 0 5:70 70 70 1 0 "},
        // near 1970 the minutes before the first are empty; earlier times count as the first
        {100, {{1, 5}, {3, 9}}, "1:5 7 9 2 0 "},
    };
    for (const auto& c : cases) {
        history_clear();
        for (const auto& [back, percent] : c.samples)
            history_add_signal(c.now - c.now % 60 - back * 60 + 7, percent);
        static SignalMinute minutes[HISTORY_MINUTES];
        history_signal(c.now, minutes);
        std::string shown;
        for (int i = 0; i < HISTORY_MINUTES; ++i) {
            const SignalMinute& m = minutes[i];
            EXPECT_EQ(c.now / 60 - HISTORY_MINUTES + 1 + i, m.minute);
            char line[64];
            snprintf(line, sizeof line, "%d:%d %d %d %d %d ", HISTORY_MINUTES - 1 - i, m.low,
                     m.mean, m.high, m.samples, m.no_link);
            if (m.samples > 0 || m.no_link) shown += line;
        }
        EXPECT_EQ(c.shown, shown);
    }
}

// The whole text, then cut at a size: always terminated, the length written returned.
TEST(LinkHistory, TheCopiedTextListsEventsThenMinutesAndIsCutToSize) {
    putenv(const_cast<char*>("TZ=UTC"));
    tzset();
    const int64_t march = 1709251200; // 2024-03-01 00:00:00 UTC
    history_clear();
    history_add_event(march + 3661, EVENT_CONNECTED, "192.168.1.1:23");
    for (int i = 0; i < 3; ++i)
        history_add_event(march + 3705 + 15 * i, EVENT_FAILED, "refused");
    history_add_signal(march + 3720, 40);
    history_add_signal(march + 3725, 61);
    history_add_signal(march + 3780, -1);
    const std::string whole = "2024-03-01 01:01:01\tconnected\t192.168.1.1:23\r\n"
                              "2024-03-01 01:01:45\tfailed\trefused (3 times)\r\n"
                              "2024-03-01 01:02\tsignal\t40 51 61\r\n"
                              "2024-03-01 01:03\tsignal\tno link\r\n";
    const size_t n = whole.size();
    const struct {
        size_t size;
        std::string text;
        size_t returned;
    } cases[] = {{0, "#", n}, {12, "2024-03-01 ", 11}, {n + 1, whole, n}};
    for (const auto& c : cases) {
        std::string out(c.size + 1, '#'); // the byte past the size stays
        EXPECT_EQ(c.returned, history_text(march + 3810, c.size ? &out[0] : nullptr, c.size));
        EXPECT_EQ(c.text, out.c_str());
        EXPECT_EQ('#', out[c.size]);
    }
}

} // namespace
