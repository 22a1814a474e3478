// The terms of a strip's width ratio u that the dispersion routines share:
// formed once per u and kept in rec.memo.strip.
#pragma once

#include <cmath>

#include "common/fmath.h"
#include "common/records.h"

namespace kx {

inline const StripTerms& strip_terms(ModelMemo& memo, float u) {
  const auto key = memo.strip.key(u);
  if (const StripTerms* kept = memo.strip.find(key)) return *kept;
  StripTerms& k = memo.strip.put(key);
  k.e8 = std::exp(-8.7513f * u);
  k.e46 = std::exp(-4.6f * u);
  k.r3 = 4.766f * std::exp(-3.228f * std::pow(u, 0.641f));
  k.p192 = std::pow(u, 1.92f);
  k.er6 = std::exp(-(22.2f * k.p192));
  k.er2 = std::exp(-(0.267f * ipow<7>(u)));
  k.e16 = std::exp(-ipow<6>(u / 15.0f));
  return k;
}

}  // namespace kx
