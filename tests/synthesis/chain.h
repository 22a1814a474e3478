// Full evaluation of one cross-section for the synthesis and sensitivity
// tests: lcwta, mscuppv, ms1imp, lceff, lcdis with both modes.
#pragma once

#include "common/records.h"
#include "models/dispersion/dispersion.h"
#include "models/static/static_models.h"

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
  float effc = 0.0f;
  float effe = 0.0f;
  float effo = 0.0f;
  lcwta(x.er, x.h, x.s, x.t, x.w, r.wte, r.wto);
  mscuppv(rec, effc, effe, effo, x.er, x.t, x.h, x.h2, 2, 2, x.s, r.wte, r.wto);
  ms1imp(rec, effe, effo, x.er, x.h, x.h2, 2, r.iflag, 2, x.s, r.wte, r.wto, r.zoe, r.zoo);
  lceff(rec, effc, effe, effo, x.er, x.f, x.h, 2, 2, x.s, r.wte, r.wto);
  lcdis(rec, effo, rec.lceff1.effof, x.er, x.f, x.h, x.h2, 2, r.iflag, 2, x.s, r.wte, r.wto, r.zoe,
        r.zoo);
  r.zoef = rec.lcdis1.zoef;
  r.zoof = rec.lcdis1.zoof;
  r.effcf = rec.lceff1.effcf;
  r.effef = rec.lceff1.effef;
  r.effof = rec.lceff1.effof;
  return r;
}

}  // namespace kx::testing
