#include "link/link_flags.h"

std::atomic<uint32_t> request_flags{0};
std::atomic<int> reconnect_request{0};
