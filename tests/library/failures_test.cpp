// The library's failure cases, through its public headers only: every input
// the models cannot take gives valid = false with the flags that say why,
// never a result that looks valid and never an exception.
#include <gtest/gtest.h>

#include <cmath>

#include <kestrelix/kestrelix.h>

namespace {

// A 10 dB coupler on 20 mil Er 3.66 under a 250 mil cover.
kx::Section coupler() {
  kx::Section sec;
  sec.er = 3.66f;
  sec.h = kx::from_mil(20.0);
  sec.h2 = kx::from_mil(250.0);
  sec.w = kx::from_mil(34.3);
  sec.s = kx::from_mil(3.7);
  sec.t = kx::from_mil(1.4);
  return sec;
}

bool has(unsigned flags, unsigned code) { return (flags & code) != 0; }

TEST(LibraryFailures, LengthsThatAreNoCrossSectionAreRefused) {
  kx::CoupledLine line;
  ASSERT_TRUE(line.at(coupler(), 2.4f).valid);
  for (float kx::Section::*length : {&kx::Section::w, &kx::Section::s, &kx::Section::h}) {
    for (const float v : {-0.01f, 0.0f}) {
      kx::Section sec = coupler();
      sec.*length = v;
      const kx::Modes m = line.at(sec, 2.4f);
      EXPECT_FALSE(m.valid) << v;
      EXPECT_TRUE(has(m.flags, kx::flag_refused)) << v << " " << kx::validity_codes(m.flags);
    }
  }
  kx::Section thin = coupler();
  thin.t = -0.001f;
  EXPECT_TRUE(has(line.at(thin, 2.4f).flags, kx::flag_refused));
  // A length never set is not a number, and refused too.
  kx::Section unset = coupler();
  unset.w = kx::Section().w;
  const kx::Modes m = line.at(unset, 2.4f);
  EXPECT_FALSE(m.valid);
  EXPECT_TRUE(has(m.flags, kx::flag_refused));
  EXPECT_TRUE(has(m.flags, kx::flag_not_finite));
}

TEST(LibraryFailures, AFrequencyInHertzIsFarBeyondTheDispersionModels) {
  kx::CoupledLine line;
  const kx::Modes m = line.at(coupler(), 2.4e9f);
  EXPECT_FALSE(m.valid);
  EXPECT_TRUE(has(m.flags, kx::flag_fh)) << kx::validity_codes(m.flags);
  EXPECT_TRUE(has(line.at(coupler(), -1.0f).flags, kx::flag_refused));
}

TEST(LibraryFailures, RatiosOutsideTheFittedRangesAreFlaggedEvenWithoutTheModelsFlag) {
  kx::CoupledLine line;
  kx::Section wide = coupler();
  wide.w = 20.0f * wide.h;
  const kx::Modes m = line.at(wide, 2.4f);
  EXPECT_EQ(m.iflag, 0);
  EXPECT_TRUE(std::isfinite(m.zoe));
  EXPECT_FALSE(m.valid);
  EXPECT_EQ(m.flags, static_cast<unsigned>(kx::flag_wh));
  kx::Section narrow = coupler();
  narrow.s = 0.05f * narrow.h;
  EXPECT_TRUE(has(line.at(narrow, 2.4f).flags, kx::flag_sh));
  const kx::Sensitivity z = line.sensitivity(wide, 2.4f, kx::Impedance::zoe);
  EXPECT_FALSE(z.valid);
  EXPECT_TRUE(has(z.flags, kx::flag_wh));
}

TEST(LibraryFailures, SectionsTheFieldSolverRefusesAreNotNumbersAndRefused) {
  kx::ModelSettings field;
  field.model = kx::Model::field;
  kx::CoupledLine solver(field);
  kx::Section sec = coupler();
  sec.w = 2e4f * sec.h;  // W/H beyond the solver's 1e4
  ASSERT_FALSE(kx::field::check(kx::field_geometry(sec)).empty());
  const kx::Modes m = solver.at(sec, 2.4f);
  EXPECT_FALSE(m.valid);
  EXPECT_TRUE(std::isnan(m.zoe));
  EXPECT_TRUE(has(m.flags, kx::flag_refused));
  EXPECT_TRUE(has(m.flags, kx::flag_not_finite));
  // With the losses, and in a response, too.
  kx::Materials copper;
  copper.res = 1.7f;
  EXPECT_TRUE(has(solver.at(sec, copper, 2.4f).flags, kx::flag_refused));
  kx::ResponseOptions o;
  o.f = 2.4f;
  o.length = 0.5f;
  EXPECT_TRUE(has(solver.response(sec, copper, o).modes.flags, kx::flag_refused));
}

// A coating of Er 1000: the field model's own limits (the coating's Er above
// 20, the solver's error estimate above its setting's promise) make the
// result invalid and stay through the losses and the response.
TEST(LibraryFailures, AFieldSolutionOutsideItsOwnLimitsIsNotValid) {
  kx::ModelSettings field;
  field.model = kx::Model::field;
  field.coating.thickness = kx::from_mil(1.0);
  field.coating.er = 3.5f;
  EXPECT_TRUE(kx::CoupledLine(field).at(coupler(), 2.4f).valid);
  field.coating.er = 1000.0f;
  kx::CoupledLine solver(field);
  const kx::Modes m = solver.at(coupler(), 2.4f);
  EXPECT_EQ(m.flags, static_cast<unsigned>(kx::flag_er | kx::flag_field_error));
  EXPECT_FALSE(m.valid);
  kx::Materials copper;
  copper.res = 1.7f;
  EXPECT_EQ(solver.at(coupler(), copper, 2.4f).flags, m.flags);
  kx::ResponseOptions o;
  o.f = 2.4f;
  o.length = 0.5f;
  EXPECT_EQ(solver.response(coupler(), copper, o).modes.flags, m.flags);
}

TEST(LibraryFailures, TargetsThatAreNoCouplerAreRefused) {
  kx::CoupledLine line;
  for (const float zo : {0.0f, -50.0f}) {
    kx::CouplerTarget t;
    t.zo = zo;
    t.coupling_db = 10.0f;
    t.f = 2.4f;
    const kx::Synthesis r = line.synthesise(coupler(), t);
    EXPECT_FALSE(r.valid) << zo;
    EXPECT_TRUE(has(r.flags, kx::flag_refused)) << zo;
  }
  kx::PairTarget reversed;
  reversed.zoe = 30.0f;
  reversed.zoo = 60.0f;
  const kx::Synthesis r = line.synthesise_pair(coupler(), reversed);
  EXPECT_FALSE(r.valid);
  EXPECT_TRUE(has(r.flags, kx::flag_refused));

  kx::study::DiffPairPlan plan;
  plan.section = coupler();
  plan.zdiff = -100.0f;
  plan.solve = kx::study::PairSolve::s;
  const kx::study::DiffPair p = kx::study::diff_pair(line, plan);
  EXPECT_FALSE(p.found);
  EXPECT_FALSE(p.valid);
  EXPECT_TRUE(has(p.flags, kx::flag_refused));
}

TEST(LibraryFailures, AbsentValuesAreNotNumbersAndSaySo) {
  // No coupling without Zoe above Zoo.
  EXPECT_TRUE(std::isnan(kx::coupling_of(50.0f, 50.0f).coupling_db));
  // At D.C. between matched terminations no wave leaves the coupled port.
  kx::CoupledLine line;
  kx::ResponseOptions o;
  o.length = 0.5f;
  const kx::Response r = line.response(coupler(), kx::Materials(), o);
  EXPECT_FALSE(r.ports.wave[1]);
  EXPECT_TRUE(std::isnan(r.ports.mag[1]));
  EXPECT_TRUE(std::isnan(r.ports.ang[1]));
  EXPECT_TRUE(r.ports.wave[3]);
  EXPECT_TRUE(std::isfinite(r.ports.mag[3]));
  o.length = -1.0f;
  EXPECT_TRUE(has(line.response(coupler(), kx::Materials(), o).modes.flags, kx::flag_refused));
}

TEST(LibraryFailures, TheCoverDefaultsToNoneForBothModels) {
  kx::Section open = coupler();
  open.h2 = kx::Section().h2;
  EXPECT_TRUE(std::isinf(open.h2));
  kx::CoupledLine line;
  const kx::Modes m = line.at(open, 2.4f);
  EXPECT_TRUE(m.valid) << kx::validity_codes(m.flags);
  EXPECT_TRUE(std::isinf(kx::field_geometry(open).h2));
}

}  // namespace
