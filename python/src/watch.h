// Long work with Ctrl-C: the work runs on a thread of its own without the
// GIL while the calling thread runs Python's signal handlers every 20 ms.
// When one raises (KeyboardInterrupt), the work's Stop is cancelled, the
// work ends at its next poll and the handler's exception is raised.
#pragma once

#include <pybind11/pybind11.h>

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

#include <kestrelix/stop.h>

namespace kx::py_face {

template <typename Result, typename Work>
Result run_watched(Stop& stop, const Work& work) {
  namespace py = pybind11;
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::optional<Result> result;
  std::exception_ptr failed;
  std::optional<py::error_already_set> raised;
  {
    py::gil_scoped_release free;
    std::thread worker([&] {
      try {
        result.emplace(work());
      } catch (...) {
        failed = std::current_exception();
      }
      std::lock_guard<std::mutex> lock(m);
      done = true;
      cv.notify_one();
    });
    std::unique_lock<std::mutex> lock(m);
    while (!cv.wait_for(lock, std::chrono::milliseconds(20), [&] { return done; })) {
      if (raised) continue;  // cancelled: waiting for the work to see it
      lock.unlock();
      {
        py::gil_scoped_acquire held;
        if (PyErr_CheckSignals() != 0) raised.emplace();
      }
      if (raised) stop.cancel();
      lock.lock();
    }
    lock.unlock();
    worker.join();
  }
  if (raised) throw *raised;
  if (failed) std::rethrow_exception(failed);
  return std::move(*result);
}

}  // namespace kx::py_face
