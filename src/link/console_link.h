// The TCP console connection to the unit: open, close, drop, send, receive, login.
#pragma once
#include <cstddef>
#include <cstdint>

struct DeviceRecord;

// Bounds, in ticks of the receive loops (tick_ms, 100 ms) and bytes. Every failure notes its
// reason (link_state.h) for the worker to take.
constexpr int CONNECT_LIMIT_TICKS = 210;       // 21 s: a connect nobody answers, "no answer"
constexpr int LOGIN_LIMIT_TICKS = 600;         // 60 s: a login that never reaches the prompt
constexpr size_t LOGIN_BYTE_LIMIT = 64 * 1024; // ...or talks this much without it
constexpr int DISCARD_CHUNKS = 32;             // 64 KiB unasked: out of step

intptr_t link_open(DeviceRecord& rec); // connects to rec.ip:rec.port; the socket or -1
void link_close(DeviceRecord& rec);    // closes rec.socket when set; sets it to -1
void link_drop(DeviceRecord& rec);     // lowers reconnect_request, then link_close
int link_send(intptr_t sock, const char* text);
// Before a command: discards what the unit sent unasked (the rest of a reply that ended early,
// a late answer), reading without waiting, so the reply taken next is this command's own.
// False when the unit closed or sent more than DISCARD_CHUNKS chunks: the link is then lost.
bool link_discard_waiting(intptr_t sock);
// *received, when given, gets the bytes stored, NUL bytes from the unit included.
bool link_receive(intptr_t sock, char* buffer, size_t size, const char* marker, int idle_limit_s,
                  size_t* received = nullptr);
int login_handshake(intptr_t sock, const char* user, const char* password); // 0 logged in
int link_login(DeviceRecord& rec); // 1 when reconnect_request is raised or no socket
