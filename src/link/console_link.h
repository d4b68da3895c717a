// The TCP console connection to the unit: open, close, drop, send, receive, login.
#pragma once
#include <cstddef>
#include <cstdint>

struct DeviceRecord;

intptr_t link_open(DeviceRecord& rec); // connects to rec.ip:rec.port; the socket or -1
void link_close(DeviceRecord& rec);    // closes rec.socket when set; sets it to -1
void link_drop(DeviceRecord& rec);     // lowers reconnect_request, then link_close
int link_send(intptr_t sock, const char* text);
// *received, when given, gets the bytes stored, NUL bytes from the unit included.
bool link_receive(intptr_t sock, char* buffer, size_t size, const char* marker, int idle_limit_s,
                  size_t* received = nullptr);
int login_handshake(intptr_t sock, const char* user, const char* password); // 0 logged in
int link_login(DeviceRecord& rec); // 1 when reconnect_request is raised or no socket
