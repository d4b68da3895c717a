// The two one-shot requests the worker serves: power cycle and log capture.
#pragma once
#include <cstdio>

struct DeviceRecord;

// Main thread: queue a capture into path (its own copy) and raise the capture bit.
void request_log_capture(const char* path);

// Worker: bodies called by poll_status once it has lowered the bit.
bool serve_power_cycle(DeviceRecord& rec);
void serve_log_capture(DeviceRecord& rec);
int capture_command(DeviceRecord& rec, FILE* file, const char* command, int idle_limit_s);

enum CaptureStatus {
    CAPTURE_OK = 0,
    CAPTURE_NO_FILE = 1,
    CAPTURE_SEND_FAILED = 2,
    CAPTURE_NO_PROMPT = 3
};
