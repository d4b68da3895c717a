// VORLIXViewer.exe as a user runs it, measured from outside under Wine against the unit
// stand-in. Each option runs one mode; they run in this order:
//   --starts N       start to main window, to tray icon on screen, to first full status
//   --connected S    CPU, wake-ups a second and peak private memory while polling, beside a
//                    minimal tray program of our own; the refresh interval and one query
//   --unreachable S  the same with the unit gone (after --connected, or alone)
//   --connect N      "Connect" to login at a new address, from each state of the worker
//   --resume N       WM_POWERBROADCAST resume to the new login
//   --exit N         Exit: the process's end after OK, polling and with the unit gone
//   --soak S         the stand-in cycling its faults; fails if handles or memory grow
#include "viewer_driver.h"

#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

const int MENU_POWERCYCLE = 3;

// ---- start-up ----------------------------------------------------------------------------

int starts_mode(int starts) {
    std::vector<double> to_window, to_icon, to_status;
    for (int run = 0; run < starts; ++run) {
        wait_until([] { return !tray_icon_shown(); }, 3000); // the last run's icon gone
        Viewer viewer;
        double icon_s = 0;
        bool clicked = false;
        bool opened = viewer_open(viewer, [&] {
            if (viewer.main && !clicked) { // the user opens the status window at once
                tray_click(viewer.main, WM_LBUTTONUP);
                clicked = true;
            }
            if (icon_s == 0 && viewer.main && tray_icon_shown()) icon_s = now_s();
        });
        HWND status = nullptr;
        auto full = [&] {
            if (icon_s == 0 && tray_icon_shown()) icon_s = now_s();
            status = status ? status
                            : top_window(viewer.pid(), "#32770", "VORLIX Connection Status", true);
            return icon_s > 0 && status && status_full(status);
        };
        if (!opened || !wait_until(full, 15000, 5)) {
            fprintf(stderr, "viewer_bench: start %d incomplete\n", run + 1);
            return 1;
        }
        to_window.push_back(viewer.window_s - viewer.started_s);
        to_icon.push_back(icon_s - viewer.started_s);
        to_status.push_back(now_s() - viewer.started_s);
    }
    printf("start-up over %d starts:\n", starts);
    print_spread("to main window", to_window);
    print_spread("to tray icon on screen", to_icon);
    print_spread("to first full status", to_status);
    return 0;
}

// ---- connected and unreachable -----------------------------------------------------------

// Status query starts and ends as the stand-in sees them.
std::mutex query_lock;
std::vector<double> query_starts, query_ends;

void note_command(int, const std::string& text) {
    double at = now_s();
    std::lock_guard<std::mutex> guard(query_lock);
    if (text == "cmd device cell") query_starts.push_back(at);
    if (text.compare(0, 9, "ifconfig ") == 0) query_ends.push_back(at);
}

struct Measured {
    const char* label;
    LinuxSide side;
    double cpu = 0;
    long wakeups = 0, peak_kib = 0;
};

void run_phase(const char* title, double seconds, std::vector<Measured>& programs) {
    for (Measured& m : programs) {
        m.cpu = m.side.cpu_s();
        m.wakeups = m.side.wakeups();
        m.peak_kib = m.side.anon_kib();
    }
    double start = now_s();
    while (now_s() - start < seconds) {
        Sleep(1000);
        for (Measured& m : programs)
            m.peak_kib = std::max(m.peak_kib, m.side.anon_kib());
    }
    double took = now_s() - start;
    printf("%s, %.0f s:\n  %-32s %8s %12s %10s %12s %10s\n", title, took, "program", "CPU s",
           "% of a core", "wakeups/s", "private KiB", "above bare");
    for (Measured& m : programs) {
        m.cpu = m.side.cpu_s() - m.cpu;
        m.wakeups = m.side.wakeups() - m.wakeups;
        printf("  %-32s %8.2f %12.3f %10.1f %12ld %10ld\n", m.label, m.cpu, 100 * m.cpu / took,
               m.wakeups / took, m.peak_kib, m.peak_kib - programs.back().peak_kib);
    }
}

void print_refresh(double seconds) {
    std::lock_guard<std::mutex> guard(query_lock);
    std::vector<double> intervals, queries;
    for (size_t i = 1; i < query_starts.size(); ++i)
        intervals.push_back(query_starts[i] - query_starts[i - 1]);
    for (size_t i = 0; i < query_starts.size() && i < query_ends.size(); ++i)
        queries.push_back(query_ends[i] - query_starts[i]);
    if (intervals.empty()) return;
    double mean = 0;
    for (double v : intervals)
        mean += v / intervals.size();
    auto range = std::minmax_element(intervals.begin(), intervals.end());
    double target = 5.0 + median(queries);
    printf("refresh interval over %.0f s connected, %zu intervals: mean %.3f s, median %.3f s, "
           "%.3f-%.3f s\n  one query as the stand-in sees it: median %.1f ms; 5 s + query = "
           "%.3f s, mean off by %+.2f %%\n",
           seconds, intervals.size(), mean, median(intervals), *range.first, *range.second,
           1000 * median(queries), target, 100 * (mean - target) / target);
}

// The minimal tray program, bare and with the viewer's platform set-up (argument "platform").
struct MinimalTrays {
    PROCESS_INFORMATION info[2] = {};
    ~MinimalTrays() {
        for (PROCESS_INFORMATION& p : info) {
            if (!p.hProcess) continue;
            if (HWND window = top_window(p.dwProcessId, "VORLIXMinimalTray", nullptr, false))
                PostMessageA(window, WM_CLOSE, 0, 0);
            if (WaitForSingleObject(p.hProcess, 3000) != WAIT_OBJECT_0)
                TerminateProcess(p.hProcess, 0);
            CloseHandle(p.hThread);
            CloseHandle(p.hProcess);
        }
    }
    bool start(const std::string& folder) {
        std::string exe = windows_path(MINIMAL_TRAY_EXE);
        for (int i = 0; i < 2; ++i) {
            std::string command = "\"" + exe + "\"" + (i == 0 ? " platform" : "");
            STARTUPINFOA startup = {};
            startup.cb = sizeof startup;
            if (!CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                folder.c_str(), &startup, &info[i]))
                return false;
        }
        return true;
    }
};

int phases_mode(double connected_s, double unreachable_s) {
    Viewer viewer;
    viewer.unit.set_log(note_command);
    MinimalTrays trays;
    if (!viewer_open(viewer) || !trays.start(viewer.folder)) return 1;
    Sleep(5000); // settled: the first queries done, the icons up
    std::string minimal = windows_path(MINIMAL_TRAY_EXE);
    std::vector<Measured> programs = {{"VORLIXViewer.exe", viewer.side},
                                      {"minimal tray + platform set-up", {}},
                                      {"minimal tray (bare)", {}}};
    if (!programs[1].side.find(minimal, "platform", nullptr) ||
        !programs[2].side.find(minimal, nullptr, "platform")) {
        fprintf(stderr, "viewer_bench: cannot find the minimal trays under Z:\\proc\n");
        return 1;
    }
    if (connected_s > 0) {
        {
            std::lock_guard<std::mutex> guard(query_lock);
            query_starts.clear();
            query_ends.clear();
        }
        run_phase("connected", connected_s, programs);
        print_refresh(connected_s);
    }
    if (unreachable_s > 0) {
        viewer.unit.stop();
        Sleep(2000); // the connection's loss noticed
        run_phase("unit unreachable", unreachable_s, programs);
    }
    return 0;
}

// ---- "Connect", resume, Exit ----------------------------------------------------------------

// Chooses "Connection Configuration", types the port and presses "Connect"; the time of the
// press, or -1.
double connect_to(Viewer& viewer, int port) {
    HWND dialog = nullptr;
    if (!choose_menu(viewer.main, viewer.pid(), MENU_CONFIG) ||
        !wait_until(
            [&] {
                return (dialog = top_window(viewer.pid(), "#32770", "Configuration Settings",
                                            true)) != nullptr;
            },
            5000))
        return -1;
    DWORD_PTR ignored = 0;
    std::string text = std::to_string(port);
    SendMessageTimeoutA(GetDlgItem(dialog, 1001), WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 3000, &ignored);
    double pressed = now_s();
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    wait_until([&] { return !IsWindow(dialog); }, 5000);
    return pressed;
}

// Seconds from `since` to the unit's next login after `before` logins; -1 past 20 s.
double login_after(const unitsim::Server& unit, int before, double since) {
    if (since < 0 || !wait_until([&] { return unit.stats().logins > before; }, 20000, 2)) return -1;
    return now_s() - since;
}

int connect_mode(int rounds) {
    unitsim::Config silent;
    silent.never_answer = true;
    unitsim::Server second, never(silent), closed; // closed: started and stopped, so it refuses
    Viewer viewer;
    int never_port = never.start(0), closed_port = closed.start(0);
    closed.stop();
    if (second.start(0) <= 0 || never_port <= 0 || closed_port <= 0 || !viewer_open(viewer))
        return 1;
    unitsim::Server* units[2] = {&viewer.unit, &second};
    std::vector<double> times[3];
    int at = 0; // the unit the viewer is logged in to
    for (int round = 0; round < rounds; ++round) {
        const int before_ports[3] = {0, closed_port, never_port};
        for (int state = 0; state < 3; ++state) {
            if (before_ports[state] > 0) {
                connect_to(viewer, before_ports[state]);
                Sleep(3000); // well inside the 15 s pause, or the unanswered connect
            }
            at = 1 - at;
            int before = units[at]->stats().logins;
            times[state].push_back(
                login_after(*units[at], before, connect_to(viewer, units[at]->port())));
            Sleep(1500);
        }
    }
    printf("\"Connect\" to login at the new address (-1 ms: none within 20 s):\n");
    print_spread("connected", times[0]);
    print_spread("pausing after a failed attempt", times[1]);
    print_spread("connecting to an address that never answers", times[2]);
    return 0;
}

int resume_mode(int rounds) {
    Viewer viewer;
    if (!viewer_open(viewer)) return 1;
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        Sleep(1500);
        int before = viewer.unit.stats().logins;
        double sent = now_s();
        PostMessageA(viewer.main, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
        times.push_back(login_after(viewer.unit, before, sent));
    }
    printf("back from sleep (WM_POWERBROADCAST resume) to the new login:\n");
    print_spread("resume to login", times);
    return 0;
}

int exit_mode(int rounds) {
    std::vector<double> times[2];
    for (int round = 0; round < rounds; ++round) {
        for (int unreachable = 0; unreachable < 2; ++unreachable) {
            Viewer viewer;
            if (!viewer_open(viewer)) return 1;
            if (unreachable) viewer.unit.stop();
            Sleep(2000);
            if (!choose_menu(viewer.main, viewer.pid(), MENU_EXIT) ||
                !answer_box(viewer.pid(), "Are you sure you want to terminate", 5000))
                return 1;
            double answered = now_s();
            if (WaitForSingleObject(viewer.process.hProcess, 5000) == WAIT_OBJECT_0)
                times[unreachable].push_back(now_s() - answered);
        }
    }
    printf("Exit: process end after OK:\n");
    print_spread("polling", times[0]);
    print_spread("unit unreachable, reconnecting", times[1]);
    return 0;
}

// ---- soak ----------------------------------------------------------------------------------

// The process's handle count from the system's process list: Wine reports it there, while its
// GetProcessHandleCount answers 0.
long handle_count(DWORD pid) {
    typedef NTSTATUS(NTAPI * QueryFn)(ULONG, PVOID, ULONG, PULONG);
    static QueryFn query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    static std::vector<char> list(1 << 20);
    ULONG size = 0;
    if (!query ||
        query(SystemProcessInformation, list.data(), static_cast<ULONG>(list.size()), &size) != 0)
        return -1;
    for (size_t at = 0;;) {
        auto* entry = reinterpret_cast<SYSTEM_PROCESS_INFORMATION*>(list.data() + at);
        if (reinterpret_cast<ULONG_PTR>(entry->UniqueProcessId) == pid) return entry->HandleCount;
        if (entry->NextEntryOffset == 0) return -1;
        at += entry->NextEntryOffset;
    }
}

int soak_mode(double seconds) {
    unitsim::Config healthy;
    Viewer viewer(healthy);
    if (!viewer_open(viewer)) return 1;
    Sleep(6000); // the first queries done, the icon drawn
    unitsim::Server& unit = viewer.unit;
    double began = now_s();
    auto elapsed = [&] { return now_s() - began; };
    auto logins = [&] { return unit.stats().logins; };
    // Until the viewer has logged in again, or the step's limit or the run's end.
    auto relogged = [&](int before, double limit_s) {
        double until = elapsed() + limit_s;
        wait_until([&] { return logins() > before || elapsed() >= std::min(until, seconds); },
                   3600000, 100);
    };
    // The unit spoilt for hold_s (0: one reply spoilt), then healthy; then the next login.
    auto spoil = [&](unitsim::Fault fault, const unitsim::Config& config, double hold_s,
                     double relog_s) {
        int before = logins();
        fault.times = hold_s > 0 ? -1 : 1;
        unit.set_config(config);
        unit.add_fault(fault);
        if (hold_s > 0) // held, then healthy again before the viewer's next login
            Sleep(static_cast<DWORD>(1000 * std::max(0.0, std::min(hold_s, seconds - elapsed()))));
        else // one reply spoilt: the fault stays until it has been used
            relogged(before, relog_s);
        unit.clear_faults();
        unit.set_config(healthy);
        relogged(before, relog_s);
    };
    unitsim::Fault dropped, silent, split, oversize;
    dropped.close_after = 20; // the connection closes in the middle of a reply
    silent.silence = true;
    for (size_t at = 5; at < 4096; at += 5) // every reply, its prompt too, in 5-byte pieces
        split.split_at.push_back(at);
    split.split_pause_ms = 1;
    oversize.command = "cmd ver";
    oversize.has_output = true;
    while (oversize.output.size() < 64 * 1024)
        oversize.output += "0123456789abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopq\r\n";
    unitsim::Config wrong = healthy, mute = healthy;
    wrong.password = "not-the-password";
    wrong.login_delay_ms = 1000;
    mute.never_login = true;
    struct Step {
        const char* name;
        std::function<void()> run;
    };
    const std::vector<Step> steps = {
        {"silence", [&] { spoil(silent, healthy, 0, 60); }},
        {"split prompts", [&] { spoil(split, healthy, 10, 0); }},
        {"oversize reply", [&] { spoil(oversize, healthy, 0, 30); }},
        {"power cycle",
         [&] {
             int before = logins();
             if (choose_menu(viewer.main, viewer.pid(), MENU_POWERCYCLE))
                 answer_box(viewer.pid(), "Are you sure", 5000);
             relogged(before, 60);
         }},
        {"wrong password", [&] { spoil(dropped, wrong, 20, 60); }},
        {"never login", [&] { spoil(dropped, mute, 20, 60); }},
    };
    struct Sample {
        double at;
        long handles, kib;
        int logins;
    };
    auto sample = [&](const char* label) {
        Sample s = {elapsed(), handle_count(viewer.pid()), viewer.side.anon_kib(), logins()};
        printf("  %-6s %6.0f s %8ld handles %8ld KiB private %6d logins\n", label, s.at, s.handles,
               s.kib, s.logins);
        return s;
    };
    printf("soak of %.0f s: the viewer against the stand-in cycling its faults\n", seconds);
    Sample start = sample("start"), warm = {};
    int drops = 0;
    for (size_t i = 0; elapsed() < seconds; i = (i + 1) % steps.size()) {
        // Plain drops before each fault: the common case, and most of the reconnects.
        for (int k = 0; k < 3 && elapsed() < seconds; ++k, ++drops)
            spoil(dropped, healthy, 0, 30);
        if (elapsed() >= seconds) break;
        double at = elapsed();
        steps[i].run();
        printf("  %5.0f s  %-15s %5.1f s\n", at, steps[i].name, elapsed() - at);
        // After each whole cycle; after the first, every fault and the menu's box were seen.
        if (i + 1 == steps.size()) {
            Sample cycle = sample("cycle");
            if (warm.logins == 0) warm = cycle;
        }
    }
    unit.clear_faults();
    Sleep(10000); // the healthy unit back, the viewer logged in and settled
    Sample end = sample("end");
    printf("reconnects (logins after the first): %d over %.0f s, %d plain drops\n",
           end.logins - start.logins, end.at, drops);
    bool grew = warm.logins == 0 || end.handles > warm.handles || end.kib > warm.kib;
    printf("after the first cycle: handles %+ld, private %+ld KiB: %s\n",
           end.handles - warm.handles, end.kib - warm.kib,
           grew ? "GREW (or no whole cycle)" : "nothing grew");
    return grew || !viewer.running() ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    double starts = 0, connected = 0, unreachable = 0, connect = 0, resume = 0, exits = 0, soak = 0;
    const struct {
        const char* name;
        double* value;
    } options[] = {
        {"--starts", &starts},   {"--connected", &connected}, {"--unreachable", &unreachable},
        {"--connect", &connect}, {"--resume", &resume},       {"--exit", &exits},
        {"--soak", &soak}};
    for (int i = 1; i < argc; ++i) {
        bool known = false;
        for (const auto& option : options)
            if (!known && i + 1 < argc && !strcmp(argv[i], option.name)) {
                known = true;
                *option.value = atof(argv[++i]);
            }
        if (!known) {
            fprintf(stderr, "usage: viewer_bench [--starts N] [--connected S] [--unreachable S] "
                            "[--connect N] [--resume N] [--exit N] [--soak S]\n");
            return 2;
        }
    }
    int failed = 0;
    if (starts > 0) failed |= starts_mode(static_cast<int>(starts));
    if (connected > 0 || unreachable > 0) failed |= phases_mode(connected, unreachable);
    if (connect > 0) failed |= connect_mode(static_cast<int>(connect));
    if (resume > 0) failed |= resume_mode(static_cast<int>(resume));
    if (exits > 0) failed |= exit_mode(static_cast<int>(exits));
    if (soak > 0) failed |= soak_mode(soak);
    return failed;
}
