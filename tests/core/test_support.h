// Shared pieces of the core tests: raw loopback sockets of the tests' own, a scripted peer,
// temporary files, the link's globals, recorders for the view hooks and a logged-in session
// with the unit stand-in.
#pragma once

#include "link/console_link.h"
#include "link/link_flags.h"
#include "link/link_timing.h"
#include "link/socket_layer.h"
#include "status/device_record.h"
#include "status/poll_cycle.h"
#include "status/view_hooks.h"
#include "unitsim.h"

#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ts {

typedef std::chrono::steady_clock Clock;
long elapsed_ms(Clock::time_point since);

// Waits until the receive and login loops have waited `target` idle ticks in total.
bool wait_ticks(unsigned long target, int timeout_ms = 10000);

// Fresh link globals with the given tick and worker second.
void reset_globals(int tick, int second);
void set_settings(const char* ip, const char* port, const char* user, const char* password);
// Loopback and the given port, with the CR the settings reader leaves on the credentials.
void set_loopback(int port, const char* user = "admin\r", const char* password = "vorlix\r");

// A path in the temporary folder, unique to this process and test.
std::string temp_path(const std::string& tag);
std::string read_file(const std::string& path); // "" when it cannot be read
void write_file(const std::string& path, const std::string& bytes);

// Raw sockets of the test's own (a SOCKET or a descriptor), independent of the link's layer.
typedef intptr_t RawSocket;
const RawSocket kNoRaw = -1;
// Holds one start-up of the socket library (Winsock) for its lifetime.
struct NetUser {
    NetUser();
    ~NetUser();
};
RawSocket raw_listen(int backlog, int* port);
RawSocket raw_connect(int port, bool nonblocking = false);
bool raw_readable(RawSocket s, int ms);
bool raw_send(RawSocket s, const std::string& text);
int raw_recv(RawSocket s, char* buffer, int size);
void raw_close(RawSocket s);

// A loopback listener that never accepts, its backlog filled, so a further connect to it
// hangs unanswered (its SYNs are dropped) without any traffic leaving the machine.
struct FullListener {
    NetUser net;
    RawSocket listener = kNoRaw;
    std::vector<RawSocket> fillers;
    int port = -1;
    bool open();
    ~FullListener();
};

// A one-connection loopback peer that plays a script on its own thread. The connection
// stays open after the script until the peer is destroyed.
class ScriptPeer {
  public:
    explicit ScriptPeer(std::function<void(ScriptPeer&)> script);
    ~ScriptPeer();
    int port() const { return port_; }
    bool accepted() const { return accepted_.load(); }
    bool wait_done(int timeout_ms = 10000) const; // the script has run to its end
    // Everything read from the viewer, for the test after wait_done().
    std::string received() const { return received_; }

    // For the script.
    void send_text(const std::string& text) { raw_send(conn_, text); }
    // Reads until `count` bytes have come, the viewer closes, or timeout_ms passes.
    std::string read_bytes(size_t count, int timeout_ms = 5000);
    void close_conn();

  private:
    void run();
    NetUser net_;
    std::function<void(ScriptPeer&)> script_;
    RawSocket listener_ = kNoRaw;
    RawSocket conn_ = kNoRaw;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> quit_{false};
    std::atomic<bool> accepted_{false};
    std::atomic<bool> script_done_{false};
    std::string received_; // written by the script thread; read after wait_done()
};

// What the view hooks were asked to do, in order ("tray 0 0", "report <text>", "refresh").
void install_recorders();
std::vector<std::string> recorded();

// The text blank-padded to width, as the views get it.
inline std::string padded(const std::string& text, size_t width = 31) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

inline unitsim::Fault output_of(const std::string& command, const std::string& output) {
    unitsim::Fault f;
    f.command = command;
    f.has_output = true;
    f.output = output;
    return f;
}
inline unitsim::Fault silent(const std::string& command) {
    unitsim::Fault f;
    f.command = command;
    f.silence = true;
    return f;
}

// Fresh globals, a frozen stand-in and a logged-in link on the global record.
class UnitSession : public ::testing::Test {
  protected:
    unitsim::Server* server = nullptr;

    void SetUp() override;
    void TearDown() override;
    static unitsim::Config frozen();
    // Starts the stand-in with config and faults and logs in; the test fails otherwise.
    void connect(const unitsim::Config& config, const std::vector<unitsim::Fault>& faults = {});
    bool refresh() {
        raise_request(REQUEST_REFRESH);
        return poll_status(device);
    }
};

} // namespace ts
