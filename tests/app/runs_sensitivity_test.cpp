// Sensitivity run: headers by swept variable, Zoe/Zoo/both tables, the
// column order Er, H, H2, S, W, T, the design record's step count, failures.
#include <gtest/gtest.h>

#include "common/sweep.h"
#include "synthesis/ms1sen.h"
#include "tests/app/runs_fixture.h"

namespace kx::test {
namespace {

State sensitivity_state(int iop3, int ieoro) {
  State st = alumina_state();
  st.design.iop = 3;
  st.design.iop3 = iop3;
  st.design.ieoro = ieoro;
  st.fo = 3.0f;
  return st;
}

struct Sens {
  float zoef{}, zoof{};
  Mssen1 e;
  Mssen2 o;
  int iflag{};
};

Sens sensitivities(const Design& d, int ieoro, float f, float w, float s) {
  Records rec;
  Sens x;
  ms1sen(rec, d.er, f, d.h, d.h2, ieoro, x.iflag, s, d.t, w);
  x.zoef = rec.lcdis1.zoef;
  x.zoof = rec.lcdis1.zoof;
  x.e = rec.mssen1;
  x.o = rec.mssen2;
  return x;
}

// Six sensitivities in the printed order Er, H, H2, S, W, T.
std::string six(float er, float h, float h2, float s, float w, float t) {
  return f(er, 8, 3) + f(h, 8, 3) + f(h2, 8, 3) + f(s, 8, 3) + f(w, 8, 3) + f(t, 8, 3);
}

std::string even_columns(const Sens& x) {
  return six(x.e.szoeer, x.e.szoeh, x.e.szoeh2, x.e.szoes, x.e.szoew, x.e.szoet);
}
std::string odd_columns(const Sens& x) {
  return six(x.o.szooer, x.o.szooh, x.o.szooh2, x.o.szoos, x.o.szoow, x.o.szoot);
}

std::vector<std::string> title(const std::string& mode) {
  return {"", blanks(17) + " Dispersive",
          blanks(17) + " Impedances" + blanks(7) + "Frequency Dependent Sensitivity of " + mode +
              " to:"};
}

const std::string kMiddleLine = blanks(17) + " Even   Odd     Dielec   Sub-    Top" + blanks(20) +
                                "Strip";

TEST(RunSensitivity, VersusFrequencyPrintsTheZoeTable) {
  State st = sensitivity_state(1, 1);
  st.design.fmin = 1.0f;
  st.design.fmax = 5.0f;
  st.design.fstep = 2.0f;
  st.design.i = 2;  // 1, 3 and 5 GHz
  Capture cap;
  run_sensitivity(st, cap.rep);
  const auto ls = lines(cap.text());
  ASSERT_EQ(ls.size(), 3u + 3u + 6u + 3u);
  EXPECT_EQ(ls[0], blanks(10) + "Er =  9.80" + blanks(12) + "Sensitivity Analysis" + blanks(9) +
                       "S = 0.0100\"");
  EXPECT_EQ(ls[1], blanks(10) + "H2 = 0.250\"" + blanks(10) + std::string(22, '=') + blanks(8) +
                       "W = 0.0240\"");
  EXPECT_EQ(ls[2], blanks(11) + "H = 0.0250\"" + blanks(14) + "(Option 3.1)" + blanks(13) +
                       "T = 0.000200\"");
  const auto t = title("Zoe");
  for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(ls[3 + k], t[k]);
  EXPECT_EQ(ls[6], blanks(16) + std::string(13, '-') + blanks(3) + std::string(45, '-'));
  EXPECT_EQ(ls[7], blanks(17) + "Even   Odd     Dielec   Sub-    Top" + blanks(20) + "Strip");
  EXPECT_EQ(ls[8],
            blanks(6) + "Analysis   Mode   Mode     -tric  strate  Cover   Strip   Strip   Thick");
  EXPECT_EQ(ls[9],
            blanks(6) + "Frequency  Zoe    Zoo     Const.  Thick.  Height Spacing  Width   -ness");
  EXPECT_EQ(ls[10],
            blanks(8) + "(GHz)   (Ohms) (Ohms)     Er      H       H2      S       W       T");
  EXPECT_EQ(ls[11], blanks(6) + std::string(71, '-'));
  const Design& d = st.design;
  for (int k = 0; k < 3; ++k) {
    const float freq = static_cast<float>(1 + 2 * k);
    const Sens x = sensitivities(d, 1, freq, d.wdef, d.sdef);
    EXPECT_EQ(ls[12 + static_cast<std::size_t>(k)],
              blanks(1) + f(freq, 13, 4) + f(x.zoef, 8, 2) + f(x.zoof, 7, 2) + even_columns(x));
  }
}

TEST(RunSensitivity, RangeOfWidthsPrintsTheZooTableAtTheSpotFrequency) {
  State st = sensitivity_state(2, 2);
  st.design.i = 4;  // the dialogue's step count: W = 0.010 ... 0.050
  st.design.istore = 1;
  Capture cap("sensitivity_store.out");
  run_sensitivity(st, cap.rep);
  const auto ls = lines(cap.text());
  ASSERT_EQ(ls.size(), 3u + 3u + 6u + 5u);
  EXPECT_EQ(ls[0], blanks(10) + "Er =  9.80" + blanks(12) + "Sensitivity Analysis" + blanks(9) +
                       "H2 = 0.250\"");
  EXPECT_EQ(ls[1], blanks(11) + "T = 0.000200\"" + blanks(7) + std::string(22, '=') + blanks(9) +
                       "H = 0.0250\"");
  EXPECT_EQ(ls[2], blanks(11) + "F =  3.0000 GHz" + blanks(10) + "(Option 3.2)" + blanks(14) +
                       "S = 0.0100\"");
  EXPECT_EQ(ls[5], title("Zoo")[2]);
  EXPECT_EQ(ls[6], blanks(17) + std::string(13, '-') + blanks(3) + std::string(45, '-'));
  EXPECT_EQ(ls[7], kMiddleLine);
  EXPECT_EQ(ls[8],
            blanks(9) + "Strip    Mode   Mode     -tric  strate  Cover   Strip   Strip   Thick");
  EXPECT_EQ(ls[9],
            blanks(9) + "Width    Zoe    Zoo     Const.  Thick.  Height Spacing  Width   -ness");
  EXPECT_EQ(ls[10],
            blanks(11) + "W     (Ohms) (Ohms)     Er      H       H2      S       W       T");
  EXPECT_EQ(ls[11], blanks(9) + std::string(69, '-'));
  const Design& d = st.design;
  for (int k = 0; k < 5; ++k) {
    const float w = sweep_point(k, d.wstep, d.wmin);
    const Sens x = sensitivities(d, 2, 3.0f, w, d.sdef);
    ASSERT_EQ(x.iflag, 0);
    EXPECT_EQ(ls[12 + static_cast<std::size_t>(k)], blanks(1) + f(w, 14, 4) + blanks(1) +
                                                        f(x.zoof, 7, 3).insert(0, f(x.zoef, 7, 3)) +
                                                        odd_columns(x));
  }
  EXPECT_EQ(cap.stored(), cap.text());
}

TEST(RunSensitivity, BothModesOverARangeOfSpacingsPrintsZoeThenZoo) {
  State st = sensitivity_state(3, 3);
  st.design.i = 2;  // S = 0.004, 0.008, 0.012
  Capture cap;
  run_sensitivity(st, cap.rep);
  const auto ls = lines(cap.text());
  // One run header, then two tables over the same points.
  ASSERT_EQ(ls.size(), 3u + 2u * (3u + 6u + 3u));
  EXPECT_EQ(ls[2], blanks(11) + "F =  3.0000 GHz" + blanks(10) + "(Option 3.3)" + blanks(14) +
                       "W = 0.0240\"");
  EXPECT_EQ(ls[5], title("Zoe")[2]);
  EXPECT_EQ(ls[9],
            blanks(8) + "Spacing   Zoe    Zoo     Const.  Thick.  Height Spacing  Width   -ness");
  EXPECT_EQ(ls[10],
            blanks(11) + "S     (Ohms) (Ohms)     Er      H       H2      S       W       T");
  EXPECT_EQ(ls[17], title("Zoo")[2]);
  EXPECT_EQ(ls[15], ls[3]);
  EXPECT_EQ(ls[16], ls[4]);
  for (std::size_t k = 0; k < 6; ++k) EXPECT_EQ(ls[18 + k], ls[6 + k]);  // same column header
  const Design& d = st.design;
  for (int k = 0; k < 3; ++k) {
    const float s = sweep_point(k, d.sstep, d.smin);
    const Sens even = sensitivities(d, 3, 3.0f, d.wdef, s);
    const Sens odd = sensitivities(d, 2, 3.0f, d.wdef, s);
    const std::string lead = blanks(1) + f(s, 14, 4) + blanks(1) + f(even.zoef, 7, 3) +
                             f(even.zoof, 7, 3);
    EXPECT_EQ(ls[12 + static_cast<std::size_t>(k)], lead + even_columns(even));
    EXPECT_EQ(ls[24 + static_cast<std::size_t>(k)], lead + odd_columns(odd));
  }
  // The second table leaves the odd mode in the design record.
  EXPECT_EQ(st.design.ieoro, 2);
}

TEST(RunSensitivity, FailureInTheZoeTableOfABothModesRunPrintsNoZooTable) {
  // W = 0.1, 0.3, 0.5 inch at 3 GHz; the widest strip fails.
  State st = sensitivity_state(2, 3);
  st.design.wmin = 0.1f;
  st.design.wmax = 0.5f;
  st.design.wstep = 0.2f;
  st.design.i = 2;
  Capture cap;
  run_sensitivity(st, cap.rep);
  const auto ls = lines(cap.text());
  ASSERT_EQ(ls.size(), 3u + 3u + 6u + 2u + 3u);
  EXPECT_EQ(ls[14], blanks(15) + "ERROR DETECTED:  Sensitivity Analysis terminated.");
  EXPECT_EQ(ls[16], blanks(20) + "1. W/H = 20.00");
  EXPECT_EQ(cap.text().find("Zoo to:"), std::string::npos);
  EXPECT_EQ(st.design.ieoro, 3);
}

}  // namespace
}  // namespace kx::test
