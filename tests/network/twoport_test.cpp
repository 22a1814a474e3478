// Chain matrices, terminations, complex products and the four-quadrant phase.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "network/network.h"

namespace kx {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Single-precision rounding of sin/cos near pi/2 leaves about 1e-7 relative.
constexpr float kSingle = 2e-6f;

TEST(Xline, ZeroLengthLosslessIsUnitMatrix) {
  Abcd m{};
  xline(50.0f, 0.0f, 0.0f, m);
  EXPECT_EQ(m[0][0], 1.0f);
  EXPECT_EQ(m[0][1], 0.0f);
  EXPECT_EQ(m[1][0], 0.0f);
  EXPECT_EQ(m[1][1], 0.0f);
  EXPECT_EQ(m[2][0], 0.0f);
  EXPECT_EQ(m[2][1], 0.0f);
  EXPECT_EQ(m[3][0], 1.0f);
  EXPECT_EQ(m[3][1], 0.0f);
}

TEST(Xline, QuarterWaveLineInvertsImpedance) {
  const float z = 70.0f;
  Abcd m{};
  xline(z, static_cast<float>(kPi / 2.0), 0.0f, m);
  EXPECT_NEAR(m[0][0], 0.0f, kSingle);
  EXPECT_NEAR(m[0][1], 0.0f, kSingle);
  EXPECT_NEAR(m[1][0], 0.0f, kSingle * z);
  EXPECT_NEAR(m[1][1], z, kSingle * z);
  EXPECT_NEAR(m[2][0], 0.0f, kSingle / z);
  EXPECT_NEAR(m[2][1], 1.0f / z, kSingle / z);
  EXPECT_EQ(m[3], m[0]);
}

TEST(Xline, LossyLineIsHyperbolicOfComplexLength) {
  // cosh(a + jb) = cosh a cos b + j sinh a sin b; sinh(a + jb) = sinh a cos b + j cosh a sin b.
  const double a = 0.3;
  const double b = 1.1;
  const double z = 25.0;
  Abcd m{};
  xline(static_cast<float>(z), static_cast<float>(b), static_cast<float>(a), m);
  EXPECT_NEAR(m[0][0], std::cosh(a) * std::cos(b), 1e-6);
  EXPECT_NEAR(m[0][1], std::sinh(a) * std::sin(b), 1e-6);
  EXPECT_NEAR(m[1][0], z * std::sinh(a) * std::cos(b), 1e-5);
  EXPECT_NEAR(m[1][1], z * std::cosh(a) * std::sin(b), 1e-5);
  EXPECT_NEAR(m[2][0], std::sinh(a) * std::cos(b) / z, 1e-8);
  EXPECT_NEAR(m[2][1], std::cosh(a) * std::sin(b) / z, 1e-8);
  // Reciprocal: AD - BC = 1.
  const auto d = [&m](int i, int k) {
    return static_cast<double>(m[static_cast<std::size_t>(i)][static_cast<std::size_t>(k)]);
  };
  const double ad_re = d(0, 0) * d(3, 0) - d(0, 1) * d(3, 1);
  const double bc_re = d(1, 0) * d(2, 0) - d(1, 1) * d(2, 1);
  EXPECT_NEAR(ad_re - bc_re, 1.0, 1e-6);
}

TEST(Taugam, UnitMatrixBetweenEqualTerminationsIsMatched) {
  Abcd m{};
  xline(50.0f, 0.0f, 0.0f, m);
  Complex tau{};
  Complex gamma{};
  taugam(tau, gamma, m, 50.0f, 50.0f);
  EXPECT_EQ(gamma[0], 0.0f);
  EXPECT_EQ(gamma[1], 0.0f);
  EXPECT_EQ(tau[0], 1.0f);
  EXPECT_EQ(tau[1], 0.0f);
}

TEST(Taugam, UnitMatrixBetweenUnequalTerminationsIsTheJunction) {
  const struct {
    float zs, zl;
  } cases[] = {{25.0f, 50.0f}, {50.0f, 25.0f}, {10.0f, 90.0f}, {75.0f, 50.0f}};
  Abcd m{};
  xline(1.0f, 0.0f, 0.0f, m);
  for (const auto& c : cases) {
    Complex tau{};
    Complex gamma{};
    taugam(tau, gamma, m, c.zl, c.zs);
    const double zs = c.zs;
    const double zl = c.zl;
    EXPECT_NEAR(gamma[0], (zl - zs) / (zl + zs), 1e-6) << zs << " " << zl;
    EXPECT_EQ(gamma[1], 0.0f);
    EXPECT_NEAR(tau[0], 2.0 * std::sqrt(zs * zl) / (zs + zl), 1e-6) << zs << " " << zl;
    EXPECT_EQ(tau[1], 0.0f);
    // Lossless: |gamma|^2 + |tau|^2 = 1.
    EXPECT_NEAR(gamma[0] * gamma[0] + tau[0] * tau[0], 1.0f, 1e-6f);
  }
}

TEST(Taugam, QuarterWaveTransformerMatchesWithQuadratureTransmission) {
  const float zs = 20.0f;
  const float zl = 80.0f;
  Abcd m{};
  xline(std::sqrt(zs * zl), static_cast<float>(kPi / 2.0), 0.0f, m);
  Complex tau{};
  Complex gamma{};
  taugam(tau, gamma, m, zl, zs);
  EXPECT_NEAR(gamma[0], 0.0f, 1e-5f);
  EXPECT_NEAR(gamma[1], 0.0f, 1e-5f);
  EXPECT_NEAR(tau[0], 0.0f, 1e-5f);
  EXPECT_NEAR(tau[1], -1.0f, 1e-5f);
}

TEST(Taugam, MatchedLossyLineTransmitsExpOfMinusComplexLength) {
  const double sigma = 0.2;
  const double theta = 0.7;
  Abcd m{};
  xline(50.0f, static_cast<float>(theta), static_cast<float>(sigma), m);
  Complex tau{};
  Complex gamma{};
  taugam(tau, gamma, m, 50.0f, 50.0f);
  EXPECT_NEAR(gamma[0], 0.0f, 1e-6f);
  EXPECT_NEAR(gamma[1], 0.0f, 1e-6f);
  EXPECT_NEAR(tau[0], std::exp(-sigma) * std::cos(theta), 1e-6);
  EXPECT_NEAR(tau[1], -std::exp(-sigma) * std::sin(theta), 1e-6);
}

TEST(Nmult, ProductAndConjugateProduct) {
  float xt = 0.0f;
  float yt = 0.0f;
  // (1 + 2j)(3 - 4j) = 11 + 2j
  nmult(1, xt, yt, 1.0f, 2.0f, 3.0f, -4.0f);
  EXPECT_EQ(xt, 11.0f);
  EXPECT_EQ(yt, 2.0f);
  // (1 + 2j) conj(3 - 4j) = (1 + 2j)(3 + 4j) = -5 + 10j
  nmult(2, xt, yt, 1.0f, 2.0f, 3.0f, -4.0f);
  EXPECT_EQ(xt, -5.0f);
  EXPECT_EQ(yt, 10.0f);
  // z conj(z) = |z|^2
  nmult(2, xt, yt, -3.0f, 4.0f, -3.0f, 4.0f);
  EXPECT_EQ(xt, 25.0f);
  EXPECT_EQ(yt, 0.0f);
  // Any ltype other than 2 is the plain product.
  nmult(0, xt, yt, 0.0f, 1.0f, 0.0f, 1.0f);
  EXPECT_EQ(xt, -1.0f);
  EXPECT_EQ(yt, 0.0f);
}

TEST(Atn2, QuadrantsAndAxes) {
  const float fpi = static_cast<float>(kPi);
  const struct {
    float y, x;
    double expected;
  } cases[] = {
      {1.0f, 1.0f, kPi / 4.0},
      {1.0f, -1.0f, 3.0 * kPi / 4.0},
      {-1.0f, -1.0f, -3.0 * kPi / 4.0},
      {-1.0f, 1.0f, -kPi / 4.0},
      {0.0f, -1.0f, kPi},
      {-1.0f, 0.0f, -kPi / 2.0},
      {1.0f, 0.0f, kPi / 2.0},
      {0.0f, 1.0f, 0.0},
      {0.0f, 0.0f, 0.0},
      {2.0f, -3.5f, std::atan2(2.0, -3.5)},
      {-0.3f, -7.0f, std::atan2(-0.3, -7.0)},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(atn2(c.y, c.x), c.expected, 3e-7) << c.y << ", " << c.x;
  }
  // The negative real axis is +pi, never -pi; the origin is exactly 0.
  EXPECT_EQ(atn2(0.0f, -1.0f), fpi);
  EXPECT_EQ(atn2(-0.0f, -2.0f), fpi);
  EXPECT_EQ(atn2(0.0f, 0.0f), 0.0f);
}

TEST(Atn2, NotANumberHasNoPhase) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_TRUE(std::isnan(atn2(nan, 1.0f)));
  EXPECT_TRUE(std::isnan(atn2(1.0f, nan)));
  EXPECT_TRUE(std::isnan(atn2(nan, 0.0f)));
  EXPECT_TRUE(std::isnan(atn2(0.0f, nan)));
}

}  // namespace
}  // namespace kx
