// The viewer as a user runs it, measured from outside under Wine against the unit stand-in:
//  - start-up: time from process start to the main window, to the tray icon on screen, and
//    to the first full status in the status window (median of several starts);
//  - the refresh interval: time between the starts of two status queries, seen by the
//    stand-in, over the connected phase, beside the stand-in's own time for one query;
//  - CPU seconds and peak private (anonymous) memory of the viewer while connected and while
//    the unit is unreachable, beside the same figures of a minimal tray program of our own
//    (a hidden window and one tray icon) measured over the same phases.
// Usage: viewer_bench [--starts N] [--connected SECONDS] [--unreachable SECONDS]
#include "viewer_driver.h"
#include "linux_process.h"
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

// A program being measured: its Linux side and one phase's figures.
struct Measured {
    const char* label = "";
    LinuxProcess linux_side;
    double cpu_start = 0, cpu = 0;
    long peak_kib = 0;

    void begin_phase() {
        cpu_start = linux_side.cpu_s();
        peak_kib = 0;
        sample();
    }
    void sample() { peak_kib = std::max(peak_kib, linux_side.anon_kib()); }
    void end_phase() { cpu = linux_side.cpu_s() - cpu_start; }
};

// Runs one phase over every program; prints their CPU time and peak private memory, each
// beside the bare minimal tray program (the last one).
void run_phase(const char* title, double seconds, std::vector<Measured>& programs) {
    for (Measured& m : programs)
        m.begin_phase();
    double start = now_s();
    while (now_s() - start < seconds) {
        Sleep(1000);
        for (Measured& m : programs)
            m.sample();
    }
    double took = now_s() - start;
    for (Measured& m : programs)
        m.end_phase();
    const Measured& bare = programs.back();
    printf("%s, %.0f s:\n", title, took);
    printf("  %-34s %8s %12s %14s %16s\n", "program", "CPU s", "% of a core", "private KiB",
           "above bare KiB");
    for (const Measured& m : programs)
        printf("  %-34s %8.2f %12.3f %14ld %16ld\n", m.label, m.cpu, 100.0 * m.cpu / took,
               m.peak_kib, m.peak_kib - bare.peak_kib);
}

bool status_full(HWND status) {
    std::vector<std::pair<int, std::string>> texts;
    if (!read_status(status, &texts)) return false;
    for (const auto& text : texts)
        if (trimmed(text.second).empty()) return false;
    return true;
}

// Closes the minimal tray programs started so far (a zeroed entry was never started), so an
// early failure leaves none running in the prefix.
void end_minimal(PROCESS_INFORMATION* infos, int count) {
    for (int i = 0; i < count; ++i) {
        PROCESS_INFORMATION& info = infos[i];
        if (info.hProcess == nullptr) continue;
        for (HWND window : top_windows(info.dwProcessId, "VORLIXMinimalTray", nullptr, false))
            PostMessageA(window, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(info.hProcess, 3000) != WAIT_OBJECT_0)
            TerminateProcess(info.hProcess, 0);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
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

    // The long run: the viewer as it runs unattended (status window never opened), beside
    // the minimal tray program with the viewer's platform set-up and the bare one.
    ViewerProcess viewer;
    if (!viewer.start(folder.path())) return 1;
    std::string minimal_exe = windows_path(MINIMAL_TRAY_EXE);
    PROCESS_INFORMATION minimal_info[2] = {};
    const char* minimal_args[2] = {" platform", ""};
    for (int i = 0; i < 2; ++i) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        std::string command = "\"" + minimal_exe + "\"" + minimal_args[i];
        if (!CreateProcessA(minimal_exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                            folder.path().c_str(), &startup, &minimal_info[i])) {
            fprintf(stderr, "viewer_bench: cannot start %s\n", minimal_exe.c_str());
            end_minimal(minimal_info, i);
            return 1;
        }
    }
    Sleep(5000); // all settled: logged in, first query done, icons up
    std::vector<Measured> programs(3);
    programs[0].label = "VORLIXViewer.exe";
    programs[1].label = "minimal tray + platform set-up";
    programs[2].label = "minimal tray (bare)";
    if (!programs[0].linux_side.find(viewer_exe_path(), nullptr, nullptr) ||
        !programs[1].linux_side.find(minimal_exe, "platform", nullptr) ||
        !programs[2].linux_side.find(minimal_exe, nullptr, "platform")) {
        fprintf(stderr, "viewer_bench: cannot find the programs under Z:\\proc\n");
        end_minimal(minimal_info, 2);
        return 1;
    }
    {
        std::lock_guard<std::mutex> lock(query_mutex);
        query_starts.clear();
        query_ends.clear();
    }
    run_phase("connected", connected_s, programs);
    std::vector<double> starts_seen, ends_seen;
    {
        std::lock_guard<std::mutex> lock(query_mutex);
        starts_seen = query_starts;
        ends_seen = query_ends;
    }
    unit.stop();
    run_phase("unit unreachable", unreachable_s, programs);
    double connected_took = connected_s;

    std::vector<double> intervals, query_times;
    for (size_t i = 1; i < starts_seen.size(); ++i)
        intervals.push_back(starts_seen[i] - starts_seen[i - 1]);
    for (size_t i = 0; i < starts_seen.size() && i < ends_seen.size(); ++i)
        if (ends_seen[i] >= starts_seen[i]) query_times.push_back(ends_seen[i] - starts_seen[i]);
    printf("refresh interval over %.0f s connected: %zu intervals\n", connected_took,
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
    viewer.end_for_cleanup();
    end_minimal(minimal_info, 2);
    return 0;
}
