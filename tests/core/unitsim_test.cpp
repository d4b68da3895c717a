// The stand-in's console conventions, seen through a raw socket client of the test's own:
// the viewer's link and poll tests rely on exactly these bytes.
#include "test_support.h"

#include <fstream>

using namespace ts;

namespace {

const char* const kPrompt = "VORLIX:/# ";

// A blocking loopback client that reads with a timeout.
struct Client {
    NetUser net;
    RawSocket s;
    bool closed = false; // the peer closed the connection

    explicit Client(int port) : s(raw_connect(port)) { EXPECT_NE(kNoRaw, s); }
    ~Client() { raw_close(s); }
    void send_text(const std::string& t) { EXPECT_TRUE(raw_send(s, t)); }
    // One receive: what arrived within timeout_ms ("" on timeout or close).
    std::string chunk(int timeout_ms = 2000) {
        if (!raw_readable(s, timeout_ms)) return "";
        char buf[4096];
        int n = raw_recv(s, buf, sizeof buf);
        if (n <= 0) closed = true;
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
    }
    // Everything up to and including `marker` (or what came before a timeout or close).
    std::string until(const std::string& marker, int timeout_ms = 2000) {
        std::string got;
        while (got.find(marker) == std::string::npos) {
            std::string c = chunk(timeout_ms);
            if (c.empty()) break;
            got += c;
        }
        return got;
    }
    void login(const char* user = "admin", const char* password = "vorlix") {
        EXPECT_EQ("login: ", until("login: "));
        send_text(std::string(user) + "\r");
        EXPECT_EQ("Password: ", until("Password: "));
        send_text(std::string(password) + "\r");
        std::string welcome = until(kPrompt);
        EXPECT_EQ(kPrompt, welcome.substr(welcome.size() - 10));
        EXPECT_EQ(std::string::npos, welcome.find("login"));
        EXPECT_EQ(std::string::npos, welcome.find("Password"));
    }
};

unitsim::Config frozen() {
    unitsim::Config c;
    c.frozen = true;
    return c;
}

TEST(UnitSim, WrongPasswordIsAskedAgainAndEveryAnswerIsRecorded) {
    unitsim::Server server(frozen());
    int port = server.start(0);
    ASSERT_GT(port, 0);
    Client c(port);
    EXPECT_EQ("login: ", c.until("login: "));
    c.send_text("admin\r");
    EXPECT_EQ("Password: ", c.until("Password: "));
    c.send_text("guess\r");
    EXPECT_EQ("\r\nLogin incorrect\r\nlogin: ", c.until("login: "));
    c.send_text("admin\r");
    EXPECT_EQ("Password: ", c.until("Password: "));
    c.send_text("vorlix\r");
    EXPECT_NE(std::string::npos, c.until(kPrompt).find(kPrompt));
    ASSERT_TRUE(server.wait_logins(1, 2000));
    unitsim::Stats st = server.stats();
    EXPECT_EQ(1, st.connections);
    EXPECT_EQ(1, st.logins);
    EXPECT_EQ(1, st.failed_logins);
    EXPECT_EQ((std::vector<std::string>{"admin", "guess", "admin", "vorlix"}), st.login_answers);
    EXPECT_TRUE(st.commands.empty());
}

TEST(UnitSim, RepliesEchoTheLineThenOutputThenPromptAndTolerateCrLf) {
    unitsim::Server server(frozen());
    Client c(server.start(0));
    c.login();
    c.send_text("cmd esn\r");
    EXPECT_EQ("cmd esn\r\n123456789012345\r\nVORLIX:/# ", c.until(kPrompt));
    // CR LF is one terminator, also when the LF comes in a later send; LF alone ends a line.
    c.send_text("cmd ver\r\n");
    EXPECT_EQ("cmd ver\r\n4.2.7\r\nVORLIX:/# ", c.until(kPrompt));
    c.send_text("cmd device cell\r");
    EXPECT_EQ("cmd device cell\r\ncmd device cell MC7354\r\nVORLIX:/# ", c.until(kPrompt));
    c.send_text("\n\xff\xfd\x01\xff\xfa\x18\x01\xff\xf0"
                "cmd wandevice\n"); // telnet options are dropped
    EXPECT_EQ("cmd wandevice\r\ncmd wandevice eth1\r\nVORLIX:/# ", c.until(kPrompt));
    c.send_text("cmd data\r");
    EXPECT_EQ("cmd data\r\nTX: 12.5\r\nRX: 3.1\r\nTotal: 15.6\r\nVORLIX:/# ", c.until(kPrompt));
    c.send_text("cmd rfstats|grep 'Signal Quality'|awk -F: '{print $2}'\r");
    EXPECT_EQ("cmd rfstats|grep 'Signal Quality'|awk -F: '{print $2}'\r\n 75%\r\nVORLIX:/# ",
              c.until(kPrompt));
    c.send_text("uptime\r");
    EXPECT_EQ("uptime\r\n 12:10:05 up 1 day, 12:10,  load average: 0.08, 0.03, 0.01\r\nVORLIX:/# ",
              c.until(kPrompt));
    c.send_text("cmd gpsrmc\r");
    EXPECT_EQ("cmd gpsrmc\r\n$GPRMC,123519,A,4916.45,N,12311.12,W,022.4,084.4,230394,003.1,W*72"
              "\r\nVORLIX:/# ",
              c.until(kPrompt));
    c.send_text("reboot now\r");
    EXPECT_EQ("reboot now\r\n-sh: reboot now: not found\r\nVORLIX:/# ", c.until(kPrompt));
    // An overlong line is cut at 4096 characters, and the next line is read as usual.
    std::string x(4096, 'x');
    c.send_text(x + "yyyy\r");
    EXPECT_EQ(x + "\r\n-sh: " + x + ": not found\r\nVORLIX:/# ", c.until(kPrompt));
    // Nothing more: no stray empty command was answered.
    EXPECT_EQ("", c.chunk(100));
    ASSERT_TRUE(server.wait_commands(10, 2000));
    EXPECT_EQ((std::vector<std::string>{"cmd esn", "cmd ver", "cmd device cell", "cmd wandevice",
                                        "cmd data",
                                        "cmd rfstats|grep 'Signal Quality'|awk -F: '{print $2}'",
                                        "uptime", "cmd gpsrmc", "reboot now", x}),
              server.stats().commands);
    EXPECT_EQ("cmd esn\r\n123456789012345\r\nVORLIX:/# ", server.reply_for("cmd esn"));
}

TEST(UnitSim, ConfigShapesTheQueryReplies) {
    unitsim::Config cfg = frozen();
    cfg.cell_hardware = "NONE";
    cfg.wan_device = "";
    cfg.gps_fix = false;
    cfg.wlan_mode = 3;
    unitsim::Server server(cfg);
    EXPECT_EQ("cmd device cell\r\ncmd device cell NONE\r\nVORLIX:/# ",
              server.reply_for("cmd device cell"));
    EXPECT_EQ("cmd wandevice\r\nVORLIX:/# ", server.reply_for("cmd wandevice"));
    EXPECT_EQ("cmd gpsrmc\r\n$GPRMC,123519,V,,,,,,,230394,,,N*51\r\nVORLIX:/# ",
              server.reply_for("cmd gpsrmc"));
    EXPECT_EQ("cmd wlan enable\r\ncmd wlan enable 3\r\nVORLIX:/# ",
              server.reply_for("cmd wlan enable"));
    std::string syslog = server.reply_for("cmd syslog");
    EXPECT_GT(syslog.size(), 4096u);
    EXPECT_EQ(syslog.find(kPrompt), syslog.size() - 10); // the prompt only at the end
}

TEST(UnitSim, PowerCycleClosesRefusesForTheRestartTimeThenLogsInAgain) {
    unitsim::Config cfg = frozen();
    cfg.restart_ms = 400;
    unitsim::Server server(cfg);
    int port = server.start(0);
    {
        Client c(port);
        c.login();
        c.send_text("cmd pwrmode 2\r");
        EXPECT_EQ("cmd pwrmode 2\r\n", c.until("never", 2000));
        EXPECT_TRUE(c.closed);
    }
    {
        Client early(port); // within the restart time: closed without a login prompt
        EXPECT_EQ("", early.until("login: ", 2000));
        EXPECT_TRUE(early.closed);
    }
    EXPECT_GE(server.stats().refused, 1);
    std::string greeting;
    for (int i = 0; i < 40 && greeting.empty(); ++i) {
        Client again(port);
        greeting = again.until("login: ", 1000);
        if (!greeting.empty()) {
            EXPECT_EQ("login: ", greeting);
            again.send_text("admin\rvorlix\r"); // both answers in one send are fine too
            EXPECT_NE(std::string::npos, again.until(kPrompt).find(kPrompt));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    EXPECT_TRUE(server.wait_logins(2, 2000));
    EXPECT_EQ(2, server.stats().connections);
}

TEST(UnitSim, SplitFaultCutsTheReplyAndCloseFaultEndsItMidway) {
    unitsim::Server server(frozen());
    unitsim::Fault split;
    split.command = "cmd ver";
    split.times = 1;
    split.split_at = {20}; // inside the prompt
    split.split_pause_ms = 200;
    server.add_fault(split);
    unitsim::Fault cut;
    cut.command = "cmd esn";
    cut.connection = 1;
    cut.close_after = 12;
    server.add_fault(cut);
    int port = server.start(0);
    {
        Client c(port);
        c.login();
        c.send_text("cmd ver\r");
        EXPECT_EQ("cmd ver\r\n4.2.7\r\nVORL", c.chunk());
        EXPECT_EQ("IX:/# ", c.chunk());
        c.send_text("cmd ver\r"); // the fault was for one reply only
        EXPECT_EQ("cmd ver\r\n4.2.7\r\nVORLIX:/# ", c.until(kPrompt));
        c.send_text("cmd esn\r");
        EXPECT_EQ("cmd esn\r\n123", c.until("never"));
        EXPECT_TRUE(c.closed);
    }
    Client second(port); // the close fault belongs to the first connection only
    second.login();
    second.send_text("cmd esn\r");
    EXPECT_EQ("cmd esn\r\n123456789012345\r\nVORLIX:/# ", second.until(kPrompt));
    EXPECT_TRUE(server.wait_commands(4, 2000));
    server.stop(); // joins promptly with a client still connected
    EXPECT_EQ(-1, server.port());
}

TEST(UnitSim, LoginPromptCanBeSplitOrNeverSent) {
    unitsim::Config cfg = frozen();
    cfg.login_split = {3};
    cfg.login_split_pause_ms = 200;
    unitsim::Server split(cfg);
    Client a(split.start(0));
    EXPECT_EQ("log", a.chunk());
    EXPECT_EQ("in: ", a.chunk());

    cfg.login_split.clear();
    cfg.never_login = true;
    unitsim::Server mute(cfg);
    Client b(mute.start(0));
    b.send_text("admin\r");
    EXPECT_EQ("", b.chunk(200));
    EXPECT_FALSE(b.closed);
    for (int i = 0; i < 100 && mute.stats().login_answers.empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(std::vector<std::string>{"admin"}, mute.stats().login_answers);
    EXPECT_EQ(0, mute.stats().logins);
}

std::string write_scenario(const char* name, const char* text) {
    std::string path = ::testing::TempDir() + "unitsim_" + name + ".txt";
    std::ofstream(path.c_str(), std::ios::binary) << text;
    return path;
}

TEST(UnitSim, ScenarioFileSetsConfigAndFaults) {
    std::string path = write_scenario("good", "# a comment\r\n\n"
                                              "set restart_ms=500 frozen=yes esn=ABCDEF\r\n"
                                              "  set login_split=2,4\n"
                                              "fault command=\"cmd ver\" connection=2 times=1 "
                                              "split=5,12 split_pause=40 no_prompt\n"
                                              "fault silence delay=70 close_after=9 "
                                              "output=\"a \\\"b\\\"\\r\\n\"\n");
    unitsim::Config cfg;
    std::vector<unitsim::Fault> faults;
    std::string error;
    ASSERT_TRUE(unitsim::load_scenario(path, &cfg, &faults, &error)) << error;
    EXPECT_EQ(500, cfg.restart_ms);
    EXPECT_TRUE(cfg.frozen);
    EXPECT_EQ("ABCDEF", cfg.esn);
    EXPECT_EQ((std::vector<size_t>{2, 4}), cfg.login_split);
    ASSERT_EQ(2u, faults.size());
    EXPECT_EQ("cmd ver", faults[0].command);
    EXPECT_EQ(2, faults[0].connection);
    EXPECT_EQ(1, faults[0].times);
    EXPECT_EQ((std::vector<size_t>{5, 12}), faults[0].split_at);
    EXPECT_EQ(40, faults[0].split_pause_ms);
    EXPECT_TRUE(faults[0].no_prompt);
    EXPECT_FALSE(faults[0].has_output);
    EXPECT_EQ("", faults[1].command);
    EXPECT_EQ(-1, faults[1].times);
    EXPECT_TRUE(faults[1].silence);
    EXPECT_EQ(70, faults[1].delay_ms);
    EXPECT_EQ(9, faults[1].close_after);
    EXPECT_TRUE(faults[1].has_output);
    EXPECT_EQ("a \"b\"\r\n", faults[1].output);
    std::remove(path.c_str());
}

TEST(UnitSim, BadScenarioLineIsNamedAndChangesNothing) {
    const char* bad[][2] = {
        {"set restart_ms=500\nset restart_ms=soon\n", ":2: restart_ms=soon is not a number"},
        {"set colour=red\n", ":1: unknown setting colour"},
        {"fault command=\"cmd ver\n", ":1: unclosed quote after command="},
        {"fault split=3,x\n", ":1: split=x is not a number"},
        {"fault silence=maybe\n", ":1: silence=maybe is not a boolean"},
        {"faults command=x\n", ":1: unknown statement faults"},
    };
    for (auto& b : bad) {
        std::string path = write_scenario("bad", b[0]);
        unitsim::Config cfg;
        std::vector<unitsim::Fault> faults;
        std::string error;
        EXPECT_FALSE(unitsim::load_scenario(path, &cfg, &faults, &error)) << b[0];
        EXPECT_NE(std::string::npos, error.find(b[1])) << error;
        EXPECT_EQ(3000, cfg.restart_ms);
        EXPECT_TRUE(faults.empty());
        std::remove(path.c_str());
    }
    unitsim::Config cfg;
    std::vector<unitsim::Fault> faults;
    std::string error;
    EXPECT_FALSE(
        unitsim::load_scenario(::testing::TempDir() + "no/such/file", &cfg, &faults, &error));
    EXPECT_NE(std::string::npos, error.find("cannot open"));
}

} // namespace
