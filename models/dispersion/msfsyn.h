// Design centre frequency of a coupler of given length.
//
// Units: lengths in inches, f in GHz.
#pragma once

#include "common/records.h"

namespace kx {

// Design centre frequency f (GHz) at which the length l (inch) is a quarter
// of the guided wavelength c/(f sqrt(effcf)), effcf the dispersive coupler
// permittivity that lceff gives at f for the static effc, effe, effo of
// mscuppv (effective widths wte, wto of lcwta, gap s, substrate h and er).
// Steps f by 10 GHz from 0 and halves the step at each change of sign of the
// length error, to a relative error below 1e-4 (at most 10000 candidates).
// Leaves rec.lceff1 at the returned f; f is an output only.
void msfsyn(Records& rec, float effc, float effe, float effo, float er, float& f, float h, float l,
            float s, float wte, float wto);

}  // namespace kx
