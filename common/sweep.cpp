#include "common/sweep.h"

#include <climits>
#include <cmath>

namespace kx {

int step_count(float max, float min, float step) {
  const long double q = (static_cast<long double>(max) - static_cast<long double>(min)) /
                            static_cast<long double>(step) +
                        static_cast<long double>(0.0001f);
  // A zero step, or a range with an infinite or undefined end, has no points.
  if (!std::isfinite(q)) return -1;
  const float stored = static_cast<float>(q);   // +Inf when a finite q exceeds the float range
  if (stored >= 2147483648.0f) return INT_MAX;  // saturate: the conversion stays defined
  if (stored <= -1.0f) return -1;
  return static_cast<int>(stored);  // truncation toward zero
}

float sweep_point(int ii, float step, float min) {
  const long double v = static_cast<long double>(ii) * static_cast<long double>(step) +
                        static_cast<long double>(min);
  return static_cast<float>(v);
}

}  // namespace kx
