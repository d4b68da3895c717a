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

// ---- "telnet.conf" ---------------------------------------------------------------------------

class SettingsFile : public ::testing::Test {
  protected:
    void SetUp() override {
        device_record_init();
        settings_set_path((path_ = temp_path("telnet.conf")).c_str());
    }
    void TearDown() override { settings_set_path("telnet.conf"), fs::remove_all(path_); }
    std::string fields() {
        return std::string(device.ip) + "|" + device.port + "|" + device.username + "|" +
               device.password;
    }
    std::string path_;
};

TEST_F(SettingsFile, WrittenFileHasTheExactFormatReadsBackWithCrAndAFailedWriteKeepsIt) {
    ASSERT_TRUE(settings_write("192.168.13.31", "23", "admin", "vorlix"));
    EXPECT_EQ(read_file(path_),
              "IP=\"192.168.13.31\"\nPORT=\"23\"\nUSERNAME=\"admin\"\nPASSWORD=\"vorlix\"\n");
    EXPECT_TRUE(settings_read(device));
    EXPECT_EQ(fields(), "192.168.13.31|23|admin\r|vorlix\r");
    // The longest dialog texts are written whole and cut only when read back.
    const std::string port(31, '9'), user = std::string(30, 'u') + "U";
    ASSERT_TRUE(settings_write("100.100.100.100", port.c_str(), user.c_str(), user.c_str()));
    EXPECT_EQ(read_file(path_).size(), 146u);
    EXPECT_TRUE(settings_read(device));
    EXPECT_EQ(fields(), "100.100.100.100|" + std::string(25, '9') + "|" + std::string(21, 'u') +
                            "\r|" + std::string(21, 'u') + "\r");
    // What cannot be written is refused whole, never cut, and the old file stays.
    const std::string before = read_file(path_), huge(60, '7');
    fs::create_directory(path_ + ".tmp"); // where the temporary file would go
    EXPECT_FALSE(settings_write("10.9.9.9", "99", "other", "other"));
    fs::remove(path_ + ".tmp");
    EXPECT_FALSE(settings_write(huge.c_str(), huge.c_str(), huge.c_str(), huge.c_str()));
    EXPECT_EQ(read_file(path_), before);
    EXPECT_FALSE(fs::exists(path_ + ".tmp"));
    // A file that cannot be written counts as no file.
    fs::remove(path_), fs::create_directory(path_);
    EXPECT_FALSE(settings_read(device));
}

// Files written by hand, each read into a fresh record: complete or not, and the fields.
TEST_F(SettingsFile, ReadRulesOnHandWrittenFiles) {
    // clang-format off
    const struct { const char* file; bool complete; const char* fields; } cases[] = {
        {"IP=\"10.1.2.3\"\r\nPORT=\"2323\"\r\nUSERNAME=\"root\"\r\nPASSWORD=\"pw\"\r\n", true, "10.1.2.3|2323|root\r|pw\r"},
        // any order, noise between, the later line wins
        {"PASSWORD=\"pw\"\nnoise\nIP=\"10.0.0.1\"\nUSERNAME=\"root\"\nPORT=\"23\"\nIP=\"10.0.0.2\"\n", true, "10.0.0.2|23|root\r|pw\r"},
        // read in pieces of 31 characters: a long name is cut, its rest matches nothing
        {"IP=\"1\"\nPORT=\"2\"\nUSERNAME=\"abcdefghijklmnopqrstuvwxy\"\nPASSWORD=\"pw\"\n", true, "1|2|abcdefghijklmnopqrstu\r|pw\r"},
        {"ip=\"10.0.0.1\"\n PORT=\"23\"\n\tUSERNAME=\"root\"\nPassword=\"pw\"\n", false, "|||"},
        {"IP=\"10.0.0.9\nPORT=\"23\r\nUSERNAME=\"root\nPASSWORD=\"pw\"\n", true, "10.0.0.9\n|23\r\n|root\n\r|pw\r"},
        {"IP=\"10.0.0.1\"\nPORT=\"23\"\nUSERNAME=\"root\"\nPASSWORD=\"\"\n", false, "10.0.0.1|23|root\r|"},
    };
    // clang-format on
    for (const auto& c : cases) {
        device_record_init();
        std::ofstream(path_, std::ios::binary) << c.file;
        EXPECT_EQ(c.complete, settings_read(device)) << c.file;
        EXPECT_EQ(c.fields, fields()) << c.file;
    }
    // A missing key or file keeps the earlier values.
    std::ofstream(path_, std::ios::binary) << "PORT=\"2424\"\n";
    EXPECT_FALSE(settings_read(device));
    fs::remove(path_);
    EXPECT_FALSE(settings_read(device));
    EXPECT_EQ(fields(), "10.0.0.1|2424|root\r|");
}

} // namespace
