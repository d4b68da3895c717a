// Internals of the stand-in shared by its source files: its own small socket layer (the
// stand-in shares no code with the viewer) and the generator of the unit's replies.
#pragma once
#include "unitsim.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace unitsim {

// ---- sockets (sim_socket.cpp: the only file that knows Winsock from POSIX) ----
typedef std::intptr_t SimSocket;
const SimSocket kNoSocket = -1;

bool sim_net_start(); // WSAStartup on Windows; nothing on POSIX
void sim_net_end();
// A listening IPv4 TCP socket on host:port (port 0: any free one); *bound_port gets the port.
// A backlog below 0: bound only, never listening, so every connect to it is refused.
SimSocket sim_listen(const char* host, int port, int* bound_port, int backlog = 16);
// A connect to host:port started on a non-blocking socket and left to go on by itself.
SimSocket sim_connect_pending(const char* host, int port);
// 1 when readable (data, a pending connection or the peer's close), 0 on timeout, -1 on error.
int sim_wait_readable(SimSocket s, int timeout_ms);
SimSocket sim_accept(SimSocket listener);       // blocking socket with TCP_NODELAY, or kNoSocket
int sim_recv(SimSocket s, char* buf, int size); // >0 bytes, 0 peer closed, <0 error
bool sim_send_all(SimSocket s, const char* data, size_t size); // never raises SIGPIPE
void sim_shutdown_send(SimSocket s);
void sim_shutdown_both(SimSocket s); // wakes a thread blocked on s; the fd stays valid
void sim_close(SimSocket s);

// ---- replies (replies.cpp) ----
extern const char* const kPrompt; // "VORLIX:/# "

enum class ReplyKind {
    normal,      // output, then the prompt
    power_cycle, // echo only; the unit then restarts
};

// The live readings of the unit; in frozen mode the Config values.
// live_s: seconds since the stand-in started; up_s: seconds the unit has been up.
struct Clock {
    double live_s = 0;
    double up_s = 0;
};

// Output lines (each ending CR LF) the unit prints for `command`, without echo and prompt.
std::string unit_output(const Config& config, const Clock& clock, const std::string& command,
                        ReplyKind* kind);
// Printed after a successful login, before the first prompt. Holds neither "login" nor
// "Password", so the viewer's handshake answers nothing to it.
std::string unit_banner(const Config& config);
// Seconds the unit has been up when the stand-in starts: 1 day, 12:10.
const double kInitialUptime = 36 * 3600.0 + 10 * 60.0;

} // namespace unitsim
