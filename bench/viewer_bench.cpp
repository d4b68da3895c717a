// The viewer as a user runs it, measured from outside under Wine against the unit stand-in:
//  - start-up: time from process start to the main window, to the tray icon on screen, and
//    to the first full status in the status window (median of several starts);
//  - the refresh interval: time between the starts of two status queries, seen by the
//    stand-in, over the connected phase, beside the stand-in's own time for one query;
//  - CPU seconds and peak private (anonymous) memory of the viewer while connected and while
//    the unit is unreachable, beside the same figures of a minimal tray program of our own
//    (a hidden window and one tray icon) measured over the same phases.
// Usage: viewer_bench [--starts N] [--connected SECONDS] [--unreachable SECONDS]
#include "../tests/e2e/viewer_driver.h"
#include "unitsim.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

using namespace e2e;

namespace {

double now_s() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string windows_path(const char* unix_path) {
    std::string path = unix_path;
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Status query starts and ends as the stand-in sees them.
std::mutex query_mutex;
std::vector<double> query_starts, query_ends;

void note_command(int, const std::string& text) {
    double at = now_s();
    std::lock_guard<std::mutex> lock(query_mutex);
    if (text == "cmd device cell") query_starts.push_back(at);
    if (text.compare(0, 9, "ifconfig ") == 0) query_ends.push_back(at);
}

// The Linux side of a Wine process, read through drive Z: (the whole process: every thread
// of the program and of Wine inside it).
struct LinuxProcess {
    std::string proc; // "Z:\\proc\\<pid>"

    bool find(const char* exe_name) {
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA("Z:\\proc\\*", &entry);
        if (search == INVALID_HANDLE_VALUE) return false;
        do {
            if (!isdigit(static_cast<unsigned char>(entry.cFileName[0]))) continue;
            std::string dir = std::string("Z:\\proc\\") + entry.cFileName;
            std::string command;
            if (!read_file(dir + "\\cmdline", &command)) continue;
            if (command.find(exe_name) != std::string::npos &&
                command.find("viewer_bench") == std::string::npos) {
                proc = dir;
                break;
            }
        } while (FindNextFileA(search, &entry));
        FindClose(search);
        return !proc.empty();
    }

    // CPU seconds (user + system) of all its threads; clock ticks are 1/100 s.
    double cpu_s() const {
        std::string stat;
        if (proc.empty() || !read_file(proc + "\\stat", &stat)) return -1;
        size_t close = stat.rfind(')');
        if (close == std::string::npos) return -1;
        unsigned long long utime = 0, stime = 0;
        // Fields after the command: state(3) ... utime(14) stime(15).
        const char* p = stat.c_str() + close + 2;
        for (int field = 3; field < 14 && *p; ++field) {
            p = strchr(p, ' ');
            if (!p) return -1;
            ++p;
        }
        if (sscanf(p, "%llu %llu", &utime, &stime) != 2) return -1;
        return static_cast<double>(utime + stime) / 100.0;
    }

    // Resident anonymous memory, KiB: the process's private memory.
    long anon_kib() const {
        std::string status;
        if (proc.empty() || !read_file(proc + "\\status", &status)) return -1;
        size_t at = status.find("RssAnon:");
        return at == std::string::npos ? -1 : atol(status.c_str() + at + 8);
    }
};

// A program being measured: its process, its Linux side, and one phase's figures.
struct Measured {
    LinuxProcess linux_side;
    double cpu_start = 0;
    long peak_kib = 0;

    void begin_phase() {
        cpu_start = linux_side.cpu_s();
        peak_kib = 0;
        sample();
    }
    void sample() { peak_kib = std::max(peak_kib, linux_side.anon_kib()); }
    double cpu_used() const { return linux_side.cpu_s() - cpu_start; }
};

struct PhaseFigures {
    double seconds;
    double cpu_viewer, cpu_minimal;
    long peak_viewer, peak_minimal;
};

PhaseFigures run_phase(double seconds, Measured& viewer, Measured& minimal) {
    viewer.begin_phase();
    minimal.begin_phase();
    double start = now_s();
    while (now_s() - start < seconds) {
        Sleep(1000);
        viewer.sample();
        minimal.sample();
    }
    PhaseFigures figures;
    figures.seconds = now_s() - start;
    figures.cpu_viewer = viewer.cpu_used();
    figures.cpu_minimal = minimal.cpu_used();
    figures.peak_viewer = viewer.peak_kib;
    figures.peak_minimal = minimal.peak_kib;
    return figures;
}

void print_phase(const char* title, const PhaseFigures& f) {
    printf("%s, %.0f s:\n", title, f.seconds);
    printf("  %-22s %10s %12s %16s\n", "program", "CPU s", "% of a core", "peak private KiB");
    printf("  %-22s %10.2f %12.3f %16ld\n", "VORLIXViewer.exe", f.cpu_viewer,
           100.0 * f.cpu_viewer / f.seconds, f.peak_viewer);
    printf("  %-22s %10.2f %12.3f %16ld\n", "minimal_tray.exe", f.cpu_minimal,
           100.0 * f.cpu_minimal / f.seconds, f.peak_minimal);
    printf("  viewer above minimal: %.2f CPU s, %ld KiB\n", f.cpu_viewer - f.cpu_minimal,
           f.peak_viewer - f.peak_minimal);
}

bool status_full(HWND status) {
    std::vector<std::pair<int, std::string>> texts;
    if (!read_status(status, &texts)) return false;
    for (const auto& text : texts)
        if (trimmed(text.second).empty()) return false;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    int starts = 5;
    double connected_s = 600, unreachable_s = 600;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--starts")) starts = atoi(argv[i + 1]);
        if (!strcmp(argv[i], "--connected")) connected_s = atof(argv[i + 1]);
        if (!strcmp(argv[i], "--unreachable")) unreachable_s = atof(argv[i + 1]);
    }
    setvbuf(stdout, nullptr, _IONBF, 0);

    unitsim::Server unit; // a live unit: values change from query to query
    unit.set_log(note_command);
    int port = unit.start(0);
    if (port <= 0) {
        fprintf(stderr, "viewer_bench: the stand-in did not start\n");
        return 1;
    }
    TempFolder folder;
    write_settings(folder.path(), port, "admin", "vorlix");
    TrayWatcher tray;
    if (!tray.load(viewer_exe_path())) {
        fprintf(stderr, "viewer_bench: cannot read the icons of %s\n", viewer_exe_path().c_str());
        return 1;
    }

    // Start-up, several times; each run ends before the next starts (one viewer at a time).
    std::vector<double> to_window, to_icon, to_status;
    for (int run = 0; run < starts; ++run) {
        ViewerProcess viewer;
        double t0 = now_s();
        if (!viewer.start(folder.path())) return 1;
        double window_at = -1, icon_at = -1, status_at = -1;
        HWND main = nullptr, status = nullptr;
        while (now_s() - t0 < 30 && (icon_at < 0 || status_at < 0)) {
            if (!main) {
                std::vector<HWND> found =
                    top_windows(viewer.pid(), "VORLIXViewerClass__", nullptr, false);
                if (!found.empty()) {
                    main = found[0];
                    window_at = now_s() - t0;
                    tray_click(main, WM_LBUTTONUP); // the user opens the status window
                }
            }
            if (icon_at < 0 && tray.shown_icon() != 0) icon_at = now_s() - t0;
            if (main && !status) {
                std::vector<HWND> found =
                    top_windows(viewer.pid(), "#32770", "VORLIX Connection Status", true);
                if (!found.empty()) status = found[0];
            }
            if (status && status_at < 0 && status_full(status)) status_at = now_s() - t0;
            Sleep(5);
        }
        viewer.end_for_cleanup();
        if (window_at < 0 || icon_at < 0 || status_at < 0) {
            fprintf(stderr,
                    "viewer_bench: start %d incomplete (window %.3f, icon %.3f, status %.3f)\n",
                    run + 1, window_at, icon_at, status_at);
            return 1;
        }
        to_window.push_back(window_at);
        to_icon.push_back(icon_at);
        to_status.push_back(status_at);
        wait_until([&] { return tray.shown_icon() == 0; }, 3000);
    }
    printf("start-up over %d starts (median, min-max):\n", starts);
    auto span = [](const char* what, std::vector<double> v) {
        printf("  %-24s %6.0f ms  (%.0f-%.0f)\n", what, 1000 * median(v),
               1000 * *std::min_element(v.begin(), v.end()),
               1000 * *std::max_element(v.begin(), v.end()));
    };
    span("to main window", to_window);
    span("to tray icon on screen", to_icon);
    span("to first full status", to_status);

    // The long run: the viewer as it runs unattended (status window never opened) and the
    // minimal tray program beside it.
    ViewerProcess viewer;
    if (!viewer.start(folder.path())) return 1;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION minimal_info = {};
    std::string minimal_exe = windows_path(MINIMAL_TRAY_EXE);
    std::string minimal_command = "\"" + minimal_exe + "\"";
    if (!CreateProcessA(minimal_exe.c_str(), &minimal_command[0], nullptr, nullptr, FALSE, 0,
                        nullptr, folder.path().c_str(), &startup, &minimal_info)) {
        fprintf(stderr, "viewer_bench: cannot start %s\n", minimal_exe.c_str());
        return 1;
    }
    Sleep(5000); // both settled: logged in, first query done, icons up
    Measured measured_viewer, measured_minimal;
    if (!measured_viewer.linux_side.find("VORLIXViewer.exe") ||
        !measured_minimal.linux_side.find("minimal_tray.exe")) {
        fprintf(stderr, "viewer_bench: cannot find the processes under Z:\\proc\n");
        return 1;
    }
    {
        std::lock_guard<std::mutex> lock(query_mutex);
        query_starts.clear();
        query_ends.clear();
    }
    PhaseFigures connected = run_phase(connected_s, measured_viewer, measured_minimal);

    std::vector<double> starts_seen, ends_seen;
    {
        std::lock_guard<std::mutex> lock(query_mutex);
        starts_seen = query_starts;
        ends_seen = query_ends;
    }
    unit.stop();
    PhaseFigures unreachable = run_phase(unreachable_s, measured_viewer, measured_minimal);

    std::vector<double> intervals, query_times;
    for (size_t i = 1; i < starts_seen.size(); ++i)
        intervals.push_back(starts_seen[i] - starts_seen[i - 1]);
    for (size_t i = 0; i < starts_seen.size() && i < ends_seen.size(); ++i)
        if (ends_seen[i] >= starts_seen[i]) query_times.push_back(ends_seen[i] - starts_seen[i]);
    printf("refresh interval over %.0f s connected: %zu intervals\n", connected.seconds,
           intervals.size());
    if (!intervals.empty()) {
        double sum = 0;
        for (double v : intervals)
            sum += v;
        double mean = sum / intervals.size();
        double query = median(query_times);
        double target = 5.0 + query;
        printf("  mean %.3f s, median %.3f s, min %.3f s, max %.3f s\n", mean, median(intervals),
               *std::min_element(intervals.begin(), intervals.end()),
               *std::max_element(intervals.begin(), intervals.end()));
        printf("  one query as the stand-in sees it (first command to last): median %.1f ms\n",
               1000 * query);
        printf("  5 s + query time = %.3f s; mean differs by %.2f %%\n", target,
               100.0 * (mean - target) / target);
    }
    print_phase("connected", connected);
    print_phase("unit unreachable", unreachable);

    viewer.end_for_cleanup();
    HWND minimal_window = FindWindowA("VORLIXMinimalTray", nullptr);
    if (minimal_window) PostMessageA(minimal_window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(minimal_info.hProcess, 3000) != WAIT_OBJECT_0)
        TerminateProcess(minimal_info.hProcess, 0);
    CloseHandle(minimal_info.hThread);
    CloseHandle(minimal_info.hProcess);
    return 0;
}
