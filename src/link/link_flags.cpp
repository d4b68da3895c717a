#include "link/link_flags.h"

#include "link/link_state.h"
#include "link/socket_layer.h"

std::atomic<uint32_t> request_flags{0};
std::atomic<int> reconnect_request{0};

void raise_reconnect(int reason) {
    link_note_failure(reason);
    reconnect_request.store(1);
    wake_raise();
}

void lower_reconnect() {
    reconnect_request.store(0);
    wake_clear();
    // A raise between the store and the clear lost its wake-up: give it back.
    if (reconnect_request.load() != 0) wake_raise();
}
