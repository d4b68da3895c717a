// Winsock and POSIX sockets behind one set of calls, plus the worker's wake object and stop.
// Every wait here (a receive tick, a connect, a pause) also ends on the wake, so the stop and
// new settings end the worker's waits at once, and nothing else wakes it.
#include "link/socket_layer.h"

#include <atomic>
#include <chrono>

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#include <mutex>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

std::atomic<bool> stop_flag{false};

typedef std::chrono::steady_clock Clock;

// Milliseconds left until deadline, rounded up (a wait never ends short), never negative.
int ms_left(Clock::time_point deadline) {
    auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>((left + 999) / 1000) : 0;
}

#ifdef _WIN32

// The wake object. Manual-reset: stays signalled for every wait until cleared.
HANDLE stop_event() {
    static HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return event;
}

// One event per socket, selected for FD_CONNECT | FD_READ | FD_CLOSE when the socket is
// first waited on and released when it is closed. A small table: the worker holds one
// socket at a time; tests hold a few.
// Auto-reset, so the wait that sees it also resets it: no separate reset call, which under
// Wine is one more round trip to the wineserver. That is sound because Winsock records
// FD_READ again on every recv while unread data remains: a wait followed by a recv never
// leaves data behind unsignalled. A wait that takes the signal notes it until the next recv
// (note_taken), so a look for waiting data knows to ask recv.
struct SocketEvent {
    sock_t sock;
    HANDLE event;
    bool taken; // a wait took its signal and no recv has followed yet
};
constexpr int kEventSlots = 16;
SocketEvent socket_events[kEventSlots] = {};
std::mutex socket_events_lock;

HANDLE event_for(sock_t s) {
    std::lock_guard<std::mutex> guard(socket_events_lock);
    int free_slot = -1;
    for (int i = 0; i < kEventSlots; ++i) {
        if (socket_events[i].event != nullptr && socket_events[i].sock == s)
            return socket_events[i].event;
        if (socket_events[i].event == nullptr && free_slot < 0) free_slot = i;
    }
    if (free_slot < 0) return nullptr;
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) return nullptr;
    if (WSAEventSelect(static_cast<SOCKET>(s), event, FD_CONNECT | FD_READ | FD_CLOSE) != 0) {
        CloseHandle(event);
        return nullptr;
    }
    socket_events[free_slot].sock = s;
    socket_events[free_slot].event = event;
    socket_events[free_slot].taken = false;
    return event;
}

// A wait took the event's signal (taken) or a recv re-armed it (not taken). While taken, data
// may be waiting with the event unsignalled, so only a recv can say whether any is.
void note_taken(sock_t s, bool taken) {
    std::lock_guard<std::mutex> guard(socket_events_lock);
    for (SocketEvent& slot : socket_events)
        if (slot.event != nullptr && slot.sock == s) slot.taken = taken;
}

bool was_taken(sock_t s) {
    std::lock_guard<std::mutex> guard(socket_events_lock);
    for (const SocketEvent& slot : socket_events)
        if (slot.event != nullptr && slot.sock == s) return slot.taken;
    return false;
}

void release_event(sock_t s) {
    std::lock_guard<std::mutex> guard(socket_events_lock);
    for (int i = 0; i < kEventSlots; ++i) {
        if (socket_events[i].event != nullptr && socket_events[i].sock == s) {
            WSAEventSelect(static_cast<SOCKET>(s), nullptr, 0);
            CloseHandle(socket_events[i].event);
            socket_events[i].event = nullptr;
            socket_events[i].sock = -1;
        }
    }
}

// Waits on the stop and, when given, a socket event. 0: stop, 1: socket, -1: time out.
int wait_stop_or(HANDLE socket_event, int ms) {
    HANDLE handles[2] = {stop_event(), socket_event};
    DWORD count = socket_event != nullptr ? 2 : 1;
    DWORD r =
        WaitForMultipleObjects(count, handles, FALSE, ms < 0 ? INFINITE : static_cast<DWORD>(ms));
    if (r == WAIT_OBJECT_0) return 0;
    if (r == WAIT_OBJECT_0 + 1) return 1;
    return -1;
}

#else

// What a one-byte peek says about a socket that looked ready.
enum PeekResult { PEEK_DATA, PEEK_CLOSED, PEEK_NOTHING, PEEK_ERROR };

// The wake object for poll(): a pipe whose read end is readable while the wake is raised.
struct StopPipe {
    int fds[2] = {-1, -1};
    StopPipe() {
        if (pipe(fds) == 0) {
            for (int fd : fds) {
                fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
                fcntl(fd, F_SETFD, FD_CLOEXEC);
            }
        }
    }
};

StopPipe& stop_pipe() {
    static StopPipe p;
    return p;
}

PeekResult peek(sock_t s) {
    char byte;
    ssize_t n = recv(static_cast<int>(s), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) return PEEK_DATA;
    if (n == 0) return PEEK_CLOSED;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return PEEK_NOTHING;
    return PEEK_ERROR;
}

// Polls the stop pipe and, when s is not -1, the socket for `events`.
// 0: stop, 1: socket ready, -1: time out.
int wait_stop_or(sock_t s, short events, int ms) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    for (;;) {
        pollfd fds[2];
        fds[0].fd = stop_pipe().fds[0];
        fds[0].events = POLLIN;
        fds[0].revents = 0;
        fds[1].fd = static_cast<int>(s);
        fds[1].events = events;
        fds[1].revents = 0;
        int r = poll(fds, s != -1 ? 2 : 1, ms < 0 ? -1 : ms_left(deadline));
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (fds[0].revents != 0) return 0;
        if (r > 0) return 1;
        return -1;
    }
}

#endif

} // namespace

// ---- the wake object and the stop -------------------------------------------------------

void wake_raise() {
#ifdef _WIN32
    SetEvent(stop_event());
#else
    char byte = 1;
    ssize_t ignored = write(stop_pipe().fds[1], &byte, 1);
    (void)ignored; // a full pipe is already readable
#endif
}

void wake_clear() {
#ifdef _WIN32
    ResetEvent(stop_event());
#else
    char drain[64];
    while (read(stop_pipe().fds[0], drain, sizeof drain) > 0) {
    }
#endif
    // A stop raised meanwhile must go on waking every wait.
    if (stop_flag.load()) wake_raise();
}

bool wake_sleep_ms(int ms) {
#ifdef _WIN32
    return wait_stop_or(nullptr, ms) == 0;
#else
    return wait_stop_or(-1, 0, ms) == 0;
#endif
}

void stop_request() {
    stop_flag.store(true);
    wake_raise();
}

bool stop_requested() {
    return stop_flag.load();
}

void stop_reset() {
    stop_flag.store(false);
    wake_clear();
}

// ---- sockets -----------------------------------------------------------------------------

#ifdef _WIN32

bool net_startup() {
    WSADATA data;
    return WSAStartup(0x0202, &data) == 0;
}

void net_cleanup() {
    WSACleanup();
}

sock_t sock_tcp() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    return s == INVALID_SOCKET ? -1 : static_cast<sock_t>(s);
}

ConnectState sock_connect_start(sock_t s, uint32_t addr_net, uint16_t port_net) {
    if (s == -1 || stop_requested()) return CONNECT_FAILED;
    HANDLE event = event_for(s); // also makes the socket non-blocking
    if (event == nullptr) return CONNECT_FAILED;
    sockaddr_in peer = {};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = addr_net;
    peer.sin_port = port_net;
    if (connect(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0)
        return CONNECT_DONE;
    int error = WSAGetLastError();
    return error == WSAEWOULDBLOCK    ? CONNECT_PENDING
           : error == WSAECONNREFUSED ? CONNECT_REFUSED
                                      : CONNECT_FAILED;
}

ConnectState sock_connect_wait(sock_t s, int ms) {
    HANDLE event = event_for(s);
    if (event == nullptr) return CONNECT_FAILED;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    for (;;) {
        if (wait_stop_or(event, ms_left(deadline)) != 1) return CONNECT_PENDING;
        note_taken(s, true); // the enum below also clears an FD_READ that came with it
        WSANETWORKEVENTS happened;
        if (WSAEnumNetworkEvents(static_cast<SOCKET>(s), event, &happened) != 0)
            return CONNECT_FAILED;
        if (happened.lNetworkEvents & FD_CONNECT) {
            int code = happened.iErrorCode[FD_CONNECT_BIT];
            int error = 0;
            int length = sizeof error;
            getsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_ERROR,
                       reinterpret_cast<char*>(&error), &length);
            if (code == 0 && error == 0) return CONNECT_DONE;
            return code == WSAECONNREFUSED || error == WSAECONNREFUSED ? CONNECT_REFUSED
                                                                       : CONNECT_FAILED;
        }
    }
}

void sock_shutdown_close(sock_t s) {
    if (s == -1) return;
    release_event(s);
    shutdown(static_cast<SOCKET>(s), SD_BOTH);
    closesocket(static_cast<SOCKET>(s));
}

int sock_send(sock_t s, const char* data, int len) {
    int n = send(static_cast<SOCKET>(s), data, len, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int sock_recv(sock_t s, char* data, int len) {
    int n = recv(static_cast<SOCKET>(s), data, len, 0);
    note_taken(s, false); // any recv re-arms FD_READ, which signals again for data left
    return n == SOCKET_ERROR ? -1 : n;
}

uint32_t parse_ipv4(const char* text) {
    return inet_addr(text);
}

void sock_wait_tick(sock_t s, int ms) {
    if (stop_requested()) return;
    // One wait, no peeks: the auto-reset event is signalled for data or the close not yet
    // seen. A stale signal (data a recv took without a wait) ends one tick early once; an
    // error signals FD_CLOSE once, so it cannot end every tick early.
    if (wait_stop_or(s == -1 ? nullptr : event_for(s), ms < 0 ? 0 : ms) == 1) note_taken(s, true);
}

bool sock_may_have_data(sock_t s) {
    // A signal taken by a wait without a recv since: data may wait unsignalled.
    if (was_taken(s)) return true;
    // Unsignalled: nothing arrived since the last recv took all there was (see event_for).
    // Signalled: this wait has reset it, and the caller's recv re-arms it.
    HANDLE event = event_for(s);
    if (event == nullptr) return true; // no event to ask: the recv looks
    if (WaitForSingleObject(event, 0) != WAIT_OBJECT_0) return false;
    note_taken(s, true);
    return true;
}

#else

bool net_startup() {
    return true;
}
void net_cleanup() {}

sock_t sock_tcp() {
    int s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s < 0) return -1;
    fcntl(s, F_SETFD, FD_CLOEXEC);
    return s;
}

ConnectState sock_connect_start(sock_t s, uint32_t addr_net, uint16_t port_net) {
    if (s == -1 || stop_requested()) return CONNECT_FAILED;
    int fd = static_cast<int>(s);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    sockaddr_in peer = {};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = addr_net;
    peer.sin_port = port_net;
    if (connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0) return CONNECT_DONE;
    if (errno == EINPROGRESS || errno == EINTR) return CONNECT_PENDING;
    return errno == ECONNREFUSED ? CONNECT_REFUSED : CONNECT_FAILED;
}

ConnectState sock_connect_wait(sock_t s, int ms) {
    // Writable means the connect has ended, one way or the other; SO_ERROR says which.
    if (wait_stop_or(s, POLLOUT, ms < 0 ? 0 : ms) != 1) return CONNECT_PENDING;
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(static_cast<int>(s), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return CONNECT_FAILED;
    if (error == 0) return CONNECT_DONE;
    return error == ECONNREFUSED ? CONNECT_REFUSED : CONNECT_FAILED;
}

void sock_shutdown_close(sock_t s) {
    if (s == -1) return;
    shutdown(static_cast<int>(s), SHUT_RDWR);
    close(static_cast<int>(s));
}

int sock_send(sock_t s, const char* data, int len) {
    // MSG_NOSIGNAL: a peer that has gone is a -1 here, not a SIGPIPE.
    ssize_t n = send(static_cast<int>(s), data, static_cast<size_t>(len), MSG_NOSIGNAL);
    return n < 0 ? -1 : static_cast<int>(n);
}

int sock_recv(sock_t s, char* data, int len) {
    ssize_t n = recv(static_cast<int>(s), data, static_cast<size_t>(len), 0);
    return n < 0 ? -1 : static_cast<int>(n);
}

uint32_t parse_ipv4(const char* text) {
    return inet_addr(text);
}

void sock_wait_tick(sock_t s, int ms) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    for (;;) {
        if (stop_requested()) return;
        int left = ms_left(deadline);
        if (left == 0) return;
        if (wait_stop_or(s, POLLIN, left) != 1) return;
        PeekResult seen = peek(s);
        if (seen == PEEK_DATA || seen == PEEK_CLOSED) return;
        if (seen == PEEK_ERROR) break;
    }
    // A socket error is not news for the loop above: keep the tick's full length.
    wake_sleep_ms(ms_left(deadline));
}

bool sock_may_have_data(sock_t) {
    return true; // the recv that looks costs one system call, no more than asking first
}

#endif
