// The two one-shot requests the worker serves: power cycle and log capture.
#pragma once
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

// A capture's bounds: each command's reply at most CAPTURE_REPLY_LIMIT bytes, the whole capture
// CAPTURE_DEADLINE_S worker seconds (second_ms).
constexpr size_t CAPTURE_REPLY_LIMIT = 8u << 20;
constexpr int CAPTURE_DEADLINE_S = 600;
