// Where a dialogue starts, the banner, and the FUNCTION, OPTION and
// SUBOPTION menus with their defaults and conversions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialogue_fixture.h"

namespace kx::test {
namespace {

const std::string kB5 = "     ";
const std::string kB10 = kB5 + kB5;

// The screen up to the FUNCTION answer, as the banner and menu are laid out.
const std::string kFirstScreen =
    "\n\n\n" + kB10 + kB5 + "RF/Microwave Computer-Aided Engineering Design Software\n" + kB10 +
    " Program: Kestrelix (v. 1.3)     Date: 3/ 7/2024 at  9: 5: 1Hours\n"
    "\n"
    "      This program performs Impedance ANALYSIS, Dimensional SYNTHESIS and \n"
    "      Frequency RESPONSE for Edge-Coupled Microstrip Directional Couplers.\n"
    "\n"
    "      Please select a Program FUNCTION:\n" +
    kB10 + " 1: ANALYSIS of Impedances from known Dimensions.\n" + kB10 + kB5 +
    "- Impedance   Analysis from Strip Dimensions.\n" + kB10 + kB5 +
    "- Frequency   Analysis of Microstrip Coupler.\n" + kB10 + kB5 +
    "- Sensitivity Analysis of Coupler Impedances.\n" + kB10 +
    "*2: SYNTHESIS of Dimensions from known Impedances (Default).\n" + kB10 + kB5 +
    "- Synthesis of S and W from D.C. Impedances: Zoe and Zoo.\n" + kB10 + kB5 +
    "- Synthesis of S and W from Dispersive Impedances: Zoe and Zoo.\n"
    "      Program FUNCTION selected = ";

const std::string kSynthesisMenu =
    "\n      Please select Synthesis OPTION:\n" + kB10 +
    " 1: Synthesis of Dimensions: S and W from D.C. Impedances.\n" + kB10 +
    "*2: Synthesis of Dimensions: S and W from Dispersive Impedances (Default).\n"
    "      Synthesis OPTION selected = ";

const std::string kAnalysisMenu = "\n      Please select an Impedance Analysis OPTION:\n" + kB10 +
                                  " 1: Impedance   Analysis from known Strip Dimensions.\n" + kB10 +
                                  "*2: Frequency   Analysis of Microstrip Coupler (Default).\n" +
                                  kB10 +
                                  " 3: Sensitivity Analysis of Coupler Impedances: Zoe and Zoo.\n"
                                  "      Analysis OPTION selected = ";

class Menus : public ::testing::Test {
 protected:
  void SetUp() override { write_defaults(default_lines()); }
  TempWorkDir dir;
  Dialogue dlg;
};

TEST_F(Menus, FirstCallShowsBannerDescriptionAndFunctionMenu) {
  const std::string out = dlg.run({});
  EXPECT_EQ(out, kFirstScreen);
}

TEST_F(Menus, FunctionAnswerChoosesSynthesisOrAnalysis) {
  for (const char* ans : {"", "0", "2", "1.95", "-1", "-0.5", "0.89", "-1.09"}) {
    SCOPED_TRACE(std::string("'") + ans + "'");
    Dialogue one;
    const std::string out = one.run({ans});
    EXPECT_EQ(one.d.ifunc, 2);
    EXPECT_EQ(out, kFirstScreen + kSynthesisMenu);
  }
  for (const char* ans : {"1", "3", "7", "-2", "0.9", "-1.1", "2.9"}) {
    SCOPED_TRACE(std::string("'") + ans + "'");
    Dialogue one;
    const std::string out = one.run({ans});
    EXPECT_EQ(one.d.ifunc, 1);
    EXPECT_EQ(out, kFirstScreen + kAnalysisMenu);
  }
}

TEST_F(Menus, AnalysisOptionUsesTheNearestInteger) {
  const struct {
    const char* ans;
    int iop;
    const char* next;
  } rows[] = {
      {"1", 1, "Impedance Analysis SUBOPTION selected = "},
      {"2.5", 3, "Sensitivity Analysis SUBOPTION selected = "},
      {"1.49", 1, "Impedance Analysis SUBOPTION selected = "},
      {"0.4", 2, "Frequency Analysis SUBOPTION selected = "},
      {"", 2, "Frequency Analysis SUBOPTION selected = "},
      {"3.5", 2, "Frequency Analysis SUBOPTION selected = "},
      {"-3", 2, "Frequency Analysis SUBOPTION selected = "},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.ans);
    Dialogue one;
    const std::string out = one.run({"1", r.ans});
    EXPECT_EQ(one.d.iop, r.iop);
    EXPECT_TRUE(ends_with(out, r.next)) << out;
  }
}

TEST_F(Menus, SuboptionMenusTakeTheStarredItemOutOfRange) {
  Dialogue a;
  const std::string out = a.run({"1", "1", "9"});
  EXPECT_EQ(a.d.iop1, 1);
  EXPECT_TRUE(ends_with(out, "-Thickness of Dielectric Substrate: H , Inches = "));
  EXPECT_NE(out.find("\n      Please select an Impedance Analysis SUBOPTION:\n" + kB10 +
                     "*1: Impedance Analysis for a range of Strip Widths: W (Default).\n" + kB10 +
                     " 2: Impedance Analysis for a range of Strip Spacings: S.\n"
                     "      Impedance Analysis SUBOPTION selected = \n"
                     "      Please enter the following DIMENSIONAL data:\n"),
            std::string::npos)
      << out;

  Dialogue b;
  b.run({"1", "1", "1.5"});
  EXPECT_EQ(b.d.iop1, 2);

  Dialogue c;
  c.run({"1", "3", "9", "2.5"});
  EXPECT_EQ(c.d.iop3, 1);
  EXPECT_EQ(c.d.ieoro, 3);

  Dialogue e;
  e.run({"1", "3", "3", "0"});
  EXPECT_EQ(e.d.iop3, 3);
  EXPECT_EQ(e.d.ieoro, 1);

  Dialogue f;
  f.run({"1", "2", "2"});
  EXPECT_EQ(f.d.iop2a, 2);

  Dialogue g;
  g.run({"1", "2", "3"});
  EXPECT_EQ(g.d.iop2a, 1);
}

TEST_F(Menus, FrequencyAndSensitivityMenusAsLaidOut) {
  const std::string out = dlg.run({"1", "2", "1"});
  const std::string menu = "\n      Please select Frequency Analysis SUBOPTION:\n" + kB10 +
                           "*1: Four port Coupler`s frequency response (Default).\n" + kB10 +
                           " 2: Frequency dispersion of Coupler`s cross section.\n"
                           "      Frequency Analysis SUBOPTION selected = \n"
                           "      Select to enter(=1) or compute(=2*) Coupler Length: ";
  EXPECT_TRUE(ends_with(out, menu)) << out;

  Dialogue s;
  const std::string sout = s.run({"1", "3", "2"});
  const std::string smenu = "\n      Plese elect Sensitivity Analysis SUBOPTION:\n" + kB10 +
                            "*1: Versus Frequency for one value of S and W (Default).\n" + kB10 +
                            " 2: At one Frequency for a range of Strip Widths: W.\n" + kB10 +
                            " 3: At one Frequency for a range of Strip Spacings: S.\n" +
                            "      Sensitivity Analysis SUBOPTION selected = \n"
                            "      Select Sensitivity of Even Mode(=1*), Odd Mode(=2) or "
                            "Both(=3): ";
  EXPECT_TRUE(ends_with(sout, smenu)) << sout;
  EXPECT_EQ(s.d.iop3, 2);
}

TEST_F(Menus, LengthChoiceUsesTheNearestInteger) {
  // Four-port response: after DLTAN comes L when the length is entered,
  // the frequency range when it is computed.
  const auto through_dltan = blanks(9);  // H, H2, W, T, S, RES, SR, Er, DLTAN
  Dialogue a;
  const std::string out_a = a.run(cat({{"1", "2", "1", "1.4"}, through_dltan}));
  EXPECT_TRUE(ends_with(out_a, "-Length of Microstrip Coupler     : L , Inches = ")) << out_a;

  Dialogue b;
  const std::string out_b = b.run(cat({{"1", "2", "1", "1.5"}, through_dltan}));
  EXPECT_TRUE(ends_with(out_b,
                        "\n      Please enter Analysis Frequency Range:\n"
                        "           -Analysis Start Frequency: Fstart, GHz = "))
      << out_b;
}

TEST_F(Menus, SynthesisOptionAndSuboption) {
  const struct {
    const char* opt;
    const char* sub;
    int iop, iops;
  } rows[] = {
      {"1", "2", 1, 2},
      {"0.4", "3", 2, 1},
      {"2", "1.5", 2, 2},
      {"1.49", "", 1, 1},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.opt) + "/" + r.sub);
    Dialogue one;
    one.run({"2", r.opt, r.sub});
    EXPECT_EQ(one.d.ifunc, 2);
    EXPECT_EQ(one.d.iop, r.iop);
    EXPECT_EQ(one.d.iops, r.iops);
  }
  const std::string out = dlg.run({"2", "2"});
  EXPECT_TRUE(ends_with(out, "\n      Please select Synthesis SUBOPTION:\n" + kB10 +
                                 "*1: Synthesis of S and W from range of Coupling levels "
                                 "(Default).\n" +
                                 kB10 +
                                 " 2: Synthesis of S and W from range of Even-Mode "
                                 "Impedances: Zoe.\n"
                                 "      Synthesis SUBOPTION selected = "))
      << out;
}

TEST_F(Menus, NewOptionStartsAtTheOptionMenuOfTheSameFunction) {
  dlg.run({"2"});
  dlg.d.isel = 1;
  dlg.d.i = 5;
  dlg.d.iop = 2;
  std::string out = dlg.run({});
  EXPECT_EQ(out, kSynthesisMenu);
  EXPECT_EQ(dlg.d.iop, 1);  // set afresh at every call
  EXPECT_EQ(dlg.d.i, 0);

  dlg.d.ifunc = 1;
  out = dlg.run({});
  EXPECT_EQ(out, kAnalysisMenu);
}

TEST_F(Menus, NewCouplerShowsTheFirstStampAgain) {
  dlg.run({"2"});
  dlg.io.clock = [] { return DateTime{2031, 12, 24, 23, 59, 58}; };
  dlg.d.isel = 2;
  const std::string out = dlg.run({});
  EXPECT_EQ(out, kFirstScreen);
}

}  // namespace
}  // namespace kx::test
