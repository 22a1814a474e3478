// Coupled pair: Jansen thickness correction, static permittivities and
// impedances, and the Zoe/Zoo <-> Zo/coupling conversion. Reference figures
// come from a double-precision evaluation of the published Kirschning-Jansen
// and Hammerstad-Jensen forms (with this system's cover factors), written
// independently of the code.
#include <cmath>

#include <gtest/gtest.h>

#include <kestrelix/coupled_line.h>

#include "models/chain.h"
#include "models/static/static_models.h"

namespace kx {
namespace {

struct Static : ChainValues {
  int iflag{-1};
};

// The static values of the evaluator's chain, both modes.
Static evaluate(Records& rec, float er, float h, float h2, float s, float t, float w) {
  Static r;
  Section sec;
  sec.er = er;
  sec.h = h;
  sec.h2 = h2;
  sec.w = w;
  sec.s = s;
  sec.t = t;
  evaluate_chain(rec, r, sec, static_frequency, ModeSet::both, r.iflag);
  return r;
}

// ---- lcwta -------------------------------------------------------------

TEST(Lcwta, ZeroThicknessReturnsWidth) {
  float wte = 0.0f;
  float wto = 0.0f;
  lcwta(9.8f, 0.025f, 0.01f, 0.0f, 0.0213f, wte, wto);
  EXPECT_EQ(wte, 0.0213f);
  EXPECT_EQ(wto, 0.0213f);
}

TEST(Lcwta, JansenWidthsOfThickStrips) {
  float wte = 0.0f;
  float wto = 0.0f;
  // Wide strip: dW = 0.0250602, dt = H t/(Er S) = 0.002, tp = 8.65.
  lcwta(10.0f, 1.0f, 0.5f, 0.01f, 1.0f, wte, wto);
  EXPECT_NEAR(wte, 1.0250580f, 2e-7f);
  EXPECT_NEAR(wto, 1.0270580f, 2e-7f);
  // Narrow strip (W/H below 1/(2 pi)): dW = 0.0232112.
  lcwta(10.0f, 1.0f, 0.5f, 0.01f, 0.1f, wte, wto);
  EXPECT_NEAR(wte, 0.1232073f, 2e-7f);
  EXPECT_NEAR(wto, 0.1252073f, 2e-7f);
}

TEST(Lcwta, BlendLimitsAtWideAndTightSpacing) {
  float wte = 0.0f;
  float wto = 0.0f;
  // Very wide gap: the exponent is clamped at 23, wte = W + dW (to float).
  lcwta(10.0f, 1.0f, 100.0f, 0.01f, 1.0f, wte, wto);
  EXPECT_NEAR(wte, 1.0250602f, 2e-7f);
  EXPECT_NEAR(wto - wte, 1e-5f, 1.2e-7f);  // dt = 1e-5 on a sum near 1
  // Very tight gap: the exponent tends to 0, wte to W + dW/2.
  lcwta(10.0f, 1.0f, 1e-4f, 0.01f, 1.0f, wte, wto);
  EXPECT_NEAR(wte, 1.0125518f, 2e-7f);
  EXPECT_NEAR(wto, 11.0125518f, 2e-6f);
}

// ---- mscuppv -----------------------------------------------------------

TEST(Mscuppv, MatchesKirschningJansenStatic) {
  Records rec;
  // Er = 9.8, W/H = 1, S/H = 0.5, uncovered.
  const Static a = evaluate(rec, 9.8f, 0.025f, 25.0f, 0.0125f, 0.0f, 0.025f);
  EXPECT_NEAR(a.effe, 7.133319f, 2e-5f);
  EXPECT_NEAR(a.effo, 5.724447f, 2e-5f);
  EXPECT_NEAR(a.effc, 2.0f * 7.133319f * 5.724447f / (7.133319f + 5.724447f), 3e-5f);
  // Same cross-section under a cover at 3 H (both cover factors active).
  const Static b = evaluate(rec, 9.8f, 0.025f, 0.075f, 0.0125f, 0.0f, 0.025f);
  EXPECT_NEAR(b.effe, 6.679488f, 2e-5f);
  EXPECT_NEAR(b.effo, 5.702228f, 2e-5f);
  EXPECT_NEAR(rec.ms1pv.effoi, 5.724447f, 2e-5f);  // uncovered odd mode
  // Er = 4.5, W/H = 0.5, S/H = 1.5, cover at 2.5 H.
  const Static c = evaluate(rec, 4.5f, 0.025f, 0.0625f, 0.0375f, 0.0f, 0.0125f);
  EXPECT_NEAR(c.effe, 3.102524f, 1e-5f);
  EXPECT_NEAR(c.effo, 2.883829f, 1e-5f);
}

TEST(Mscuppv, AirFilledPairHasUnitPermittivities) {
  Records rec;
  for (const float h2 : {0.05f, 0.125f, 25.0f}) {
    for (const float t : {0.0f, 0.0014f}) {
      for (const float s : {0.00125f, 0.025f, 0.125f}) {
        const Static r = evaluate(rec, 1.0f, 0.025f, h2, s, t, 0.025f);
        EXPECT_EQ(r.effe, 1.0f);
        EXPECT_EQ(r.effo, 1.0f);
        EXPECT_EQ(r.effc, 1.0f);
        EXPECT_EQ(rec.ms1pv.effei, 1.0f);
        EXPECT_EQ(rec.ms1pv.effoi, 1.0f);
      }
    }
  }
}

TEST(Mscuppv, EvenCoverAppliedUpTo39H) {
  Records rec;
  const float er = 10.0f;
  auto effei = [&](float h2) {
    evaluate(rec, er, 1.0f, h2, 0.5f, 0.0f, 1.0f);
    return rec.ms1pv.effei;
  };
  const float open = effei(1000.0f);
  EXPECT_EQ(effei(std::nextafter(39.0f, 40.0f)), open);
  // At 39 H the factor qce = tanh(5.5215) = 0.999968 still scales the part
  // above (er + 1)/2.
  const float ratio = (effei(39.0f) - 5.5f) / (open - 5.5f);
  EXPECT_NEAR(ratio, 0.999968f, 3e-6f);
}

TEST(Mscuppv, OddCoverAppliedBelow7H) {
  Records rec;
  const float er = 10.0f;
  for (const float h2 : {7.0f, 8.0f, 1000.0f}) {
    const Static r = evaluate(rec, er, 1.0f, h2, 0.5f, 0.0f, 1.0f);
    EXPECT_EQ(r.effo, rec.ms1pv.effoi) << "h2/h = " << h2;
  }
  // At 3 H: qc = tanh(9.575/4 - 2.965 + 5.04 - 2.799) = 0.931519.
  const Static r = evaluate(rec, er, 1.0f, 3.0f, 0.5f, 0.0f, 1.0f);
  EXPECT_NEAR((r.effo - 5.5f) / (rec.ms1pv.effoi - 5.5f), 0.931519f, 3e-6f);
}

TEST(Mscuppv, EvenModeIsSingleLineAtWidenedWidth) {
  // Without cover and thickness the even mode is the Hammerstad-Jensen single
  // line at v = u (g^2 + 20)/(g^2 + 10) + g exp(-g); from g = 70 on the last
  // term is dropped.
  Records rec;
  const float er = 9.8f;
  const float h = 1.0f;
  const float u = 1.2f;
  for (const float g : {0.3f, 1.0f, 3.0f, 70.0f, 100.0f}) {
    const Static r = evaluate(rec, er, h, 1000.0f, g, 0.0f, u);
    const float v = u * (g * g + 20.0f) / (g * g + 10.0f) + (g < 70.0f ? g * std::exp(-g) : 0.0f);
    Records single;
    msimp(single, er, h, 1000.0f, 0.0f, v * h);
    EXPECT_NEAR(r.effe, single.msimp1.ef, 4e-6f * r.effe) << "g = " << g;
  }
}

TEST(Mscuppv, SingleEvenModeLeavesOddModeAlone) {
  for (const int ieoro : {1, 3}) {
    Records rec;
    rec.ms1pv.effoi = -3.0f;
    float effc = -1.0f;
    float effe = 0.0f;
    float effo = -2.0f;
    mscuppv(rec, effc, effe, effo, 9.8f, 0.0f, 0.025f, 25.0f, ieoro, iop_single_mode, 0.0125f,
            0.025f, 0.025f);
    EXPECT_NEAR(effe, 7.133319f, 2e-5f);
    EXPECT_EQ(effc, -1.0f);
    EXPECT_EQ(effo, -2.0f);
    EXPECT_EQ(rec.ms1pv.effoi, -3.0f);
    EXPECT_EQ(rec.msimp1.u, 1.0f);  // the working variable holds wte/h
  }
}

TEST(Mscuppv, SingleOddModeUsesEntryEvenValue) {
  Records rec;
  rec.ms1pv.effei = -4.0f;
  float effc = 0.0f;
  float effe = 7.0f;
  float effo = 0.0f;
  mscuppv(rec, effc, effe, effo, 9.8f, 0.0f, 0.025f, 25.0f, ieoro_odd, iop_single_mode, 0.0125f,
          0.025f, 0.025f);
  EXPECT_EQ(effe, 7.0f);
  EXPECT_EQ(rec.ms1pv.effei, -4.0f);
  EXPECT_NEAR(effo, 5.724447f, 2e-5f);
  EXPECT_FLOAT_EQ(effc, 2.0f * 7.0f * effo / (7.0f + effo));
}

// ---- ms1imp ------------------------------------------------------------

TEST(Ms1imp, MatchesKirschningJansenStatic) {
  Records rec;
  const Static a = evaluate(rec, 9.8f, 0.025f, 25.0f, 0.0125f, 0.0f, 0.025f);
  EXPECT_EQ(a.iflag, 0);
  EXPECT_NEAR(a.zoe, 59.64211f, 3e-4f);
  EXPECT_NEAR(a.zoo, 37.30823f, 2e-4f);
  // Under a cover at 3 H (with the even-mode cover reduction).
  const Static b = evaluate(rec, 9.8f, 0.025f, 0.075f, 0.0125f, 0.0f, 0.025f);
  EXPECT_EQ(b.iflag, 0);
  EXPECT_NEAR(b.zoe, 57.74582f, 3e-4f);
  EXPECT_NEAR(b.zoo, 37.30823f, 2e-4f);
  const Static c = evaluate(rec, 2.2f, 0.06f, 0.3f, 0.012f, 0.0f, 0.18f);
  EXPECT_NEAR(c.zoe, 58.31138f, 3e-4f);
  EXPECT_NEAR(c.zoo, 36.15355f, 2e-4f);
  const Static d = evaluate(rec, 4.5f, 0.025f, 0.0625f, 0.0375f, 0.0f, 0.0125f);
  EXPECT_NEAR(d.zoe, 100.37243f, 5e-4f);
  EXPECT_NEAR(d.zoo, 85.14469f, 4e-4f);
}

// The even-mode cover reduction clamps u to umax and leaves the clamp in the
// record: a single even-mode evaluation of a wide strip shows whether the
// reduction ran.
float even_only_u(float h2, float s) {
  Records rec;
  float zoe = 0.0f;
  float zoo = 0.0f;
  int iflag = 0;
  ms1imp(rec, 6.0f, 5.0f, 9.8f, 1.0f, h2, ieoro_even, iflag, iop_single_mode, s, 3.0f, 3.0f, zoe,
         zoo);
  return rec.msimp1.u;
}

TEST(Ms1imp, CoverReductionBelowHundredH) {
  const float umax = 1.449f * std::pow(1.0f + 99.99f, 0.039f);
  EXPECT_NEAR(even_only_u(99.99f, 1.0f), umax, 1e-6f);
  EXPECT_EQ(even_only_u(100.0f, 1.0f), 3.0f);
}

TEST(Ms1imp, CoverReductionBelowGap4466) {
  const float umax = 1.449f * std::pow(1.0f + 2.0f, 0.039f);
  EXPECT_NEAR(even_only_u(2.0f, 4.4659f), umax, 1e-6f);
  EXPECT_EQ(even_only_u(2.0f, 4.466f), 3.0f);
  // The reduction fades out toward the cut-off (sin(pi x/2) -> 0 as x -> 2),
  // so Zoe is continuous across it; without the cut-off Zoe would lose half
  // its value just above 4.466.
  Records rec;
  const float zoe_below = evaluate(rec, 9.8f, 1.0f, 2.0f, 4.4659f, 0.0f, 1.0f).zoe;
  const float zoe_at = evaluate(rec, 9.8f, 1.0f, 2.0f, 4.466f, 0.0f, 1.0f).zoe;
  const float zoe_above = evaluate(rec, 9.8f, 1.0f, 2.0f, 4.4662f, 0.0f, 1.0f).zoe;
  EXPECT_NEAR(zoe_below, zoe_at, 1e-4f * zoe_at);
  EXPECT_NEAR(zoe_above, zoe_at, 1e-4f * zoe_at);
}

TEST(Ms1imp, SingleEvenModeLeavesOddModeAlone) {
  Records rec;
  rec.ms1pv.effoi = 5.7f;
  float zoe = 0.0f;
  float zoo = 123.0f;  // would fail both validity tests
  int iflag = 7;
  ms1imp(rec, 7.133319f, 5.724447f, 9.8f, 0.025f, 25.0f, ieoro_even, iflag, iop_single_mode,
         0.0125f, 0.025f, 0.025f, zoe, zoo);
  EXPECT_NEAR(zoe, 59.64211f, 3e-4f);
  EXPECT_EQ(zoo, 123.0f);
  EXPECT_EQ(iflag, 0);
}

TEST(Ms1imp, SingleOddModeTestsAgainstEntryZoe) {
  Records rec;
  Static nominal = evaluate(rec, 9.8f, 0.025f, 25.0f, 0.0125f, 0.0f, 0.025f);
  const float zs = rec.msimp1.zo;  // single strip of the odd-mode width, > 20 ohm
  ASSERT_GT(zs, 20.0f);
  auto odd_flag = [&](float zoe_entry) {
    float zoe = zoe_entry;
    float zoo = 0.0f;
    int iflag = -1;
    ms1imp(rec, nominal.effe, nominal.effo, 9.8f, 0.025f, 25.0f, ieoro_odd, iflag, iop_single_mode,
           0.0125f, nominal.wte, nominal.wto, zoe, zoo);
    EXPECT_EQ(zoe, zoe_entry);
    EXPECT_NEAR(zoo, nominal.zoo, 1e-5f);
    return iflag;
  };
  EXPECT_EQ(odd_flag(nominal.zoe), 0);
  EXPECT_EQ(odd_flag(1.0f), 2);  // Zoo above Zoe
  // sqrt(Zoe Zoo) may exceed the single strip by up to 5 % above 20 ohm.
  EXPECT_EQ(odd_flag(1.04f * 1.04f * zs * zs / nominal.zoo), 0);
  EXPECT_EQ(odd_flag(1.06f * 1.06f * zs * zs / nominal.zoo), 1);
}

TEST(Ms1imp, NoMarginBelowTwentyOhm) {
  // Er = 12, W/H = 8: the single strip is below 20 ohm, so any excess flags.
  Records rec;
  Static nominal = evaluate(rec, 12.0f, 1.0f, 1000.0f, 1.0f, 0.0f, 8.0f);
  const float zs = rec.msimp1.zo;
  ASSERT_LT(zs, 20.0f);
  float zoe = 1.02f * 1.02f * zs * zs / nominal.zoo;
  float zoo = 0.0f;
  int iflag = -1;
  ms1imp(rec, nominal.effe, nominal.effo, 12.0f, 1.0f, 1000.0f, ieoro_odd, iflag, iop_single_mode,
         1.0f, nominal.wte, nominal.wto, zoe, zoo);
  EXPECT_EQ(iflag, 1);
}

// ---- sl1zo -------------------------------------------------------------

TEST(Sl1zo, CouplerImpedanceAndCoupling) {
  float cc = 0.0f, ko = 0.0f, zo = 0.0f, zoe = 69.5f, zoo = 36.0f;
  sl1zo(cc, ko, sl1zo_coupling_from_pair, zo, zoe, zoo);
  // Zo = sqrt(2502) = 50.01999; C = 33.5/105.5 = 0.317536; 20 log10 C = -9.96415 dB.
  EXPECT_NEAR(zo, 50.01999f, 1e-4f);
  EXPECT_NEAR(cc, 0.317536f, 1e-6f);
  EXPECT_NEAR(ko, -9.96415f, 2e-5f);
}

TEST(Sl1zo, UncoupledPairGetsSentinel) {
  float cc = 1.0f, ko = 0.0f, zo = 0.0f, zoe = 50.0f, zoo = 50.0f;
  sl1zo(cc, ko, sl1zo_coupling_from_pair, zo, zoe, zoo);
  EXPECT_EQ(cc, 0.0f);
  EXPECT_EQ(ko, -999.999f);
  EXPECT_EQ(zo, 50.0f);
  zoe = 40.0f;
  zoo = 60.0f;
  sl1zo(cc, ko, sl1zo_coupling_from_pair, zo, zoe, zoo);
  EXPECT_LT(cc, 0.0f);
  EXPECT_EQ(ko, -999.999f);
}

TEST(Sl1zo, ThreeDecibelPair) {
  float cc = 0.0f, ko = -3.0103f, zo = 50.0f, zoe = 0.0f, zoo = 0.0f;
  sl1zo(cc, ko, sl1zo_pair_from_coupling, zo, zoe, zoo);
  EXPECT_NEAR(cc, 0.707107f, 2e-6f);
  EXPECT_NEAR(zoe / zoo, (1.0f + cc) / (1.0f - cc), 1e-4f);
  EXPECT_NEAR(zoe, 120.7107f, 2e-3f);  // 50 sqrt(1.7071/0.2929)
  EXPECT_NEAR(zoo, 20.7107f, 2e-4f);
}

TEST(Sl1zo, RoundTrip) {
  for (const float ko_in : {-3.0f, -6.0f, -10.0f, -20.0f, -30.0f}) {
    for (const float zo_in : {25.0f, 50.0f, 75.0f}) {
      float cc = 0.0f, ko = ko_in, zo = zo_in, zoe = 0.0f, zoo = 0.0f;
      sl1zo(cc, ko, sl1zo_pair_from_coupling, zo, zoe, zoo);
      float cc2 = 0.0f, ko2 = 0.0f, zo2 = 0.0f;
      sl1zo(cc2, ko2, sl1zo_coupling_from_pair, zo2, zoe, zoo);
      EXPECT_NEAR(zo2, zo_in, 2e-6f * zo_in);
      EXPECT_NEAR(ko2, ko_in, 1e-4f);
      EXPECT_NEAR(cc2, cc, 2e-6f);
    }
  }
}

}  // namespace
}  // namespace kx
