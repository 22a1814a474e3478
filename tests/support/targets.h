// Targets and response options of the front door in one call, for the tests.
#pragma once

#include <kestrelix/coupled_line.h>

namespace kx::test {

inline CouplerTarget coupler_target(float zo, float coupling_db, float f) {
  CouplerTarget t;
  t.zo = zo;
  t.coupling_db = coupling_db;
  t.f = f;
  return t;
}

inline PairTarget pair_target(float zoe, float zoo, float f) {
  PairTarget t;
  t.zoe = zoe;
  t.zoo = zoo;
  t.f = f;
  return t;
}

inline ResponseOptions response_at(float f, float length, float rs, float rl,
                                   ResponseOptions o = {}) {
  o.f = f;
  o.length = length;
  o.rs = rs;
  o.rl = rl;
  return o;
}

}  // namespace kx::test
