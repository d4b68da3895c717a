// Shared pieces of the core tests: the link's globals, temporary files, recorders for the
// view hooks and a logged-in session with the unit stand-in.
#pragma once

#include "link/console_link.h"
#include "link/link_flags.h"
#include "link/link_timing.h"
#include "link/socket_layer.h"
#include "status/device_record.h"
#include "status/poll_cycle.h"
#include "status/view_hooks.h"
#include "unitsim.h"

#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace ts {

typedef std::chrono::steady_clock Clock;
inline long elapsed_ms(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// Waits until the receive and login loops have waited `target` idle ticks in total.
inline bool wait_ticks(unsigned long target, int timeout_ms = 10000) {
    Clock::time_point start = Clock::now();
    while (idle_ticks_waited.load() < target)
        if (elapsed_ms(start) > timeout_ms) return false;
    return true;
}

// Fresh link globals with the given tick and worker second.
inline void reset_globals(int tick, int second) {
    device_record_init();
    request_flags = 0;
    reconnect_request = 0;
    stop_reset();
    tick_ms = tick;
    second_ms = second;
}

inline void set_settings(const char* ip, const char* port, const char* user, const char* pw) {
    snprintf(device.ip, sizeof device.ip, "%s", ip);
    snprintf(device.port, sizeof device.port, "%s", port);
    snprintf(device.username, sizeof device.username, "%s", user);
    snprintf(device.password, sizeof device.password, "%s", pw);
}
// Loopback and the given port, with the CR the settings reader leaves on the credentials.
inline void set_loopback(int port, const char* user = "admin\r", const char* pw = "vorlix\r") {
    set_settings("127.0.0.1", std::to_string(port).c_str(), user, pw);
}

// A path in the temporary folder, unique to this process and test.
inline std::string temp_path(const std::string& tag) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "vorlix_" + std::to_string(getpid()) + "_" + info->name() + "_" + tag;
    return (std::filesystem::temp_directory_path() / name).string();
}
inline std::string read_file(const std::string& path) { // "" when it cannot be read
    std::string text;
    if (FILE* file = fopen(path.c_str(), "rb")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
            text.append(buffer, n);
        fclose(file);
    }
    return text;
}
inline void write_file(const std::string& path, const std::string& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
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
    lock.unlock();
    view_hooks = {[] { record("refresh"); },
                  [](bool add, bool logging) {
                      record(std::string("tray ") + "01"[add] + " " + "01"[logging]);
                  },
                  [](const char* text) { record(std::string("report ") + text); }};
}

// The text blank-padded to width, as the views get it.
inline std::string padded(const std::string& text, size_t width = 31) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// A fault that gives the command this output, or no answer at all.
inline unitsim::Fault output_of(const std::string& command, const std::string& output) {
    unitsim::Fault f;
    f.command = command, f.has_output = true, f.output = output;
    return f;
}
inline unitsim::Fault silent(const std::string& command) {
    unitsim::Fault f;
    f.command = command, f.silence = true;
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
        delete server; // stops it
        server = nullptr;
        view_hooks = ViewHooks{nullptr, nullptr, nullptr};
        reset_globals(100, 1000);
    }
    static unitsim::Config frozen() {
        unitsim::Config config;
        config.frozen = true, config.restart_ms = 200;
        return config;
    }
    // Starts the stand-in with config and faults and logs in; the test fails otherwise.
    void connect(const unitsim::Config& config, const std::vector<unitsim::Fault>& faults = {}) {
        server = new unitsim::Server(config);
        for (const unitsim::Fault& f : faults)
            server->add_fault(f);
        int port = server->start(0);
        ASSERT_GT(port, 0);
        set_loopback(port, (config.user + "\r").c_str(), (config.password + "\r").c_str());
        device.socket = link_open(device);
        ASSERT_NE(NO_SOCKET, device.socket.load());
        ASSERT_EQ(0, link_login(device));
    }
    bool refresh() {
        raise_request(REQUEST_REFRESH);
        return poll_status(device);
    }
};

} // namespace ts
