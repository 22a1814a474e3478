// The design's cross-section and materials as the evaluator takes them.
#pragma once

#include <kestrelix/section.h>

#include "shared/design.h"

namespace kx {

// The cross-section of the design with strip width w and spacing s (inch).
inline Section section(const Design& d, float w, float s) {
  Section sec;
  sec.er = d.er;
  sec.h = d.h;
  sec.h2 = d.h2;
  sec.w = w;
  sec.s = s;
  sec.t = d.t;
  return sec;
}

// The conductor and dielectric of the design.
inline Materials materials(const Design& d) {
  Materials mat;
  mat.res = d.res1;
  mat.sr = d.sr1;
  mat.tlos = d.tlos;
  return mat;
}

}  // namespace kx
