// The words the main thread and the worker share to ask for work and to stop.
#pragma once
#include <atomic>
#include <cstdint>

// One-shot requests to the worker. Every raise and lower is one atomic read-modify-write.
enum : uint32_t {
    REQUEST_REFRESH = 1,     // run the status query (worker, every fifth turn)
    REQUEST_POWER_CYCLE = 2, // send the power-cycle command (menu)
    REQUEST_LOG_CAPTURE = 4, // capture the diagnostic log (menu)
};
extern std::atomic<uint32_t> request_flags;

// 1 once new settings have been saved; every wait of the worker (receive, login, connect,
// pause) gives up on it. Raise and lower it only through the two calls below, which keep the
// wake object (socket_layer.h) in step: a wait sleeps its whole length unless one of them
// raised it.
extern std::atomic<int> reconnect_request;

// New settings saved ("Connect") or the PC resumed: notes the reason (REASON_NEW_SETTINGS or
// REASON_RESUMED) for the link's history, raises reconnect_request and wakes every wait.
void raise_reconnect(int reason);
// The worker has taken the request: lowers it and clears the wake (unless the stop holds it,
// or a new raise came meanwhile).
void lower_reconnect();

inline void raise_request(uint32_t bit) {
    request_flags.fetch_or(bit);
}
inline void lower_request(uint32_t bit) {
    request_flags.fetch_and(~bit);
}
inline bool request_raised(uint32_t bit) {
    return (request_flags.load() & bit) != 0;
}
