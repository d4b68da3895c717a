// The stand-in's own portable socket calls: Winsock on Windows, POSIX sockets elsewhere.
#include "sim_internal.h"

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace unitsim {

#ifdef _WIN32
static SOCKET raw(SimSocket s) {
    return static_cast<SOCKET>(s);
}
#else
static int raw(SimSocket s) {
    return static_cast<int>(s);
}
#endif

bool sim_net_start() {
#ifdef _WIN32
    WSADATA data;
    return WSAStartup(0x0202, &data) == 0;
#else
    return true;
#endif
}

void sim_net_end() {
#ifdef _WIN32
    WSACleanup();
#endif
}

void sim_close(SimSocket s) {
    if (s == kNoSocket) return;
#ifdef _WIN32
    closesocket(raw(s));
#else
    close(raw(s));
#endif
}

SimSocket sim_listen(const char* host, int port, int* bound_port, int backlog) {
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<unsigned short>(port));
    if (inet_pton(AF_INET, host ? host : "127.0.0.1", &addr.sin_addr) != 1) {
        // Not dotted-decimal: look the name up (for example "localhost").
        addrinfo hints;
        std::memset(&hints, 0, sizeof hints);
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) return kNoSocket;
        addr.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
        freeaddrinfo(found);
    }
    SimSocket s = static_cast<SimSocket>(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (s == kNoSocket) return kNoSocket;
#ifndef _WIN32
    // A restarted program gets its port back at once, without waiting out TIME_WAIT.
    int one = 1;
    setsockopt(raw(s), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
#endif
    if (bind(raw(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        (backlog >= 0 && listen(raw(s), backlog) != 0)) {
        sim_close(s);
        return kNoSocket;
    }
    sockaddr_in bound;
    std::memset(&bound, 0, sizeof bound);
    socklen_t len = sizeof bound;
    if (getsockname(raw(s), reinterpret_cast<sockaddr*>(&bound), &len) != 0) {
        sim_close(s);
        return kNoSocket;
    }
    if (bound_port) *bound_port = ntohs(bound.sin_port);
    return s;
}

SimSocket sim_connect_pending(const char* host, int port) {
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<unsigned short>(port));
    if (inet_pton(AF_INET, host, &addr.sin_addr) != 1) return kNoSocket;
    SimSocket s = static_cast<SimSocket>(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (s == kNoSocket) return kNoSocket;
#ifdef _WIN32
    u_long on = 1;
    ioctlsocket(raw(s), FIONBIO, &on);
#else
    fcntl(raw(s), F_SETFL, fcntl(raw(s), F_GETFL) | O_NONBLOCK);
#endif
    connect(raw(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr); // in progress
    return s;
}

int sim_wait_readable(SimSocket s, int timeout_ms) {
#ifdef _WIN32
    fd_set set;
    FD_ZERO(&set);
    FD_SET(raw(s), &set);
    timeval tv;
    tv.tv_sec = timeout_ms / 1000;
    tv.tv_usec = (timeout_ms % 1000) * 1000;
    int n = select(0, &set, nullptr, nullptr, &tv);
    return n > 0 ? 1 : (n == 0 ? 0 : -1);
#else
    pollfd p;
    p.fd = raw(s);
    p.events = POLLIN;
    p.revents = 0;
    int n = poll(&p, 1, timeout_ms);
    return n > 0 ? 1 : (n == 0 ? 0 : -1);
#endif
}

SimSocket sim_accept(SimSocket listener) {
    SimSocket s = static_cast<SimSocket>(accept(raw(listener), nullptr, nullptr));
    if (s == kNoSocket) return kNoSocket;
    // Pieces of a split reply must leave one by one, not wait for the peer's ACK.
    int one = 1;
    setsockopt(raw(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    return s;
}

int sim_recv(SimSocket s, char* buf, int size) {
    return static_cast<int>(recv(raw(s), buf, size, 0));
}

bool sim_send_all(SimSocket s, const char* data, size_t size) {
#ifdef _WIN32
    const int flags = 0;
#else
    const int flags = MSG_NOSIGNAL; // a viewer that has gone must not kill the test process
#endif
    while (size > 0) {
        int chunk = size > 65536 ? 65536 : static_cast<int>(size);
        int n = static_cast<int>(send(raw(s), data, chunk, flags));
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void sim_shutdown_send(SimSocket s) {
#ifdef _WIN32
    shutdown(raw(s), SD_SEND);
#else
    shutdown(raw(s), SHUT_WR);
#endif
}

void sim_shutdown_both(SimSocket s) {
#ifdef _WIN32
    shutdown(raw(s), SD_BOTH);
#else
    shutdown(raw(s), SHUT_RDWR);
#endif
}

} // namespace unitsim
