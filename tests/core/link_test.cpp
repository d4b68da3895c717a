// The console link against the unit stand-in.
#include "test_support.h"

#include "link/settings_file.h"
#include "status/device_requests.h"
#include "link/unit_console.h"

#include <cstring>
#include <ctime>

namespace fs = std::filesystem;
using namespace ts;

namespace {

class ConsoleLink : public UnitSession {};

// "cmd ver" answered as the fault shapes it; link_receive waits for the prompt, limit 30 s:
// its result, the reply and the idle ticks it waited, at least and at most.
TEST_F(ConsoleLink, ReceiveCollectsUpToThePromptTheBufferTheCloseOrTheIdleLimit) {
    const std::string reply = "cmd ver\r\n4.2.7\r\nVORLIX:/# ";
    const std::string out = "4.2.7\r\n";
    unitsim::Fault closing = output_of("cmd ver", out);
    closing.close_after = 10;
    // The output after some silent ticks restarts the count of the silence that follows.
    unitsim::Fault late = output_of("cmd ver", out, {9}, 300);
    late.no_prompt = true;
    // The second piece of the overflow runs past the buffer. The last row is the stand-in's own
    // split: the first piece alone, the rest long after the row is done.
    const std::string x = std::string(3000, 'x') + "\r\n";
    const struct {
        unitsim::Fault fault;
        const char* marker;
        bool ok;
        std::string reply;
        unsigned long min_ticks, max_ticks;
    } cases[] = {
        {output_of("cmd ver", out, {reply.size() - 5}), DEVICE_PROMPT, true, reply, 0, 300},
        {output_of("cmd ver", x, {1500}), DEVICE_PROMPT, false,
         "cmd ver\r\n" + std::string(2039, 'x'), 0, 300},
        {closing, DEVICE_PROMPT, false, "cmd ver\r\n4", 0, 300},
        {silent("cmd ver"), DEVICE_PROMPT, false, "", 301, 301},
        {late, DEVICE_PROMPT, false, "cmd ver\r\n4.2.7\r\n", 302, 1000},
        {output_of("cmd ver", out, {3}, 5000), nullptr, true, "cmd", 0, 300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        again();
        connect(frozen(), {c.fault});
        tick_ms = 2;
        ASSERT_EQ(link_send(device.socket, "cmd ver\r"), 8);
        char block[REPLY_BUFFER_SIZE + 16]; // its tail past the buffer must stay untouched
        memset(block, 'Z', sizeof block);
        unsigned long before = idle_ticks_waited.load();
        EXPECT_EQ(c.ok, link_receive(device.socket, block, REPLY_BUFFER_SIZE, c.marker, 30));
        EXPECT_GE(idle_ticks_waited.load() - before, c.min_ticks);
        EXPECT_LE(idle_ticks_waited.load() - before, c.max_ticks);
        EXPECT_EQ(c.reply, block);
        EXPECT_EQ(std::string(block + REPLY_BUFFER_SIZE, 16), std::string(16, 'Z'));
    }
    EXPECT_EQ(link_send(NO_SOCKET, "cmd ver\r"), -1);
}

// The login on a fresh connection, with the tick given: its outcome, the answers
// the unit read and the idle ticks, at least and at most. The drop after it lowers new
// settings. Its reasons are in the table of reasons.
TEST_F(ConsoleLink, HandshakeAnswersWholePromptsWithinItsBoundsOrSaysWhy) {
    unitsim::Config mute = frozen();
    unitsim::Config split = frozen();
    unitsim::Config wrong = frozen();
    unitsim::Config flood = frozen();
    unitsim::Config babble = frozen();
    mute.never_login = true;
    split.login_split = {3}; // "log", then silence: no whole prompt
    split.login_split_pause_ms = 5000;
    wrong.password = "other"; // asked again after each password, closed after the third
    flood.login_babble_ms = 0;
    babble.login_babble_ms = 5;
    const std::vector<std::string> pair = {"admin", "vorlix"};
    const std::vector<std::string> thrice = {"admin",  "vorlix", "admin",
                                             "vorlix", "admin",  "vorlix"};
    const struct {
        unitsim::Config config;
        int tick, raised, result;
        std::vector<std::string> answers;
        unsigned long min_ticks, max_ticks;
    } cases[] = {
        {frozen(), 2, 0, 0, pair, 0, 150},  {mute, 2, 0, 1, {}, 151, 151},
        {split, 2, 0, 1, {}, 151, 160},     {wrong, 2, 0, 1, thrice, 0, 150},
        {flood, 1 << 20, 0, 1, {}, 0, 150}, // 64 KiB without the prompt
        {babble, 2, 0, 1, {}, 0, 2000},     // 600 ticks of time without it
        {frozen(), 2, 1, 1, {}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.max_ticks);
        again();
        tick_ms = c.tick;
        server = new unitsim::Server(c.config);
        set_settings("127.0.0.1", std::to_string(server->start(0)));
        device.socket = link_open(device);
        if (c.raised) raise_reconnect(REASON_NEW_SETTINGS);
        unsigned long before = idle_ticks_waited.load();
        EXPECT_EQ(c.result, link_login(device));
        EXPECT_GE(idle_ticks_waited.load() - before, c.min_ticks);
        EXPECT_LE(idle_ticks_waited.load() - before, c.max_ticks);
        EXPECT_EQ(c.answers, server->stats().login_answers);
        link_drop(device);
        EXPECT_EQ(reconnect_request.load(), 0);
        EXPECT_EQ(device.socket.load(), NO_SOCKET);
    }
}

// Only a dotted address and a decimal port 1 to 65535 are connected to: no name lookup, and
// no text that some other port could be read from.
TEST_F(ConsoleLink, OnlyADottedAddressAndADecimalPortFrom1To65535AreConnectedTo) {
    server = new unitsim::Server(frozen());
    const int port = server->start(0);
    const std::string p = std::to_string(port);
    const std::string lo = "127.0.0.1";
    const struct {
        std::string ip, port;
        bool ok;
    } cases[] = {
        {lo, p, true},         {"localhost", p, false}, {"127.0.0.1.5", p, false},

        {lo, "telnet", false}, {lo, p + "x", false},    {lo, std::to_string(port + 65536), false},
        {lo, " " + p, false},  {lo, "+" + p, false},    {lo, "0", false},
        {lo, "", false},
    };
    for (const auto& c : cases) {
        set_settings(c.ip.c_str(), c.port);
        device.socket = link_open(device);
        EXPECT_EQ(c.ok, device.socket.load() != NO_SOCKET) << c.ip << ":\"" << c.port << "\"";
        link_close(device);
    }
}

// Each reason, noted by the lowest layer that sees its fault, and the tooltip that shows it
// while the link is down.
TEST_F(ConsoleLink, EachFailureNotesItsReasonForTheTooltip) {
    unitsim::Server holder;
    const std::string closed = std::to_string(refusing_port(holder));
    unitsim::Config wrong = frozen();
    unitsim::Config mute = frozen();
    unitsim::Config unanswered = frozen();
    wrong.password = "other";
    mute.never_login = true;
    unanswered.never_answer = true;
    unitsim::Fault cut;
    cut.command = "cmd device cell";
    cut.close_after = 0;
    enum { OPEN, LOGIN, QUERY, POWER };
    const struct {
        unitsim::Config config;
        std::vector<unitsim::Fault> faults;
        std::string port; // "": the stand-in's
        int stage, reason;
        std::string tip;
    } cases[] = {
        {frozen(), {}, "23x", OPEN, REASON_NO_SETTINGS, "no settings in telnet.conf"},
        {frozen(), {}, closed, OPEN, REASON_REFUSED, "refused by"},
        {unanswered, {}, "", OPEN, REASON_NO_ANSWER, "no answer from"},
        {wrong, {}, "", LOGIN, REASON_LOGIN_REJECTED, "login rejected by"},
        {mute, {}, "", LOGIN, REASON_NO_PROMPT, "no prompt from"},
        {frozen(), {silent("cmd esn")}, "", QUERY, REASON_UNIT_SILENT, "unit silent at"},
        {frozen(), {cut}, "", QUERY, REASON_CLOSED, "closed by the unit at"},
        {frozen(), {silent("cmd pwrmode 2")}, "", POWER, REASON_OUT_OF_STEP, "out of step with"},
        {frozen(), {}, "", POWER, REASON_POWER_CYCLE, "power cycle of"},
    };
    const time_t at = 1700000000;
    char since[32];
    strftime(since, sizeof since, " since %H:%M, retrying", localtime(&at));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tip);
        again();
        tick_ms = 1;
        server = new unitsim::Server(c.config);
        for (const unitsim::Fault& f : c.faults)
            server->add_fault(f);
        const std::string port = std::to_string(server->start(0));
        set_settings("127.0.0.1", c.port.empty() ? port : c.port);
        device.socket = link_open(device);
        EXPECT_EQ(c.stage == LOGIN, c.stage > OPEN && link_login(device) != 0);
        if (c.stage == POWER) raise_request(REQUEST_POWER_CYCLE);
        EXPECT_FALSE(c.stage > LOGIN && refresh());
        EXPECT_EQ(c.reason, link_take_failure(REASON_NONE));
        link_status_down(c.reason, at);
        LinkStatus status;
        link_status_get(&status);
        char tip[128];
        link_down_tip(status, device.ip, device.port, tip, sizeof tip);
        const std::string where =
            c.reason != REASON_NO_SETTINGS ? " 127.0.0.1:" + std::string(device.port) : "";
        EXPECT_EQ("VORLIX Viewer: " + c.tip + where + since, tip);
    }
}

// A capture whose reply stalls past its limit and finishes later is out of step, so the link
// is dropped. Had it been kept, the late rest is waiting when the next query starts and is
// discarded: every field is the unit's own, none from another reply.
TEST_F(ConsoleLink, ALateReplyIsNeverTakenForTheNextCommand) {
    // The echo, then the rest after the capture has given up.
    connect(frozen(), {output_of("cmd syslog", "Dec  6 boot\r\n", {12}, 1500)});
    tick_ms = 3;
    const std::string log = temp_path("unit.log");
    request_log_capture(log.c_str());
    EXPECT_FALSE(poll_status(device));
    EXPECT_EQ(REASON_OUT_OF_STEP, link_take_failure(REASON_NONE));
    sock_wait_tick(device.socket, 10000); // the rest has come
    EXPECT_TRUE(refresh());
    EXPECT_EQ(padded("MC7354"), device.cell_hardware);
    EXPECT_EQ(padded("123456789012345"), device.imei);
    EXPECT_EQ(padded("100.100.100.100"), device.wwan_ip);
    remove(log.c_str());
}

} // namespace
