// Time is a parameter of the core, so tests can run the 30 s and 15 s rules in milliseconds.
#pragma once
#include <atomic>

extern std::atomic<int> tick_ms;   // the receive and login loops' pause: 100
extern std::atomic<int> second_ms; // the worker's second (1 s turns, 15 s between attempts): 1000

// Idle ticks waited so far by the receive and login loops, all threads together. Tests watch
// it to count the pauses of a wait and to act at a chosen tick.
extern std::atomic<unsigned long> idle_ticks_waited;
