// The worker thread against the unit stand-in, with the tick and the worker's second
// shortened. Assertions count worker seconds, refreshes, connections and commands; the only
// wall-clock bound is the one on the stop.
#include "link/supervisor.h"

#include "test_support.h"

#include "link/settings_file.h"
#include "status/device_requests.h"

#include <cstring>
#include <memory>

using namespace ts;

namespace {

const char kEsnA[] = "123456789012345";
const char kEsnB[] = "987654321098765";

// What one refresh of the views saw, copied on the worker thread.
struct Seen {
    uint32_t seconds;     // worker seconds paused before it
    bool connected;       // the socket field was set
    bool blank;           // every status field as a reset leaves it
    std::string imei;     // trailing blanks cut
    size_t unit_commands; // commands the watched stand-in had received by then
};

// Stands in for the shell's views. The action runs on the worker thread after each refresh
// has been recorded (the "user" acting at an exact turn).
std::mutex lock;
std::vector<Seen> seen;
unitsim::Server* watched = nullptr;
std::function<void(const Seen&)> action;

// Every status field as a reset leaves it: the counters sent and received 20 blanks, the
// activity caption empty, every other field 31 blanks.
bool status_blank() {
    for (int i = 0; i < STATUS_FIELD_COUNT; ++i) {
        std::string name = status_field_name(i), field = *status_field_at(device, i);
        size_t width = name == "activity_caption"                       ? 0
                       : name == "data_sent" || name == "data_received" ? 20
                                                                        : 31;
        if (field != std::string(width, ' ')) return false;
    }
    return true;
}

void record_refresh() {
    std::string imei = device.imei;
    Seen s = {worker_seconds.load(), device.socket.load() != NO_SOCKET, status_blank(),
              imei.erase(imei.find_last_not_of(' ') + 1),
              watched ? watched->stats().commands.size() : 0};
    {
        std::lock_guard<std::mutex> guard(lock);
        seen.push_back(s);
    }
    if (action) action(s);
}

std::vector<Seen> refreshes() {
    std::lock_guard<std::mutex> guard(lock);
    return seen;
}
// Waits (at most 10 s, a failure only) until pred holds over the refreshes seen so far.
bool wait_for(const std::function<bool(const std::vector<Seen>&)>& pred) {
    for (int i = 0; i < 10000 && !pred(refreshes()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return pred(refreshes());
}
bool wait_refreshes(size_t n) {
    return wait_for([n](const std::vector<Seen>& r) { return r.size() >= n; });
}
// Index of the first refresh from `from` on that shows the unit's status, or -1.
int first_full(const std::vector<Seen>& r, const char* esn, size_t from = 0) {
    for (size_t i = from; i < r.size(); ++i)
        if (r[i].connected && r[i].imei == esn) return static_cast<int>(i);
    return -1;
}
bool wait_full(const char* esn, size_t from = 0) {
    return wait_for([=](const std::vector<Seen>& r) { return first_full(r, esn, from) >= 0; });
}

class Supervisor : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_globals(1, 10);
        worker_seconds = 0;
        seen.clear();
        watched = nullptr;
        action = nullptr;
        install_recorders(); // the reports
        view_hooks = {record_refresh, nullptr, view_hooks.show_report};
        conf_path = temp_path("telnet.conf");
        log_path = temp_path("capture.log");
        remove(conf_path.c_str());
        settings_set_path(conf_path.c_str());
    }
    void TearDown() override {
        stop_worker();
        link_drop(device);
        view_hooks = {nullptr, nullptr, nullptr};
        action = nullptr;
        watched = nullptr;
        reset_globals(100, 1000);
        remove(conf_path.c_str());
        remove(log_path.c_str());
        settings_set_path("telnet.conf");
    }
    // A frozen stand-in on a free loopback port; the first one is watched by the recorder.
    unitsim::Server& start_unit(unitsim::Config config = unitsim::Config()) {
        config.frozen = true;
        config.restart_ms = 50;
        units.push_back(std::make_unique<unitsim::Server>(config));
        EXPECT_GT(units.back()->start(0), 0);
        if (watched == nullptr) watched = units.back().get();
        return *units.back();
    }
    int closed_port() {
        unitsim::Server gone;
        return gone.start(0);
    }
    void write_settings(int port, const char* password = "vorlix") {
        ASSERT_TRUE(settings_write("127.0.0.1", std::to_string(port).c_str(), "admin", password));
    }
    // What the configuration dialog's Connect does.
    void save_in_dialog(int port) {
        write_settings(port);
        settings_read(device);
        reconnect_request = 1;
    }
    void start_worker() { worker = std::thread(worker_main); }
    // Milliseconds from the stop request to the worker's end.
    long stop_worker() {
        if (!worker.joinable()) return -1;
        Clock::time_point start = Clock::now();
        stop_request();
        worker.join();
        return elapsed_ms(start);
    }

    std::vector<std::unique_ptr<unitsim::Server>> units; // outlive the worker (TearDown)
    std::thread worker;
    std::string conf_path, log_path;
    std::atomic<bool> acted{false};
};

// The worker's pace: refreshes at these worker seconds, and what they showed.
TEST_F(Supervisor,
       RefreshesOnEveryTurnWithoutSettingsEveryFifthConnectedEveryFifteenthUnreachable) {
    unitsim::Server& unit = start_unit();
    start_worker(); // no settings file: a blank refresh every turn
    ASSERT_TRUE(wait_refreshes(3));
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(refreshes()[i].seconds, i);
        EXPECT_TRUE(refreshes()[i].blank);
    }
    write_settings(unit.port()); // picked up by the next turn
    ASSERT_TRUE(wait_full(kEsnA));
    stop_worker();
    EXPECT_EQ(unit.stats().connections, 1);

    // Connected: one query of 18 exchanges and its refresh on every fifth turn.
    TearDown();
    SetUp();
    unitsim::Server& again = start_unit();
    write_settings(again.port());
    start_worker();
    ASSERT_TRUE(wait_refreshes(3));
    std::vector<Seen> r = refreshes();
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(r[i].seconds, 5 * i);
        EXPECT_EQ(r[i].imei, kEsnA);
        EXPECT_EQ(r[i].unit_commands, 18u * (i + 1));
    }
    stop_worker();

    // Unreachable: a blank refresh, then a pause of 15 s, before each attempt.
    TearDown();
    SetUp();
    second_ms = 5;
    write_settings(closed_port());
    start_worker();
    ASSERT_TRUE(wait_refreshes(3));
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(refreshes()[i].seconds, 15 * i);
        EXPECT_TRUE(refreshes()[i].blank);
        EXPECT_FALSE(refreshes()[i].connected);
    }
}

TEST_F(Supervisor, ReconnectLoopEndsAfter10000AttemptsAndTheNextTurnStartsItAgain) {
#ifdef _WIN32
    GTEST_SKIP() << "10000 connects through Wine's Winsock take about 10 s; same code natively";
#endif
    second_ms = 0; // pauses of no length; the worker still counts their seconds
    write_settings(closed_port());
    start_worker();
    ASSERT_TRUE(wait_refreshes(10003));
    std::vector<Seen> r = refreshes();
    EXPECT_EQ(r[9999].seconds, 149985u);
    // The turn after the 10000th pause finds no link, drops, refreshes and starts again.
    EXPECT_EQ(r[10000].seconds, 150000u);
    EXPECT_EQ(r[10001].seconds, 150000u);
    EXPECT_EQ(r[10002].seconds, 150015u);
}

TEST_F(Supervisor, SettingsSavedWhileConnectedOrDuringThePauseReconnectAtOnce) {
    second_ms = 20;
    unitsim::Server& a = start_unit();
    unitsim::Config config_b;
    config_b.esn = kEsnB;
    unitsim::Server& b = start_unit(config_b);
    write_settings(a.port());
    start_worker();
    ASSERT_TRUE(wait_full(kEsnA));
    size_t before = refreshes().size();
    save_in_dialog(b.port());
    ASSERT_TRUE(wait_full(kEsnB, before));
    std::vector<Seen> r = refreshes();
    // A query turn ending as the flag went up may still show A; then the drop's blank
    // refresh, then B's status with no failed attempt (15 s pause) between.
    size_t drop = before;
    while (drop < r.size() && r[drop].connected)
        ++drop;
    ASSERT_LT(drop + 1, r.size());
    EXPECT_TRUE(r[drop].blank);
    EXPECT_EQ(first_full(r, kEsnB, before), static_cast<int>(drop + 1));
    EXPECT_LT(r[drop + 1].seconds - r[drop].seconds, 15u);
    EXPECT_EQ(a.stats().connections, 1);
    EXPECT_EQ(b.stats().connections, 1);
    EXPECT_EQ(reconnect_request.load(), 0);
    stop_worker();

    // Saved while an unreachable unit's 15 s pause runs: B follows before the pause ends.
    TearDown();
    SetUp();
    second_ms = 20;
    unitsim::Server& c = start_unit(config_b);
    write_settings(closed_port());
    start_worker();
    ASSERT_TRUE(wait_refreshes(1));
    save_in_dialog(c.port());
    ASSERT_TRUE(wait_full(kEsnB));
    EXPECT_LT(refreshes()[first_full(refreshes(), kEsnB)].seconds, 15u);
    EXPECT_EQ(c.stats().connections, 1);
    EXPECT_EQ(c.stats().login_answers, (std::vector<std::string>{"admin", "vorlix"}));
}

// Turn 0: the power cycle alone and its refresh; turn 1: the query meets the restarting unit,
// so the drop (blank status) comes at once. Then the worker logs in again by itself.
TEST_F(Supervisor, PowerCycleGoesOutAloneAndTheRestartedUnitIsLoggedIntoAgain) {
    unitsim::Server& unit = start_unit();
    raise_request(REQUEST_POWER_CYCLE);
    write_settings(unit.port());
    start_worker();
    ASSERT_TRUE(wait_full(kEsnA));
    std::vector<Seen> r = refreshes();
    int full = first_full(r, kEsnA);
    ASSERT_GE(full, 2);
    EXPECT_EQ(r[0].seconds, 0u);
    EXPECT_TRUE(r[0].connected);
    EXPECT_EQ(r[0].unit_commands, 1u);
    EXPECT_EQ(unit.stats().commands.at(0), "cmd pwrmode 2");
    EXPECT_EQ(r[1].seconds, 1u);
    for (int i = 1; i < full; ++i) {
        EXPECT_FALSE(r[i].connected) << i;
        EXPECT_TRUE(r[i].blank) << i;
    }
    EXPECT_EQ(unit.stats().logins, 2);
}

// The user confirms the power cycle just as the link has failed: it goes out first after
// the next login.
TEST_F(Supervisor, PowerCycleRaisedWhileTheLinkIsDownGoesOutFirstAfterTheNextLogin) {
    unitsim::Server& unit = start_unit();
    unitsim::Fault cut;
    cut.command = "cmd device cell";
    cut.connection = 1;
    cut.close_after = 0;
    unit.add_fault(cut);
    action = [this](const Seen& s) {
        if (!s.connected && !acted.exchange(true)) raise_request(REQUEST_POWER_CYCLE);
    };
    write_settings(unit.port());
    start_worker();
    ASSERT_TRUE(unit.wait_commands(2, 10000));
    std::vector<std::string> commands = unit.stats().commands;
    EXPECT_EQ(commands[0], "cmd device cell");
    EXPECT_EQ(commands[1], "cmd pwrmode 2");
}

TEST_F(Supervisor, LogCaptureIsServedOnTheTurnAfterTheRequest) {
    unitsim::Server& unit = start_unit();
    action = [this](const Seen& s) {
        if (s.connected && !acted.exchange(true)) request_log_capture(log_path.c_str());
    };
    write_settings(unit.port());
    start_worker();
    ASSERT_TRUE(wait_refreshes(2));
    std::vector<Seen> r = refreshes();
    EXPECT_EQ(recorded(), (std::vector<std::string>{"report Generated Log File : " + log_path}));
    std::vector<std::string> commands = unit.stats().commands;
    ASSERT_GE(commands.size(), r[0].unit_commands + 4);
    EXPECT_EQ(std::vector<std::string>(commands.begin() + r[0].unit_commands,
                                       commands.begin() + r[0].unit_commands + 4),
              (std::vector<std::string>{"cmd showstate", "cmd showconfig", "cmd syslog",
                                        "cmd event dump"}));
}

// The stop ends every wait of the worker within a second of real time: a login, a query on
// a silent unit, a capture on a reply without its prompt, the 15 s pause.
TEST_F(Supervisor, StopEndsEveryWaitOfTheWorker) {
    enum { login, query, capture, pause };
    for (int state : {login, query, capture, pause}) {
        SCOPED_TRACE(state);
        TearDown();
        SetUp();
        tick_ms = 100; // real limits: 15 s login, 30 s reply, 60 s capture reply
        second_ms = 1000;
        unitsim::Config config;
        config.never_login = state == login;
        unitsim::Server& unit = start_unit(config);
        if (state == query) unit.add_fault(silent("cmd ver"));
        unitsim::Fault cut = output_of("cmd showconfig", "config line 1\r\n");
        cut.no_prompt = true;
        if (state == capture) {
            unit.add_fault(cut);
            request_log_capture(log_path.c_str());
        }
        write_settings(state == pause ? closed_port() : unit.port());
        start_worker();
        if (state == query || state == capture) { // at "cmd ver" or "cmd showconfig"
            ASSERT_TRUE(unit.wait_commands(state == query ? 4 : 2, 10000));
        }
        if (state == pause) {
            ASSERT_TRUE(wait_refreshes(1));
        }
        if (state != pause) {
            ASSERT_TRUE(wait_ticks(idle_ticks_waited.load() + 2));
        }
        EXPECT_LT(stop_worker(), 1000);
        EXPECT_EQ(refreshes().size(), state == pause ? 1u : 0u) << "a stop is no lost link";
        EXPECT_TRUE(recorded().empty());
        if (state == capture) {
            std::string text = read_file(log_path);
            EXPECT_EQ(text.find("cmd showstate\r\n"), 0u);
            EXPECT_NE(text.find("cmd showconfig\r\nconfig line 1\r\n"), std::string::npos);
            EXPECT_EQ(remove(log_path.c_str()), 0) << "the capture file is still open";
        }
    }
}

} // namespace
