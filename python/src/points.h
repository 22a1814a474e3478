// The points of an array call, computed without the GIL on the machine's
// cores (one evaluator per thread, as the tolerance engine runs), while the
// calling thread runs Python's signal handlers every 20 ms: a
// KeyboardInterrupt (or any exception a handler raises) stops every thread
// at its next point and is raised. An error at a point (a value the models
// cannot take) stops them too and is raised.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include <kestrelix/check.h>

#include "python/src/values.h"

namespace kx::py_face {

// The fewest points worth a thread of their own: the closed forms and the
// field solver's fast path take microseconds a point, direct solutions and
// searches up to milliseconds.
inline constexpr py::ssize_t light_points = 4096;
inline constexpr py::ssize_t heavy_points = 4;

// The evaluators of one thread: the line of the call's settings and, for
// the closed forms' deviations from the field solver, the solver's check.
struct Evaluators {
  explicit Evaluators(const ModelSettings& settings, bool deviations) : line(settings) {
    if (deviations) check.emplace(settings);
  }
  CoupledLine line;
  std::optional<study::FieldCheck> check;
};

// row(cursor, i, evaluators) for every point i. A call of numbers with the
// closed forms alone runs here, with the GIL (microseconds).
template <typename Row>
void each_point(const Broadcast& b, const ModelSettings& settings, bool deviations,
                py::ssize_t per_thread, const Row& row) {
  if (b.scalar() && settings.model == Model::closed && !deviations) {
    Evaluators e(settings, false);
    row(Broadcast::Cursor(b), 0, e);
    return;
  }
  const py::ssize_t n = b.size();
  const auto cores = static_cast<py::ssize_t>(std::max(1u, std::thread::hardware_concurrency()));
  const py::ssize_t blocks = std::clamp<py::ssize_t>(n / per_thread, 1, cores);
  std::atomic<bool> stop{false};
  std::atomic<py::ssize_t> running{blocks};
  std::vector<std::exception_ptr> failed(static_cast<std::size_t>(blocks));
  std::optional<py::error_already_set> raised;
  // Python's signal handlers, on the calling thread only; true: stop.
  auto last = std::chrono::steady_clock::now();
  const auto signals = [&] {
    const auto now = std::chrono::steady_clock::now();
    if (now - last < std::chrono::milliseconds(20)) return false;
    last = now;
    if (PyErr_CheckSignals() == 0) return false;
    raised.emplace();
    stop.store(true);
    return true;
  };
  const auto block = [&](py::ssize_t k) {
    const py::ssize_t first = n * k / blocks;
    const py::ssize_t end = n * (k + 1) / blocks;
    try {
      Evaluators e(settings, deviations);
      Broadcast::Cursor c(b, first);
      for (py::ssize_t i = first; i < end && !stop.load(std::memory_order_relaxed); ++i, c.next()) {
        row(c, i, e);
        if (k == 0 && signals()) break;
      }
    } catch (...) {
      failed[static_cast<std::size_t>(k)] = std::current_exception();
      stop.store(true);
    }
    running.fetch_sub(1);
  };
  {
    std::vector<std::thread> pool;
    py::ssize_t k = 1;
    try {
      for (; k < blocks; ++k) pool.emplace_back(block, k);
    } catch (const std::system_error&) {
    }
    block(0);
    for (py::ssize_t j = k; j < blocks; ++j) block(j);  // the blocks no thread took
    // The other threads' last points: Ctrl-C still reaches them.
    while (running.load() > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      signals();
    }
    for (std::thread& t : pool) t.join();
  }
  if (raised) throw *raised;
  for (const std::exception_ptr& e : failed) {
    if (e) std::rethrow_exception(e);
  }
}

}  // namespace kx::py_face
