// "Connect" to login at the new address, measured from outside: VORLIXViewer.exe under Wine,
// its Connection Configuration dialog given another stand-in's port, from each state the
// worker can be in when the settings are saved:
//  - connected to a unit;
//  - pausing after a failed attempt (the address refused the connection);
//  - connecting to an address that never answers (a stand-in whose backlog is kept full).
// Prints each time and the median and maximum per state.
// Usage: viewer_connect [--rounds N]
#include "viewer_driver.h"
#include "unitsim.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace e2e;

namespace {

double now_ms() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Chooses "Connection Configuration", types the port and presses "Connect"; returns the time
// of the press, or a negative number when the dialog did not come.
double connect_to(ViewerProcess& viewer, HWND main, int port) {
    if (!choose_menu_entry(main, viewer.pid(), kMenuConfig)) return -1;
    HWND dialog = wait_top_window(viewer.pid(), "#32770", "Configuration Settings", 5000);
    if (!dialog || !set_window_text(find_descendant(dialog, 1001), std::to_string(port))) return -1;
    double pressed = now_ms();
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    wait_until([&] { return !IsWindow(dialog); }, 5000);
    return pressed;
}

// Milliseconds from the press to the unit's next login, or -1.
double login_after(const unitsim::Server& unit, int logins_before, double pressed) {
    if (pressed < 0) return -1;
    if (!wait_until([&] { return unit.stats().logins > logins_before; }, 20000, 2)) return -1;
    return now_ms() - pressed;
}

void report(const char* state, std::vector<double> ms) {
    printf("  %-44s", state);
    for (double v : ms)
        printf(" %6.0f", v);
    std::sort(ms.begin(), ms.end());
    if (!ms.empty())
        printf("   median %.0f ms, max %.0f ms\n", ms[ms.size() / 2], ms.back());
    else
        printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2)
        if (!strcmp(argv[i], "--rounds")) rounds = atoi(argv[i + 1]);
    setvbuf(stdout, nullptr, _IONBF, 0);

    unitsim::Server first, second;
    unitsim::Config silent;
    silent.never_answer = true;
    unitsim::Server never(silent);
    unitsim::Server closed; // started and stopped: its port refuses connections
    int ports[2] = {first.start(0), second.start(0)};
    int never_port = never.start(0), closed_port = closed.start(0);
    closed.stop();
    if (ports[0] <= 0 || ports[1] <= 0 || never_port <= 0 || closed_port <= 0) {
        fprintf(stderr, "viewer_connect: the stand-ins did not start\n");
        return 1;
    }
    unitsim::Server* units[2] = {&first, &second};
    TempFolder folder;
    write_settings(folder.path(), ports[0], "admin", "vorlix");
    ViewerProcess viewer;
    if (!viewer.start(folder.path())) return 1;
    HWND main = viewer.main_window();
    if (!main || !wait_until([&] { return first.stats().logins >= 1; }, 10000)) {
        fprintf(stderr, "viewer_connect: the viewer did not log in\n");
        return 1;
    }
    Sleep(2000);

    std::vector<double> connected, pausing, connecting;
    int at = 0; // the unit the viewer is logged in to
    // From the state `before_port` leaves the viewer in (none: connected), "Connect" to the
    // other unit, timed to its login.
    auto move = [&](std::vector<double>& times, int before_port) {
        if (before_port > 0) {
            connect_to(viewer, main, before_port);
            Sleep(3000); // well inside the 15 s pause, or the unanswered connect
        }
        int to = 1 - at;
        int before = units[to]->stats().logins;
        times.push_back(login_after(*units[to], before, connect_to(viewer, main, ports[to])));
        at = to;
        Sleep(1500);
    };
    for (int round = 0; round < rounds; ++round) {
        move(connected, 0);
        move(pausing, closed_port);   // a refused attempt first
        move(connecting, never_port); // a connect that is never answered
    }
    printf("\"Connect\" to login at the new address, ms (%d rounds; -1: no login within 20 s):\n",
           rounds);
    report("connected", connected);
    report("pausing after a failed attempt", pausing);
    report("connecting to an address that never answers", connecting);
    viewer.end_for_cleanup();
    return 0;
}
