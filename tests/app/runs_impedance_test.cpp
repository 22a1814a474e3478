// Impedance analysis run: header, table header, sweep points, row values,
// console/file order and the end by an accuracy violation.
#include <gtest/gtest.h>

#include "common/sweep.h"
#include "tests/app/runs_fixture.h"

namespace kx::test {
namespace {

const std::string kRule77 = blanks(5) + std::string(77, '-');

std::string row(float x, float xh, const Eval& e, double rad) {
  const float ate = e.ate + static_cast<float>(rad);
  const float ato = e.ato + static_cast<float>(rad);
  return blanks(3) + f(x, 8, 4) + f(xh, 7, 3) + f(e.zo, 8, 3) + f(e.zoe, 8, 3) + f(e.zoo, 8, 3) +
         f(report_db(e.coupling_db), 9, 3) + f(e.eff_e, 7, 3) + f(e.eff_o, 7, 3) + f(-ate, 8, 3) +
         f(-ato, 8, 3);
}

TEST(RunImpedance, RangeOfWidthsPrintsHeaderTableAndOneRowPerWidth) {
  State st = alumina_state();
  st.fo = 3.0f;
  Capture cap;
  run_impedance(st, cap.rep);
  const auto ls = lines(cap.text());

  // Run header: Er 9.80, H 0.0250, T 0.000200, H2 0.250, RES 1.700, option 1.1, SR 2.000.
  ASSERT_GE(ls.size(), 3u);
  EXPECT_EQ(ls[0], blanks(9) + " Er =  9.80" + blanks(13) + "Impedance Analysis" + blanks(11) +
                       "H  = 0.0250\"");
  EXPECT_EQ(ls[1], blanks(9) + "  T = 0.000200\"" + blanks(8) + std::string(20, '=') + blanks(10) +
                       "H2 = 0.250\"");
  EXPECT_EQ(ls[2], blanks(9) + "RES = 1.700 u-Ohm-cm" + blanks(7) + "(Option 1.1)" + blanks(14) +
                       "SR = 2.000 u\"");
  // Table header for a fixed S = 0.0100 (S/H = 0.4000) at 3 GHz.
  ASSERT_GE(ls.size(), 11u);
  EXPECT_EQ(ls[3], "");
  EXPECT_EQ(ls[4], blanks(5) + "S =  0.0100\"  Impedances at  3.000 GHz");
  EXPECT_EQ(ls[5], blanks(5) + "S/H = 0.4000  ------------------------          Effective Er");
  EXPECT_EQ(ls[6], blanks(5) + blanks(24) + "Even    Odd    Midband  at  3.000 GHz");
  EXPECT_EQ(ls[7],
            blanks(5) +
                "Strip          Coupler  Mode    Mode   Coupling -------------   Loss,dB/Inch");
  EXPECT_EQ(ls[8],
            blanks(5) +
                "Width:W          Zo     Zoe     Zoo       Co     Even   Odd     Even    Odd");
  EXPECT_EQ(ls[9],
            blanks(5) +
                "(Inch)   W/H   (Ohms)  (Ohms)  (Ohms)    (dB)    Mode   Mode    Mode    Mode");
  EXPECT_EQ(ls[10], kRule77);

  // W = 0.010 ... 0.050 in steps of 0.010 ends exactly on a step: five rows.
  ASSERT_EQ(ls.size(), 16u);
  const float widths[] = {0.010f, 0.020f, 0.030f, 0.040f, 0.050f};
  const Design& d = st.design;
  for (int k = 0; k < 5; ++k) {
    const float w = widths[k];
    const Eval e = evaluate(d, w, d.sdef, 3.0f);
    ASSERT_EQ(e.iflag, 0);
    const double rad = radiation_per_mode(d.h, 3.0, e.eff_e);
    EXPECT_EQ(ls[static_cast<std::size_t>(11 + k)], row(w, (1.0f / d.h) * w, e, rad)) << "W " << w;
  }
}

TEST(RunImpedance, RangeOfSpacingsAtFixedWidth) {
  State st = alumina_state();
  st.design.iop1 = 2;
  st.design.smin = 0.005f;
  st.design.smax = 0.0125f;
  st.design.sstep = 0.003f;  // 0.005, 0.008, 0.011: the step does not reach 0.0125
  st.fo = 2.5f;
  Capture cap;
  run_impedance(st, cap.rep);
  const auto ls = lines(cap.text());
  ASSERT_EQ(ls.size(), 14u);
  EXPECT_EQ(ls[2], blanks(9) + "RES = 1.700 u-Ohm-cm" + blanks(7) + "(Option 1.2)" + blanks(14) +
                       "SR = 2.000 u\"");
  // W = 0.0240, W/H = 0.9600.
  EXPECT_EQ(ls[4], blanks(5) + "W =  0.0240\"  Impedances at  2.500 GHz");
  EXPECT_EQ(ls[5], blanks(5) + "W/H = 0.9600  ------------------------          Effective Er");
  EXPECT_EQ(ls[6], blanks(5) + blanks(24) + "Even    Odd    Midband  at  2.500 GHz");
  EXPECT_EQ(ls[8],
            blanks(5) +
                "Spacing:S        Zo     Zoe     Zoo       Co     Even   Odd     Even    Odd");
  EXPECT_EQ(ls[9],
            blanks(5) +
                "(Inch)   S/H   (Ohms)  (Ohms)  (Ohms)    (dB)    Mode   Mode    Mode    Mode");
  const Design& d = st.design;
  const float spacings[] = {0.005f, 0.008f, 0.011f};
  for (int k = 0; k < 3; ++k) {
    const float s = sweep_point(k, 0.003f, 0.005f);
    EXPECT_FLOAT_EQ(s, spacings[k]);
    const Eval e = evaluate(d, d.wdef, s, 2.5f);
    const double rad = radiation_per_mode(d.h, 2.5, e.eff_e);
    EXPECT_EQ(ls[static_cast<std::size_t>(11 + k)], row(s, (1.0f / d.h) * s, e, rad));
  }
}

TEST(RunImpedance, AtZeroFrequencyTheHeaderShowsZeroAndTheLossesVanish) {
  State st = alumina_state();
  st.design.wmin = 0.020f;
  st.design.wmax = 0.020f;
  st.fo = 0.0f;
  Capture cap;
  run_impedance(st, cap.rep);
  const auto ls = lines(cap.text());
  ASSERT_EQ(ls.size(), 12u);
  EXPECT_EQ(ls[4], blanks(5) + "S =  0.0100\"  Impedances at  0.000 GHz");
  EXPECT_EQ(ls[6], blanks(5) + blanks(24) + "Even    Odd    Midband  at  0.000 GHz");
  // Static values, and both loss columns 0 (no radiation at D.C.).
  const Eval e = evaluate(st.design, 0.020f, 0.010f, 0.0f);
  EXPECT_EQ(ls[11], row(0.020f, (1.0f / 0.025f) * 0.020f, e, 0.0));
  EXPECT_EQ(ls[11].substr(ls[11].size() - 16), "   0.000   0.000");
}

TEST(RunImpedance, EmptyRangePrintsOnlyTheHeaders) {
  State st = alumina_state();
  st.design.wmin = 0.05f;
  st.design.wmax = 0.01f;  // max below min: no points
  st.fo = 1.0f;
  Capture cap;
  run_impedance(st, cap.rep);
  EXPECT_EQ(lines(cap.text()).size(), 11u);
}

TEST(RunImpedance, WithStorageEveryLineGoesToTheFileToo) {
  State st = alumina_state();
  st.design.istore = 1;
  st.fo = 3.0f;
  Capture cap("impedance_store.out");
  run_impedance(st, cap.rep);
  EXPECT_EQ(cap.stored(), cap.text());
  EXPECT_EQ(lines(cap.text()).size(), 16u);
}

TEST(RunImpedance, FailureAtTheFirstPointPrintsTheReportInsteadOfAnyRow) {
  State st = alumina_state();
  st.design.iop1 = 2;
  st.design.smin = 0.000001f;  // below the model's smallest spacing
  st.design.smax = 0.010f;
  st.design.sstep = 0.005f;
  st.design.istore = 1;
  st.fo = 2.0f;
  Capture cap("impedance_fail.out");
  run_impedance(st, cap.rep);
  const auto ls = lines(cap.text());
  ASSERT_EQ(ls.size(), 11u + 3u);
  EXPECT_EQ(ls[10], kRule77);
  EXPECT_EQ(ls[11], blanks(15) + "ERROR DETECTED:    Impedance Analysis terminated.");
  EXPECT_EQ(ls[12], blanks(20) + "Algorithm accuracy violated by:");
  // The reason shows the spacing of the failing point.
  EXPECT_EQ(ls[13], blanks(20) + "1. S =.0000010\"");
  EXPECT_EQ(cap.stored(), cap.text());
}

TEST(RunImpedance, FailureMidSweepKeepsTheRowsOfTheEarlierPoints) {
  // W = 0.1, 0.3 and 0.5 inch at 3 GHz: the widest strip is beyond the
  // dispersive validity limit.
  State st = alumina_state();
  st.design.wmin = 0.1f;
  st.design.wmax = 0.5f;
  st.design.wstep = 0.2f;
  st.fo = 3.0f;
  Capture cap;
  run_impedance(st, cap.rep);
  const auto ls = lines(cap.text());
  ASSERT_EQ(ls.size(), 11u + 2u + 3u);
  const Design& d = st.design;
  for (int k = 0; k < 2; ++k) {
    const float w = sweep_point(k, 0.2f, 0.1f);
    const Eval e = evaluate(d, w, d.sdef, 3.0f);
    EXPECT_EQ(ls[static_cast<std::size_t>(11 + k)],
              row(w, (1.0f / d.h) * w, e, radiation_per_mode(d.h, 3.0, e.eff_e)));
  }
  EXPECT_EQ(ls[13], blanks(15) + "ERROR DETECTED:    Impedance Analysis terminated.");
  EXPECT_EQ(ls[15], blanks(20) + "1. W/H = 20.00");
}

}  // namespace
}  // namespace kx::test
