// Quasi-static models of the covered single microstrip and of the covered
// edge-coupled pair. Inputs are passed by value, outputs by reference; the
// results that have a record go to `rec`.
#pragma once

#include "common/records.h"

namespace kx {

// Covered single microstrip (Hammerstad-Jensen with top cover, Bahl-Garg
// thickness correction). Results in rec.msimp1.
void msimp(Records& rec, float er, float h1, float h2, float t, float w);

// Jansen's effective widths of thick coupled strips.
void lcwta(float er, float h, float s, float t, float w, float& wte, float& wto);

// Static even/odd effective dielectric constants of the covered pair
// (Kirschning-Jansen with cover factors). effe is read on entry by a
// single-mode odd evaluation (iop = 3, ieoro = 2) for effc. Writes rec.ms1pv
// and, through msimp, rec.msimp1.
void mscuppv(Records& rec, float& effc, float& effe, float& effo, float er, float t, float h,
             float h2, int ieoro, int iop, float s, float wte, float wto);

// Static even/odd impedances of the covered pair and the validity flag.
// zoe is read on entry by a single-mode odd evaluation (validity tests);
// zoo keeps its entry value in a single-mode even evaluation.
void ms1imp(Records& rec, float effe, float effo, float er, float h, float h2, int ieoro,
            int& iflag, int iop, float s, float wte, float wto, float& zoe, float& zoo);

// Zo and coupling from Zoe, Zoo (m = 2), or Zoe, Zoo from Zo and the
// coupling ko in negative dB (any other m).
void sl1zo(float& cc, float& ko, int m, float& zo, float& zoe, float& zoo);

}  // namespace kx
