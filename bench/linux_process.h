// Shared by the benchmarks that measure the viewer from outside under Wine.
#pragma once
#include "viewer_driver.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace e2e {

// The Linux side of a Wine process, read through drive Z: (the whole process: every thread
// of the program and of Wine inside it).
struct LinuxProcess {
    std::string proc; // "Z:\\proc\\<pid>"

    // The newest live process whose command line holds exe_path, holds `with` and lacks
    // `without` (other builds' viewers may run on the same machine).
    bool find(const std::string& exe_path, const char* with, const char* without) {
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA("Z:\\proc\\*", &entry);
        if (search == INVALID_HANDLE_VALUE) return false;
        unsigned long long newest = 0;
        do {
            if (!isdigit(static_cast<unsigned char>(entry.cFileName[0]))) continue;
            std::string dir = std::string("Z:\\proc\\") + entry.cFileName;
            std::string command, stat;
            if (!read_file(dir + "\\cmdline", &command) || !read_file(dir + "\\stat", &stat))
                continue;
            for (char& c : command)
                if (c == '\0') c = ' ';
            if (command.find(exe_path) == std::string::npos ||
                (with && command.find(with) == std::string::npos) ||
                (without && command.find(without) != std::string::npos))
                continue;
            // Fields after the command: state(3) ... starttime(22).
            size_t close = stat.rfind(')');
            if (close == std::string::npos || close + 2 >= stat.size()) continue;
            const char* p = stat.c_str() + close + 2;
            if (*p == 'Z') continue;
            for (int field = 3; field < 22 && p; ++field) {
                p = strchr(p, ' ');
                if (p) ++p;
            }
            unsigned long long started = p ? strtoull(p, nullptr, 10) : 0;
            if (started >= newest) {
                newest = started;
                proc = dir;
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

} // namespace e2e
