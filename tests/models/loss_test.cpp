// Conductor and dielectric losses of the coupled pair.
#include <cmath>

#include <gtest/gtest.h>

#include <kestrelix/coupled_line.h>

#include "models/chain.h"
#include "models/dispersion/dispersion.h"
#include "models/loss/loss.h"
#include "models/loss/skin_effect.h"
#include "models/static/static_models.h"

namespace kx {
namespace {

// Copper, 1.7 micro-ohm cm entered as the dialogue stores it (ohm inch).
const float kCopper = 1.7f * 1.0e-6f / 2.54f;

struct Losses {
  float ate{}, ato{};
};

// Static chain for the cross-section (fills rec.ms1pv as the driver's would),
// then the losses with the dispersive permittivities set to effef, effof.
Losses losses(Records& rec, float er, float f, float h, float h2, float res, float s, float sr,
              float t, float tlos, float w, float effef, float effof) {
  ChainValues c;
  int iflag = 0;
  Section sec;
  sec.er = er;
  sec.h = h;
  sec.h2 = h2;
  sec.w = w;
  sec.s = s;
  sec.t = t;
  evaluate_chain(rec, c, sec, static_frequency, ModeSet::both, iflag);
  rec.lceff1.effef = effef;
  rec.lceff1.effof = effof;
  Losses l;
  ms1los(rec, l.ate, l.ato, er, f, h, h2, res, s, sr, t, tlos, w);
  return l;
}

TEST(SkinEffect, CopperAtOneGigahertz) {
  EXPECT_NEAR(kCopper, 6.6929e-7f, 5e-11f);
  // rs = sqrt(pi f uo res) = 0.008192 ohm; skin depth 8.170e-5 inch (81.7 uin).
  EXPECT_NEAR(skin::surface_resistance(1.0f, kCopper), 0.008192f, 5e-7f);
  const float sd = skin::skin_depth(1.0f, kCopper);
  EXPECT_NEAR(sd, 8.170e-5f, 5e-9f);
  // Hammerstad-Bekkadal: 100 uin RMS roughness raises rs by 1.7168.
  EXPECT_NEAR(skin::roughness_factor(1.0e-4f, sd), 1.7168f, 5e-5f);
  EXPECT_EQ(skin::roughness_factor(0.0f, sd), 1.0f);
  // Roughness far above the skin depth at most doubles rs.
  EXPECT_NEAR(skin::roughness_factor(1.0e-2f, sd), 2.0f, 1e-4f);
  EXPECT_LT(skin::roughness_factor(1.0e-2f, sd), 2.0f);
}

TEST(Ms1los, RoughnessScalesConductorTerm) {
  Records rec;
  const Losses smooth = losses(rec, 9.8f, 1.0f, 0.025f, 25.0f, kCopper, 0.0125f, 0.0f, 0.0f, 0.0f,
                               0.025f, 7.6f, 5.8f);
  const Losses rough = losses(rec, 9.8f, 1.0f, 0.025f, 25.0f, kCopper, 0.0125f, 1.0e-4f, 0.0f, 0.0f,
                              0.025f, 7.6f, 5.8f);
  EXPECT_NEAR(rough.ate / smooth.ate, 1.7168f, 1e-4f);
  EXPECT_NEAR(rough.ato / smooth.ato, 1.7168f, 1e-4f);
}

TEST(Ms1los, DielectricTermOnItsOwn) {
  // pi 8.686 (er/(er-1)) ((eff-1)/sqrt(eff)) tan(d)/lambda0 with er = 10,
  // tan(d) = 0.001, eff = 6.5, lambda0 = 11.802855 inch: 0.005542 dB/inch.
  Records rec;
  const Losses l = losses(rec, 10.0f, 1.0f, 0.025f, 25.0f, 0.0f, 0.0125f, 0.0f, 0.0f, 0.001f,
                          0.025f, 6.5f, 1.0f);
  EXPECT_NEAR(l.ate, 0.005542f, 5e-7f);
  EXPECT_EQ(l.ato, 0.0f);  // eff = 1: no field in the dielectric, no loss
}

TEST(Ms1los, ConductorAndDielectricTermsAdd) {
  Records rec;
  const Losses c = losses(rec, 9.8f, 3.0f, 0.025f, 0.075f, kCopper, 0.0125f, 2e-5f, 0.0014f, 0.0f,
                          0.025f, 7.0f, 5.9f);
  const Losses d = losses(rec, 9.8f, 3.0f, 0.025f, 0.075f, 0.0f, 0.0125f, 2e-5f, 0.0014f, 0.0002f,
                          0.025f, 7.0f, 5.9f);
  const Losses both = losses(rec, 9.8f, 3.0f, 0.025f, 0.075f, kCopper, 0.0125f, 2e-5f, 0.0014f,
                             0.0002f, 0.025f, 7.0f, 5.9f);
  EXPECT_GT(c.ate, 0.0f);
  EXPECT_GT(d.ate, 0.0f);
  EXPECT_EQ(both.ate, c.ate + d.ate);
  EXPECT_EQ(both.ato, c.ato + d.ato);
}

TEST(Ms1los, ZeroFrequencyIsLossless) {
  Records rec;
  rec.lceff1.effef = NAN;  // not read at f = 0
  rec.lceff1.effof = NAN;
  float ate = -1.0f;
  float ato = -1.0f;
  ms1los(rec, ate, ato, 9.8f, 0.0f, 0.025f, 0.075f, kCopper, 0.0125f, 1e-4f, 0.0014f, 0.01f,
         0.025f);
  EXPECT_EQ(ate, 0.0f);
  EXPECT_EQ(ato, 0.0f);
}

TEST(Ms1los, FrequencyScaling) {
  // Smooth conductor, fixed permittivities: the conductor term grows as
  // sqrt(f), the dielectric term as f.
  Records rec;
  const Losses c1 = losses(rec, 9.8f, 2.0f, 0.025f, 25.0f, kCopper, 0.0125f, 0.0f, 0.0014f, 0.0f,
                           0.025f, 7.0f, 5.9f);
  const Losses c2 = losses(rec, 9.8f, 4.0f, 0.025f, 25.0f, kCopper, 0.0125f, 0.0f, 0.0014f, 0.0f,
                           0.025f, 7.0f, 5.9f);
  EXPECT_NEAR(c2.ate / c1.ate, std::sqrt(2.0f), 1e-5f);
  EXPECT_NEAR(c2.ato / c1.ato, std::sqrt(2.0f), 1e-5f);
  const Losses d1 = losses(rec, 9.8f, 2.0f, 0.025f, 25.0f, 0.0f, 0.0125f, 0.0f, 0.0014f, 0.0005f,
                           0.025f, 7.0f, 5.9f);
  const Losses d2 = losses(rec, 9.8f, 4.0f, 0.025f, 25.0f, 0.0f, 0.0125f, 0.0f, 0.0014f, 0.0005f,
                           0.025f, 7.0f, 5.9f);
  EXPECT_NEAR(d2.ate / d1.ate, 2.0f, 2e-6f);
  EXPECT_NEAR(d2.ato / d1.ato, 2.0f, 2e-6f);
}

TEST(Ms1los, AirSubstrateCarriesNoDielectricLoss) {
  Records rec;
  const Losses conductor = losses(rec, 1.0f, 5.0f, 0.025f, 0.075f, kCopper, 0.0125f, 0.0f, 0.0014f,
                                  0.0f, 0.025f, 1.0f, 1.0f);
  const Losses with_tangent = losses(rec, 1.0f, 5.0f, 0.025f, 0.075f, kCopper, 0.0125f, 0.0f,
                                     0.0014f, 0.002f, 0.025f, 1.0f, 1.0f);
  EXPECT_TRUE(std::isfinite(with_tangent.ate));
  EXPECT_TRUE(std::isfinite(with_tangent.ato));
  EXPECT_GT(conductor.ate, 0.0f);
  EXPECT_EQ(with_tangent.ate, conductor.ate);
  EXPECT_EQ(with_tangent.ato, conductor.ato);
}

TEST(Ms1los, ConductorTermMatchesDoublePrecisionDerivatives) {
  // Reference: the same incremental-inductance rule evaluated in double
  // precision on an independent transcription of the air-filled static model
  // (copper, smooth, 1 GHz). The float forward differences carry a few 1e-3 of
  // rounding noise.
  struct Case {
    float er, h, h2, s, t, w, effef, effof, ate, ato;
  };
  const Case cases[] = {
      {9.8f, 0.025f, 0.075f, 0.0125f, 0.0014f, 0.025f, 7.0f, 5.9f, 0.0224337f, 0.0353631f},
      {9.8f, 0.025f, 25.0f, 0.0125f, 0.0f, 0.025f, 7.0f, 5.9f, 0.0123449f, 0.0167180f},
      {2.2f, 0.06f, 0.3f, 0.012f, 0.0007f, 0.18f, 2.0f, 1.8f, 0.00371996f, 0.00853913f},
  };
  for (const Case& k : cases) {
    Records rec;
    const Losses l =
        losses(rec, k.er, 1.0f, k.h, k.h2, kCopper, k.s, 0.0f, k.t, 0.0f, k.w, k.effef, k.effof);
    EXPECT_NEAR(l.ate, k.ate, 0.015f * k.ate);
    EXPECT_NEAR(l.ato, k.ato, 0.015f * k.ato);
  }
}

TEST(Ms1los, WideGapAgreesWithPucelWheelerFormula) {
  // An isolated strip (S = 50 H), air filled, W/H = 1, T/H = 0.056, copper at
  // 1 GHz. Pucel's closed form of Wheeler's rule for 1/(2 pi) < W/H <= 2,
  // 8.686 Rs/(2 pi Z0 H) (1 - (W'/4H)^2)(1 + H/W' + H/(pi W')(ln(2H/T) - T/H)),
  // gives 0.01012 dB/inch with Z0 = 120.947 ohm and W'/H = 1.10195; the
  // numerical derivatives agree within 10 %.
  Records rec;
  const float h = 0.025f;
  const Losses l = losses(rec, 1.0f, 1.0f, h, 1000.0f * h, kCopper, 50.0f * h, 0.0f, 0.056f * h,
                          0.0f, h, 1.0f, 1.0f);
  EXPECT_NEAR(l.ate, 0.01012f, 0.001f);
}

}  // namespace
}  // namespace kx
