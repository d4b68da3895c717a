// The worker against the unit stand-in: how long after a restarting unit is back until the
// views show its full status again, and how long the stop takes from each wait.
// Usage: bench_reconnect [--real]   (--real adds the restart figures in real time: ~45 s)
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/console_link.h"
#include "link/link_flags.h"
#include "link/link_timing.h"
#include "link/settings_file.h"
#include "link/socket_layer.h"
#include "link/supervisor.h"
#include "status/device_record.h"
#include "status/device_requests.h"
#include "status/view_hooks.h"
#include "unitsim.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <process.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

typedef std::chrono::steady_clock Clock;

double ms_since(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// The views: the time of each refresh and whether it showed the unit's status.
struct Views {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Clock::time_point> full; // refreshes with the unit's IMEI
    int blank = 0;                       // refreshes without a connection
    bool power_cycle_asked = false;
    bool capture_asked = false;
    bool ask_power_cycle = false; // on the first full status
    std::string capture_path;     // asked on the first full status when set
} views;

void on_refresh() {
    bool full = device.socket.load() != NO_SOCKET && device.imei[0] >= '0' && device.imei[0] <= '9';
    {
        std::lock_guard<std::mutex> guard(views.lock);
        if (full)
            views.full.push_back(Clock::now());
        else if (device.socket.load() == NO_SOCKET)
            ++views.blank;
        if (full && views.ask_power_cycle && !views.power_cycle_asked) {
            views.power_cycle_asked = true;
            raise_request(REQUEST_POWER_CYCLE);
        }
        if (full && !views.capture_path.empty() && !views.capture_asked) {
            views.capture_asked = true;
            request_log_capture(views.capture_path.c_str());
        }
    }
    views.changed.notify_all();
}

std::string temp_file(const char* what) {
    char name[512];
#ifdef _WIN32
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    snprintf(name, sizeof name, "%sbench_reconnect_%d_%s", dir, _getpid(), what);
#else
    snprintf(name, sizeof name, "/tmp/bench_reconnect_%d_%s", static_cast<int>(getpid()), what);
#endif
    return name;
}

std::string conf_path;
std::thread worker;

// The same globals reset as the core tests' reset_globals, which lives beside GoogleTest
// (test_support.cpp) that the bench does not link.
void begin(int tick, int second, int port) {
    device_record_init();
    request_flags = 0;
    reconnect_request = 0;
    stop_reset();
    tick_ms = tick;
    second_ms = second;
    {
        std::lock_guard<std::mutex> guard(views.lock);
        views.full.clear();
        views.blank = 0;
        views.power_cycle_asked = views.capture_asked = views.ask_power_cycle = false;
        views.capture_path.clear();
    }
    char port_text[16];
    snprintf(port_text, sizeof port_text, "%d", port);
    settings_write("127.0.0.1", port_text, "admin", "vorlix");
}

double stop_ms() {
    Clock::time_point t = Clock::now();
    stop_request();
    worker.join();
    double ms = ms_since(t);
    link_drop(device);
    return ms;
}

bool wait_views(int seconds, bool (*done)()) {
    std::unique_lock<std::mutex> guard(views.lock);
    return views.changed.wait_for(guard, std::chrono::seconds(seconds), done);
}

bool wait_ticks(unsigned long n) {
    unsigned long start = idle_ticks_waited.load();
    Clock::time_point give_up = Clock::now() + std::chrono::seconds(10);
    while (idle_ticks_waited.load() < start + n) {
        if (Clock::now() > give_up) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// ---- restart to full status ---------------------------------------------------------------

// The unit restarts on "cmd pwrmode 2" (asked on the first full status) and is back after
// restart_ms. Milliseconds from its return to the next full status, or -1.
double restart_to_full(int tick, int second, int restart_ms, double* worker_s) {
    unitsim::Config config;
    config.restart_ms = restart_ms;
    unitsim::Server unit(config);
    std::mutex lock;
    Clock::time_point restarted;
    bool seen = false;
    unit.set_log([&](int, const std::string& text) {
        if (text == "restarting") {
            std::lock_guard<std::mutex> guard(lock);
            restarted = Clock::now();
            seen = true;
        }
    });
    begin(tick, second, unit.start(0));
    {
        std::lock_guard<std::mutex> guard(views.lock);
        views.ask_power_cycle = true;
    }
    worker = std::thread(worker_main);
    bool ok = wait_views(120, [] { return views.full.size() >= 2; });
    Clock::time_point full_again;
    {
        std::lock_guard<std::mutex> guard(views.lock);
        if (ok) full_again = views.full[1];
    }
    uint32_t paused = worker_seconds.load();
    stop_ms();
    std::lock_guard<std::mutex> guard(lock);
    if (!ok || !seen) return -1;
    Clock::time_point back = restarted + std::chrono::milliseconds(restart_ms);
    *worker_s = paused;
    return std::chrono::duration<double, std::milli>(full_again - back).count();
}

// ---- the stop from each wait ----------------------------------------------------------------

#ifdef _WIN32
typedef SOCKET RawSocket;
const RawSocket kNoRaw = INVALID_SOCKET;
void raw_close(RawSocket s) {
    closesocket(s);
}
void raw_nonblocking(RawSocket s) {
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
}
#else
typedef int RawSocket;
const RawSocket kNoRaw = -1;
void raw_close(RawSocket s) {
    close(s);
}
void raw_nonblocking(RawSocket s) {
    fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK);
}
#endif

// A loopback listener that never accepts, its backlog filled: a further connect hangs.
int full_listener(std::vector<RawSocket>* held) {
    RawSocket listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == kNoRaw) return -1;
    held->push_back(listener);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener, 0) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
        return -1;
    for (int i = 0; i < 3; ++i) {
        RawSocket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s == kNoRaw) return -1;
        raw_nonblocking(s);
        connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        held->push_back(s);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return ntohs(addr.sin_port);
}

// Real time throughout: tick 100 ms, second 1000 ms.
void stop_figures() {
    printf("stop, real time (tick 100 ms, second 1000 ms), ms from stop_request() to join:\n");
    {
        std::vector<RawSocket> held;
        int port = full_listener(&held);
        begin(100, 1000, port);
        worker = std::thread(worker_main);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        printf("  connect never answered     %7.1f\n", stop_ms());
        for (RawSocket s : held)
            raw_close(s);
    }
    {
        unitsim::Config config;
        config.never_login = true;
        unitsim::Server unit(config);
        begin(100, 1000, unit.start(0));
        worker = std::thread(worker_main);
        wait_ticks(3);
        printf("  login, unit silent         %7.1f\n", stop_ms());
    }
    {
        unitsim::Server unit;
        unitsim::Fault mute;
        mute.command = "cmd ver";
        mute.silence = true;
        unit.add_fault(mute);
        begin(100, 1000, unit.start(0));
        worker = std::thread(worker_main);
        unit.wait_commands(4, 10000);
        wait_ticks(3);
        printf("  query, unit silent         %7.1f\n", stop_ms());
    }
    {
        unitsim::Server unit;
        unitsim::Fault cut;
        cut.command = "cmd showconfig";
        cut.no_prompt = true;
        unit.add_fault(cut);
        std::string path = temp_file("capture.log");
        begin(100, 1000, unit.start(0));
        {
            std::lock_guard<std::mutex> guard(views.lock);
            views.capture_path = path;
        }
        worker = std::thread(worker_main);
        unit.wait_commands(18 + 2, 20000);
        wait_ticks(3);
        printf("  log capture, unit silent   %7.1f\n", stop_ms());
        remove(path.c_str());
    }
    {
        unitsim::Server gone;
        int port = gone.start(0);
        gone.stop();
        begin(100, 1000, port);
        worker = std::thread(worker_main);
        wait_views(10, [] { return views.blank >= 1; });
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        printf("  15 s pause                 %7.1f\n", stop_ms());
    }
}

} // namespace

int main(int argc, char** argv) {
    bool real = argc > 1 && strcmp(argv[1], "--real") == 0;
    net_startup();
    conf_path = temp_file("telnet.conf");
    settings_set_path(conf_path.c_str());
    view_hooks.refresh_views = on_refresh;

    printf("unit back after a restart -> full status again (ms; worker seconds paused in all):\n");
    for (int i = 0; i < 5; ++i) {
        double paused = 0;
        double ms = restart_to_full(2, 20, 200, &paused);
        printf("  shortened (tick 2 ms, second 20 ms, restart 200 ms)  %8.1f ms  (%.0f s)\n", ms,
               paused);
    }
    if (real) {
        // 3 s: back before the worker's next query fails; 8 s: still away at the attempt
        // that follows that failure, so one 15 s pause comes between.
        const int restarts[] = {3000, 8000};
        for (int restart : restarts) {
            double paused = 0;
            double ms = restart_to_full(100, 1000, restart, &paused);
            printf("  real (tick 100 ms, second 1000 ms, restart %d ms)   %8.1f ms  (%.0f s)\n",
                   restart, ms, paused);
        }
    }
    stop_figures();
    remove(conf_path.c_str());
    net_cleanup();
    return 0;
}
