// The worker thread: keeps the link alive, paces the polls and reconnects.
#pragma once

// Thread entry. Runs until stop_request(); the caller creates and joins the thread.
void worker_main();
void link_reconnect();
void sleep_seconds(int n); // n worker seconds, ended early by the stop
