// The console connection: one TCP socket to the unit's shell, text both ways.
#include "link/console_link.h"

#include <chrono>
#include <cstring>

#include "link/link_flags.h"
#include "link/link_state.h"
#include "link/link_timing.h"
#include "link/settings_file.h"
#include "link/socket_layer.h"
#include "link/unit_console.h"
#include "status/device_record.h"

namespace {

// htons without the socket headers: the two bytes in network (big-endian) order.
uint16_t port_to_net(int port) {
    unsigned char bytes[2] = {static_cast<unsigned char>((port >> 8) & 0xff),
                              static_cast<unsigned char>(port & 0xff)};
    uint16_t net;
    memcpy(&net, bytes, sizeof net);
    return net;
}

bool give_up() {
    return reconnect_request.load() != 0 || stop_requested();
}

// One idle pause of a receive or login loop; ends early when data or the peer's close comes.
void idle_tick(intptr_t sock) {
    sock_wait_tick(sock, tick_ms.load());
    idle_ticks_waited.fetch_add(1, std::memory_order_relaxed);
}

typedef std::chrono::steady_clock Clock;

// A deadline counted in ticks, so tests that shorten the tick shorten it too.
Clock::time_point after_ticks(int ticks) {
    return Clock::now() + std::chrono::milliseconds(static_cast<long long>(ticks) * tick_ms.load());
}

// One wait for the whole connect, which the stop and new settings end at once; an address
// that never answers gives up after about 21 s, as Windows' own connect does.
bool connect_whole(sock_t s, uint32_t addr, uint16_t port) {
    const Clock::time_point deadline = after_ticks(CONNECT_LIMIT_TICKS);
    ConnectState state = sock_connect_start(s, addr, port);
    while (state == CONNECT_PENDING && !give_up()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        state = sock_connect_wait(s, static_cast<int>(left.count()));
    }
    if (state == CONNECT_DONE) return true;
    // Given up for new settings or the stop: their reason is already noted.
    if (state == CONNECT_PENDING && give_up()) return false;
    link_note_failure(state == CONNECT_REFUSED ? REASON_REFUSED : REASON_NO_ANSWER);
    return false;
}

} // namespace

intptr_t link_open(DeviceRecord& rec) {
    LinkSettings settings;
    settings_snapshot(rec, &settings);
    int port = 0;
    // No name lookup: text that is not a dotted address gives INADDR_NONE. Either is
    // something to fix in telnet.conf.
    const uint32_t addr = parse_ipv4(settings.ip);
    if (!settings_port(settings.port, &port) || addr == parse_ipv4("255.255.255.255")) {
        link_note_failure(REASON_NO_SETTINGS);
        return NO_SOCKET;
    }
    if (!net_startup()) return NO_SOCKET;
    sock_t s = sock_tcp();
    if (s == -1) {
        net_cleanup();
        return NO_SOCKET;
    }
    if (!connect_whole(s, addr, port_to_net(port))) {
        sock_shutdown_close(s);
        net_cleanup();
        return NO_SOCKET;
    }
    return s;
}

void link_close(DeviceRecord& rec) {
    // Taken out of the record first, so a second close finds -1 and does nothing.
    intptr_t s = rec.socket.exchange(NO_SOCKET);
    if (s == NO_SOCKET) return;
    sock_shutdown_close(s);
    net_cleanup(); // the start-up this connection held
}

void link_drop(DeviceRecord& rec) {
    lower_reconnect();
    link_close(rec);
}

int link_send(intptr_t sock, const char* text) {
    if (sock == NO_SOCKET) return -1;
    return sock_send(sock, text, static_cast<int>(strlen(text)));
}

bool link_discard_waiting(intptr_t sock) {
    // Usually nothing came: on Windows the socket's event says so without a recv.
    if (sock == NO_SOCKET || !sock_may_have_data(sock)) return true;
    char chunk[CHUNK_SIZE];
    for (int i = 0; i < DISCARD_CHUNKS; ++i) {
        int n = sock_recv(sock, chunk, static_cast<int>(sizeof chunk));
        if (n < 0) return true; // nothing more waiting
        if (n == 0) {
            link_note_failure(REASON_CLOSED);
            return false;
        }
    }
    link_note_failure(REASON_OUT_OF_STEP); // it talks without being asked
    return false;
}

bool link_receive(intptr_t sock, char* buffer, size_t size, const char* marker, int idle_limit_s,
                  size_t* received) {
    if (received != nullptr) *received = 0;
    if (sock == NO_SOCKET || size == 0) return false;
    memset(buffer, 0, size);
    size_t stored = 0;
    long idle = 0;
    const long idle_limit = static_cast<long>(idle_limit_s) * 10;
    char chunk[CHUNK_SIZE]; // only the n bytes received are copied: no clearing per pass
    for (;;) {
        if (give_up()) return false;
        // Wait first, then recv: the reply to a command just sent is rarely there yet, and a
        // recv that finds nothing is one more call (under Wine, one more wineserver round
        // trip). The wait ends at once when data or the close is already waiting.
        sock_wait_tick(sock, tick_ms.load());
        int n = sock_recv(sock, chunk, static_cast<int>(sizeof chunk));
        if (n > 0) {
            idle = 0;
            size_t take = static_cast<size_t>(n);
            if (stored + take > size - 1) take = size - 1 - stored;
            memcpy(buffer + stored, chunk, take);
            stored += take;
            if (received != nullptr) *received = stored;
            if (marker == nullptr) return true;
            // The whole text so far: a marker split across chunks counts once complete.
            if (strstr(buffer, marker) != nullptr) return true;
            if (stored >= size - 1) {
                link_note_failure(REASON_OUT_OF_STEP); // the rest of it is still to come
                return false;
            }
            continue;
        }
        if (n == 0) {
            link_note_failure(REASON_CLOSED);
            return false;
        }
        // A tick without data. Nothing waiting and a socket error look alike here; only the
        // idle limit ends it.
        idle_ticks_waited.fetch_add(1, std::memory_order_relaxed);
        if (++idle > idle_limit) {
            link_note_failure(REASON_UNIT_SILENT);
            return false;
        }
    }
}

int login_handshake(intptr_t sock, const char* user, const char* password) {
    int idle = 0;
    size_t total = 0;
    // A peer that talks without end (a GPS port streaming sentences) never reaches the prompt.
    const Clock::time_point deadline = after_ticks(LOGIN_LIMIT_TICKS);
    bool password_sent = false;
    bool asked_again = false; // the unit asked for the login again after the password
    int reason = REASON_NO_PROMPT;
    char chunk[CHUNK_SIZE + 1]; // always a terminated text
    for (;;) {
        if (give_up()) return 1;
        memset(chunk, 0, sizeof chunk);
        int n = sock_recv(sock, chunk, static_cast<int>(CHUNK_SIZE));
        if (n >= 2) {
            // Each chunk alone: the unit's prompts come whole, and the first test wins.
            idle = 0;
            total += static_cast<size_t>(n);
            if (strstr(chunk, "login") != nullptr) {
                asked_again = asked_again || password_sent;
                link_send(sock, user);
            } else if (strstr(chunk, "Password") != nullptr) {
                link_send(sock, password);
                password_sent = true;
            } else if (strstr(chunk, DEVICE_PROMPT) != nullptr) {
                return 0;
            }
            if (total > LOGIN_BYTE_LIMIT || Clock::now() >= deadline) break;
            continue;
        }
        if (n == 0) {
            reason = REASON_CLOSED;
            break;
        }
        // A lone byte is dropped unexamined, like nothing at all.
        if (idle > 150 || Clock::now() >= deadline) break;
        idle_tick(sock);
        ++idle;
    }
    // Whatever ended it, a unit that asked again has turned the login down.
    link_note_failure(asked_again ? REASON_LOGIN_REJECTED : reason);
    return 1;
}

int link_login(DeviceRecord& rec) {
    intptr_t sock = rec.socket.load();
    if (reconnect_request.load() != 0 || sock == NO_SOCKET) return 1;
    LinkSettings settings;
    settings_snapshot(rec, &settings);
    return login_handshake(sock, settings.username, settings.password);
}
