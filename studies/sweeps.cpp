#include "studies/sweeps.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include <kestrelix/stop.h>
#include <kestrelix/validity.h>

namespace kx::study {

void impedance_sweep(CoupledLine& line, const ImpedancePlan& plan, const Sink<ImpedanceRow>& sink,
                     const Stop* stop) {
  const long long n = plan.swept == Swept::none ? 1 : points(plan.range);
  for (long long k = 0; k < n; ++k) {
    check_stop(stop);
    ImpedanceRow row;
    row.section = plan.section;
    if (plan.swept == Swept::w) row.section.w = point(plan.range, k);
    if (plan.swept == Swept::s) row.section.s = point(plan.range, k);
    row.modes = line.at(row.section, plan.materials, plan.f);
    row.flags = row.modes.flags;
    if (!sink(row)) return;
  }
}

namespace {

// A model of `section` with W (w) or S swept from `first` to `last` (the
// floats of the sweep's points); nothing where the tables reach both ends
// or the solver refuses one.
std::shared_ptr<const field::SweepModel> model_of(const ModelSettings& model, Section section,
                                                  bool w, float first, float last) {
  const field::Quantity q = w ? field::Quantity::w : field::Quantity::s;
  float Section::*const x = w ? &Section::w : &Section::s;
  section.*x = first;
  const field::Geometry a = field_geometry(section, model.coating);
  section.*x = last;
  const field::Geometry b = field_geometry(section, model.coating);
  // The tables reach every point between two ends they reach.
  if (model.accuracy == field::Accuracy::standard && field::fast_covers(a) &&
      field::fast_covers(b)) {
    return nullptr;
  }
  const double lo = w ? a.w : a.s;
  const double hi = w ? b.w : b.s;
  if (!(lo < hi)) return nullptr;
  field::SweepOptions options;
  options.settings.accuracy = model.accuracy;
  try {
    return std::make_shared<const field::SweepModel>(a, q, lo, hi, options);
  } catch (const std::exception&) {
    return nullptr;  // an end the solver refuses: every point solved (or refused) alone
  }
}

bool sweeps_field(const ModelSettings& model) {
  return model.model == Model::field && model.method == field::Method::fast;
}

}  // namespace

std::shared_ptr<const field::SweepModel> sweep_model(const ModelSettings& model,
                                                     const ImpedancePlan& plan) {
  if (!sweeps_field(model) || plan.swept == Swept::none) return nullptr;
  const long long n = points(plan.range);
  if (n < sweep_model_points) return nullptr;
  return model_of(model, plan.section, plan.swept == Swept::w, point(plan.range, 0),
                  point(plan.range, n - 1));
}

std::vector<std::shared_ptr<const field::SweepModel>> sensitivity_models(
    const ModelSettings& model, const SensitivityPlan& plan) {
  std::vector<std::shared_ptr<const field::SweepModel>> models;
  if (!sweeps_field(model) || plan.swept == SensitivitySwept::f) return models;
  const long long n = points(plan.range);
  if (n < sweep_model_points) return models;
  const bool w = plan.swept == SensitivitySwept::w;
  const float first = point(plan.range, 0);
  const float last = point(plan.range, n - 1);
  // The section itself, through the last point raised by the step (the
  // swept quantity's own difference) ...
  const float step = 1.0f + field_sensitivity_step;
  auto base = model_of(model, plan.section, w, first, last * step);
  if (!base) return models;
  models.push_back(std::move(base));
  // ... and with each other quantity raised, as CoupledLine::sensitivity
  // raises it (the floats of x (1 + step)).
  float Section::*const others[] = {&Section::er, &Section::h, &Section::h2, &Section::t,
                                    w ? &Section::s : &Section::w};
  for (float Section::*q : others) {
    const float v = plan.section.*q;
    if (!(std::isfinite(v) && v > 0.0f)) continue;  // T = 0, an open cover: no step
    Section raised = plan.section;
    raised.*q = v * step;
    if (auto m = model_of(model, raised, w, first, last)) models.push_back(std::move(m));
  }
  return models;
}

void dispersion_sweep(CoupledLine& line, const DispersionPlan& plan,
                      const Sink<DispersionRow>& sink, const Stop* stop) {
  DispersionRow dc;
  dc.statics = true;
  dc.modes = line.at(plan.section, 0.0f);
  dc.quarter_wave = quarter_wave(dc.modes.eff_c, 0.0f);
  dc.flags = dc.modes.flags;
  if (!sink(dc)) return;
  const long long n = points(plan.f);
  for (long long k = 0; k < n; ++k) {
    check_stop(stop);
    DispersionRow row;
    row.f = point(plan.f, k);
    row.modes = line.at(plan.section, plan.materials, row.f);
    row.quarter_wave = quarter_wave(row.modes.eff_c, row.f);
    row.flags = row.modes.flags;
    if (!sink(row)) return;
  }
}

Coupler coupler_of(CoupledLine& line, const Section& section, const Coupler& given) {
  Coupler c = given;
  if (c.centre == 0.0f) c.centre = line.centre_frequency(section, c.length);
  if (c.length == 0.0f) c.length = line.quarter_wave_length(section, c.centre);
  return c;
}

Baseline baseline(CoupledLine& line, const Section& section, const Materials& materials,
                  float centre) {
  Baseline b;
  b.modes = line.at(section, materials, centre);
  b.near_dc = line.near_dc_losses(section, materials, centre);
  b.flags = b.modes.flags;
  return b;
}

void four_port_sweep(CoupledLine& line, const FourPortPlan& plan, const Sink<FourPortRow>& sink,
                     const Stop* stop, const LossesAt& losses) {
  const long long n = points(plan.f);
  for (long long k = 0; k < n; ++k) {
    check_stop(stop);
    FourPortRow row;
    row.f = point(plan.f, k);
    ResponseOptions o = plan.options;
    o.f = row.f;
    o.length = plan.length;
    o.rs = plan.rs;
    o.rl = plan.rl;
    if (losses) {
      o.own_losses = true;
      o.losses = losses(row.f);
    }
    row.response = line.response(plan.section, plan.materials, o);
    row.flags = row.response.modes.flags;
    if (!sink(row)) return;
  }
}

int SensitivityRow::iflag() const {
  if (zoe && zoe->iflag != 0) return zoe->iflag;
  return zoo ? zoo->iflag : 0;
}

void sensitivity_sweep(CoupledLine& line, const SensitivityPlan& plan,
                       const Sink<SensitivityRow>& sink, const Stop* stop) {
  const bool field = line.settings().model == Model::field;
  const long long n = points(plan.range);
  for (long long k = 0; k < n; ++k) {
    check_stop(stop);
    SensitivityRow row;
    row.x = point(plan.range, k);
    row.section = plan.section;
    row.f = plan.f;
    if (plan.swept == SensitivitySwept::f) row.f = row.x;
    if (plan.swept == SensitivitySwept::w) row.section.w = row.x;
    if (plan.swept == SensitivitySwept::s) row.section.s = row.x;
    // One evaluation per impedance: Zoe perturbs the even mode, Zoo the odd.
    if (plan.zoe) row.zoe = line.sensitivity(row.section, row.f, Impedance::zoe);
    if (plan.zoo && row.iflag() == 0)
      row.zoo = line.sensitivity(row.section, row.f, Impedance::zoo);
    if (field && row.iflag() == 0) {
      const Modes m = line.at(row.section, row.f);  // the point is kept: no new solution
      row.field_error = std::max({m.error_zoe, m.error_zoo, m.error_eff_e, m.error_eff_o});
      row.flags |= m.flags & (flag_er | flag_field_error);
    }
    row.flags |= (row.zoe ? row.zoe->flags : 0u) | (row.zoo ? row.zoo->flags : 0u);
    if (!sink(row)) return;
  }
}

}  // namespace kx::study
