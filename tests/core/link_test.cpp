// The console link against the unit stand-in.
#include "test_support.h"

#include "link/unit_console.h"

#include <ctime>

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
}

// Each fault, the reason noted by the lowest layer that sees it, and the tooltip that shows it
// while the link is down. Only a dotted address and a port the settings' rule takes are
// connected to: no name lookup. A login answers whole prompts only, with the answers the unit
// read and the idle ticks it waited (tick given), within its bounds of 150 silent ticks, 600
// ticks of time and 64 KiB. The drop after each lowers new settings.
TEST_F(ConsoleLink, EachFailureNotesItsReasonForTheTooltip) {
    unitsim::Server holder;
    const std::string closed = std::to_string(refusing_port(holder));
    unitsim::Config wrong = frozen();
    unitsim::Config mute = frozen();
    unitsim::Config unanswered = frozen();
    unitsim::Config split = frozen();
    unitsim::Config flood = frozen();
    unitsim::Config babble = frozen();
    wrong.password = "other"; // asked again after each password, closed after the third
    mute.never_login = true;
    unanswered.never_answer = true;
    split.login_split = {3}; // "log", then silence: no whole prompt
    split.login_split_pause_ms = 5000;
    flood.login_babble_ms = 0;
    babble.login_babble_ms = 5;
    const std::vector<std::string> pair = {"admin", "vorlix"};
    const std::vector<std::string> thrice = {"admin",  "vorlix", "admin",
                                             "vorlix", "admin",  "vorlix"};
    const char *none = "no settings in telnet.conf", *lo = "127.0.0.1", *no = "no prompt from";
    enum { OPEN, RAISED, LOGIN, QUERY, POWER };
    const struct {
        unitsim::Config config;
        std::vector<unitsim::Fault> faults;
        std::string port; // "": the stand-in's
        int stage, reason;
        std::string tip;
        std::vector<std::string> answers = {};
        const char* ip = "127.0.0.1";
        int tick = 1;
        unsigned long min_ticks = 0, max_ticks = 150;
    } cases[] = {
        {frozen(), {}, "23x", OPEN, REASON_NO_SETTINGS, none},
        {frozen(), {}, "", OPEN, REASON_NO_SETTINGS, none, {}, "localhost"},
        {frozen(), {}, closed, OPEN, REASON_REFUSED, "refused by"},
        {unanswered, {}, "", OPEN, REASON_NO_ANSWER, "no answer from"},
        {frozen(), {}, "", RAISED, REASON_NEW_SETTINGS, "new settings to", {}, lo, 1, 0, 0},
        {wrong, {}, "", LOGIN, REASON_LOGIN_REJECTED, "login rejected by", thrice},
        {mute, {}, "", LOGIN, REASON_NO_PROMPT, no, {}, lo, 1, 151, 151},
        {split, {}, "", LOGIN, REASON_NO_PROMPT, no, {}, lo, 1, 151, 160},
        {flood, {}, "", LOGIN, REASON_NO_PROMPT, no, {}, lo, 1 << 20},     // 64 KiB
        {babble, {}, "", LOGIN, REASON_NO_PROMPT, no, {}, lo, 1, 0, 2000}, // 600 ticks
        {frozen(), {silent("cmd esn")}, "", QUERY, REASON_UNIT_SILENT, "unit silent at", pair},
        {frozen(),
         {closing("cmd device cell", 0)},
         "",
         QUERY,
         REASON_CLOSED,
         "closed by the unit at",
         pair},
        {frozen(),
         {silent("cmd pwrmode 2")},
         "",
         POWER,
         REASON_OUT_OF_STEP,
         "out of step with",
         pair},
        {frozen(), {}, "", POWER, REASON_POWER_CYCLE, "power cycle of", pair},
    };
    const time_t at = 1700000000;
    char since[32];
    strftime(since, sizeof since, " since %H:%M, retrying", localtime(&at));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tip);
        again();
        tick_ms = c.tick;
        open(c.config, c.faults, c.ip, c.port);
        if (c.stage == RAISED) raise_reconnect(REASON_NEW_SETTINGS);
        const unsigned long before = idle_ticks_waited.load();
        EXPECT_EQ(c.stage == RAISED || c.stage == LOGIN, c.stage > OPEN && link_login(device));
        EXPECT_GE(idle_ticks_waited.load() - before, c.min_ticks);
        EXPECT_LE(idle_ticks_waited.load() - before, c.max_ticks);
        EXPECT_EQ(c.answers, server->stats().login_answers);
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
        link_drop(device);
        EXPECT_EQ(reconnect_request.load(), 0);
        EXPECT_EQ(device.socket.load(), NO_SOCKET);
    }
}

} // namespace
