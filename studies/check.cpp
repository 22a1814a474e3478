// The closed forms against the field model: one point with every figure and
// a verdict, a map over S and T, and the deviations of closed-form rows.
#include <kestrelix/check.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include <kestrelix/stop.h>
#include <kestrelix/validity.h>

namespace kx::study {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

float pct(float closed, float field) { return 100.0f * (closed - field) / field; }

// The field model of `settings`; with `measured`, its error estimates
// measured against a more accurate solution (ModelSettings::measured_error).
ModelSettings field_model(const ModelSettings& settings, bool measured) {
  ModelSettings s = settings;
  s.model = Model::field;
  s.ratios = {};
  s.measured_error = measured;
  return s;
}

// The solver's error estimate of Zo and of the coupling (dB) from those of
// Zoe and Zoo (relative): Zo = sqrt(Zoe Zoo) moves by half their sum, the
// coupling 20 log10((Zoe + Zoo)/(Zoe - Zoo)) by at most
// 20/ln 10 (Zoe ee + Zoo eo)(1/(Zoe - Zoo) + 1/(Zoe + Zoo)).
float zo_error(const Modes& m) { return 0.5f * (m.error_zoe + m.error_zoo) * m.zo; }
float coupling_error(const Modes& m) {
  const float spread = m.zoe * m.error_zoe + m.zoo * m.error_zoo;
  return 8.685889f * spread * (1.0f / (m.zoe - m.zoo) + 1.0f / (m.zoe + m.zoo));
}

Compared compared(float closed, float field, float error) {
  return {closed, field, closed - field, pct(closed, field), error};
}

Verdict verdict_of(const Check& c) {
  Verdict v;
  if (!finite_figures(c.field)) {
    v.kind = Verdict::Kind::field_not_finite;
    return v;
  }
  if (!finite_figures(c.closed)) {
    v.kind = Verdict::Kind::closed_not_finite;
    return v;
  }
  if (c.closed.iflag != 0) {
    v.kind = Verdict::Kind::closed_invalid;
    return v;
  }
  const auto worse = [&c](CheckFigure a, CheckFigure b) {
    const float da = c.figures[a].difference_pct;
    const float db = c.figures[b].difference_pct;
    return std::fabs(db) > std::fabs(da) ? b : a;
  };
  v.impedance = worse(fig_zoe, fig_zoo);
  v.impedance_pct = c.figures[v.impedance].difference_pct;
  v.permittivity = worse(fig_eff_e, fig_eff_o);
  v.permittivity_pct = c.figures[v.permittivity].difference_pct;
  v.worst_pct = std::max(std::fabs(v.impedance_pct), std::fabs(v.permittivity_pct));
  const bool z_off = std::fabs(v.impedance_pct) > closed_form_off_pct;
  const bool e_off = std::fabs(v.permittivity_pct) > closed_form_off_pct;
  v.kind = z_off && e_off ? Verdict::Kind::both_off
           : z_off        ? Verdict::Kind::impedance_off
           : e_off        ? Verdict::Kind::permittivity_off
                          : Verdict::Kind::within;
  return v;
}

// The closed forms are off where they give no valid, finite figures, or
// where Zoe or Zoo is more than closed_form_off_pct from the field's (not
// known without the field's figures).
bool off(const Modes& c, const Modes& m) {
  if (c.iflag != 0 || !finite_figures(c)) return true;
  return finite_figures(m) && (std::fabs(pct(c.zoe, m.zoe)) > closed_form_off_pct ||
                               std::fabs(pct(c.zoo, m.zoo)) > closed_form_off_pct);
}

// The codes of a point compared: its ranges, the closed forms' flag,
// not_finite where either model gives no figures, closed_form_off, and the
// field model's own codes.
unsigned flags_of(const Section& sec, float f, const Modes& closed, const Modes& field) {
  const bool values = finite_figures(closed) && finite_figures(field);
  return range_flags(sec, f) | model_flags(closed.iflag) |
         (values ? 0u : static_cast<unsigned>(flag_not_finite)) |
         (off(closed, field) ? static_cast<unsigned>(flag_closed_form_off) : 0u) |
         (field.flags & (flag_er | flag_field_error));
}

}  // namespace

bool finite_figures(const Modes& m) {
  const bool coupled = m.zoo < m.zoe;
  return std::isfinite(m.zoe) && std::isfinite(m.zoo) && std::isfinite(m.zo) &&
         std::isfinite(m.eff_e) && std::isfinite(m.eff_o) &&
         (!coupled || std::isfinite(m.coupling_db));
}

Deviations deviations(const Modes& closed, const Modes& field) {
  Deviations d;
  if (!finite_figures(closed) || !finite_figures(field)) {
    d.zoe_pct = d.zoo_pct = d.zo_pct = d.coupling_db = d.eff_e_pct = d.eff_o_pct = kNaN;
    return d;
  }
  d.zoe_pct = pct(closed.zoe, field.zoe);
  d.zoo_pct = pct(closed.zoo, field.zoo);
  d.zo_pct = pct(closed.zo, field.zo);
  d.coupling_db = closed.coupling_db - field.coupling_db;
  d.eff_e_pct = pct(closed.eff_e, field.eff_e);
  d.eff_o_pct = pct(closed.eff_o, field.eff_o);
  const auto beyond = [](float v) {
    return std::isfinite(v) && std::fabs(v) > closed_form_off_pct;
  };
  d.closed_form_off = beyond(d.zoe_pct) || beyond(d.zoo_pct);
  return d;
}

FieldCheck::FieldCheck(const ModelSettings& settings)
    : field_(field_model(settings, settings.measured_error)) {}

Deviations FieldCheck::operator()(const Modes& closed, const Section& sec, float f) {
  return deviations(closed, field_.at(sec, f));
}

Check check(const Section& sec, float f, const ModelSettings& field) {
  CoupledLine closed(ModelSettings{Model::closed});
  CoupledLine solver(field_model(field, true));
  Check c;
  c.closed = closed.at(sec, f);
  c.field = solver.at(sec, f);
  const Modes& k = c.closed;
  const Modes& m = c.field;
  c.figures[fig_zoe] = compared(k.zoe, m.zoe, m.error_zoe * m.zoe);
  c.figures[fig_zoo] = compared(k.zoo, m.zoo, m.error_zoo * m.zoo);
  c.figures[fig_zo] = compared(k.zo, m.zo, zo_error(m));
  c.figures[fig_coupling_db] = compared(k.coupling_db, m.coupling_db, coupling_error(m));
  c.figures[fig_eff_e] = compared(k.eff_e, m.eff_e, m.error_eff_e * m.eff_e);
  c.figures[fig_eff_o] = compared(k.eff_o, m.eff_o, m.error_eff_o * m.eff_o);
  // A model that gives one figure that is not a number gives none.
  const bool closed_values = finite_figures(k);
  const bool field_values = finite_figures(m);
  for (Compared& x : c.figures) {
    if (!closed_values) x.closed = kNaN;
    if (!field_values) x.field = x.error = kNaN;
    if (!closed_values || !field_values) x.difference = x.difference_pct = kNaN;
  }
  c.closed_form_off = off(k, m);
  c.flags = flags_of(sec, f, k, m);
  c.verdict = verdict_of(c);
  return c;
}

void check_map(const MapPlan& plan, const Sink<MapRow>& sink, const Stop* stop) {
  CoupledLine closed(ModelSettings{Model::closed});
  CoupledLine solver(field_model(plan.field, plan.field.measured_error));
  const long long ns = plan.s ? points(*plan.s) : 1;
  const long long nt = plan.t ? points(*plan.t) : 1;
  for (long long j = 0; j < nt; ++j) {
    for (long long i = 0; i < ns; ++i) {
      check_stop(stop);
      MapRow row;
      row.t_index = j;
      row.section = plan.section;
      if (plan.s) row.section.s = point(*plan.s, i);
      if (plan.t) row.section.t = point(*plan.t, j);
      row.closed = closed.at(row.section, plan.f);
      row.field = solver.at(row.section, plan.f);
      row.deviations = deviations(row.closed, row.field);
      const Modes& m = row.field;
      row.field_error = std::max({m.error_zoe, m.error_zoo, m.error_eff_e, m.error_eff_o});
      row.flags = flags_of(row.section, plan.f, row.closed, row.field);
      if (!sink(row)) return;
    }
  }
}

}  // namespace kx::study
