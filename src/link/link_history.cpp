// The link's history: a ring of events and a ring of minutes of signal, both fixed arrays.
#include "link/link_history.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

namespace {

const char* const kEventWords[] = {"connected",   "lost",    "failed",
                                   "power cycle", "resumed", "settings"};
constexpr int kEventKinds = sizeof kEventWords / sizeof kEventWords[0];

// Held only to copy entries in or out: never across a window message or a socket wait.
std::mutex history_lock;
LinkEvent events[HISTORY_EVENTS];
int event_next = 0;  // slot of the next event
int event_count = 0; // events held, at most HISTORY_EVENTS

// Slot minute % HISTORY_MINUTES holds that minute; a slot whose minute is another is stale.
struct MinuteSlot {
    int32_t minute;
    uint32_t sum;
    uint16_t samples;
    uint8_t low;
    uint8_t high;
    uint8_t no_link;
};
MinuteSlot minutes[HISTORY_MINUTES];

std::atomic<uint32_t> generation{0};

LinkEvent& newest_event() {
    return events[(event_next + HISTORY_EVENTS - 1) % HISTORY_EVENTS];
}

MinuteSlot& slot_for(int32_t minute) {
    MinuteSlot& slot = minutes[static_cast<size_t>(minute % HISTORY_MINUTES)];
    if (slot.minute != minute) {
        memset(&slot, 0, sizeof slot);
        slot.minute = minute;
    }
    return slot;
}

// Local date and time of t: "YYYY-MM-DD HH:MM" and, with seconds, ":SS".
void local_stamp(int64_t t, bool seconds, char* out, size_t size) {
    time_t when = static_cast<time_t>(t);
    const struct tm* local = localtime(&when);
    if (local == nullptr) {
        (void)snprintf(out, size, "?");
        return;
    }
    if (seconds)
        (void)snprintf(out, size, "%04d-%02d-%02d %02d:%02d:%02d", (local->tm_year + 1900) % 10000,
                       (local->tm_mon + 1) % 100, local->tm_mday % 100, local->tm_hour % 100,
                       local->tm_min % 100, local->tm_sec % 100);
    else
        (void)snprintf(out, size, "%04d-%02d-%02d %02d:%02d", (local->tm_year + 1900) % 10000,
                       (local->tm_mon + 1) % 100, local->tm_mday % 100, local->tm_hour % 100,
                       local->tm_min % 100);
}

// Appends like snprintf at out + *length, counting what does not fit, never past size.
void append(char* out, size_t size, size_t* length, const char* text) {
    size_t n = strlen(text);
    if (*length < size) {
        size_t room = size - 1 - *length;
        memcpy(out + *length, text, n < room ? n : room);
        out[*length + (n < room ? n : room)] = '\0';
    }
    *length += n;
}

} // namespace

const char* link_event_word(int kind) {
    return kind >= 0 && kind < kEventKinds ? kEventWords[kind] : "";
}

void history_add_event(int64_t now, int kind, const char* detail) {
    {
        std::lock_guard<std::mutex> guard(history_lock);
        // A night of the same failed attempt is one line with a count, not one per attempt.
        if (kind == EVENT_FAILED && event_count > 0) {
            LinkEvent& last = newest_event();
            if (last.kind == EVENT_FAILED &&
                strncmp(last.detail, detail, sizeof last.detail - 1) == 0) {
                ++last.count;
                generation.fetch_add(1);
                return;
            }
        }
        LinkEvent& e = events[event_next];
        memset(&e, 0, sizeof e);
        e.when = now;
        e.count = 1;
        e.kind = static_cast<uint8_t>(kind);
        (void)snprintf(e.detail, sizeof e.detail, "%s", detail);
        event_next = (event_next + 1) % HISTORY_EVENTS;
        if (event_count < HISTORY_EVENTS) ++event_count;
    }
    generation.fetch_add(1);
}

void history_link_back(int64_t now) {
    {
        std::lock_guard<std::mutex> guard(history_lock);
        for (int i = 0; i < event_count; ++i) {
            LinkEvent& e = events[(event_next + HISTORY_EVENTS - 1 - i) % HISTORY_EVENTS];
            if (e.kind != EVENT_LOST) continue;
            if (e.outage_s == 0)
                e.outage_s = now > e.when ? static_cast<uint32_t>(now - e.when) : 1;
            break;
        }
    }
    generation.fetch_add(1);
}

void history_add_signal(int64_t now, int percent) {
    {
        std::lock_guard<std::mutex> guard(history_lock);
        MinuteSlot& slot = slot_for(static_cast<int32_t>(now / 60));
        if (percent < 0) {
            slot.no_link = 1;
        } else {
            uint8_t p = static_cast<uint8_t>(percent > 100 ? 100 : percent);
            if (slot.samples == 0 || p < slot.low) slot.low = p;
            if (slot.samples == 0 || p > slot.high) slot.high = p;
            slot.sum += p;
            if (slot.samples < UINT16_MAX) ++slot.samples;
        }
    }
    generation.fetch_add(1);
}

int history_events(LinkEvent* out, int max) {
    std::lock_guard<std::mutex> guard(history_lock);
    int n = event_count < max ? event_count : max;
    // The newest n, oldest of them first.
    for (int i = 0; i < n; ++i)
        out[i] = events[(event_next + HISTORY_EVENTS - n + i) % HISTORY_EVENTS];
    return n;
}

bool history_event_newest(int index, LinkEvent* out) {
    std::lock_guard<std::mutex> guard(history_lock);
    if (index < 0 || index >= event_count) return false;
    *out = events[(event_next + HISTORY_EVENTS - 1 - index) % HISTORY_EVENTS];
    return true;
}

int history_event_count() {
    std::lock_guard<std::mutex> guard(history_lock);
    return event_count;
}

namespace {

// Minute i (0: the oldest) of the 24 hours ending with now's minute. Under the lock.
void minute_at(int64_t now, int i, SignalMinute* m) {
    const int32_t minute = static_cast<int32_t>(now / 60) - (HISTORY_MINUTES - 1) + i;
    const MinuteSlot& slot = minutes[static_cast<size_t>(minute % HISTORY_MINUTES)];
    memset(m, 0, sizeof *m);
    m->minute = minute;
    if (slot.minute != minute) return;
    m->no_link = slot.no_link;
    m->samples = slot.samples;
    if (slot.samples > 0) {
        m->low = slot.low;
        m->high = slot.high;
        m->mean = static_cast<uint8_t>((slot.sum + slot.samples / 2) / slot.samples);
    }
}

} // namespace

void history_signal(int64_t now, SignalMinute* out) {
    std::lock_guard<std::mutex> guard(history_lock);
    for (int i = 0; i < HISTORY_MINUTES; ++i)
        minute_at(now, i, &out[i]);
}

uint32_t history_generation() {
    return generation.load();
}

size_t history_text(int64_t now, char* out, size_t size) {
    if (size > 0) out[0] = '\0';
    size_t length = 0;
    char line[128];
    char stamp[32];
    // Copied one at a time: the lock is never held while the text grows.
    const int count = history_event_count();
    for (int i = count - 1; i >= 0; --i) {
        LinkEvent e;
        if (!history_event_newest(i, &e)) continue;
        local_stamp(e.when, true, stamp, sizeof stamp);
        if (e.count > 1)
            (void)snprintf(line, sizeof line, "%s\t%s\t%s (%u times)\r\n", stamp,
                           link_event_word(e.kind), e.detail, static_cast<unsigned>(e.count));
        else
            (void)snprintf(line, sizeof line, "%s\t%s\t%s\r\n", stamp, link_event_word(e.kind),
                           e.detail);
        append(out, size, &length, line);
    }
    for (int i = 0; i < HISTORY_MINUTES; ++i) {
        SignalMinute m;
        {
            std::lock_guard<std::mutex> guard(history_lock);
            minute_at(now, i, &m);
        }
        if (m.samples == 0 && m.no_link == 0) continue;
        local_stamp(static_cast<int64_t>(m.minute) * 60, false, stamp, sizeof stamp);
        if (m.samples > 0)
            (void)snprintf(line, sizeof line, "%s\tsignal\t%u %u %u\r\n", stamp, m.low, m.mean,
                           m.high);
        else
            (void)snprintf(line, sizeof line, "%s\tsignal\tno link\r\n", stamp);
        append(out, size, &length, line);
    }
    return length;
}

void history_clear() {
    {
        std::lock_guard<std::mutex> guard(history_lock);
        memset(events, 0, sizeof events);
        memset(minutes, 0, sizeof minutes);
        event_next = 0;
        event_count = 0;
    }
    generation.fetch_add(1);
}
