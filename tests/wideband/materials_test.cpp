// Wideband materials against their published formulas and against causality.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include <kestrelix/materials.h>

#include "models/loss/skin_effect.h"

namespace kx::materials {
namespace {

constexpr double kPi = 3.14159265358979323846;

DielectricData fr4_like() {
  DielectricData s;
  s.dk = 4.3;
  s.df = 0.02;
  s.f_hz = 1e9;
  return s;
}

// The Djordjevic-Sarkar model in its real form (Djordjevic et al. 2001):
//   eps'  = eps_inf + delta/(2 L) ln((f2^2 + f^2) / (f1^2 + f^2)),
//   eps'' = delta/L (atan(f/f1) - atan(f/f2)),  L = ln(f2/f1),
// with delta and eps_inf fitted so that eps'(f0) = Dk and eps''(f0) = Dk Df.
struct RealForm {
  double f1, f2, inf, delta;
  double real(double f) const {
    return inf +
           delta / (2.0 * std::log(f2 / f1)) * std::log((f2 * f2 + f * f) / (f1 * f1 + f * f));
  }
  double imag(double f) const {
    return delta / std::log(f2 / f1) * (std::atan(f / f1) - std::atan(f / f2));
  }
};
RealForm real_form(const DielectricData& s) {
  RealForm r{s.f_low_hz, s.f_high_hz, 0.0, 0.0};
  r.delta = s.dk * s.df * std::log(r.f2 / r.f1) /
            (std::atan(s.f_hz / r.f1) - std::atan(s.f_hz / r.f2));
  r.inf = s.dk - r.delta / (2.0 * std::log(r.f2 / r.f1)) *
                     std::log((r.f2 * r.f2 + s.f_hz * s.f_hz) / (r.f1 * r.f1 + s.f_hz * s.f_hz));
  return r;
}

TEST(DjordjevicSarkar, EqualsItsClosedFormAndMeetsTheDatasheetPair) {
  for (const DielectricData& s :
       {fr4_like(), [] {
          DielectricData p;  // a low-loss laminate given at 10 GHz, narrower poles
          p.dk = 3.38;
          p.df = 0.0027;
          p.f_hz = 10e9;
          p.f_low_hz = 1e4;
          p.f_high_hz = 1e11;
          return p;
        }()}) {
    const Dielectric d(s);
    const RealForm r = real_form(s);
    for (double f = 1e2; f <= 1e14; f *= 3.7) {
      const std::complex<double> e = d.permittivity(f);
      EXPECT_NEAR(e.real(), r.real(f), 1e-12 * r.real(f)) << f;
      EXPECT_NEAR(-e.imag(), r.imag(f), 1e-12 * r.imag(f)) << f;
    }
    EXPECT_NEAR(d.er(s.f_hz), s.dk, 1e-13 * s.dk);
    EXPECT_NEAR(d.tan_d(s.f_hz), s.df, 1e-13 * s.df);
  }
}

// eps'(f) - eps_inf = (2/pi) integral_0^inf (x eps''(x) - f eps''(f)) / (x^2 - f^2) dx
// (the subtracted term integrates to 0 and removes the pole), in u = ln x by
// 16-point Gauss-Legendre panels 0.25 wide, from 1e-6 of the lowest to 1e6
// of the highest frequency in sight.
double kramers_kronig_real(const Dielectric& d, double f) {
  static const double node[8] = {0.0950125098376374, 0.2816035507792589, 0.4580167776572274,
                                 0.6178762444026438, 0.7554044083550030, 0.8656312023878318,
                                 0.9445750230732326, 0.9894009349916499};
  static const double weight[8] = {0.1894506104550685, 0.1826034150449236, 0.1691565193950025,
                                   0.1495959888165767, 0.1246289712555339, 0.0951585116824928,
                                   0.0622535239386479, 0.0271524594117541};
  const auto loss = [&](double x) { return -d.permittivity(x).imag(); };
  const double at_f = f * loss(f);
  const double lo = std::log(1e-6 * std::min(f, d.data().f_low_hz));
  const double hi = std::log(1e6 * std::max(f, d.data().f_high_hz));
  const double width = 0.25;
  const int panels = static_cast<int>(std::ceil((hi - lo) / width));
  double sum = 0.0;
  for (int p = 0; p < panels; ++p) {
    const double mid = lo + (p + 0.5) * width;
    for (int k = 0; k < 16; ++k) {
      const double u = mid + 0.5 * width * (k < 8 ? -node[k] : node[k - 8]);
      const double x = std::exp(u);
      sum += 0.5 * width * weight[k % 8] * x * (x * loss(x) - at_f) / (x * x - f * f);
    }
  }
  return d.er_inf() + 2.0 / kPi * sum;
}

TEST(DjordjevicSarkar, RealPartIsTheKramersKronigTransformOfTheLoss) {
  const Dielectric d(fr4_like());
  double worst = 0.0;
  for (double f = 1e3; f <= 1.0001e12; f *= std::pow(10.0, 0.1))
    worst = std::max(worst, std::abs(kramers_kronig_real(d, f) / d.er(f) - 1.0));
  EXPECT_LT(worst, 1e-4);
  // The constant-tangent model is not causal: its real part is not the
  // transform of its loss (the transform of a constant eps'' diverges; over
  // the same band it misses Dk by far more than the tolerance above).
  DielectricData c = fr4_like();
  c.model = DielectricModel::constant;
  const Dielectric flat(c);
  EXPECT_GT(std::abs(kramers_kronig_real(flat, 1e9) / flat.er(1e9) - 1.0), 1e-2);
}

TEST(DjordjevicSarkar, RefusesWhatItCannotFit) {
  DielectricData s = fr4_like();
  s.df = 0.5;  // the fit would put eps(infinity) below 1
  EXPECT_NE(check(s), "");
  EXPECT_THROW(Dielectric{s}, std::invalid_argument);
  s = fr4_like();
  s.f_low_hz = s.f_high_hz;
  EXPECT_NE(check(s), "");
  EXPECT_EQ(check(fr4_like()), "");
}

TEST(Roughness, FactorsEqualTheirPublishedFormulasAndTendToOneAtLowFrequency) {
  const double rho = copper_resistivity;
  // Skin depth of copper at 1 GHz: sqrt(rho / (pi f mu0)) = 2.0898 um.
  EXPECT_NEAR(skin_depth(rho, 1e9), 2.0898e-6, 1e-10);
  EXPECT_NEAR(surface_resistance(rho, 1e9) * skin_depth(rho, 1e9), rho, 1e-22);

  Roughness hb;
  hb.model = RoughnessModel::hammerstad_bekkadal;
  hb.rq = 1.2e-6;
  Roughness gr = hb;
  gr.model = RoughnessModel::groisse;
  Roughness hu;
  hu.model = RoughnessModel::huray;
  hu.sphere_radius = 0.5e-6;
  hu.spheres = 14.0;
  hu.tile_area = hexagonal_tile_area(5.8e-6);  // the cannonball stack's hexagonal tile
  for (const Roughness& r : {hb, gr, hu}) EXPECT_EQ(check(r), "");

  for (double f = 1e6; f <= 1e11; f *= 2.3) {
    const double delta = skin_depth(rho, f);
    // Hammerstad-Bekkadal: the closed forms' 32-bit factor.
    EXPECT_NEAR(roughness_factor(hb, delta),
                kx::skin::roughness_factor(static_cast<float>(hb.rq), static_cast<float>(delta)),
                2e-6);
    // Groisse: 1 + exp(-(delta / (2 Rq))^1.6).
    EXPECT_NEAR(roughness_factor(gr, delta), 1.0 + std::exp(-std::pow(delta / (2.0 * gr.rq), 1.6)),
                1e-9);
    // Huray: A_matte/A_flat + (3/2) (N 4 pi a^2 / A_flat) / (1 + delta/a + delta^2/(2 a^2)).
    const double a = hu.sphere_radius;
    const double huray = hu.matte_ratio + 1.5 * (hu.spheres * 4.0 * kPi * a * a / hu.tile_area) /
                                              (1.0 + delta / a + delta * delta / (2.0 * a * a));
    EXPECT_NEAR(roughness_factor(hu, delta), huray, 1e-9);
  }
  // A regular hexagon of side 5.8 um: (3 sqrt(3) / 2) 5.8^2 um^2 = 87.39928 um^2.
  EXPECT_NEAR(hexagonal_tile_area(5.8e-6), 87.39928e-12, 1e-17);
  const double low = skin_depth(rho, 10.0);  // 10 Hz: 21 mm
  for (const Roughness& r : {hb, gr, hu}) EXPECT_NEAR(roughness_factor(r, low), 1.0, 1e-6);
  // Far above the roughness the two saturating models double the loss.
  const double high = skin_depth(rho, 1e13);
  EXPECT_NEAR(roughness_factor(hb, high), 2.0, 1e-3);
  EXPECT_NEAR(roughness_factor(gr, high), 2.0, 1e-3);

  // A smooth surface of a perfect conductor (no skin depth) is smooth.
  Roughness flat = hb;
  flat.rq = 0.0;
  EXPECT_EQ(roughness_factor(flat, 0.0), 1.0);
  flat.model = RoughnessModel::groisse;
  EXPECT_EQ(roughness_factor(flat, 0.0), 1.0);

  Roughness bad = hu;
  bad.tile_area = 0.0;
  EXPECT_NE(check(bad), "");
  bad = hb;
  bad.rq = -1e-6;
  EXPECT_NE(check(bad), "");
}

}  // namespace
}  // namespace kx::materials
