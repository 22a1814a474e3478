// Frequency, length, termination and synthesis-range prompts: the frequency
// test, the computed centre frequency and length, the terminations and
// print format, and the Zoe and coupling ranges.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include <kestrelix/coupled_line.h>

#include "common/ftn_format.h"
#include "dialogue_fixture.h"

namespace kx::test {
namespace {

// The four-port run's cross-section of the design.
Section coupler(const Design& d) {
  Section sec;
  sec.er = d.er;
  sec.h = d.h;
  sec.h2 = d.h2;
  sec.w = d.wdef;
  sec.s = d.sdef;
  sec.t = d.t;
  return sec;
}

const std::string kTooHigh =
    "\n      ERROR DETECTED: Input Frequency is too large for the Substrate\n"
    "                      Thickness entered. Computational difficulties\n"
    "                      may occur. Enter 1 to re-enter Frequency : ";
const std::string kCentreTooHigh =
    "\n      ERROR DETECTED: The computed center frequency is too large\n"
    "          for the Substrate Thickness entered above. Computational\n"
    "                 difficulties may arise. Enter 1 to re-enter L : ";
const std::string kNoConvergence =
    "\n      ERROR DETECTED: Synthesis may not converge for Co < -20.0 dB.\n"
    "                      or Co > -6.0 dB. Enter 1 to re-enter Co : ";
const std::string kStorage = "\n      Is Output Data STORAGE desired? (1=YES) = ";
const std::string kSpot = "           -Spot Frequency for Impedance Analysis: F, GHz = ";

// Impedance analysis over W on H = 0.1 inch, up to the spot frequency.
const std::vector<std::string> kToSpotOnH01 = cat({{"1", "1", "1", "0.1", "0.2"}, blanks(8)});
// Four-port response, up to DLTAN answered (length entered / computed).
const std::vector<std::string> kFourPortEnterL = cat({{"1", "2", "1", "1"}, blanks(9)});
const std::vector<std::string> kFourPortComputeL = cat({{"1", "2", "1", "2"}, blanks(9)});
// Dispersion of the cross section, up to the frequency range.
const std::vector<std::string> kDispersion = cat({{"1", "2", "2"}, blanks(8)});

std::string order(const std::string& out) {
  return prompt_order(out, {{"F", "Spot Frequency"},
                            {"L", "Length of Microstrip Coupler"},
                            {"Fo=", "-Design Center Frequency: Fo"},
                            {"Fstart", "Fstart"},
                            {"Fstop", "Fstop"},
                            {"Fstep", "Fstep"},
                            {"Fo", "-Design Center Frequency : Fo"},
                            {"L=", "-Length of Coupler: L"},
                            {"Rs", "Rs, Ohms"},
                            {"Rl", "Rl, Ohms"},
                            {"FORMAT", "FORMAT selected"},
                            {"Fsyn", "Operating Frequency for Synthesis"},
                            {"Zo", "Zo, Ohms"},
                            {"Cstrong", "Cstrong, dB"},
                            {"Cweak", "Cweak  , dB"},
                            {"Cstep", "Cstep  , dB"},
                            {"ZoeMAX", "ZoeMAX"},
                            {"ZoeMIN", "ZoeMIN"},
                            {"ZoeSTEP", "ZoeSTEP"},
                            {"!", "ERROR DETECTED"},
                            {"store", "STORAGE desired"}});
}

class FrequencyPrompts : public ::testing::Test {
 protected:
  void SetUp() override { write_defaults(default_lines()); }
  TempWorkDir dir;
};

TEST_F(FrequencyPrompts, SpotFrequencyTestAgainstSubstrateThickness) {
  Dialogue pass;  // 9.8 GHz x 0.1 inch = 24.892 GHz-mm
  const std::string out = pass.run(cat({kToSpotOnH01, {"9.8"}}));
  EXPECT_TRUE(ends_with(out, kSpot + kStorage)) << out;
  EXPECT_EQ(pass.fo, 9.8f);

  Dialogue warn;  // 9.9 GHz x 0.1 inch = 25.146 GHz-mm
  const std::string out2 = warn.run(cat({kToSpotOnH01, {"9.9", "1", "4"}}));
  EXPECT_NE(out2.find(kSpot + kTooHigh + kSpot + kStorage), std::string::npos) << out2;
  EXPECT_EQ(warn.fo, 4.0f);

  Dialogue kept;
  kept.run(cat({kToSpotOnH01, {"9.9", "2"}}));
  EXPECT_EQ(kept.fo, 9.9f);

  Dialogue defaulted;
  defaulted.run(cat({kToSpotOnH01, {"-2"}}));
  EXPECT_EQ(defaulted.fo, 3.0f);
}

TEST_F(FrequencyPrompts, SensitivityAtOneFrequencyAsksItsOwnSpotPrompt) {
  Dialogue dlg;
  const std::string out = dlg.run(cat({{"1", "3", "3", "2"}, blanks(10), {"2.5"}}));
  EXPECT_TRUE(
      ends_with(out, "           -Spot Frequency for Sensitivity Analysis: F,GHz= " + kStorage))
      << out;
  EXPECT_EQ(dlg.fo, 2.5f);
  EXPECT_EQ(dlg.d.ieoro, 2);
}

TEST_F(FrequencyPrompts, FrequencyRange) {
  Dialogue dlg;
  const std::string out = dlg.run(cat({kDispersion, {"2", "10", "0.5"}}));
  EXPECT_EQ(order(out), "Fstart Fstop Fstep store ");
  EXPECT_NE(out.find("\n      Please enter Analysis Frequency Range:\n"
                     "           -Analysis Start Frequency: Fstart, GHz = "
                     "           -Analysis Stop  Frequency: Fstop , GHz = "
                     "           -Analysis Step  Frequency: Fstep , GHz = "),
            std::string::npos)
      << out;
  EXPECT_EQ(dlg.d.fmin, 2.0f);
  EXPECT_EQ(dlg.d.fmax, 10.0f);
  EXPECT_EQ(dlg.d.fstep, 0.5f);
  EXPECT_EQ(dlg.d.i, 16);

  Dialogue reversed;  // Fstop below Fstart becomes Fstart
  reversed.run(cat({kDispersion, {"5", "4", ""}}));
  EXPECT_EQ(reversed.d.fmax, 5.0f);
  EXPECT_EQ(reversed.d.i, 0);

  Dialogue defaults;
  defaults.run(cat({kDispersion, blanks(3)}));
  EXPECT_EQ(defaults.d.i, 10);   // 1 to 6 GHz by 0.5
  EXPECT_EQ(defaults.fo, 3.0f);  // no frequency answer: fo stays
}

TEST_F(FrequencyPrompts, EachEndOfTheRangeIsTestedAndReEnteredAlone) {
  // H = 0.025 inch: 39.37 GHz is the limit.
  Dialogue start;
  const std::string out = start.run(cat({kDispersion, {"40", "1", "2", "3", ""}}));
  EXPECT_EQ(order(out), "Fstart ! Fstart Fstop Fstep store ");
  EXPECT_EQ(count(out, "Please enter Analysis Frequency Range:"), 1);
  EXPECT_EQ(start.d.fmin, 2.0f);

  Dialogue stop;
  const std::string out2 = stop.run(cat({kDispersion, {"", "45", "1", "39", ""}}));
  EXPECT_EQ(order(out2), "Fstart Fstop ! Fstop Fstep store ");
  EXPECT_EQ(stop.d.fmax, 39.0f);

  Dialogue kept;
  const std::string out3 = kept.run(cat({kDispersion, {"", "45", "", "1"}}));
  EXPECT_EQ(order(out3), "Fstart Fstop ! Fstep store ");
  EXPECT_EQ(kept.d.fmax, 45.0f);
  EXPECT_NE(out3.find(kTooHigh), std::string::npos);
}

TEST_F(FrequencyPrompts, EnteredLengthGivesTheCentreFrequency) {
  Dialogue dlg;
  const std::string out = dlg.run(cat({kFourPortEnterL, {"0.3"}}));
  EXPECT_EQ(dlg.d.l, 0.3f);
  // A quarter wave of 0.3 inch on alumina lies between the air-line and
  // the full-Er limits: 11.8/(4*0.3*sqrt(9.8)) = 3.14 and 11.8/1.2 = 9.84 GHz.
  EXPECT_GT(dlg.fo, 3.14f);
  EXPECT_LT(dlg.fo, 9.84f);
  const std::string shown = "           -Design Center Frequency: Fo, GHz =" + ftn_f(dlg.fo, 7, 3) +
                            "\n\n      Please enter Analysis Frequency Range:\n";
  EXPECT_NE(out.find("L , Inches = " + shown), std::string::npos) << out;
  // The frequency shown is the evaluator's for the coupler's cross-section.
  CoupledLine line{ModelSettings{Model::closed}};
  EXPECT_EQ(dlg.fo, line.centre_frequency(coupler(dlg.d), 0.3f));
}

TEST_F(FrequencyPrompts, ComputedCentreFrequencyTooHighReAsksTheLength) {
  // 0.01 inch is a quarter wave near 100 GHz: far beyond 25 GHz-mm on H = 0.025.
  Dialogue again;
  const std::string out = again.run(cat({kFourPortEnterL, {"0.01", "1", "0.3"}}));
  EXPECT_EQ(order(out), "L Fo= ! L Fo= Fstart ");
  EXPECT_NE(out.find(kCentreTooHigh), std::string::npos) << out;
  EXPECT_EQ(again.d.l, 0.3f);

  Dialogue kept;
  const std::string out2 = kept.run(cat({kFourPortEnterL, {"0.01", "0"}}));
  EXPECT_EQ(order(out2), "L Fo= ! Fstart ");
  EXPECT_EQ(kept.d.l, 0.01f);
}

TEST_F(FrequencyPrompts, CentreFrequencyGivesTheQuarterWaveLength) {
  Dialogue dlg;
  const std::string out = dlg.run(cat({kFourPortComputeL, blanks(3), {"2"}}));
  EXPECT_EQ(order(out), "Fstart Fstop Fstep Fo L= Rs ");
  EXPECT_EQ(dlg.fo, 2.0f);
  // L = c / (sqrt(effcf) * 4 fo), effcf the coupler permittivity at fo.
  CoupledLine line{ModelSettings{Model::closed}};
  const double effcf = static_cast<double>(line.at(coupler(dlg.d), 2.0f).eff_c);
  EXPECT_GT(effcf, 1.0);
  EXPECT_LT(effcf, 9.8);
  EXPECT_NEAR(static_cast<double>(dlg.d.l), 11.802855 / (std::sqrt(effcf) * 8.0), 1e-6);
  EXPECT_TRUE(ends_with(out, "           -Length of Coupler: L, Inches = " + ftn_f(dlg.d.l, 6, 4) +
                                 "\n\n      Enter Load and Source Terminations:\n"
                                 "           -Source Termination: Rs, Ohms = "))
      << out;

  Dialogue warned;  // 45 GHz on H = 0.025 warns; the re-entry asks Fo again
  const std::string out2 = warned.run(cat({kFourPortComputeL, blanks(3), {"45", "1", "3"}}));
  EXPECT_EQ(order(out2), "Fstart Fstop Fstep Fo ! Fo L= Rs ");
  EXPECT_EQ(warned.fo, 3.0f);
}

TEST_F(FrequencyPrompts, TerminationsAndPrintFormat) {
  const struct {
    const char* rs;
    const char* rl;
    const char* format;
    float rs_v, rl_v;
    int iop2b;
  } rows[] = {
      {"25", "75", "2", 25.0f, 75.0f, 2},  {"", "-1", "1.5", 50.0f, 50.0f, 2},
      {"0", "10", "2.5", 50.0f, 10.0f, 1}, {"1e3", "", "", 1000.0f, 50.0f, 1},
      {"", "", "0.4", 50.0f, 50.0f, 1},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.format);
    Dialogue dlg;
    const std::string out = dlg.run(cat({kFourPortComputeL, blanks(4), {r.rs, r.rl, r.format}}));
    EXPECT_EQ(dlg.d.rs, r.rs_v);
    EXPECT_EQ(dlg.d.rl, r.rl_v);
    EXPECT_EQ(dlg.d.iop2b, r.iop2b);
    EXPECT_TRUE(
        ends_with(out,
                  "           -Source Termination: Rs, Ohms = "
                  "           -Load   Termination: Rl, Ohms = \n"
                  "      Select output data print FORMAT:\n"
                  "          *1: Scattering Parameters: dB & degrees at each port (Default).\n"
                  "           2: VSWR, Losses (dB) and Phase Quadrature.\n"
                  "      Print FORMAT selected = " +
                      kStorage))
        << out;
  }
}

TEST_F(FrequencyPrompts, DispersionKeepsTheEarlierPrintFormat) {
  Dialogue dlg;
  dlg.d.iop2b = 2;
  const std::string out = dlg.run(cat({kDispersion, blanks(4)}));
  EXPECT_FALSE(dlg.ended_by_input);
  EXPECT_EQ(order(out), "Fstart Fstop Fstep store ");
  EXPECT_EQ(dlg.d.iop2b, 2);
}

TEST_F(FrequencyPrompts, SynthesisFrequencyAndCouplingRange) {
  Dialogue dlg;
  const std::string out = dlg.run(cat({{"2", "2", "1"}, blanks(4), {"5", "", "-10", "", "-2.5"}}));
  EXPECT_EQ(order(out), "Fsyn Zo Cstrong Cweak Cstep store ");
  EXPECT_EQ(dlg.fo, 5.0f);
  EXPECT_EQ(dlg.d.zodef, 50.0f);
  EXPECT_EQ(dlg.d.cstrong, 10.0f);
  EXPECT_EQ(dlg.d.cweak, 20.0f);
  EXPECT_EQ(dlg.d.cstep, 2.5f);
  EXPECT_NE(out.find("           -Operating Frequency for Synthesis: Fo, GHz    = "
                     "           -Characteristic Impedance of Coupler: Zo, Ohms ="
                     "           -Enter a range of Coupling levels:\n"
                     "               -Strongest Coupling level: Cstrong, dB = "
                     "               -Weakest   Coupling level: Cweak  , dB = "
                     "               -Coupling level Step Size: Cstep  , dB = "),
            std::string::npos)
      << out;

  Dialogue dc;  // D.C. synthesis asks no frequency and leaves fo alone
  dc.fo = 7.0f;
  const std::string out2 = dc.run(cat({{"2", "1", "1"}, blanks(4), {"35", "10", "15", "0"}}));
  EXPECT_EQ(order(out2), "Zo Cstrong Cweak Cstep store ");
  EXPECT_EQ(dc.fo, 3.0f);  // the first call sets it to the file's F. value
  EXPECT_EQ(dc.d.zodef, 35.0f);
  EXPECT_EQ(dc.d.cstrong, 10.0f);
  EXPECT_EQ(dc.d.cweak, 15.0f);
  EXPECT_EQ(dc.d.cstep, 2.0f);

  Dialogue unordered;  // entered levels are not reordered
  unordered.run(cat({{"2", "1", "1"}, blanks(4), {"", "15", "8", ""}}));
  EXPECT_EQ(unordered.d.cstrong, 15.0f);
  EXPECT_EQ(unordered.d.cweak, 8.0f);
}

TEST_F(FrequencyPrompts, CouplingTestAndItsTwoReEnterRules) {
  const std::vector<std::string> to_cstrong = cat({{"2", "1", "1"}, blanks(5)});
  for (const char* ok : {"6", "20", "-6", "-20", "10"}) {
    SCOPED_TRACE(ok);
    Dialogue dlg;
    const std::string out = dlg.run(cat({to_cstrong, {ok}}));
    EXPECT_EQ(order(out), "Zo Cstrong Cweak ");
  }
  for (const char* bad : {"5", "25", "5.99", "20.01", "-25"}) {
    SCOPED_TRACE(bad);
    Dialogue dlg;
    const std::string out = dlg.run(cat({to_cstrong, {bad}}));
    EXPECT_TRUE(ends_with(out, kNoConvergence)) << out;
  }
  // Cstrong: the nearest integer decides; 1.7 goes on.
  Dialogue strong_on;
  const std::string out = strong_on.run(cat({to_cstrong, {"5", "1.7"}}));
  EXPECT_EQ(order(out), "Zo Cstrong ! Cweak ");
  EXPECT_EQ(strong_on.d.cstrong, 5.0f);
  Dialogue strong_again;
  const std::string out2 = strong_again.run(cat({to_cstrong, {"5", "0.6", "8"}}));
  EXPECT_EQ(order(out2), "Zo Cstrong ! Cstrong Cweak ");
  EXPECT_EQ(count(out2, "-Enter a range of Coupling levels:"), 2);
  EXPECT_EQ(strong_again.d.cstrong, 8.0f);

  // Cweak: the answer is truncated; 1.7 re-enters, 0.9 goes on.
  Dialogue weak_again;
  const std::string out3 = weak_again.run(cat({to_cstrong, {"", "25", "1.7", "12"}}));
  EXPECT_EQ(order(out3), "Zo Cstrong Cweak ! Cweak Cstep ");
  EXPECT_EQ(weak_again.d.cweak, 12.0f);
  Dialogue weak_on;
  const std::string out4 = weak_on.run(cat({to_cstrong, {"", "25", "0.9"}}));
  EXPECT_EQ(order(out4), "Zo Cstrong Cweak ! Cstep ");
  EXPECT_EQ(weak_on.d.cweak, 25.0f);
}

TEST_F(FrequencyPrompts, FileDefaultOfTheCouplingIsTestedToo) {
  auto lines = default_lines();
  lines[kCstrong] = "3";
  write_defaults(lines);
  Dialogue dlg;
  const std::string out = dlg.run(cat({{"2", "1", "1"}, blanks(5), {""}}));
  EXPECT_TRUE(ends_with(out, kNoConvergence)) << out;
  EXPECT_EQ(dlg.d.cstrong, 3.0f);
}

TEST_F(FrequencyPrompts, ZoeRange) {
  const std::vector<std::string> to_zo = cat({{"2", "1", "2"}, blanks(4)});
  Dialogue dlg;
  const std::string out = dlg.run(cat({to_zo, {"50", "80", "55", "2.5"}}));
  EXPECT_EQ(order(out), "Zo ZoeMAX ZoeMIN ZoeSTEP store ");
  EXPECT_NE(out.find("           -Enter a range of Even-Mode Impedances:\n"
                     "               -Maximum Even-Mode Impedance: ZoeMAX, Ohms = "
                     "               -Minimum Even-Mode Impedance: ZoeMIN, Ohms = "
                     "               -Step Size for Even-Mode Zo: ZoeSTEP, Ohms = "),
            std::string::npos)
      << out;
  EXPECT_EQ(dlg.d.zoemax, 80.0f);
  EXPECT_EQ(dlg.d.zoemin, 55.0f);
  EXPECT_EQ(dlg.d.zoestep, 2.5f);

  // An answer not above Zo takes the file default; ZoeMIN above ZoeMAX swaps.
  Dialogue swapped;
  swapped.run(cat({to_zo, {"50", "50", "95", ""}}));
  EXPECT_EQ(swapped.d.zoemax, 95.0f);
  EXPECT_EQ(swapped.d.zoemin, 90.0f);
  EXPECT_EQ(swapped.d.zoestep, 5.0f);

  Dialogue low;
  low.run(cat({to_zo, {"60", "", "59", "-1"}}));
  EXPECT_EQ(low.d.zoemax, 90.0f);
  EXPECT_EQ(low.d.zoemin, 60.0f);
  EXPECT_EQ(low.d.zoestep, 5.0f);
}

TEST_F(FrequencyPrompts, ZoeRangeResetsTheModeImpedances) {
  Dialogue dlg;
  dlg.run(cat({{"2", "1", "2"}, blanks(8)}));
  dlg.d.zoedef = 77.0f;
  dlg.d.zoodef = 33.0f;
  dlg.d.isel = 1;
  dlg.run(cat({{"1", "2"}, blanks(9)}));
  EXPECT_FALSE(dlg.ended_by_input);
  EXPECT_EQ(dlg.d.zoedef, 69.5f);
  EXPECT_EQ(dlg.d.zoodef, 36.0f);

  dlg.d.zoedef = 77.0f;
  dlg.d.isel = 1;
  dlg.run(cat({{"1", "1"}, blanks(9)}));  // coupling range: no reset
  EXPECT_EQ(dlg.d.zoedef, 77.0f);
}

}  // namespace
}  // namespace kx::test
