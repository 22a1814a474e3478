// 32-bit arithmetic helpers.
#pragma once

#include <cfloat>

static_assert(FLT_EVAL_METHOD == 0, "float expressions must be evaluated in float (SSE)");

namespace kx {

constexpr float sq(float x) { return x * x; }

// x**n for a constant integer n >= 1, formed by the same chain of
// multiplications a Fortran compiler uses (x^n = x^(n-k) * x^k with k from
// the binary-powering table): x^3 = x*x^2, x^5 = x^2*x^3, x^7 = x^3*x^4,
// x^12 = x^6*x^6, x^20 = x^10*x^10.
namespace detail {
inline constexpr unsigned char kPowiSplit[33] = {0,  1,  1,  2,  2,  3,  3,  4,  4,  6,  5,
                                                 6,  6,  10, 7,  9,  8,  16, 9,  16, 10, 12,
                                                 11, 13, 12, 17, 13, 18, 14, 24, 15, 26, 16};
}  // namespace detail

template <int N>
constexpr float ipow(float x) {
  static_assert(N >= 1 && N <= 32, "ipow supports exponents 1 to 32");
  if constexpr (N == 1) {
    return x;
  } else {
    constexpr int k = detail::kPowiSplit[N];
    return ipow<N - k>(x) * ipow<k>(x);
  }
}

}  // namespace kx
