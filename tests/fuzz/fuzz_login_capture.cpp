// A login and a log capture on what the unit sends. The input is a script of the unit's
// pieces: their sizes and bytes (NUL bytes included, CR turned into LF so that every CR LF in
// the log file is one the viewer added), prompts whole or cut across pieces, and how each
// reply ends (its last piece, silence, a close, or output without end). A unit thread sends
// each piece over a socket pair once the viewer has read the one before, so every receive sees
// exactly one piece (or 2048 bytes of a longer one) however the threads are scheduled. The
// tick is 1 ms, time enough for the unit to send its next piece; once the unit has nothing
// more to say and the viewer's ticks go on, the tick drops to 0 so the silence ends at once.
// Invariants: both end; the handshake answers only with the user name and the password; the
// log file is what the unit sent, in order, cut by at most four CR LF into parts, with what
// waited before a command left out; a capture that did not end on its prompts reports its
// failure and drops the link. The bound of bytes of a reply is the core tests'.
//
// Script:
//   'p' hi lo bytes  a piece of (hi * 256 + lo) % 4097 bytes    'P'  the prompt "VORLIX:/# "
//   'l'  "login: "   'w'  "Password: "   '|'  end of the login   '/'  end of this reply
//   'c'  the unit closes after this reply                        'x' n bytes  output without end
// A reply whose pieces leave the viewer waiting ends in silence; after the last, the unit
// closes.
#include "link/console_link.h"
#include "link/link_timing.h"
#include "link/unit_console.h"
#include "status/device_record.h"
#include "status/device_requests.h"
#include "status/poll_cycle.h"
#include "status/view_hooks.h"

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Reply {
    std::vector<std::string> pieces;
    std::string endless; // not empty: sent again and again after the pieces
    bool close = false;
};

std::atomic<bool> quit{false};
std::string report, path; // the log file, removed at exit

// Whatever waits on fd: what the unit sent and the viewer left unread, or what the viewer sent.
std::string drain(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    return text;
}

// The unit on fd: the replies, each after a command line when asked to; then it closes.
void play(int fd, int viewer, const std::vector<Reply>* replies, bool after_commands,
          std::string* sent) {
    auto send_piece = [&](const std::string& piece) { // once the viewer has read the last
        int pending = 0;
        while (!quit && ioctl(viewer, FIONREAD, &pending) == 0 && pending > 0)
            std::this_thread::yield();
        if (quit || send(fd, piece.data(), piece.size(), MSG_NOSIGNAL) < 0) return false;
        *sent += piece;
        return true;
    };
    // The viewer's next command line. False when it waits for more of the reply instead: its
    // ticks go on and no command came before them (then its wait ends at once).
    auto next_command = [&] {
        for (const unsigned long base = idle_ticks_waited;;) {
            bool waiting = idle_ticks_waited >= base + 2; // read before looking for a command
            int pending = 0;
            if (quit || ioctl(fd, FIONREAD, &pending) != 0) return false;
            if (pending > 0) break;
            if (waiting) {
                tick_ms = 0;
                return false;
            }
            std::this_thread::yield();
        }
        for (char c = 0; c != '\r';) // sent whole, in one send
            if (recv(fd, &c, 1, 0) != 1) return false;
        return true;
    };
    for (const Reply& reply : *replies) {
        if (after_commands && !next_command()) return;
        for (const std::string& piece : reply.pieces)
            if (!send_piece(piece)) return;
        while (!reply.endless.empty() && send_piece(reply.endless)) {
        }
        if (reply.close) break;
    }
    shutdown(fd, SHUT_WR);
}

// The viewer on one end of a socket pair, non-blocking as the link leaves its socket, and the
// unit on the other. Gives what the unit sent, what the viewer left unread and what it sent.
template <typename Viewer>
std::vector<std::string> run(const std::vector<Reply>& replies, bool after_commands,
                             Viewer viewer) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) abort();
    fcntl(pair[0], F_SETFL, O_NONBLOCK);
    tick_ms = 1;
    quit = false;
    std::string sent;
    std::thread unit(play, pair[1], pair[0], &replies, after_commands, &sent);
    viewer(pair[0]);
    quit = true;
    unit.join();
    std::vector<std::string> seen = {sent, drain(pair[0]), drain(pair[1])};
    close(pair[0]);
    close(pair[1]);
    return seen;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    device_record_init();
    view_hooks.show_report = [](const char* text) { report = text; };
    const char* dir = getenv("TMPDIR");
    path = std::string(dir ? dir : "/tmp") + "/fuzz_login_capture_" + std::to_string(getpid());
    atexit([] { remove(path.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<Reply> login(1), replies(1);
    Reply* part = &login[0];
    for (size_t at = 0; at < size;) {
        char op = static_cast<char>(data[at++]);
        size_t n = 0;
        if (op == 'p' && at + 2 <= size) {
            n = (data[at] * 256u + data[at + 1]) % 4097;
            at += 2;
        }
        if (op == 'x' && at < size) n = data[at++];
        std::string bytes(reinterpret_cast<const char*>(data) + at, std::min(n, size - at));
        at += bytes.size();
        std::replace(bytes.begin(), bytes.end(), '\r', '\n');
        if (op == 'p' && !bytes.empty()) part->pieces.push_back(bytes);
        const char* fixed = op == 'P' ? "VORLIX:/# " : op == 'l' ? "login: " : "Password: ";
        if (op == 'P' || op == 'l' || op == 'w') part->pieces.push_back(fixed);
        if (op == '|') part = &replies.back();
        if (part == &login[0]) continue;
        if (op == 'x') part->endless = bytes.empty() ? "x" : bytes;
        if (op == 'c') part->close = true;
        if (op == '/' || op == 'x' || op == 'c') {
            replies.emplace_back();
            part = &replies.back();
        }
    }

    int logged_in = -1;
    auto login_seen =
        run(login, false, [&](int fd) { logged_in = login_handshake(fd, "admin\r", "vorlix\r"); });
    if (logged_in == 0 ? login_seen[0].find(DEVICE_PROMPT) == std::string::npos : logged_in != 1)
        abort();
    std::string rest = login_seen[2]; // nothing but the user name and the password
    while (rest.rfind("admin\r", 0) == 0 || rest.rfind("vorlix\r", 0) == 0)
        rest.erase(0, rest[0] == 'a' ? 6 : 7);
    if (!rest.empty()) abort();

    bool in_step = true;
    report.clear();
    auto seen = run(replies, true, [&](int fd) {
        device.socket = fd;
        request_log_capture(path.c_str());
        in_step = poll_status(device);
        device.socket = NO_SOCKET;
    });
    std::ostringstream file;
    file << std::ifstream(path, std::ios::binary).rdbuf();
    // The parts between the viewer's CR LF come in order from what the unit sent: bytes waiting
    // before a command are discarded, none is taken twice or made up.
    const std::string text = file.str();
    size_t parts = 0;
    size_t from = 0;
    size_t kept = 0;
    for (size_t at = 0, end = 0; at <= text.size(); at = end + 2) {
        end = std::min(text.find("\r\n", at), text.size());
        const std::string part = text.substr(at, end - at);
        const size_t found = seen[0].find(part, from);
        if (found == std::string::npos) abort();
        from = found + part.size();
        kept += part.size();
        ++parts;
    }
    const size_t read = seen[0].size() - seen[1].size();
    if (parts > 5 || kept > read) abort();
    // A capture that did not end on its prompts leaves the link out of step: it is dropped.
    if (report.rfind(in_step ? "Generated Log File : " : "Failed To Generate Log File : ", 0) != 0)
        abort();
    return 0;
}
