// The worker thread: keeps the link alive, paces the polls and reconnects.
//
// Stopping the worker (the caller's side; the worker never ends by itself otherwise):
//   1. stop_request()           (src/link/socket_layer.h): every pause, connect, login and
//                                receive wait of the worker wakes at once and gives up;
//   2. join the thread           (std::thread::join, or on Windows a wait on the thread handle
//                                that keeps dispatching sent messages, since the worker's view
//                                updates are messages sent to the main thread; close any
//                                report box the worker shows first);
//   3. link_drop(device)         only now, on the caller's thread: the worker alone uses the
//                                socket while it runs, so it may still hold one when it ends.
// Call stop_reset() before starting a new worker.
#pragma once
#include <atomic>
#include <cstdint>

// Thread entry. Runs until stop_request(); the caller creates and joins the thread.
void worker_main();

// Whole worker seconds paused since worker_main started (each turn pauses 1, each failed
// attempt 15). The notice of a lost link counts its minute in them, and tests and the bench
// count turns and pauses by them instead of timing them.
extern std::atomic<uint32_t> worker_seconds;
