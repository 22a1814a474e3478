// Conductor and dielectric losses.
//
// References:
//   [W42]  H. A. Wheeler, "Formulas for the skin effect", Proc. IRE 30, 1942
//          (incremental inductance rule).
//   [HB75] E. Hammerstad, O. Bekkadal, "Microstrip Handbook", ELAB report
//          STF44 A74169, Univ. of Trondheim, 1975 (surface roughness).
#pragma once

#include "common/records.h"
#include "models/selectors.h"

namespace kx {

// Even- and odd-mode attenuation ate, ato in dB/inch (positive = loss) at f
// GHz: [W42] incremental-inductance rule on the air-filled static impedances
// (forward differences in w, s and t), surface resistance raised by the
// [HB75] roughness factor, plus the quasi-TEM dielectric term
// pi 8.686 (er/(er-1)) ((eff-1)/sqrt(eff)) tan(d)/lambda0.
// er relative dielectric constant; h, h2, s, t, w in inches; res conductor
// resistivity in ohm-inch (0: no conductor loss); sr RMS roughness in
// inches; tlos loss tangent (0: no dielectric loss). No loss at f = 0.
// Reads rec.lceff1.effef/effof as the last lceff left them, and (through the
// air-filled ms1imp calls) rec.ms1pv.effoi as the last mscuppv left it;
// overwrites rec.msimp1.
void ms1los(Records& rec, float& ate, float& ato, float er, float f, float h, float h2, float res,
            float s, float sr, float t, float tlos, float w);

}  // namespace kx
