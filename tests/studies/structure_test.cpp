// The board cross-section's study and the closed forms' single microstrip.
#include <gtest/gtest.h>

#include <cmath>

#include <kestrelix/single_line.h>
#include <kestrelix/structure.h>
#include <kestrelix/units.h>
#include <kestrelix/validity.h>

namespace {

// Hammerstad and Jensen's open microstrip of zero thickness, as published
// (1980), in double: Z0 and the effective permittivity.
void hammerstad_jensen(double er, double u, double& z0, double& eff) {
  const double pi = 3.141592653589793, eta0 = 376.73031346177;
  const double f = 6.0 + (2.0 * pi - 6.0) * std::exp(-std::pow(30.666 / u, 0.7528));
  const double z01 = eta0 / (2.0 * pi) * std::log(f / u + std::sqrt(1.0 + 4.0 / (u * u)));
  const double a =
      1.0 + std::log((std::pow(u, 4) + std::pow(u / 52.0, 2)) / (std::pow(u, 4) + 0.432)) / 49.0 +
      std::log(1.0 + std::pow(u / 18.1, 3)) / 18.7;
  const double b = 0.564 * std::pow((er - 0.9) / (er + 3.0), 0.053);
  eff = (er + 1.0) / 2.0 + (er - 1.0) / 2.0 * std::pow(1.0 + 10.0 / u, -a * b);
  z0 = z01 / std::sqrt(eff);
}

TEST(SingleMicrostrip, IsHammerstadJensenWithoutCoverOrThickness) {
  for (const double er : {2.2, 4.3, 9.8}) {
    for (const double u : {0.2, 1.0, 3.0, 8.0}) {
      kx::Section sec;
      sec.er = static_cast<float>(er);
      sec.h = kx::from_mm(0.5);
      sec.w = kx::from_mm(0.5 * u);
      double z0 = 0.0, eff = 0.0;
      hammerstad_jensen(er, u, z0, eff);
      const kx::SingleLine l = kx::single_microstrip(sec);
      SCOPED_TRACE("er " + std::to_string(er) + " u " + std::to_string(u));
      EXPECT_TRUE(l.valid);
      EXPECT_NEAR(static_cast<double>(l.z0), z0, 2e-5 * z0);  // float arithmetic
      EXPECT_NEAR(static_cast<double>(l.eff), eff, 2e-5 * eff);
    }
  }
  kx::Section bad;
  bad.er = 4.3f;
  bad.h = kx::from_mm(0.5);
  bad.w = -1.0f;
  const kx::SingleLine l = kx::single_microstrip(bad);
  EXPECT_FALSE(l.valid);
  EXPECT_NE(l.flags & kx::flag_refused, 0u);
  EXPECT_TRUE(std::isnan(l.z0));
}

// What the solver or a search cannot do comes back as flags and a reason,
// never as an exception.
TEST(Structure, RefusalsAreFlagsNotExceptions) {
  kx::stack::Trace t;
  t.width = 0.2;
  kx::study::StructurePlan plan;
  plan.stack = kx::stack::microstrip({0.2, 4.3, 0.0, ""}, t);
  plan.pair = true;  // one signal is no pair
  kx::study::Structure s = kx::study::structure(plan);
  EXPECT_FALSE(s.solved);
  EXPECT_NE(s.flags & kx::flag_refused, 0u);
  EXPECT_FALSE(s.reason.empty());

  plan.pair = false;
  plan.solve = kx::study::StructureSolve::width_for_z0;
  plan.z0 = 2000.0;  // no width reaches it
  s = kx::study::structure(plan);
  EXPECT_FALSE(s.solved);
  EXPECT_NE(s.flags & kx::flag_no_converge, 0u);

  plan.z0 = 50.0;
  s = kx::study::structure(plan);
  ASSERT_TRUE(s.solved) << s.reason;
  EXPECT_NEAR(kx::stack::line(kx::stack::solve(s.stack)).z0, 50.0, 0.05);
}

}  // namespace
