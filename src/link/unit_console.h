// What the viewer relies on in the unit's shell.
#pragma once
#include <cstddef>

constexpr char DEVICE_PROMPT[] = "VORLIX:/#";
constexpr size_t CHUNK_SIZE = 2048;        // one receive
constexpr size_t REPLY_BUFFER_SIZE = 2049; // one reply of at most 2048 characters
constexpr int REPLY_IDLE_LIMIT_S = 30;
