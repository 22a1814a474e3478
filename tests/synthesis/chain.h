// Full evaluation of one cross-section for the synthesis and sensitivity
// tests: the evaluator's chain with both modes.
#pragma once

#include "models/coupled_line.h"

namespace kx::testing {

struct Section {
  float er{}, f{}, h{}, h2{}, s{}, t{}, w{};
};

// The evaluator's modes of the cross-section at x.f.
inline Modes analyse(const Section& x) {
  CoupledLine line;
  return line.at(kx::Section{x.er, x.h, x.h2, x.w, x.s, x.t}, x.f);
}

}  // namespace kx::testing
