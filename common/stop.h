// A request to stop a run early: cancelled by its owner, past its deadline,
// or interrupted by SIGINT or SIGTERM (install_interrupt_handlers). Long runs
// poll requested() between blocks of work; one Stop may be read by several
// threads while another cancels it.
#pragma once

#include <atomic>
#include <chrono>

namespace kx {

class Stop {
 public:
  Stop() = default;
  void cancel();
  void set_deadline(std::chrono::steady_clock::time_point t);
  // Cancelled, past the deadline, or a signal noted.
  bool requested() const;
  // The signal noted by the interrupt handlers, 0 when none.
  int signal() const;

 private:
  std::atomic<bool> cancelled_{false};
  std::atomic<std::chrono::steady_clock::rep> deadline_{
      std::chrono::steady_clock::time_point::max().time_since_epoch().count()};
};

}  // namespace kx
