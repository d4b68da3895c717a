// The link's history: a ring of events and a ring of minutes of signal, both fixed arrays.
#include "link/link_history.h"

#include <atomic>
#include <climits>
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
// Events ever added: event number n lives in slot n % HISTORY_EVENTS while n >= added - held.
uint64_t events_added = 0;
int events_held = 0; // at most HISTORY_EVENTS

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

LinkEvent& event_number(uint64_t n) {
    return events[n % HISTORY_EVENTS];
}

// Times before 1970 count as its first minute; times past what an int32 minute holds, as
// the last one.
int32_t minute_of(int64_t t) {
    const int64_t last = static_cast<int64_t>(INT32_MAX) * 60;
    return static_cast<int32_t>((t < 0 ? 0 : t > last ? last : t) / 60);
}

MinuteSlot& slot_of(int32_t minute) {
    // Minutes before the first one (24 hours back from a time near 1970) are negative.
    return minutes[((minute % HISTORY_MINUTES) + HISTORY_MINUTES) % HISTORY_MINUTES];
}

// Local date and time of t: "YYYY-MM-DD HH:MM" and, with seconds, ":SS".
void local_stamp(int64_t t, bool seconds, char* out, size_t size) {
    const time_t when = static_cast<time_t>(t);
    struct tm local;
#ifdef _WIN32
    const bool ok = localtime_s(&local, &when) == 0;
#else
    const bool ok = localtime_r(&when, &local) != nullptr;
#endif
    if (!ok || local.tm_year < -1900 || local.tm_year > 9999 - 1900) {
        (void)snprintf(out, size, "?");
        return;
    }
    const int n = snprintf(out, size, "%04d-%02d-%02d %02d:%02d", local.tm_year + 1900,
                           local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min);
    if (seconds && n > 0 && static_cast<size_t>(n) < size)
        (void)snprintf(out + n, size - static_cast<size_t>(n), ":%02d", local.tm_sec);
}

// Appends at out + *length while it fits before size - 1; *length counts the whole text.
void append(char* out, size_t size, size_t* length, const char* text) {
    const size_t n = strlen(text);
    if (*length + 1 < size) {
        const size_t room = size - 1 - *length;
        const size_t take = n < room ? n : room;
        memcpy(out + *length, text, take);
        out[*length + take] = '\0';
    }
    *length += n;
}

// Minute i (0: the oldest) of the 24 hours ending with now's minute. Under the lock.
void minute_at(int64_t now, int i, SignalMinute* m) {
    const int32_t minute = minute_of(now) - (HISTORY_MINUTES - 1) + i;
    const MinuteSlot& slot = slot_of(minute);
    memset(m, 0, sizeof *m);
    m->minute = minute;
    if (slot.minute != minute) return;
    m->no_link = slot.no_link;
    m->samples = slot.samples;
    if (slot.samples > 0) {
        m->low = slot.low;
        m->high = slot.high;
        m->mean = static_cast<uint8_t>((slot.sum + slot.samples / 2u) / slot.samples);
    }
}

} // namespace

const char* link_event_word(int kind) {
    return kind >= 0 && kind < kEventKinds ? kEventWords[kind] : "";
}

void history_add_event(int64_t now, int kind, const char* detail) {
    if (kind < 0 || kind >= kEventKinds) return;
    // The detail as stored: cut to its field, one line of the copied text whatever it holds.
    char text[sizeof(LinkEvent::detail)];
    (void)snprintf(text, sizeof text, "%s", detail != nullptr ? detail : "");
    for (char* c = text; *c != '\0'; ++c)
        if (static_cast<unsigned char>(*c) < ' ') *c = ' ';
    {
        std::lock_guard<std::mutex> guard(history_lock);
        LinkEvent* last = events_held > 0 ? &event_number(events_added - 1) : nullptr;
        // A night of the same failed attempt is one line with a count, not one per attempt.
        if (kind == EVENT_FAILED && last != nullptr && last->kind == EVENT_FAILED &&
            strcmp(last->detail, text) == 0) {
            if (last->count < UINT32_MAX) ++last->count;
        } else {
            LinkEvent& e = event_number(events_added++);
            memset(&e, 0, sizeof e);
            e.when = now;
            e.count = 1;
            e.kind = static_cast<uint8_t>(kind);
            memcpy(e.detail, text, sizeof e.detail);
            if (events_held < HISTORY_EVENTS) ++events_held;
        }
    }
    generation.fetch_add(1);
}

void history_link_back(int64_t now) {
    bool ended = false;
    {
        std::lock_guard<std::mutex> guard(history_lock);
        for (int i = 1; i <= events_held; ++i) {
            LinkEvent& e = event_number(events_added - static_cast<uint64_t>(i));
            if (e.kind != EVENT_LOST) continue;
            // Only the newest loss can still be open; 0 means open, so a loss ended within
            // its own second counts one.
            if (e.outage_s == 0) {
                const int64_t length = now - e.when;
                e.outage_s = length < 1            ? 1
                             : length > UINT32_MAX ? UINT32_MAX
                                                   : static_cast<uint32_t>(length);
                ended = true;
            }
            break;
        }
    }
    if (ended) generation.fetch_add(1);
}

void history_add_signal(int64_t now, int percent) {
    {
        std::lock_guard<std::mutex> guard(history_lock);
        const int32_t minute = minute_of(now);
        MinuteSlot& slot = slot_of(minute);
        if (slot.minute != minute) { // a day old, or never used: start the minute afresh
            memset(&slot, 0, sizeof slot);
            slot.minute = minute;
        }
        if (percent < 0) {
            slot.no_link = 1;
        } else if (slot.samples < UINT16_MAX) {
            const uint8_t p = static_cast<uint8_t>(percent > 100 ? 100 : percent);
            if (slot.samples == 0 || p < slot.low) slot.low = p;
            if (slot.samples == 0 || p > slot.high) slot.high = p;
            slot.sum += p;
            ++slot.samples;
        }
    }
    generation.fetch_add(1);
}

int history_events(LinkEvent* out, int max) {
    std::lock_guard<std::mutex> guard(history_lock);
    const int n = max < 0 ? 0 : events_held < max ? events_held : max;
    // The newest n, oldest of them first.
    for (int i = 0; i < n; ++i)
        out[i] = event_number(events_added - static_cast<uint64_t>(n - i));
    return n;
}

bool history_event_newest(int index, LinkEvent* out) {
    std::lock_guard<std::mutex> guard(history_lock);
    if (index < 0 || index >= events_held) return false;
    *out = event_number(events_added - 1 - static_cast<uint64_t>(index));
    return true;
}

int history_event_count() {
    std::lock_guard<std::mutex> guard(history_lock);
    return events_held;
}

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
    // The events held when the copy starts, by number: one arriving meanwhile neither shifts
    // nor repeats a line, and one dropped meanwhile is skipped. The lock is taken per entry,
    // never while the text grows.
    uint64_t first = 0;
    uint64_t end = 0;
    {
        std::lock_guard<std::mutex> guard(history_lock);
        end = events_added;
        first = end - static_cast<uint64_t>(events_held);
    }
    for (uint64_t n = first; n < end; ++n) {
        LinkEvent e;
        {
            std::lock_guard<std::mutex> guard(history_lock);
            if (n < events_added - static_cast<uint64_t>(events_held) || n >= events_added)
                continue; // dropped meanwhile, or the history was cleared
            e = event_number(n);
        }
        local_stamp(e.when, true, stamp, sizeof stamp);
        if (e.count > 1)
            (void)snprintf(line, sizeof line, "%s\t%s\t%s (%lu times)\r\n", stamp,
                           link_event_word(e.kind), e.detail, static_cast<unsigned long>(e.count));
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
    return size == 0 || length < size ? length : size - 1;
}

void history_clear() {
    {
        std::lock_guard<std::mutex> guard(history_lock);
        memset(events, 0, sizeof events);
        memset(minutes, 0, sizeof minutes);
        events_added = 0;
        events_held = 0;
    }
    generation.fetch_add(1);
}

static_assert(sizeof(LinkEvent) == 56 && sizeof(SignalMinute) == 12, "sizes the history counts");
static_assert(sizeof events + sizeof minutes + sizeof(SignalMinute) * HISTORY_MINUTES < 100 * 1024,
              "the history and a view's copy of the minutes stay under 100 KiB");
