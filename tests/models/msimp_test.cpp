// Covered single microstrip. Reference figures come from a double-precision
// evaluation of the published Hammerstad-Jensen forms (zero-thickness line,
// top-cover P*Q and qc, Bahl-Garg width) written independently of the code.
#include <cmath>

#include <gtest/gtest.h>

#include "common/constants.h"
#include "models/static/static_models.h"

namespace kx {
namespace {

Msimp1 run(float er, float h, float h2, float t, float w) {
  Records rec;
  msimp(rec, er, h, h2, t, w);
  return rec.msimp1;
}

TEST(Msimp, MatchesHammerstadJensenWithoutCover) {
  // Er = 10, W/H = 1, cover at 1000 H (ignored): ef 6.705257, Zo 48.82267 ohm.
  const Msimp1 m = run(10.0f, 0.025f, 25.0f, 0.0f, 0.025f);
  EXPECT_EQ(m.u, 1.0f);
  EXPECT_EQ(m.weff, 0.025f);
  EXPECT_NEAR(m.ef, 6.705257f, 2e-5f);
  EXPECT_NEAR(m.zo, 48.82267f, 2e-4f);
  EXPECT_NEAR(m.zoa, 126.42392f, 4e-4f);
}

TEST(Msimp, MatchesHammerstadJensenWithCover) {
  // Er = 10, W/H = 1, H2 = 2 H: ef 6.230710, Zo 46.40138, Zoa 115.82429.
  const Msimp1 a = run(10.0f, 0.025f, 0.05f, 0.0f, 0.025f);
  EXPECT_NEAR(a.ef, 6.230710f, 2e-5f);
  EXPECT_NEAR(a.zo, 46.40138f, 2e-4f);
  EXPECT_NEAR(a.zoa, 115.82429f, 4e-4f);
  // Er = 2.2, W/H = 3, H2 = 5 H: ef 1.847221, Zo 49.54541.
  const Msimp1 b = run(2.2f, 0.06f, 0.3f, 0.0f, 0.18f);
  EXPECT_NEAR(b.ef, 1.847221f, 1e-5f);
  EXPECT_NEAR(b.zo, 49.54541f, 2e-4f);
}

TEST(Msimp, ThickStripUsesBahlGargWidth) {
  // Wide form: dW = 1.25 t/pi (1 + ln(2H/t)); W/H = 0.5, t/H = 0.05.
  const Msimp1 wide = run(9.8f, 1.0f, 1000.0f, 0.05f, 0.5f);
  EXPECT_NEAR(wide.weff, 0.5f + 0.0932823f, 1e-6f);
  EXPECT_EQ(wide.u, 0.5f);  // u stays the physical ratio
  EXPECT_NEAR(wide.ef, 6.139309f, 2e-5f);
  EXPECT_NEAR(wide.zo, 63.21260f, 3e-4f);
  // Narrow form below W/H = 1/(2 pi): dW = 1.25 t/pi (1 + ln(4 pi W/t)).
  const Msimp1 narrow = run(9.8f, 1.0f, 1000.0f, 0.01f, 0.1f);
  EXPECT_NEAR(narrow.weff, 0.1f + 0.0232112f, 1e-6f);
  EXPECT_NEAR(narrow.ef, 5.867289f, 2e-5f);
  EXPECT_NEAR(narrow.zo, 103.31437f, 5e-4f);
}

TEST(Msimp, CoverAppliedUpToHundredH) {
  const float h = 1.0f;
  const Msimp1 open = run(10.0f, h, 1000.0f, 0.0f, 1.0f);
  // Just above 100 H the cover is ignored: bit-identical to no cover.
  const Msimp1 above = run(10.0f, h, std::nextafter(100.0f, 200.0f), 0.0f, 1.0f);
  EXPECT_EQ(above.zoa, open.zoa);
  EXPECT_EQ(above.ef, open.ef);
  EXPECT_EQ(above.zo, open.zo);
  // At exactly 100 H it still applies: P*Q = 3.555e-5 ohm off the air impedance.
  const Msimp1 at = run(10.0f, h, 100.0f, 0.0f, 1.0f);
  EXPECT_NEAR(open.zoa - at.zoa, 3.555e-5f, 1.6e-5f);
}

TEST(Msimp, NarrowStripAirImpedanceUsesLimitSix) {
  // For up below about 0.2012, f(u) = 6 exactly.
  for (const float u : {0.05f, 0.1f, 0.2f}) {
    const Msimp1 m = run(4.0f, 1.0f, 1000.0f, 0.0f, u);
    const float expected = (eta / (2.0f * pi)) *
                           std::log(6.0f / u + std::sqrt((2.0f / u) * (2.0f / u) + 1.0f));
    EXPECT_EQ(m.zoa, expected) << "u = " << u;
  }
}

TEST(Msimp, WideStripCoverReductionIsExactlyQTimesP) {
  // Above u ~ 6.62 aq is clamped to 0, so Q = 1.0109 and the cover takes off
  // 1.0109 P = 10.791805 ohm at H2 = 2 H, whatever the width.
  for (const float u : {6.7f, 7.0f, 8.0f, 12.0f}) {
    const float zoai = run(10.0f, 1.0f, 1000.0f, 0.0f, u).zoa;
    const float zoa = run(10.0f, 1.0f, 2.0f, 0.0f, u).zoa;
    EXPECT_NEAR(zoai - zoa, 10.791805f, 2e-5f) << "u = " << u;
  }
  // Below the clamp aq > 0 and the reduction is smaller.
  const float zoai = run(10.0f, 1.0f, 1000.0f, 0.0f, 6.5f).zoa;
  const float zoa = run(10.0f, 1.0f, 2.0f, 0.0f, 6.5f).zoa;
  EXPECT_LT(zoai - zoa, 10.7917f);
}

TEST(Msimp, AirFilledLineHasUnitPermittivity) {
  for (const float h2 : {2.0f, 5.0f, 1000.0f}) {
    for (const float t : {0.0f, 0.03f}) {
      for (const float w : {0.1f, 1.0f, 8.0f}) {
        const Msimp1 m = run(1.0f, 1.0f, h2, t, w);
        EXPECT_EQ(m.ef, 1.0f);
        EXPECT_EQ(m.zo, m.zoa);
      }
    }
  }
}

}  // namespace
}  // namespace kx
