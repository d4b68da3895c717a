// The worker thread against the unit stand-in, with the tick and the worker's second
// shortened. Assertions count worker seconds, idle ticks, refreshes, connections and
// commands, never the clock.
#include "link/supervisor.h"

#include "test_support.h"

#include "link/settings_file.h"
#include "status/device_requests.h"

#include <algorithm>
#include <cstring>
#include <memory>

using namespace ts;

namespace {

const char kEsnB[] = "987654321098765"; // unit B; unit A has the stand-in's 123456789012345

// Each refresh of the views as "<worker seconds><what it showed>": "-" the blank status
// without a link, "c" a link and no status yet, "A" or "B" that unit's status; and the
// commands the first unit had received by then.
std::mutex lock;
std::vector<std::string> seen;
std::vector<size_t> commands_seen;
unitsim::Server* watched = nullptr;
std::function<void()> action; // the "user", on the worker thread after each refresh

void record_refresh() {
    bool blank = true;
    for (int i = 0; i < STATUS_FIELD_COUNT; ++i)
        blank = blank &&
                strspn(*status_field_at(device, i), " ") == strlen(*status_field_at(device, i));
    bool linked = device.socket.load() != NO_SOCKET;
    const char* shown = !linked                 ? (blank ? "-" : "?")
                        : blank                 ? "c"
                        : device.imei[0] == '9' ? "B"
                                                : "A";
    std::lock_guard<std::mutex> guard(lock);
    seen.push_back(std::to_string(worker_seconds.load()) + shown);
    commands_seen.push_back(watched ? watched->stats().commands.size() : 0);
    if (action) action();
}

std::vector<std::string> refreshes() {
    std::lock_guard<std::mutex> guard(lock);
    return seen;
}
std::vector<size_t> commands_at_refreshes() {
    std::lock_guard<std::mutex> guard(lock);
    return commands_seen;
}
// Waits (at most 10 s, a failure only) until n refreshes, or one ending in `shown`, came.
bool wait_for(size_t n, char shown = 0) {
    for (int i = 0; i < 10000; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
        std::vector<std::string> r = refreshes();
        if (r.size() >= n && (!shown || r.back().back() == shown)) return true;
    }
    return false;
}

class Supervisor : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_globals(1, 10);
        seen.clear(), commands_seen.clear();
        watched = nullptr, action = nullptr;
        install_recorders(); // the reports
        view_hooks = {record_refresh, nullptr, view_hooks.show_report};
        remove((conf_path = temp_path("telnet.conf")).c_str());
        settings_set_path(conf_path.c_str());
        log_path = temp_path("capture.log");
    }
    void TearDown() override {
        stop_worker();
        link_drop(device);
        view_hooks = {nullptr, nullptr, nullptr};
        reset_globals(100, 1000);
        remove(conf_path.c_str());
        remove(log_path.c_str());
        settings_set_path("telnet.conf");
        units.clear();
    }
    // A frozen stand-in on a free loopback port; the first one is watched by the recorder.
    unitsim::Server& start_unit(const char* esn = "123456789012345", bool never_login = false,
                                bool never_answer = false) {
        unitsim::Config config;
        config.frozen = true, config.restart_ms = 50, config.esn = esn;
        config.never_login = never_login, config.never_answer = never_answer;
        units.push_back(std::make_unique<unitsim::Server>(config));
        EXPECT_GT(units.back()->start(0), 0);
        if (watched == nullptr) watched = units.back().get();
        return *units.back();
    }
    int closed_port() { return unitsim::Server().start(0); } // stopped at once
    void write_settings(int port) {
        ASSERT_TRUE(settings_write("127.0.0.1", std::to_string(port).c_str(), "admin", "vorlix"));
    }
    // What the configuration dialog's Connect does.
    void save_in_dialog(int port) {
        write_settings(port);
        settings_read(device);
        reconnect_request = 1;
    }
    void start_worker() { worker = std::thread(worker_main); }
    // The idle ticks and worker seconds that still pass from the stop request to the worker's
    // end: a wait that ignored the stop would run on to its limit.
    unsigned long stop_worker() {
        if (!worker.joinable()) return 0;
        const unsigned long before = idle_ticks_waited.load() + worker_seconds.load();
        stop_request(), worker.join();
        return idle_ticks_waited.load() + worker_seconds.load() - before;
    }

    std::vector<std::unique_ptr<unitsim::Server>> units; // outlive the worker (TearDown)
    std::thread worker;
    std::string conf_path, log_path;
};

typedef std::vector<std::string> Seen;

// The worker's pace: no settings file, a blank refresh every turn until one appears;
// connected, one query of 18 exchanges and its refresh every fifth turn; unreachable, a
// blank refresh and a pause of 15 before each attempt, and after 10000 attempts the next turn
// starts the loop again.
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
    EXPECT_EQ(commands_at_refreshes()[first + 2] - commands_at_refreshes()[first], 36u);
    EXPECT_EQ(unit.stats().connections, 1);
    stop_worker();
    SetUp();
    second_ms = 0; // pauses of no length; the worker still counts their seconds
    write_settings(closed_port());
    start_worker();
#ifndef _WIN32 // 10000 connects through Wine's Winsock take 10 s; the same code runs natively
    ASSERT_TRUE(wait_for(10003));
    r = refreshes();
    // After the 10000th pause the turn finds no link, drops, refreshes and starts again.
    EXPECT_EQ(Seen(r.begin() + 9999, r.begin() + 10003),
              (Seen{"149985-", "150000-", "150000-", "150015-"}));
#endif
    ASSERT_TRUE(wait_for(3));
    r = refreshes();
    EXPECT_EQ(Seen(r.begin(), r.begin() + 3), (Seen{"0-", "15-", "30-"}));
}

// New settings while connected, in the pause after a failed attempt, in a connect never
// answered or a login never asked, saved by the user right after the refresh that shows the
// state: at most the blank status of the drop, then B's at once, with no failed attempt and
// no pause of 15 between.
TEST_F(Supervisor, SettingsSavedInAnyStateReconnectAtOnceWithTheNewOnes) {
    enum { connected, paused, never_answer, never_login };
    const Seen expected[] = {{"0A", "0-", "1B"}, {"0-", "0B"}, {"0B"}, {"0B"}};
    for (int state : {connected, paused, never_answer, never_login}) {
        SCOPED_TRACE(state);
        SetUp();
        unitsim::Server &a = start_unit("1", state == never_login, state == never_answer),
                        &b = start_unit(kEsnB);
        bool saved = false;
        action = [&] {
            if (!saved && seen.back().back() != 'B') saved = true, save_in_dialog(b.port());
        };
        write_settings(state == paused ? closed_port() : a.port());
        second_ms = state == connected ? 10 : 60000; // a pause ends at once, not after its second
        if (state >= never_answer) tick_ms = 100;    // A's wait outlasts the test's: 15 s login
        start_worker();
        if (state >= never_answer) {
            ASSERT_TRUE(wait_ticks(idle_ticks_waited.load() + 3)); // waiting on A
            save_in_dialog(b.port());
        }
        ASSERT_TRUE(wait_for(expected[state].size(), 'B'));
        Seen r = refreshes();
        EXPECT_EQ(expected[state], Seen(r.begin(), r.begin() + expected[state].size()));
        EXPECT_EQ(b.stats().connections, 1);
        EXPECT_EQ(reconnect_request.load(), 0);
        TearDown();
    }
}

// The first query fails and the user confirms a power cycle as the link is lost: it goes out
// alone, first after the next login (its turn's refresh shows the blank status), and the next
// turn's query meets the restarting unit, so the drop comes at once. The worker logs in
// again by itself; a capture asked on the turn that shows A is served on the next one, and a
// second one asked during it waits for the turn after, with its own path.
TEST_F(Supervisor, RequestsOfTheUserAreServedOnTheNextTurnWithALink) {
    unitsim::Server& unit = start_unit();
    unitsim::Fault cut, slow;
    cut.command = "cmd device cell", cut.connection = 1, cut.close_after = 0;
    slow.command = "cmd syslog", slow.delay_ms = 100; // time to ask again meanwhile
    unit.add_fault(cut), unit.add_fault(slow);
    std::atomic<int> acted{0};
    action = [&] {
        if (acted == 0 && device.socket.load() == NO_SOCKET)
            acted = 1, raise_request(REQUEST_POWER_CYCLE);
        if (acted == 1 && device.imei[0] == '1') acted = 2, request_log_capture(log_path.c_str());
    };
    write_settings(unit.port());
    start_worker();
    const std::string second = log_path + "2";
    for (int i = 0; i < 10000 && !std::filesystem::exists(log_path); ++i) // the capture is on
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    request_log_capture(second.c_str());
    for (int i = 0; i < 10000 && recorded().size() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(recorded(), (Seen{"report Generated Log File : " + log_path,
                                "report Generated Log File : " + second}));
    remove(second.c_str());
    Seen r = refreshes(), commands = unit.stats().commands;
    EXPECT_EQ(Seen(r.begin(), r.begin() + 3), (Seen{"0-", "1c", "2-"}));
    EXPECT_EQ(Seen(commands.begin(), commands.begin() + 2),
              (Seen{"cmd device cell", "cmd pwrmode 2"}));
    EXPECT_EQ(commands_at_refreshes()[1], 2u);
    EXPECT_EQ(unit.stats().logins, 3);
    auto first_a =
        std::find_if(r.begin(), r.end(), [](const std::string& s) { return s.back() == 'A'; });
    size_t at = commands_at_refreshes().at(first_a - r.begin()); // the capture was asked then
    EXPECT_EQ(Seen(commands.begin() + at, commands.begin() + at + 4),
              (Seen{"cmd showstate", "cmd showconfig", "cmd syslog", "cmd event dump"}));
}

// The stop ends every wait of the worker within the tick under way: a login, a query on a
// silent unit, a capture on a reply without its prompt, the 15 s pause (real ticks and
// seconds, so a wait that ran on would show).
TEST_F(Supervisor, StopEndsEveryWaitOfTheWorker) {
    enum { login, query, capture, pause };
    for (int state : {login, query, capture, pause}) {
        SCOPED_TRACE(state);
        SetUp();
        tick_ms = 100, second_ms = 1000; // real limits: 15 s login, 30 s reply, 60 s capture

        unitsim::Server& unit = start_unit("123456789012345", state == login);
        if (state == query) unit.add_fault(silent("cmd ver"));
        unitsim::Fault cut = output_of("cmd showconfig", "config line 1\r\n");
        cut.no_prompt = true;
        if (state == capture) unit.add_fault(cut), request_log_capture(log_path.c_str());
        write_settings(state == pause ? closed_port() : unit.port());
        start_worker();
        EXPECT_TRUE(state != query || unit.wait_commands(4, 10000));   // at "cmd ver"
        EXPECT_TRUE(state != capture || unit.wait_commands(2, 10000)); // at "cmd showconfig"
        EXPECT_TRUE(state == pause ? wait_for(1) : wait_ticks(idle_ticks_waited.load() + 2));
        EXPECT_LE(stop_worker(), 2u); // the tick under way, and one ending as the stop came
        EXPECT_EQ(refreshes().size(), state == pause ? 1u : 0u) << "a stop is no lost link";
        EXPECT_TRUE(recorded().empty());
        EXPECT_TRUE(state != capture || remove(log_path.c_str()) == 0) << "capture file still open";
    }
}

} // namespace
