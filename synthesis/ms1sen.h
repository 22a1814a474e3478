// Impedance sensitivities of the covered coupled pair.
#pragma once

#include "common/records.h"
#include "models/selectors.h"

namespace kx {

// Normalised sensitivities (dZ/Z)/(dx/x) of the dispersive Zoe (rec.mssen1)
// and Zoo (rec.mssen2) to er, h, h2, s, t and w (inches; f in GHz): one-sided
// forward differences of the evaluator's chain (models/chain.h) with
// one parameter raised by 0.1 %. The nominal point evaluates both modes; the
// perturbed points only the mode of ieoro (ieoro_odd: Zoo, otherwise Zoe),
// reading the other mode's working values as the previous evaluation left
// them; the H2 step keeps the nominal effective widths. iflag is that of the
// last evaluation (a nominal iflag 1 returns at once). rec.lcdis1 is left at
// the nominal values; only the selected mode's record carries meaning.
void ms1sen(Records& rec, float er, float f, float h, float h2, int ieoro, int& iflag, float s,
            float t, float w);

}  // namespace kx
