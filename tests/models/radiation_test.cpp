// The radiation-loss term of the open pair that the reports add, half to
// each mode, to the conductor and dielectric attenuation.
#include <gtest/gtest.h>

#include <cmath>

#include <kestrelix/coupled_line.h>

#include "models/chain.h"

namespace kx {
namespace {

// Radiation loss per mode (dB/inch) at f GHz, in double precision from the
// quasi-TEM radiation factor; the limit 1 at effef = 1.
double radiation_per_mode(double h, double f, double effef) {
  const double q = std::sqrt(effef);
  const double feff =
      effef == 1.0 ? 1.0 : 1.0 - ((effef - 1.0) / (2.0 * q)) * std::log((q + 1.0) / (q - 1.0));
  const double x = 2.0 * 3.14159265358979 * h * f / 11.802855;
  return x * x * 60.0 * feff / 8.686;
}

TEST(RadiationLoss, NothingAtZeroFrequency) { EXPECT_EQ(radiation_loss(6.5f, 0.025f, 0.0f), 0.0f); }

TEST(RadiationLoss, HalfOfTheTermGoesToEachMode) {
  // effef 6.5: q = 2.549510, feff = 1 - (5.5/5.099020) ln(3.549510/1.549510)
  // = 1 - 1.078639 * 0.828871 = 0.105948; at 25 mil and 10 GHz
  // (2 pi H F / c)^2 = 0.0177119, times 60 feff / 8.686 = 0.0129625 per mode.
  const double per_mode = radiation_per_mode(0.025, 10.0, 6.5);
  EXPECT_NEAR(per_mode, 0.0129625, 2e-7);
  EXPECT_NEAR(radiation_loss(6.5f, 0.025f, 10.0f), 2.0 * per_mode, 2e-6 * per_mode);
  // Without conductor and dielectric loss the attenuation is the radiation
  // term alone, shared equally.
  Records rec;
  rec.lceff1.effef = 6.5f;
  rec.lceff1.effof = 5.5f;
  Section sec;
  sec.er = 9.8f;
  sec.h = 0.025f;
  sec.h2 = 0.25f;
  sec.w = 0.024f;
  sec.s = 0.01f;
  const Attenuation a = total_losses(rec, sec, Materials(), 10.0f);
  EXPECT_NEAR(a.e, per_mode, 1e-6 * per_mode);
  EXPECT_EQ(a.e, a.o);
}

TEST(RadiationLoss, GrowsWithTheSquareOfFrequencyTimesThickness) {
  const float a1 = radiation_loss(6.5f, 0.025f, 2.0f);
  EXPECT_NEAR(radiation_loss(6.5f, 0.025f, 4.0f) / a1, 4.0f, 1e-5f);
  EXPECT_NEAR(radiation_loss(6.5f, 0.05f, 2.0f) / a1, 4.0f, 1e-5f);
}

TEST(RadiationLoss, AirDielectricTakesTheLimitOfTheRadiationFactor) {
  // effef = 1 makes the factor 0 * ln(2/0); its limit is 1, so the term is
  // (2 pi H F / c)^2 * 60 / 8.686 per mode: 0.1223480 at 25 mil and 10 GHz.
  const float air = radiation_loss(1.0f, 0.025f, 10.0f);
  EXPECT_TRUE(std::isfinite(air));
  EXPECT_NEAR(air, 2.0 * 0.1223480, 2e-6);
  // Just above 1 the factor is close to its limit.
  EXPECT_NEAR(radiation_loss(1.0001f, 0.025f, 10.0f) / air, 1.0f, 1e-3f);
}

}  // namespace
}  // namespace kx
