// Synthesis runs: headers, coupling-level and Zoe sweeps (their end rules
// and the mended zero step), D.C. and dispersive synthesis, baseline
// verification and the end by an accuracy violation.
#include <gtest/gtest.h>

#include <cstdlib>

#include "synthesis/synthesis.h"
#include "tests/app/runs_fixture.h"

namespace kx::test {
namespace {

State synthesis_state(int iop, int iops) {
  State st = alumina_state();
  Design& d = st.design;
  d.ifunc = 2;
  d.iop = iop;
  d.iops = iops;
  d.cweak = 20.0f;
  d.cstrong = 6.0f;
  d.cstep = 9.0f;
  d.zoemin = 60.0f;
  d.zoemax = 80.0f;
  d.zoestep = 7.0f;
  st.fo = 3.0f;
  return st;
}

std::vector<std::string> dc_table() {
  return {
      "",
      blanks(5) + blanks(30) + "Static(D.C.) Impedances",
      blanks(5) + "       Strip Dimensions       -----------------------           Static(D.C.)",
      blanks(5) + "------------------------------          Even    Odd    Midband  Effective Er",
      blanks(5) + "Strip          Strip          Coupler   Mode    Mode   Coupling " +
          std::string(13, '-'),
      blanks(5) + "Width:W        Spacing:S         Zo     Zoe     Zoo       Co     Even    Odd",
      blanks(5) + "(Inch)   W/H   (Inch)   S/H    (Ohms)  (Ohms)  (Ohms)    (dB)    Mode    Mode",
      blanks(5) + std::string(77, '-'),
  };
}

std::vector<std::string> dispersive_table_at_3ghz() {
  return {
      "",
      blanks(5) + blanks(29) + "Impedances at  3.000 GHz",
      blanks(5) + "      Strip Dimensions       ------------------------         Effective Er",
      blanks(5) + "----------------------------          Even    Odd    Midband  at  3.000 GHz",
      blanks(5) + "Strip        Strip           Coupler  Mode    Mode   Coupling " +
          std::string(13, '-'),
      blanks(5) + "Width:W      Spacing:S         Zo     Zoe     Zoo       Co     Even    Odd",
      blanks(5) + "(Inch)  W/H   (Inch)  S/H    (Ohms)  (Ohms)  (Ohms)    (dB)    Mode    Mode",
      blanks(5) + std::string(75, '-'),
  };
}

struct Point {
  float w{}, s{}, zoef{}, zoof{}, effef{}, effof{};
  int iflag{};
};

Point synthesise(const Design& d, float f0, float zoe, float zoo) {
  Records rec;
  Point p;
  msws(rec, d.er, f0, d.h, d.h2, p.iflag, p.s, d.t, p.w, zoe, zoo);
  p.zoef = rec.lcdis1.zoef;
  p.zoof = rec.lcdis1.zoof;
  p.effef = rec.lceff1.effef;
  p.effof = rec.lceff1.effof;
  return p;
}

std::string row(const Design& d, const Point& p, float zo, float zoe, float zoo, float co) {
  return blanks(3) + f(p.w, 8, 4) + f((1.0f / d.h) * p.w, 6, 3) + f(p.s, 8, 4) +
         f((1.0f / d.h) * p.s, 6, 3) + blanks(2) + f(zo, 7, 3) + f(zoe, 8, 3) + f(zoo, 8, 3) +
         f(co, 9, 3) + f(p.effef, 7, 3) + f(p.effof, 8, 3);
}

// The coupling column of the rows (F9.3 after 3X, 2(F8.4,F6.3), 2X, F7.3, 2(F8.3)).
std::vector<std::string> coupling_column(const std::vector<std::string>& ls, std::size_t from) {
  std::vector<std::string> out;
  for (std::size_t k = from; k < ls.size(); ++k) out.push_back(ls[k].substr(56, 9));
  return out;
}

TEST(RunSynthesis, StaticCouplingLevelsFromCweakTowardCstrong) {
  // Cweak 20, Cstrong 6, Cstep 9: -20, -11 and -2 dB.
  State st = synthesis_state(1, 1);
  Capture cap;
  run_synthesis(st, cap.rep);
  const auto ls = lines(cap.text());
  ASSERT_EQ(ls.size(), 3u + 8u + 3u);
  EXPECT_EQ(ls[0], "      Er =  9.80         Strip Width and Spacing Synthesis      H2 = 0.250\"");
  EXPECT_EQ(ls[1], "       T = 0.000200\"    ===================================" + blanks(6) +
                       "H = 0.0250\"");
  EXPECT_EQ(ls[2],
            "     T/H = 0.0080" + blanks(19) + "(Option 1.1)" + blanks(17) + "H = 0.6350 mm");
  const auto table = dc_table();
  for (std::size_t k = 0; k < table.size(); ++k) EXPECT_EQ(ls[3 + k], table[k]);

  const Design& d = st.design;
  const float levels[] = {-20.0f, -11.0f, -2.0f};
  for (int k = 0; k < 3; ++k) {
    float cc = 0.0f, ko = levels[k], zo = 50.0f, zoe = 0.0f, zoo = 0.0f;
    sl1zo(cc, ko, sl1zo_pair_from_coupling, zo, zoe, zoo);
    const Point p = synthesise(d, 0.0f, zoe, zoo);  // D.C. whatever Fo was
    ASSERT_EQ(p.iflag, 0);
    EXPECT_EQ(ls[11 + static_cast<std::size_t>(k)], row(d, p, 50.0f, p.zoef, p.zoof, levels[k]));
  }
  EXPECT_EQ(st.fo, 0.0f);
}

TEST(RunSynthesis, CouplingSweepEndRules) {
  struct Case {
    float cweak, cstrong, cstep;
    std::vector<std::string> levels;
  };
  const Case cases[] = {
      {10.0f, 10.0f, 3.0f, {"  -10.000"}},             // Cweak = Cstrong: one row
      {10.0f, 15.0f, 3.0f, {"  -10.000"}},             // Cstrong beyond Cweak: one row
      {4.0f, 0.5f, 2.0f, {"   -4.000", "   -2.000"}},  // 0 dB is never synthesised
      {10.0f, 6.0f, 0.0f, {"  -10.000"}},              // a zero step ends after one row
      {10.0f, 6.0f, 1.0E-9f, {"  -10.000"}},           // so does a step below resolution
      {12.0f, 6.0f, 3.0f, {"  -12.000", "   -9.000", "   -6.000"}},
  };
  for (const Case& c : cases) {
    State st = synthesis_state(1, 1);
    st.design.cweak = c.cweak;
    st.design.cstrong = c.cstrong;
    st.design.cstep = c.cstep;
    Capture cap;
    run_synthesis(st, cap.rep);
    EXPECT_EQ(coupling_column(lines(cap.text()), 11), c.levels)
        << c.cweak << " " << c.cstrong << " " << c.cstep;
  }
}

TEST(RunSynthesis, DispersiveZoeRangeWhoseStepDoesNotDivideTheRange) {
  // Zoe 60, 67, 74 (81 is above ZoeMAX 80), synthesised at Fo = 3 GHz.
  State st = synthesis_state(2, 2);
  st.design.istore = 1;
  Capture cap("synthesis_store.out");
  run_synthesis(st, cap.rep);
  const auto ls = lines(cap.text());
  ASSERT_EQ(ls.size(), 3u + 8u + 3u);
  EXPECT_EQ(ls[2],
            "     T/H = 0.0080" + blanks(19) + "(Option 2.2)" + blanks(17) + "H = 0.6350 mm");
  const auto table = dispersive_table_at_3ghz();
  for (std::size_t k = 0; k < table.size(); ++k) EXPECT_EQ(ls[3 + k], table[k]);
  const Design& d = st.design;
  for (int k = 0; k < 3; ++k) {
    float zoe = 60.0f + 7.0f * static_cast<float>(k);
    float zoo = 50.0f * 50.0f / zoe;
    float cc = 0.0f, co = 0.0f, zo = 0.0f;
    sl1zo(cc, co, sl1zo_coupling_from_pair, zo, zoe, zoo);
    const Point p = synthesise(d, 3.0f, zoe, zoo);
    ASSERT_EQ(p.iflag, 0);
    EXPECT_EQ(ls[11 + static_cast<std::size_t>(k)], row(d, p, zo, zoe, zoo, co));
  }
  EXPECT_EQ(cap.stored(), cap.text());
  EXPECT_EQ(st.fo, 3.0f);
}

TEST(RunSynthesis, StaticZoeOfSixtyNineAndAHalfIsATenDecibelCoupler) {
  State st = synthesis_state(1, 2);
  st.design.zoemin = 69.5f;
  st.design.zoemax = 69.5f;
  Capture cap;
  run_synthesis(st, cap.rep);
  const auto ls = lines(cap.text());
  ASSERT_EQ(ls.size(), 3u + 8u + 1u);
  // Zoo = 2500/69.5 = 35.97122; C = 33.52878/105.47122 = 0.317895;
  // 20 log10 C = -9.9543 dB.
  EXPECT_EQ(ls[11].substr(40, 25), "  69.500  35.971   -9.954");
  EXPECT_EQ(ls[11].substr(33, 7), " 50.000");
}

TEST(RunSynthesis, ZeroZoeStepEndsAfterOneRow) {
  State st = synthesis_state(1, 2);
  st.design.zoestep = 0.0f;
  Capture cap;
  run_synthesis(st, cap.rep);
  const auto ls = lines(cap.text());
  ASSERT_EQ(ls.size(), 3u + 8u + 1u);
  EXPECT_EQ(ls[11].substr(40, 8), "  60.000");
}

TEST(RunSynthesis, BaselineVerificationReanalysesEachPointAndKeepsItsZo) {
  State st = synthesis_state(1, 1);
  st.design.istore = -473;
  st.design.cstrong = 11.0f;  // -20 and -11 dB
  Capture cap;
  run_synthesis(st, cap.rep);
  const auto ls = lines(cap.text());
  ASSERT_EQ(ls.size(), 3u + 8u + 4u);
  const Design& d = st.design;
  float zo = 50.0f;  // the entered Zo, then the re-analysed one
  const float levels[] = {-20.0f, -11.0f};
  for (int k = 0; k < 2; ++k) {
    float cc = 0.0f, ko = levels[k], zoe = 0.0f, zoo = 0.0f;
    sl1zo(cc, ko, sl1zo_pair_from_coupling, zo, zoe, zoo);
    const Point p = synthesise(d, 0.0f, zoe, zoo);
    const std::size_t n = 11 + 2 * static_cast<std::size_t>(k);
    EXPECT_EQ(ls[n], row(d, p, zo, p.zoef, p.zoof, levels[k]));
    const Eval e = evaluate(d, p.w, p.s, 0.0f, false);
    EXPECT_EQ(ls[n + 1], blanks(3) + f(p.w, 8, 4) + f((1.0f / d.h) * p.w, 7, 3) + f(p.s, 8, 4) +
                             f((1.0f / d.h) * p.s, 7, 3) + blanks(2) + f(e.zo, 7, 3) +
                             f(e.zoe, 8, 3) + f(e.zoo, 8, 3) + f(report_db(e.coupling_db), 9, 3) +
                             f(e.eff_e, 7, 3) + f(e.eff_o, 8, 3) + " Analysis");
    zo = e.zo;
  }
}

TEST(RunSynthesis, FailureEndsTheRunWithTheCouplingOfTheFailingPoint) {
  // -3, -2, then -1 dB, which the synthesis cannot realise within the limits.
  State st = synthesis_state(1, 1);
  st.design.cweak = 3.0f;
  st.design.cstrong = 0.5f;
  st.design.cstep = 1.0f;
  st.design.istore = 1;
  Capture cap("synthesis_fail.out");
  run_synthesis(st, cap.rep);
  const auto ls = lines(cap.text());
  ASSERT_EQ(ls.size(), 3u + 8u + 2u + 3u);
  EXPECT_EQ(coupling_column({ls[11], ls[12]}, 0),
            (std::vector<std::string>{"   -3.000", "   -2.000"}));
  EXPECT_EQ(ls[13], blanks(15) + "ERROR DETECTED: Dimensional Synthesis terminated.");
  EXPECT_EQ(ls[15], blanks(20) + "1. Co =  -1.00 dB");
  EXPECT_EQ(cap.stored(), cap.text());
}

}  // namespace
}  // namespace kx::test
