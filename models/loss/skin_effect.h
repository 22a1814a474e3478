// Surface resistance, skin depth and the Hammerstad-Bekkadal roughness factor
// of a conductor of resistivity res (ohm inch) at f GHz. Used by ms1los; kept
// apart so that the figures can be checked on their own.
#pragma once

#include <cmath>

#include "common/constants.h"
#include "common/fmath.h"

namespace kx::skin {

// Surface resistance of a smooth conductor, sqrt(pi f uo res), ohms.
inline float surface_resistance(float f, float res) { return std::sqrt(f * pi * uo * res); }

// Skin depth sqrt(2 res/(omega uo)), inches.
inline float skin_depth(float f, float res) {
  const float om = 2.0f * pi * f;
  return std::sqrt(2.0f * res / (om * uo));
}

// Hammerstad-Bekkadal roughness factor 1 + (2/pi) atan(1.4 (sr/sd)^2).
inline float roughness_factor(float sr, float sd) {
  const float tp = 1.4f * sq(sr / sd);
  return 1.0f + (2.0f / pi) * std::atan(tp);
}

}  // namespace kx::skin
