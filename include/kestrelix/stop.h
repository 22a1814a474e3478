// Stopping a long study (a sweep, a search, a map): a Stop that another
// thread cancels, or that carries a deadline. A study polls it between its
// points and ends with Stopped; nothing is killed. The kestrelix program's
// own SIGINT and SIGTERM end a study the same way (with Interrupted) once
// the program has installed its handlers; a library user's process sees no
// such signal unless it installs them.
//
//   kx::Stop stop;
//   stop.set_deadline(std::chrono::steady_clock::now() + std::chrono::seconds(5));
//   kx::study::check_map(line, plan, sink, &stop);  // throws kx::Stopped past 5 s
#pragma once

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>

namespace kx {

// The program stopped by SIGINT or SIGTERM (the signal's number in `signal`).
struct Interrupted : std::runtime_error {
  explicit Interrupted(int sig);
  int signal;
};

// A study stopped by its caller: cancelled, or past its deadline. The
// message is "stopped: ..." (one line, without the program name).
struct Stopped : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What a long computation polls. Thread-safe: any thread may cancel while
// others poll.
class Stop {
 public:
  Stop() = default;  // nothing but the program's signals
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

// The same for an optional Stop (nullptr: the program's signals only).
bool stop_requested(const Stop* stop);
void check_stop(const Stop* stop);

}  // namespace kx
