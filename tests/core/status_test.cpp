// The status record and the status query against the stand-in, and the power cycle and log
// capture that poll_status serves. Expected texts are written by hand from the stand-in's
// frozen replies and the outputs the faults give it.
#include "test_support.h"

#include "status/device_requests.h"

#include <cstring>

namespace fs = std::filesystem;
using namespace ts;

namespace {

TEST(DeviceRecord, ResetBlanksEveryFieldToItsWidthAndPaddingStaysInside) {
    device_record_init();
    strcpy(device.ip, "192.168.1.1");
    strcpy(device.activity_caption, "Wi-Fi Activity");
    reset_status();
    EXPECT_STREQ("192.168.1.1", device.ip);
    for (int i = 0; i < STATUS_FIELD_COUNT; ++i) {
        std::string name = status_field_name(i);
        size_t width = name == "activity_caption"                       ? 0
                       : name == "data_sent" || name == "data_received" ? 20
                                                                        : 31;
        EXPECT_EQ(std::string(width, ' '), *status_field_at(device, i)) << name;
    }
    StatusField f;
    memset(f, 'y', sizeof f); // unterminated: padding must not run past the field
    pad_field(f, 31);
    EXPECT_EQ(std::string(31, 'y'), f);
}

const char* const kSignal = "cmd rfstats|grep 'Signal Quality'|awk -F: '{print $2}'";
const std::vector<std::string> kEighteen = {
    "cmd device cell", "cmd device wifi", "cmd device priority", "cmd ver",
    "uptime",          "cmd esn",         "cmd modemid",         "cmd ipadr",
    kSignal,           "cmd data",        "cmd odometer",        "cmd gpsrmc",
    "cmd rfstats",     "cmd wlan enable", "cmd wandevice",       "uci show wireless",
    "iwconfig",        "ifconfig eth1"};

typedef DeviceRecord R;
struct Expect {
    StatusField R::*field;
    std::string text;
    size_t width = 31; // blank-padded to this width
};
void expect_fields(const std::vector<Expect>& expected) {
    for (const Expect& e : expected)
        EXPECT_EQ(padded(e.text, e.width), device.*e.field);
}
// clang-format off
const std::vector<Expect> kFrozen = {
    {&R::imei, "123456789012345"}, {&R::modem_id, "VX4410A"}, {&R::wwan_ip, "100.100.100.100"},
    {&R::signal_quality, "75 %"}, {&R::data_sent, "12.5 MB", 15}, {&R::data_received, "3.1 MB", 15},
    {&R::data_total, "15.6 MB", 15}, {&R::odometer, "1234.5 km"}, {&R::latitude, "49.2742"},
    {&R::lat_hemisphere, "N"}, {&R::longitude, "-123.1853"}, {&R::lon_hemisphere, "W"},
    {&R::speed, "41.4848 kph"}, {&R::uptime, "1 day, 12:10"}, {&R::firmware_version, "4.2.7"},
    {&R::network_type, "LTE"}, {&R::cell_hardware, "MC7354"}, {&R::wifi_hardware, "RT5370"},
    {&R::priority, "cellular"}, {&R::activity_caption, "Cellular Activity", 0},
    {&R::wifi_mode, "Client"}, {&R::ap_ssid, "VORLIX-AP"}, {&R::ap_mac, "00:11:22:33:44:55"},
    {&R::tx_power, "20 dBm"}, {&R::link_quality, "70/70"}, {&R::rx_power, "-40 dBm"},
    {&R::noise_level, "-95 dBm"}, {&R::wifi_ip, "192.168.10.1"}};
// clang-format on

typedef UnitSession PollCycle;

TEST_F(PollCycle, OneCycleFillsEveryFieldAsksTheEighteenInOrderAndSplitsChangeNothing) {
    EXPECT_FALSE(refresh()); // no socket: fails at once and keeps the request
    EXPECT_TRUE(request_raised(REQUEST_REFRESH));
    connect(frozen());
    ASSERT_TRUE(refresh());
    expect_fields(kFrozen);
    EXPECT_EQ(kEighteen, server->stats().commands);
    EXPECT_FALSE(request_raised(REQUEST_REFRESH));
    EXPECT_TRUE(poll_status(device)); // no request: nothing is asked
    EXPECT_EQ(18u, server->stats().commands.size());
    // Every reply cut after its first byte, between the echo's CR and LF and in the prompt.
    for (const std::string& command : kEighteen) {
        size_t length = server->reply_for(command).size();
        unitsim::Fault f;
        f.command = command;
        f.split_at = {1, command.size() + 1, length - 6, length - 1};
        f.split_pause_ms = 3;
        server->add_fault(f);
    }
    ASSERT_TRUE(refresh());
    expect_fields(kFrozen);
}

// One cycle of the frozen replies, then one in which the command prints the given output.
TEST_F(PollCycle, EachReplyRuleFillsItsFields) {
    const std::string s50(50, '7'), s31(31, '7');
    const char *gps = "cmd gpsrmc", *wlan = "cmd wlan enable";
    struct Case {
        const char* command;
        std::string output;
        std::vector<Expect> expected;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"cmd esn", "8012345\r\n", {{&R::imei, "8012345"}}},
        {"cmd esn", "A100001234567\r\n", {{&R::imei, ""}}}, // a letter first
        {"cmd esn", std::string(40, '9') + "\r\n", {{&R::imei, std::string(31, '9')}}},
        {"cmd esn", "", {{&R::imei, ""}}},
        {"cmd modemid", "cmd modemid -X\r\n", {{&R::modem_id, ""}}},
        {"cmd ver", "", {{&R::firmware_version, "VORLIX:/#"}}}, // the prompt is the first word
        {"cmd ipadr", "", {{&R::wwan_ip, ""}}},
        {kSignal, "%\r\n", {{&R::signal_quality, ""}}},
        {kSignal, "75%\r\n", {{&R::signal_quality, "75 %"}}},
        {kSignal, "", {{&R::signal_quality, "VORLIX:/# %"}}},
        {"uptime", " 12:10:05 up 3 min, load average: 0.08\r\n", {{&R::uptime, "N/A"}}}, // one blank
        {"uptime", "up " + std::string(40, 'x') + ",  load\r\n", {{&R::uptime, std::string(31, 'x')}}},
        // an empty line is skipped; "RX: n/a" is no number; no third line: Total stays
        {"cmd data", "TX: 99.9\r\n\r\nRX: n/a", {{&R::data_sent, "99.9 MB", 15}, {&R::data_received, "", 15}, {&R::data_total, "15.6 MB", 15}}},
        {"cmd data", "Sent 1\r\nRX: 2\r\nTotal 3\r\n", {{&R::data_sent, "", 15}, {&R::data_received, "2 MB", 15}, {&R::data_total, "", 15}}},
        {"cmd odometer", "km?\r\n", {{&R::odometer, ""}}},
        {"cmd odometer", "", {{&R::odometer, ""}}},
        // south and east, 49 degrees 5.0123 minutes, 10 knots
        {gps, "$GPRMC,1,A,4905.0123,S,00130.0,E,10.0,0\r\n", {{&R::latitude, "-49.0835"}, {&R::lat_hemisphere, "S"}, {&R::longitude, "1.5000"}, {&R::lon_hemisphere, "E"}, {&R::speed, "18.5200 kph"}}},
        // pieces 4 and 5 are the date and "N*51"; speed and the E/W letter stay
        {gps, "$GPRMC,123519,V,,,,,,,230394,,,N*51\r\n", {{&R::latitude, "2304.5667"}, {&R::lat_hemisphere, "N*51"}, {&R::longitude, ""}, {&R::lon_hemisphere, "W"}, {&R::speed, "41.4848 kph"}}},
        {gps, "$GPRMC,,,123519,V\r\n", {{&R::latitude, ""}, {&R::lat_hemisphere, "N"}, {&R::longitude, ""}}},
        {gps, "$GPRMC,1,A,4916.45," + s50 + ",1," + s50 + ",1\r\n", {{&R::lat_hemisphere, s31}, {&R::lon_hemisphere, s31}, {&R::speed, "1.8520 kph"}}},
        {"cmd rfstats", "rfdiag.network3g=1\r\nrfdiag.network4g=1\r\n", {{&R::network_type, "4G"}}},
        {"cmd rfstats", "", {{&R::network_type, "Not Available"}}},
        {wlan, "cmd wlan enable 0\r\n", {{&R::wifi_mode, "None"}, {&R::activity_caption, "Cellular Activity", 0}}},
        {wlan, "cmd wlan enable 2\r\n", {{&R::wifi_mode, "Access Point"}, {&R::activity_caption, "Cellular Activity", 0}}},
        {wlan, "cmd wlan enable 3\r\n", {{&R::wifi_mode, "Client"}, {&R::activity_caption, "Wi-Fi Activity", 0}}},
        {"uci show wireless", "", {{&R::ap_ssid, ""}}},
        // Link Quality is looked for after the access point's line: the first one is passed
        {"iwconfig", "Link Quality=1/70 x\r\nMode:Managed  Access Point: 0A:0B:0C:0D:0E:0F\r\nLink Quality=55/70  Signal level=-61 dBm  Noise level=-92 dBm\r\n",
         {{&R::ap_mac, "0A:0B:0C:0D:0E:0F"}, {&R::tx_power, "Not Available"}, {&R::link_quality, "55/70"}, {&R::rx_power, "-61 dBm"}, {&R::noise_level, "-92 dBm"}}},
        {"iwconfig", "Tx-Power=off  Signal level=7/100\r\n", {{&R::ap_mac, ""}, {&R::tx_power, "Not Available"}, {&R::link_quality, "Not Available"}, {&R::rx_power, "Not Available"}, {&R::noise_level, "Not Available"}}},
        {"ifconfig eth1", "", {{&R::wifi_ip, ""}}},
    };
    // clang-format on
    connect(frozen());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command + (" " + c.output));
        server->clear_faults();
        ASSERT_TRUE(refresh());
        server->add_fault(output_of(c.command, c.output));
        ASSERT_TRUE(refresh());
        expect_fields(c.expected);
    }
}

// The unit's hardware and WAN device change what is asked.
TEST_F(PollCycle, NoneHardwareSkipsThePriorityAndNoWanDeviceAsksWlan0) {
    std::vector<std::string> no_priority = kEighteen, wlan0 = kEighteen;
    no_priority.erase(no_priority.begin() + 2);
    wlan0.back() = "ifconfig wlan0";
    for (int which = 0; which < 3; ++which) {
        SCOPED_TRACE(which);
        unitsim::Config config = frozen();
        if (which < 2)
            (which == 0 ? config.cell_hardware : config.wifi_hardware) = "NONE";
        else
            config.wan_device = "";
        connect(config);
        strcpy(device.priority, "cellular"); // a previous value that must go
        ASSERT_TRUE(refresh());
        EXPECT_EQ(which == 2 ? wlan0 : no_priority, server->stats().commands);
        expect_fields({{&R::priority, which == 2 ? "cellular" : "Not Available"},
                       {&R::wifi_ip, "192.168.10.1"}});
        TearDown();
        SetUp();
    }
}

TEST_F(PollCycle, AFailedExchangeEndsTheCycleAndKeepsTheLaterFields) {
    connect(frozen());
    ASSERT_TRUE(refresh());
    unitsim::Config config = frozen();
    config.firmware = "5.0.1";
    config.ssid = "OTHER-AP";
    server->set_config(config);
    unitsim::Fault cut;
    cut.command = "cmd gpsrmc"; // step 12
    cut.close_after = 4;
    server->add_fault(cut);
    EXPECT_FALSE(refresh());
    expect_fields({{&R::firmware_version, "5.0.1"}, {&R::ap_ssid, "VORLIX-AP"}});
    EXPECT_EQ(30u, server->stats().commands.size());

    // Silence: the idle limit of the silent exchange, 301 ticks.
    TearDown();
    SetUp();
    unitsim::Fault quiet = silent("cmd ipadr");
    quiet.times = 1;
    connect(frozen(), {quiet});
    tick_ms = 3;
    unsigned long before = idle_ticks_waited.load();
    EXPECT_FALSE(refresh());
    EXPECT_GE(idle_ticks_waited.load() - before, 301u);
    EXPECT_LE(idle_ticks_waited.load() - before, 340u);
    expect_fields({{&R::imei, "123456789012345"}, {&R::wwan_ip, ""}});
}

// ---- power cycle and log capture ---------------------------------------------------------

// Fixed outputs of the four diagnostic commands, so the file's bytes are known exactly.
const char *kState = "state 1\r\n", *kConfig = "config\r\n", *kSyslog = "Dec  6 boot\r\n",
           *kEvents = " 101 POWER_ON\r\n";
const std::string kStateText = std::string("cmd showstate\r\n") + kState + "VORLIX:/# \r\n";
const std::string kWhole = kStateText + "cmd showconfig\r\n" + kConfig + "VORLIX:/# \r\n" +
                           "cmd syslog\r\n" + kSyslog + "VORLIX:/# \r\n" + "cmd event dump\r\n" +
                           kEvents + "VORLIX:/# \r\n";
const std::vector<std::string> kFour = {"cmd showstate", "cmd showconfig", "cmd syslog",
                                        "cmd event dump"};

class DeviceRequests : public UnitSession {
  protected:
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
    // The faults given first win over the fixed outputs.
    void connect_fixed(std::vector<unitsim::Fault> first = {}) {
        for (const unitsim::Fault& f :
             {output_of("cmd showstate", kState), output_of("cmd showconfig", kConfig),
              output_of("cmd syslog", kSyslog), output_of("cmd event dump", kEvents)})
            first.push_back(f);
        connect(frozen(), first);
    }
    fs::path dir;
};

// One capture each: the commands asked, the file, the report after the plain tooltip, and
// the idle ticks waited; the link stays in step for the next query.
TEST_F(DeviceRequests, CaptureWritesEveryReplyAndReportsItsOutcome) {
    unitsim::Fault split = output_of("cmd showstate", kState); // "VORLIX:" | "/# "
    split.split_at = {kStateText.size() - 5};
    split.split_pause_ms = 20;
    const std::string missing = (dir / "missing" / "unit.log").string();
    const char *ok = "Generated Log File : ", *failed = "Failed To Generate Log File : ";
    struct Case {
        std::vector<unitsim::Fault> faults;
        std::string file; // "" : a file in the test's folder
        std::vector<std::string> commands;
        std::string text; // the file's bytes
        const char* report;
        unsigned long min_ticks, max_ticks;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {{}, "", kFour, kWhole, ok, 0, 100},
        {{}, missing, {}, "", "Unable to create ", 0, 0},
        {{split}, "", {"cmd showstate"}, kStateText.substr(0, kStateText.size() - 2), failed, 301, 400},
        {{silent("cmd showconfig")}, "", {"cmd showstate", "cmd showconfig"}, kStateText, failed, 601, 700},
#ifndef _WIN32
        {{}, "/dev/full", {"cmd showstate"}, "", failed, 0, 100},
#endif
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + " " + c.text);
        TearDown();
        SetUp();
        connect_fixed(c.faults);
        tick_ms = 3;
        std::string path = c.file.empty() ? (dir / "unit.log").string() : c.file;
        request_log_capture(path.c_str());
        unsigned long before = idle_ticks_waited.load();
        EXPECT_TRUE(poll_status(device)); // the capture's outcome keeps the link
        EXPECT_GE(idle_ticks_waited.load() - before, c.min_ticks);
        EXPECT_LE(idle_ticks_waited.load() - before, c.max_ticks);
        EXPECT_FALSE(request_raised(REQUEST_LOG_CAPTURE));
        EXPECT_EQ(c.commands, server->stats().commands);
        EXPECT_TRUE(c.file == "/dev/full" || c.text == read_file(path)) << read_file(path);
        EXPECT_EQ((std::vector<std::string>{"tray 0 0", std::string("report ") + c.report + path}),
                  recorded());
        EXPECT_TRUE(refresh());
        EXPECT_EQ(padded("123456789012345"), device.imei);
    }
}

// The stand-in's syslog is several kilobytes, more than one 2048-byte piece: all kept. A
// second request made meanwhile waits for the next turn with its own path.
TEST_F(DeviceRequests, ALongCaptureIsWholeAndASecondRequestKeepsItsOwnPath) {
    unitsim::Fault slow;
    slow.command = "cmd syslog";
    slow.delay_ms = 150;
    connect(frozen(), {slow});
    std::string first = (dir / "first.log").string(), second = (dir / "second.log").string();
    request_log_capture(first.c_str());
    std::thread menu([&] {
        server->wait_commands(3, 5000); // the capture is at "cmd syslog"
        request_log_capture(second.c_str());
    });
    EXPECT_TRUE(poll_status(device));
    menu.join();
    std::string text = read_file(first);
    size_t syslog_at = text.find("cmd syslog\r\n"), events_at = text.find("cmd event dump\r\n");
    ASSERT_NE(std::string::npos, events_at);
    EXPECT_GT(events_at - syslog_at, 4096u);
    EXPECT_EQ("VORLIX:/# \r\n", text.substr(text.size() - 12));
    EXPECT_FALSE(fs::exists(second));
    EXPECT_TRUE(poll_status(device));
    EXPECT_FALSE(request_raised(REQUEST_LOG_CAPTURE));
    EXPECT_TRUE(fs::exists(second));
    EXPECT_EQ("report Generated Log File : " + second, recorded().back());
}

TEST_F(DeviceRequests, AStopEndsTheCaptureAtOnceWithItsFileAndWithoutAReport) {
    connect_fixed({silent("cmd showconfig")});
    std::string path = (dir / "stopped.log").string();
    request_log_capture(path.c_str());
    std::thread stopper([&] {
        server->wait_commands(2, 5000);
        stop_request();
    });
    unsigned long before = idle_ticks_waited.load();
    poll_status(device);
    stopper.join();
    EXPECT_LT(idle_ticks_waited.load() - before, 100u);
    EXPECT_EQ(kStateText, read_file(path));
    EXPECT_TRUE(recorded().empty());
}

TEST_F(DeviceRequests, PowerCycleIsServedAloneAndASilentOneFailsThePoll) {
    connect_fixed();
    std::string path = (dir / "later.log").string();
    request_log_capture(path.c_str());
    raise_request(REQUEST_POWER_CYCLE | REQUEST_REFRESH);
    EXPECT_TRUE(poll_status(device)); // the echo came back
    EXPECT_EQ((std::vector<std::string>{"cmd pwrmode 2"}), server->stats().commands);
    EXPECT_EQ(request_flags.load(), static_cast<uint32_t>(REQUEST_LOG_CAPTURE | REQUEST_REFRESH));
    EXPECT_TRUE(recorded().empty());
    // The unit has dropped the link: the capture fails to send, the refresh fails.
    EXPECT_FALSE(poll_status(device));
    EXPECT_EQ("report Failed To Generate Log File : " + path, recorded().back());

    TearDown();
    SetUp();
    connect(frozen(), {silent("cmd pwrmode 2")});
    tick_ms = 2;
    raise_request(REQUEST_POWER_CYCLE);
    unsigned long before = idle_ticks_waited.load();
    EXPECT_FALSE(poll_status(device)); // the restarting unit closes: no idle limit
    EXPECT_LT(idle_ticks_waited.load() - before, 301u);
    EXPECT_EQ(request_flags.load(), 0u);
}

} // namespace
