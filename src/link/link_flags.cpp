#include "link/link_flags.h"

#include "link/link_state.h"

std::atomic<uint32_t> request_flags{0};
std::atomic<int> reconnect_request{0};

void raise_reconnect(int reason) {
    link_note_failure(reason);
    reconnect_request.store(1);
}
