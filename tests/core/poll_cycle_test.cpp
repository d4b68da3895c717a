// The status query against the stand-in: what each reply puts in the record, and what is
// asked of the unit in which order. Expected texts are the stand-in's frozen replies.
#include "test_support.h"

#include <cstring>

using namespace ts;

namespace {

const char* const kSignalQuery = "cmd rfstats|grep 'Signal Quality'|awk -F: '{print $2}'";

const std::vector<std::string> kEighteen = {
    "cmd device cell", "cmd device wifi", "cmd device priority", "cmd ver",
    "uptime",          "cmd esn",         "cmd modemid",         "cmd ipadr",
    kSignalQuery,      "cmd data",        "cmd odometer",        "cmd gpsrmc",
    "cmd rfstats",     "cmd wlan enable", "cmd wandevice",       "uci show wireless",
    "iwconfig",        "ifconfig eth1"};

struct Expect {
    StatusField DeviceRecord::*field;
    std::string text;
    size_t width = 31; // blank-padded to this width
};

void expect_fields(const std::vector<Expect>& expected) {
    for (const Expect& e : expected)
        EXPECT_EQ(padded(e.text, e.width), device.*e.field);
}

class PollCycle : public UnitSession {
  protected:
    // The frozen unit's record after one cycle, field by field in record order.
    void expect_frozen_record() {
        expect_fields({{&DeviceRecord::imei, "123456789012345"},
                       {&DeviceRecord::modem_id, "VX4410A"},
                       {&DeviceRecord::wwan_ip, "100.100.100.100"},
                       {&DeviceRecord::signal_quality, "75 %"},
                       {&DeviceRecord::data_sent, "12.5 MB", 15},
                       {&DeviceRecord::data_received, "3.1 MB", 15},
                       {&DeviceRecord::data_total, "15.6 MB", 15},
                       {&DeviceRecord::odometer, "1234.5 km"},
                       {&DeviceRecord::latitude, "49.2742"},
                       {&DeviceRecord::lat_hemisphere, "N"},
                       {&DeviceRecord::longitude, "-123.1853"},
                       {&DeviceRecord::lon_hemisphere, "W"},
                       {&DeviceRecord::speed, "41.4848 kph"}, // 22.4 knots
                       {&DeviceRecord::uptime, "1 day, 12:10"},
                       {&DeviceRecord::firmware_version, "4.2.7"},
                       {&DeviceRecord::network_type, "LTE"},
                       {&DeviceRecord::cell_hardware, "MC7354"},
                       {&DeviceRecord::wifi_hardware, "RT5370"},
                       {&DeviceRecord::priority, "cellular"},
                       {&DeviceRecord::activity_caption, "Cellular Activity", 0},
                       {&DeviceRecord::wifi_mode, "Client"},
                       {&DeviceRecord::ap_ssid, "VORLIX-AP"},
                       {&DeviceRecord::ap_mac, "00:11:22:33:44:55"},
                       {&DeviceRecord::tx_power, "20 dBm"},
                       {&DeviceRecord::link_quality, "70/70"},
                       {&DeviceRecord::rx_power, "-40 dBm"},
                       {&DeviceRecord::noise_level, "-95 dBm"},
                       {&DeviceRecord::wifi_ip, "192.168.10.1"}});
    }
};

TEST_F(PollCycle, OneCycleFillsEveryFieldAndAsksTheEighteenCommandsInOrder) {
    connect(frozen());
    ASSERT_TRUE(refresh());
    expect_frozen_record();
    EXPECT_EQ(kEighteen, server->stats().commands);
    EXPECT_FALSE(request_raised(REQUEST_REFRESH));

    // a second cycle of the same replies changes nothing: no field grows
    char before[STATUS_FIELD_COUNT][32];
    for (int i = 0; i < STATUS_FIELD_COUNT; ++i)
        memcpy(before[i], *status_field_at(device, i), 32);
    ASSERT_TRUE(refresh());
    for (int i = 0; i < STATUS_FIELD_COUNT; ++i)
        EXPECT_STREQ(before[i], *status_field_at(device, i)) << status_field_name(i);
}

TEST_F(PollCycle, EveryReplySplitAtAwkwardPlacesGivesTheSameRecord) {
    connect(frozen());
    for (const std::string& command : kEighteen) {
        size_t length = server->reply_for(command).size();
        unitsim::Fault f;
        f.command = command;
        // after the first byte, between the echo's CR and LF, inside the prompt
        f.split_at = {1, command.size() + 1, length - 6, length - 1};
        f.split_pause_ms = 3;
        server->add_fault(f);
    }
    ASSERT_TRUE(refresh());
    expect_frozen_record();
    EXPECT_EQ(kEighteen, server->stats().commands);
}

// One cycle of the frozen replies, then one in which the listed commands print the given
// output: the fields as listed, and no field longer than after the first cycle.
struct ReplyCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> outputs; // command, its output
    std::vector<Expect> expected;
};

TEST_F(PollCycle, EachReplyRuleFillsItsFields) {
    const std::string sevens(50, '7');
    typedef DeviceRecord R;
    const std::vector<ReplyCase> cases = {
        {"short ESN", {{"cmd esn", "8012345\r\n"}}, {{&R::imei, "8012345"}}},
        {"ESN with a letter first", {{"cmd esn", "A100001234567\r\n"}}, {{&R::imei, ""}}},
        {"ESN longer than a field",
         {{"cmd esn", std::string(40, '9') + "\r\n"}},
         {{&R::imei, std::string(31, '9')}}},
        {"modem id not beginning with an alphanumeric",
         {{"cmd modemid", "cmd modemid -X\r\n"}},
         {{&R::modem_id, ""}}},
        {"lone percent sign", {{kSignalQuery, "%\r\n"}}, {{&R::signal_quality, ""}}},
        {"percentage without blank", {{kSignalQuery, "75%\r\n"}}, {{&R::signal_quality, "75 %"}}},
        {"signal query prints nothing",
         {{kSignalQuery, ""}},
         {{&R::signal_quality, "VORLIX:/# %"}}}, // the prompt is the first word
        // an empty line is skipped; "RX: n/a" is no number; no third line: Total stays
        {"data lines short and bad",
         {{"cmd data", "TX: 99.9\r\n\r\nRX: n/a"}},
         {{&R::data_sent, "99.9 MB", 15},
          {&R::data_received, "", 15},
          {&R::data_total, "15.6 MB", 15}}},
        {"data lines not matching their patterns",
         {{"cmd data", "Sent 1\r\nRX: 2\r\nTotal 3\r\n"}},
         {{&R::data_sent, "", 15}, {&R::data_received, "2 MB", 15}, {&R::data_total, "", 15}}},
        {"odometer not a number", {{"cmd odometer", "km?\r\n"}}, {{&R::odometer, ""}}},
        // pieces 4 and 5 are the date and "N*51"; speed and the E/W letter stay
        {"GPS sentence without a fix",
         {{"cmd gpsrmc", "$GPRMC,123519,V,,,,,,,230394,,,N*51\r\n"}},
         {{&R::latitude, "2304.5667"}, // 2303 degrees 94 minutes
          {&R::lat_hemisphere, "N*51"},
          {&R::longitude, ""},
          {&R::lon_hemisphere, "W"},
          {&R::speed, "41.4848 kph"}}},
        {"GPS sentence of three pieces",
         {{"cmd gpsrmc", "$GPRMC,,,123519,V\r\n"}},
         {{&R::latitude, ""}, {&R::lat_hemisphere, "N"}, {&R::longitude, ""}}},
        {"GPS pieces longer than a field",
         {{"cmd gpsrmc", "$GPRMC,1,A,4916.45," + sevens + ",1," + sevens + ",1\r\n"}},
         {{&R::lat_hemisphere, std::string(31, '7')},
          {&R::lon_hemisphere, std::string(31, '7')},
          {&R::speed, "1.8520 kph"}}},
        {"wlan mode 0",
         {{"cmd wlan enable", "cmd wlan enable 0\r\n"}},
         {{&R::wifi_mode, "None"}, {&R::activity_caption, "Cellular Activity", 0}}},
        {"wlan mode 2",
         {{"cmd wlan enable", "cmd wlan enable 2\r\n"}},
         {{&R::wifi_mode, "Access Point"}, {&R::activity_caption, "Cellular Activity", 0}}},
        {"wlan mode 3",
         {{"cmd wlan enable", "cmd wlan enable 3\r\n"}},
         {{&R::wifi_mode, "Client"}, {&R::activity_caption, "Wi-Fi Activity", 0}}},
        // Link Quality is looked for after the access point's line: the first one is passed
        {"iwconfig without Tx-Power",
         {{"iwconfig", "Link Quality=1/70 x\r\n"
                       "Mode:Managed  Access Point: 0A:0B:0C:0D:0E:0F\r\n"
                       "Link Quality=55/70  Signal level=-61 dBm  Noise level=-92 dBm\r\n"}},
         {{&R::ap_mac, "0A:0B:0C:0D:0E:0F"},
          {&R::tx_power, "Not Available"},
          {&R::link_quality, "55/70"},
          {&R::rx_power, "-61 dBm"},
          {&R::noise_level, "-92 dBm"}}},
        {"iwconfig keys without dBm and no access point",
         {{"iwconfig", "Tx-Power=off  Signal level=7/100\r\n"}},
         {{&R::ap_mac, ""},
          {&R::tx_power, "Not Available"},
          {&R::link_quality, "Not Available"},
          {&R::rx_power, "Not Available"},
          {&R::noise_level, "Not Available"}}},
        {"commands that print nothing",
         {{"cmd ver", ""},
          {"cmd esn", ""},
          {"cmd ipadr", ""},
          {"cmd odometer", ""},
          {"uptime", ""},
          {"cmd rfstats", ""},
          {"uci show wireless", ""},
          {"ifconfig eth1", ""}},
         {{&R::firmware_version, "VORLIX:/#"},
          {&R::imei, ""},
          {&R::wwan_ip, ""},
          {&R::odometer, ""},
          {&R::uptime, "N/A"},
          {&R::network_type, "Not Available"},
          {&R::ap_ssid, ""},
          {&R::wifi_ip, ""}}},
    };
    connect(frozen());
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        server->clear_faults();
        ASSERT_TRUE(refresh());
        size_t before[STATUS_FIELD_COUNT];
        for (int i = 0; i < STATUS_FIELD_COUNT; ++i)
            before[i] = strlen(*status_field_at(device, i));
        for (const auto& output : c.outputs)
            server->add_fault(output_of(output.first, output.second));
        ASSERT_TRUE(refresh());
        expect_fields(c.expected);
        for (int i = 0; i < STATUS_FIELD_COUNT; ++i) {
            if (strcmp(status_field_name(i), "activity_caption") == 0) continue;
            EXPECT_LE(strlen(*status_field_at(device, i)), before[i]) << status_field_name(i);
        }
    }
}

TEST_F(PollCycle, NoneHardwareSkipsThePriorityQuery) {
    for (int which = 0; which < 2; ++which) {
        SCOPED_TRACE(which == 0 ? "cellular NONE" : "Wi-Fi NONE");
        unitsim::Config config = frozen();
        (which == 0 ? config.cell_hardware : config.wifi_hardware) = "NONE";
        connect(config);
        strcpy(device.priority, "cellular"); // a previous value that must go
        ASSERT_TRUE(refresh());
        std::vector<std::string> commands = kEighteen;
        commands.erase(commands.begin() + 2); // "cmd device priority"
        EXPECT_EQ(commands, server->stats().commands);
        expect_fields({{&DeviceRecord::priority, "Not Available"},
                       {&DeviceRecord::cell_hardware, which == 0 ? "NONE" : "MC7354"},
                       {&DeviceRecord::wifi_ip, "192.168.10.1"}}); // the cycle went on
        TearDown();
        SetUp();
    }
}

TEST_F(PollCycle, WithoutAWanDeviceLineTheLastCommandAsksWlan0) {
    unitsim::Config config = frozen();
    config.wan_device = "";
    connect(config);
    ASSERT_TRUE(refresh());
    std::vector<std::string> commands = kEighteen;
    commands.back() = "ifconfig wlan0";
    EXPECT_EQ(commands, server->stats().commands);
    EXPECT_EQ(padded("192.168.10.1"), device.wifi_ip);
}

TEST_F(PollCycle, AConnectionClosedMidCycleKeepsTheLaterFieldsOfThePreviousCycle) {
    connect(frozen());
    ASSERT_TRUE(refresh());
    unitsim::Config config = frozen();
    config.firmware = "5.0.1";
    config.esn = "990000000000001";
    config.ssid = "OTHER-AP";
    config.wlan_mode = 2;
    server->set_config(config);
    unitsim::Fault f;
    f.command = "cmd gpsrmc"; // step 12
    f.close_after = 4;
    server->add_fault(f);
    EXPECT_FALSE(refresh());
    expect_fields({{&DeviceRecord::firmware_version, "5.0.1"}, // step 4: new
                   {&DeviceRecord::imei, "990000000000001"},   // step 6: new
                   {&DeviceRecord::odometer, "1234.5 km"},     // step 11: new (same value)
                   {&DeviceRecord::ap_ssid, "VORLIX-AP"},      // step 16: previous
                   {&DeviceRecord::wifi_mode, "Client"}});     // step 14: previous
    EXPECT_EQ(12u, server->stats().commands.size() - 18);      // stopped at step 12
}

TEST_F(PollCycle, SilenceFailsTheCycleAfterTheIdleLimit) {
    unitsim::Fault f = silent("cmd ipadr");
    f.times = 1;
    connect(frozen(), {f});
    tick_ms = 3;
    EXPECT_FALSE(refresh());
    EXPECT_EQ(padded("123456789012345"), device.imei); // step 6 was reached
    EXPECT_EQ(padded(""), device.wwan_ip);             // step 8 kept its reset value

    // the first command silent: only its own wait is counted, 301 ticks of silence
    unitsim::Fault first = silent("cmd device cell");
    first.times = 1;
    server->add_fault(first);
    link_close(device);
    tick_ms = 100;
    device.socket = link_open(device);
    ASSERT_EQ(0, link_login(device));
    tick_ms = 3;
    unsigned long before = idle_ticks_waited.load();
    EXPECT_FALSE(refresh());
    EXPECT_EQ(301u, idle_ticks_waited.load() - before);
    EXPECT_EQ(padded("MC7354"), device.cell_hardware); // still the previous cycle's
}

TEST_F(PollCycle, NoSocketFailsAtOnceAndLeavesTheRequestsAndNoRequestSendsNothing) {
    raise_request(REQUEST_REFRESH | REQUEST_POWER_CYCLE);
    EXPECT_FALSE(poll_status(device));
    EXPECT_TRUE(request_raised(REQUEST_REFRESH));
    EXPECT_TRUE(request_raised(REQUEST_POWER_CYCLE));
    request_flags = 0;
    connect(frozen());
    EXPECT_TRUE(poll_status(device));
    EXPECT_TRUE(server->stats().commands.empty());
}

} // namespace
