// What happened while nobody looked: the last 1000 link events and one signal sample a minute
// for the last 24 hours. Fixed arrays, allocated once; the worker writes, the main thread
// reads copies taken under a short lock that is never held across a window message.
// Times are time() values, passed in, so tests choose them.
#pragma once
#include <cstddef>
#include <cstdint>

enum LinkEventKind : uint8_t {
    EVENT_CONNECTED = 0, // detail: address:port
    EVENT_LOST,          // detail: the reason
    EVENT_FAILED,        // detail: the reason, for an attempt that did not get the link
    EVENT_POWER_CYCLE,
    EVENT_RESUMED,
    EVENT_SETTINGS,
};
// "connected", "lost", "failed", "power cycle", "resumed", "settings".
const char* link_event_word(int kind);

constexpr int HISTORY_EVENTS = 1000;
constexpr int HISTORY_MINUTES = 24 * 60;

// 56 bytes. The rings take 56000 + 23040 bytes; with one SignalMinute[HISTORY_MINUTES] copy
// (17280) for a view, 96320: under 100 KiB.
struct LinkEvent {
    int64_t when;      // the first occurrence
    uint32_t outage_s; // EVENT_LOST: seconds until the link was back; 0 while still down
    uint32_t count;    // identical failed attempts in a row: one event, counted
    uint8_t kind;      // LinkEventKind
    char detail[35];   // cut to 34 characters; control characters become blanks
};

// One minute's signal. `samples` 0 and `no_link` 0: nothing known (the viewer was not
// watching); `samples` 0 and `no_link` 1: the link was down that minute.
struct SignalMinute {
    int32_t minute; // time() / 60 of the minute this slot holds
    uint8_t low;
    uint8_t mean;
    uint8_t high;
    uint8_t no_link;
    uint16_t samples;
};

// Worker side. An unknown kind is ignored; a null detail is an empty one.
void history_add_event(int64_t now, int kind, const char* detail);
void history_link_back(int64_t now);               // ends the newest EVENT_LOST if still open
void history_add_signal(int64_t now, int percent); // percent < 0: no link at this moment

// Main-thread side: copies, oldest first. Returns how many were copied.
int history_events(LinkEvent* out, int max);
bool history_event_newest(int index, LinkEvent* out); // index 0: the newest
int history_event_count();
// The HISTORY_MINUTES minutes ending with now's minute, oldest first; slots outside the last
// 24 hours come back empty (samples 0, no_link 0).
void history_signal(int64_t now, SignalMinute* out);
// Raised by every change, so a view redraws only when something new arrived.
uint32_t history_generation();

// The text for a support mail: the events oldest first, one a line
// "YYYY-MM-DD HH:MM:SS<TAB>event<TAB>detail" (a collapsed failure's detail ends with
// " (N times)"), then the minutes with data
// "YYYY-MM-DD HH:MM<TAB>signal<TAB>low mean high" (or "no link"), in local time, CR LF ends.
// Returns the length written (cut to size - 1, always terminated); with size 0, the length
// the whole text needs.
size_t history_text(int64_t now, char* out, size_t size);

void history_clear(); // at start; tests
