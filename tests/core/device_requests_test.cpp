// Power cycle and log capture as poll_status serves them, against the stand-in.
#include "test_support.h"
#include "status/device_requests.h"

#include <filesystem>

namespace fs = std::filesystem;
using namespace ts;

namespace {

// Fixed outputs of the four diagnostic commands, so the file's bytes are known exactly.
const char* const kState = "state line 1\r\nstate line 2\r\n";
const char* const kConfig = "config system\r\n\toption hostname 'vorlix'\r\n";
const char* const kSyslog = "Dec  6 12:00:00 vorlix daemon.info boot\r\n";
const char* const kEvents = "seq  time      event\r\n 101 11:10:05  POWER_ON\r\n";

class DeviceRequests : public UnitSession {
  protected:
    fs::path dir;

    void SetUp() override {
        UnitSession::SetUp();
        dir = temp_path("requests");
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        UnitSession::TearDown();
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    // The faults given first win over these fixed outputs of the four diagnostic commands.
    std::vector<unitsim::Fault> fixed_diagnostics(std::vector<unitsim::Fault> first = {}) {
        for (const unitsim::Fault& f :
             {output_of("cmd showstate", kState), output_of("cmd showconfig", kConfig),
              output_of("cmd syslog", kSyslog), output_of("cmd event dump", kEvents)})
            first.push_back(f);
        return first;
    }
    // The tooltip restored, then the one report box.
    static void expect_report(const std::string& text) {
        EXPECT_EQ((std::vector<std::string>{"tray 0 0", "report " + text}), recorded());
    }
};

TEST_F(DeviceRequests, ALongCaptureArrivingInManyPiecesIsWhole) {
    connect(frozen());
    std::string path = (dir / "long.log").string();
    request_log_capture(path.c_str());
    EXPECT_TRUE(poll_status(device));
    std::string text = read_file(path);
    // the stand-in's syslog is several kilobytes: more than one 2048-byte piece
    size_t syslog_at = text.find("cmd syslog\r\n");
    size_t events_at = text.find("cmd event dump\r\n");
    ASSERT_NE(std::string::npos, syslog_at);
    ASSERT_NE(std::string::npos, events_at);
    EXPECT_GT(events_at - syslog_at, 4096u);
    EXPECT_EQ("VORLIX:/# \r\n", text.substr(text.size() - 12));
    expect_report("Generated Log File : " + path);
}

TEST_F(DeviceRequests, APathInAMissingFolderIsReportedAndTheTooltipRestored) {
    connect(frozen());
    std::string path = (dir / "missing" / "unit.log").string();
    request_log_capture(path.c_str());
    EXPECT_TRUE(poll_status(device));
    EXPECT_FALSE(fs::exists(dir / "missing"));
    EXPECT_TRUE(server->stats().commands.empty());
    expect_report("Unable to create " + path);
}

// A full disk: the capture stops after the reply it could not keep, read up to its prompt so
// the link stays in step, and says it failed.
TEST_F(DeviceRequests, AFileThatCannotBeWrittenFailsTheCapture) {
#ifdef _WIN32
    GTEST_SKIP() << "no /dev/full";
#else
    connect(frozen(), fixed_diagnostics());
    request_log_capture("/dev/full");
    EXPECT_TRUE(poll_status(device));
    EXPECT_EQ((std::vector<std::string>{"cmd showstate"}), server->stats().commands);
    expect_report("Failed To Generate Log File : /dev/full");
    EXPECT_TRUE(refresh()); // the next exchange reads its own reply
    EXPECT_EQ(padded("123456789012345"), device.imei);
#endif
}

TEST_F(DeviceRequests, ASplitPromptFailsTheCaptureAfterItsIdleLimit) {
    // "VORLIX:/# " cut after "VORLIX:" in the reply to the first command
    std::string reply = std::string("cmd showstate\r\n") + kState + "VORLIX:/# ";
    unitsim::Fault split = output_of("cmd showstate", kState);
    split.split_at = {reply.size() - 3};
    split.split_pause_ms = 20;
    connect(frozen(), {split});
    tick_ms = 3;
    std::string path = (dir / "split.log").string();
    request_log_capture(path.c_str());
    unsigned long before = idle_ticks_waited.load();
    EXPECT_TRUE(poll_status(device)); // the capture's outcome keeps the link
    EXPECT_GE(idle_ticks_waited.load() - before, 301u);
    EXPECT_EQ(reply, read_file(path)); // everything received, no CR LF of its own
    EXPECT_EQ((std::vector<std::string>{"cmd showstate"}), server->stats().commands);
    expect_report("Failed To Generate Log File : " + path);
}

TEST_F(DeviceRequests, SilenceAfterShowconfigWaitsSixtySecondsOfTicks) {
    connect(frozen(), fixed_diagnostics({silent("cmd showconfig")}));
    tick_ms = 2;
    std::string path = (dir / "silent.log").string();
    request_log_capture(path.c_str());
    unsigned long before = idle_ticks_waited.load();
    EXPECT_TRUE(poll_status(device));
    // 601 ticks of silence, plus the few the first reply may have taken to arrive
    unsigned long waited = idle_ticks_waited.load() - before;
    EXPECT_GE(waited, 601u);
    EXPECT_LE(waited, 611u);
    EXPECT_EQ(std::string("cmd showstate\r\n") + kState + "VORLIX:/# \r\n", read_file(path));
    expect_report("Failed To Generate Log File : " + path);
}

TEST_F(DeviceRequests, PowerCycleIsServedAloneWhenBothAreRequested) {
    connect(frozen(), fixed_diagnostics());
    std::string path = (dir / "later.log").string();
    request_log_capture(path.c_str());
    raise_request(REQUEST_POWER_CYCLE | REQUEST_REFRESH);
    EXPECT_TRUE(poll_status(device)); // the echo came back
    EXPECT_EQ((std::vector<std::string>{"cmd pwrmode 2"}), server->stats().commands);
    EXPECT_FALSE(request_raised(REQUEST_POWER_CYCLE));
    EXPECT_TRUE(request_raised(REQUEST_LOG_CAPTURE));
    EXPECT_TRUE(request_raised(REQUEST_REFRESH));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(recorded().empty());

    // the unit has dropped the link: the next poll's capture fails to send, the refresh fails
    EXPECT_FALSE(poll_status(device));
    expect_report("Failed To Generate Log File : " + path);
}

TEST_F(DeviceRequests, APowerCycleThatDrawsNoAnswerFailsThePoll) {
    connect(frozen(), {silent("cmd pwrmode 2")});
    tick_ms = 2;
    raise_request(REQUEST_POWER_CYCLE);
    unsigned long before = idle_ticks_waited.load();
    EXPECT_FALSE(poll_status(device));
    // the stand-in restarts without a byte: the closed link ends the wait at once
    EXPECT_LT(idle_ticks_waited.load() - before, 301u);
    EXPECT_EQ((std::vector<std::string>{"cmd pwrmode 2"}), server->stats().commands);
}

// The first request's file holds every byte, each prompt and one CR LF per command; a
// second request made meanwhile waits for the next turn with its own path.
TEST_F(DeviceRequests, ACaptureWritesEveryByteAndASecondRequestKeepsItsOwnPath) {
    unitsim::Fault slow = output_of("cmd syslog", kSyslog);
    slow.delay_ms = 150;
    connect(frozen(), fixed_diagnostics({slow}));
    std::string first = (dir / "first.log").string();
    std::string second = (dir / "second.log").string();
    request_log_capture(first.c_str());
    EXPECT_TRUE(request_raised(REQUEST_LOG_CAPTURE));
    std::thread menu([&] {
        server->wait_commands(3, 5000); // the capture is at "cmd syslog"
        request_log_capture(second.c_str());
    });
    EXPECT_TRUE(poll_status(device));
    menu.join();
    std::string expected = std::string("cmd showstate\r\n") + kState + "VORLIX:/# \r\n" +
                           "cmd showconfig\r\n" + kConfig + "VORLIX:/# \r\n" + "cmd syslog\r\n" +
                           kSyslog + "VORLIX:/# \r\n" + "cmd event dump\r\n" + kEvents +
                           "VORLIX:/# \r\n";
    EXPECT_EQ(expected, read_file(first));
    EXPECT_EQ((std::vector<std::string>{"cmd showstate", "cmd showconfig", "cmd syslog",
                                        "cmd event dump"}),
              server->stats().commands);
    expect_report("Generated Log File : " + first);
    EXPECT_FALSE(fs::exists(second));
    EXPECT_TRUE(request_raised(REQUEST_LOG_CAPTURE));

    EXPECT_TRUE(poll_status(device)); // the second request on the next turn
    EXPECT_FALSE(request_raised(REQUEST_LOG_CAPTURE));
    EXPECT_EQ(expected, read_file(second));
    EXPECT_EQ("report Generated Log File : " + second, recorded().back());
}

TEST_F(DeviceRequests, AStopEndsTheCaptureAtOnceWithItsFileAndWithoutAReport) {
    connect(frozen(), fixed_diagnostics({silent("cmd showconfig")}));
    std::string path = (dir / "stopped.log").string();
    request_log_capture(path.c_str());
    std::thread stopper([&] {
        server->wait_commands(2, 5000); // waiting on the silent "cmd showconfig"
        stop_request();
    });
    unsigned long before = idle_ticks_waited.load();
    poll_status(device);
    stopper.join();
    EXPECT_LT(idle_ticks_waited.load() - before, 100u); // nowhere near 601 ticks
    EXPECT_EQ(std::string("cmd showstate\r\n") + kState + "VORLIX:/# \r\n", read_file(path));
    EXPECT_TRUE(recorded().empty());
}

} // namespace
