// The two one-shot requests the worker serves: power cycle and log capture.
#pragma once
#include <atomic>
#include <cstddef>

struct DeviceRecord;

// Main thread: queue a capture into path (its own copy) and raise the capture bit.
void request_log_capture(const char* path);

// Worker: bodies called by poll_status. The power cycle's bit is lowered by the caller; the
// capture lowers its own, under the lock that guards the path. Both are false when the link
// must be dropped: always after a power cycle (the unit restarts), and after a capture whose
// reply did not end on its prompt (the unit is out of step).
bool serve_power_cycle(DeviceRecord& rec);
bool serve_log_capture(DeviceRecord& rec);

// A capture's bounds: each command's reply at most capture_reply_limit bytes (8 MiB; tests and
// the fuzz target lower it), the whole capture CAPTURE_DEADLINE_S worker seconds (second_ms).
extern std::atomic<size_t> capture_reply_limit;
constexpr int CAPTURE_DEADLINE_S = 600;
