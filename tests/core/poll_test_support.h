// Shared pieces of the poll cycle and request tests: a logged-in link to the stand-in and
// recorders for the view hooks.
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
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace polltest {

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
    {
        std::lock_guard<std::mutex> lock(events_mutex);
        events.clear();
    }
    view_hooks.refresh_views = [] { record("refresh"); };
    view_hooks.update_tray = [](bool add, bool logging) {
        record(std::string("tray ") + (add ? "1" : "0") + " " + (logging ? "1" : "0"));
    };
    view_hooks.show_report = [](const char* text) { record(std::string("report ") + text); };
}

// The text blank-padded to width, as the views get it.
inline std::string padded(const std::string& text, size_t width = 31) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// Fresh globals, a frozen stand-in and a logged-in link on the global record.
class UnitSession : public ::testing::Test {
  protected:
    unitsim::Server* server = nullptr;

    void SetUp() override {
        device_record_init();
        request_flags = 0;
        reconnect_request = 0;
        stop_reset();
        tick_ms = 100;
        second_ms = 1000;
        install_recorders();
    }

    void TearDown() override {
        link_close(device);
        if (server != nullptr) {
            server->stop();
            delete server;
            server = nullptr;
        }
        view_hooks = ViewHooks{nullptr, nullptr, nullptr};
        request_flags = 0;
        stop_reset();
        tick_ms = 100;
    }

    unitsim::Config frozen() {
        unitsim::Config config;
        config.frozen = true;
        config.restart_ms = 200;
        return config;
    }

    // Starts the stand-in with config and faults and logs in; the test fails otherwise.
    void connect(const unitsim::Config& config, const std::vector<unitsim::Fault>& faults = {}) {
        server = new unitsim::Server(config);
        for (const unitsim::Fault& f : faults)
            server->add_fault(f);
        int port = server->start(0);
        ASSERT_GT(port, 0);
        snprintf(device.ip, sizeof device.ip, "127.0.0.1");
        snprintf(device.port, sizeof device.port, "%d", port);
        snprintf(device.username, sizeof device.username, "%s\r", config.user.c_str());
        snprintf(device.password, sizeof device.password, "%s\r", config.password.c_str());
        device.socket = link_open(device);
        ASSERT_NE(NO_SOCKET, device.socket.load());
        ASSERT_EQ(0, link_login(device));
    }

    static unitsim::Fault output_of(const std::string& command, const std::string& output) {
        unitsim::Fault f;
        f.command = command;
        f.has_output = true;
        f.output = output;
        return f;
    }

    bool refresh() {
        raise_request(REQUEST_REFRESH);
        return poll_status(device);
    }
};

} // namespace polltest
