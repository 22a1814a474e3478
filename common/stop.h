// Stopping a run: the process's SIGINT and SIGTERM, and the Stop
// (kestrelix/stop.h) that a caller running the program's work in-process
// (one request of a server) can cancel or give a deadline. Long
// computations poll it; nothing is killed.
#pragma once

#include <string>

#include <kestrelix/stop.h>

namespace kx {

// Installs the SIGINT and SIGTERM handlers: they only note the signal, so
// that every complete row written before it stays in the output file.
// Console reads are not restarted, so a signal also ends a wait for input.
// The report writer notices the signal at the next report line or console
// read, a computation at its next poll.
void install_interrupt_handlers();
// The signal noted by the handlers, 0 when none.
int pending_interrupt();
// Throws Interrupted when a signal has been noted.
void check_interrupt();
// "SIGINT", "SIGTERM" or "signal N".
std::string signal_name(int sig);

}  // namespace kx
