#include "models/coupled_line.h"

#include "models/chain.h"
#include "models/loss/ms1sen.h"
#include "models/selectors.h"
#include "models/static/static_models.h"
#include "network/network.h"
#include "synthesis/synthesis.h"

namespace kx {

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
