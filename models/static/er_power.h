// ((Er - 0.9)/(Er + 3))^0.053, the Er factor of the Hammerstad-Jensen
// exponent b(Er) that msimp and mscuppv share: formed once per Er and kept.
#pragma once

#include <cmath>

#include "common/records.h"
#include "models/memo.h"

namespace kx {

inline float er_power(Records& rec, float er) {
  return find_or_compute(
      rec, &ModelMemo::er_power, [&](float& v) { v = std::pow((er - 0.9f) / (er + 3.0f), 0.053f); },
      er);
}

}  // namespace kx
