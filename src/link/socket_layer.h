// The only code that knows Winsock from POSIX sockets. Everything above it is shared.
// Also holds the worker's wake object, because every wait of the worker (a receive tick, a
// connect, a pause) waits on a socket and the wake together.
#pragma once
#include <cstdint>

typedef intptr_t sock_t; // -1: no socket

bool net_startup(); // WSAStartup(0x0202); nothing to do on POSIX
void net_cleanup(); // WSACleanup
sock_t sock_tcp();  // an IPv4 TCP socket, or -1
// A connect in two steps, so its caller can give up between waits (new settings, the stop).
// CONNECT_REFUSED: nothing listens there; CONNECT_FAILED: unreachable, no answer, any other.
enum ConnectState { CONNECT_DONE, CONNECT_REFUSED, CONNECT_FAILED, CONNECT_PENDING };
// Makes s non-blocking and starts connecting to a network-order address and port.
ConnectState sock_connect_start(sock_t s, uint32_t addr_net, uint16_t port_net);
// Waits at most ms for a pending connect to end. CONNECT_PENDING when the time passed or the
// wake came first: the caller decides which.
ConnectState sock_connect_wait(sock_t s, int ms);
void sock_shutdown_close(sock_t s);
int sock_send(sock_t s, const char* data, int len); // bytes accepted, or -1
int sock_recv(sock_t s, char* data, int len);       // >0 data, 0 peer closed, -1 nothing/error
uint32_t parse_ipv4(const char* text);              // inet_addr: INADDR_NONE on bad text

// One tick of a receive or login loop: waits at most ms for data (or the peer's close) on s,
// and ends early for them or for the wake. A socket error does not end every tick early (on
// Windows its FD_CLOSE ends one).
void sock_wait_tick(sock_t s, int ms);
// False only when nothing can have arrived on s since the last recv, so a look with recv
// can be left out. After true the caller must recv until nothing is left.
bool sock_may_have_data(sock_t s);

// The wake object every wait of the worker includes: an event on Windows, a pipe on POSIX.
// The stop raises it for good; new settings raise it until the worker has taken them.
void wake_raise();
void wake_clear(); // after new settings were taken; stays raised while the stop is
// Pauses ms milliseconds (< 0: without end) unless the wake is raised first; true when woken.
bool wake_sleep_ms(int ms);

// Stop request for the worker: raised by any thread, seen at once by every wait.
void stop_request();
bool stop_requested();
void stop_reset(); // before a worker starts (tests start many)
