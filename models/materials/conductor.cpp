// Skin effect and surface roughness of a conductor surface.
//
// [HB75] E. Hammerstad, O. Bekkadal, "Microstrip Handbook", ELAB report STF44
//        A74169, University of Trondheim, 1975.
// [H10]  P. G. Huray et al., "Impact of copper surface texture on loss: a
//        model that works", DesignCon 2010; the snowball model's power ratio
//        A_matte/A_flat + (3/2) sum_i (N_i 4 pi a_i^2 / A_flat) /
//        (1 + delta/a_i + delta^2/(2 a_i^2)).
// [G96]  S. Groiss, I. Bardi, O. Biro, K. Preis, K. R. Richter, "Parameters of
//        lossy cavity resonators calculated by the finite element method",
//        IEEE Trans. Magnetics 32, no. 3, 1996: 1 + exp(-(delta/(2 Rq))^1.6).
#include <cmath>
#include <sstream>
#include <string>

#include "kestrelix/materials.h"

namespace kx::materials {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::string describe(const char* what, double v) {
  std::ostringstream out;
  out << what << " (" << v << ")";
  return out.str();
}

bool finite_non_negative(double v) { return std::isfinite(v) && v >= 0.0; }

}  // namespace

double skin_depth(double resistivity, double f_hz) {
  return std::sqrt(resistivity / (kPi * f_hz * mu0));
}

double surface_resistance(double resistivity, double f_hz) {
  return std::sqrt(kPi * f_hz * mu0 * resistivity);
}

double hexagonal_tile_area(double side) { return 1.5 * std::sqrt(3.0) * side * side; }

std::string check(const Roughness& r) {
  switch (r.model) {
    case RoughnessModel::smooth:
      return "";
    case RoughnessModel::hammerstad_bekkadal:
    case RoughnessModel::groisse:
      if (!finite_non_negative(r.rq)) return describe("the RMS roughness must be 0 or more", r.rq);
      return "";
    case RoughnessModel::huray:
      if (!std::isfinite(r.sphere_radius) || r.sphere_radius <= 0.0)
        return describe("the Huray sphere radius must be positive", r.sphere_radius);
      if (!finite_non_negative(r.spheres))
        return describe("the number of Huray spheres must be 0 or more", r.spheres);
      if (!std::isfinite(r.tile_area) || r.tile_area <= 0.0)
        return describe("the Huray tile area must be positive", r.tile_area);
      if (!std::isfinite(r.matte_ratio) || r.matte_ratio < 1.0)
        return describe("the Huray matte-to-flat area ratio must be at least 1", r.matte_ratio);
      return "";
  }
  return "unknown roughness model";
}

double roughness_factor(const Roughness& r, double delta) {
  switch (r.model) {
    case RoughnessModel::smooth:
      return 1.0;
    case RoughnessModel::hammerstad_bekkadal: {
      // [HB75]
      if (r.rq == 0.0) return 1.0;
      const double ratio = r.rq / delta;
      return 1.0 + (2.0 / kPi) * std::atan(1.4 * ratio * ratio);
    }
    case RoughnessModel::huray: {
      // [H10]: each sphere absorbs as its cross-section 3/2 (4 pi a^2) over
      // 1 + delta/a + delta^2/(2 a^2) relative to a flat patch of its area.
      const double a = r.sphere_radius;
      const double sphere_area = r.spheres * 4.0 * kPi * a * a / r.tile_area;
      const double x = delta / a;
      return r.matte_ratio + 1.5 * sphere_area / (1.0 + x + 0.5 * x * x);
    }
    case RoughnessModel::groisse: {
      // [G96]
      if (r.rq == 0.0) return 1.0;
      return 1.0 + std::exp(-std::pow(delta / (2.0 * r.rq), 1.6));
    }
  }
  return 1.0;
}

}  // namespace kx::materials
