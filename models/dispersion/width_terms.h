// The terms of a strip's width ratio u that the dispersion routines share
// (the single line's P1, P3 and R2 to R16 at u): formed once per u and kept.
#pragma once

#include <cmath>

#include "common/fmath.h"
#include "common/records.h"
#include "models/memo.h"

namespace kx {

inline const WidthTerms& width_terms(Records& rec, float u) {
  return find_or_compute(
      rec, &ModelMemo::width,
      [&](WidthTerms& k) {
        k.p1_exp = std::exp(-8.7513f * u);
        k.p3_exp = std::exp(-4.6f * u);
        k.r3 = 4.766f * std::exp(-3.228f * std::pow(u, 0.641f));
        k.r6 = 22.2f * std::pow(u, 1.92f);
        k.exp_r6 = std::exp(-k.r6);
        k.exp_r2 = std::exp(-(0.267f * ipow<7>(u)));
        k.r16_exp = std::exp(-ipow<6>(u / 15.0f));
      },
      u);
}

}  // namespace kx
