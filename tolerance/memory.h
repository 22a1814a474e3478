// The memory estimate of a tolerance run, checked before any sampling.
#pragma once

#include <cstdint>

namespace kx::tol {

struct MemoryNeed {
  long long samples{};
  int n_fig{};
  unsigned threads{};
  // What one evaluation of every thread works in beyond the evaluator (the
  // field solver's matrices, kx::field::work_bytes), bytes.
  std::uint64_t work_per_thread{};
  // What the solutions of the nominal section before the sampling work in
  // (freed before it starts), bytes.
  std::uint64_t work_before{};
};

// Throws Error when the run's percentile arrays (4 bytes per figure per
// sample), its round buffer and its threads (a stack, an evaluator and the
// model's working memory each) would not fit in what the system has
// available (less an eighth, and within an address-space limit); the message
// says how many samples, or threads, fit.
void check_memory(const MemoryNeed& need);

}  // namespace kx::tol
