// The design's cross-section and materials as the evaluator takes them.
#pragma once

#include "input/design.h"
#include "models/coupled_line.h"

namespace kx {

// The cross-section of the design with strip width w and spacing s (inch).
inline Section section(const Design& d, float w, float s) {
  return Section{d.er, d.h, d.h2, w, s, d.t};
}

// The conductor and dielectric of the design.
inline Materials materials(const Design& d) { return Materials{d.res1, d.sr1, d.tlos}; }

}  // namespace kx
