// The radiation-loss term that the analysis runs add to both modes.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/app/runs_fixture.h"

namespace kx::test {
namespace {

State with_effef(float effef, float h) {
  State st;
  st.design.h = h;
  st.rec.lceff1.effef = effef;
  return st;
}

TEST(RadiationLoss, NothingIsAddedAtZeroFrequency) {
  State st = with_effef(6.5f, 0.025f);
  float ate = 0.125f;
  float ato = 0.25f;
  add_radiation_loss(st, 0.0f, ate, ato);
  EXPECT_EQ(ate, 0.125f);
  EXPECT_EQ(ato, 0.25f);
  EXPECT_EQ(st.work.ar, 0.0f);
}

TEST(RadiationLoss, HalfOfTheTermGoesToEachMode) {
  // effef 6.5: q = 2.549510, feff = 1 - (5.5/5.099020) ln(3.549510/1.549510)
  // = 1 - 1.078639 * 0.828871 = 0.105948; at 25 mil and 10 GHz
  // (2 pi H F / c)^2 = 0.0177119, times 60 feff / 8.686 = 0.0129625 per mode.
  State st = with_effef(6.5f, 0.025f);
  float ate = 0.01f;
  float ato = 0.02f;
  add_radiation_loss(st, 10.0f, ate, ato);
  const double per_mode = radiation_per_mode(0.025, 10.0, 6.5);
  EXPECT_NEAR(per_mode, 0.0129625, 2e-7);
  EXPECT_NEAR(st.work.feff, 0.105948, 2e-6);
  EXPECT_NEAR(ate - 0.01f, per_mode, 1e-6 * per_mode + 1e-9);
  EXPECT_NEAR(ato - 0.02f, per_mode, 1e-6 * per_mode + 1e-9);
  EXPECT_NEAR(st.work.ar, 2.0 * per_mode, 2e-6 * per_mode);
}

TEST(RadiationLoss, GrowsWithTheSquareOfFrequencyTimesThickness) {
  State st = with_effef(6.5f, 0.025f);
  float a1 = 0.0f, b1 = 0.0f, a2 = 0.0f, b2 = 0.0f;
  add_radiation_loss(st, 2.0f, a1, b1);
  add_radiation_loss(st, 4.0f, a2, b2);
  EXPECT_NEAR(a2 / a1, 4.0f, 1e-5f);
  st.design.h = 0.05f;
  float a3 = 0.0f, b3 = 0.0f;
  add_radiation_loss(st, 2.0f, a3, b3);
  EXPECT_NEAR(a3 / a1, 4.0f, 1e-5f);
}

TEST(RadiationLoss, AirDielectricTakesTheLimitOfTheRadiationFactor) {
  // effef = 1 makes the factor 0 * ln(2/0); its limit is 1, so the term is
  // (2 pi H F / c)^2 * 60 / 8.686 per mode: 0.1223480 at 25 mil and 10 GHz.
  State st = with_effef(1.0f, 0.025f);
  float ate = 0.0f;
  float ato = 0.0f;
  add_radiation_loss(st, 10.0f, ate, ato);
  EXPECT_EQ(st.work.feff, 1.0f);
  EXPECT_TRUE(std::isfinite(ate));
  EXPECT_NEAR(ate, 0.1223480, 1e-6);
  EXPECT_EQ(ate, ato);
  // Just above 1 the factor is close to its limit.
  State near = with_effef(1.0001f, 0.025f);
  float a = 0.0f, b = 0.0f;
  add_radiation_loss(near, 10.0f, a, b);
  EXPECT_NEAR(near.work.feff, 1.0f, 1e-3f);
}

}  // namespace
}  // namespace kx::test
