// The process's signal flag and the Stop that long computations poll.
#include "common/stop.h"

#include <csignal>

namespace kx {
namespace {

// The one piece of program-wide state: a signal handler can reach nothing
// else. It only notes the signal; whoever polls acts on it. A lock-free
// atomic is safe both in the handler and between threads.
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

void note_signal(int sig) { g_signal.store(sig, std::memory_order_relaxed); }

}  // namespace

Interrupted::Interrupted(int sig)
    : std::runtime_error("kestrelix: stopped by " + signal_name(sig)), signal(sig) {}

std::string signal_name(int sig) {
  if (sig == SIGINT) return "SIGINT";
  if (sig == SIGTERM) return "SIGTERM";
  return "signal " + std::to_string(sig);
}

void install_interrupt_handlers() {
  for (const int sig : {SIGINT, SIGTERM}) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) {
      continue;  // ignored by the caller (a background job): stays ignored
    }
    struct sigaction act {};
    act.sa_handler = note_signal;
    sigemptyset(&act.sa_mask);
    act.sa_flags = 0;  // no SA_RESTART: a console read returns at the signal
    ::sigaction(sig, &act, nullptr);
  }
}

int pending_interrupt() { return g_signal.load(std::memory_order_relaxed); }

void check_interrupt() {
  const int sig = pending_interrupt();
  if (sig != 0) throw Interrupted(sig);
}

void Stop::cancel() { cancelled_.store(true); }

void Stop::set_deadline(std::chrono::steady_clock::time_point t) {
  deadline_.store(t.time_since_epoch().count());
}

int Stop::signal() const { return pending_interrupt(); }

bool Stop::past_deadline() const {
  const Ticks deadline = deadline_.load();
  return deadline != std::chrono::steady_clock::time_point::max().time_since_epoch().count() &&
         std::chrono::steady_clock::now().time_since_epoch().count() >= deadline;
}

bool Stop::requested() const {
  return pending_interrupt() != 0 || cancelled_.load() || past_deadline();
}

void Stop::check() const {
  check_interrupt();
  if (cancelled_.load()) throw Stopped("stopped: cancelled");
  if (past_deadline()) throw Stopped("stopped: time limit reached");
}

bool stop_requested(const Stop* stop) {
  return stop != nullptr ? stop->requested() : pending_interrupt() != 0;
}

void check_stop(const Stop* stop) {
  if (stop != nullptr) {
    stop->check();
  } else {
    check_interrupt();
  }
}

}  // namespace kx
