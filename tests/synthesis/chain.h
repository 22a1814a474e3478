// Full evaluation of one cross-section for the synthesis and sensitivity
// tests: the evaluator's chain with both modes.
#pragma once

#include <kestrelix/coupled_line.h>

namespace kx::testing {

struct Section {
  float er{}, f{}, h{}, h2{}, s{}, t{}, w{};
};

// The evaluator's modes of the cross-section at x.f.
inline Modes analyse(const Section& x) {
  CoupledLine line{ModelSettings{Model::closed}};
  kx::Section sec;
  sec.er = x.er;
  sec.h = x.h;
  sec.h2 = x.h2;
  sec.w = x.w;
  sec.s = x.s;
  sec.t = x.t;
  return line.at(sec, x.f);
}

}  // namespace kx::testing
