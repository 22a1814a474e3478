#include "common/stop.h"

#include "common/report.h"

namespace kx {

void Stop::cancel() { cancelled_.store(true, std::memory_order_relaxed); }

void Stop::set_deadline(std::chrono::steady_clock::time_point t) {
  deadline_.store(t.time_since_epoch().count(), std::memory_order_relaxed);
}

bool Stop::requested() const {
  if (cancelled_.load(std::memory_order_relaxed) || signal() != 0) return true;
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  return now >= deadline_.load(std::memory_order_relaxed);
}

int Stop::signal() const { return pending_interrupt(); }

}  // namespace kx
