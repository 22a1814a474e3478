#include "models/chain.h"

#include <cmath>

#include "common/constants.h"
#include "common/fmath.h"
#include "models/dispersion/dispersion.h"
#include "models/dispersion/msfsyn.h"
#include "models/limits.h"
#include "models/loss/loss.h"
#include "models/selectors.h"
#include "models/static/static_models.h"

namespace kx {
namespace {
// The (ieoro, iop) pair of the routines for a set of modes.
struct Selectors {
  int ieoro;
  int iop;
};
Selectors selectors(ModeSet modes) {
  switch (modes) {
    case ModeSet::even:
      return {ieoro_even, iop_single_mode};
    case ModeSet::odd:
      return {ieoro_odd, iop_single_mode};
    case ModeSet::both:
      break;
  }
  return {ieoro_both, iop_both_modes};
}

// lceff then lcdis on the static values in c.
void disperse(Records& rec, const ChainValues& c, const Section& sec, float f, Selectors m,
              int& iflag) {
  lceff(rec, c.effc, c.effe, c.effo, sec.er, f, sec.h, m.ieoro, m.iop, sec.s, c.wte, c.wto);
  lcdis(rec, c.effo, rec.lceff1.effof, sec.er, f, sec.h, sec.h2, m.ieoro, iflag, m.iop, sec.s,
        c.wte, c.wto, c.zoe, c.zoo);
}
}  // namespace

Section closed_section(const Section& sec) {
  Section c = sec;
  if (std::isinf(sec.h2) && sec.h2 > 0.0f) c.h2 = limits::no_cover_h2h * sec.h;
  return c;
}

void evaluate_chain(Records& rec, ChainValues& last, const Section& sec, float f, ModeSet modes,
                    int& iflag, Widths widths) {
  const Selectors m = selectors(modes);
  ChainValues& c = last;
  if (widths == Widths::compute) lcwta(sec.er, sec.h, sec.s, sec.t, sec.w, c.wte, c.wto);
  mscuppv(rec, c.effc, c.effe, c.effo, sec.er, sec.t, sec.h, sec.h2, m.ieoro, m.iop, sec.s, c.wte,
          c.wto);
  ms1imp(rec, c.effe, c.effo, sec.er, sec.h, sec.h2, m.ieoro, iflag, m.iop, sec.s, c.wte, c.wto,
         c.zoe, c.zoo);
  disperse(rec, c, sec, f, m, iflag);
}

void disperse_statics(Records& rec, ChainValues& statics, const Section& sec, float f, int& iflag) {
  lcwta(sec.er, sec.h, sec.s, sec.t, sec.w, statics.wte, statics.wto);
  disperse(rec, statics, sec, f, selectors(ModeSet::both), iflag);
}

Attenuation line_losses(Records& rec, const Section& sec, const Materials& mat, float f) {
  const float res = mat.res * 1e-6f / cm_per_inch;  // micro-ohm-cm to ohm-inch
  const float sr = mat.sr * 1e-6f;                  // micro-inch to inch
  Attenuation a;
  ms1los(rec, a.e, a.o, sec.er, f, sec.h, sec.h2, res, sec.s, sr, sec.t, mat.tlos, sec.w);
  return a;
}

Attenuation total_losses(Records& rec, const Section& sec, const Materials& mat, float f) {
  Attenuation a = line_losses(rec, sec, mat, f);
  const float ar = radiation_loss(rec.lceff1.effef, sec.h, f);
  a.e = a.e + ar * 0.5f;
  a.o = a.o + ar * 0.5f;
  return a;
}

float centre_frequency(Records& rec, const Section& sec, float l) {
  ChainValues c;
  lcwta(sec.er, sec.h, sec.s, sec.t, sec.w, c.wte, c.wto);
  mscuppv(rec, c.effc, c.effe, c.effo, sec.er, sec.t, sec.h, sec.h2, ieoro_both, iop_both_modes,
          sec.s, c.wte, c.wto);
  return centre_frequency(rec, c, sec, l);
}

float centre_frequency(Records& rec, const ChainValues& statics, const Section& sec, float l) {
  const ChainValues& c = statics;
  float f = static_frequency;
  msfsyn(rec, c.effc, c.effe, c.effo, sec.er, f, sec.h, l, sec.s, c.wte, c.wto);
  return f;
}

float radiation_loss(float effef, float h, float f) {
  const float q = std::sqrt(effef);
  // At effef = 1 the factor is 0 * ln(2/0); its limit is 1.
  const float feff = effef == 1.0f
                         ? 1.0f
                         : 1.0f - ((effef - 1.0f) / (2.0f * q)) * std::log((q + 1.0f) / (q - 1.0f));
  float ar = sq(2.0f * pi * h * f / light_speed);
  ar = ar * 60.0f * feff * neper_per_db;
  return 2.0f * ar;
}

}  // namespace kx
