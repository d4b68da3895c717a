// The status record and the status query against the stand-in, and the power cycle and log
// capture that poll_status serves. Expected texts are written by hand from the stand-in's
// frozen replies and the outputs the faults give it.
#include "test_support.h"

#include "status/device_requests.h"

using namespace ts;

namespace {

// Every status field is filled first, so a field the reset misses shows its "z".
TEST(DeviceRecord, ResetBlanksEveryStatusFieldToItsWidthAndPaddingStaysInside) {
    device_record_init();
    strcpy(device.ip, "10.0.0.1");
    for (int i = 0; i < STATUS_FIELD_COUNT; ++i)
        strcpy(*status_field_at(device, i), "z");
    reset_status();
    std::string widths;
    for (int i = 0; i < STATUS_FIELD_COUNT; ++i) {
        std::string f = *status_field_at(device, i);
        widths += (f.find_first_not_of(' ') == f.npos ? std::to_string(f.size()) : f) + " ";
    }
    EXPECT_EQ(widths, "31 31 31 31 20 20 31 31 31 31 31 31 31 31 31 31 31 31 31 0 "
                      "31 31 31 31 31 31 31 31 ");
    EXPECT_EQ(std::string("10.0.0.1"), device.ip);
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
// The frozen unit's record, field by field in record order, blanks cut.
const std::string kFrozen =
    "123456789012345|VX4410A|100.100.100.100|75 %|12.5 MB|3.1 MB|15.6 MB|"
    "1234.5 km|49.2742|N|-123.1853|W|41.4848 kph|1 day, 12:10|4.2.7|LTE|MC7354|RT5370|cellular|"
    "Cellular Activity|Client|VORLIX-AP|00:11:22:33:44:55|20 dBm|70/70|-40 dBm|"
    "-95 dBm|192.168.10.1|";

// Every field with its trailing blanks cut; each at least its width: 15 for the data counters
// (4 to 6), 31 for the rest but the activity caption (19), which is never padded.
std::string record_text() {
    std::string text;
    for (int i = 0; i < STATUS_FIELD_COUNT; ++i) {
        std::string field = *status_field_at(device, i);
        if (i != 19) {
            EXPECT_GE(field.size(), i >= 4 && i <= 6 ? 15u : 31u) << i;
        }
        text += field.erase(field.find_last_not_of(' ') + 1) + "|";
    }
    return text;
}

// kFrozen with the fields from index `first` on replaced.
std::string frozen_with(size_t first, const std::vector<std::string>& fields) {
    std::istringstream in(kFrozen);
    std::string text, field;
    for (size_t i = 0; std::getline(in, field, '|'); ++i)
        text += (i >= first && i - first < fields.size() ? fields[i - first] : field) + "|";
    return text;
}

typedef UnitSession PollCycle;

TEST_F(PollCycle, OneCycleFillsEveryFieldAsksTheEighteenInOrderAFailureEndsIt) {
    EXPECT_FALSE(refresh()); // no socket: fails at once and keeps the request
    EXPECT_TRUE(request_raised(REQUEST_REFRESH));
    connect(frozen());
    ASSERT_TRUE(refresh());
    EXPECT_EQ(kFrozen, record_text());
    EXPECT_EQ(kEighteen, server->stats().commands);
    EXPECT_FALSE(request_raised(REQUEST_REFRESH));
    EXPECT_TRUE(poll_status(device)); // no request: nothing is asked
    EXPECT_EQ(18u, server->stats().commands.size());
    // A failed exchange (step 12) ends the cycle: the fields after it keep their values.
    unitsim::Config config = frozen();
    config.firmware = "5.0.1";
    config.ssid = "OTHER-AP";
    server->set_config(config);
    server->add_fault(closing("cmd gpsrmc", 4));
    EXPECT_FALSE(refresh());
    EXPECT_EQ(frozen_with(14, {"5.0.1"}), record_text());
    EXPECT_EQ(30u, server->stats().commands.size());
}

// One cycle of the frozen replies, then one in which the command prints the given output:
// the fields that change, from the first one named (index in record order) on. Values cut to
// their field are the fuzz target's (fuzz_poll_cycle, its seed long_values).
TEST_F(PollCycle, EachReplyRuleFillsItsFields) {
    const char *gps = "cmd gpsrmc", *wlan = "cmd wlan enable", *NA = "Not Available";
    const struct {
        const char* command;
        std::string output;
        int field;
        std::vector<std::string> fields;
    } cases[] = {
        {"cmd esn", "A100001234567\r\n", 0, {""}}, // a letter first
        {"cmd modemid", "cmd modemid -X\r\n", 1, {""}},
        {"cmd ipadr", "", 2, {""}},
        {kSignal, "%\r\n", 3, {""}},
        // an empty line is skipped; "RX: n/a" is no number; no third line: Total stays
        {"cmd data", "TX: 99.9\r\n\r\nRX: n/a", 4, {"99.9 MB", "", "15.6 MB"}},
        {"cmd data", "Sent 1\r\nRX: 2\r\nTotal 3\r\n", 4, {"", "2 MB", ""}},
        {"cmd odometer", "", 7, {""}},
        // south and east, 49 degrees 5.0123 minutes, 10 knots
        {gps,
         "$GPRMC,1,A,4905.0123,S,00130.0,E,10.0,0\r\n",
         8,
         {"-49.0835", "S", "1.5000", "E", "18.5200 kph"}},
        // pieces 4 and 5 are the date and "N*51"; speed and the E/W letter stay
        {gps,
         "$GPRMC,123519,V,,,,,,,230394,,,N*51\r\n",
         8,
         {"2304.5667", "N*51", "", "W", "41.4848 kph"}},
        {gps, "$GPRMC,,,123519,V\r\n", 8, {"", "N", "", "W"}},
        {"uptime", " 12:10:05 up 3 min, load average: 0.08\r\n", 13, {"N/A"}}, // one blank
        {"cmd ver", "", 14, {"VORLIX:/#"}},
        {"cmd rfstats", "rfdiag.network3g=1\r\nrfdiag.network4g=1\r\n", 15, {"4G"}},
        {"cmd rfstats", "rfdiag.network2g=1\r\n", 15, {"2G"}},
        {"cmd rfstats", "", 15, {NA}},
        {wlan, "cmd wlan enable 0\r\n", 19, {"Cellular Activity", "None"}},
        {wlan, "cmd wlan enable 2\r\n", 19, {"Cellular Activity", "Access Point"}},
        {wlan, "cmd wlan enable 3\r\n", 19, {"Wi-Fi Activity", "Client"}},
        {"uci show wireless", "", 21, {""}},
        // Link Quality is looked for after the access point's line: the first one is passed
        {"iwconfig",
         "Link Quality=1 x\r\nMode:Managed  Access Point: m\r\n"
         "Link Quality=5/7  Signal level=-6 dBm  Noise level=-9 dBm\r\n",
         22,
         {"m", NA, "5/7", "-6 dBm", "-9 dBm"}},
        {"iwconfig", "Tx-Power=off  Signal level=7/100\r\n", 22, {"", NA, NA, NA, NA}},
        {"ifconfig eth1", "", 27, {""}},
    };
    connect(frozen());
    for (const auto& c : cases) {
        server->clear_faults();
        ASSERT_TRUE(refresh());
        server->add_fault(output_of(c.command, c.output));
        ASSERT_TRUE(refresh());
        EXPECT_EQ(frozen_with(c.field, c.fields), record_text()) << c.command << ": " << c.output;
    }
}

// The unit's hardware and WAN device change what is asked: NONE skips the priority query
// (and shows "Not Available"), and the WAN device's word goes back to the unit only as an
// interface name, else "wlan0".
TEST_F(PollCycle, NoneHardwareSkipsThePriorityAndOnlyAnInterfaceNameIsAskedBack) {
    const struct {
        int cell_none, wifi_none;
        const char *wan, *asked;
    } cases[] = {{1, 0, "eth1", "eth1"},
                 {0, 1, "br-lan.1_x", "br-lan.1_x"},
                 {0, 0, "fifteen_chars_x", "fifteen_chars_x"},
                 {0, 0, "sixteen_chars_xy", "wlan0"},
                 {0, 0, "eth1;reboot", "wlan0"},
                 {0, 0, "", "wlan0"}};
    for (const auto& c : cases) {
        unitsim::Config config = frozen();
        if (c.cell_none) config.cell_hardware = "NONE";
        if (c.wifi_none) config.wifi_hardware = "NONE";
        config.wan_device = c.wan;
        again();
        connect(config);
        ASSERT_TRUE(refresh());
        std::vector<std::string> asked = kEighteen;
        bool none = c.cell_none || c.wifi_none;
        if (none) asked.erase(asked.begin() + 2);
        asked.back() = std::string("ifconfig ") + c.asked;
        EXPECT_EQ(asked, server->stats().commands) << c.wan;
        std::string priority = none ? "Not Available" : "cellular";
        EXPECT_EQ(priority.append(31 - priority.size(), ' '), device.priority); // padded
    }
}

// ---- power cycle and log capture ---------------------------------------------------------

// The four diagnostic commands, each printing "o", so the file's bytes are known exactly.
const char* const kFour[] = {"cmd showstate", "cmd showconfig", "cmd syslog", "cmd event dump"};
const std::string kState = "cmd showstate\r\no\r\nVORLIX:/# \r\n";
const std::string kTwo = kState + "cmd showconfig\r\no\r\nVORLIX:/# \r\n";
const std::string kWhole =
    kTwo + "cmd syslog\r\no\r\nVORLIX:/# \r\ncmd event dump\r\no\r\nVORLIX:/# \r\n";

typedef UnitSession DeviceRequests;

// One capture each: the commands asked, the file, the report after the plain tooltip, and the
// idle ticks waited: 300 to a 30 s silence, 600 after "cmd showconfig", at most the 200 of 3 ms
// in the 600 worker seconds (1 ms each) of a trickle every 20 ms, and never a whole silence for
// a capture that is cut or fails otherwise (ticks of 3 ms add up on a loaded machine). Output
// without end is compared up to its first "x", and a flood is cut at 8 MiB. A capture that did not
// end on its prompts is out of step; once a late rest has come, the next query takes none of it.
// Pieces and NUL bytes are the fuzz target's (fuzz_login_capture).
TEST_F(DeviceRequests, CaptureWritesEveryReplyAndReportsItsOutcome) {
    unitsim::Fault trickle = output_of(kFour[1], "x");
    trickle.endless_pause_ms = 20;
    unitsim::Fault flood = output_of(kFour[1], std::string(4096, 'x'));
    flood.endless_pause_ms = 0;
    const std::string missing = temp_path("missing") + "/unit.log", p(2026, 'p');
    const std::string endless = kState + "cmd showconfig\r\nx";
    const char *ok = "Generated Log File : ", *failed = "Failed To Generate Log File : ";
    const struct {
        std::vector<unitsim::Fault> faults;
        std::string file; // "" : a file in the test's folder
        size_t commands;
        std::string text;
        const char* report;
        unsigned long min_ticks, max_ticks;
        bool in_step = true;
        int second = 1000;
        size_t bytes = 0; // output without end: the file's size (1: any)
        int late_ms = 0;  // the longest wait for the rest of a late reply
    } cases[] = {
        {{}, "", 4, kWhole, ok, 0, 300},
        {{}, missing, 0, "", "Unable to create ", 0, 0},
        // the first piece, 2048 bytes, ends in "VORLIX:": a prompt across two is none
        {{output_of(kFour[0], p)},
         "",
         1,
         "cmd showstate\r\n" + p + "VORLIX:/# ",
         failed,
         301,
         400,
         false},
        {{silent(kFour[1])}, "", 2, kState, failed, 601, 700, false}, // showconfig: 60 s
        {{output_of(kFour[2], "Dec  6 boot\r\n", {12}, 1500)},
         "",
         3,
         kTwo + "cmd syslog\r\n",
         failed,
         301,
         400,
         false,
         1000,
         0,
         10000},
        {{trickle}, "", 2, endless, failed, 10, 250, false, 1, 1},
        {{flood}, "", 2, endless, failed, 0, 600, false, 10, kState.size() + (8u << 20)},
#ifndef _WIN32
        {{}, "/dev/full", 1, "", failed, 0, 300},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " " + c.text.substr(0, 40));
        again();
        std::vector<unitsim::Fault> faults = c.faults; // given first, they win
        for (const char* command : kFour)
            faults.push_back(output_of(command, "o\r\n"));
        connect(frozen(), faults);
        tick_ms = 3;
        second_ms = c.second;
        std::string path = c.file.empty() ? temp_path("unit.log") : c.file;
        request_log_capture(path.c_str());
        unsigned long before = idle_ticks_waited.load();
        EXPECT_EQ(c.in_step, poll_status(device));
        EXPECT_GE(idle_ticks_waited.load() - before, c.min_ticks);
        EXPECT_LE(idle_ticks_waited.load() - before, c.max_ticks);
        EXPECT_EQ(c.in_step ? REASON_NONE : REASON_OUT_OF_STEP, link_take_failure(REASON_NONE));
        EXPECT_FALSE(request_raised(REQUEST_LOG_CAPTURE));
        EXPECT_EQ(std::vector<std::string>(kFour, kFour + c.commands), server->stats().commands);
        std::string file = c.file == "/dev/full" ? "" : read_file(path); // endless zeros
        if (c.file.empty()) remove(path.c_str());
        EXPECT_TRUE(c.bytes < 2 || c.bytes == file.size()) << file.size();
        if (c.bytes) file.resize(std::min(file.size(), file.find_last_not_of('x') + 2));
        EXPECT_EQ(c.text, file);
        EXPECT_EQ((std::vector<std::string>{"tray 0 0", std::string("report ") + c.report + path}),
                  recorded());
        if (c.bytes) continue; // the unit talks on
        if (c.late_ms) sock_wait_tick(device.socket, c.late_ms);
        EXPECT_TRUE(refresh());
        EXPECT_EQ(kFrozen, record_text());
    }
}

} // namespace
