// Normalised impedance sensitivities.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "chain.h"
#include "common/records.h"
#include "models/static/static_models.h"
#include "synthesis/ms1sen.h"

namespace kx {
namespace {

using testing::analyse;
using testing::Section;

constexpr float kRaise = 1.001f;
constexpr float kJunk = 7.25f;  // marks a record member the call must overwrite (or keep)

// Alumina pair with a cover at 10 H and half-ounce strips.
constexpr Section kAlumina{9.8f, 10.0f, 0.025f, 0.25f, 0.008f, 0.0007f, 0.022f};

enum Param { kEr, kH, kH2, kS, kT, kW, kParams };

std::array<float, 6> even(const Records& rec) {
  const Mssen1& e = rec.mssen1;
  return {e.szoeer, e.szoeh, e.szoeh2, e.szoes, e.szoet, e.szoew};
}
std::array<float, 6> odd(const Records& rec) {
  const Mssen2& o = rec.mssen2;
  return {o.szooer, o.szooh, o.szooh2, o.szoos, o.szoot, o.szoow};
}

void fill(Records& rec, float v) {
  rec.mssen1 = {v, v, v, v, v, v};
  rec.mssen2 = {v, v, v, v, v, v};
}

int run(Records& rec, const Section& x, int ieoro) {
  int iflag = -5;
  ms1sen(rec, x.er, x.f, x.h, x.h2, ieoro, iflag, x.s, x.t, x.w);
  return iflag;
}

float& member(Section& x, int p) {
  switch (p) {
    case kEr:
      return x.er;
    case kH:
      return x.h;
    case kH2:
      return x.h2;
    case kS:
      return x.s;
    case kT:
      return x.t;
    default:
      return x.w;
  }
}

// Normalised forward difference of the full chain, parameter p raised by 0.1 %.
std::array<double, 2> difference(Section x, int p) {
  const Modes r0 = analyse(x);
  Section up = x;
  member(up, p) = member(up, p) * kRaise;
  const Modes r1 = analyse(up);
  const double x0 = member(x, p);
  const double dx = double{member(up, p)} - x0;
  const double e0 = r0.zoe;
  const double o0 = r0.zoo;
  return {(double{r1.zoe} - e0) / e0 * x0 / dx, (double{r1.zoo} - o0) / o0 * x0 / dx};
}

void expect_matches_difference(const Section& x) {
  Records even_rec;
  Records odd_rec;
  ASSERT_EQ(run(even_rec, x, 1), 0);
  ASSERT_EQ(run(odd_rec, x, 2), 0);
  const auto e = even(even_rec);
  const auto o = odd(odd_rec);
  for (int p = 0; p < kParams; ++p) {
    const auto d = difference(x, p);
    const auto n = static_cast<std::size_t>(p);
    EXPECT_NEAR(e[n], d[0], 1e-5 * std::fabs(d[0]) + 1e-6) << "even, parameter " << p;
    EXPECT_NEAR(o[n], d[1], 1e-5 * std::fabs(d[1]) + 1e-6) << "odd, parameter " << p;
  }
}

TEST(Ms1sen, StaticSensitivitiesAreDifferenceQuotientsOfTheStaticImpedances) {
  Section x = kAlumina;
  x.f = 0.0f;
  expect_matches_difference(x);
  // At f = 0 the chain's impedances are ms1imp's: check one quotient against it directly.
  Records rec;
  ASSERT_EQ(run(rec, x, 1), 0);
  CoupledLine line{ModelSettings{Model::closed}};
  kx::Section sec;
  sec.er = x.er;
  sec.h = x.h;
  sec.h2 = x.h2;
  sec.w = x.w;
  sec.s = x.s;
  sec.t = x.t;
  const float zoe0 = line.at(sec, 0.0f).zoe_dc;
  const float w1 = x.w * kRaise;
  sec.w = w1;
  const float zoe1 = line.at(sec, 0.0f).zoe_dc;
  const double z0 = zoe0;
  const double w0 = x.w;
  const double expected = (double{zoe1} - z0) / z0 * w0 / (double{w1} - w0);
  EXPECT_NEAR(rec.mssen1.szoew, expected, 1e-5 * std::fabs(expected));
}

TEST(Ms1sen, DispersiveSensitivitiesAreDifferenceQuotientsOfTheFullChain) {
  expect_matches_difference(kAlumina);
  expect_matches_difference({2.2f, 18.0f, 0.031f, 0.1f, 0.012f, 0.0014f, 0.09f});
}

TEST(Ms1sen, LeavesTheNominalImpedancesInLcdis1) {
  for (int ieoro : {1, 2, 3}) {
    Records rec;
    run(rec, kAlumina, ieoro);
    const Modes r = analyse(kAlumina);
    EXPECT_EQ(rec.lcdis1.zoef, r.zoe) << ieoro;
    EXPECT_EQ(rec.lcdis1.zoof, r.zoo) << ieoro;
  }
}

TEST(Ms1sen, HighCoverAndZeroThicknessGiveZeroSensitivity) {
  Section x = kAlumina;
  x.h2 = 100.0f * x.h;
  x.t = 0.0f;
  for (int ieoro : {1, 2}) {
    Records rec;
    fill(rec, kJunk);
    ASSERT_EQ(run(rec, x, ieoro), 0);
    EXPECT_EQ(rec.mssen1.szoeh2, 0.0f);
    EXPECT_EQ(rec.mssen2.szooh2, 0.0f);
    EXPECT_EQ(rec.mssen1.szoet, 0.0f);
    EXPECT_EQ(rec.mssen2.szoot, 0.0f);
    // The others are computed.
    EXPECT_NE(ieoro == 1 ? rec.mssen1.szoew : rec.mssen2.szoow, kJunk);
  }
  // A low cover is perturbed and its sensitivity written.
  x.h2 = 3.0f * x.h;
  Records rec;
  fill(rec, kJunk);
  ASSERT_EQ(run(rec, x, 1), 0);
  EXPECT_NE(rec.mssen1.szoeh2, kJunk);
  EXPECT_NE(rec.mssen1.szoeh2, 0.0f);
}

TEST(Ms1sen, InvalidNominalPointLeavesTheSensitivitiesAlone) {
  // Thick strips at a tight gap under a low cover: the odd-mode effective
  // width outgrows the pair and sqrt(Zoe Zoo) exceeds its single strip.
  const Section x{2.2f, 0.0f, 0.025f, 0.05f, 0.00017f, 0.0014f, 0.0922614f};
  ASSERT_EQ(analyse(x).iflag, 1);
  for (int ieoro : {1, 2}) {
    Records rec;
    fill(rec, kJunk);
    EXPECT_EQ(run(rec, x, ieoro), 1);
    for (float v : even(rec)) EXPECT_EQ(v, kJunk);
    for (float v : odd(rec)) EXPECT_EQ(v, kJunk);
    EXPECT_EQ(rec.lcdis1.zoef, analyse(x).zoe);
    EXPECT_EQ(rec.lcdis1.zoof, analyse(x).zoo);
  }
}

TEST(Ms1sen, PerturbedPointsEvaluateTheSelectedModeOnly) {
  // At f = 0 a single-mode evaluation hands the other mode's nominal static
  // impedance straight through, so the other record's quotients are exactly 0.
  Section x = kAlumina;
  x.f = 0.0f;
  Records e;
  Records o;
  ASSERT_EQ(run(e, x, 1), 0);
  ASSERT_EQ(run(o, x, 2), 0);
  for (float v : odd(e)) EXPECT_EQ(v, 0.0f);
  for (float v : even(o)) EXPECT_EQ(v, 0.0f);
  EXPECT_NE(e.mssen1.szoew, 0.0f);
  EXPECT_NE(o.mssen2.szoow, 0.0f);
}

TEST(Ms1sen, BothChoiceGivesTheEvenModeRecord) {
  Records one;
  Records three;
  run(one, kAlumina, 1);
  run(three, kAlumina, 3);
  EXPECT_EQ(even(one), even(three));
}

TEST(Ms1sen, SignsFollowThePhysics) {
  Records e;
  Records o;
  ASSERT_EQ(run(e, kAlumina, 1), 0);
  ASSERT_EQ(run(o, kAlumina, 2), 0);
  // Wider strips lower both impedances; a thicker substrate raises them;
  // a higher permittivity lowers them.
  EXPECT_LT(e.mssen1.szoew, 0.0f);
  EXPECT_LT(o.mssen2.szoow, 0.0f);
  EXPECT_GT(e.mssen1.szoeh, 0.0f);
  EXPECT_GT(o.mssen2.szooh, 0.0f);
  EXPECT_LT(e.mssen1.szoeer, 0.0f);
  EXPECT_LT(o.mssen2.szooer, 0.0f);
  // A wider gap weakens the coupling: Zoe falls and Zoo rises toward the single line.
  EXPECT_LT(e.mssen1.szoes, 0.0f);
  EXPECT_GT(o.mssen2.szoos, 0.0f);
  // Thicker strips carry more odd-mode fringing field: Zoo falls.
  EXPECT_LT(o.mssen2.szoot, 0.0f);
}

}  // namespace
}  // namespace kx
