// The worker thread against the unit stand-in, with the loop tick and the worker's second
// shortened. Assertions count worker seconds, refreshes, connections and commands; the only
// wall-clock bound is the one on the stop.
#include "link/supervisor.h"

#include "test_support.h"

#include "link/settings_file.h"
#include "status/device_requests.h"

#include <algorithm>
#include <condition_variable>
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

struct Report {
    uint32_t seconds;
    std::string text;
};

// Stands in for the shell's views. The action, set before the worker starts, runs on the
// worker thread after each refresh has been recorded (the "user" acting at an exact turn).
struct Recorder {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Seen> refreshes;
    std::vector<Report> reports;
    unitsim::Server* watched = nullptr;
    std::function<void(const Seen&)> action;
} recorder;

// Widths a reset leaves: the data counters sent and received 20, the activity caption
// unpadded, every other field 31 (written out from the field table, not from the code).
int reset_width(const char* name) {
    if (strcmp(name, "data_sent") == 0 || strcmp(name, "data_received") == 0) return 20;
    if (strcmp(name, "activity_caption") == 0) return 0;
    return 31;
}

bool status_blank() {
    for (int i = 0; i < STATUS_FIELD_COUNT; ++i) {
        const char* field = *status_field_at(device, i);
        size_t width = static_cast<size_t>(reset_width(status_field_name(i)));
        if (strlen(field) != width || strspn(field, " ") != width) return false;
    }
    return true;
}

void record_refresh() {
    Seen seen;
    seen.seconds = worker_seconds.load();
    seen.connected = device.socket.load() != NO_SOCKET;
    seen.blank = status_blank();
    seen.imei = device.imei;
    seen.imei.erase(seen.imei.find_last_not_of(' ') + 1);
    seen.unit_commands = recorder.watched ? recorder.watched->stats().commands.size() : 0;
    {
        std::lock_guard<std::mutex> guard(recorder.lock);
        recorder.refreshes.push_back(seen);
    }
    recorder.changed.notify_all();
    if (recorder.action) recorder.action(seen);
}

void record_report(const char* text) {
    {
        std::lock_guard<std::mutex> guard(recorder.lock);
        recorder.reports.push_back({worker_seconds.load(), text});
    }
    recorder.changed.notify_all();
}

std::vector<Seen> refreshes() {
    std::lock_guard<std::mutex> guard(recorder.lock);
    return recorder.refreshes;
}

std::vector<Report> reports() {
    std::lock_guard<std::mutex> guard(recorder.lock);
    return recorder.reports;
}

// Waits (at most 10 s, a failure only) until pred holds over the refreshes seen so far.
bool wait_for(const std::function<bool(const std::vector<Seen>&)>& pred) {
    std::unique_lock<std::mutex> guard(recorder.lock);
    return recorder.changed.wait_for(guard, std::chrono::seconds(10),
                                     [&] { return pred(recorder.refreshes); });
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

// Waits until the receive and login loops have idled n more ticks: the worker is then
// inside a wait. False after 10 s.
bool wait_idle_ticks(unsigned long n) {
    return wait_ticks(idle_ticks_waited.load() + n);
}

class Supervisor : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_globals(1, 10);
        worker_seconds = 0;
        {
            std::lock_guard<std::mutex> guard(recorder.lock);
            recorder.refreshes.clear();
            recorder.reports.clear();
        }
        recorder.watched = nullptr;
        recorder.action = nullptr;
        view_hooks = {record_refresh, nullptr, record_report};
        conf_path = temp_path("telnet.conf");
        log_path = temp_path("capture.log");
        remove(conf_path.c_str());
        remove(log_path.c_str());
        settings_set_path(conf_path.c_str());
    }

    void TearDown() override {
        stop_worker();
        link_drop(device);
        view_hooks = {nullptr, nullptr, nullptr};
        recorder.action = nullptr;
        recorder.watched = nullptr;
        reset_globals(100, 1000);
        remove(conf_path.c_str());
        remove(log_path.c_str());
        settings_set_path("telnet.conf");
    }

    // A frozen stand-in on a free loopback port; the first one is watched by the recorder.
    unitsim::Server& start_unit(unitsim::Config config = unitsim::Config()) {
        config.frozen = true;
        units.push_back(std::make_unique<unitsim::Server>(config));
        unitsim::Server& unit = *units.back();
        EXPECT_GT(unit.start(0), 0);
        if (recorder.watched == nullptr) recorder.watched = &unit;
        return unit;
    }

    // A loopback port where nothing listens.
    int closed_port() {
        unitsim::Server gone;
        int port = gone.start(0);
        gone.stop();
        return port;
    }

    void write_settings(int port, const char* password = "vorlix") {
        char port_text[16];
        snprintf(port_text, sizeof port_text, "%d", port);
        ASSERT_TRUE(settings_write("127.0.0.1", port_text, "admin", password));
    }

    // What the configuration dialog's OK does.
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
    std::string conf_path;
    std::string log_path;
    // The recorder's one-shot actions: members, so they outlive the worker (TearDown).
    std::atomic<bool> acted{false};
};

// ---- idle, unreachable, settings changes --------------------------------------------------

TEST_F(Supervisor, NoSettingsFileRefreshesEveryTurnUntilAValidFileAppears) {
    unitsim::Server& unit = start_unit();
    start_worker();
    ASSERT_TRUE(wait_refreshes(4));
    std::vector<Seen> idle = refreshes();
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(idle[i].seconds, i) << "one refresh per turn";
        EXPECT_TRUE(idle[i].blank);
        EXPECT_FALSE(idle[i].connected);
    }
    EXPECT_EQ(unit.stats().connections, 0);

    write_settings(unit.port());
    uint32_t written_at = worker_seconds.load(); // read after the write: the file is there
    ASSERT_TRUE(unit.wait_logins(1, 10000));
    ASSERT_TRUE(wait_full(kEsnA));
    // The turn under way may have read the old file; the next one reads the new one.
    for (const Seen& s : refreshes()) {
        if (!s.connected) {
            EXPECT_LE(s.seconds, written_at + 1);
        }
    }
    EXPECT_EQ(unit.stats().connections, 1);
}

TEST_F(Supervisor, ConnectedWorkerQueriesOnEveryFifthTurnAndRefreshesAfterIt) {
    unitsim::Server& unit = start_unit();
    write_settings(unit.port());
    start_worker();
    ASSERT_TRUE(wait_refreshes(3));
    std::vector<Seen> r = refreshes();
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(r[i].seconds, 5 * i);
        EXPECT_EQ(r[i].imei, kEsnA);
        EXPECT_EQ(r[i].unit_commands, 18u * (i + 1)) << "one query of 18 exchanges per refresh";
    }
    EXPECT_EQ(unit.stats().connections, 1);
}

TEST_F(Supervisor, UnreachableUnitIsTriedEveryFifteenSecondsWithABlankStatus) {
    second_ms = 5;
    write_settings(closed_port());
    start_worker();
    ASSERT_TRUE(wait_refreshes(3));
    std::vector<Seen> r = refreshes();
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(r[i].seconds, 15 * i) << "attempt " << i;
        EXPECT_TRUE(r[i].blank);
        EXPECT_FALSE(r[i].connected);
    }
}

TEST_F(Supervisor, ReconnectLoopEndsAfter10000AttemptsAndTheNextTurnStartsItAgain) {
#ifdef _WIN32
    GTEST_SKIP() << "10000 connects through Wine's Winsock take about 10 s; the bound is the "
                    "same code natively";
#endif
    second_ms = 0; // pauses of no length; the worker still counts their seconds
    write_settings(closed_port());
    start_worker();
    ASSERT_TRUE(wait_for([](const std::vector<Seen>& r) { return r.size() >= 10003; }));
    std::vector<Seen> r = refreshes();
    for (uint32_t i = 0; i < 10000; ++i) {
        ASSERT_EQ(r[i].seconds, 15 * i) << "attempt " << i;
    }
    // The loop has given up after its 10000th pause; the worker's turn finds no link, drops,
    // refreshes and starts the loop again, whose first attempt follows without a pause.
    EXPECT_EQ(r[10000].seconds, 150000u);
    EXPECT_EQ(r[10001].seconds, 150000u);
    EXPECT_EQ(r[10002].seconds, 150015u);
}

TEST_F(Supervisor, SettingsSavedWhileConnectedReconnectAtOnceWithTheNewOnes) {
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
    uint32_t saved_at = worker_seconds.load(); // read after the flag is raised
    ASSERT_TRUE(wait_full(kEsnB, before));
    std::vector<Seen> r = refreshes();
    // A query turn ending as the flag went up may still show A; then comes the drop (blank,
    // no socket) within the turn under way or the next one...
    size_t drop = before;
    while (drop < r.size() && r[drop].connected) {
        EXPECT_EQ(r[drop].imei, kEsnA);
        ++drop;
    }
    ASSERT_LT(drop + 1, r.size());
    EXPECT_TRUE(r[drop].blank);
    EXPECT_LE(r[drop].seconds, saved_at + 1);
    // ...then no failed attempt (each would refresh and pause 15 s) before B's status.
    EXPECT_EQ(first_full(r, kEsnB, before), static_cast<int>(drop + 1));
    EXPECT_LT(r[drop + 1].seconds - r[drop].seconds, 15u);
    EXPECT_EQ(a.stats().connections, 1);
    EXPECT_EQ(b.stats().connections, 1);
    EXPECT_EQ(b.stats().logins, 1);
    EXPECT_EQ(reconnect_request.load(), 0);
}

TEST_F(Supervisor, SettingsSavedDuringThePauseDropTheNextConnectionOnce) {
    second_ms = 20;
    unitsim::Config config_b;
    config_b.esn = kEsnB;
    unitsim::Server& b = start_unit(config_b);
    write_settings(closed_port());
    start_worker();
    ASSERT_TRUE(wait_refreshes(1)); // first attempt failed; the 15 s pause has begun
    save_in_dialog(b.port());
    ASSERT_TRUE(wait_full(kEsnB));

    std::vector<Seen> r = refreshes();
    ASSERT_GE(r.size(), 3u);
    EXPECT_EQ(r[0].seconds, 0u);
    EXPECT_EQ(r[1].seconds, 15u) << "the connection to B made with the flag raised";
    EXPECT_FALSE(r[1].connected);
    EXPECT_TRUE(r[1].blank);
    EXPECT_GE(r[2].seconds, 30u) << "the login waited one more pause";
    EXPECT_EQ(first_full(r, kEsnB), 2);
    unitsim::Stats stats = b.stats();
    EXPECT_EQ(stats.connections, 2);
    EXPECT_EQ(stats.logins, 1);
    // The dropped connection never answered its login prompt.
    EXPECT_EQ(stats.login_answers, (std::vector<std::string>{"admin", "vorlix"}));
}

// ---- requests --------------------------------------------------------------------------

TEST_F(Supervisor, PowerCycleRaisedWhileTheLinkIsDownGoesOutFirstAfterTheNextLogin) {
    unitsim::Config config;
    config.restart_ms = 50;
    unitsim::Server& unit = start_unit(config);
    unitsim::Fault cut;
    cut.command = "cmd device cell";
    cut.connection = 1;
    cut.close_after = 0;
    unit.add_fault(cut);
    // The user confirms the power cycle just as the link has failed.
    recorder.action = [this](const Seen& s) {
        if (!s.connected && !acted.exchange(true)) raise_request(REQUEST_POWER_CYCLE);
    };
    write_settings(unit.port());
    start_worker();
    ASSERT_TRUE(unit.wait_commands(2, 10000));
    std::vector<std::string> commands = unit.stats().commands;
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[0], "cmd device cell"); // the query that met the closed link
    EXPECT_EQ(commands[1], "cmd pwrmode 2");
    EXPECT_TRUE(acted.load());
    EXPECT_GE(unit.stats().logins, 2);
}

// Turn 0 (a query turn): the power cycle alone, then its refresh; turn 1: the query, which
// meets the restarting unit, so the drop comes at once and not on turn 5. Once the unit is
// back the worker logs in again by itself and the status fills again.
TEST_F(Supervisor, PowerCycleGoesOutAloneAndTheRestartedUnitIsLoggedIntoAgain) {
    unitsim::Config config;
    config.restart_ms = 50;
    unitsim::Server& unit = start_unit(config);
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

TEST_F(Supervisor, LogCaptureIsServedOnTheTurnAfterTheRequest) {
    unitsim::Server& unit = start_unit();
    recorder.action = [this](const Seen& s) {
        if (s.connected && !acted.exchange(true)) request_log_capture(log_path.c_str());
    };
    write_settings(unit.port());
    start_worker();
    ASSERT_TRUE(wait_for([](const std::vector<Seen>&) { return !recorder.reports.empty(); }));
    std::vector<Seen> r = refreshes();
    std::vector<Report> shown = reports();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].seconds, r[0].seconds + 1);
    EXPECT_EQ(shown[0].text, "Generated Log File : " + log_path);
    std::vector<std::string> commands = unit.stats().commands;
    size_t at = static_cast<size_t>(r[0].unit_commands);
    ASSERT_GE(commands.size(), at + 4);
    EXPECT_EQ(commands[at], "cmd showstate");
    EXPECT_EQ(commands[at + 1], "cmd showconfig");
    EXPECT_EQ(commands[at + 2], "cmd syslog");
    EXPECT_EQ(commands[at + 3], "cmd event dump");
}

TEST_F(Supervisor, WrongPasswordIsSentForEveryPromptUntilTheUnitCloses) {
    unitsim::Server& unit = start_unit();
    write_settings(unit.port(), "wrong");
    start_worker();
    for (int waited = 0; unit.stats().failed_logins < 3 && waited < 10000; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(refreshes().empty()) << "the handshake goes on while the unit asks again";
    unit.stop(); // the unit gives up and closes; the port stays closed
    ASSERT_TRUE(wait_refreshes(2));
    std::vector<Seen> r = refreshes();
    EXPECT_EQ(r[0].seconds, 0u);
    EXPECT_EQ(r[1].seconds, 15u);
    EXPECT_FALSE(r[0].connected);
    unitsim::Stats stats = unit.stats();
    EXPECT_EQ(stats.connections, 1);
    EXPECT_EQ(stats.logins, 0);
    EXPECT_GE(stats.failed_logins, 3);
    // Every prompt answered: user, password, user, password, ...
    ASSERT_GE(stats.login_answers.size(), 6u);
    for (size_t i = 0; i < stats.login_answers.size(); ++i)
        EXPECT_EQ(stats.login_answers[i], i % 2 == 0 ? "admin" : "wrong") << i;
}

// ---- the stop ---------------------------------------------------------------------------

TEST_F(Supervisor, StopEndsAConnectThatIsNeverAnswered) {
    FullListener full;
    ASSERT_TRUE(full.open());
    write_settings(full.port);
    start_worker();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(refreshes().empty()) << "the first attempt has not ended";
    EXPECT_EQ(device.socket.load(), NO_SOCKET);
    EXPECT_LT(stop_worker(), 1000);
    EXPECT_TRUE(refreshes().empty());
}

TEST_F(Supervisor, StopEndsALogin) {
    tick_ms = 100; // a 15 s handshake
    unitsim::Config config;
    config.never_login = true;
    unitsim::Server& unit = start_unit(config);
    write_settings(unit.port());
    start_worker();
    ASSERT_TRUE(wait_idle_ticks(2));
    EXPECT_EQ(unit.stats().connections, 1);
    EXPECT_LT(stop_worker(), 1000);
    EXPECT_TRUE(refreshes().empty());
}

TEST_F(Supervisor, StopEndsAQueryWaitingOnASilentUnit) {
    tick_ms = 100; // a 30 s reply limit
    unitsim::Server& unit = start_unit();
    unit.add_fault(silent("cmd ver"));
    write_settings(unit.port());
    start_worker();
    ASSERT_TRUE(unit.wait_commands(4, 10000)); // cell, wifi, priority, ver
    ASSERT_TRUE(wait_idle_ticks(2));
    EXPECT_LT(stop_worker(), 1000);
    EXPECT_TRUE(refreshes().empty()) << "a stopped query is no lost link";
}

TEST_F(Supervisor, StopEndsALogCaptureAndLeavesItsFileClosed) {
    unitsim::Server& unit = start_unit();
    unitsim::Fault cut = output_of("cmd showconfig", "config line 1\r\nconfig line 2\r\n");
    cut.no_prompt = true;
    unit.add_fault(cut);
    recorder.action = [this](const Seen& s) {
        if (s.connected && !acted.exchange(true)) {
            tick_ms = 100; // the capture's 60 s limit, in real ticks
            request_log_capture(log_path.c_str());
        }
    };
    write_settings(unit.port());
    start_worker();
    ASSERT_TRUE(wait_refreshes(1));
    size_t before = refreshes()[0].unit_commands;
    ASSERT_TRUE(unit.wait_commands(before + 2, 10000));
    ASSERT_TRUE(wait_idle_ticks(2));
    EXPECT_LT(stop_worker(), 1000);

    std::string text = read_file(log_path);
    EXPECT_EQ(text.find("cmd showstate"), 0u) << text;
    EXPECT_NE(text.find("cmd showconfig\r\nconfig line 1\r\nconfig line 2\r\n"), std::string::npos)
        << text;
    EXPECT_EQ(remove(log_path.c_str()), 0) << "the capture file is still open";
}

TEST_F(Supervisor, StopEndsTheFifteenSecondPause) {
    second_ms = 1000; // the real pause
    write_settings(closed_port());
    start_worker();
    ASSERT_TRUE(wait_refreshes(1));
    EXPECT_LT(stop_worker(), 1000);
    EXPECT_EQ(refreshes().size(), 1u);
    EXPECT_EQ(worker_seconds.load(), 0u);
}

} // namespace
