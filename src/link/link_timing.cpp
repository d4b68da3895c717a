#include "link/link_timing.h"

std::atomic<int> tick_ms{100};
std::atomic<int> second_ms{1000};
std::atomic<unsigned long> idle_ticks_waited{0};
