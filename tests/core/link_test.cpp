// The console link against the unit stand-in, and "telnet.conf" on a file of this test.
#include "test_support.h"

#include "link/settings_file.h"
#include "link/unit_console.h"

#include <cstring>

namespace fs = std::filesystem;
using namespace ts;

namespace {

class ConsoleLink : public UnitSession {};

// "cmd ver" answered as the fault shapes it; link_receive waits for the prompt, limit 30 s:
// its result, the reply and the idle ticks it waited (-1: not counted).
TEST_F(ConsoleLink, ReceiveCollectsUpToThePromptTheBufferTheCloseOrTheIdleLimit) {
    const std::string reply = "cmd ver\r\n4.2.7\r\nVORLIX:/# ";
    unitsim::Fault split = output_of("cmd ver", "4.2.7\r\n"), closing = split, start = split,
                   overflow = output_of("cmd ver", std::string(3000, 'x') + "\r\n");
    split.split_at = {reply.size() - 5}; // "VORLI" | "X:/# "
    closing.close_after = 10;
    start.split_at = {3}, start.split_pause_ms = 300;
    overflow.split_at = {1500}; // the second piece runs past the buffer
    // clang-format off
    const struct { unitsim::Fault fault; const char* marker; bool ok; std::string reply; long ticks; } cases[] = {
        {split, DEVICE_PROMPT, true, reply, -1},
        {overflow, DEVICE_PROMPT, false, "cmd ver\r\n" + std::string(2039, 'x'), -1},
        {closing, DEVICE_PROMPT, false, "cmd ver\r\n4", -1}, {silent("cmd ver"), DEVICE_PROMPT, false, "", 301},
        {start, nullptr, true, "cmd", -1}}; // no marker: the first piece
    // clang-format on
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
        long ticks = static_cast<long>(idle_ticks_waited.load() - before);
        EXPECT_EQ(c.reply, block);
        EXPECT_EQ(std::string(block + REPLY_BUFFER_SIZE, 16), std::string(16, 'Z'));
        EXPECT_EQ(c.ticks < 0 ? ticks : c.ticks, ticks);
    }
    EXPECT_EQ(link_send(NO_SOCKET, "cmd ver\r"), -1);
}

// The login on a fresh connection, with new settings saved or not: its outcome, the answers
// the unit read, the idle ticks (-1: not counted); the drop after it lowers the request.
TEST_F(ConsoleLink, HandshakeAnswersWholePromptsAndGivesUpAfter151SilentTicksOrOnNewSettings) {
    unitsim::Config mute = frozen(), split = frozen();
    mute.never_login = true;
    split.login_split = {3}; // "log" | "in: ": no whole prompt, each piece restarts the count
    // clang-format off
    const struct { unitsim::Config config; int result; std::vector<std::string> answers; long ticks; int raised; } cases[] = {
        {frozen(), 0, {"admin", "vorlix"}, -1, 0}, {mute, 1, {}, 151, 0}, {split, 1, {}, -1, 0}, {frozen(), 1, {}, 0, 1}};
    // clang-format on
    for (const auto& c : cases) {
        again();
        tick_ms = 2;
        server = new unitsim::Server(c.config);
        set_settings("127.0.0.1", std::to_string(server->start(0)));
        device.socket = link_open(device);
        reconnect_request = c.raised;
        unsigned long before = idle_ticks_waited.load();
        EXPECT_EQ(c.result, link_login(device));
        long ticks = static_cast<long>(idle_ticks_waited.load() - before);
        EXPECT_EQ(c.ticks < 0 ? ticks : c.ticks, ticks);
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
    unitsim::Server gone; // stopped at once: nothing listens on its port
    const std::string closed = std::to_string(gone.start(0));
    gone.stop();
    const std::string lo = "127.0.0.1";
    // clang-format off
    const struct { std::string ip, port; bool ok; } cases[] = {
        {lo, p, true}, {"localhost", p, false}, {"127.0.0.1.5", p, false}, {lo, closed, false},
        {lo, "telnet", false}, {lo, p + "x", false}, {lo, std::to_string(port + 65536), false},
        {lo, " " + p, false}, {lo, "+" + p, false}, {lo, "0", false}, {lo, "", false}};
    // clang-format on
    for (const auto& c : cases) {
        set_settings(c.ip.c_str(), c.port);
        device.socket = link_open(device);
        EXPECT_EQ(c.ok, device.socket.load() != NO_SOCKET) << c.ip << ":\"" << c.port << "\"";
        link_close(device);
    }
}

} // namespace
