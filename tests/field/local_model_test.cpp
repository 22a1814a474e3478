// The sweep and local models against direct solutions at points they were
// not built from: a gap sweep across the point where a solder mask closes
// the gap, a strip thickness swept from zero, and a tolerance box of five
// quantities under a mask; and what they refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "kestrelix/field_local.h"

namespace kx::field {
namespace {

// A thin mask (C/H 0.03) on 35 um strips over Er 4.4.
Geometry masked_pair() {
  Geometry g;
  g.er = 4.4;
  g.h = 1.0;
  g.w = 1.0;
  g.s = 0.3;
  g.t = 0.035;
  g.coat = 0.03;
  g.er_coat = 3.5;
  return g;
}

// The largest relative deviation of Zoe, Zoo, eff_e, eff_o, and whether
// the model's estimates cover them.
double deviation(const Result& model, const Result& direct, bool& covered) {
  const double d[4] = {std::abs(model.zoe / direct.zoe - 1.0),
                       std::abs(model.zoo / direct.zoo - 1.0),
                       std::abs(model.eff_e / direct.eff_e - 1.0),
                       std::abs(model.eff_o / direct.eff_o - 1.0)};
  covered = d[0] <= model.error_zoe && d[1] <= model.error_zoo && d[2] <= model.error_eff_e &&
            d[3] <= model.error_eff_o;
  return *std::max_element(d, d + 4);
}

// S from 0.02 H to 2 H under a mask 0.03 H thick: the gap fills below
// S = 0.06 H, where the capacitances have a kink. Split there, the sweep
// holds with a few dozen solutions, also right beside the kink.
TEST(SweepModel, GapSweepAcrossTheClosingGapAgreesWithDirectSolutions) {
  const Geometry g = masked_pair();
  const SweepModel m(g, Quantity::s, 0.02, 2.0);
  EXPECT_TRUE(m.holds());
  EXPECT_GE(m.pieces(), 2u);
  EXPECT_LE(m.solutions(), 60);
  for (double s : {0.021, 0.0437, 0.0599, 0.0601, 0.083, 0.41, 1.37, 1.99}) {
    Geometry h = g;
    h.s = s;
    bool covered = false;
    EXPECT_LT(deviation(m.at(s), solve(h), covered), 5e-4) << s;
    EXPECT_TRUE(covered) << s;
  }
  EXPECT_THROW(m.at(2.5), std::out_of_range);
}

// T from 0 to 0.1 H (bare strips under a cover): the zero thickness is the
// direct solution at 0, the thinnest strips the solver takes onward are
// swept, nothing between.
TEST(SweepModel, StripThicknessFromZero) {
  Geometry g = masked_pair();
  g.coat = 0.0;
  g.h2 = 2.0;
  const SweepModel m(g, Quantity::t, 0.0, 0.1);
  EXPECT_TRUE(m.holds());
  Geometry flat = g;
  flat.t = 0.0;
  bool covered = false;
  EXPECT_LT(deviation(m.at(0.0), solve(flat), covered), 1e-12);
  for (double t : {1.3e-4, 0.0021, 0.017, 0.063}) {
    Geometry h = g;
    h.t = t;
    EXPECT_LT(deviation(m.at(t), solve(h), covered), 5e-4) << t;
  }
  EXPECT_THROW(m.at(5e-5), std::out_of_range);
  EXPECT_THROW(SweepModel(g, Quantity::w, 2.0, 1.0), std::invalid_argument);
}

// A tolerance run's box under the mask: W, S, H, Er and the mask's
// thickness about their nominal values.
TEST(LocalModel, ToleranceBoxAgreesWithDirectSolutions) {
  const Geometry g = masked_pair();
  Spread sp;
  sp.w = 0.05;
  sp.s = 0.03;
  sp.h = 0.05;
  sp.er = 0.2;
  sp.coat = 0.006;
  const LocalModel m(g, sp);
  ASSERT_TRUE(m.holds());
  EXPECT_LE(m.solutions(), 1 + 3 * 5 + 10 + 12);
  EXPECT_LT(m.deviation(), 1e-3);
  const double corners[][5] = {{1, 1, 1, 1, 1},
                               {-1, -1, -1, -1, -1},
                               {0.7, -0.9, 0.2, -0.4, 0.8},
                               {-0.3, 0.5, -1, 0.9, -0.6},
                               {0.1, 0.1, 0.9, -0.8, 0.0}};
  for (const auto& u : corners) {
    Geometry h = g;
    h.w += u[0] * sp.w;
    h.s += u[1] * sp.s;
    h.h += u[2] * sp.h;
    h.er += u[3] * sp.er;
    h.coat += u[4] * sp.coat;
    ASSERT_TRUE(m.covers(h));
    bool covered = false;
    EXPECT_LT(deviation(m.at(h), solve(h), covered), 1e-3);
    EXPECT_TRUE(covered);
  }
  Geometry outside = g;
  outside.w += 1.5 * sp.w;
  EXPECT_FALSE(m.covers(outside));
  EXPECT_THROW(m.at(outside), std::domain_error);
  Geometry other = g;
  other.t = 0.02;  // a quantity the box holds fixed
  EXPECT_FALSE(m.covers(other));
  EXPECT_THROW(LocalModel(g, Spread{}), std::invalid_argument);
}

// Where the box reaches across S = 2 C no quadratic follows the kink: the
// model does not hold and serves nothing.
TEST(LocalModel, RefusesABoxAcrossTheClosingGap) {
  Geometry g = masked_pair();
  g.s = 0.062;
  Spread sp;
  sp.s = 0.01;
  sp.w = 0.02;
  const LocalModel m(g, sp);
  EXPECT_FALSE(m.holds());
  EXPECT_THROW(m.at(g), std::domain_error);
}

}  // namespace
}  // namespace kx::field
