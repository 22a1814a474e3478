// Dimensional synthesis of the coupled pair and the design centre frequency.
#pragma once

#include "common/records.h"

namespace kx {

// W and S of the covered pair whose Zoe, Zoo equal zoed, zood at f GHz
// (Akhtarzad estimate refined by a step-and-halve search). On return
// rec.lcdis1 and rec.lceff1 describe the returned cross-section.
void msws(Records& rec, float er, float f, float h, float h2, int& iflag, float& s, float t,
          float& w, float zoed, float zood);

// Design centre frequency (GHz) at which the length l is a quarter of the
// guided wavelength of the pair.
void msfsyn(Records& rec, float effc, float effe, float effo, float er, float& f, float h,
            float l, float s, float wte, float wto);

}  // namespace kx
