// The link's state and the reason for its last failure, kept by the worker and read by the
// views (the tooltip while the link is down, the history's details).
#pragma once
#include <cstddef>
#include <cstdint>

enum LinkReason : int {
    REASON_NONE = 0,
    REASON_NO_SETTINGS,    // telnet.conf missing or incomplete
    REASON_NO_ANSWER,      // the connect timed out or the address is unreachable
    REASON_REFUSED,        // nothing listens on that port
    REASON_LOGIN_REJECTED, // the unit asked for the login again after the password
    REASON_NO_PROMPT,      // the login never reached the prompt within its bound
    REASON_UNIT_SILENT,    // a reply passed its idle limit
    REASON_CLOSED,         // closed by the unit
    REASON_OUT_OF_STEP,    // a capture or power cycle that did not end on its prompt
    REASON_POWER_CYCLE,    // asked by the user
    REASON_RESUMED,        // the PC woke from sleep
    REASON_NEW_SETTINGS,   // saved by the user
    REASON_COUNT
};

// "no settings", "no answer", "refused", "login rejected", "no prompt", "unit silent",
// "closed by the unit", "out of step", "power cycle", "resumed", "new settings"; "" for none.
const char* link_reason_text(int reason);

enum LinkState : int {
    LINK_STARTING = 0, // no attempt has ended yet
    LINK_UP,           // logged in
    LINK_DOWN,         // the last attempt failed or the link was lost; retrying
};

// A consistent copy of what the views show.
struct LinkStatus {
    int state;          // LinkState
    int reason;         // LinkReason of the last failure; REASON_NONE while up or starting
    int64_t down_since; // time() of the first failure of this outage; 0 while up or starting
};
void link_status_get(LinkStatus* out);

// The worker's side: the link is up, or went (or stayed) down for a reason at time now.
void link_status_up();
void link_status_reset(); // LINK_STARTING, as at start: when a worker starts
void link_status_down(int reason, int64_t now);
// The reason of the failure being noted by the lowest layer that saw it (receive, login,
// connect); the worker takes it when the attempt or poll has failed. Cleared by the take.
void link_note_failure(int reason);
int link_take_failure(int fallback);

// The tooltip while the link is down, within 127 characters, for example
// "VORLIX Viewer: login rejected by 192.168.1.1:23 since 14:02, retrying". `since` is the
// local time of status.down_since. Empty (false) when the link is up or starting.
bool link_down_tip(const LinkStatus& status, const char* ip, const char* port, char* out,
                   size_t size);
