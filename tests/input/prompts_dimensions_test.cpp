// Dimensional and material prompts: acceptance tests, the RES and SR menus,
// the geometry warnings and where each re-entry goes back to.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialogue_fixture.h"

namespace kx::test {
namespace {

const std::vector<std::string> kDispersion{"1", "2", "2"};    // one W, one S
const std::vector<std::string> kWidthRange{"1", "1", "1"};    // W range
const std::vector<std::string> kSpacingRange{"1", "1", "2"};  // S range
const std::vector<std::string> kSynthesis{"2", "1", "1"};

const std::string kCoverMessage =
    "\n      ERROR DETECTED: Top Cover Height: H2 cannot be less than twice\n"
    "               the Substrate Thickness: H. Please re-enter H and H2.\n";
const std::string kWideStrip =
    "\n      ERROR DETECTED: For W/H > 10.0, Coupler Impedance level is very low.\n"
    "               Analysis algorithms may fail. Enter 1 to re-enter H and W : ";
const std::string kNarrowGap =
    "\n      ERROR DETECTED: Algorithm accuracy is compromised for\n"
    "                      S < 2.0*T. Enter 1 to re-enter S and T : ";
const std::string kWideGap =
    "\n      ERROR DETECTED: Coupling is very loose for S/H > 8.0. Analysis\n"
    "                  algorithms may fail. Enter 1 to re-enter H and S : ";
const std::string kHighEr =
    "\n      ERROR DETECTED: Substrates with Er > 20.0 may cause computational\n"
    "                      difficulties. Enter 1 to re-enter Er : ";

std::string order(const std::string& out) {
  return prompt_order(out, {{"H", "Substrate: H , Inches"},
                            {"H2", "H2, Inches"},
                            {"W", "Strips    : W , Inches"},
                            {"Wmin", "Wmin ,"},
                            {"Wmax", "Wmax ,"},
                            {"Wstep", "Wstep,"},
                            {"T", "Conductor    : T ,"},
                            {"S", "Strips: S, Inches"},
                            {"Smin", "Smin ,"},
                            {"Smax", "Smax ,"},
                            {"Sstep", "Sstep,"},
                            {"RES", "Resistivity selected"},
                            {"SR", "Roughness selected"},
                            {"Er", "Constant: Er"},
                            {"DLTAN", "DLTAN"},
                            {"!", "ERROR DETECTED"},
                            {"Fstart", "Fstart"}});
}

class Dimensions : public ::testing::Test {
 protected:
  void SetUp() override { write_defaults(default_lines()); }
  TempWorkDir dir;
};

TEST_F(Dimensions, EmptyAnswersTakeTheFileDefaults) {
  Dialogue dlg;
  const std::string out = dlg.run(cat({kDispersion, blanks(8)}));
  EXPECT_EQ(order(out), "H H2 W T S RES SR Er Fstart ");
  EXPECT_EQ(dlg.d.h, 0.025f);
  EXPECT_EQ(dlg.d.h2, 0.25f);
  EXPECT_EQ(dlg.d.wdef, 0.02f);
  EXPECT_EQ(dlg.d.t, 0.0002f);
  EXPECT_EQ(dlg.d.sdef, 0.005f);
  EXPECT_EQ(dlg.d.er, 9.8f);
  EXPECT_EQ(count(out, "Please enter the following DIMENSIONAL data:"), 1);
}

TEST_F(Dimensions, AnswersThatFailTheirTestTakeTheFileDefault) {
  Dialogue dlg;
  dlg.run(cat({kDispersion, {"-0.1", "0", "0.00005", "-1", "0.0001", "", "", "0.5"}}));
  EXPECT_EQ(dlg.d.h, 0.025f);
  EXPECT_EQ(dlg.d.h2, 0.25f);
  EXPECT_EQ(dlg.d.wdef, 0.02f);  // not above 0.0001
  EXPECT_EQ(dlg.d.t, 0.0002f);
  EXPECT_EQ(dlg.d.sdef, 0.005f);  // 0.0001 is not above 0.0001
  EXPECT_EQ(dlg.d.er, 9.8f);      // Er below 1

  Dialogue taken;
  taken.run(cat({kDispersion, {"0.03", "0.3", "0.00011", "0.001", "0.00201", "", "", "1"}}));
  EXPECT_EQ(taken.d.h, 0.03f);
  EXPECT_EQ(taken.d.h2, 0.3f);
  EXPECT_EQ(taken.d.wdef, 0.00011f);
  EXPECT_EQ(taken.d.t, 0.001f);
  EXPECT_EQ(taken.d.sdef, 0.00201f);
  EXPECT_EQ(taken.d.er, 1.0f);
}

TEST_F(Dimensions, ResistivityMenuTruncatesItsAnswer) {
  const struct {
    const char* ans;
    float res1;
    double res;  // ohm-inch: res1 * 1e-6 / 2.54
  } rows[] = {
      {"2.9", 1.7f, 6.69291e-7},  {"0", 1.7f, 6.69291e-7},  {"6.7", 11.8f, 4.64567e-6},
      {"7", 1.7f, 6.69291e-7},    {"1", 1.6f, 6.29921e-7},  {"4.99", 4.0f, 1.574803e-6},
      {"-0.9", 1.7f, 6.69291e-7}, {"5", 7.0f, 2.755906e-6},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.ans);
    Dialogue dlg;
    dlg.run(cat({kDispersion, blanks(5), {r.ans}}));
    EXPECT_EQ(dlg.d.res1, r.res1);
    EXPECT_NEAR(dlg.d.res, r.res, r.res * 1e-6);
  }
}

TEST_F(Dimensions, RoughnessMenuTruncatesItsAnswer) {
  const struct {
    const char* ans;
    float sr1;
  } rows[] = {
      {"5", 0.0f},  {"5.9", 0.0f},  {"", 2.5f},  {"6", 2.5f},
      {"1", 10.0f}, {"2.99", 5.0f}, {"4", 1.0f},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.ans);
    Dialogue dlg;
    dlg.run(cat({kDispersion, blanks(6), {r.ans}}));
    EXPECT_EQ(dlg.d.sr1, r.sr1);
    EXPECT_NEAR(dlg.d.sr, static_cast<double>(r.sr1) * 1e-6, 1e-12);
  }
}

TEST_F(Dimensions, ResistivityAndRoughnessMenusAsLaidOut) {
  Dialogue dlg;
  const std::string out = dlg.run(cat({kDispersion, blanks(6)}));
  const std::string b14(14, ' ');
  const std::string menus =
      "           -Conductor Resistivity: RES, Micro-Ohm-cm:\n" + b14 +
      " 1: Silver-plated; RES = 1.6.\n" + b14 + "*2: Copper       ; RES = 1.7 (Default).\n" + b14 +
      " 3: Gold-plated  ; RES = 2.5.\n" + b14 + " 4: 6061 Aluminum; RES = 4.0.\n" + b14 +
      " 5: Brass        ; RES = 7.0.\n" + b14 + " 6: Steel        ; RES = 11.8.\n" +
      "            Conductor Resistivity selected = " + "           -RMS Surface Roughness: SR:\n" +
      b14 + " 1:10.0 micro-inch.\n" + b14 + " 2: 5.0 micro-inch.\n" + b14 +
      "*3: 2.5 micro-inch (Default).\n" + b14 + " 4: 1.0 micro-inch.\n" + b14 +
      " 5: 0.0 micro-inch = Perfect.\n" + "            RMS Surface Roughness selected = ";
  EXPECT_TRUE(ends_with(out, menus)) << out;
}

TEST_F(Dimensions, CoverBelowTwiceHGoesBackToHWithoutQuestion) {
  Dialogue dlg;
  const std::string out = dlg.run(cat({kDispersion, {"0.1", "0.19"}}));
  EXPECT_TRUE(ends_with(out, "H2, Inches = " + kCoverMessage +
                                 "           -Thickness of Dielectric Substrate: H , Inches = "))
      << out;
  EXPECT_EQ(count(out, "Enter 1"), 0);

  Dialogue exact;
  const std::string out2 = exact.run(cat({kDispersion, {"0.1", "0.2"}}));
  EXPECT_EQ(order(out2), "H H2 W ");
  EXPECT_EQ(exact.d.h2, 0.2f);
}

TEST_F(Dimensions, WidthRatioLimit) {
  // 0.625 / 0.0625 is exactly 10: no warning.
  Dialogue at_limit;
  at_limit.run(cat({kDispersion, {"0.0625", "0.2", "0.625"}}));
  EXPECT_EQ(at_limit.d.wdef, 0.625f);
  EXPECT_TRUE(ends_with(at_limit.out.str(), "T , Inches = "));

  Dialogue above;
  const std::string out = above.run(cat({kDispersion, {"0.0625", "0.2", "0.6251"}}));
  EXPECT_TRUE(ends_with(out, kWideStrip)) << out;

  // 0.1f / 0.01f is 10.0000004 when divided in double, although the quotient
  // rounds to 10 as a float: the unrounded ratio warns.
  Dialogue unrounded;
  const std::string out3 = unrounded.run(cat({kDispersion, {"0.01", "0.1", "0.1"}}));
  EXPECT_TRUE(ends_with(out3, kWideStrip)) << out3;
}

TEST_F(Dimensions, WidthWarningGoesBackToHOrOn) {
  Dialogue back;
  const std::string out =
      back.run(cat({kDispersion, {"0.0625", "0.2", "0.7", "1", "", "", "", "", ""}}));
  EXPECT_EQ(order(out), "H H2 W ! H H2 W T S RES ");
  EXPECT_EQ(back.d.h, 0.025f);
  EXPECT_EQ(back.d.wdef, 0.02f);
  EXPECT_EQ(count(out, "Please enter the following DIMENSIONAL data:"), 1);

  Dialogue on;
  const std::string out2 = on.run(cat({kDispersion, {"0.0625", "0.2", "0.7", "1.5", ""}}));
  EXPECT_EQ(order(out2), "H H2 W ! T S ");
  EXPECT_EQ(on.d.wdef, 0.7f);  // the warned value stays in force
}

TEST_F(Dimensions, WidthRange) {
  Dialogue dlg;
  dlg.run(cat({kWidthRange, {"0.1", "0.2", "0.1", "0.7", "0.1"}}));
  EXPECT_EQ(dlg.d.wmin, 0.1f);
  EXPECT_EQ(dlg.d.wmax, 0.7f);
  EXPECT_EQ(dlg.d.wstep, 0.1f);
  EXPECT_EQ(dlg.d.i, 6);  // 5.9999998 + 0.0001 truncates to 6

  Dialogue reversed;
  reversed.run(cat({kWidthRange, {"0.1", "0.2", "0.3", "0.2", "0.05"}}));
  EXPECT_EQ(reversed.d.wmax, 0.3f);
  EXPECT_EQ(reversed.d.i, 0);

  Dialogue defaults;
  defaults.run(cat({kWidthRange, blanks(5)}));
  EXPECT_EQ(defaults.d.i, 6);  // 0.01 to 0.04 by 0.005

  // W/H is tested on Wmin and on Wmax; a re-entry from either goes back to H.
  Dialogue wmax;
  const std::string out = wmax.run(cat({kWidthRange, {"0.0625", "0.2", "0.1", "0.7", "1"}}));
  EXPECT_EQ(order(out), "H H2 Wmin Wmax ! H ");
  Dialogue wmin;
  const std::string out2 = wmin.run(cat({kWidthRange, {"0.0625", "0.2", "0.7", "", "", ""}}));
  EXPECT_EQ(order(out2), "H H2 Wmin ! Wmax ! Wstep ");
  EXPECT_EQ(wmin.d.wmax, 0.7f);  // Wmax default 0.04 is below Wmin
}

TEST_F(Dimensions, GapToThicknessLimit) {
  Dialogue at_limit;
  const std::string out = at_limit.run(cat({kDispersion, {"", "", "", "0.001", "0.002"}}));
  EXPECT_EQ(order(out), "H H2 W T S RES ");

  Dialogue below;
  const std::string out2 =
      below.run(cat({kDispersion, {"", "", "", "0.001", "0.0019", "1", "0", "0.0019"}}));
  EXPECT_EQ(order(out2), "H H2 W T S ! T S RES ");
  EXPECT_EQ(below.d.t, 0.0002f);
  EXPECT_EQ(below.d.sdef, 0.0019f);
  EXPECT_NE(out2.find(kNarrowGap), std::string::npos);

  // With T = 0 (the answer 0 takes the file default, so use a file T of 0).
  auto lines = default_lines();
  lines[kT] = "0";
  write_defaults(lines);
  Dialogue zero;
  const std::string out3 = zero.run(cat({kDispersion, {"", "", "", "", "0.00011"}}));
  EXPECT_EQ(order(out3), "H H2 W T S RES ");
}

TEST_F(Dimensions, GapToHeightLimitAndGoingBack) {
  Dialogue at_limit;  // 0.5 / 0.0625 is exactly 8
  const std::string out = at_limit.run(cat({kDispersion, {"0.0625", "0.2", "", "", "0.5"}}));
  EXPECT_EQ(order(out), "H H2 W T S RES ");

  Dialogue above;
  const std::string out2 =
      above.run(cat({kDispersion, {"0.0625", "0.2", "", "", "0.5001", "1", "", "", "", "", ""}}));
  EXPECT_EQ(order(out2), "H H2 W T S ! H H2 W T S RES ");
  EXPECT_NE(out2.find(kWideGap), std::string::npos);

  Dialogue on;
  const std::string out3 = on.run(cat({kDispersion, {"0.0625", "0.2", "", "", "0.5001", "0"}}));
  EXPECT_EQ(order(out3), "H H2 W T S ! RES ");
  EXPECT_EQ(on.d.sdef, 0.5001f);
}

TEST_F(Dimensions, SpacingRange) {
  Dialogue dlg;
  const std::string out =
      dlg.run(cat({kSpacingRange, {"", "", "", "", "0.004", "0.016", "0.004"}}));
  EXPECT_EQ(order(out), "H H2 W T Smin Smax Sstep RES ");
  EXPECT_EQ(dlg.d.smin, 0.004f);
  EXPECT_EQ(dlg.d.smax, 0.016f);
  EXPECT_EQ(dlg.d.i, 3);

  Dialogue reversed;
  reversed.run(cat({kSpacingRange, {"", "", "", "", "0.006", "0.005", ""}}));
  EXPECT_EQ(reversed.d.smax, 0.006f);
  EXPECT_EQ(reversed.d.i, 0);

  // Smin has the S/T and S/H tests; Smax only S/H.
  Dialogue smin;
  const std::string out2 = smin.run(cat({kSpacingRange, {"", "", "", "0.01", "0.015", "1"}}));
  EXPECT_EQ(order(out2), "H H2 W T Smin ! T ");
  Dialogue smax;
  const std::string out3 =
      smax.run(cat({kSpacingRange, {"0.0625", "0.2", "", "", "0.1", "0.6", "1"}}));
  EXPECT_EQ(order(out3), "H H2 W T Smin Smax ! H ");
  EXPECT_NE(out3.find(kWideGap), std::string::npos);
}

TEST_F(Dimensions, DielectricConstantLimit) {
  Dialogue at_limit;
  const std::string out = at_limit.run(cat({kDispersion, blanks(7), {"20"}}));
  EXPECT_EQ(order(out), "H H2 W T S RES SR Er Fstart ");
  EXPECT_EQ(at_limit.d.er, 20.0f);

  Dialogue again;
  const std::string out2 = again.run(cat({kDispersion, blanks(7), {"20.1", "1", "12"}}));
  EXPECT_EQ(order(out2), "H H2 W T S RES SR Er ! Er Fstart ");
  EXPECT_NE(out2.find(kHighEr + "           -Substrate`s Relative Dielectric Constant: Er  = "),
            std::string::npos);
  EXPECT_EQ(again.d.er, 12.0f);

  Dialogue kept;
  kept.run(cat({kDispersion, blanks(7), {"20.1", "0.49"}}));
  EXPECT_EQ(kept.d.er, 20.1f);
}

TEST_F(Dimensions, LossTangentOnlyForTheFourPortResponse) {
  Dialogue four_port;
  const std::string out = four_port.run(cat({{"1", "2", "1", "2"}, blanks(8), {"0.002"}}));
  EXPECT_EQ(order(out), "H H2 W T S RES SR Er DLTAN Fstart ");
  EXPECT_EQ(four_port.d.tlos, 0.002f);

  Dialogue defaulted;
  defaulted.run(cat({{"1", "2", "1", "2"}, blanks(8), {"-1"}}));
  EXPECT_EQ(defaulted.d.tlos, 0.0001f);
}

TEST_F(Dimensions, SynthesisAsksOnlyHH2TAndEr) {
  Dialogue dlg;
  const std::string out = dlg.run(cat({kSynthesis, blanks(4)}));
  EXPECT_EQ(order(out), "H H2 T Er ");
  EXPECT_TRUE(ends_with(out, "-Characteristic Impedance of Coupler: Zo, Ohms =")) << out;
  EXPECT_EQ(dlg.d.res, 0.0f);  // no RES menu
}

}  // namespace
}  // namespace kx::test
