// Four-port response of the coupler: ideal-coupler figures, the sentinels of
// ports that carry nothing, the printable clamps and power conservation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>

#include "common/records.h"
#include "network/network.h"

namespace kx {
namespace {

constexpr double kC = 11.802855;  // inches per nanosecond

// Ideal 10 dB coupler from the mode impedances of a 50-ohm pair.
constexpr float kZoe = 69.37f;
constexpr float kZoo = 36.04f;
constexpr float kEff = 4.0f;
constexpr float kLength = 0.5f;

// Frequency (GHz) at which a section of length l with effective
// permittivity eff is a quarter wave long.
float quarter_wave_ghz(double l, double eff) {
  return static_cast<float>(kC / (4.0 * l * std::sqrt(eff)));
}

Lcfa1 run(float fo, float ate, float ato, float effe, float effo, float l, float rl, float rs,
          float zoe, float zoo) {
  Records rec;
  rec.lcfa1.fo = fo;
  lcfa(rec, ate, ato, effe, effo, l, rl, rs, zoe, zoo);
  EXPECT_EQ(rec.lcfa1.fo, fo);  // lcfa only reads its frequency
  return rec.lcfa1;
}

TEST(Lcfa, IdealCouplerAtQuarterWave) {
  const float r = std::sqrt(kZoe * kZoo);
  const float fo = quarter_wave_ghz(kLength, kEff);
  const Lcfa1 out = run(fo, 0.0f, 0.0f, kEff, kEff, kLength, r, r, kZoe, kZoo);

  const double zoe = kZoe;
  const double zoo = kZoo;
  const double k = (zoe - zoo) / (zoe + zoo);
  const double coupled_db = 20.0 * std::log10(k);         // -10.0007 dB
  const double thru_db = 10.0 * std::log10(1.0 - k * k);  // -0.4575 dB
  EXPECT_NEAR(out.mag[1], coupled_db, 1e-3);
  EXPECT_NEAR(out.mag[3], thru_db, 1e-3);
  EXPECT_NEAR(out.mag[1], -10.00f, 0.005f);  // the published 10 dB pair
  EXPECT_NEAR(out.mag[3], -0.46f, 0.005f);
  // Matched and isolated to single precision.
  EXPECT_LT(out.mag[0], -90.0f);
  EXPECT_LT(out.mag[2], -90.0f);
  EXPECT_NEAR(out.vswr, 1.0f, 1e-4f);
  // Coupled wave in phase with the drive, through wave lagging by 90 degrees.
  EXPECT_NEAR(out.ang[1], 0.0f, 1e-3f);
  EXPECT_NEAR(out.ang[3], -90.0f, 1e-3f);
  EXPECT_NEAR(out.phi, 90.0f, 1e-3f);
  EXPECT_NEAR(out.phaserr, 0.0f, 1e-3f);
  EXPECT_NEAR(out.atot, 0.0f, 1e-4f);
  EXPECT_NEAR(out.loss, 0.0f, 1e-4f);
}

TEST(Lcfa, ZeroFrequencyMatchedLeavesOnlyTheThroughWave) {
  const float r = 50.0f;
  const Lcfa1 out = run(0.0f, 0.0f, 0.0f, kEff, kEff, kLength, r, r, kZoe, kZoo);
  EXPECT_EQ(out.mag[0], -999.9f);
  EXPECT_EQ(out.mag[1], -999.999f);
  EXPECT_EQ(out.mag[2], -999.9f);
  EXPECT_EQ(out.mag[3], 0.0f);
  EXPECT_EQ(out.ang[1], 0.0f);
  EXPECT_EQ(out.ang[2], 0.0f);
  EXPECT_EQ(out.ang[3], 0.0f);
  EXPECT_EQ(out.vswr, 1.0f);
  EXPECT_EQ(out.atot, 0.0f);
  EXPECT_EQ(out.loss, 0.0f);
  EXPECT_EQ(out.phi, 0.0f);
  EXPECT_EQ(out.phaserr, -90.0f);
}

TEST(Lcfa, ZeroFrequencyBetweenUnequalTerminationsIsTheJunction) {
  const double rs = 25.0;
  const double rl = 50.0;
  const Lcfa1 out = run(0.0f, 0.0f, 0.0f, kEff, kEff, kLength, static_cast<float>(rl),
                        static_cast<float>(rs), kZoe, kZoo);
  const double gamma = (rl - rs) / (rl + rs);  // 1/3
  const double tau = 2.0 * std::sqrt(rs * rl) / (rs + rl);
  EXPECT_EQ(out.mag[1], -999.999f);
  EXPECT_EQ(out.mag[2], -999.9f);
  EXPECT_NEAR(out.mag[0], 20.0 * std::log10(gamma), 1e-4);
  EXPECT_NEAR(out.mag[3], 20.0 * std::log10(tau), 1e-4);
  EXPECT_NEAR(out.loss, 20.0 * std::log10(tau), 1e-4);
  EXPECT_NEAR(out.vswr, 2.0f, 1e-5f);
  EXPECT_NEAR(out.atot, 0.0f, 1e-5f);
}

TEST(Lcfa, NearTotalReflectionClampsVswr) {
  // Junction of 0.1 ohm and 50 ohm: |S11| = 49.9/50.1 > 0.9802.
  Lcfa1 out = run(0.0f, 0.0f, 0.0f, kEff, kEff, kLength, 50.0f, 0.1f, kZoe, kZoo);
  EXPECT_EQ(out.vswr, 99.999f);
  // High-impedance quarter-wave sections between 1-ohm terminations.
  const float fo = quarter_wave_ghz(kLength, kEff);
  out = run(fo, 0.0f, 0.0f, kEff, kEff, kLength, 1.0f, 1.0f, 500.0f, 400.0f);
  EXPECT_EQ(out.vswr, 99.999f);
  // Just below the clamp the VSWR is printed as computed: |S11| = 0.98 gives 99.
  const double rs = 1.0;
  const double rl = rs * 99.0;  // (rl - rs)/(rl + rs) = 0.98
  out = run(0.0f, 0.0f, 0.0f, kEff, kEff, kLength, static_cast<float>(rl), static_cast<float>(rs),
            kZoe, kZoo);
  EXPECT_NEAR(out.vswr, 99.0f, 1e-3f);
}

TEST(Lcfa, LosslessCouplerConservesPower) {
  const float rs_values[] = {25.0f, 50.0f, 75.0f};
  const float rl_values[] = {30.0f, 50.0f, 100.0f};
  const float fractions[] = {0.13f, 0.5f, 1.0f, 1.7f, 2.0f};  // of the quarter-wave frequency
  const float fq = quarter_wave_ghz(kLength, kEff);
  for (float rs : rs_values) {
    for (float rl : rl_values) {
      for (float x : fractions) {
        const Lcfa1 out = run(fq * x, 0.0f, 0.0f, 4.1f, 3.4f, kLength, rl, rs, kZoe, kZoo);
        EXPECT_NEAR(out.atot, 0.0f, 2e-4f) << rs << " " << rl << " " << x;
        EXPECT_LE(out.loss, out.atot + 1e-5f);
        EXPECT_GE(out.phi, 0.0f);
        EXPECT_LT(out.phi, 180.0f);
        EXPECT_FLOAT_EQ(out.phaserr, out.phi - 90.0f);
      }
    }
  }
}

TEST(Lcfa, LossesLowerTheTotalPower) {
  const float r = std::sqrt(kZoe * kZoo);
  const float fo = quarter_wave_ghz(kLength, kEff);
  const Lcfa1 out = run(fo, 0.5f, 0.8f, kEff, kEff, kLength, r, r, kZoe, kZoo);
  EXPECT_LT(out.atot, -0.1f);
  EXPECT_LT(out.loss, out.atot);
  // Mostly the through path: close to the matched-line loss of the two modes.
  const double mean_db = 0.5 * (0.5 + 0.8) * 0.5;  // mean dB/inch times the length
  EXPECT_NEAR(out.atot, -mean_db, 0.1);
}

TEST(Lcfa, PhaseDifferenceAbove180IsFolded) {
  // Zoo above Zoe turns the coupled wave over (ang(2) near +-180) while the
  // through wave stays at -90: the raw difference of 270 folds to 90.
  const float r = std::sqrt(kZoe * kZoo);
  const float fo = quarter_wave_ghz(kLength, kEff);
  const Lcfa1 out = run(fo, 0.0f, 0.0f, kEff, kEff, kLength, r, r, kZoo, kZoe);
  EXPECT_NEAR(std::fabs(out.ang[1]), 180.0f, 1e-3f);
  EXPECT_NEAR(out.ang[3], -90.0f, 1e-3f);
  EXPECT_NEAR(out.phi, 90.0f, 1e-3f);
}

TEST(Lcfa, FullyAttenuatedSectionClampsTheLossFigures) {
  // 400 dB/inch over 0.5 inch (23 nepers): under -190 dB reaches the far
  // end, and the near-end waves cancel for a matched pair with equal mode
  // impedances.
  const Lcfa1 out = run(1.0f, 400.0f, 400.0f, kEff, kEff, kLength, 50.0f, 50.0f, 50.0f, 50.0f);
  EXPECT_EQ(out.loss, -99.9999f);
  EXPECT_EQ(out.atot, -99.9999f);
}

TEST(Lcfa, WaveThatIsNotANumberHasNoPhase) {
  // A mode impedance that is not a number spoils every wave: no port gets a
  // made-up phase, and the quadrature figures are not numbers either.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Lcfa1 r = run(2.0f, 0.0f, 0.0f, kEff, kEff, kLength, 50.0f, 50.0f, nan, kZoo);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_TRUE(std::isnan(r.ang[i])) << "port " << i + 1;
  EXPECT_TRUE(std::isnan(r.phi));
  EXPECT_TRUE(std::isnan(r.phaserr));
}

}  // namespace
}  // namespace kx
