// The measured error estimate: a solution's error bounded through a more
// accurate solution of the same cross-section and that solution's own
// estimate (the triangle inequality), in place of the a-priori estimate
// from the move between two meshes where that is larger.
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "kestrelix/field.h"
#include "models/field/solve_floors.h"

namespace kx::field {
namespace {

// The relative error of the value v, given the accurate a with its own
// relative estimate e_a (of |a - true| / |true|): since |true| >= |a| (1 -
// e_a), |a - true| <= e_a |a| / (1 - e_a), and |v - true| is at most |v - a|
// plus that. Relative to the true value that is at most
// |v - a| / (|a| (1 - e_a)) + e_a, relative to v (what an error printed
// beside v means) the sum over |v|: the larger of the two bounds both. The
// a-priori estimate `prior` where that is smaller or the bound cannot be
// formed.
double bound_through(double v, double prior, double a, double e_a) {
  if (!(e_a >= 0.0 && e_a < 0.5) || !std::isfinite(a) || !std::isfinite(v) || v == 0.0 || a == 0.0)
    return prior;
  const double off = std::abs(v - a);
  const double of_true = off / (std::abs(a) * (1.0 - e_a)) + e_a;
  const double of_value = (off + e_a * std::abs(a) / (1.0 - e_a)) / std::abs(v);
  return std::min(prior, std::max(of_true, of_value));
}

// The fine setting's constant floors (f0, f1 g) are set at refinement 1;
// the slowest part they cover, a thick strip's foot corner, converges with
// order 0.8 in the first panel's length, so at twice the panel density they
// take 2^-0.8 of themselves (measured against the fine setting at eight
// times the density on 720 random sections: the estimate so scaled is
// still 2.5 times the error at the least, where the denser solution's own
// error of the same order is at most a third of that). The accurate
// solution of a fine value, at four times the density, keeps that scale.
constexpr double kFloorScale = 0.5743;  // 2^-0.8

}  // namespace

Settings measuring_settings(Accuracy accuracy) {
  Settings s;
  s.accuracy = Accuracy::fine;
  s.refinement = accuracy == Accuracy::fine ? 4.0 : 2.0;
  s.method = Method::direct;
  return s;
}

Result measured(const Geometry& g, const Result& value, Accuracy accuracy) {
  if (const std::string reason = check(g); !reason.empty()) throw std::invalid_argument(reason);
  if (thin_coated(g)) return value;  // its a-priori estimate, set for such strips
  Result a;
  try {
    a = solve_floors(g, measuring_settings(accuracy), kFloorScale);
  } catch (const std::exception&) {
    return value;  // the accurate setting needs more panels than the solver takes
  }
  Result r = value;
  r.error_zoe = bound_through(value.zoe, value.error_zoe, a.zoe, a.error_zoe);
  r.error_zoo = bound_through(value.zoo, value.error_zoo, a.zoo, a.error_zoo);
  r.error_eff_e = bound_through(value.eff_e, value.error_eff_e, a.eff_e, a.error_eff_e);
  r.error_eff_o = bound_through(value.eff_o, value.error_eff_o, a.eff_o, a.error_eff_o);
  return r;
}

}  // namespace kx::field
