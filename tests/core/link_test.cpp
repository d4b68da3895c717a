// The console link against the unit stand-in, and "telnet.conf" on a file of this test.
#include "test_support.h"

#include "link/settings_file.h"
#include "link/unit_console.h"

#include <cstring>

namespace fs = std::filesystem;
using namespace ts;

namespace {

class ConsoleLink : public UnitSession {
  protected:
    void SetUp() override {
        UnitSession::SetUp();
        tick_ms = 2;
    }
    // A fresh logged-in session on a stand-in with these faults.
    void reconnect(const std::vector<unitsim::Fault>& faults, unitsim::Config config = frozen()) {
        TearDown();
        SetUp();
        connect(config, faults);
    }
    template <typename Call> unsigned long ticks_of(Call call) {
        unsigned long base = idle_ticks_waited.load();
        call();
        return idle_ticks_waited.load() - base;
    }
};

// "cmd ver" answered as the fault shapes it; link_receive waits for the prompt, limit 30 s.
TEST_F(ConsoleLink, ReceiveCollectsUpToThePromptTheBufferTheCloseOrTheIdleLimit) {
    const std::string reply = "cmd ver\r\n4.2.7\r\nVORLIX:/# ";
    unitsim::Fault split, overflow = output_of("cmd ver", std::string(3000, 'x') + "\r\n"), closing,
                          quiet = silent("cmd ver");
    split.command = closing.command = "cmd ver";
    split.split_at = {reply.size() - 5}; // "VORLI" | "X:/# "
    closing.close_after = 10;
    struct Case {
        const char* name;
        unitsim::Fault fault;
        bool ok;
        std::string reply;
        long ticks; // idle ticks waited, or -1: not counted
    } const cases[] = {
        {"prompt split across two pieces", split, true, reply, -1},
        {"2048 characters without the prompt", overflow, false,
         "cmd ver\r\n" + std::string(2039, 'x'), -1},
        {"the unit closing keeps what came", closing, false, "cmd ver\r\n4", -1},
        {"silence: limit times ten plus one idle ticks", quiet, false, "", 301},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reconnect({c.fault});
        ASSERT_EQ(link_send(device.socket, "cmd ver\r"), 8);
        // The buffer sits inside a larger block whose tail must stay untouched.
        char block[REPLY_BUFFER_SIZE + 16];
        memset(block, 'Z', sizeof block);
        unsigned long ticks = ticks_of([&] {
            EXPECT_EQ(c.ok,
                      link_receive(device.socket, block, REPLY_BUFFER_SIZE, DEVICE_PROMPT, 30));
        });
        EXPECT_EQ(c.reply, block);
        EXPECT_EQ(std::string(block + REPLY_BUFFER_SIZE, 16), std::string(16, 'Z'));
        if (c.ticks >= 0) {
            EXPECT_EQ(static_cast<unsigned long>(c.ticks), ticks);
        }
    }
    // Without a marker the first piece is the reply and the rest stays queued.
    split.split_at = {3};
    split.split_pause_ms = 300;
    reconnect({split});
    char got[REPLY_BUFFER_SIZE];
    link_send(device.socket, "cmd ver\r");
    EXPECT_TRUE(link_receive(device.socket, got, sizeof got, nullptr, 30));
    EXPECT_STREQ(got, "cmd");
    EXPECT_TRUE(link_receive(device.socket, got, sizeof got, nullptr, 30));
    EXPECT_EQ(std::string(got), reply.substr(3));
    EXPECT_EQ(link_send(NO_SOCKET, "cmd ver\r"), -1);
}

// The login on a fresh connection: its outcome, the answers the unit read, the idle ticks.
TEST_F(ConsoleLink, HandshakeAnswersWholePromptsAndGivesUpAfter151SilentTicks) {
    unitsim::Config mute = frozen(), split = frozen();
    mute.never_login = true;
    split.login_split = {3}; // "log" | "in: ": no whole prompt, each piece restarts the count
    struct Case {
        const char* name;
        unitsim::Config config;
        int result;
        std::vector<std::string> answers;
        long ticks;
    } const cases[] = {
        {"user and password answered, then the prompt", frozen(), 0, {"admin", "vorlix"}, -1},
        {"a unit that never asks", mute, 1, {}, 151},
        {"a login prompt cut in two", split, 1, {}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        server = new unitsim::Server(c.config);
        set_loopback(server->start(0));
        device.socket = link_open(device);
        ASSERT_NE(NO_SOCKET, device.socket.load());
        unsigned long ticks = ticks_of([&] { EXPECT_EQ(c.result, link_login(device)); });
        if (c.ticks >= 0) {
            EXPECT_EQ(static_cast<unsigned long>(c.ticks), ticks);
        }
        EXPECT_EQ(c.answers, server->stats().login_answers);
    }
}

TEST_F(ConsoleLink, ReconnectRequestMakesEveryLoopGiveUpAndTheDropLowersIt) {
    connect(frozen());
    reconnect_request = 1;
    char reply[64];
    EXPECT_EQ(0u, ticks_of([&] {
                  EXPECT_EQ(login_handshake(device.socket, "admin\r", "vorlix\r"), 1);
                  EXPECT_EQ(link_login(device), 1);
                  EXPECT_FALSE(link_receive(device.socket, reply, 64, nullptr, 30));
              }));
    link_drop(device);
    EXPECT_EQ(reconnect_request.load(), 0);
    EXPECT_EQ(device.socket.load(), NO_SOCKET);
    link_close(device); // a second close does nothing
    EXPECT_EQ(device.socket.load(), NO_SOCKET);
}

TEST_F(ConsoleLink, HostNamesPortsWithoutDigitsAndClosedPortsGiveNoSocket) {
    connect(frozen());
    std::string port = std::to_string(server->port());
    unitsim::Server gone; // stopped at once: nothing listens on its port
    std::string closed_port = std::to_string(gone.start(0));
    gone.stop();
    const std::pair<std::string, std::string> refused[] = {{"localhost", port},
                                                           {"127.0.0.1", "telnet"},
                                                           {"127.0.0.1.5", port},
                                                           {"127.0.0.1", closed_port}};
    for (const auto& r : refused) {
        set_settings(r.first.c_str(), r.second.c_str(), "admin\r", "vorlix\r");
        EXPECT_EQ(link_open(device), NO_SOCKET) << r.first << ":" << r.second;
    }
    EXPECT_EQ(server->stats().connections, 1);
}

// ---- "telnet.conf" ---------------------------------------------------------------------------

class SettingsFile : public ::testing::Test {
  protected:
    void SetUp() override {
        device_record_init();
        dir_ = temp_path("settings");
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / "telnet.conf").string();
        settings_set_path(path_.c_str());
    }
    void TearDown() override {
        settings_set_path("telnet.conf");
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    void expect_fields(const char* ip, const char* port, const char* user, const char* pw) {
        EXPECT_STREQ(device.ip, ip);
        EXPECT_STREQ(device.port, port);
        EXPECT_STREQ(device.username, user);
        EXPECT_STREQ(device.password, pw);
    }
    fs::path dir_;
    std::string path_;
};

TEST_F(SettingsFile, WrittenFileHasTheExactFormatAndReadsBackWithCrOnTheCredentials) {
    ASSERT_TRUE(settings_write("192.168.13.31", "23", "admin", "vorlix"));
    EXPECT_EQ(read_file(path_),
              "IP=\"192.168.13.31\"\nPORT=\"23\"\nUSERNAME=\"admin\"\nPASSWORD=\"vorlix\"\n");
    EXPECT_TRUE(settings_read(device));
    expect_fields("192.168.13.31", "23", "admin\r", "vorlix\r");
    EXPECT_FALSE(fs::exists(path_ + ".tmp"));
    // The longest dialog texts are written whole and cut only when read back.
    const std::string port(31, '9'), user = std::string(30, 'u') + "U";
    ASSERT_TRUE(settings_write("100.100.100.100", port.c_str(), user.c_str(), user.c_str()));
    EXPECT_EQ(read_file(path_).size(), 146u);
    EXPECT_TRUE(settings_read(device));
    expect_fields("100.100.100.100", std::string(25, '9').c_str(),
                  (std::string(21, 'u') + "\r").c_str(), (std::string(21, 'u') + "\r").c_str());
}

// Files written by hand, read into a fresh record.
TEST_F(SettingsFile, ReadRulesOnHandWrittenFiles) {
    struct Case {
        const char* name;
        const char* file;
        bool complete;
        const char *ip, *port, *user, *password;
    } const cases[] = {
        {"CR LF line ends read like LF",
         "IP=\"10.1.2.3\"\r\nPORT=\"2323\"\r\nUSERNAME=\"root\"\r\nPASSWORD=\"pw\"\r\n", true,
         "10.1.2.3", "2323", "root\r", "pw\r"},
        {"any order, noise between, the later line wins",
         "PASSWORD=\"pw\"\nnoise\nIP=\"10.0.0.1\"\nUSERNAME=\"root\"\nPORT=\"23\"\nIP=\"10.0.0."
         "2\"\n",
         true, "10.0.0.2", "23", "root\r", "pw\r"},
        {"long user name cut to 21",
         "IP=\"10.0.0.1\"\nPORT=\"23\"\nUSERNAME=\"abcdefghijklmnopqrstuvwxy\"\nPASSWORD=\"pw\"\n",
         true, "10.0.0.1", "23", "abcdefghijklmnopqrstu\r", "pw\r"},
        {"lower-case keys and leading blanks ignored",
         "ip=\"10.0.0.1\"\n PORT=\"23\"\n\tUSERNAME=\"root\"\nPassword=\"pw\"\n", false, "", "", "",
         ""},
        {"unclosed quote takes the line end",
         "IP=\"10.0.0.9\nPORT=\"23\r\nUSERNAME=\"root\nPASSWORD=\"pw\"\n", true, "10.0.0.9\n",
         "23\r\n", "root\n\r", "pw\r"},
        {"no password", "IP=\"10.0.0.1\"\nPORT=\"23\"\nUSERNAME=\"root\"\n", false, "10.0.0.1",
         "23", "root\r", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device_record_init();
        write_file(path_, c.file);
        EXPECT_EQ(c.complete, settings_read(device));
        expect_fields(c.ip, c.port, c.user, c.password);
    }
    // An empty value or a missing key keeps the earlier value; so does a missing file.
    write_file(path_, "IP=\"\"\nPORT=\"2424\"\n");
    EXPECT_FALSE(settings_read(device));
    fs::remove(path_);
    EXPECT_FALSE(settings_read(device));
    expect_fields("10.0.0.1", "2424", "root\r", "");
}

TEST_F(SettingsFile, WhatCannotBeWrittenCountsAsNoFileAndAFailedWriteKeepsTheOldOne) {
    fs::create_directory(path_); // a directory in the place of the file
    EXPECT_FALSE(settings_read(device));
    EXPECT_FALSE(settings_write("10.9.9.9", "99", "other", "other"));
    EXPECT_TRUE(fs::is_directory(path_));
    fs::remove(path_);

    ASSERT_TRUE(settings_write("10.0.0.1", "23", "root", "pw"));
    const std::string before = read_file(path_);
    fs::create_directory(path_ + ".tmp"); // where the temporary file would go
    EXPECT_FALSE(settings_write("10.9.9.9", "99", "other", "other"));
    EXPECT_EQ(read_file(path_), before);
    fs::remove(path_ + ".tmp");
    const std::string huge(60, '7'); // longer than the writer holds: refused whole, never cut
    EXPECT_FALSE(settings_write(huge.c_str(), huge.c_str(), huge.c_str(), huge.c_str()));
    EXPECT_EQ(read_file(path_), before);
    EXPECT_FALSE(fs::exists(path_ + ".tmp"));
}

} // namespace
