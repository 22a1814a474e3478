#include <kestrelix/study.h>

#include "common/sweep.h"

namespace kx::study {

long long points(const Range& r) { return step_count(r.max, r.min, r.step) + 1LL; }

float point(const Range& r, long long k) { return sweep_point(static_cast<int>(k), r.step, r.min); }

}  // namespace kx::study
