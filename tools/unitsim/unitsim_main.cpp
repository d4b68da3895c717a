// unitsim: a VORLIX unit stand-in on the command line, for trying the viewer without a unit.
//   unitsim --port N --user U --password P [--host 127.0.0.1] [--scenario FILE]
//           [--restart-ms N] [--frozen]
// Prints every connection and every line it receives with the connection's number, and ends
// on Ctrl+C.
#include "unitsim.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::atomic<int> interrupted{0};

#ifdef _WIN32
BOOL WINAPI on_console_event(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        interrupted.store(1);
        return TRUE;
    }
    return FALSE;
}
#else
extern "C" void on_signal(int) {
    interrupted.store(1);
}
#endif

void usage(FILE* to) {
    std::fprintf(to, "usage: unitsim --port N [--user U] [--password P] [--host ADDRESS]\n"
                     "               [--scenario FILE] [--restart-ms N] [--frozen]\n"
                     "  A stand-in for a VORLIX unit's console: point the viewer at ADDRESS:N.\n"
                     "  --host      address to listen on (default 127.0.0.1)\n"
                     "  --user, --password   the login it accepts (default admin / vorlix)\n"
                     "  --scenario  faults and settings (see tools/unitsim/README.md)\n"
                     "  --restart-ms  how long \"cmd pwrmode 2\" keeps it away (default 3000)\n"
                     "  --frozen    readings do not change over time\n");
}

bool number_arg(const char* text, int low, int high, int* out) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (!*text || *end || v < low || v > high) return false;
    *out = static_cast<int>(v);
    return true;
}

std::mutex print_lock;

void print_event(int connection, const std::string& text) {
    std::lock_guard<std::mutex> lock(print_lock);
    if (connection > 0)
        std::printf("[%d] %s\n", connection, text.c_str());
    else
        std::printf("[-] %s\n", text.c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    unitsim::Config config;
    std::string host = "127.0.0.1", scenario, user, password;
    int port = -1, restart_ms = -1;
    bool have_user = false, have_password = false, frozen = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool has_next = i + 1 < argc;
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else if (a == "--frozen") {
            frozen = true;
        } else if (a == "--port" && has_next) {
            if (!number_arg(argv[++i], 0, 65535, &port)) {
                std::fprintf(stderr,
                             "unitsim: --port needs a number from 0 to 65535 (0: any free port)\n");
                return 2;
            }
        } else if (a == "--restart-ms" && has_next) {
            if (!number_arg(argv[++i], 0, 3600000, &restart_ms)) {
                std::fprintf(stderr, "unitsim: --restart-ms needs a number of milliseconds\n");
                return 2;
            }
        } else if (a == "--user" && has_next) {
            user = argv[++i];
            have_user = true;
        } else if (a == "--password" && has_next) {
            password = argv[++i];
            have_password = true;
        } else if (a == "--host" && has_next) {
            host = argv[++i];
        } else if (a == "--scenario" && has_next) {
            scenario = argv[++i];
        } else {
            std::fprintf(stderr, "unitsim: unknown or incomplete option %s\n", a.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (port < 0) {
        std::fprintf(stderr, "unitsim: --port is required\n");
        usage(stderr);
        return 2;
    }

    // The scenario first; options on the command line win over its settings.
    std::vector<unitsim::Fault> faults;
    if (!scenario.empty()) {
        std::string error;
        if (!unitsim::load_scenario(scenario, &config, &faults, &error)) {
            std::fprintf(stderr, "unitsim: %s\n", error.c_str());
            return 2;
        }
    }
    if (have_user) config.user = user;
    if (have_password) config.password = password;
    if (restart_ms >= 0) config.restart_ms = restart_ms;
    if (frozen) config.frozen = true;

    unitsim::Server server(config);
    for (const unitsim::Fault& f : faults)
        server.add_fault(f);
    server.set_log(print_event);

#ifdef _WIN32
    SetConsoleCtrlHandler(on_console_event, TRUE);
#else
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
#endif

    if (server.start(port, host.c_str()) < 0) {
        std::fprintf(stderr, "unitsim: cannot listen on %s:%d\n", host.c_str(), port);
        return 1;
    }
    {
        std::lock_guard<std::mutex> lock(print_lock);
        std::printf(
            "unitsim: VORLIX unit stand-in on %s:%d, login %s, %zu fault(s)%s; Ctrl+C ends\n",
            host.c_str(), server.port(), config.user.c_str(), faults.size(),
            config.frozen ? ", frozen" : "");
        std::fflush(stdout);
    }
    while (!interrupted.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server.stop();
    unitsim::Stats st = server.stats();
    std::printf("unitsim: stopped after %d connection(s), %d login(s), %zu command(s)\n",
                st.connections, st.logins, st.commands.size());
    return 0;
}
