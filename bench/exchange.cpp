// Time of one exchange (link_send + link_receive until the prompt) against the unit stand-in,
// with the real tick of 100 ms: the receive wakes for the reply, so an exchange should cost
// the unit's reply time, not a whole tick.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "link/console_link.h"
#include "link/link_timing.h"
#include "link/socket_layer.h"
#include "link/unit_console.h"
#include "status/device_record.h"
#include "unitsim.h"

namespace {

typedef std::chrono::steady_clock Clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Runs `count` exchanges of "cmd ver" with the stand-in delaying each reply by delay_ms.
bool measure(unitsim::Server& sim, intptr_t sock, int delay_ms, int count) {
    sim.clear_faults();
    unitsim::Fault delay;
    delay.command = "cmd ver";
    delay.delay_ms = delay_ms;
    sim.add_fault(delay);
    static char reply[REPLY_BUFFER_SIZE];
    std::vector<double> times;
    unsigned long ticks_before = idle_ticks_waited.load();
    for (int i = 0; i < count; ++i) {
        Clock::time_point start = Clock::now();
        if (link_send(sock, "cmd ver\r") <= 0) return false;
        if (!link_receive(sock, reply, sizeof reply, DEVICE_PROMPT, REPLY_IDLE_LIMIT_S)) {
            fprintf(stderr, "exchange %d failed\n", i);
            return false;
        }
        times.push_back(ms_since(start));
        if (strncmp(reply, "cmd ver\r\n", 9) != 0) {
            fprintf(stderr, "exchange %d: not the reply to its command\n", i);
            return false;
        }
    }
    std::sort(times.begin(), times.end());
    double sum = 0;
    for (double t : times)
        sum += t;
    printf("reply delay %3d ms: %d exchanges, median %7.2f ms, min %7.2f, p90 %7.2f, max %7.2f, "
           "mean %7.2f, idle ticks %lu\n",
           delay_ms, count, times[times.size() / 2], times.front(), times[times.size() * 9 / 10],
           times.back(), sum / count, idle_ticks_waited.load() - ticks_before);
    return true;
}

} // namespace

int main() {
    tick_ms.store(100); // the real tick
    device_record_init();
    unitsim::Config config;
    config.frozen = true;
    unitsim::Server sim(config);
    int port = sim.start(0);
    if (port <= 0) {
        fprintf(stderr, "the stand-in did not start\n");
        return 1;
    }
    snprintf(device.ip, sizeof device.ip, "127.0.0.1");
    snprintf(device.port, sizeof device.port, "%d", port);
    snprintf(device.username, sizeof device.username, "%s\r", config.user.c_str());
    snprintf(device.password, sizeof device.password, "%s\r", config.password.c_str());
    intptr_t sock = link_open(device);
    if (sock == -1) {
        fprintf(stderr, "no connection to the stand-in\n");
        return 1;
    }
    device.socket.store(sock);
    if (link_login(device) != 0) {
        fprintf(stderr, "login failed\n");
        return 1;
    }
    printf("one exchange against the stand-in (tick %d ms):\n", tick_ms.load());
    bool ok = measure(sim, sock, 0, 100) && measure(sim, sock, 20, 100);
    link_close(device);
    sim.stop();
    return ok ? 0 : 1;
}
