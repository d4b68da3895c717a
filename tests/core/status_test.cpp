// The status record and the status query against the stand-in, and the power cycle and log
// capture that poll_status serves. Expected texts are written by hand from the stand-in's
// frozen replies and the outputs the faults give it.
#include "test_support.h"

#include "status/device_requests.h"

#include <cstring>

using namespace ts;

namespace {

TEST(DeviceRecord, ResetBlanksEveryFieldToItsWidthAndPaddingStaysInside) {
    strcpy(device.activity_caption, "Wi-Fi Activity");
    reset_status();
    std::string widths;
    for (int i = 0; i < STATUS_FIELD_COUNT; ++i)
        widths += std::to_string(strspn(*status_field_at(device, i), " ")) + " ";
    EXPECT_EQ(widths, "31 31 31 31 20 20 31 31 31 31 31 31 31 31 31 31 31 31 31 0 " +
                          std::string("31 31 31 31 31 31 31 31 "));
    StatusField f;
    memset(f, 'y', sizeof f); // unterminated: padding must not run past the field
    pad_field(f, 31);
    EXPECT_EQ(std::string(31, 'y'), f);
}

const char* const kSignal = "cmd rfstats|grep 'Signal Quality'|awk -F: '{print $2}'";
// clang-format off
const std::vector<std::string> kEighteen = {
    "cmd device cell", "cmd device wifi", "cmd device priority", "cmd ver", "uptime", "cmd esn",
    "cmd modemid", "cmd ipadr", kSignal, "cmd data", "cmd odometer", "cmd gpsrmc", "cmd rfstats",
    "cmd wlan enable", "cmd wandevice", "uci show wireless", "iwconfig", "ifconfig eth1"};
// The frozen unit's record, field by field in record order, blanks cut.
const std::string kFrozen = "123456789012345|VX4410A|100.100.100.100|75 %|12.5 MB|3.1 MB|15.6 MB|"
    "1234.5 km|49.2742|N|-123.1853|W|41.4848 kph|1 day, 12:10|4.2.7|LTE|MC7354|RT5370|cellular|"
    "Cellular Activity|Client|VORLIX-AP|00:11:22:33:44:55|20 dBm|70/70|-40 dBm|-95 dBm|192.168.10.1|";
// clang-format on

// Every field with its trailing blanks cut; the widths: 15 for the data counters, 0 for the
// activity caption, 31 for the rest.
std::string record_text() {
    std::string text;
    for (int i = 0; i < STATUS_FIELD_COUNT; ++i) {
        std::string field = *status_field_at(device, i);
        std::string name = status_field_name(i);
        size_t width = name == "activity_caption" ? 0 : name.rfind("data_", 0) == 0 ? 15 : 31;
        EXPECT_GE(field.size(), width) << name;
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

TEST_F(PollCycle, OneCycleFillsEveryFieldAsksTheEighteenInOrderSplitsChangeNothingAFailureEndsIt) {
    EXPECT_FALSE(refresh()); // no socket: fails at once and keeps the request
    EXPECT_TRUE(request_raised(REQUEST_REFRESH));
    connect(frozen());
    ASSERT_TRUE(refresh());
    EXPECT_EQ(kFrozen, record_text());
    EXPECT_EQ(kEighteen, server->stats().commands);
    EXPECT_FALSE(request_raised(REQUEST_REFRESH));
    EXPECT_TRUE(poll_status(device)); // no request: nothing is asked
    EXPECT_EQ(18u, server->stats().commands.size());
    // Every reply cut after its first byte, between the echo's CR and LF and in the prompt.
    for (const std::string& command : kEighteen) {
        size_t length = server->reply_for(command).size();
        unitsim::Fault f;
        f.command = command, f.split_pause_ms = 3;
        f.split_at = {1, command.size() + 1, length - 6, length - 1};
        server->add_fault(f);
    }
    ASSERT_TRUE(refresh());
    EXPECT_EQ(kFrozen, record_text());
    // A failed exchange (step 12) ends the cycle: the fields after it keep their values.
    unitsim::Config config = frozen();
    config.firmware = "5.0.1", config.ssid = "OTHER-AP";
    server->set_config(config);
    server->clear_faults();
    unitsim::Fault cut;
    cut.command = "cmd gpsrmc", cut.close_after = 4;
    server->add_fault(cut);
    EXPECT_FALSE(refresh());
    EXPECT_EQ(padded("5.0.1") + padded("VORLIX-AP"),
              device.firmware_version + std::string(device.ap_ssid));
    EXPECT_EQ(48u, server->stats().commands.size());
}

// One cycle of the frozen replies, then one in which the command prints the given output:
// the fields that change, from the first one named (index in record order) on.
TEST_F(PollCycle, EachReplyRuleFillsItsFields) {
    const std::string s50(50, '7'), s31(31, '7');
    const char *gps = "cmd gpsrmc", *wlan = "cmd wlan enable", *NA = "Not Available";
    // clang-format off
    const struct { const char* command; std::string output; int field; std::vector<std::string> fields; } cases[] = {
        {"cmd esn", "8012345\r\n", 0, {"8012345"}},
        {"cmd esn", "A100001234567\r\n", 0, {""}}, // a letter first
        {"cmd esn", std::string(40, '9') + "\r\n", 0, {std::string(31, '9')}},
        {"cmd esn", "", 0, {""}},
        {"cmd modemid", "cmd modemid -X\r\n", 1, {""}},
        {"cmd ipadr", "", 2, {""}},
        {kSignal, "%\r\n", 3, {""}},
        {kSignal, "75%\r\n", 3, {"75 %"}},
        {kSignal, "", 3, {"VORLIX:/# %"}}, // the prompt is the first word
        // an empty line is skipped; "RX: n/a" is no number; no third line: Total stays
        {"cmd data", "TX: 99.9\r\n\r\nRX: n/a", 4, {"99.9 MB", "", "15.6 MB"}},
        {"cmd data", "Sent 1\r\nRX: 2\r\nTotal 3\r\n", 4, {"", "2 MB", ""}},
        {"cmd odometer", "km?\r\n", 7, {""}},
        {"cmd odometer", "", 7, {""}},
        // south and east, 49 degrees 5.0123 minutes, 10 knots
        {gps, "$GPRMC,1,A,4905.0123,S,00130.0,E,10.0,0\r\n", 8, {"-49.0835", "S", "1.5000", "E", "18.5200 kph"}},
        // pieces 4 and 5 are the date and "N*51"; speed and the E/W letter stay
        {gps, "$GPRMC,123519,V,,,,,,,230394,,,N*51\r\n", 8, {"2304.5667", "N*51", "", "W", "41.4848 kph"}},
        {gps, "$GPRMC,,,123519,V\r\n", 8, {"", "N", "", "W"}},
        {gps, "$GPRMC,1,A,4916.45," + s50 + ",1," + s50 + ",1\r\n", 8, {"49.2742", s31, "0.0167", s31, "1.8520 kph"}},
        {"uptime", " 12:10:05 up 3 min, load average: 0.08\r\n", 13, {"N/A"}}, // one blank
        {"uptime", "up " + std::string(40, 'x') + ",  load\r\n", 13, {std::string(31, 'x')}},
        {"cmd ver", "", 14, {"VORLIX:/#"}},
        {"cmd rfstats", "rfdiag.network3g=1\r\nrfdiag.network4g=1\r\n", 15, {"4G"}},
        {"cmd rfstats", "rfdiag.network2g=1\r\n", 15, {"2G"}},
        {"cmd rfstats", "", 15, {NA}},
        {wlan, "cmd wlan enable 0\r\n", 19, {"Cellular Activity", "None"}},
        {wlan, "cmd wlan enable 2\r\n", 19, {"Cellular Activity", "Access Point"}},
        {wlan, "cmd wlan enable 3\r\n", 19, {"Wi-Fi Activity", "Client"}},
        {"uci show wireless", "", 21, {""}},
        // Link Quality is looked for after the access point's line: the first one is passed
        {"iwconfig", "Link Quality=1/70 x\r\nMode:Managed  Access Point: 0A:0B:0C:0D:0E:0F\r\nLink Quality=55/70  Signal level=-61 dBm  Noise level=-92 dBm\r\n",
         22, {"0A:0B:0C:0D:0E:0F", NA, "55/70", "-61 dBm", "-92 dBm"}},
        {"iwconfig", "Tx-Power=off  Signal level=7/100\r\n", 22, {"", NA, NA, NA, NA}},
        {"ifconfig eth1", "", 27, {""}},
    };
    // clang-format on
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
    // clang-format off
    const struct { const char *cell, *wifi, *wan, *last; } cases[] = {
        {"NONE", "RT5370", "eth1", "ifconfig eth1"}, {"MC7354", "NONE", "br-lan.1_x", "ifconfig br-lan.1_x"},
        {"MC7354", "RT5370", "fifteen_chars_x", "ifconfig fifteen_chars_x"},
        {"MC7354", "RT5370", "sixteen_chars_xy", "ifconfig wlan0"},
        {"MC7354", "RT5370", "eth1;reboot", "ifconfig wlan0"}, {"MC7354", "RT5370", "$(reboot)", "ifconfig wlan0"},
        {"MC7354", "RT5370", "eth1 ", "ifconfig wlan0"}, {"MC7354", "RT5370", "", "ifconfig wlan0"}};
    // clang-format on
    for (const auto& c : cases) {
        unitsim::Config config = frozen();
        config.cell_hardware = c.cell, config.wifi_hardware = c.wifi, config.wan_device = c.wan;
        again();
        connect(config);
        strcpy(device.priority, "cellular"); // a previous value that must go
        ASSERT_TRUE(refresh());
        std::vector<std::string> asked = kEighteen;
        bool none = strcmp(c.cell, "NONE") == 0 || strcmp(c.wifi, "NONE") == 0;
        if (none) asked.erase(asked.begin() + 2);
        asked.back() = c.last;
        EXPECT_EQ(asked, server->stats().commands) << c.wan;
        EXPECT_EQ(padded(none ? "Not Available" : "cellular"), device.priority);
    }
}

// ---- power cycle and log capture ---------------------------------------------------------

// Fixed outputs of the four diagnostic commands, so the file's bytes are known exactly.
const char* const kFour[] = {"cmd showstate", "cmd showconfig", "cmd syslog", "cmd event dump"};
const std::string kState = "cmd showstate\r\nstate 1\r\nVORLIX:/# \r\n";
const std::string kWhole = kState + "cmd showconfig\r\nconfig\r\nVORLIX:/# \r\n" +
                           "cmd syslog\r\nDec  6 boot\r\nVORLIX:/# \r\n" +
                           "cmd event dump\r\n 101 POWER_ON\r\nVORLIX:/# \r\n";

class DeviceRequests : public UnitSession {
  protected:
    // The faults given first win over the fixed outputs.
    void connect_fixed(std::vector<unitsim::Fault> first = {}) {
        const char* outputs[] = {"state 1\r\n", "config\r\n", "Dec  6 boot\r\n",
                                 " 101 POWER_ON\r\n"};
        for (int i = 0; i < 4; ++i)
            first.push_back(output_of(kFour[i], outputs[i]));
        connect(frozen(), first);
    }
};

// One capture each: the commands asked, the file (its last byte repeated as often as it came
// when `more`), the report after the plain tooltip, and the idle ticks waited. The link stays
// in step for the next query only when every reply ended on its prompt.
TEST_F(DeviceRequests, CaptureWritesEveryReplyAndReportsItsOutcome) {
    unitsim::Fault split = output_of(kFour[0], "state 1\r\n"); // "VORLIX:" | "/# "
    split.split_at = {kState.size() - 5}, split.split_pause_ms = 20;
    unitsim::Fault flood = output_of(kFour[1], "x"), trickle = flood;
    flood.endless_pause_ms = 0, trickle.endless_pause_ms = 2;
    const std::string missing = temp_path("missing") + "/unit.log", nb("a\0b", 3);
    std::string nul; // a NUL byte amid each output
    std::vector<unitsim::Fault> nuls;
    for (const char* command : kFour) {
        nul += command + ("\r\n" + nb + "\r\nVORLIX:/# \r\n");
        nuls.push_back(output_of(command, nb + "\r\n"));
    }
    std::string big(5000, 's'), longer = kWhole; // more than two pieces of 2048: all kept
    longer.replace(longer.find("Dec  6 boot"), 11, big);
    const char *ok = "Generated Log File : ", *failed = "Failed To Generate Log File : ";
    const unsigned long any = 1ul << 30;
    // clang-format off
    const struct {
        std::vector<unitsim::Fault> faults; std::string file; // "" : a file in the test's folder
        size_t commands; std::string text; const char* report; unsigned long min_ticks, max_ticks;
        size_t bound = 8u << 20; int second = 1000; bool in_step = true, more = false;
    } cases[] = {
        {{}, "", 4, kWhole, ok, 0, 100},
        {nuls, "", 4, nul, ok, 0, 100}, {{output_of(kFour[2], big + "\r\n")}, "", 4, longer, ok, 0, 100},
        {{}, missing, 0, "", "Unable to create ", 0, 0},
        {{split}, "", 1, kState.substr(0, kState.size() - 2), failed, 301, 400, 8u << 20, 1000, false},
        {{silent(kFour[1])}, "", 2, kState, failed, 601, 700, 8u << 20, 1000, false}, // showconfig: 60 s
        {{flood}, "", 2, kState + "cmd showconfig\r\n" + std::string(4000 - 16, 'x'), failed, 0, any, 4000, 1000, false},
        {{trickle}, "", 2, kState + "cmd showconfig\r\nx", failed, 0, any, 8u << 20, 1, false, true},
#ifndef _WIN32
        {{}, "/dev/full", 1, "", failed, 0, 100},
#endif
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " " + c.text.substr(0, 40));
        again();
        connect_fixed(c.faults);
        tick_ms = 3, second_ms = c.second, capture_reply_limit = c.bound;
        std::string path = c.file.empty() ? temp_path("unit.log") : c.file;
        request_log_capture(path.c_str());
        unsigned long before = idle_ticks_waited.load();
        EXPECT_EQ(c.in_step, poll_status(device));
        capture_reply_limit = 8u << 20;
        EXPECT_GE(idle_ticks_waited.load() - before, c.min_ticks);
        EXPECT_LE(idle_ticks_waited.load() - before, c.max_ticks);
        EXPECT_FALSE(request_raised(REQUEST_LOG_CAPTURE));
        EXPECT_EQ(std::vector<std::string>(kFour, kFour + c.commands), server->stats().commands);
        std::string file = c.file == "/dev/full" ? "" : read_file(path); // endless zeros
        if (c.more) file.resize(std::min(file.size(), file.find_last_not_of(c.text.back()) + 2));
        EXPECT_EQ(c.text, file);
        EXPECT_EQ((std::vector<std::string>{"tray 0 0", std::string("report ") + c.report + path}),
                  recorded());
        if (c.file.empty()) remove(path.c_str());
        if (!c.in_step) continue;
        EXPECT_TRUE(refresh());
        EXPECT_EQ(padded("123456789012345"), device.imei);
    }
}

} // namespace
