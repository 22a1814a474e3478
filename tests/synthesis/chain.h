// Full evaluation of one cross-section for the synthesis and sensitivity
// tests: the evaluator's chain with both modes.
#pragma once

#include "common/records.h"
#include "models/coupled_line.h"

namespace kx::testing {

struct Section {
  float er{}, f{}, h{}, h2{}, s{}, t{}, w{};
};

struct Result {
  float zoe{}, zoo{};    // static
  float zoef{}, zoof{};  // at f
  float effcf{}, effef{}, effof{};
  float wte{}, wto{};
  int iflag{};
};

inline Result analyse(const Section& x) {
  Records rec;
  Result r;
  ChainValues c;
  evaluate_chain(rec, c, kx::Section{x.er, x.h, x.h2, x.w, x.s, x.t}, x.f, ModeSet::both, r.iflag);
  r.wte = c.wte;
  r.wto = c.wto;
  r.zoe = c.zoe;
  r.zoo = c.zoo;
  r.zoef = rec.lcdis1.zoef;
  r.zoof = rec.lcdis1.zoof;
  r.effcf = rec.lceff1.effcf;
  r.effef = rec.lceff1.effef;
  r.effof = rec.lceff1.effof;
  return r;
}

}  // namespace kx::testing
