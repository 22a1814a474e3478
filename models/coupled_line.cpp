#include "models/coupled_line.h"

#include <cmath>
#include <limits>

#include "common/constants.h"
#include "common/fmath.h"
#include "models/dispersion/dispersion.h"
#include "models/limits.h"
#include "models/loss/loss.h"
#include "models/static/static_models.h"
#include "network/network.h"
#include "synthesis/synthesis.h"

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
}  // namespace

void evaluate_chain(Records& rec, ChainValues& c, const Section& sec, float f, ModeSet modes,
                    int& iflag, Widths widths) {
  const Selectors m = selectors(modes);
  if (widths == Widths::compute) lcwta(sec.er, sec.h, sec.s, sec.t, sec.w, c.wte, c.wto);
  mscuppv(rec, c.effc, c.effe, c.effo, sec.er, sec.t, sec.h, sec.h2, m.ieoro, m.iop, sec.s, c.wte,
          c.wto);
  ms1imp(rec, c.effe, c.effo, sec.er, sec.h, sec.h2, m.ieoro, iflag, m.iop, sec.s, c.wte, c.wto,
         c.zoe, c.zoo);
  lceff(rec, c.effc, c.effe, c.effo, sec.er, f, sec.h, m.ieoro, m.iop, sec.s, c.wte, c.wto);
  lcdis(rec, c.effo, rec.lceff1.effof, sec.er, f, sec.h, sec.h2, m.ieoro, iflag, m.iop, sec.s,
        c.wte, c.wto, c.zoe, c.zoo);
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
  float f = static_frequency;
  msfsyn(rec, c.effc, c.effe, c.effo, sec.er, f, sec.h, l, sec.s, c.wte, c.wto);
  return f;
}

float quarter_wave(float effcf, float f) {
  const float denom = std::sqrt(effcf) * (f * 4.0f);
  // At f = 0 the length is infinite: the IEEE quotient c/(+0), formed explicitly.
  if (denom == 0.0f) return std::copysign(std::numeric_limits<float>::infinity(), denom);
  return light_speed / denom;
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

unsigned accuracy_reasons(const Section& sec, float f, int iflag) {
  const float fnorm = f * sec.h * mm_per_inch;
  const float g = sec.s / sec.h;
  const float u = sec.w / sec.h;
  unsigned r = 0;
  // A value that is not a number crosses its limit too.
  if (!(fnorm <= limits::max_fh)) r |= reason_fh;
  if (!(sec.er <= limits::max_er)) r |= reason_er;
  if (iflag == 2) r |= reason_cover;
  if (!(u <= limits::max_wh)) r |= reason_wh;
  if (!(sec.w > limits::min_w)) r |= reason_w;
  if (!(g <= limits::max_sh)) r |= reason_sh;
  if (!(sec.s > limits::min_s)) r |= reason_s;
  return r;
}

Modes CoupledLine::at(const Section& sec, float f) {
  Modes m;
  m.f = f;
  ChainValues c;
  evaluate_chain(rec_, c, sec, f, ModeSet::both, m.iflag);
  m.wte = c.wte;
  m.wto = c.wto;
  m.eff_c_dc = c.effc;
  m.eff_e_dc = c.effe;
  m.eff_o_dc = c.effo;
  m.zoe_dc = c.zoe;
  m.zoo_dc = c.zoo;
  const Records& rec = rec_;

  float cc = 0.0f;
  sl1zo(cc, m.coupling_db_dc, sl1zo_coupling_from_pair, m.zo_dc, m.zoe_dc, m.zoo_dc);
  m.eff_c = rec.lceff1.effcf;
  m.eff_e = rec.lceff1.effef;
  m.eff_o = rec.lceff1.effof;
  m.zoe = rec.lcdis1.zoef;
  m.zoo = rec.lcdis1.zoof;
  sl1zo(m.cc, m.coupling_db, sl1zo_coupling_from_pair, m.zo, m.zoe, m.zoo);

  m.valid = m.iflag == 0;
  if (!m.valid) m.reasons = accuracy_reasons(sec, f, m.iflag);
  return m;
}

Modes CoupledLine::at(const Section& sec, const Materials& mat, float f) {
  Modes m = at(sec, f);
  const Attenuation a = total_losses(rec_, sec, mat, f);
  m.loss_e = a.e;
  m.loss_o = a.o;
  return m;
}

Synthesis CoupledLine::synthesise(const Section& sub, float zo, float coupling_db, float f) {
  float cc = 0.0f;
  float ko = coupling_db;
  float zoe = 0.0f;
  float zoo = 0.0f;
  sl1zo(cc, ko, sl1zo_pair_from_coupling, zo, zoe, zoo);  // target pair from Zo and the level
  return synthesise_pair(sub, zoe, zoo, f);
}

Synthesis CoupledLine::synthesise_pair(const Section& sub, float zoe, float zoo, float f) {
  Synthesis r;
  r.zoe_target = zoe;
  r.zoo_target = zoo;
  msws(rec_, sub.er, f, sub.h, sub.h2, r.iflag, r.s, sub.t, r.w, zoe, zoo);
  r.zoe = rec_.lcdis1.zoef;
  r.zoo = rec_.lcdis1.zoof;
  r.eff_e = rec_.lceff1.effef;
  r.eff_o = rec_.lceff1.effof;
  r.valid = r.iflag == 0;
  if (!r.valid) {
    Section sec = sub;
    sec.w = r.w;
    sec.s = r.s;
    r.reasons = accuracy_reasons(sec, f, r.iflag);
  }
  return r;
}

Response CoupledLine::response(const Section& sec, const Materials& mat, float f, float l, float rs,
                               float rl) {
  Response r;
  r.modes = at(sec, mat, f);
  rec_.lcfa1.fo = f;  // lcfa evaluates at lcfa1.fo
  lcfa(rec_, r.modes.loss_e, r.modes.loss_o, r.modes.eff_e, r.modes.eff_o, l, rl, rs, r.modes.zoe,
       r.modes.zoo);
  r.ports = rec_.lcfa1;
  return r;
}

float CoupledLine::quarter_wave_length(const Section& sec, float f) {
  return quarter_wave(at(sec, f).eff_c, f);
}

float CoupledLine::centre_frequency(const Section& sec, float l) {
  return kx::centre_frequency(rec_, sec, l);
}

}  // namespace kx
