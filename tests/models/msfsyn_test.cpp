// Design centre frequency from the coupler length.
#include <gtest/gtest.h>

#include <cmath>

#include "common/records.h"
#include "models/chain.h"
#include "models/dispersion/dispersion.h"

#include "models/dispersion/msfsyn.h"

namespace kx {
namespace {

constexpr float kC = 11.802855f;  // inches per nanosecond

// Static values of one cross-section, as the dialogue passes them.
struct Pair {
  float er, h, s, wte, wto, effc, effe, effo;
};

Pair make_pair(float er, float h, float s, float t, float w) {
  Records rec;
  ChainValues c;
  int iflag = 0;
  Section sec;
  sec.er = er;
  sec.h = h;
  sec.h2 = 10.0f * h;
  sec.w = w;
  sec.s = s;
  sec.t = t;
  evaluate_chain(rec, c, sec, static_frequency, ModeSet::both, iflag);
  return Pair{er, h, s, c.wte, c.wto, c.effc, c.effe, c.effo};
}

float effcf_at(const Pair& p, float f) {
  Records rec;
  lceff(rec, p.effc, p.effe, p.effo, p.er, f, p.h, ieoro_both, iop_both_modes, p.s, p.wte, p.wto);
  return rec.lceff1.effcf;
}

float synth(Records& rec, const Pair& p, float l) {
  float f = -1.0f;
  msfsyn(rec, p.effc, p.effe, p.effo, p.er, f, p.h, l, p.s, p.wte, p.wto);
  return f;
}

// The quarter-wave length at f, formed as the search forms it.
float quarter_wave(const Pair& p, float f) { return kC / (4.0f * f * std::sqrt(effcf_at(p, f))); }

const Pair& alumina() {
  static const Pair p = make_pair(9.8f, 0.025f, 0.008f, 0.0007f, 0.022f);
  return p;
}

TEST(Msfsyn, ReturnedFrequencyMakesTheLengthAQuarterWave) {
  const Pair pairs[] = {alumina(), make_pair(2.2f, 0.031f, 0.01f, 0.0f, 0.09f),
                        make_pair(4.5f, 0.06f, 0.004f, 0.0014f, 0.1f)};
  const float lengths[] = {0.02f, 0.1f, 0.29f, 0.7f, 1.3f, 4.0f};
  for (const Pair& p : pairs) {
    for (float l : lengths) {
      Records rec;
      const float f = synth(rec, p, l);
      ASSERT_GT(f, 0.0f) << p.er << " " << l;
      const double lq = double{kC} / (4.0 * double{f} * std::sqrt(double{effcf_at(p, f)}));
      EXPECT_LT(std::fabs(lq - double{l}), 1e-4 * double{l}) << p.er << " " << l << " f " << f;
      // lceff1 is left at the returned frequency.
      EXPECT_EQ(rec.lceff1.effcf, effcf_at(p, f));
    }
  }
}

TEST(Msfsyn, ExactQuarterWaveAtTheFirstCandidatesIsReturnedExactly) {
  // 10 GHz is the first candidate; 5 and 2.5 GHz are reached after the
  // first candidates overshoot and the search restarts from 0 with half the step.
  for (float fq : {10.0f, 5.0f, 2.5f}) {
    Records rec;
    EXPECT_EQ(synth(rec, alumina(), quarter_wave(alumina(), fq)), fq);
  }
}

TEST(Msfsyn, AirFilledPairScalesInverselyWithLength) {
  // With er = 1 the coupler permittivity is 1 at every frequency: Fo = c/(4 L).
  const Pair air = make_pair(1.0f, 0.025f, 0.01f, 0.0f, 0.05f);
  for (float l : {0.05f, 0.1f, 0.2f, 0.4f, 3.0f}) {
    Records rec;
    const double f = synth(rec, air, l);
    const double exact = 11.802855 / (4.0 * double{l});
    EXPECT_NEAR(f / exact, 1.0, 1e-4) << l;
  }
}

TEST(Msfsyn, UnreachableLengthsEnd) {
  // A length of 1e-8 inch needs about 3e8 GHz: far beyond the bounded climb
  // in 10 GHz steps (and beyond 2^24 GHz such a step no longer changes the
  // candidate). The search ends on a candidate whose quarter wave is still too long.
  {
    Records rec;
    const float l = 1.0e-8f;
    const float f = synth(rec, alumina(), l);
    EXPECT_TRUE(std::isfinite(f));
    EXPECT_GT(f, 10.0f);
    EXPECT_GT(quarter_wave(alumina(), f), l);
    EXPECT_EQ(rec.lceff1.effcf, effcf_at(alumina(), f));
  }
  // Non-positive lengths never meet the tolerance: every candidate
  // overshoots, the step halves away and the search still ends.
  for (float l : {0.0f, -0.5f}) {
    Records rec;
    const float f = synth(rec, alumina(), l);
    EXPECT_TRUE(std::isfinite(f)) << l;
    EXPECT_GE(f, 0.0f) << l;
  }
}

}  // namespace
}  // namespace kx
