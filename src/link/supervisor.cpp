#include "link/supervisor.h"

#include "link/console_link.h"
#include "link/link_flags.h"
#include "link/link_timing.h"
#include "link/settings_file.h"
#include "link/socket_layer.h"
#include "status/device_record.h"
#include "status/poll_cycle.h"
#include "status/view_hooks.h"

std::atomic<uint32_t> worker_seconds{0};

namespace {

constexpr int kMaxAttempts = 10000;
constexpr int kAttemptPauseSeconds = 15;
constexpr uint32_t kQueryEveryTurns = 5;

// A wait of the worker that new settings end as the stop does. Paused in ticks, so a raised
// reconnect_request is seen within one. True when the whole time passed.
bool pause_ms(int ms) {
    const int tick = tick_ms.load();
    while (ms > 0) {
        if (reconnect_request.load() != 0) return false;
        int slice = tick > 0 && tick < ms ? tick : ms;
        if (stop_sleep_ms(slice)) return false;
        ms -= slice;
    }
    return reconnect_request.load() == 0 && !stop_requested();
}

// n worker seconds, ended early by the stop or new settings.
void sleep_seconds(int n) {
    // One second at a time, so a changed second_ms applies from the next second on.
    for (int i = 0; i < n; ++i) {
        if (!pause_ms(second_ms.load())) return;
        worker_seconds.fetch_add(1);
    }
}

void link_reconnect() {
    for (int attempts = 0; attempts < kMaxAttempts && device.socket.load() == NO_SOCKET;
         ++attempts) {
        if (stop_requested()) return;
        // Lowered before this attempt reads the settings: a save that lands after the read
        // raises it again and cuts the attempt short, while one that landed before is already
        // in the fields, so the connection made with them is kept.
        reconnect_request.store(0);
        device.socket.store(link_open(device));
        if (device.socket.load() != NO_SOCKET) {
            if (link_login(device) == 0) return;
            link_close(device); // not link_drop: a raised flag must survive to the test below
        }
        // A connect or login cut short by the stop is no failed attempt: leave at once.
        if (stop_requested()) return;
        // Nor is one cut short by new settings: the next attempt, with them, follows at once.
        if (reconnect_request.load() != 0) continue;
        settings_read(device); // the next attempt takes the file as it now stands
        reset_status();
        views_refresh();
        sleep_seconds(kAttemptPauseSeconds);
    }
}

} // namespace

void worker_main() {
    worker_seconds.store(0);
    if (settings_read(device)) link_reconnect();

    uint32_t turn = 0;
    while (!stop_requested()) {
        const bool query_turn = turn % kQueryEveryTurns == 0;
        if (query_turn) raise_request(REQUEST_REFRESH);
        bool healthy = poll_status(device);
        // A poll cut by the stop fails too, but must not count as a lost link.
        if (stop_requested()) return;
        if (!healthy || reconnect_request.load() != 0) {
            link_drop(device);
            reset_status();
            views_refresh(); // the blank status, in place of the query turn's refresh
            if (settings_read(device)) link_reconnect();
            if (stop_requested()) return;
            // A new link shows its status on the next turn, not up to five turns later: after
            // a resume or new settings the user is looking for fresh values.
            turn = kQueryEveryTurns - 1;
        } else if (query_turn) {
            views_refresh();
        }
        sleep_seconds(1);
        ++turn;
    }
}
