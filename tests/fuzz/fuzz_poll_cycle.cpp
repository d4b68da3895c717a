// Whole poll cycles on arbitrary replies. The input is cut into the 18 replies; each, with the
// prompt added, is written to a real socket pair after its command arrives, so the link's own
// receive path gathers it. After every cycle each status field must be terminated inside its
// 32 bytes, and the same replies a second time must give the same record: no field grows.
#include "link/link_flags.h"
#include "link/link_timing.h"
#include "link/unit_console.h"
#include "status/device_record.h"
#include "status/poll_cycle.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The unit's side: one reply per command line (ended by CR); the last one again when the
// replies have run out. Blocking: each send goes out whole.
void serve(int fd, const std::vector<std::string>* replies) {
    size_t next = 0;
    char c;
    while (read(fd, &c, 1) == 1) {
        if (c != '\r') continue;
        const std::string& text = (*replies)[std::min(next++, replies->size() - 1)];
        if (send(fd, text.data(), text.size(), MSG_NOSIGNAL) < 0) return;
    }
}

bool run_cycle(const std::vector<std::string>& replies) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) abort();
    fcntl(pair[0], F_SETFL, fcntl(pair[0], F_GETFL) | O_NONBLOCK); // as the link leaves it
    std::thread unit(serve, pair[1], &replies);
    device.socket = pair[0];
    raise_request(REQUEST_REFRESH);
    bool ok = poll_status(device);
    shutdown(pair[0], SHUT_RDWR); // ends the unit's read
    unit.join();
    close(pair[0]);
    close(pair[1]);
    device.socket = NO_SOCKET;
    return ok;
}

// The fields joined, each checked to be terminated inside its 32 bytes.
std::string fields() {
    std::string all;
    for (int i = 0; i < STATUS_FIELD_COUNT; ++i) {
        const char* field = *status_field_at(device, i);
        if (memchr(field, '\0', sizeof(StatusField)) == nullptr) abort();
        all += field + std::string("|");
    }
    return all;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<std::string> replies;
    const size_t room = REPLY_BUFFER_SIZE - 1 - strlen(DEVICE_PROMPT) - 1;
    for (int i = 0; i < 18; ++i) // one reply per exchange
        replies.push_back(input.ConsumeRandomLengthString(room) + DEVICE_PROMPT + " ");

    device_record_init();
    request_flags = 0;
    tick_ms = 0; // silence costs nothing: 301 empty ticks in a row
    const bool first = run_cycle(replies);
    const std::string after_first = fields();
    const bool second = run_cycle(replies);
    if (fields() != after_first && first && second) abort();
    return 0;
}
