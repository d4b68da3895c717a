// The VORLIX unit stand-in: a TCP server that keeps the unit's console conventions
// ("login: ", "Password: ", the prompt "VORLIX:/#", echoed command lines with CR LF,
// output lines ending CR LF) and answers the viewer's commands with realistic, changing
// values, with fault scenarios selectable per connection and per command.
// Shares no code with the viewer.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace unitsim {

// One fault, applied to replies of the command it names. A reply is the echoed command
// line + CR LF, the output lines (each + CR LF), then the prompt.
struct Fault {
    std::string command;          // exact command text without its CR; "" matches every command
    int connection = 0;           // 0: every connection; n: only the n-th accepted (from 1)
    int times = -1;               // how many replies it applies to; -1: no limit
    int delay_ms = 0;             // pause before the reply starts
    std::vector<size_t> split_at; // send the reply in pieces cut at these byte offsets...
    int split_pause_ms = 30;      // ...with this pause between pieces
    bool silence = false;         // send nothing at all (the connection stays open)
    long close_after = -1;        // close the connection after this many bytes of the reply
    bool has_output = false;      // replace the generated output lines with `output`
    std::string output;           // raw text between the echo line and the prompt (give CR LF)
    bool no_prompt = false;       // the reply ends without the prompt (then goes silent)
    int endless_pause_ms = -1;    // >= 0: after the reply, its output again and again, never
                                  // the prompt, with this pause between copies (0: a flood)
};

struct Config {
    std::string user = "admin";
    std::string password = "vorlix";
    int restart_ms = 3000;           // after "cmd pwrmode 2": refuse connections this long
    bool frozen = false;             // values do not change over time (tests with exact values)
    bool never_login = false;        // accept, then never send "login"
    bool never_answer = false;       // accept nothing: the listener's backlog is kept full,
                                     // so a connect to the port waits unanswered
    bool refuse_all = false;         // bind the port and never listen: every connect is
                                     // refused, and no other server can take the port
    int login_delay_ms = 0;          // pause before each login prompt
    std::vector<size_t> login_split; // split the "login: " prompt chunk at these offsets...
    int login_split_pause_ms = 30;   // ...with this pause between pieces
    int login_babble_ms = -1;        // >= 0: instead of a login, NMEA sentences without end
                                     // with this pause between them (0: a flood)
    // Unit identity and readings (the frozen values; a live unit varies them).
    std::string esn = "123456789012345";
    std::string modem_id = "VX4410A";
    std::string cell_hardware = "MC7354"; // "NONE": no cellular module
    std::string wifi_hardware = "RT5370"; // "NONE": no Wi-Fi module
    std::string priority = "cellular";
    std::string firmware = "4.2.7";
    std::string wwan_ip = "100.100.100.100";
    int signal_percent = 75;
    int wlan_mode = 1;               // 0..3, answer of "cmd wlan enable"
    std::string wan_device = "eth1"; // "" : no "cmd wandevice " line
    std::string ssid = "VORLIX-AP";  // "uci show wireless" and iwconfig
    std::string system_mode = "LTE"; // rfdiag.systemmode; "": no such line (3G flag
                                     // when not LTE, 4G flag otherwise)
    bool gps_fix = true;             // false: an RMC sentence without a fix
};

// What the stand-in saw, for tests that assert exactly what the viewer sent.
struct Stats {
    int connections = 0;                    // accepted
    int refused = 0;                        // turned away while restarting
    int logins = 0;                         // successful logins
    int failed_logins = 0;                  // wrong credentials answered with a new prompt
    std::vector<std::string> commands;      // every command line received after login, CR stripped
    std::vector<std::string> login_answers; // every line received before login
};

class Server {
  public:
    explicit Server(Config config = Config());
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Listens on host:port (port 0 picks a free one) and serves in background threads.
    // Returns the bound port, or -1.
    int start(int port = 0, const char* host = "127.0.0.1");
    void stop(); // closes the listener and every connection; joins the threads
    int port() const;

    void add_fault(const Fault& fault);
    void clear_faults();
    void set_config(const Config& config); // applies to later connections and replies
    Config config() const;

    Stats stats() const;
    void clear_stats();
    // Blocks until `count` commands have been received in total, or timeout_ms passes.
    bool wait_commands(size_t count, int timeout_ms) const;
    bool wait_logins(int count, int timeout_ms) const;

    // The exact reply text (echo, output, prompt) the stand-in would send now for a command
    // without faults, for tests that build expectations from the stand-in's own replies.
    std::string reply_for(const std::string& command) const;

    // Called from the serving threads for each event: a command or login line received, a
    // connection accepted, refused or closed. `connection` is the connection's number (from
    // 1), `text` a printable line. Set it before start(); the program prints these.
    void set_log(std::function<void(int connection, const std::string& text)> log);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Reads a scenario file (the program's --scenario) into faults and config changes.
// Lines: "fault command=<text> delay=<ms> split=<a,b> silence close_after=<n> ..." and
// "set key=value". Returns false with a message in *error on a bad line.
bool load_scenario(const std::string& path, Config* config, std::vector<Fault>* faults,
                   std::string* error);

} // namespace unitsim
