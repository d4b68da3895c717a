// The status query against the stand-in: what each reply puts in the record, and what is
// asked of the unit in which order. Expected texts are the stand-in's frozen replies.
#include "poll_test_support.h"

#include <cstring>

using polltest::padded;

namespace {

const char* const kSignalQuery = "cmd rfstats|grep 'Signal Quality'|awk -F: '{print $2}'";

const std::vector<std::string> kEighteen = {
    "cmd device cell", "cmd device wifi", "cmd device priority", "cmd ver",
    "uptime",          "cmd esn",         "cmd modemid",         "cmd ipadr",
    kSignalQuery,      "cmd data",        "cmd odometer",        "cmd gpsrmc",
    "cmd rfstats",     "cmd wlan enable", "cmd wandevice",       "uci show wireless",
    "iwconfig",        "ifconfig eth1"};

class PollCycle : public polltest::UnitSession {
  protected:
    // The frozen unit's record after one cycle, field by field in record order.
    void expect_frozen_record() {
        EXPECT_EQ(padded("123456789012345"), device.imei);
        EXPECT_EQ(padded("VX4410A"), device.modem_id);
        EXPECT_EQ(padded("100.100.100.100"), device.wwan_ip);
        EXPECT_EQ(padded("75 %"), device.signal_quality);
        EXPECT_EQ(padded("12.5 MB", 15), device.data_sent);
        EXPECT_EQ(padded("3.1 MB", 15), device.data_received);
        EXPECT_EQ(padded("15.6 MB", 15), device.data_total);
        EXPECT_EQ(padded("1234.5 km"), device.odometer);
        EXPECT_EQ(padded("49.2742"), device.latitude);
        EXPECT_EQ(padded("N"), device.lat_hemisphere);
        EXPECT_EQ(padded("-123.1853"), device.longitude);
        EXPECT_EQ(padded("W"), device.lon_hemisphere);
        EXPECT_EQ(padded("41.4848 kph"), device.speed); // 22.4 knots
        EXPECT_EQ(padded("1 day, 12:10"), device.uptime);
        EXPECT_EQ(padded("4.2.7"), device.firmware_version);
        EXPECT_EQ(padded("LTE"), device.network_type);
        EXPECT_EQ(padded("MC7354"), device.cell_hardware);
        EXPECT_EQ(padded("RT5370"), device.wifi_hardware);
        EXPECT_EQ(padded("cellular"), device.priority);
        EXPECT_STREQ("Cellular Activity", device.activity_caption);
        EXPECT_EQ(padded("Client"), device.wifi_mode);
        EXPECT_EQ(padded("VORLIX-AP"), device.ap_ssid);
        EXPECT_EQ(padded("00:11:22:33:44:55"), device.ap_mac);
        EXPECT_EQ(padded("20 dBm"), device.tx_power);
        EXPECT_EQ(padded("70/70"), device.link_quality);
        EXPECT_EQ(padded("-40 dBm"), device.rx_power);
        EXPECT_EQ(padded("-95 dBm"), device.noise_level);
        EXPECT_EQ(padded("192.168.10.1"), device.wifi_ip);
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

TEST_F(PollCycle, NoneHardwareSkipsThePriorityQuery) {
    for (int which = 0; which < 2; ++which) {
        unitsim::Config config = frozen();
        (which == 0 ? config.cell_hardware : config.wifi_hardware) = "NONE";
        connect(config);
        strcpy(device.priority, "cellular"); // a previous value that must go
        ASSERT_TRUE(refresh());
        std::vector<std::string> commands = server->stats().commands;
        EXPECT_EQ(17u, commands.size());
        for (const std::string& c : commands)
            EXPECT_NE("cmd device priority", c);
        EXPECT_EQ(padded("Not Available"), device.priority);
        EXPECT_EQ(padded(which == 0 ? "NONE" : "MC7354"), device.cell_hardware);
        EXPECT_EQ(padded("192.168.10.1"), device.wifi_ip); // the cycle went on to the end
        TearDown();
        SetUp();
    }
}

TEST_F(PollCycle, ImeiKeepsDigitsOfAnyLengthAndDropsLetters) {
    connect(frozen());
    unitsim::Config config = frozen();
    config.esn = "8012345"; // a short ESN
    server->set_config(config);
    ASSERT_TRUE(refresh());
    EXPECT_EQ(padded("8012345"), device.imei);

    config.esn = "A100001234567"; // begins with a letter
    server->set_config(config);
    ASSERT_TRUE(refresh());
    EXPECT_EQ(padded(""), device.imei);

    config.esn = std::string(40, '9'); // longer than a field: cut to 31
    server->set_config(config);
    ASSERT_TRUE(refresh());
    EXPECT_EQ(std::string(31, '9'), device.imei);

    config.modem_id = "-X";
    server->set_config(config);
    ASSERT_TRUE(refresh());
    EXPECT_EQ(padded(""), device.modem_id);
}

TEST_F(PollCycle, SignalQualityLonePercentIsEmptiedAndANumberKeepsItsUnit) {
    connect(frozen(), {output_of(kSignalQuery, "%\r\n")});
    strcpy(device.signal_quality, "50 %");
    ASSERT_TRUE(refresh());
    EXPECT_EQ(padded(""), device.signal_quality);

    server->clear_faults();
    server->add_fault(output_of(kSignalQuery, "75%\r\n"));
    ASSERT_TRUE(refresh());
    EXPECT_EQ(padded("75 %"), device.signal_quality);

    server->clear_faults();
    server->add_fault(output_of(kSignalQuery, "")); // the prompt is the first word
    ASSERT_TRUE(refresh());
    EXPECT_EQ(padded("VORLIX:/# %"), device.signal_quality);
}

TEST_F(PollCycle, DataLinesFillTheCountersAndABadLineEmptiesOnlyItsOwn) {
    connect(frozen());
    ASSERT_TRUE(refresh());
    EXPECT_EQ(padded("12.5 MB", 15), device.data_sent);
    EXPECT_EQ(padded("3.1 MB", 15), device.data_received);
    EXPECT_EQ(padded("15.6 MB", 15), device.data_total);

    // an empty line is skipped; "RX: n/a" (the prompt follows on its line) is not a
    // number; there is no third line, so Total stays
    server->add_fault(output_of("cmd data", "TX: 99.9\r\n\r\nRX: n/a"));
    ASSERT_TRUE(refresh());
    EXPECT_EQ(padded("99.9 MB", 15), device.data_sent);
    EXPECT_EQ(padded("", 15), device.data_received);
    EXPECT_EQ(padded("15.6 MB", 15), device.data_total);

    // lines that do not match their pattern show empty, and nothing grows
    server->clear_faults();
    server->add_fault(output_of("cmd data", "Sent 1\r\nRX: 2\r\nTotal 3\r\n"));
    ASSERT_TRUE(refresh());
    ASSERT_TRUE(refresh());
    EXPECT_EQ(padded("", 15), device.data_sent);
    EXPECT_EQ(padded("2 MB", 15), device.data_received);
    EXPECT_EQ(padded("", 15), device.data_total);

    server->clear_faults();
    server->add_fault(output_of("cmd odometer", "km?\r\n"));
    ASSERT_TRUE(refresh());
    EXPECT_EQ(padded(""), device.odometer);
}

TEST_F(PollCycle, GpsSentenceWithoutAFixShiftsItsPieces) {
    connect(frozen());
    ASSERT_TRUE(refresh()); // a fix first: speed and the E/W letter are then kept
    unitsim::Config config = frozen();
    config.gps_fix = false;
    server->set_config(config);
    ASSERT_TRUE(refresh());
    // $GPRMC,123519,V,,,,,,,230394,,,N*51: pieces 4 and 5 are the date and "N*51"
    EXPECT_EQ(padded("2304.5667"), device.latitude); // 2303 degrees 94 minutes
    EXPECT_EQ(padded("N*51"), device.lat_hemisphere);
    EXPECT_EQ(padded(""), device.longitude); // no piece 6: nothing to convert
    EXPECT_EQ(padded("W"), device.lon_hemisphere);
    EXPECT_EQ(padded("41.4848 kph"), device.speed);

    // a sentence of three pieces leaves both raw texts empty
    server->add_fault(output_of("cmd gpsrmc", "$GPRMC,,,123519,V\r\n"));
    ASSERT_TRUE(refresh());
    EXPECT_EQ(padded(""), device.latitude);
    EXPECT_EQ(padded("N*51"), device.lat_hemisphere);

    // pieces longer than a field are cut to 31
    std::string long_piece(50, '7');
    server->clear_faults();
    server->add_fault(output_of("cmd gpsrmc", "$GPRMC,1,A,4916.45," + long_piece + ",1," +
                                                  long_piece + ",1\r\n"));
    ASSERT_TRUE(refresh());
    EXPECT_EQ(std::string(31, '7'), device.lat_hemisphere);
    EXPECT_EQ(std::string(31, '7'), device.lon_hemisphere);
    EXPECT_EQ(padded("1.8520 kph"), device.speed);
}

TEST_F(PollCycle, WlanModesGiveModeAndCaption) {
    connect(frozen());
    const char* modes[4] = {"None", "Client", "Access Point", "Client"};
    const char* captions[4] = {"Cellular Activity", "Cellular Activity", "Cellular Activity",
                               "Wi-Fi Activity"};
    for (int mode = 3; mode >= 0; --mode) {
        unitsim::Config config = frozen();
        config.wlan_mode = mode;
        server->set_config(config);
        ASSERT_TRUE(refresh());
        EXPECT_EQ(padded(modes[mode]), device.wifi_mode) << mode;
        EXPECT_STREQ(captions[mode], device.activity_caption) << mode;
    }
}

TEST_F(PollCycle, WithoutAWanDeviceLineTheLastCommandAsksWlan0) {
    unitsim::Config config = frozen();
    config.wan_device = "";
    connect(config);
    ASSERT_TRUE(refresh());
    std::vector<std::string> commands = server->stats().commands;
    ASSERT_EQ(18u, commands.size());
    EXPECT_EQ("ifconfig wlan0", commands.back());
    EXPECT_EQ(padded("192.168.10.1"), device.wifi_ip);
}

TEST_F(PollCycle, IwconfigKeysAreSearchedFromAMovingPosition) {
    // No Tx-Power: "Not Available", and Link Quality is looked for after the access point's
    // line, so the earlier "Link Quality=1/70" is passed over.
    connect(frozen(), {output_of("iwconfig", "Link Quality=1/70 x\r\n"
                                             "Mode:Managed  Access Point: 0A:0B:0C:0D:0E:0F\r\n"
                                             "Link Quality=55/70  Signal level=-61 dBm  "
                                             "Noise level=-92 dBm\r\n")});
    ASSERT_TRUE(refresh());
    EXPECT_EQ(padded("0A:0B:0C:0D:0E:0F"), device.ap_mac);
    EXPECT_EQ(padded("Not Available"), device.tx_power);
    EXPECT_EQ(padded("55/70"), device.link_quality);
    EXPECT_EQ(padded("-61 dBm"), device.rx_power);
    EXPECT_EQ(padded("-92 dBm"), device.noise_level);

    // keys without " dBm" after them count as absent; no access point: empty
    server->clear_faults();
    server->add_fault(output_of("iwconfig", "Tx-Power=off  Signal level=7/100\r\n"));
    ASSERT_TRUE(refresh());
    EXPECT_EQ(padded(""), device.ap_mac);
    EXPECT_EQ(padded("Not Available"), device.tx_power);
    EXPECT_EQ(padded("Not Available"), device.link_quality);
    EXPECT_EQ(padded("Not Available"), device.rx_power);
    EXPECT_EQ(padded("Not Available"), device.noise_level);
}

TEST_F(PollCycle, ACommandThatPrintsNothingLeavesThePromptOrAnEmptyField) {
    connect(frozen(),
            {output_of("cmd ver", ""), output_of("cmd esn", ""), output_of("cmd ipadr", ""),
             output_of("cmd odometer", ""), output_of("uptime", ""), output_of("cmd rfstats", ""),
             output_of("uci show wireless", ""), output_of("ifconfig eth1", "")});
    ASSERT_TRUE(refresh());
    EXPECT_EQ(padded("VORLIX:/#"), device.firmware_version);
    EXPECT_EQ(padded(""), device.imei);
    EXPECT_EQ(padded(""), device.wwan_ip);
    EXPECT_EQ(padded(""), device.odometer);
    EXPECT_EQ(padded("N/A"), device.uptime);
    EXPECT_EQ(padded("Not Available"), device.network_type);
    EXPECT_EQ(padded(""), device.ap_ssid);
    EXPECT_EQ(padded(""), device.wifi_ip);
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
    EXPECT_EQ(padded("5.0.1"), device.firmware_version);  // step 4: new
    EXPECT_EQ(padded("990000000000001"), device.imei);    // step 6: new
    EXPECT_EQ(padded("1234.5 km"), device.odometer);      // step 11: new (same value)
    EXPECT_EQ(padded("VORLIX-AP"), device.ap_ssid);       // step 16: previous
    EXPECT_EQ(padded("Client"), device.wifi_mode);        // step 14: previous
    EXPECT_EQ(12u, server->stats().commands.size() - 18); // stopped at step 12
}

TEST_F(PollCycle, SilenceFailsTheCycleAfterTheIdleLimit) {
    unitsim::Fault f;
    f.command = "cmd ipadr";
    f.silence = true;
    f.times = 1;
    connect(frozen(), {f});
    tick_ms = 3;
    EXPECT_FALSE(refresh());
    EXPECT_EQ(padded("123456789012345"), device.imei); // step 6 was reached
    EXPECT_EQ(padded(""), device.wwan_ip);             // step 8 kept its reset value

    // the first command silent: only its own wait is counted, 301 ticks of silence
    unitsim::Fault first;
    first.command = "cmd device cell";
    first.silence = true;
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

TEST_F(PollCycle, NoSocketFailsAtOnceAndLeavesTheRequests) {
    raise_request(REQUEST_REFRESH | REQUEST_POWER_CYCLE);
    EXPECT_FALSE(poll_status(device));
    EXPECT_TRUE(request_raised(REQUEST_REFRESH));
    EXPECT_TRUE(request_raised(REQUEST_POWER_CYCLE));
}

TEST_F(PollCycle, NothingRequestedSendsNothing) {
    connect(frozen());
    EXPECT_TRUE(poll_status(device));
    EXPECT_TRUE(server->stats().commands.empty());
}

} // namespace
