// Frequency dispersion of the single line (mszo) and of the coupled pair
// (lceff, lcdis). Reference figures come from a double-precision evaluation of
// the published Kirschning-Jansen and Jansen-Kirschning forms, written
// independently of the code.
#include <cmath>

#include <gtest/gtest.h>

#include <kestrelix/coupled_line.h>

#include "models/chain.h"
#include "models/dispersion/dispersion.h"
#include "models/static/static_models.h"

namespace kx {
namespace {

struct Cut {
  float er, h, h2, s, t, w;
};

struct Chain : ChainValues {
  int iflag{-1};
};

// The static part of the evaluation chain, both modes.
Chain statics(Records& rec, const Cut& x) {
  Chain c;
  Section sec;
  sec.er = x.er;
  sec.h = x.h;
  sec.h2 = x.h2;
  sec.w = x.w;
  sec.s = x.s;
  sec.t = x.t;
  evaluate_chain(rec, c, sec, static_frequency, ModeSet::both, c.iflag);
  return c;
}

// Er 9.8, H 25 mil, W/H 1, S/H 0.5: uncovered and under a cover at 3 H.
constexpr Cut kOpen{9.8f, 0.025f, 25.0f, 0.0125f, 0.0f, 0.025f};
constexpr Cut kCovered{9.8f, 0.025f, 0.075f, 0.0125f, 0.0f, 0.025f};
// Er 2.2, H 60 mil, W/H 3, S/H 0.2, cover at 5 H.
constexpr Cut kSoft{2.2f, 0.06f, 0.3f, 0.012f, 0.0f, 0.18f};

// ---- mszo --------------------------------------------------------------

TEST(Mszo, MatchesKirschningJansen) {
  Records rec;
  // Er = 10, W/H = 1, H = 25 mil, 10 GHz (fn = 6.35 GHz mm).
  mszo(rec, 6.705257f, 10.0f, 10.0f, 0.025f, 0.025f, 48.82267f);
  EXPECT_NEAR(rec.mszo1.eff, 7.067849f, 2e-5f);
  EXPECT_NEAR(rec.mszo1.zof, 49.26812f, 2e-4f);
  // Er = 2.2, W/H = 3, H = 60 mil, 18 GHz (fn = 27.4 GHz mm).
  mszo(rec, 1.847221f, 2.2f, 18.0f, 0.06f, 0.18f, 49.54541f);
  EXPECT_NEAR(rec.mszo1.eff, 1.990665f, 1e-5f);
  EXPECT_NEAR(rec.mszo1.zof, 54.79832f, 3e-4f);
}

TEST(Mszo, StaticValuesForAirOrZeroFrequency) {
  Records rec;
  // Er = 1 stops at once, whatever static values come in (1.2 shows that the
  // formulas are not evaluated: they would move eff toward er).
  mszo(rec, 1.2f, 1.0f, 10.0f, 0.025f, 0.025f, 126.4239f);
  EXPECT_EQ(rec.mszo1.eff, 1.2f);
  EXPECT_EQ(rec.mszo1.zof, 126.4239f);
  mszo(rec, 6.705257f, 10.0f, 0.0f, 0.025f, 0.025f, 48.82267f);
  EXPECT_EQ(rec.mszo1.eff, 6.705257f);
  EXPECT_EQ(rec.mszo1.zof, 48.82267f);
}

// ---- lceff -------------------------------------------------------------

TEST(Lceff, MatchesKirschningJansen) {
  Records rec;
  const Chain a = statics(rec, kOpen);
  lceff(rec, a.effc, a.effe, a.effo, 9.8f, 10.0f, 0.025f, ieoro_both, iop_both_modes, 0.0125f,
        a.wte, a.wto);
  EXPECT_NEAR(rec.lceff1.effef, 7.639628f, 3e-5f);
  EXPECT_NEAR(rec.lceff1.effof, 5.827884f, 3e-5f);
  EXPECT_FLOAT_EQ(rec.lceff1.effcf, 2.0f * rec.lceff1.effef * rec.lceff1.effof /
                                        (rec.lceff1.effef + rec.lceff1.effof));
  const Chain b = statics(rec, kSoft);
  lceff(rec, b.effc, b.effe, b.effo, 2.2f, 18.0f, 0.06f, ieoro_both, iop_both_modes, 0.012f, b.wte,
        b.wto);
  EXPECT_NEAR(rec.lceff1.effef, 2.068119f, 1e-5f);
  EXPECT_NEAR(rec.lceff1.effof, 1.834037f, 1e-5f);
}

TEST(Lceff, StaticValuesAtZeroOrNegativeFrequency) {
  for (const float f : {0.0f, -1.0f}) {
    Records rec;
    lceff(rec, 6.1f, 7.1f, 5.7f, 9.8f, f, 0.025f, ieoro_both, iop_both_modes, 0.0125f, 0.025f,
          0.025f);
    EXPECT_EQ(rec.lceff1.effcf, 6.1f);
    EXPECT_EQ(rec.lceff1.effef, 7.1f);
    EXPECT_EQ(rec.lceff1.effof, 5.7f);
  }
}

TEST(Lceff, SingleModeLeavesOtherModeStatic) {
  Records rec;
  const Chain a = statics(rec, kOpen);
  lceff(rec, a.effc, a.effe, a.effo, 9.8f, 10.0f, 0.025f, ieoro_even, iop_single_mode, 0.0125f,
        a.wte, a.wto);
  EXPECT_NEAR(rec.lceff1.effef, 7.639628f, 3e-5f);
  EXPECT_EQ(rec.lceff1.effof, a.effo);
  EXPECT_EQ(rec.lceff1.effcf, a.effc);
  lceff(rec, a.effc, a.effe, a.effo, 9.8f, 10.0f, 0.025f, ieoro_odd, iop_single_mode, 0.0125f,
        a.wte, a.wto);
  EXPECT_EQ(rec.lceff1.effef, a.effe);
  EXPECT_NEAR(rec.lceff1.effof, 5.827884f, 3e-5f);
  EXPECT_EQ(rec.lceff1.effcf, a.effc);
}

TEST(Lceff, AirFilledPairDoesNotDisperse) {
  Records rec;
  for (const float f : {1.0f, 10.0f, 60.0f}) {
    lceff(rec, 1.0f, 1.0f, 1.0f, 1.0f, f, 0.025f, ieoro_both, iop_both_modes, 0.0125f, 0.025f,
          0.027f);
    EXPECT_EQ(rec.lceff1.effcf, 1.0f);
    EXPECT_EQ(rec.lceff1.effef, 1.0f);
    EXPECT_EQ(rec.lceff1.effof, 1.0f);
  }
}

TEST(Lceff, WideGapEvenModeDispersesLikeSingleStrip) {
  // For g > 10.6, P7 = 1 and the even-mode dispersion is the single-line one.
  Records rec;
  const float h = 0.025f;
  const float w = 0.03f;
  Records single;
  msimp(single, 9.8f, h, 1000.0f * h, 0.0f, w);
  const float ef = single.msimp1.ef;
  for (const float f : {2.0f, 10.0f, 30.0f}) {
    lceff(rec, ef, ef, ef, 9.8f, f, h, ieoro_even, iop_single_mode, 12.0f * h, w, w);
    mszo(single, ef, 9.8f, f, h, w, single.msimp1.zo);
    EXPECT_NEAR(rec.lceff1.effef, single.mszo1.eff, 2e-6f * single.mszo1.eff) << "f " << f;
  }
}

// ---- lcdis -------------------------------------------------------------

float run_lcdis(Records& rec, const Cut& x, const Chain& c, float f, int ieoro, int iop,
                int& iflag) {
  lceff(rec, c.effc, c.effe, c.effo, x.er, f, x.h, ieoro, iop, x.s, c.wte, c.wto);
  lcdis(rec, c.effo, rec.lceff1.effof, x.er, f, x.h, x.h2, ieoro, iflag, iop, x.s, c.wte, c.wto,
        c.zoe, c.zoo);
  return rec.lcdis1.zoef;
}

TEST(Lcdis, MatchesKirschningJansen) {
  struct Case {
    Cut x;
    float f, zoef, zoof;
  };
  const Case cases[] = {{kOpen, 10.0f, 60.33516f, 36.83813f},
                        {kCovered, 10.0f, 58.50613f, 36.82446f},
                        {kSoft, 18.0f, 64.60953f, 39.63346f}};
  for (const Case& k : cases) {
    Records rec;
    const Chain c = statics(rec, k.x);
    int iflag = c.iflag;
    run_lcdis(rec, k.x, c, k.f, ieoro_both, iop_both_modes, iflag);
    EXPECT_EQ(iflag, 0);
    EXPECT_NEAR(rec.lcdis1.zoef, k.zoef, 4e-4f);
    EXPECT_NEAR(rec.lcdis1.zoof, k.zoof, 2e-4f);
  }
}

TEST(Lcdis, ZeroFrequencyPassesStaticValuesAndFlag) {
  for (const int flag : {0, 2}) {
    Records rec;
    int iflag = flag;
    lcdis(rec, 5.7f, 5.7f, 9.8f, 0.0f, 0.025f, 25.0f, ieoro_both, iflag, iop_both_modes, 0.0125f,
          0.025f, 0.025f, 59.6f, 37.3f);
    EXPECT_EQ(rec.lcdis1.zoef, 59.6f);
    EXPECT_EQ(rec.lcdis1.zoof, 37.3f);
    EXPECT_EQ(iflag, flag);
  }
}

TEST(Lcdis, RaisedFlagOnlyCopiesStaticValues) {
  for (const int flag : {1, 2}) {
    Records rec;
    rec.msimp1.zo = -1.0f;
    rec.mszo1.zof = -2.0f;
    int iflag = flag;
    lcdis(rec, 5.7f, 5.8f, 9.8f, 10.0f, 0.025f, 25.0f, ieoro_both, iflag, iop_both_modes, 0.0125f,
          0.025f, 0.025f, 59.6f, 37.3f);
    EXPECT_EQ(rec.lcdis1.zoef, 59.6f);
    EXPECT_EQ(rec.lcdis1.zoof, 37.3f);
    EXPECT_EQ(iflag, flag);
    EXPECT_EQ(rec.msimp1.zo, -1.0f);  // no single strip evaluated
    EXPECT_EQ(rec.mszo1.zof, -2.0f);
  }
}

TEST(Lcdis, AirFilledEvenModeKeepsStaticImpedance) {
  Records rec;
  const Cut air{1.0f, 0.025f, 0.075f, 0.0125f, 0.0f, 0.025f};
  const Chain c = statics(rec, air);
  for (const float f : {1.0f, 10.0f, 40.0f}) {
    int iflag = 0;
    run_lcdis(rec, air, c, f, ieoro_even, iop_single_mode, iflag);
    EXPECT_EQ(rec.lcdis1.zoef, c.zoe) << "f " << f;
  }
}

TEST(Lcdis, EqualWidthsReuseEvenStripLikeFreshOddStrip) {
  Records rec;
  const Chain c = statics(rec, kCovered);
  ASSERT_EQ(c.wte, c.wto);
  int iflag = 0;
  run_lcdis(rec, kCovered, c, 10.0f, ieoro_both, iop_both_modes, iflag);
  const float both = rec.lcdis1.zoof;
  // A single odd-mode call evaluates the odd strip afresh; stale single-strip
  // records must not be reused there.
  rec.msimp1 = Msimp1{-1.0f, -1.0f, -1.0f, -1.0f, -1.0f};
  rec.mszo1 = Mszo1{-1.0f, -1.0f};
  iflag = 0;
  run_lcdis(rec, kCovered, c, 10.0f, ieoro_odd, iop_single_mode, iflag);
  EXPECT_EQ(rec.lcdis1.zoof, both);
  EXPECT_EQ(rec.lcdis1.zoef, c.zoe);  // even mode left static
}

TEST(Lcdis, SingleEvenModeLeavesOddStaticAndSkipsTests) {
  Records rec;
  const Chain c = statics(rec, kOpen);
  int iflag = 0;
  lceff(rec, c.effc, c.effe, c.effo, 9.8f, 10.0f, 0.025f, ieoro_even, iop_single_mode, 0.0125f,
        c.wte, c.wto);
  // An odd-mode static value far above Zoe would fail both validity tests.
  lcdis(rec, c.effo, rec.lceff1.effof, 9.8f, 10.0f, 0.025f, 25.0f, ieoro_even, iflag,
        iop_single_mode, 0.0125f, c.wte, c.wto, c.zoe, 500.0f);
  EXPECT_NEAR(rec.lcdis1.zoef, 60.33516f, 4e-4f);
  EXPECT_EQ(rec.lcdis1.zoof, 500.0f);
  EXPECT_EQ(iflag, 0);
}

TEST(Lcdis, DispersiveValuesAreTested) {
  Records rec;
  Chain c = statics(rec, kOpen);
  std::swap(c.zoe, c.zoo);  // static Zoo above Zoe
  int iflag = 0;
  run_lcdis(rec, kOpen, c, 10.0f, ieoro_both, iop_both_modes, iflag);
  EXPECT_GT(rec.lcdis1.zoof, rec.lcdis1.zoef);
  EXPECT_NE(iflag, 0);
}

TEST(Lcdis, ContinuousAcrossGap24) {
  // Q12 is dropped above g = 24, where exp(-2.87 g) is below 1e-30.
  Records rec;
  float zoef[2] = {};
  const float gaps[2] = {24.0f, 24.01f};
  for (int i = 0; i < 2; ++i) {
    const Cut x{9.8f, 0.025f, 25.0f, gaps[i] * 0.025f, 0.0f, 0.025f};
    const Chain c = statics(rec, x);
    int iflag = 0;
    zoef[i] = run_lcdis(rec, x, c, 10.0f, ieoro_even, iop_single_mode, iflag);
    EXPECT_TRUE(std::isfinite(zoef[i]));
  }
  EXPECT_NEAR(zoef[0], zoef[1], 1e-5f * zoef[0]);
}

}  // namespace
}  // namespace kx
