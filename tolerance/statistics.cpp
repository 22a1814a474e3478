#include "tolerance/statistics.h"

#include <cmath>

namespace kx::tol {
namespace {

constexpr double kZ95 = 1.959963984540054;  // two-sided 95 % normal quantile

// Selects the given ranks (ascending) of [b, e) into place; base is the rank of *b.
void multiselect(float* b, float* e, const std::size_t* rb, const std::size_t* re,
                 std::size_t base) {
  if (rb == re || b == e) return;
  const std::size_t* mid = rb + (re - rb) / 2;
  float* m = b + (*mid - base);
  std::nth_element(b, m, e);
  multiselect(b, m, rb, mid, base);
  multiselect(m + 1, e, mid + 1, re, *mid + 1);
}

}  // namespace

std::vector<long long> histogram_of(const std::vector<float>& v, double lo, double hi) {
  if (v.empty()) return {};
  std::vector<long long> counts(histogram_bins, 0);
  const double width = (hi - lo) / histogram_bins;
  for (const float x : v) {
    const double k = width > 0.0 ? std::floor((static_cast<double>(x) - lo) / width) : 0.0;
    const auto bin = static_cast<std::size_t>(std::clamp(k, 0.0, double{histogram_bins - 1}));
    ++counts[bin];
  }
  return counts;
}

// Percentiles by linear interpolation between order statistics (the
// definition h = (n - 1) p / 100 of Hyndman and Fan's type 7).
std::array<double, 5> percentiles_of(std::vector<float>& v) {
  std::array<double, 5> out{};
  const std::size_t n = v.size();
  if (n == 0) {
    out.fill(std::numeric_limits<double>::quiet_NaN());
    return out;
  }
  std::vector<std::size_t> ranks;
  for (const double p : percentiles) {
    const double h = static_cast<double>(n - 1) * p / 100.0;
    const auto lo = static_cast<std::size_t>(std::floor(h));
    ranks.push_back(lo);
    if (lo + 1 < n) ranks.push_back(lo + 1);
  }
  std::sort(ranks.begin(), ranks.end());
  ranks.erase(std::unique(ranks.begin(), ranks.end()), ranks.end());
  multiselect(v.data(), v.data() + n, ranks.data(), ranks.data() + ranks.size(), 0);
  for (std::size_t j = 0; j < percentiles.size(); ++j) {
    const double h = static_cast<double>(n - 1) * percentiles[j] / 100.0;
    const auto lo = static_cast<std::size_t>(std::floor(h));
    const double a = static_cast<double>(v[lo]);
    const double b = lo + 1 < n ? static_cast<double>(v[lo + 1]) : a;
    out[j] = a + (h - static_cast<double>(lo)) * (b - a);
  }
  return out;
}

Yield yield_of(long long passed, long long count) {
  Yield y;
  y.passed = passed;
  y.count = count;
  if (count == 0) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    y.percent = y.ci_low = y.ci_high = nan;
    return y;
  }
  const double n = static_cast<double>(count);
  const double p = static_cast<double>(passed) / n;
  const double z2 = kZ95 * kZ95;
  const double denom = 1.0 + z2 / n;
  const double centre = (p + z2 / (2.0 * n)) / denom;
  const double half = kZ95 / denom * std::sqrt(p * (1.0 - p) / n + z2 / (4.0 * n * n));
  y.percent = 100.0 * static_cast<double>(passed) / n;
  y.ci_low = 100.0 * std::max(0.0, centre - half);
  y.ci_high = 100.0 * std::min(1.0, centre + half);
  return y;
}

}  // namespace kx::tol
