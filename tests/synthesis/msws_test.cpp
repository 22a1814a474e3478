// Strip width and spacing synthesis: the returned cross-section re-analysed
// with the model chain must realise the targets; unreachable targets end.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "chain.h"
#include "common/records.h"
#include "synthesis/msws_internal.h"
#include "synthesis/synthesis.h"

namespace kx {
namespace {

using Exit = MswsStats::Exit;
using testing::analyse;
using testing::Section;

constexpr float kH = 0.025f;  // inch

struct Targets {
  float zoe, zoo;
  double cc, zo;
};

// Even/odd impedances of an ideal TEM coupler of impedance zo and coupling
// db (positive dB): cc = 10^(-db/20), Zoe/Zoo = (1 + cc)/(1 - cc), Zo^2 = Zoe Zoo.
Targets targets(double zo, double db) {
  const double cc = std::pow(10.0, -db / 20.0);
  const double zoe = zo * std::sqrt((1.0 + cc) / (1.0 - cc));
  const double zoo = zo * std::sqrt((1.0 - cc) / (1.0 + cc));
  const auto zoe_f = static_cast<float>(zoe);
  const auto zoo_f = static_cast<float>(zoo);
  // The targets as the routine sees them, after rounding to 32 bits.
  const double zoe_r = zoe_f;
  const double zoo_r = zoo_f;
  return {zoe_f, zoo_f, (zoe_r - zoo_r) / (zoe_r + zoo_r), std::sqrt(zoe_r * zoo_r)};
}

struct Outcome {
  int iflag{-7};
  float s{-1.0f}, w{-1.0f};
  MswsStats stats;
  Records rec;
};

Outcome synthesise(const Section& x, const Targets& tg) {
  Outcome o;
  msws_counted(o.rec, x.er, x.f, x.h, x.h2, o.iflag, o.s, x.t, o.w, tg.zoe, tg.zoo, o.stats);
  return o;
}

const char* name(Exit e) {
  switch (e) {
    case Exit::converged:
      return "converged";
    case Exit::width_unchanged:
      return "width unchanged";
    case Exit::model_flag:
      return "model flag";
    case Exit::too_wide:
      return "too wide";
    case Exit::search_bound:
      return "search bound";
    case Exit::outer_bound:
      return "outer bound";
  }
  return "?";
}

void expect_within_bounds(const MswsStats& st) {
  EXPECT_LE(st.longest_search, 1000);
  EXPECT_LE(st.outer_steps, 100);
  EXPECT_LE(st.evaluations, 100 * 1000);
}

TEST(Msws, ReanalysedCrossSectionMeetsTheTargets) {
  const float ers[] = {2.2f, 4.5f, 10.0f};
  const float covers[] = {2.0f, 5.0f, 1000.0f};  // h2/h
  const float thicknesses[] = {0.0f, 0.0014f};
  const float freqs[] = {0.0f, 10.0f};
  const double zos[] = {30.0, 50.0, 75.0, 100.0};
  const double dbs[] = {6.0, 8.0, 10.0, 15.0, 20.0};
  int converged = 0;
  int unchanged = 0;
  int flagged = 0;
  for (float er : ers) {
    for (float cover : covers) {
      for (float t : thicknesses) {
        for (float f : freqs) {
          for (double zo : zos) {
            for (double db : dbs) {
              std::ostringstream where;
              where << "er " << er << " h2/h " << cover << " t " << t << " f " << f << " zo " << zo
                    << " -" << db << " dB";
              SCOPED_TRACE(where.str());
              const Targets tg = targets(zo, db);
              Section x{er, f, kH, cover * kH, 0.0f, t, 0.0f};
              const Outcome o = synthesise(x, tg);
              expect_within_bounds(o.stats);
              x.s = o.s;
              x.w = o.w;
              if (o.stats.exit == Exit::model_flag) {
                // Left the model's range (thick strips at a tight gap): the
                // flag and S, W are those of the evaluation that raised it.
                ++flagged;
                EXPECT_NE(o.iflag, 0);
                EXPECT_EQ(analyse(x).iflag, o.iflag);
                continue;
              }
              ASSERT_EQ(o.iflag, 0) << name(o.stats.exit);
              ASSERT_TRUE(o.stats.exit == Exit::converged || o.stats.exit == Exit::width_unchanged)
                  << name(o.stats.exit);
              EXPECT_GT(x.s, 0.0f);
              EXPECT_GT(x.w, 0.0f);
              EXPECT_LE(x.w / x.h, 11.0f);
              const Modes r = analyse(x);
              EXPECT_EQ(r.iflag, 0);
              // The records describe the returned cross-section.
              EXPECT_EQ(o.rec.lcdis1.zoef, r.zoe);
              EXPECT_EQ(o.rec.lcdis1.zoof, r.zoo);
              EXPECT_EQ(o.rec.lceff1.effef, r.eff_e);
              EXPECT_EQ(o.rec.lceff1.effof, r.eff_o);
              EXPECT_EQ(o.rec.lceff1.effcf, r.eff_c);
              const double zoe = r.zoe;
              const double zoo = r.zoo;
              const double cc = (zoe - zoo) / (zoe + zoo);
              const double zo_got = std::sqrt(zoe * zoo);
              if (o.stats.exit == Exit::converged) {
                ++converged;
                EXPECT_LT(std::fabs(cc / tg.cc - 1.0), 5e-4);
                EXPECT_LT(std::fabs(zo_got / tg.zo - 1.0), 5e-4);
              } else {
                // The width step stalled: Zo is met to rounding, the coupling
                // to the tolerance of the search that stalled (at most 10.05 %).
                ++unchanged;
                EXPECT_LT(std::fabs(zo_got / tg.zo - 1.0), 5e-4);
                EXPECT_LT(std::fabs(cc / tg.cc - 1.0), 0.1005);
              }
            }
          }
        }
      }
    }
  }
  // The stalled width step is the exception, not the rule.
  EXPECT_GT(converged, 10 * unchanged)
      << converged << " converged, " << unchanged << " ended on an unchanged width";
}

// Akhtarzad-Rowbotham-Johns estimate for uncovered zero-thickness strips,
// each mode's equivalent single strip (Zoe/2, Zoo/2) sized by Wheeler's
// W/H = (8/p) sqrt((7 + 4/er)/11 p + (1 + 1/er)/0.81), p = exp(Z sqrt(er + 1)/42.4) - 1.
struct Estimate {
  double s_h, w_h;
};
Estimate akhtarzad(double er, double zoe, double zoo) {
  const auto wheeler = [er](double z) {
    const double p = std::exp(z * std::sqrt(er + 1.0) / 42.4) - 1.0;
    return 8.0 / p * std::sqrt((7.0 + 4.0 / er) / 11.0 * p + (1.0 + 1.0 / er) / 0.81);
  };
  const double kPi = 3.14159265358979323846;
  const double ce = std::cosh(kPi * wheeler(zoe / 2.0) / 2.0);
  const double co = std::cosh(kPi * wheeler(zoo / 2.0) / 2.0);
  const double g = (ce + co - 2.0) / (co - ce);
  const double s_h = 2.0 / kPi * std::acosh(g);
  const double w_h = std::acosh(0.5 * ((g + 1.0) * ce + g - 1.0)) / kPi - s_h / 2.0;
  return {s_h, w_h};
}

TEST(Msws, FirstEvaluationOutsideTheModelReturnsTheStartingEstimate) {
  // Thick strips under a low cover on a 2.2 substrate leave the model's
  // range at once, so S and W come back as the closed-form estimate.
  {
    const Targets tg = targets(30.0, 25.0);  // Zoo above Zoe under the cover
    const Outcome o = synthesise({2.2f, 0.0f, kH, 2.0f * kH, 0.0f, 0.0014f, 0.0f}, tg);
    ASSERT_EQ(o.stats.exit, Exit::model_flag);
    ASSERT_EQ(o.stats.evaluations, 1);
    const Estimate e = akhtarzad(2.2, tg.zoe, tg.zoo);
    ASSERT_GT(e.s_h * double{kH}, 0.0005);
    EXPECT_NEAR(o.s / kH, e.s_h, 1e-4 * e.s_h);
    EXPECT_NEAR(o.w / kH, e.w_h, 1e-4 * e.w_h);
  }
  {
    // A tight coupling whose estimated gap is below 0.0005 inch starts there.
    const Targets tg = targets(75.0, 8.0);
    const Outcome o = synthesise({2.2f, 10.0f, kH, 2.0f * kH, 0.0f, 0.0014f, 0.0f}, tg);
    ASSERT_EQ(o.stats.exit, Exit::model_flag);
    ASSERT_EQ(o.stats.evaluations, 1);
    const Estimate e = akhtarzad(2.2, tg.zoe, tg.zoo);
    ASSERT_LT(e.s_h * double{kH}, 0.0005);
    EXPECT_EQ(o.s, 0.0005f);
    EXPECT_NEAR(o.w / kH, e.w_h, 1e-4 * e.w_h);  // from the unclamped spacing term
  }
}

TEST(Msws, StripsWiderThanElevenSubstrateHeightsRaiseTheFlag) {
  // -20 dB on a 2.2 substrate: 18 ohms needs W/H a little above 11, 19 ohms
  // a little below.
  {
    const Targets tg = targets(18.0, 20.0);
    Records rec;
    int iflag = 0;
    float s = 0.0f;
    float w = 0.0f;
    msws(rec, 2.2f, 0.0f, kH, 10.0f * kH, iflag, s, 0.0f, w, tg.zoe, tg.zoo);
    EXPECT_EQ(iflag, 1);
    EXPECT_GT(w / kH, 11.0f);
    EXPECT_LT(w / kH, 12.0f);
  }
  {
    const Targets tg = targets(19.0, 20.0);
    const Outcome o = synthesise({2.2f, 0.0f, kH, 10.0f * kH, 0.0f, 0.0f, 0.0f}, tg);
    EXPECT_EQ(o.iflag, 0);
    EXPECT_EQ(o.stats.exit, Exit::converged) << name(o.stats.exit);
    EXPECT_GT(o.w / kH, 10.0f);
    EXPECT_LT(o.w / kH, 11.0f);
  }
}

TEST(Msws, CouplingTighterThanAnyGapEndsTheSearchWithTheFlag) {
  // -2 dB at 30 ohms on a 2.2 substrate: the search halves S toward zero
  // without reaching the coupling, until its evaluation bound.
  for (float f : {0.0f, 10.0f}) {
    SCOPED_TRACE(::testing::Message() << "f " << f);
    const Outcome o = synthesise({2.2f, f, kH, 10.0f * kH, 0.0f, 0.0f, 0.0f}, targets(30.0, 2.0));
    EXPECT_EQ(o.iflag, 1);
    EXPECT_EQ(o.stats.exit, Exit::search_bound) << name(o.stats.exit);
    EXPECT_EQ(o.stats.longest_search, 1000);
    EXPECT_LE(o.s, 1.0e-8f);
    expect_within_bounds(o.stats);
  }
  // -0.1 dB (Zoe/Zoo about 170): the odd-mode equivalent strip is so wide
  // that the estimate overflows single precision; the search still ends.
  for (float er : {2.2f, 10.0f}) {
    SCOPED_TRACE(::testing::Message() << "er " << er);
    const Outcome o = synthesise({er, 0.0f, kH, 10.0f * kH, 0.0f, 0.0f, 0.0f}, targets(50.0, 0.1));
    EXPECT_EQ(o.iflag, 1);
    expect_within_bounds(o.stats);
  }
  // -0.5 dB on a 10 substrate: the gap closes until the model's validity flag stops it.
  const Outcome o = synthesise({10.0f, 0.0f, kH, 10.0f * kH, 0.0f, 0.0f, 0.0f}, targets(50.0, 0.5));
  EXPECT_EQ(o.iflag, 1);
  EXPECT_EQ(o.stats.exit, Exit::model_flag) << name(o.stats.exit);
  expect_within_bounds(o.stats);
}

TEST(Msws, WidthStepThatNeverSettlesEndsAtTheOuterBound) {
  // -2 dB at 75 ohms on a 2.2 substrate at 10 GHz needs a gap under a
  // micron, where one spacing step moves Zo by more than the tolerance:
  // the width step cycles around the target without meeting both errors.
  const Outcome o = synthesise({2.2f, 10.0f, kH, 10.0f * kH, 0.0f, 0.0f, 0.0f}, targets(75.0, 2.0));
  EXPECT_EQ(o.iflag, 1);
  EXPECT_EQ(o.stats.exit, Exit::outer_bound) << name(o.stats.exit);
  EXPECT_EQ(o.stats.outer_steps, 100);
  // S and W are those of the last evaluation, and the records describe them.
  const Modes r = analyse({2.2f, 10.0f, kH, 10.0f * kH, o.s, 0.0f, o.w});
  EXPECT_EQ(o.rec.lcdis1.zoef, r.zoe);
  EXPECT_EQ(o.rec.lcdis1.zoof, r.zoo);
}

TEST(Msws, NearlyEqualModeImpedancesEnd) {
  // Zoe - Zoo of 0.01 ohm needs a gap of many substrate heights; the search
  // ends, either on the model's flag or on the targets.
  for (float er : {2.2f, 10.0f}) {
    for (float f : {0.0f, 10.0f}) {
      SCOPED_TRACE(::testing::Message() << "er " << er << " f " << f);
      const Outcome o =
          synthesise({er, f, kH, 10.0f * kH, 0.0f, 0.0f, 0.0f}, {50.005f, 49.995f, 1e-4, 50.0});
      expect_within_bounds(o.stats);
      if (o.iflag == 0 && o.stats.exit == Exit::converged) {
        const Modes r = analyse({er, f, kH, 10.0f * kH, o.s, 0.0f, o.w});
        EXPECT_NEAR(std::sqrt(double{r.zoe} * double{r.zoo}), 50.0, 50.0 * 5e-4);
      } else {
        EXPECT_NE(o.iflag, 0) << name(o.stats.exit);
      }
    }
  }
}

TEST(Msws, TargetsMayBeTheRecordItOverwrites) {
  // The driver's coupling sweep passes lcdis1's own members as the targets.
  const Targets tg = targets(50.0, 10.0);
  Records direct;
  int iflag1 = -1;
  float s1 = 0.0f;
  float w1 = 0.0f;
  msws(direct, 9.8f, 10.0f, kH, 10.0f * kH, iflag1, s1, 0.0007f, w1, tg.zoe, tg.zoo);
  Records shared;
  shared.lcdis1 = {tg.zoe, tg.zoo};
  int iflag2 = -1;
  float s2 = 0.0f;
  float w2 = 0.0f;
  msws(shared, 9.8f, 10.0f, kH, 10.0f * kH, iflag2, s2, 0.0007f, w2, shared.lcdis1.zoef,
       shared.lcdis1.zoof);
  EXPECT_EQ(iflag1, 0);
  EXPECT_EQ(iflag2, iflag1);
  EXPECT_EQ(s2, s1);
  EXPECT_EQ(w2, w1);
}

}  // namespace
}  // namespace kx
