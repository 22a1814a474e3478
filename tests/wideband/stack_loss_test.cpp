// Losses from the field on a general cross-section (kx::stack): the
// recession derivatives of coupled stripline against the exact conformal
// mapping, and the microstrip pair against the pair solver's own path.
#include <cmath>

#include <gtest/gtest.h>

#include <kestrelix/materials_file.h>
#include <kestrelix/rlgc.h>

#include "tests/support/exact.h"

namespace kx::rlgc {
namespace {

using test::derivative;
using test::Modal;

// Even/odd inductance per strip of zero-thickness coupled stripline between
// plates b apart (Cohn 1955): L = (mu0 / 4) K(k') / K(k).
Modal cohn_inductance(double w, double s, double b) {
  const Modal k = test::cohn_moduli(w, s, b);
  const auto l = [](double m) {
    return materials::mu0 / 4.0 * test::elliptic_k_prime(m) / test::elliptic_k(m);
  };
  return {l(k.e), l(k.o)};
}

TEST(StackLoss, RecessionDerivativesOfCoupledStriplineWithinTheirErrorBound) {
  // Zero-thickness strips midway between plates b apart, in millimetres.
  const double b = 0.5;
  struct Case {
    double w, s;
  };
  StackOptions options;
  options.unit_m = 1e-3;
  for (const Case& c : {Case{0.25, 0.05}, Case{0.05, 0.025}, Case{0.5, 0.1}}) {
    stack::Trace t;
    t.width = c.w;
    const LineStatics st =
        stack_statics(stack::stripline_pair(b, 1.0, t, c.s), StackMaterials{}, options);
    EXPECT_TRUE(st.thin_strip_rule);
    const double w = c.w * 1e-3, s = c.s * 1e-3, bm = b * 1e-3;
    const Modal sides = derivative(
        [&](double d) { return cohn_inductance(w - 2.0 * d, s + 2.0 * d, bm); }, 1e-4 * s);
    // One plate receding: half of both receding together, by symmetry.
    const Modal plate =
        derivative([&](double d) { return cohn_inductance(w, s, bm + d); }, 1e-4 * bm);
    ASSERT_EQ(st.surfaces.size(), 3u);
    for (const SurfaceGroup& g : st.surfaces) {
      const Modal exact = g.name == "strip sides" ? sides : plate;
      const double exact_11 = 0.5 * (exact.e + exact.o);
      const double exact_12 = 0.5 * (exact.e - exact.o);
      EXPECT_LE(std::abs(g.dl_dn(0, 0) - exact_11), g.dl_dn_error(0, 0)) << g.name << c.w;
      EXPECT_LE(std::abs(g.dl_dn(0, 1) - exact_12), g.dl_dn_error(0, 1)) << g.name << c.w;
      // ... and the bound is tight enough to be of use.
      EXPECT_LT(g.dl_dn_error(0, 0), 0.02 * std::abs(g.dl_dn(0, 0))) << g.name << c.w;
    }
  }
}

TEST(StackLoss, MicrostripPairAgreesWithThePairSolverWithinTheirBounds) {
  // The FR-4-like pair of doc/wideband.md, Huray bottoms, in both solvers.
  const materials::Dielectric fr4(materials::builtin_materials().dielectric("fr4_like")->data);
  materials::Roughness huray;
  huray.model = materials::RoughnessModel::huray;
  huray.sphere_radius = 0.5e-6;
  huray.spheres = 14;
  huray.tile_area = materials::hexagonal_tile_area(5.8e-6);
  const double h = 0.1e-3, w = 0.12e-3, s = 0.15e-3, t = 35e-6;

  field::Geometry g;
  g.h = h;
  g.w = w;
  g.s = s;
  g.t = t;
  PairMaterials pm;
  pm.substrate = fr4;
  pm.strip_bottom = huray;
  const LineStatics pair = pair_statics(g, pm);

  stack::Trace trace;
  trace.width = w;
  trace.thickness = t;
  stack::Layer sub;
  sub.thickness = h;
  sub.er = 4.3;
  StackMaterials sm;
  sm.layers = {fr4};
  sm.bottom = huray;
  const LineStatics general = stack_statics(stack::microstrip_pair(sub, trace, s), sm);

  for (const double f : {1e9, 10e9, 40e9}) {
    const PairModes a = pair_modes(rlgc_at(pair, f));
    const PairModes b = pair_modes(rlgc_at(general, f));
    EXPECT_LE(std::abs(a.alpha_c_e - b.alpha_c_e), a.alpha_c_error_e + b.alpha_c_error_e) << f;
    EXPECT_LE(std::abs(a.alpha_c_o - b.alpha_c_o), a.alpha_c_error_o + b.alpha_c_error_o) << f;
    // The dielectric's share and the permittivity within both solvers' C errors.
    const double ec = pair.error_c + general.error_c;
    EXPECT_NEAR(b.alpha_d_e / a.alpha_d_e, 1.0, 2.0 * ec) << f;
    EXPECT_NEAR(b.alpha_d_o / a.alpha_d_o, 1.0, 2.0 * ec) << f;
    EXPECT_NEAR(b.eff_e / a.eff_e, 1.0, 2.0 * ec) << f;
    EXPECT_NEAR(b.eff_o / a.eff_o, 1.0, 2.0 * ec) << f;
  }
}

TEST(StackLoss, EveryModeOfAnUnequalPairBalancesItsPower) {
  // Two traces of different widths: no even and odd modes, the eigenvectors
  // of Z Y. Each mode's conductor and dielectric shares, formed from its
  // voltages and currents, must add up to its attenuation (the telegrapher's
  // power balance), and the differential mode is the one of opposite signs.
  stack::Stack s = stack::microstrip_pair({0.1, 3.5, 0.0, ""}, {0.12, 0.035}, 0.1);
  s.conductors[1].right += 0.1;
  StackOptions options;
  options.unit_m = 1e-3;
  StackMaterials m;
  materials::DielectricData d;
  d.dk = 3.5;
  d.df = 0.004;
  d.f_hz = 10e9;
  m.layers = {materials::Dielectric(d)};
  const LineStatics st = stack_statics(s, m, options);
  for (const double f : {1e8, 10e9}) {
    const std::vector<LineMode> modes = line_modes(rlgc_at(st, f));
    ASSERT_EQ(modes.size(), 2u);
    EXPECT_NE(modes[0].differential(), modes[1].differential());
    for (const LineMode& mode : modes) {
      EXPECT_NEAR((mode.alpha_c + mode.alpha_d) / mode.alpha, 1.0, 1e-9) << f;
      EXPECT_GT(mode.alpha_c, 0.0);
      EXPECT_GT(mode.alpha_d, 0.0);
    }
    EXPECT_LT(modes[0].eff, modes[1].eff);
  }
}

}  // namespace
}  // namespace kx::rlgc
