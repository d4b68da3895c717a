// The worker thread against the unit stand-in, with the tick and the worker's second
// shortened. Assertions count worker seconds, idle ticks, refreshes, connections and
// commands, never the clock.
#include "link/supervisor.h"

#include "test_support.h"

#include "link/settings_file.h"
#include "status/device_requests.h"

#include <algorithm>
#include <ctime>
#include <memory>

using namespace ts;

namespace {

// Each refresh of the views as "<worker seconds><what it showed>": "-" the blank status
// without a link, "c" a link and no status yet, "A" or "B" the status of unit "1" or "9".
std::mutex lock;
std::vector<std::string> seen;
std::function<void()> action; // the "user", on the worker thread after each refresh

void record_refresh() {
    const bool blank = device.imei[0] == ' '; // reset_status blanks it with the rest
    const char* shown = device.socket.load() == NO_SOCKET ? (blank ? "-" : "?")
                        : blank                           ? "c"
                        : device.imei[0] == '9'           ? "B"
                                                          : "A";
    std::lock_guard<std::mutex> guard(lock);
    seen.push_back(std::to_string(worker_seconds.load()) + shown);
    if (action) action();
}

std::vector<std::string> refreshes() {
    std::lock_guard<std::mutex> guard(lock);
    return seen;
}
// Waits (at most 10 s, a failure only) until n refreshes, or one ending in `shown`, came.
bool wait_for(size_t n, char shown = 0) {
    return eventually([&] {
        std::vector<std::string> r = refreshes();
        return r.size() >= n && (!shown || r.back().back() == shown);
    });
}

#ifndef _WIN32
// Connects to port still waiting for an answer on this machine (SYN_SENT in /proc/net/tcp).
int connects_pending(int port) {
    char remote[32];
    snprintf(remote, sizeof remote, "0100007F:%04X 02 ", port);
    std::ifstream tcp("/proc/net/tcp");
    int n = 0;
    for (std::string line; std::getline(tcp, line);)
        n += line.find(remote) != std::string::npos;
    return n;
}
#endif

class Supervisor : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_globals(1, 10);
        seen.clear();
        action = nullptr;
        install_recorders(); // the reports and notices
        view_hooks.refresh_views = record_refresh;
        view_hooks.update_tray = nullptr;
        remove((conf_path = temp_path("telnet.conf")).c_str());
        settings_set_path(conf_path.c_str());
    }
    void TearDown() override {
        stop_worker();
        link_drop(device);
        view_hooks = {};
        reset_globals(100, 1000);
        remove(conf_path.c_str());
        settings_set_path("telnet.conf");
        units.clear();
    }
    // A frozen stand-in on a free loopback port, restarting for a second after a power cycle.
    unitsim::Server& start_unit(const char* esn = "1", bool never_login = false,
                                bool never_answer = false) {
        unitsim::Config config;
        config.frozen = true;
        config.restart_ms = 1000;
        config.esn = esn;
        config.never_login = never_login;
        config.never_answer = never_answer;
        units.push_back(std::make_unique<unitsim::Server>(config));
        units.back()->start(0);
        return *units.back();
    }
    int closed_port() {
        units.push_back(std::make_unique<unitsim::Server>());
        return refusing_port(*units.back());
    }
    void write_settings(int port) {
        ASSERT_TRUE(settings_write("127.0.0.1", std::to_string(port).c_str(), "admin", "vorlix"));
    }
    void start_worker() { worker = std::thread(worker_main); }
    // The idle ticks and worker seconds that still pass from the stop request to the worker's
    // end: a wait that ignored the stop would run on to its limit.
    unsigned long stop_worker() {
        if (!worker.joinable()) return 0;
        const unsigned long before = idle_ticks_waited.load() + worker_seconds.load();
        stop_request();
        worker.join();
        return idle_ticks_waited.load() + worker_seconds.load() - before;
    }

    std::vector<std::unique_ptr<unitsim::Server>> units; // outlive the worker (TearDown)
    std::thread worker;
    std::string conf_path;
};

typedef std::vector<std::string> Seen;

// The worker's pace: no settings file, a blank refresh every turn until one appears;
// connected, a query and its refresh every fifth turn; unreachable, a blank refresh and a
// pause of 15 after each attempt, and after 10000 attempts the next turn starts the loop again.
TEST_F(Supervisor, RefreshesEveryTurnWithoutSettingsEveryFifthConnectedEveryFifteenthUnreachable) {
    unitsim::Server& unit = start_unit();
    start_worker();
    ASSERT_TRUE(wait_for(3));
    Seen r = refreshes();
    EXPECT_EQ(Seen(r.begin(), r.begin() + 3), (Seen{"0-", "1-", "2-"}));
    write_settings(unit.port());
    ASSERT_TRUE(wait_for(4, 'A'));
    size_t first = refreshes().size() - 1;
    ASSERT_TRUE(wait_for(first + 3));
    r = refreshes();
    int at = std::stoi(r[first]);
    EXPECT_EQ(Seen(r.begin() + first, r.begin() + first + 3),
              (Seen{std::to_string(at) + "A", std::to_string(at + 5) + "A",
                    std::to_string(at + 10) + "A"}));
    EXPECT_EQ(unit.stats().connections, 1);
#ifndef _WIN32 // 10000 connects through Wine's Winsock take 10 s; the same code runs natively
    stop_worker();
    SetUp();
    second_ms = 0; // pauses of no length; the worker still counts their seconds
    write_settings(closed_port());
    start_worker();
    ASSERT_TRUE(wait_for(10003));
    r = refreshes();
    // After the 10000th pause the turn finds no link, drops, refreshes and starts again.
    EXPECT_EQ(Seen(r.begin() + 9999, r.begin() + 10003),
              (Seen{"149985-", "150000-", "150000-", "150015-"}));
#endif
}

// New settings saved, or the stop, while the worker waits: in a query on a silent unit, in the
// pause after a failed attempt, in a connect never answered or in a login never asked. New
// settings: at most the blank status of the drop, then B's at once, with no failed attempt
// and no pause of 15 between. The stop: the worker ends within the tick under way, and a stop
// is no lost link. The worker's second and the connect's tick last a minute, so only the wake
// can end a pause or the connect so soon.
TEST_F(Supervisor, NewSettingsOrTheStopEndEveryWaitOfTheWorker) {
    enum { query, paused, never_answer, never_login };
    const Seen expected[] = {{"0-", "0B"}, {"0-", "0B"}, {"0B"}, {"0B"}};
    for (int state : {query, paused, never_answer, never_login}) {
        for (bool stop : {false, true}) {
            SCOPED_TRACE(state * 2 + stop);
            SetUp();
            unitsim::Server& a = start_unit("1", state == never_login, state == never_answer);
            unitsim::Server& b = start_unit("9");
            a.add_fault(silent("cmd ver"));
            write_settings(state == paused ? closed_port() : a.port());
            second_ms = 60000;
            tick_ms = state == query || state == never_login ? 100 : 60000; // ticks show the wait
#ifndef _WIN32
            const int fillers = connects_pending(a.port());
#endif
            start_worker();
            EXPECT_TRUE(state != query || a.wait_commands(4, 10000)); // at "cmd ver"
            const unsigned long ticks = idle_ticks_waited + 2;
            ASSERT_TRUE(eventually([&] {
                if (state == paused) return !refreshes().empty();
                if (state != never_answer) return idle_ticks_waited >= ticks;
#ifdef _WIN32 // no /proc: at least A's settings are read, so B's come only with the save
                LinkSettings now;
                settings_snapshot(device, &now);
                return std::to_string(a.port()) == now.port;
#else
                return connects_pending(a.port()) > fillers;
#endif
            }));
            if (stop) {
                EXPECT_LE(stop_worker(), 2u); // the tick under way, and one ending as the stop came
                EXPECT_EQ(refreshes().size(), state == paused ? 1u : 0u)
                    << "a stop is no lost link";
            } else {
                write_settings(b.port()); // and what the configuration dialog's Connect does
                settings_read(device);
                raise_reconnect(REASON_NEW_SETTINGS);
                ASSERT_TRUE(wait_for(expected[state].size(), 'B'));
                Seen r = refreshes();
                EXPECT_EQ(expected[state], Seen(r.begin(), r.begin() + expected[state].size()));
                EXPECT_EQ(b.stats().connections, 1);
                EXPECT_EQ(reconnect_request.load(), 0);
            }
            TearDown();
        }
    }
}

// The first query fails; as the link is lost the unit starts rejecting the password, and the
// user asks for a power cycle and a capture. The worker answers each prompt, the unit closes
// after three, and it tries again every 15 worker seconds. One notice when the link has been
// down for 60 worker seconds, with the reason of the moment; none for the later attempts; one
// when it is back. Then the power cycle goes out alone and drops the link, the worker logs in
// again once the unit is back, and the capture is served then; a second one asked as the
// first ends waits for the next turn, each reporting its own path. Every query adds its
// signal, a second down marks its minute as without a link.
TEST_F(Supervisor, OneNoticeAnOutageAndTheUsersRequestsServedApartOnceTheLinkIsBack) {
    unitsim::Server& unit = start_unit();
    unit.add_fault(closing("cmd device cell", 0, 1));
    unitsim::Config right = unit.config();
    unitsim::Config wrong = right;
    wrong.password = "other";
    second_ms = 1;
    view_hooks.show_notice = [](const char* text) {
        record(std::to_string(worker_seconds.load()) + " " + text);
    };
    const std::string first = temp_path("capture.log"), second = first + "2";
    view_hooks.update_tray = [](bool, bool) { // the first capture is done, its report to come
        view_hooks.update_tray = nullptr;
        request_log_capture((temp_path("capture.log") + "2").c_str());
    };
    action = [&] {
        if (seen.back() == "90-") unit.set_config(right);
        if (seen.size() > 1) return;
        unit.set_config(wrong);
        raise_request(REQUEST_POWER_CYCLE);
        request_log_capture(first.c_str());
    };
    write_settings(unit.port());
    start_worker();
    eventually([] { return recorded().size() >= 4; });
    stop_worker();
    remove(first.c_str());
    remove(second.c_str());
    // The history as "<event> <detail> <count>", oldest first.
    Seen events;
    LinkEvent held[HISTORY_EVENTS];
    for (int i = 0; i < history_events(held, HISTORY_EVENTS); ++i)
        events.push_back(std::string(link_event_word(held[i].kind)) + " " + held[i].detail + " " +
                         std::to_string(held[i].count));
    const std::string connected = "connected 127.0.0.1:" + std::to_string(unit.port()) + " 1";
    ASSERT_EQ(events.size(), 7u);
    events[5].erase(events[5].rfind(' ')); // as many as the restart lasted
    EXPECT_EQ(events, (Seen{connected, "lost closed by the unit 1", "failed login rejected 7",
                            connected, "power cycle  1", "failed closed by the unit", connected}));
    LinkEvent lost;
    ASSERT_TRUE(history_event_newest(5, &lost));
    EXPECT_NE(lost.outage_s, 0u);
    char at[8];
    const time_t when = static_cast<time_t>(lost.when);
    strftime(at, sizeof at, "%H:%M", localtime(&when));
    EXPECT_EQ(recorded(),
              (Seen{"60 Lost the link to the unit at " + std::string(at) + " (login rejected).",
                    "105 The link is back after 1 min.", "report Generated Log File : " + first,
                    "report Generated Log File : " + second}));
    Seen commands = unit.stats().commands;
    EXPECT_EQ(Seen(commands.begin(), commands.begin() + 3),
              (Seen{"cmd device cell", "cmd pwrmode 2", "cmd showstate"}));
    std::vector<SignalMinute> minutes(HISTORY_MINUTES);
    history_signal(time(nullptr), minutes.data());
    int samples = 0;
    int down = 0;
    for (const SignalMinute& m : minutes) {
        samples += m.samples;
        down += m.no_link;
    }
    Seen r = refreshes();
    EXPECT_EQ(samples, std::count_if(r.begin(), r.end(), [](auto& x) { return x.back() == 'A'; }));
    EXPECT_GE(down, 1);
}

} // namespace
