// Stopping a run: the process's SIGINT and SIGTERM, and a Stop that a caller
// running the program's work in-process (one request of a server) can
// cancel or give a deadline. Long computations poll it; nothing is killed.
#pragma once

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>

namespace kx {

// The user stopped the program by SIGINT or SIGTERM. The report writer
// notices the signal at the next report line or console read, a computation
// at its next poll.
struct Interrupted : std::runtime_error {
  explicit Interrupted(int sig);
  int signal;
};

// A run stopped by its caller: cancelled, or past its deadline. The message
// is "stopped: ..." (one line, without the program name).
struct Stopped : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Installs the SIGINT and SIGTERM handlers: they only note the signal, so
// that every complete row written before it stays in the output file.
// Console reads are not restarted, so a signal also ends a wait for input.
void install_interrupt_handlers();
// The signal noted by the handlers, 0 when none.
int pending_interrupt();
// Throws Interrupted when a signal has been noted.
void check_interrupt();
// "SIGINT", "SIGTERM" or "signal N".
std::string signal_name(int sig);

// What a long computation polls: the process's signals, and a cancellation
// or deadline set by the caller. Thread-safe: any thread may cancel while
// others poll.
class Stop {
 public:
  Stop() = default;  // only the process's SIGINT/SIGTERM
  Stop(const Stop&) = delete;
  Stop& operator=(const Stop&) = delete;

  void cancel();  // from any thread
  void set_deadline(std::chrono::steady_clock::time_point t);
  // A signal noted, cancelled, or past the deadline.
  bool requested() const;
  // The noted signal, 0 when none.
  int signal() const;
  // Throws Interrupted for a noted signal, Stopped when cancelled or past
  // the deadline.
  void check() const;

 private:
  using Ticks = std::chrono::steady_clock::rep;
  bool past_deadline() const;
  std::atomic<bool> cancelled_{false};
  std::atomic<Ticks> deadline_{
      std::chrono::steady_clock::time_point::max().time_since_epoch().count()};
};

// The same for an optional Stop (nullptr: the process's signals only).
bool stop_requested(const Stop* stop);
void check_stop(const Stop* stop);

}  // namespace kx
