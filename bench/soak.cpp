// Soak: VORLIXViewer.exe under Wine against the stand-in for a long run (10 minutes by
// default) while the stand-in cycles through its faults: a dropped connection, silence, split
// prompts, an oversize reply, a power-cycle restart (chosen from the viewer's menu), a wrong
// password for a while and a unit that never asks for the login. This program is the probe:
// at the start, every minute and at the end it samples the viewer's open handles, its GDI
// and USER objects (where Wine reports them), its private memory (as Windows and as Linux
// see it), and counts the reconnects (logins after the first).
// Usage: viewer_soak [--seconds N] [--only "FAULT NAME"]; SOAK_LOG=1 prints the stand-in's log.
#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include "viewer_driver.h"
#include "linux_process.h"
#include "unitsim.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace e2e;

namespace {

struct Sample {
    double at_s;
    DWORD handles, gdi, user;
    SIZE_T private_kib;
    long anon_kib;
    int logins;
};

// The process's handle count as the system's process list gives it: Wine reports it there,
// while its GetProcessHandleCount answers 0 for every process.
DWORD handle_count(DWORD pid) {
    typedef NTSTATUS(NTAPI * QueryFn)(ULONG, PVOID, ULONG, PULONG);
    static QueryFn query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    static std::vector<char> list(1 << 20);
    ULONG size = 0;
    if (!query ||
        query(SystemProcessInformation, list.data(), static_cast<ULONG>(list.size()), &size) != 0)
        return 0;
    for (size_t at = 0;;) {
        auto* entry = reinterpret_cast<SYSTEM_PROCESS_INFORMATION*>(list.data() + at);
        if (reinterpret_cast<ULONG_PTR>(entry->UniqueProcessId) == pid) return entry->HandleCount;
        if (entry->NextEntryOffset == 0) return 0;
        at += entry->NextEntryOffset;
    }
}

Sample sample(HANDLE viewer, DWORD pid, const LinuxProcess& linux_side, const unitsim::Server& unit,
              DWORD started) {
    Sample s = {};
    s.at_s = (GetTickCount() - started) / 1000.0;
    s.handles = handle_count(pid);
    s.gdi = GetGuiResources(viewer, GR_GDIOBJECTS);
    s.user = GetGuiResources(viewer, GR_USEROBJECTS);
    // Private bytes: the commit charge (Wine fills PagefileUsage, not PrivateUsage).
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(viewer, &memory, sizeof memory))
        s.private_kib = memory.PagefileUsage / 1024;
    s.anon_kib = linux_side.anon_kib();
    s.logins = unit.stats().logins;
    return s;
}

void print(const char* label, const Sample& s) {
    printf("  %-6s %7.0f s %8lu %6lu %6lu %12zu %12ld %8d\n", label, s.at_s,
           static_cast<unsigned long>(s.handles), static_cast<unsigned long>(s.gdi),
           static_cast<unsigned long>(s.user), s.private_kib, s.anon_kib, s.logins);
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 600;
    const char* only = nullptr; // one fault alone, to look at it
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--seconds")) seconds = atof(argv[i + 1]);
        if (!strcmp(argv[i], "--only")) only = argv[i + 1];
    }
    setvbuf(stdout, nullptr, _IONBF, 0);

    unitsim::Config healthy;
    healthy.restart_ms = 3000;
    unitsim::Server unit(healthy);
    if (getenv("SOAK_LOG")) // the stand-in's own log, with seconds since it started
        unit.set_log([](int connection, const std::string& text) {
            static DWORD began = GetTickCount();
            printf("    [%7.1f] #%d %s\n", (GetTickCount() - began) / 1000.0, connection,
                   text.c_str());
        });
    int port = unit.start(0);
    if (port <= 0) {
        fprintf(stderr, "viewer_soak: the stand-in did not start\n");
        return 1;
    }
    TempFolder folder;
    write_settings(folder.path(), port, "admin", "vorlix");
    ViewerProcess viewer;
    if (!viewer.start(folder.path())) return 1;
    HWND main = viewer.main_window();
    LinuxProcess linux_side;
    if (!main || !wait_until([&] { return unit.stats().logins >= 1; }, 10000) ||
        !linux_side.find(viewer_exe_path(), nullptr, nullptr)) {
        fprintf(stderr, "viewer_soak: the viewer did not start and log in\n");
        viewer.end_for_cleanup();
        return 1;
    }
    Sleep(6000); // the first queries done, the icon drawn
    DWORD started = GetTickCount();
    auto elapsed = [&] { return (GetTickCount() - started) / 1000.0; };
    auto logins = [&] { return unit.stats().logins; };
    // Waits until the viewer has logged in again (or the step's limit or the run's end).
    auto relogged = [&](int before, double limit_s) {
        double until = elapsed() + limit_s;
        wait_until([&] { return logins() > before || elapsed() >= until || elapsed() >= seconds; },
                   600000, 100);
    };
    // One spoilt reply, then the viewer's next login.
    auto spoil_once = [&](unitsim::Fault fault, double relog_limit_s) {
        int before = logins();
        fault.times = 1;
        unit.add_fault(fault);
        relogged(before, relog_limit_s);
        unit.clear_faults();
    };
    unitsim::Fault closed_once; // the connection closes in the middle of a reply
    closed_once.close_after = 20;
    closed_once.times = 1;
    auto drop = [&] { spoil_once(closed_once, 30); };
    // Runs `spoil` on the stand-in, keeps it `hold_s`, restores the healthy unit, and waits
    // for the viewer's next login.
    auto phase = [&](std::function<void()> spoil, double hold_s, double relog_limit_s) {
        int before = logins();
        spoil();
        double until = elapsed() + hold_s;
        wait_until([&] { return elapsed() >= until || elapsed() >= seconds; }, 600000, 100);
        unit.clear_faults();
        unit.set_config(healthy);
        relogged(before, relog_limit_s);
    };
    std::string big_output;
    while (big_output.size() < 64 * 1024)
        big_output += "0123456789abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopqrstu\r\n";
    std::vector<size_t> small_pieces;
    for (size_t at = 5; at < 4096; at += 5)
        small_pieces.push_back(at);

    struct Step {
        const char* name;
        std::function<void()> run;
    };
    const std::vector<Step> steps = {
        {"silence",
         [&] {
             unitsim::Fault silent;
             silent.silence = true;
             spoil_once(silent, 60);
         }},
        {"split prompts",
         [&] {
             phase(
                 [&] {
                     unitsim::Fault split; // every reply, its prompt included, in 5-byte pieces
                     split.split_at = small_pieces;
                     split.split_pause_ms = 1;
                     unit.add_fault(split);
                 },
                 10, 0);
         }},
        {"oversize reply",
         [&] {
             unitsim::Fault oversize;
             oversize.command = "cmd ver";
             oversize.has_output = true;
             oversize.output = big_output;
             spoil_once(oversize, 30);
         }},
        {"power cycle",
         [&] {
             int before = logins();
             if (choose_menu_entry(main, viewer.pid(), kMenuPowercycle))
                 if (HWND box = wait_box(viewer.pid(), "Are you sure", 5000)) press_ok(box);
             relogged(before, 60);
         }},
        {"wrong password",
         [&] {
             phase(
                 [&] {
                     unitsim::Config config = healthy;
                     config.password = "not-the-password";
                     config.login_delay_ms = 1000;
                     unit.set_config(config);
                     unit.add_fault(closed_once);
                 },
                 20, 60);
         }},
        {"never login",
         [&] {
             phase(
                 [&] {
                     unitsim::Config config = healthy;
                     config.never_login = true;
                     unit.set_config(config);
                     unit.add_fault(closed_once);
                 },
                 20, 60);
         }},
    };

    HANDLE probe = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, viewer.pid());
    if (!probe) {
        fprintf(stderr, "viewer_soak: cannot open the viewer's process\n");
        viewer.end_for_cleanup();
        return 1;
    }
    printf("soak of %.0f s: the viewer against the stand-in cycling its faults\n", seconds);
    printf("  %-6s %9s %8s %6s %6s %12s %12s %8s\n", "sample", "at", "handles", "GDI", "USER",
           "private KiB", "RssAnon KiB", "logins");
    std::vector<Sample> samples = {sample(probe, viewer.pid(), linux_side, unit, started)};
    print("start", samples[0]);
    std::vector<int> served(steps.size(), 0);
    Sample warm = {}; // after the first whole cycle: every fault and the menu seen once
    int drops = 0;
    double next_minute = 60;
    for (size_t i = 0; elapsed() < seconds; i = (i + 1) % steps.size()) {
        // Plain drops before each fault: the common case, and most of the reconnects.
        for (int k = 0; k < 3 && elapsed() < seconds; ++k, ++drops)
            drop();
        if (elapsed() < seconds && (!only || !strcmp(only, steps[i].name))) {
            double at = elapsed();
            int before = logins();
            steps[i].run();
            ++served[i];
            printf("  %5.0f s  %-15s %5.1f s, logins %d -> %d\n", at, steps[i].name, elapsed() - at,
                   before, logins());
        }
        if (i + 1 == steps.size() && warm.logins == 0) {
            warm = sample(probe, viewer.pid(), linux_side, unit, started);
            print("warm", warm);
        }
        while (elapsed() >= next_minute) {
            samples.push_back(sample(probe, viewer.pid(), linux_side, unit, started));
            print("", samples.back());
            next_minute += 60;
        }
    }
    // The end: the healthy unit back and the viewer logged in and settled.
    unit.clear_faults();
    unit.set_config(healthy);
    Sleep(10000);
    Sample end = sample(probe, viewer.pid(), linux_side, unit, started);
    print("end", end);
    const Sample& begin = samples[0];
    unitsim::Stats stats = unit.stats();
    printf("reconnects (logins after the first): %d over %.0f s\n", end.logins - 1, end.at_s);
    printf("  stand-in: %d connections, %d refused while restarting, %d wrong-password logins\n",
           stats.connections, stats.refused, stats.failed_logins);
    printf("  steps: %d drops", drops);
    for (size_t i = 0; i < steps.size(); ++i)
        printf(", %s %d", steps[i].name, served[i]);
    printf("\nend minus start: handles %+ld, GDI %+ld, USER %+ld, private %+ld KiB, RssAnon %+ld "
           "KiB\n",
           static_cast<long>(end.handles) - static_cast<long>(begin.handles),
           static_cast<long>(end.gdi) - static_cast<long>(begin.gdi),
           static_cast<long>(end.user) - static_cast<long>(begin.user),
           static_cast<long>(end.private_kib) - static_cast<long>(begin.private_kib),
           end.anon_kib - begin.anon_kib);
    if (warm.logins != 0)
        printf("end minus warm (%.0f s): handles %+ld, GDI %+ld, USER %+ld, private %+ld KiB, "
               "RssAnon %+ld KiB\n",
               warm.at_s, static_cast<long>(end.handles) - static_cast<long>(warm.handles),
               static_cast<long>(end.gdi) - static_cast<long>(warm.gdi),
               static_cast<long>(end.user) - static_cast<long>(warm.user),
               static_cast<long>(end.private_kib) - static_cast<long>(warm.private_kib),
               end.anon_kib - warm.anon_kib);
    printf("GDI and USER objects: %s\n",
           end.gdi || end.user ? "as reported" : "not reported (0) by this system");
    printf("viewer still running: %s\n", viewer.running() ? "yes" : "NO");
    CloseHandle(probe);
    viewer.end_for_cleanup();
    return 0;
}
