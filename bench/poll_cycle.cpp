// Full status cycles against the stand-in, with each reply delayed 0 ms and 20 ms: the median
// cycle time, its ratio to the stand-in's own time (18 x the delay) and the heap allocations
// the cycle makes on its own thread.
#include "link/console_link.h"
#include "link/link_flags.h"
#include "status/device_record.h"
#include "status/poll_cycle.h"
#include "unitsim.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

// Allocation counting: only calls made on the measured thread while counting is on, so the
// stand-in's own threads in this process do not count.
namespace {
std::atomic<bool> counting{false};
std::thread::id counted_thread;
std::atomic<long> allocations{0};

// Unused where a sanitizer owns malloc and nothing is counted.
[[maybe_unused]] inline void note_allocation() {
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

#ifndef BENCH_SANITIZED
#if defined(__GLIBC__)
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
#define BENCH_RAW_MALLOC __libc_malloc
#else
#define BENCH_RAW_MALLOC malloc
#endif
void* operator new(size_t size) {
    note_allocation();
    void* p = BENCH_RAW_MALLOC(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* operator new[](size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    free(p);
}
void operator delete[](void* p) noexcept {
    free(p);
}
void operator delete(void* p, size_t) noexcept {
    free(p);
}
void operator delete[](void* p, size_t) noexcept {
    free(p);
}

#if defined(__GLIBC__)
// C allocations too (the C library's own, snprintf and friends included).
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
#define BENCH_COUNTS_MALLOC 1
#endif
#endif

namespace {

// What a 20 ms pause of the stand-in (a timed condition wait) really lasts in this runtime.
double measured_pause_ms(int ms) {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<double> times;
    for (int i = 0; i < 9; ++i) {
        std::unique_lock<std::mutex> lock(mu);
        auto start = std::chrono::steady_clock::now();
        cv.wait_for(lock, std::chrono::milliseconds(ms), [] { return false; });
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

struct Figures {
    double median_ms;
    double allocations_per_cycle;
    int failures;
};

Figures run(int delay_ms, int cycles) {
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
    Figures f{0, 0, 0};
    long counted = 0;
    for (int i = 0; i < cycles + 2; ++i) {
        raise_request(REQUEST_REFRESH);
        allocations = 0;
        counting = true;
        auto start = std::chrono::steady_clock::now();
        bool ok = poll_status(device);
        auto end = std::chrono::steady_clock::now();
        counting = false;
        if (!ok) ++f.failures;
        if (i < 2) continue; // warm-up
        counted += allocations.load();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    link_close(device);
    server.stop();
    std::sort(times.begin(), times.end());
    size_t n = times.size();
    f.median_ms = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
    f.allocations_per_cycle = static_cast<double>(counted) / cycles;
    return f;
}

} // namespace

int main(int argc, char** argv) {
    int cycles = argc > 1 ? atoi(argv[1]) : 25;
    if (cycles < 1) cycles = 25;
    counted_thread = std::this_thread::get_id();
#if defined(BENCH_SANITIZED)
    const char* counted_what = "not counted (sanitizer build)";
#elif defined(BENCH_COUNTS_MALLOC)
    const char* counted_what = "operator new and malloc/calloc/realloc";
#else
    const char* counted_what = "operator new";
#endif
    // The counter must see one allocation of each kind it claims to count (2 with malloc).
    counting = true;
    int* volatile object = new int(1);
    delete object;
#ifdef BENCH_COUNTS_MALLOC
    void* volatile block = malloc(24);
    free(block);
#endif
    counting = false;
    long self_check = allocations.exchange(0);
    printf("poll cycle against the stand-in, %d cycles each; allocations counted: %s "
           "(self-check saw %ld)\n",
           cycles, counted_what, self_check);
    for (int delay : {0, 20}) {
        Figures f = run(delay, cycles);
        double unit_ms = 18.0 * delay;
        char ratio[96] = "n/a";
        if (unit_ms > 0) {
            double pause = measured_pause_ms(delay);
            snprintf(ratio, sizeof ratio, "%.3f (%.3f to 18 x the measured pause of %.2f ms)",
                     f.median_ms / unit_ms, f.median_ms / (18.0 * pause), pause);
        }
        printf("delay %2d ms: median %8.3f ms, stand-in %6.1f ms, ratio %s, allocations/cycle "
               "%.2f, failed cycles %d\n",
               delay, f.median_ms, unit_ms, ratio, f.allocations_per_cycle, f.failures);
    }
    return 0;
}
