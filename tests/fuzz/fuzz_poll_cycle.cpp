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

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kReplies = 18;

// The unit's side: one reply per command line (ended by CR); the prompt alone when the
// replies have run out.
void serve(int fd, const std::vector<std::string>* replies) {
    size_t next = 0;
    char c;
    while (read(fd, &c, 1) == 1) {
        if (c != '\r') continue;
        const std::string& text = next < replies->size() ? (*replies)[next++] : replies->back();
        size_t sent = 0;
        while (sent < text.size()) {
            ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += static_cast<size_t>(n);
        }
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

void check_fields() {
    for (int i = 0; i < STATUS_FIELD_COUNT; ++i) {
        const char* field = *status_field_at(device, i);
        if (memchr(field, '\0', sizeof(StatusField)) == nullptr) abort();
        if (strlen(field) > 31) abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tick_ms = 0; // silence costs nothing: 301 empty ticks in a row
    device_record_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<std::string> replies;
    const size_t room = REPLY_BUFFER_SIZE - 1 - strlen(DEVICE_PROMPT) - 1;
    for (int i = 0; i < kReplies; ++i)
        replies.push_back(input.ConsumeRandomLengthString(room) + DEVICE_PROMPT + " ");

    device_record_init();
    request_flags = 0;
    bool first = run_cycle(replies);
    check_fields();
    char after_first[STATUS_FIELD_COUNT][sizeof(StatusField)];
    for (int i = 0; i < STATUS_FIELD_COUNT; ++i)
        memcpy(after_first[i], *status_field_at(device, i), sizeof(StatusField));

    bool second = run_cycle(replies);
    check_fields();
    if (first && second) {
        for (int i = 0; i < STATUS_FIELD_COUNT; ++i)
            if (strcmp(after_first[i], *status_field_at(device, i)) != 0) abort();
    }
    return 0;
}
