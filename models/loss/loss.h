// Conductor and dielectric losses, and the impedance sensitivities.
#pragma once

#include "common/records.h"

namespace kx {

// Even- and odd-mode attenuation in dB/inch at f GHz: Wheeler's incremental
// inductance rule with Hammerstad-Bekkadal roughness, plus the dielectric
// term. Reads rec.lceff1.effef/effof as the last lceff left them.
void ms1los(Records& rec, float& ate, float& ato, float er, float f, float h, float h2,
            float res, float s, float sr, float t, float tlos, float w);

// Normalised sensitivities of Zoe (rec.mssen1) and Zoo (rec.mssen2) to Er,
// H, H2, S, T and W; rec.lcdis1 is left at the nominal values.
void ms1sen(Records& rec, float er, float f, float h, float h2, int ieoro, int& iflag, float s,
            float t, float w);

}  // namespace kx
