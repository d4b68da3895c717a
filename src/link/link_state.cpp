// The link's state and the reason for its last failure.
#include "link/link_state.h"

#include <atomic>
#include <cstdio>
#include <ctime>

namespace {

std::atomic<int> state{LINK_STARTING};
std::atomic<int> reason{REASON_NONE};
std::atomic<int64_t> down_since{0};
std::atomic<int> noted{REASON_NONE};

const char* const kReasonTexts[REASON_COUNT] = {
    "",          "no settings",  "no answer",          "refused",     "login rejected",
    "no prompt", "unit silent",  "closed by the unit", "out of step", "power cycle",
    "resumed",   "new settings",
};
// How the tooltip joins each reason to the address: "refused by", "no answer from", ...
const char* const kReasonJoins[REASON_COUNT] = {
    "", "", "from", "by", "by", "from", "at", "at", "with", "of", "to", "to",
};

} // namespace

const char* link_reason_text(int r) {
    return r >= 0 && r < REASON_COUNT ? kReasonTexts[r] : "";
}

void link_status_get(LinkStatus* out) {
    // The state last: the worker writes it last, so reason and time belong to it or later.
    out->state = state.load();
    out->reason = reason.load();
    out->down_since = down_since.load();
    if (out->state != LINK_DOWN) {
        out->reason = REASON_NONE;
        out->down_since = 0;
    }
}

void link_status_up() {
    state.store(LINK_UP);
    reason.store(REASON_NONE);
    down_since.store(0);
}

void link_status_reset() {
    state.store(LINK_STARTING);
    reason.store(REASON_NONE);
    down_since.store(0);
}

void link_status_down(int r, int64_t now) {
    // An outage keeps the time it began; the reason follows the latest failure.
    if (state.load() != LINK_DOWN) down_since.store(now);
    reason.store(r);
    state.store(LINK_DOWN);
}

void link_note_failure(int r) {
    noted.store(r);
}

int link_take_failure(int fallback) {
    int r = noted.exchange(REASON_NONE);
    return r != REASON_NONE ? r : fallback;
}

bool link_down_tip(const LinkStatus& status, const char* ip, const char* port, char* out,
                   size_t size) {
    if (size == 0) return false;
    out[0] = '\0';
    if (status.state != LINK_DOWN) return false;
    char since[8] = "?";
    time_t when = static_cast<time_t>(status.down_since);
    if (const struct tm* local = localtime(&when))
        (void)snprintf(since, sizeof since, "%02d:%02d", local->tm_hour % 100, local->tm_min % 100);
    int n;
    if (status.reason == REASON_NO_SETTINGS)
        n = snprintf(out, size, "VORLIX Viewer: no settings in telnet.conf since %s, retrying",
                     since);
    else
        // A valid address and port are at most 15 and 5 characters: the whole tip stays
        // within the 127 the tray takes.
        n = snprintf(
            out, size, "VORLIX Viewer: %s %s %.15s:%.5s since %s, retrying",
            link_reason_text(status.reason),
            kReasonJoins[status.reason > 0 && status.reason < REASON_COUNT ? status.reason : 0], ip,
            port, since);
    return n > 0;
}
