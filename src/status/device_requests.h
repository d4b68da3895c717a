// The two one-shot requests the worker serves: power cycle and log capture.
#pragma once

struct DeviceRecord;

// Main thread: queue a capture into path (its own copy) and raise the capture bit.
void request_log_capture(const char* path);

// Worker: bodies called by poll_status. The power cycle's bit is lowered by the caller; the
// capture lowers its own, under the lock that guards the path.
bool serve_power_cycle(DeviceRecord& rec);
void serve_log_capture(DeviceRecord& rec);
