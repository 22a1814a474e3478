// Dimensional synthesis of the coupled pair.
//
// Units: lengths in inches, f in GHz, impedances in ohms.
//
// Reference:
//   [ARJ75] S. Akhtarzad, T. R. Rowbotham, P. B. Johns, "The design of coupled
//           microstrip lines", IEEE Trans. MTT-23, 1975.
#pragma once

#include "common/records.h"

namespace kx {

// W and S of the covered pair (substrate er, h; cover h2; strip thickness t)
// whose Zoe, Zoo equal zoed, zood at f GHz (0: the static impedances). Starts
// from the [ARJ75] estimate (equivalent single strips of zoed/2 and zood/2
// sized by Wheeler's W/H synthesis formula), then evaluates the evaluator's
// chain (models/chain.h, both modes): a step-and-halve search on S for
// the coupling and a fixed-point step on W for sqrt(Zoe Zoo). s and w are
// outputs only. iflag 0: found; otherwise the models' validity flag, or 1
// for W/H above 11 or a search that does not converge. On return
// rec.lcdis1 and rec.lceff1 describe the last cross-section evaluated.
void msws(Records& rec, float er, float f, float h, float h2, int& iflag, float& s, float t,
          float& w, float zoed, float zood);

}  // namespace kx
