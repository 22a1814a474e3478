// The library's front door: each analysis runs the evaluation chain
// (models/chain.h) on the evaluator's own records and hands back values.
// The field model's evaluations are in models/coupled_line_field.cpp.
// The routines underneath speak the reports' signs (coupling in negative
// dB); the conversions to the library's signs are the negations below.
#include <kestrelix/coupled_line.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <limits>

#include <kestrelix/validity.h>

#include "common/constants.h"
#include "common/fmath.h"
#include "models/chain.h"
#include "models/field_cache.h"
#include "models/limits.h"
#include "models/modes_of.h"
#include "models/selectors.h"
#include "models/static/static_models.h"
#include "network/network.h"
#include "synthesis/ms1sen.h"
#include "synthesis/synthesis.h"

namespace kx {
namespace {
// Near-D.C. frequency of the static loss column of a baseline, GHz.
constexpr float kNearDc = 0.0001f;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Zo and the coupling of a pair as sl1zo gives them (coupling in negative
// dB; none for a pair that does not couple).
Coupling sl1zo_of_pair(float zoe, float zoo) {
  Coupling c;
  float ko = 0.0f;
  sl1zo(c.cc, ko, sl1zo_coupling_from_pair, c.zo, zoe, zoo);
  c.coupling_db = c.cc > 0.0f ? -ko : kNaN;  // the library's sign
  return c;
}

bool finite(std::initializer_list<float> values) {
  for (const float v : values) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

// The validity of a synthesis of `sub` for the pair zoe, zoo at f.
void finish_validity(Synthesis& r, const Section& sub, float f) {
  Section found = sub;
  found.w = r.w;
  found.s = r.s;
  Section substrate = sub;  // W and S are what the synthesis finds
  substrate.w = substrate.s = 1.0f;
  const bool pair = r.zoe_target > 0.0f && std::isfinite(r.zoe_target) && r.zoo_target > 0.0f &&
                    r.zoo_target < r.zoe_target;
  r.flags = (r.iflag == 2   ? flag_cover
             : r.iflag != 0 ? flag_no_converge
                            : 0u) |
            (pair ? 0u : static_cast<unsigned>(flag_refused)) | refused_flags(substrate, f);
  if (r.iflag == 0) r.flags |= range_flags(found, f) | accuracy_reasons(found, f, 0);
  if (!finite({r.w, r.s, r.zoe, r.zoo, r.eff_e, r.eff_o})) r.flags |= flag_not_finite;
  r.valid = r.flags == 0;
}

// The report figures of lcfa's record.
Ports ports_of(const Lcfa1& r) {
  Ports p;
  p.mag = r.mag;
  p.ang = r.ang;
  p.vswr = r.vswr;
  p.phi = r.phi;
  p.phase_error = r.phaserr;
  p.loss = r.loss;
  p.total = r.atot;
  return p;
}

// The scattering matrix of the symmetric coupler, every port referred to
// `ref` ohms: the even- and odd-mode line sections between ref and ref, and
// the port waves as the four-port response forms them.
SMatrix s_matrix(const Modes& m, float f, float l, float ref) {
  const PortWaves w =
      coupler_waves(f, m.loss_e, m.loss_o, m.eff_e, m.eff_o, l, ref, ref, m.zoe, m.zoo);
  const auto c = [&w](std::size_t k) { return std::complex<float>(w[k][0], w[k][1]); };
  const std::complex<float> refl = c(0);   // S11: reflected
  const std::complex<float> coupl = c(1);  // S21: coupled
  const std::complex<float> isol = c(2);   // S31: isolated
  const std::complex<float> thru = c(3);   // S41: thru
  // Ports 1 and 2 at one end, 4 and 3 at the other; 1-4 and 2-3 are the
  // strips. The two planes of symmetry give every row from the first.
  return {{{refl, coupl, isol, thru},
           {coupl, refl, thru, isol},
           {isol, thru, refl, coupl},
           {thru, isol, coupl, refl}}};
}
}  // namespace

Pair pair_of(float zo, float coupling_db) {
  Pair p;
  float cc = 0.0f;
  float ko = -coupling_db;  // sl1zo takes the coupling in negative dB
  sl1zo(cc, ko, sl1zo_pair_from_coupling, zo, p.zoe, p.zoo);
  return p;
}

Coupling coupling_of(float zoe, float zoo) { return sl1zo_of_pair(zoe, zoo); }

float quarter_wave(float eff_c, float f) {
  const float denom = std::sqrt(eff_c) * (f * 4.0f);
  // At f = 0 the length is infinite: the IEEE quotient c/(+0), formed explicitly.
  if (denom == 0.0f) return std::copysign(std::numeric_limits<float>::infinity(), denom);
  return light_speed / denom;
}

void finish_validity(Modes& m, const Section& sec, float f, const ModelSettings& model) {
  // A refusal of the field solver's stays (the losses and the response
  // finish the modes of at() again).
  m.flags = (m.flags & flag_refused) | range_flags(sec, f) | model_flags(m.iflag) |
            accuracy_reasons(sec, f, m.iflag) | refused_flags(sec, f);
  if (model.model == Model::field) {
    // The coating's Er is held to the substrate's limit; the solver's own
    // estimate to what its accuracy setting promises.
    if (model.coating.thickness > 0.0f && !(model.coating.er <= limits::max_er)) {
      m.flags |= flag_er;
    }
    const float worst = std::max({m.error_zoe, m.error_zoo, m.error_eff_e, m.error_eff_o});
    if (static_cast<double>(worst) > field::promised_error(model.accuracy)) {
      m.flags |= flag_field_error;
    }
  }
  if (!finite({m.wte,         m.wto,        m.eff_c_dc,
               m.eff_e_dc,    m.eff_o_dc,   m.zoe_dc,
               m.zoo_dc,      m.zo_dc,      m.coupling_db_dc,
               m.eff_c,       m.eff_e,      m.eff_o,
               m.zoe,         m.zoo,        m.zo,
               m.coupling_db, m.cc,         m.loss_e,
               m.loss_o,      m.error_zoe,  m.error_zoo,
               m.error_eff_e, m.error_eff_o})) {
    m.flags |= flag_not_finite;
  }
  m.valid = m.flags == 0;
}

CoupledLine::CoupledLine() : CoupledLine(ModelSettings{}) {}
CoupledLine::CoupledLine(const ModelSettings& settings)
    : settings_(settings),
      chain_(std::make_unique<ChainContext>()),
      field_(std::make_unique<FieldCache>()) {}
CoupledLine::~CoupledLine() = default;
CoupledLine::CoupledLine(const CoupledLine& other) : CoupledLine(other.settings_) {}
CoupledLine& CoupledLine::operator=(const CoupledLine& other) {
  settings_ = other.settings_;
  if (!chain_) chain_ = std::make_unique<ChainContext>();  // this one was moved from
  if (!field_) field_ = std::make_unique<FieldCache>();
  return *this;
}
CoupledLine::CoupledLine(CoupledLine&& other) noexcept = default;
CoupledLine& CoupledLine::operator=(CoupledLine&& other) noexcept = default;

void read_modes(Modes& m, const ChainValues& c, const Records& rec) {
  m.wte = c.wte;
  m.wto = c.wto;
  m.eff_c_dc = c.effc;
  m.eff_e_dc = c.effe;
  m.eff_o_dc = c.effo;
  m.zoe_dc = c.zoe;
  m.zoo_dc = c.zoo;
  const Coupling dc = sl1zo_of_pair(m.zoe_dc, m.zoo_dc);
  m.zo_dc = dc.zo;
  m.coupling_db_dc = dc.coupling_db;

  m.eff_c = rec.lceff1.effcf;
  m.eff_e = rec.lceff1.effef;
  m.eff_o = rec.lceff1.effof;
  m.zoe = rec.lcdis1.zoef;
  m.zoo = rec.lcdis1.zoof;
  const Coupling at_f = sl1zo_of_pair(m.zoe, m.zoo);
  m.zo = at_f.zo;
  m.cc = at_f.cc;
  m.coupling_db = at_f.coupling_db;
}

Modes CoupledLine::at(const Section& section, float f) {
  if (!closed()) return field_at(section, f, settings_.method);
  const Section sec = closed_section(section);
  Records& rec = chain_->rec;
  Modes m;
  m.f = f;
  ChainValues c;
  evaluate_chain(rec, c, sec, f, ModeSet::both, m.iflag);
  read_modes(m, c, rec);
  finish_validity(m, sec, f, settings_);
  return m;
}

void CoupledLine::closed_records(const Section& sec, float f) {
  if (closed()) return;
  ChainValues c;
  int iflag = 0;
  evaluate_chain(chain_->rec, c, closed_section(sec), f, ModeSet::both, iflag);
}

Modes CoupledLine::at(const Section& sec, const Materials& mat, float f) {
  Modes m = at(sec, f);
  closed_records(sec, f);  // the losses read the closed forms' permittivities at f
  const Attenuation a = total_losses(chain_->rec, closed_section(sec), mat, f);
  m.loss_e = a.e;
  m.loss_o = a.o;
  finish_validity(m, sec, f, settings_);
  return m;
}

Attenuation CoupledLine::near_dc_losses(const Section& sec, const Materials& mat, float f) {
  // The permittivities at f, which the losses read: the closed forms'.
  if (closed()) {
    at(sec, f);
  } else {
    closed_records(sec, f);
  }
  return line_losses(chain_->rec, closed_section(sec), mat, kNearDc);
}

Sensitivity CoupledLine::sensitivity(const Section& section, float f, Impedance of) {
  if (!closed()) return field_sensitivity(section, f, of);
  const Section sec = closed_section(section);
  Records& rec = chain_->rec;
  Sensitivity r;
  r.f = f;
  r.of = of;
  const int ieoro = of == Impedance::zoo ? ieoro_odd : ieoro_even;
  // Cleared first: a point that fails at once leaves them as they are.
  rec.mssen1 = {};
  rec.mssen2 = {};
  ms1sen(rec, sec.er, f, sec.h, sec.h2, ieoro, r.iflag, sec.s, sec.t, sec.w);
  r.zoe = rec.lcdis1.zoef;
  r.zoo = rec.lcdis1.zoof;
  if (of == Impedance::zoo) {
    const Mssen2& z = rec.mssen2;
    r.to = {z.szooer, z.szooh, z.szooh2, z.szoos, z.szoot, z.szoow};
  } else {
    const Mssen1& z = rec.mssen1;
    r.to = {z.szoeer, z.szoeh, z.szoeh2, z.szoes, z.szoet, z.szoew};
  }
  r.flags = range_flags(sec, f) | model_flags(r.iflag) | accuracy_reasons(sec, f, r.iflag) |
            refused_flags(sec, f);
  const Sensitivities& z = r.to;
  if (!finite({r.zoe, r.zoo, z.er, z.h, z.h2, z.s, z.t, z.w})) r.flags |= flag_not_finite;
  r.valid = r.flags == 0;
  return r;
}

Synthesis CoupledLine::synthesise(const Section& sub, const CouplerTarget& target) {
  const Pair pair = pair_of(target.zo, target.coupling_db);
  PairTarget t;
  t.zoe = pair.zoe;
  t.zoo = pair.zoo;
  t.f = target.f;
  Synthesis r = synthesise_pair(sub, t);
  if (!(target.zo > 0.0f && target.coupling_db > 0.0f)) {
    r.flags |= flag_refused;  // a coupler impedance or coupling that is no coupler's
    r.valid = false;
  }
  return r;
}

Synthesis CoupledLine::synthesise_pair(const Section& section, const PairTarget& target) {
  const float zoe = target.zoe;
  const float zoo = target.zoo;
  const float f = target.f;
  if (!closed()) {
    Synthesis r = field_synthesis(section, zoe, zoo, f);
    finish_validity(r, section, f);
    return r;
  }
  const Section sub = closed_section(section);
  Records& rec = chain_->rec;
  Synthesis r;
  r.zoe_target = zoe;
  r.zoo_target = zoo;
  msws(rec, sub.er, f, sub.h, sub.h2, r.iflag, r.s, sub.t, r.w, zoe, zoo);
  r.closed_w = r.w;
  r.closed_s = r.s;
  r.zoe = rec.lcdis1.zoef;
  r.zoo = rec.lcdis1.zoof;
  r.eff_e = rec.lceff1.effef;
  r.eff_o = rec.lceff1.effof;
  finish_validity(r, section, f);
  return r;
}

Synthesis CoupledLine::refine_pair(const Section& start, const PairTarget& target) {
  Synthesis r = refine(start, target.zoe, target.zoo, target.f);
  finish_validity(r, start, target.f);
  return r;
}

Response CoupledLine::response(const Section& sec, const Materials& mat,
                               const ResponseOptions& options) {
  const float f = options.f;
  const float l = options.length;
  const float rs = options.rs;
  const float rl = options.rl;
  Records& rec = chain_->rec;
  Response r;
  // Without dispersion the modes are those at D.C.; the losses at f then
  // read the static permittivities the D.C. evaluation leaves in rec.lceff1.
  const float f_modes = options.dispersion ? f : static_frequency;
  r.modes = at(sec, f_modes);
  closed_records(sec, f_modes);
  const Section cs = closed_section(sec);
  Attenuation a = options.radiation ? total_losses(rec, cs, mat, f) : line_losses(rec, cs, mat, f);
  if (options.own_losses) {
    // The radiation is what the total adds to the line's losses.
    const Attenuation line = options.radiation ? line_losses(rec, cs, mat, f) : a;
    a = {options.losses.e + (a.e - line.e), options.losses.o + (a.o - line.o)};
  }
  r.modes.loss_e = a.e;
  r.modes.loss_o = a.o;
  rec.lcfa1.fo = f;  // lcfa evaluates at lcfa1.fo
  lcfa(rec, r.modes.loss_e, r.modes.loss_o, r.modes.eff_e, r.modes.eff_o, l, rl, rs, r.modes.zoe,
       r.modes.zoo);
  r.ports = ports_of(rec.lcfa1);
  // lcfa's figures as they are, not as its report columns hold them: no
  // level or phase where no wave leaves a port, the VSWR and the losses
  // without their column limits (lcfa's arithmetic).
  const PortWaves waves = coupler_waves(f, r.modes.loss_e, r.modes.loss_o, r.modes.eff_e,
                                        r.modes.eff_o, l, rl, rs, r.modes.zoe, r.modes.zoo);
  std::array<float, 4> port{};
  for (std::size_t p = 0; p < 4; ++p) {
    port[p] = std::sqrt(sq(waves[p][0]) + sq(waves[p][1]));
    r.ports.wave[p] = port[p] != 0.0f;
    if (!r.ports.wave[p]) r.ports.mag[p] = kNaN;
    if (waves[p][0] == 0.0f && waves[p][1] == 0.0f) r.ports.ang[p] = kNaN;
  }
  const float through = sq(port[1]) + sq(port[3]);
  r.ports.total = 10.0f * std::log10(sq(port[0]) + sq(port[2]) + through);
  r.ports.loss = 10.0f * std::log10(through);
  r.ports.vswr = (1.0f + port[0]) / (1.0f - port[0]);
  finish_validity(r.modes, sec, f, settings_);
  // A coupler of no length, or without terminations, is no coupler.
  const bool coupler = l >= 0.0f && std::isfinite(l) && rs > 0.0f && std::isfinite(rs) &&
                       rl > 0.0f && std::isfinite(rl);
  if (!coupler) {
    r.modes.flags |= flag_refused;
    r.modes.valid = false;
  }
  if (options.reference > 0.0f) r.s = s_matrix(r.modes, f, l, options.reference);
  return r;
}

float CoupledLine::quarter_wave_length(const Section& sec, float f) {
  return quarter_wave(at(sec, f).eff_c, f);
}

float CoupledLine::centre_frequency(const Section& sec, float l) {
  if (closed()) return kx::centre_frequency(chain_->rec, closed_section(sec), l);
  // The static permittivities of this model, dispersed by msfsyn's lceff.
  const Modes m = at(sec, static_frequency);
  ChainValues c;
  c.wte = m.wte;
  c.wto = m.wto;
  c.effc = m.eff_c_dc;
  c.effe = m.eff_e_dc;
  c.effo = m.eff_o_dc;
  return kx::centre_frequency(chain_->rec, c, closed_section(sec), l);
}

}  // namespace kx
