// The field solutions an evaluator with the field model keeps: the last few
// cross-sections it solved, so that a sweep over frequency, the sensitivities
// of both impedances or a synthesis solve each cross-section once. A kept
// solution is the one the solver gives again: the cache saves time only.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

#include <kestrelix/field.h>
#include <kestrelix/field_local.h>

namespace kx {

class FieldCache {
 public:
  // The solution of g at `accuracy` by `method`; nullptr when the solver
  // cannot take g (kx::field::check gives the reason). A fast request goes
  // to the tables where they reach, else to `local` or one of `sweeps`
  // (models of direct solutions at `accuracy`) where one holds and covers
  // g, else to the direct solution. With `measured`, the solution's error
  // estimates are measured against a more accurate one (field::measured).
  const field::Result* solve(
      const field::Geometry& g, field::Accuracy accuracy, field::Method method,
      const field::LocalModel* local = nullptr,
      const std::vector<std::shared_ptr<const field::SweepModel>>* sweeps = nullptr,
      bool measured = false);
  // The solutions made so far (not those served again): by the fast path,
  // by a local or sweep model, directly, and of those the fallbacks (a fast
  // request that none of the others served).
  struct Counts {
    long long fast = 0, local = 0, sweep = 0, direct = 0, fallbacks = 0;
  };
  const Counts& counts() const { return counts_; }

 private:
  struct Entry {
    field::Geometry g;
    field::Accuracy accuracy{};
    field::Method method{};
    bool measured = false;
    bool used = false;
    bool solved = false;  // false: the solver refused g
    field::Result result;
  };
  // g's solution by the first of the ways solve() names that serves it, counted.
  field::Result solved(const field::Geometry& g, field::Accuracy accuracy, field::Method method,
                       const field::LocalModel* local,
                       const std::vector<std::shared_ptr<const field::SweepModel>>* sweeps);
  static constexpr std::size_t kEntries = 8;  // a sensitivity point and its six neighbours
  std::array<Entry, kEntries> entries_{};
  std::size_t next_ = 0;  // the entry the next new solution replaces
  Counts counts_;
};

}  // namespace kx
