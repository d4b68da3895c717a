// Full status turns against the stand-in, each reply delayed 0 ms and 20 ms: the median turn,
// its ratio to the stand-in's own time (18 x the delay) and the heap allocations a turn makes
// on its own thread; natively also the memory the link history adds (its static data).
// Usage: poll_cycle [TURNS]
#include "link/console_link.h"
#include "link/link_flags.h"
#include "link/link_history.h"
#include "status/device_record.h"
#include "status/poll_cycle.h"
#include "unitsim.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

// Counts only calls made on the measured thread while counting is on, so the stand-in's own
// threads in this process do not count.
namespace {
std::atomic<bool> counting{false};
std::thread::id counted_thread;
std::atomic<long> allocations{0};

[[maybe_unused]] void note_allocation() {
    if (counting.load(std::memory_order_relaxed) && std::this_thread::get_id() == counted_thread)
        allocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BENCH_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define BENCH_SANITIZED 1
#endif
#endif

#if defined(BENCH_SANITIZED)
// The sanitizer owns the allocator: nothing is counted.
const char* const kCounted = "nothing (sanitizer build)";
#elif defined(__GLIBC__)
// The C library's allocations too (snprintf's and friends'); operator new calls malloc.
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void* malloc(size_t size) {
    note_allocation();
    return __libc_malloc(size);
}
extern "C" void* calloc(size_t n, size_t size) {
    note_allocation();
    return __libc_calloc(n, size);
}
extern "C" void* realloc(void* p, size_t size) {
    note_allocation();
    return __libc_realloc(p, size);
}
const char* const kCounted = "malloc, calloc, realloc and operator new";
#else
void* operator new(size_t size) {
    note_allocation();
    void* p = malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void operator delete(void* p) noexcept {
    free(p);
}
void operator delete(void* p, size_t) noexcept {
    free(p);
}
const char* const kCounted = "operator new";
#endif

namespace {

// Median milliseconds of `turns` turns; adds their allocations and failures.
double run(int delay_ms, int turns, long* allocated, int* failures) {
    unitsim::Config config;
    config.frozen = true;
    unitsim::Server server(config);
    if (delay_ms > 0) {
        unitsim::Fault slow;
        slow.delay_ms = delay_ms; // every command
        server.add_fault(slow);
    }
    int port = server.start(0);
    device_record_init();
    snprintf(device.ip, sizeof device.ip, "127.0.0.1");
    snprintf(device.port, sizeof device.port, "%d", port);
    snprintf(device.username, sizeof device.username, "admin\r");
    snprintf(device.password, sizeof device.password, "vorlix\r");
    device.socket = link_open(device);
    if (device.socket.load() == NO_SOCKET || link_login(device) != 0) {
        fprintf(stderr, "cannot log in to the stand-in\n");
        exit(1);
    }
    std::vector<double> times;
    for (int i = 0; i < turns + 2; ++i) {
        raise_request(REQUEST_REFRESH);
        long before = allocations.load();
        counting = true;
        auto start = std::chrono::steady_clock::now();
        bool ok = poll_status(device);
        auto end = std::chrono::steady_clock::now();
        counting = false;
        *failures += ok ? 0 : 1;
        if (i < 2) continue; // warm-up
        *allocated += allocations.load() - before;
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    link_close(device);
    server.stop();
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

#ifdef CORE_LIBRARY
// The static data of link_history.cpp's object in the core library, as nm sizes it.
long history_bytes() {
    FILE* nm = popen("nm -S --defined-only " CORE_LIBRARY " 2>/dev/null", "r");
    if (!nm) return -1;
    char line[512];
    bool inside = false;
    long bytes = 0;
    while (fgets(line, sizeof line, nm)) {
        if (strchr(line, ':')) inside = strstr(line, "link_history.") != nullptr;
        unsigned long long address = 0, size = 0;
        char kind = 0;
        if (inside && sscanf(line, "%llx %llx %c", &address, &size, &kind) == 3 &&
            strchr("bBdD", kind))
            bytes += static_cast<long>(size);
    }
    pclose(nm);
    return bytes;
}
#endif

} // namespace

int main(int argc, char** argv) {
    int turns = argc > 1 ? atoi(argv[1]) : 25;
    if (turns < 1) turns = 25;
    counted_thread = std::this_thread::get_id();
    // The counter must see an allocation it claims to count.
    counting = true;
    int* volatile object = new int(1);
    counting = false;
    delete object;
    printf("poll cycle against the stand-in, %d turns each; counted: %s (self-check %ld)\n", turns,
           kCounted, allocations.exchange(0));
    for (int delay : {0, 20}) {
        long allocated = 0;
        int failures = 0;
        double ms = run(delay, turns, &allocated, &failures);
        char ratio[32] = "";
        if (delay > 0) snprintf(ratio, sizeof ratio, ", ratio %.3f", ms / (18.0 * delay));
        printf("delay %2d ms: median %8.3f ms, stand-in %5.1f ms%s; allocations per turn %.2f, "
               "failed turns %d\n",
               delay, ms, 18.0 * delay, ratio, static_cast<double>(allocated) / turns, failures);
    }
    printf("link history: %d events x %zu bytes, %d signal minutes", HISTORY_EVENTS,
           sizeof(LinkEvent), HISTORY_MINUTES);
#ifdef CORE_LIBRARY
    long bytes = history_bytes();
    if (bytes > 0) printf("; its static data %ld bytes = %.1f KiB", bytes, bytes / 1024.0);
#endif
    printf("\n");
    return 0;
}
