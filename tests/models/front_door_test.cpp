// The library's front door (<kestrelix/coupled_line.h>): units, the field's
// signs, the S-matrix and the response switches, and that every analysis
// is the chain's own result.
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include <kestrelix/coupled_line.h>

#include "common/records.h"
#include "models/chain.h"
#include "synthesis/ms1sen.h"
#include "tests/support/targets.h"

namespace kx {
namespace {

std::uint32_t bits(float x) {
  std::uint32_t b = 0;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

// The 10 dB, 50 ohm coupler of the README: 20 mil Er 3.66, cover at 250 mil.
Section coupler() {
  Section sec;
  sec.er = 3.66f;
  sec.h = from_mil(20.0);
  sec.h2 = from_mil(250.0);
  sec.w = from_mil(34.33);
  sec.s = from_mil(3.72);
  sec.t = from_mil(1.4);
  return sec;
}

Materials copper() {
  Materials mat;
  mat.res = 1.7f;
  mat.sr = 2.5f;
  mat.tlos = 0.0005f;
  return mat;
}

TEST(Units, LengthsInOtherUnitsGiveTheBitsOfTheSameLengthInInches) {
  // Each pair is one length, typed in another unit and in inches.
  EXPECT_EQ(bits(from_mm(0.635)), bits(0.025f));
  EXPECT_EQ(bits(from_mm(0.508)), bits(0.02f));  // 0.508f / 25.4f is one float off
  EXPECT_EQ(bits(from_mm(0.127)), bits(0.005f));
  EXPECT_EQ(bits(from_mil(34.3)), bits(0.0343f));
  EXPECT_EQ(bits(from_mil(1.4)), bits(0.0014f));
  EXPECT_EQ(bits(from_um(35.56)), bits(0.0014f));  // 35.56f / 25400.0f is one float off
  EXPECT_EQ(bits(from_um(17.78)), bits(0.0007f));
  // And back, rounded once.
  EXPECT_EQ(to_mm(0.025f), 0.635f);
  EXPECT_EQ(to_mil(0.0343f), 34.3f);
  EXPECT_EQ(to_um(0.025f), 635.0f);
}

TEST(FrontDoor, CouplingAndLossesArePositiveDecibels) {
  CoupledLine line{ModelSettings{Model::closed}};
  const Modes m = line.at(coupler(), copper(), 2.4f);
  ASSERT_TRUE(m.valid);
  EXPECT_NEAR(m.coupling_db, 10.0f, 0.05f);
  EXPECT_FLOAT_EQ(m.coupling_db, -20.0f * std::log10(m.cc));
  EXPECT_GT(m.coupling_db_dc, 0.0f);
  EXPECT_GT(m.loss_e, 0.0f);
  EXPECT_GT(m.loss_o, 0.0f);
  // The pair form: Zo and the level give the pair, the pair gives them back.
  const Pair p = pair_of(50.0f, 10.0f);
  EXPECT_GT(p.zoe, p.zoo);
  const Coupling c = coupling_of(p.zoe, p.zoo);
  EXPECT_NEAR(c.zo, 50.0f, 1e-4f);
  EXPECT_NEAR(c.coupling_db, 10.0f, 1e-4f);
  EXPECT_TRUE(std::isnan(coupling_of(40.0f, 50.0f).coupling_db));  // no coupling: none
  // A synthesis for 10 dB realises 10 dB.
  const Synthesis s = line.synthesise(coupler(), test::coupler_target(50.0f, 10.0f, 2.4f));
  ASSERT_TRUE(s.valid);
  EXPECT_NEAR(coupling_of(s.zoe, s.zoo).coupling_db, 10.0f, 0.01f);
}

TEST(FrontDoor, SMatrixIsTheResponseReferredToItsImpedance) {
  CoupledLine line{ModelSettings{Model::closed}};
  const Section sec = coupler();
  const float l = line.quarter_wave_length(sec, 2.4f);
  ResponseOptions opt;
  opt.reference = 50.0f;
  const Response r = line.response(sec, copper(), test::response_at(2.4f, l, 50.0f, 50.0f, opt));
  ASSERT_TRUE(r.modes.valid);
  // Between 50 ohm terminations the report's amplitudes are the first column.
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_NEAR(r.ports.mag[i], 20.0f * std::log10(std::abs(r.s[i][0])), 1e-3f) << i;
    EXPECT_LT(r.ports.mag[i], 0.0f) << i;
  }
  EXPECT_NEAR(r.ports.mag[1], -10.0f, 0.1f);  // the coupled port of a 10 dB coupler
  // Reciprocal and symmetric.
  for (std::size_t i = 0; i < 4; ++i)
    for (std::size_t j = 0; j < 4; ++j) EXPECT_EQ(r.s[i][j], r.s[j][i]) << i << j;

  // Without any loss each column carries unit power.
  ResponseOptions lossless = opt;
  lossless.radiation = false;
  const Response q =
      line.response(sec, Materials(), test::response_at(2.4f, l, 50.0f, 50.0f, lossless));
  EXPECT_EQ(q.modes.loss_e, 0.0f);
  double power = 0.0;
  for (std::size_t i = 0; i < 4; ++i) power += std::norm(std::complex<double>(q.s[i][2]));
  EXPECT_NEAR(power, 1.0, 1e-5);
  // No reference impedance: no S-matrix.
  const Response none = line.response(sec, copper(), test::response_at(2.4f, l, 50.0f, 50.0f));
  EXPECT_EQ(none.s[1][0], std::complex<float>());
  EXPECT_EQ(bits(none.ports.mag[1]), bits(r.ports.mag[1]));
}

TEST(FrontDoor, ResponseSwitchesAreTheChainsLossesAndStaticModes) {
  CoupledLine line{ModelSettings{Model::closed}};
  const Section sec = coupler();
  const Materials mat = copper();
  ResponseOptions off;
  off.radiation = false;
  const Response with = line.response(sec, mat, test::response_at(6.0f, 0.7f, 50.0f, 50.0f));
  const Response without =
      line.response(sec, mat, test::response_at(6.0f, 0.7f, 50.0f, 50.0f, off));
  const float half = 0.5f * radiation_loss(with.modes.eff_e, sec.h, 6.0f);
  EXPECT_GT(half, 0.0f);
  EXPECT_EQ(with.modes.loss_e, without.modes.loss_e + half);
  EXPECT_EQ(with.modes.loss_o, without.modes.loss_o + half);

  // Without dispersion: the static modes, the losses at f formed on them.
  ResponseOptions quasi_static;
  quasi_static.dispersion = false;
  const Response s =
      line.response(sec, mat, test::response_at(6.0f, 0.7f, 50.0f, 50.0f, quasi_static));
  const Modes dc = line.at(sec, 0.0f);
  EXPECT_EQ(s.modes.zoe, dc.zoe_dc);
  EXPECT_EQ(s.modes.eff_o, dc.eff_o_dc);
  ChainContext chain;
  ChainValues c;
  int iflag = 0;
  evaluate_chain(chain.rec, c, sec, 0.0f, ModeSet::both, iflag);
  const Attenuation a = total_losses(chain.rec, sec, mat, 6.0f);
  EXPECT_EQ(s.modes.loss_e, a.e);
  EXPECT_EQ(s.modes.loss_o, a.o);
}

TEST(FrontDoor, SensitivitiesAreMs1sensOwn) {
  const Section sec = coupler();
  CoupledLine line{ModelSettings{Model::closed}};
  for (int ieoro : {ieoro_even, ieoro_odd}) {
    Records rec;
    int iflag = 0;
    ms1sen(rec, sec.er, 2.4f, sec.h, sec.h2, ieoro, iflag, sec.s, sec.t, sec.w);
    const Sensitivity z =
        line.sensitivity(sec, 2.4f, ieoro == ieoro_odd ? Impedance::zoo : Impedance::zoe);
    EXPECT_EQ(z.iflag, iflag);
    EXPECT_EQ(z.zoe, rec.lcdis1.zoef);
    EXPECT_EQ(z.zoo, rec.lcdis1.zoof);
    if (ieoro == ieoro_odd) {
      EXPECT_EQ(z.to.w, rec.mssen2.szoow);
      EXPECT_EQ(z.to.h2, rec.mssen2.szooh2);
    } else {
      EXPECT_EQ(z.to.w, rec.mssen1.szoew);
      EXPECT_EQ(z.to.h2, rec.mssen1.szoeh2);
    }
  }
  // A point that fails at once (a gap of 0.001 H: Zo above the odd-mode
  // strip's) gives no sensitivities of the earlier one.
  Section bad = sec;
  bad.s = 0.001f * sec.h;
  const Sensitivity f = line.sensitivity(bad, 2.4f, Impedance::zoe);
  EXPECT_EQ(f.iflag, 1);
  EXPECT_FALSE(f.valid);
  EXPECT_EQ(f.to.w, 0.0f);
  EXPECT_EQ(f.to.er, 0.0f);
}

TEST(FrontDoor, CopiesAndMovedEvaluatorsEvaluateTheSame) {
  CoupledLine a{ModelSettings{Model::closed}};
  const Modes m = a.at(coupler(), 3.0f);
  CoupledLine b = a;
  EXPECT_EQ(bits(b.at(coupler(), 3.0f).zoo), bits(m.zoo));
  CoupledLine c = std::move(a);
  EXPECT_EQ(bits(c.at(coupler(), 3.0f).zoe), bits(m.zoe));
  a = b;  // a moved-from evaluator assigned again works
  EXPECT_EQ(bits(a.at(coupler(), 3.0f).zoe), bits(m.zoe));
}

}  // namespace
}  // namespace kx
