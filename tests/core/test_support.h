// Shared pieces of the core tests: the link's globals, temporary files, recorders for the
// view hooks and a logged-in session with the unit stand-in.
#pragma once

#include "link/console_link.h"
#include "link/link_flags.h"
#include "link/link_history.h"
#include "link/link_state.h"
#include "link/link_timing.h"
#include "link/socket_layer.h"
#include "status/device_record.h"
#include "status/poll_cycle.h"
#include "status/view_hooks.h"
#include "unitsim.h"

#include <gtest/gtest.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace ts {

// Waits (at most 10 s, a failure only) until done() holds.
inline bool eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 10000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

// Fresh link globals with the given tick and worker second.
inline void reset_globals(int tick, int second) {
    device_record_init();
    stop_reset();
    lower_reconnect();
    request_flags = 0;
    tick_ms = tick;
    second_ms = second;
    link_status_reset();
    link_take_failure(REASON_NONE);
    history_clear();
}

// A path in the temporary folder, unique to this process and test.
inline std::string temp_path(const std::string& tag) {
    return (std::filesystem::temp_directory_path() /
            ("vorlix_" + std::to_string(getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" + tag))
        .string();
}
inline std::string read_file(const std::string& path) { // "" when it cannot be read
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// What the view hooks were asked to do, in order ("tray 0 0", "report <text>", "refresh").
inline std::mutex events_mutex;
inline std::vector<std::string> events;
inline void record(const std::string& event) {
    std::lock_guard<std::mutex> lock(events_mutex);
    events.push_back(event);
}
inline std::vector<std::string> recorded() {
    std::lock_guard<std::mutex> lock(events_mutex);
    return events;
}
inline void install_recorders() {
    std::unique_lock<std::mutex> lock(events_mutex);
    events.clear();
    view_hooks = {[] { record("refresh"); },
                  [](bool add, bool logging) {
                      record(std::string("tray ") + "01"[add] + ' ' + "01"[logging]);
                  },
                  [](const char* text) { record(std::string("report ") + text); },
                  [](const char* text) { record(std::string("notice ") + text); }};
}

// A port nobody else can take while `holder` lives, that refuses every connect.
inline int refusing_port(unitsim::Server& holder) {
    unitsim::Config config;
    config.refuse_all = true;
    holder.set_config(config);
    return holder.start(0);
}

// A fault that gives the command this output, cut at these offsets with this pause; or no
// answer at all.
inline unitsim::Fault output_of(const std::string& command, const std::string& output,
                                std::vector<size_t> split = {}, int pause_ms = 30) {
    unitsim::Fault f;
    f.command = command;
    f.has_output = true;
    f.output = output;
    f.split_at = split;
    f.split_pause_ms = pause_ms;
    return f;
}
// A fault that closes the connection after `after` bytes of the reply (on connection n only).
inline unitsim::Fault closing(const std::string& command, long after, int n = 0) {
    unitsim::Fault f;
    f.command = command;
    f.close_after = after;
    f.connection = n;
    return f;
}
inline unitsim::Fault silent(const std::string& command) {
    unitsim::Fault f = output_of(command, "");
    f.silence = true;
    return f;
}

// Fresh globals, a frozen stand-in and a logged-in link on the global record.
class UnitSession : public ::testing::Test {
  protected:
    unitsim::Server* server = nullptr;

    void SetUp() override {
        reset_globals(100, 1000);
        install_recorders();
    }
    void TearDown() override {
        link_close(device);
        delete std::exchange(server, nullptr); // stops it
        view_hooks = {};
        reset_globals(100, 1000);
    }
    // A fresh start with another stand-in, within one test.
    void again() {
        TearDown();
        SetUp();
    }
    static unitsim::Config frozen() {
        unitsim::Config config;
        config.frozen = true;
        config.restart_ms = 200;
        return config;
    }
    // Starts the stand-in with config and faults and connects to it (or to ip:port when given)
    // with the settings as the reader leaves them, a CR on the credentials.
    void open(const unitsim::Config& config, const std::vector<unitsim::Fault>& faults = {},
              const char* ip = "127.0.0.1", std::string port = "") {
        server = new unitsim::Server(config);
        for (const unitsim::Fault& f : faults)
            server->add_fault(f);
        const std::string own = std::to_string(server->start(0));
        snprintf(device.ip, sizeof device.ip, "%s", ip);
        snprintf(device.port, sizeof device.port, "%s", (port.empty() ? own : port).c_str());
        strcpy(device.username, "admin\r");
        strcpy(device.password, "vorlix\r");
        device.socket = link_open(device);
    }
    // The same and logs in; the test fails otherwise.
    void connect(const unitsim::Config& config, const std::vector<unitsim::Fault>& faults = {}) {
        open(config, faults);
        ASSERT_EQ(0, link_login(device));
    }
    bool refresh() {
        raise_request(REQUEST_REFRESH);
        return poll_status(device);
    }
};

} // namespace ts
