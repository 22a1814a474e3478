#include "studies/wideband.h"

#include <cmath>
#include <stdexcept>

#include <kestrelix/stop.h>

namespace kx::study {
namespace {

constexpr double kMetrePerInch = 0.0254;

bool finite_positive(double v) { return std::isfinite(v) && v > 0.0; }

// Equal diagonals: the pair has even and odd modes (the test
// pair_sparameters makes).
bool symmetric_pair(const rlgc::Rlgc& p) {
  if (p.r.size() != 2) return false;
  for (const rlgc::Matrix* m : {&p.r, &p.l, &p.g, &p.c}) {
    const rlgc::Matrix& a = *m;
    const double scale = std::abs(a(0, 0)) + std::abs(a(0, 1));
    if (std::abs(a(0, 0) - a(1, 1)) > 1e-12 * scale || std::abs(a(0, 1) - a(1, 0)) > 1e-12 * scale)
      return false;
  }
  return true;
}

void require(const std::string& why) {
  if (!why.empty()) throw std::invalid_argument(why);
}

}  // namespace

std::vector<double> frequencies(double start, double stop, double step, long long max_points) {
  if (!finite_positive(start) || !finite_positive(stop) || !finite_positive(step) || stop < start)
    return {};
  const double count = std::floor((stop - start) / step + 1e-9) + 1.0;
  if (!(count <= static_cast<double>(max_points))) return {};
  std::vector<double> f;
  const long long n = static_cast<long long>(count);
  f.reserve(static_cast<std::size_t>(n));
  // Each to the millihertz, so that decimal steps land where they are meant
  // to (0.1 GHz steps on whole hertz).
  for (long long k = 0; k < n; ++k)
    f.push_back(std::round((start + static_cast<double>(k) * step) * 1e3) / 1e3);
  return f;
}

std::string check(const LinePlan& plan) {
  if (plan.statics.conductors < 1) return "the line has no static solve set";
  for (const double f : plan.f_hz)
    if (!finite_positive(f)) return "every frequency must be a positive number of hertz";
  return "";
}

std::string check(const SParameterPlan& plan) {
  if (std::string why = check(plan.line); !why.empty()) return why;
  if (!finite_positive(plan.length_m)) return "the length must be a positive number of metres";
  if (!finite_positive(plan.z_ref)) return "the reference impedance must be a positive number";
  return "";
}

void rlgc_study(const LinePlan& plan, const Sink<rlgc::Rlgc>& sink, const Stop* stop) {
  require(check(plan));
  for (const double f : plan.f_hz) {
    check_stop(stop);
    if (!sink(rlgc::rlgc_at(plan.statics, f))) return;
  }
}

void loss_study(const LinePlan& plan, const Sink<LossRow>& sink, const Stop* stop) {
  require(check(plan));
  for (const double f : plan.f_hz) {
    check_stop(stop);
    LossRow row;
    row.f_hz = f;
    row.modes = rlgc::line_modes(rlgc::rlgc_at(plan.statics, f));
    if (row.modes.size() == 2) {
      row.differential = row.modes[0].differential() ? 0 : 1;
      row.common = 1 - row.differential;
    }
    if (!sink(row)) return;
  }
}

void sparameter_study(const SParameterPlan& plan, const Sink<SParameterRow>& sink,
                      const Stop* stop) {
  require(check(plan));
  for (const double f : plan.line.f_hz) {
    check_stop(stop);
    const rlgc::Rlgc p = rlgc::rlgc_at(plan.line.statics, f);
    SParameterRow row;
    row.f_hz = f;
    row.s = symmetric_pair(p) ? rlgc::pair_sparameters(p, plan.length_m, plan.z_ref)
                              : rlgc::line_sparameters(p, plan.length_m, plan.z_ref);
    if (p.r.size() == 2) row.mixed = rlgc::mixed_mode(row.s);
    if (!sink(row)) return;
  }
}

void datasheet_dielectrics(const stack::Stack& s, double f_datasheet_hz,
                           materials::DielectricModel model, rlgc::StackMaterials& m) {
  const auto fitted = [&](double er, double loss_tangent, const std::string& what) {
    materials::DielectricData d;
    d.dk = er;
    d.df = loss_tangent;
    d.f_hz = f_datasheet_hz;
    d.model = model;
    if (const std::string why = materials::check(d); !why.empty())
      throw std::invalid_argument(what + ": " + why);
    return materials::Dielectric(d);
  };
  m.layers.clear();
  for (std::size_t i = 0; i < s.layers.size(); ++i) {
    const stack::Layer& l = s.layers[i];
    m.layers.push_back(fitted(l.er, l.loss_tangent,
                              "layers[" + std::to_string(i) + "]" +
                                  (l.name.empty() ? std::string() : " (" + l.name + ")")));
  }
  m.mask_set = s.mask.present();
  if (m.mask_set) m.mask = fitted(s.mask.er, s.mask.loss_tangent, "the mask");
}

PairFieldLosses::PairFieldLosses(const rlgc::PairMaterials& materials,
                                 const rlgc::PairOptions& options, const Coating& coat)
    : materials_(materials), options_(options), coat_(coat) {}

Attenuation PairFieldLosses::at(const Section& sec, float f_ghz) {
  field::Geometry g = field_geometry(sec, coat_);
  for (double* x : {&g.h, &g.w, &g.s, &g.t, &g.h2, &g.coat}) *x *= kMetrePerInch;
  const bool same = solved_ && g.h == geometry_.h && g.w == geometry_.w && g.s == geometry_.s &&
                    g.t == geometry_.t && g.h2 == geometry_.h2 && g.coat == geometry_.coat &&
                    g.er_coat == geometry_.er_coat;
  if (!same) {
    solved_ = false;
    statics_ = rlgc::pair_statics(g, materials_, options_);
    geometry_ = g;
    solved_ = true;
  }
  error_ = {};
  if (!(f_ghz > 0.0f)) return {};
  const rlgc::PairModes m = rlgc::pair_modes(rlgc::rlgc_at(statics_, 1e9 * double{f_ghz}));
  const auto per_inch = [](double per_m) { return static_cast<float>(per_m * kMetrePerInch); };
  error_ = {per_inch(m.alpha_c_error_e), per_inch(m.alpha_c_error_o)};
  return {per_inch(m.alpha_e), per_inch(m.alpha_o)};
}

}  // namespace kx::study
