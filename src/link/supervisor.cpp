#include "link/supervisor.h"

#include "link/console_link.h"
#include "link/link_flags.h"
#include "link/link_history.h"
#include "link/link_state.h"
#include "link/link_timing.h"
#include "link/settings_file.h"
#include "link/socket_layer.h"
#include "status/device_record.h"
#include "status/poll_cycle.h"
#include "status/view_hooks.h"

#include <chrono>
#include <cstdio>
#include <ctime>

std::atomic<uint32_t> worker_seconds{0};

namespace {

constexpr int kMaxAttempts = 10000;
constexpr int kAttemptPauseSeconds = 15;
constexpr uint32_t kQueryEveryTurns = 5;
constexpr uint32_t kNoticeAfterSeconds = 60;

// The outage that began with a lost link; only the worker's thread touches it.
struct Outage {
    bool open;         // lost and not back yet
    bool notified;     // its notice has been shown
    uint32_t lost_at;  // worker_seconds at the loss
    int64_t lost_time; // time() of the loss
};
Outage outage;

bool given_up() {
    return stop_requested() || reconnect_request.load() != 0;
}

typedef std::chrono::steady_clock Clock;

// One wait of ms that only the stop or new settings end early: the worker wakes for nothing
// else. True when the whole time passed.
bool pause_ms(int ms) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (given_up()) return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return true;
        if (wake_sleep_ms(static_cast<int>(left.count())) && !given_up()) {
            // Woken by a request lowered meanwhile without clearing it: clear it, so this
            // wait sleeps on instead of spinning (a raise after the test raises it again).
            wake_clear();
            if (given_up()) wake_raise();
        }
    }
}

void local_hhmm(int64_t t, char* out, size_t size) {
    time_t when = static_cast<time_t>(t);
    const struct tm* local = localtime(&when);
    if (local == nullptr)
        (void)snprintf(out, size, "?");
    else
        (void)snprintf(out, size, "%02d:%02d", local->tm_hour % 100, local->tm_min % 100);
}

// After a pause of `passed` worker seconds that began at `began`: while the link is down, its
// minutes go into the history as without a link (a pause is shorter than a minute, so its
// two ends mark every minute it touched), and a lost link that has stayed down for a minute
// gets its one notice.
void seconds_passed(uint32_t passed, int64_t began) {
    const uint32_t seconds = worker_seconds.fetch_add(passed) + passed;
    LinkStatus status;
    link_status_get(&status);
    if (passed == 0 || status.state != LINK_DOWN) return;
    history_add_signal(began, -1);
    history_add_signal(time(nullptr), -1);
    if (!outage.open || outage.notified || seconds - outage.lost_at < kNoticeAfterSeconds) return;
    outage.notified = true;
    char when[8];
    local_hhmm(outage.lost_time, when, sizeof when);
    char text[128];
    (void)snprintf(text, sizeof text, "Lost the link to the unit at %s (%s).", when,
                   link_reason_text(status.reason));
    views_show_notice(text);
}

// n worker seconds in one wait, ended early by the stop or new settings; the whole seconds
// that did pass count.
void sleep_seconds(int n) {
    const int second = second_ms.load();
    const int64_t began = time(nullptr);
    const Clock::time_point start = Clock::now();
    uint32_t passed = static_cast<uint32_t>(n);
    if (!pause_ms(n * second)) {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        passed = second > 0 ? static_cast<uint32_t>(ms.count() / second) : 0;
        if (passed > static_cast<uint32_t>(n)) passed = static_cast<uint32_t>(n);
    }
    seconds_passed(passed, began);
}

void address_text(char* out, size_t size) {
    LinkSettings settings;
    settings_snapshot(device, &settings);
    (void)snprintf(out, size, "%.15s:%.5s", settings.ip, settings.port);
}

// The link went down, or an attempt failed, for the reason the lowest layer that saw it noted
// (fallback when none did): the state, the tooltip's reason and the history follow.
void link_failed(bool was_up, int fallback) {
    const int reason = link_take_failure(fallback);
    const int64_t now = time(nullptr);
    int kind = was_up ? EVENT_LOST : EVENT_FAILED;
    if (reason == REASON_POWER_CYCLE) kind = EVENT_POWER_CYCLE;
    if (reason == REASON_RESUMED) kind = EVENT_RESUMED;
    if (reason == REASON_NEW_SETTINGS) kind = EVENT_SETTINGS;
    char detail[40] = "";
    if (kind == EVENT_LOST || kind == EVENT_FAILED)
        (void)snprintf(detail, sizeof detail, "%s", link_reason_text(reason));
    if (kind == EVENT_SETTINGS) address_text(detail, sizeof detail);
    LinkStatus status;
    link_status_get(&status);
    // A file still missing is read again every second: one event, not one a second.
    if (reason != REASON_NO_SETTINGS || status.state != LINK_DOWN ||
        status.reason != REASON_NO_SETTINGS)
        history_add_event(now, kind, detail);
    if (kind == EVENT_LOST) outage = Outage{true, false, worker_seconds.load(), now};
    link_status_down(reason, now);
}

void link_up() {
    const int64_t now = time(nullptr);
    char where[40];
    address_text(where, sizeof where);
    history_add_event(now, EVENT_CONNECTED, where);
    if (outage.open) {
        history_link_back(now);
        if (outage.notified) {
            long minutes = static_cast<long>((now - outage.lost_time + 30) / 60);
            char text[64];
            (void)snprintf(text, sizeof text, "The link is back after %ld min.",
                           minutes < 1 ? 1 : minutes);
            views_show_notice(text);
        }
    }
    outage = Outage{};
    link_status_up();
}

// New settings (or a resume) raised during a wait: noted in the history, then taken.
void take_reconnect_request() {
    if (reconnect_request.load() != 0) link_failed(false, REASON_NEW_SETTINGS);
    lower_reconnect();
}

void link_reconnect() {
    for (int attempts = 0; attempts < kMaxAttempts && device.socket.load() == NO_SOCKET;
         ++attempts) {
        if (stop_requested()) return;
        // Taken before this attempt reads the settings: a save that lands after the read
        // raises it again and cuts the attempt short, while one that landed before is already
        // in the fields, so the connection made with them is kept.
        take_reconnect_request();
        device.socket.store(link_open(device));
        if (device.socket.load() != NO_SOCKET) {
            if (link_login(device) == 0) {
                link_up();
                return;
            }
            link_close(device); // not link_drop: a raised flag must survive to the test below
        }
        // A connect or login cut short by the stop is no failed attempt: leave at once.
        if (stop_requested()) return;
        // Nor is one cut short by new settings: the next attempt, with them, follows at once.
        if (reconnect_request.load() != 0) continue;
        link_failed(false, REASON_NO_ANSWER);
        settings_read(device); // the next attempt takes the file as it now stands
        reset_status();
        views_refresh();
        sleep_seconds(kAttemptPauseSeconds);
    }
}

// True when the link is up again.
bool connect_with_settings() {
    if (!settings_read(device)) {
        link_failed(false, REASON_NO_SETTINGS);
        return false;
    }
    link_reconnect();
    return device.socket.load() != NO_SOCKET;
}

// The leading number of "75 %": one sample for the history; none when there is no number.
void signal_sample() {
    const char* text = device.signal_quality;
    if (*text < '0' || *text > '9') return;
    int percent = 0;
    for (; *text >= '0' && *text <= '9' && percent <= 100; ++text)
        percent = percent * 10 + (*text - '0');
    history_add_signal(time(nullptr), percent > 100 ? 100 : percent);
}

} // namespace

void worker_main() {
    worker_seconds.store(0);
    outage = Outage{};
    link_status_reset();
    link_take_failure(REASON_NONE); // nothing left from an earlier worker

    uint32_t turn = 0;
    bool linked = connect_with_settings();
    while (!stop_requested()) {
        const bool query_turn = turn % kQueryEveryTurns == 0;
        if (query_turn) raise_request(REQUEST_REFRESH);
        bool healthy = poll_status(device);
        // A poll cut by the stop fails too, but must not count as a lost link.
        if (stop_requested()) return;
        const bool raised = reconnect_request.load() != 0;
        if (!healthy || raised) {
            if (linked || raised) link_failed(linked, raised ? REASON_NEW_SETTINGS : REASON_CLOSED);
            link_drop(device);
            reset_status();
            views_refresh(); // the blank status and why, in place of the query turn's refresh
            linked = connect_with_settings();
            if (stop_requested()) return;
            // A new link shows its status at once: after a resume or new settings the user is
            // looking for fresh values.
            if (linked) {
                turn = 0;
                continue;
            }
        } else if (query_turn) {
            signal_sample();
            views_refresh();
        }
        sleep_seconds(1);
        ++turn;
    }
}
