// What keeps the viewer unattended: new settings end every wait of the worker, a capture is
// bounded and keeps every byte, the unit's text is checked before it goes back to the unit,
// and a port that cannot be used is never taken for another.
#include "test_support.h"

#include "link/settings_file.h"
#include "link/supervisor.h"
#include "status/device_requests.h"

using namespace ts;

namespace {

const char kEsnB[] = "987654321098765";

// The refreshes of the views: worker seconds paused before each, and the IMEI shown.
std::mutex seen_lock;
std::vector<std::pair<uint32_t, std::string>> seen;

size_t refreshes() {
    std::lock_guard<std::mutex> lock(seen_lock);
    return seen.size();
}

void record_seen() {
    std::string imei = device.imei;
    std::lock_guard<std::mutex> lock(seen_lock);
    seen.emplace_back(worker_seconds.load(), imei.substr(0, imei.find(' ')));
}

TEST(Unattended, NewSettingsEndAConnectOrLoginWaitAndTheNextAttemptUsesThemAtOnce) {
    for (bool never_answer : {true, false}) {
        SCOPED_TRACE(never_answer ? "a connect never answered" : "a login never asked");
        reset_globals(1, 10);
        seen.clear();
        view_hooks = {record_seen, nullptr, nullptr};
        std::string conf = temp_path("telnet.conf");
        settings_set_path(conf.c_str());
        unitsim::Config mute, config_b;
        config_b.frozen = true;
        mute.never_answer = never_answer;
        mute.never_login = !never_answer;
        config_b.esn = kEsnB;
        unitsim::Server a(mute), b(config_b);
        ASSERT_GT(a.start(0), 0);
        ASSERT_GT(b.start(0), 0);
        ASSERT_TRUE(
            settings_write("127.0.0.1", std::to_string(a.port()).c_str(), "admin", "vorlix"));
        std::thread worker(worker_main);
        EXPECT_TRUE(wait_ticks(idle_ticks_waited.load() + 3)); // waiting on A
        // What the configuration dialog's Connect does.
        ASSERT_TRUE(
            settings_write("127.0.0.1", std::to_string(b.port()).c_str(), "admin", "vorlix"));
        settings_read(device);
        reconnect_request = 1;
        for (int i = 0; i < 10000 && refreshes() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        stop_request();
        worker.join();
        link_drop(device);
        ASSERT_FALSE(seen.empty());
        // No failed attempt (a blank refresh) and no 15 s pause before B's first query.
        EXPECT_EQ(seen[0], std::make_pair(0u, std::string(kEsnB)));
        EXPECT_EQ(b.stats().connections, 1);
        EXPECT_EQ(a.stats().connections, never_answer ? 0 : 1);
        view_hooks = {nullptr, nullptr, nullptr};
        settings_set_path("telnet.conf");
        remove(conf.c_str());
        reset_globals(100, 1000);
    }
}

class UnattendedUnit : public UnitSession {};

TEST_F(UnattendedUnit, ACaptureKeepsEveryByteAndEndsAReplyWithoutEndOrPrompt) {
    auto reply = [](const std::string& command, const std::string& output) {
        return command + "\r\n" + output + "\r\nVORLIX:/# \r\n";
    };
    const std::string nb("a\0b", 3); // a NUL byte amid the output
    const std::string nul = reply("cmd showstate", nb) + reply("cmd showconfig", nb) +
                            reply("cmd syslog", nb) + reply("cmd event dump", nb);
    const std::string config = reply("cmd showstate", "ok") + "cmd showconfig\r\n";
    unitsim::Fault flood = output_of("cmd showconfig", "x"), trickle = flood;
    flood.endless_pause_ms = 0;
    trickle.endless_pause_ms = 2;
    struct Case {
        const char* name;
        unitsim::Fault fault;
        size_t bound;     // bytes of one reply
        int second;       // ms; the capture may last 600 seconds
        bool in_step;     // poll_status keeps the link
        std::string file; // what the file holds...
        bool more;        // ...then as many more of its last byte as came
    } cases[] = {
        {"NUL bytes", output_of("", nb + "\r\n"), 8u << 20, 1000, true, nul, false},
        {"flood", flood, 4096, 1000, false, config + std::string(4096 - 16, 'x'), false},
        {"trickle", trickle, 8u << 20, 1, false, config + "x", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        link_close(device);
        delete server;
        install_recorders();
        connect(frozen(), {c.fault, output_of("", "ok\r\n")});
        capture_reply_limit = c.bound;
        second_ms = c.second;
        std::string path = temp_path("capture.log");
        request_log_capture(path.c_str());
        EXPECT_EQ(c.in_step, poll_status(device));
        std::string file = read_file(path);
        if (c.more) file.resize(std::min(file.size(), file.find_last_not_of(c.file.back()) + 2));
        EXPECT_EQ(c.file, file);
        const char* outcome =
            c.in_step ? "Generated Log File : " : "Failed To Generate Log File : ";
        EXPECT_EQ(recorded(), (std::vector<std::string>{"tray 0 0", "report " + (outcome + path)}));
        remove(path.c_str());
    }
    capture_reply_limit = 8u << 20;
}

TEST_F(UnattendedUnit, TheWanDeviceWordGoesBackToTheUnitOnlyAsAnInterfaceName) {
    const std::pair<std::string, std::string> cases[] = {
        {"eth1", "ifconfig eth1"},
        {"br-lan.1_x", "ifconfig br-lan.1_x"},
        {"fifteen_chars_x", "ifconfig fifteen_chars_x"},
        {"sixteen_chars_xy", "ifconfig wlan0"},
        {"eth1;cmd pwrmode 2", "ifconfig wlan0"},
        {"$(reboot)", "ifconfig wlan0"},
        {"eth1 ", "ifconfig wlan0"},
        {"", "ifconfig wlan0"},
    };
    connect(frozen());
    for (const auto& c : cases) {
        server->clear_faults();
        server->add_fault(output_of("cmd wandevice", "cmd wandevice " + c.first + "\r\n"));
        ASSERT_TRUE(refresh()) << c.first;
        EXPECT_EQ(c.second, server->stats().commands.back()) << c.first;
    }
}

TEST_F(UnattendedUnit, OnlyADecimalPortFrom1To65535IsConnectedTo) {
    server = new unitsim::Server(frozen());
    const int port = server->start(0);
    ASSERT_GT(port, 0);
    const std::string p = std::to_string(port);
    const std::pair<std::string, bool> cases[] = {
        {p, true},        {std::to_string(port + 65536), false},
        {p + "x", false}, {" " + p, false},
        {"+" + p, false}, {"0", false},
        {"", false},
    };
    for (const auto& c : cases) {
        set_settings("127.0.0.1", c.first.c_str(), "admin\r", "vorlix\r");
        device.socket = link_open(device);
        EXPECT_EQ(c.second, device.socket.load() != NO_SOCKET) << "\"" << c.first << "\"";
        link_close(device);
    }
}

} // namespace
