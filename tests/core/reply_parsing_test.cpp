// The parsing helpers of the poll cycle on fixed texts, including their bounds.
#include "status/reply_parsing.h"

#include <gtest/gtest.h>
#include <cstring>
#include <string>

namespace {

struct Field {
    char text[32];
    char guard[8]; // must stay untouched: nothing is written past the 32 bytes
    Field(const char* initial = "") {
        memset(text, 0, sizeof text);
        memset(guard, 'G', sizeof guard);
        strncpy(text, initial, 31);
    }
    bool intact() const { return std::string(guard, 8) == "GGGGGGGG"; }
};

TEST(ReplyParsing, SkipEchoLineSkipsTheWholeRunOfLineEnds) {
    EXPECT_STREQ("12.5\r\nVORLIX:/#", skip_echo_line("cmd data\r\n\r\n12.5\r\nVORLIX:/#"));
    EXPECT_STREQ("x", skip_echo_line("echo\nx"));
    EXPECT_EQ(nullptr, skip_echo_line("no line end at all"));
    EXPECT_EQ(nullptr, skip_echo_line("only an echo\r\n"));
    EXPECT_EQ(nullptr, skip_echo_line(""));
}

TEST(ReplyParsing, ScanFieldMatchesLiteralsAndWhiteSpaceAsSscanfDoes) {
    Field f("old");
    scan_field("cmd device cell MC7354\r\nVORLIX:/#", "cmd device cell %s", f.text, 31);
    EXPECT_EQ("MC7354" + std::string(25, ' '), f.text);

    // a blank in the pattern matches any run of white space, none included
    Field g("old");
    scan_field("cmd modemid\t\r\n VX4410A", "cmd modemid %s", g.text, 0);
    EXPECT_STREQ("VX4410A", g.text);
    Field h("old");
    scan_field("TX:12.5", "TX: %s", h.text, 0);
    EXPECT_STREQ("12.5", h.text);

    // no match: the field keeps its text, then is padded
    Field k("keep");
    scan_field("cmd device wifi RT5370", "cmd device cell %s", k.text, 8);
    EXPECT_STREQ("keep    ", k.text);
    Field n("keep");
    scan_field(nullptr, "%s", n.text, 0);
    EXPECT_STREQ("keep", n.text);
    Field e("keep");
    scan_field("  \r\n ", "%s", e.text, 0);
    EXPECT_STREQ("keep", e.text);
}

TEST(ReplyParsing, ScanFieldCutsALongWordTo31Characters) {
    std::string word(200, 'A');
    Field f;
    scan_field((word + " tail").c_str(), "%s", f.text, 31);
    EXPECT_EQ(std::string(31, 'A'), f.text);
    EXPECT_TRUE(f.intact());
}

TEST(ReplyParsing, UptimeIsTheTextBetweenUpAndLoad) {
    Field f;
    uptime_extract(" 12:10:05 up 1 day, 12:10,  load average: 0.08, 0.03, 0.01\r\nVORLIX:/#",
                   f.text);
    EXPECT_STREQ("1 day, 12:10", f.text);
    Field g;
    uptime_extract("12:10:05 up 3 min, load average: 0.08", g.text); // one blank only
    EXPECT_STREQ("N/A", g.text);
    Field h;
    uptime_extract(nullptr, h.text);
    EXPECT_STREQ("N/A", h.text);
    Field l;
    uptime_extract(("up " + std::string(100, 'x') + ",  load").c_str(), l.text);
    EXPECT_EQ(std::string(31, 'x'), l.text);
    EXPECT_TRUE(l.intact());
}

TEST(ReplyParsing, KnotsBecomeKilometresPerHour) {
    Field f;
    knots_to_kph("10.0", f.text);
    EXPECT_STREQ("18.5200", f.text);
    Field z;
    knots_to_kph("", z.text);
    EXPECT_STREQ("0.0000", z.text);
    Field big;
    knots_to_kph("1e300", big.text);
    EXPECT_EQ(31u, strlen(big.text));
    EXPECT_TRUE(big.intact());
}

TEST(ReplyParsing, CoordinatesBecomeSignedDegrees) {
    Field lat, lon, zero, north;
    nmea_to_degrees("4916.45", lat.text, "N", "");
    EXPECT_STREQ("49.2742", lat.text);
    nmea_to_degrees("12311.12", lon.text, "", "W");
    EXPECT_STREQ("-123.1853", lon.text);
    // the fraction's leading zero stays: 49 degrees 5.0123 minutes
    nmea_to_degrees("4905.0123", zero.text, "N", "");
    EXPECT_STREQ("49.0835", zero.text);
    nmea_to_degrees("4916.45", north.text, "S", "");
    EXPECT_STREQ("-49.2742", north.text);
}

TEST(ReplyParsing, ARawCoordinateWithoutANumberShowsNothing) {
    Field empty("previous"), letters("previous");
    nmea_to_degrees("", empty.text, "N", "");
    EXPECT_STREQ("", empty.text);
    nmea_to_degrees("A", letters.text, "N", "");
    EXPECT_STREQ("", letters.text);
    Field huge;
    nmea_to_degrees("99999999999999999999.9999999999999999999999999999999", huge.text, "", "W");
    EXPECT_LE(strlen(huge.text), 31u);
    EXPECT_TRUE(huge.intact());
}

} // namespace
