#include "status/device_requests.h"

#include "link/console_link.h"
#include "link/link_flags.h"
#include "link/link_state.h"
#include "link/link_timing.h"
#include "link/socket_layer.h"
#include "link/unit_console.h"
#include "status/device_record.h"
#include "status/view_hooks.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

constexpr size_t LOG_PATH_SIZE = 260;

enum CaptureStatus {
    CAPTURE_OK = 0,
    CAPTURE_NO_FILE = 1,
    CAPTURE_SEND_FAILED = 2,
    CAPTURE_NO_PROMPT = 3,
    CAPTURE_WRITE_FAILED = 4, // a full disk: reported as a failure, never as a log
    CAPTURE_ENDLESS = 5       // a reply past its byte bound or the capture's deadline
};

typedef std::chrono::steady_clock Clock;

// The path of the capture asked for last; the worker takes its own copy when it starts,
// so a request made during a capture never changes the running one's file or message.
std::mutex pending_mutex;
char pending_path[LOG_PATH_SIZE];

struct DiagnosticCommand {
    const char* text;
    int idle_limit_s;
};
const DiagnosticCommand kDiagnostics[4] = {
    {"cmd showstate\r", 30},
    {"cmd showconfig\r", 60},
    {"cmd syslog\r", 30},
    {"cmd event dump\r", 30},
};

void take_pending_path(char* path) {
    std::lock_guard<std::mutex> lock(pending_mutex);
    // A request made after the bit was lowered is this same capture: serve it once.
    lower_request(REQUEST_LOG_CAPTURE);
    memcpy(path, pending_path, LOG_PATH_SIZE);
}

// The piece may hold NUL bytes from the unit, so it is searched over its whole length.
bool holds_text(const char* data, size_t length, const char* text) {
    const size_t n = strlen(text);
    for (size_t i = 0; i + n <= length; ++i)
        if (memcmp(data + i, text, n) == 0) return true;
    return false;
}

int capture_command(DeviceRecord& rec, FILE* file, const char* command, int idle_limit_s,
                    Clock::time_point deadline) {
    intptr_t sock = rec.socket.load();
    if (!link_discard_waiting(sock) || link_send(sock, command) <= 0) return CAPTURE_SEND_FAILED;
    const size_t limit = CAPTURE_REPLY_LIMIT;
    size_t kept = 0; // bytes of this reply in the file
    char piece[REPLY_BUFFER_SIZE];
    // A failed write still reads the reply up to its prompt, so the link stays in step.
    bool written = true;
    for (;;) {
        // A unit that trickles without its prompt would otherwise hold the worker for ever.
        if (Clock::now() >= deadline) return CAPTURE_ENDLESS;
        size_t length = 0;
        if (!link_receive(sock, piece, sizeof piece, nullptr, idle_limit_s, &length))
            return CAPTURE_NO_PROMPT;
        // Every byte as it came, NUL bytes included, up to the reply's bound.
        size_t take = length < limit - kept ? length : limit - kept;
        written = written && fwrite(piece, 1, take, file) == take && fflush(file) == 0;
        kept += take;
        if (take < length) return CAPTURE_ENDLESS; // the rest dropped: out of step
        // Each piece on its own: a prompt split across two pieces is not seen.
        if (holds_text(piece, length, DEVICE_PROMPT)) {
            written = written && fwrite("\r\n", 1, 2, file) == 2 && fflush(file) == 0;
            return written ? CAPTURE_OK : CAPTURE_WRITE_FAILED;
        }
        if (kept >= limit) return CAPTURE_ENDLESS;
        if (stop_requested()) return CAPTURE_NO_PROMPT;
    }
}

// A reply that did not end on its prompt may still finish later and would be taken for the
// next command's: the link is out of step. A close or new settings keep their own reason.
void note_out_of_step() {
    const int seen = link_take_failure(REASON_NONE);
    const bool kept =
        seen == REASON_CLOSED || seen == REASON_NEW_SETTINGS || seen == REASON_RESUMED;
    link_note_failure(kept ? seen : REASON_OUT_OF_STEP);
}

} // namespace

void request_log_capture(const char* path) {
    std::lock_guard<std::mutex> lock(pending_mutex);
    (void)snprintf(pending_path, sizeof pending_path, "%s", path);
    raise_request(REQUEST_LOG_CAPTURE);
}

bool serve_power_cycle(DeviceRecord& rec) {
    intptr_t sock = rec.socket.load();
    if (!link_discard_waiting(sock) || link_send(sock, "cmd pwrmode 2\r") <= 0) return false;
    char reply[REPLY_BUFFER_SIZE];
    // Any answer will do: the unit restarts, so the link is dropped at once. An unanswered
    // one leaves the unit's reply to come later: out of step, dropped as well.
    if (link_receive(sock, reply, sizeof reply, nullptr, REPLY_IDLE_LIMIT_S))
        link_note_failure(REASON_POWER_CYCLE);
    else
        note_out_of_step();
    return false;
}

bool serve_log_capture(DeviceRecord& rec) {
    char path[LOG_PATH_SIZE];
    take_pending_path(path);
    const Clock::time_point deadline =
        Clock::now() +
        std::chrono::milliseconds(static_cast<long long>(CAPTURE_DEADLINE_S) * second_ms.load());

    int status = CAPTURE_NO_FILE;
    FILE* file = fopen(path, "wb");
    if (file != nullptr) {
        status = CAPTURE_OK;
        for (const DiagnosticCommand& command : kDiagnostics) {
            status = capture_command(rec, file, command.text, command.idle_limit_s, deadline);
            if (status != CAPTURE_OK) break;
        }
        // Keeps whatever was captured before a failure.
        if (fclose(file) != 0 && status == CAPTURE_OK) status = CAPTURE_WRITE_FAILED;
    }
    // A file that could not be made or written leaves the link in step; nothing else does.
    const bool in_step =
        status == CAPTURE_OK || status == CAPTURE_NO_FILE || status == CAPTURE_WRITE_FAILED;
    if (!in_step) note_out_of_step();
    // A worker asked to stop leaves the views alone: the shell is going away.
    if (stop_requested()) return in_step;

    views_update_tray(false, false);
    char message[2048];
    if (status == CAPTURE_NO_FILE)
        (void)snprintf(message, sizeof message, "Unable to create %s", path);
    else if (status == CAPTURE_OK)
        (void)snprintf(message, sizeof message, "Generated Log File : %s", path);
    else
        (void)snprintf(message, sizeof message, "Failed To Generate Log File : %s", path);
    views_show_report(message);
    return in_step;
}
