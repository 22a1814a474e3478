// ((Er - 0.9)/(Er + 3))^0.053, the Er factor of the Hammerstad-Jensen
// exponent b(Er) that msimp and mscuppv share: formed once per Er and kept.
#pragma once

#include <cmath>

#include "common/records.h"

namespace kx {

inline float er_power(ModelMemo& memo, float er) {
  const auto key = memo.er_power.key(er);
  if (const float* kept = memo.er_power.find(key)) return *kept;
  return memo.er_power.put(key) = std::pow((er - 0.9f) / (er + 3.0f), 0.053f);
}

}  // namespace kx
