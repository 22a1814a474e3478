// The statistics of a tolerance run: streamed mean and variance, the
// percentiles and the histogram of a figure's values, and the yield with its
// confidence interval.
#pragma once

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

#include "tolerance/figures.h"

namespace kx::tol {

// Welford's streamed mean and variance, with the extremes.
struct Welford {
  long long n{};
  double mean{}, m2{};
  double min{std::numeric_limits<double>::infinity()};
  double max{-std::numeric_limits<double>::infinity()};
  void add(double x) {
    ++n;
    const double d = x - mean;
    mean += d / static_cast<double>(n);
    m2 += d * (x - mean);
    min = std::min(min, x);
    max = std::max(max, x);
  }
  double variance() const { return n > 1 ? m2 / static_cast<double>(n - 1) : 0.0; }
};

// The counts of `v` in histogram_bins equal bins from lo to hi (the last bin
// holds hi).
std::vector<long long> histogram_of(const std::vector<float>& v, double lo, double hi);

// The percentiles (kx::tol::percentiles) of `v`, reordering it; NaN when it
// is empty.
std::array<double, 5> percentiles_of(std::vector<float>& v);

// `passed` of `count` with the Wilson score 95 % interval.
Yield yield_of(long long passed, long long count);

}  // namespace kx::tol
