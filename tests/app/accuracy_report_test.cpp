// The accuracy-violation report: run names, each reason at its limit, values
// that are not numbers, the numbering, and the synthesis-only reasons.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "app/runs.h"
#include "app/state.h"
#include "common/report.h"

namespace kx {
namespace {

const std::string k20(20, ' ');
const float kNaN = std::numeric_limits<float>::quiet_NaN();

std::string heading(const std::string& ename) {
  return std::string(15, ' ') + "ERROR DETECTED: " + ename + " terminated.\n" + k20 +
         "Algorithm accuracy violated by:\n";
}
const std::string kImpedanceHeading = heading("   Impedance Analysis");
const std::string kSynthesisHeading = heading("Dimensional Synthesis");

// A failing point with every tested value inside its limit.
State inside_limits(int ifunc) {
  State st;
  st.design.ifunc = ifunc;
  st.design.iop = 1;
  st.design.h = 0.025f;
  st.design.h2 = 0.25f;
  st.design.er = 9.8f;
  st.work.f = 3.0f;
  st.work.w = 0.02f;
  st.work.s = 0.005f;
  st.work.iflag = 1;
  st.work.ko = -10.0f;
  st.work.couple = -10.0f;
  st.work.zo = 50.0f;
  return st;
}

std::string report(State& st) {
  std::ostringstream out;
  Report rep(out);
  accuracy_report(st, rep);
  return out.str();
}

TEST(AccuracyReport, RunNames) {
  const struct {
    int ifunc, iop;
    const char* ename;
  } rows[] = {
      {1, 1, "   Impedance Analysis"}, {1, 2, "   Frequency Analysis"},
      {1, 3, " Sensitivity Analysis"}, {2, 1, "Dimensional Synthesis"},
      {2, 2, "Dimensional Synthesis"},
  };
  for (const auto& r : rows) {
    State st = inside_limits(r.ifunc);
    st.design.iop = r.iop;
    EXPECT_EQ(report(st), heading(r.ename));
    EXPECT_EQ(st.design.i, 0);
  }
}

TEST(AccuracyReport, NoReasonStillWritesTheHeading) {
  State st = inside_limits(2);
  st.design.i = 6;  // the step count of the dialogue is reused as the counter
  EXPECT_EQ(report(st), kSynthesisHeading);
  EXPECT_EQ(st.design.i, 0);
  EXPECT_FLOAT_EQ(st.work.u, 0.8f);
  EXPECT_FLOAT_EQ(st.work.g, 0.2f);
  EXPECT_FLOAT_EQ(st.work.r, 10.0f);
}

TEST(AccuracyReport, FrequencyTimesThickness) {
  State at = inside_limits(1);
  at.design.h = 1.0f;
  at.work.f = 25.0f / 25.4f;
  ASSERT_EQ(at.work.f * 1.0f * 25.4f, 25.0f);
  EXPECT_EQ(report(at), kImpedanceHeading);

  State above = inside_limits(1);
  above.work.f = 39.38f;  // 39.38 GHz x 0.025 inch x 25.4 = 25.006 GHz-mm
  EXPECT_EQ(report(above),
            kImpedanceHeading + k20 + "1. F X H =   0.98 GHz-In. (Strong Dispersion)\n");
  EXPECT_NEAR(above.work.fnorm, 25.0063, 1e-3);
  EXPECT_NEAR(above.work.temp, 0.98450, 1e-4);  // F x H in GHz-inch

  State below = inside_limits(1);
  below.work.f = 39.37f;  // 24.99995
  EXPECT_EQ(report(below), kImpedanceHeading);
}

TEST(AccuracyReport, EachReasonAtItsLimit) {
  const struct {
    const char* what;
    void (*set)(State&);
    const char* line;  // "" = not listed
  } rows[] = {
      {"Er 20", [](State& s) { s.design.er = 20.0f; }, ""},
      {"Er 20.001", [](State& s) { s.design.er = 20.001f; }, "1. Er = 20.001"},
      {"iflag 1", [](State& s) { s.work.iflag = 1; }, ""},
      {"iflag 2", [](State& s) { s.work.iflag = 2; }, "1. H2/H =10.000 combined with S/H =  0.20"},
      {"W/H 10",
       [](State& s) {
         s.design.h = 0.0625f;
         s.design.h2 = 0.5f;
         s.work.w = 0.625f;
       },
       ""},
      {"W/H 10.0016",
       [](State& s) {
         s.design.h = 0.0625f;
         s.design.h2 = 0.5f;
         s.work.w = 0.6251f;
       },
       "1. W/H = 10.00"},
      {"W 0.0001", [](State& s) { s.work.w = 0.0001f; }, "1. W =.000100\""},
      {"W 0.000101", [](State& s) { s.work.w = 0.000101f; }, ""},
      {"S/H 8",
       [](State& s) {
         s.design.h = 0.0625f;
         s.design.h2 = 0.5f;
         s.work.s = 0.5f;
       },
       ""},
      {"S/H 8.0016",
       [](State& s) {
         s.design.h = 0.0625f;
         s.design.h2 = 0.5f;
         s.work.s = 0.5001f;
       },
       "1. S/H =  8.00"},
      {"S 0.00001", [](State& s) { s.work.s = 0.00001f; }, "1. S =.0000100\""},
      {"S 0.0000101", [](State& s) { s.work.s = 0.0000101f; }, ""},
      {"Co -6", [](State& s) { s.work.couple = -6.0f; }, ""},
      {"Co -5.99", [](State& s) { s.work.couple = -5.99f; }, "1. Co =  -5.99 dB"},
      {"Co -20", [](State& s) { s.work.couple = -20.0f; }, ""},
      {"Co -20.01", [](State& s) { s.work.couple = -20.01f; }, "1. Co = -20.01 dB"},
      {"Zo 20", [](State& s) { s.work.zo = 20.0f; }, ""},
      {"Zo 19.99", [](State& s) { s.work.zo = 19.99f; }, "1. Zo =  19.99 Ohms"},
      {"Zo 100", [](State& s) { s.work.zo = 100.0f; }, ""},
      {"Zo 100.01", [](State& s) { s.work.zo = 100.01f; }, "1. Zo = 100.01 Ohms"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    State st = inside_limits(2);
    r.set(st);
    const std::string line = *r.line ? k20 + r.line + "\n" : "";
    EXPECT_EQ(report(st), kSynthesisHeading + line);
    EXPECT_EQ(st.design.i, *r.line ? 1 : 0);
  }
}

TEST(AccuracyReport, CouplingAndImpedanceOnlyForSynthesis) {
  State analysis = inside_limits(1);
  analysis.work.couple = -3.0f;
  analysis.work.ko = -3.0f;
  analysis.work.zo = 150.0f;
  EXPECT_EQ(report(analysis), kImpedanceHeading);

  // Synthesis tests the coupling of the failing point, not the positive
  // coupling level of the design record.
  State synthesis = inside_limits(2);
  synthesis.work.ko = 10.0f;
  synthesis.work.couple = -12.0f;
  EXPECT_EQ(report(synthesis), kSynthesisHeading);
}

TEST(AccuracyReport, ValuesThatAreNotNumbersListTheirReason) {
  State f = inside_limits(1);
  f.work.f = kNaN;
  EXPECT_EQ(report(f), kImpedanceHeading + k20 + "1. F X H =    NaN GHz-In. (Strong Dispersion)\n");

  State er = inside_limits(1);
  er.design.er = kNaN;
  EXPECT_EQ(report(er), kImpedanceHeading + k20 + "1. Er =    NaN\n");

  State s = inside_limits(1);
  s.work.s = kNaN;  // both the S/H and the S reasons
  EXPECT_EQ(report(s), kImpedanceHeading + k20 + "1. S/H =   NaN\n" + k20 + "2. S =     NaN\"\n");

  State co = inside_limits(2);
  co.work.couple = kNaN;
  co.work.zo = kNaN;
  EXPECT_EQ(report(co), kSynthesisHeading + k20 + "1. Co =    NaN dB\n" + k20 +
                            "2. Zo =    NaN Ohms\n");
}

TEST(AccuracyReport, ReasonsAreNumberedInOrder) {
  State st = inside_limits(2);
  st.work.f = 100.0f;       // 63.5 GHz-mm
  st.design.er = 25.0f;
  st.work.iflag = 2;
  st.work.w = 0.00005f;
  st.work.s = 0.000005f;
  st.work.couple = -3.0f;
  st.work.zo = 150.0f;
  EXPECT_EQ(report(st), kSynthesisHeading + k20 + "1. F X H =   2.50 GHz-In. (Strong Dispersion)\n" +
                            k20 + "2. Er = 25.000\n" + k20 +
                            "3. H2/H =10.000 combined with S/H =  0.00\n" + k20 +
                            "4. W =.000050\"\n" + k20 + "5. S =.0000050\"\n" + k20 +
                            "6. Co =  -3.00 dB\n" + k20 + "7. Zo = 150.00 Ohms\n");
  EXPECT_EQ(st.design.i, 7);
}

TEST(AccuracyReport, StoredLinesFollowTheConsole) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("kx_accuracy_" + std::to_string(::getpid()) + ".txt");
  std::ostringstream out;
  {
    Report rep(out);
    ASSERT_TRUE(rep.open(path.string()));
    rep.set_storing(true);
    State st = inside_limits(2);
    st.design.er = 21.0f;
    accuracy_report(st, rep);
  }
  std::ifstream f(path);
  std::stringstream file;
  file << f.rdbuf();
  std::filesystem::remove(path);
  const std::string expected = kSynthesisHeading + k20 + "1. Er = 21.000\n";
  EXPECT_EQ(out.str(), expected);
  EXPECT_EQ(file.str(), expected);
}

}  // namespace
}  // namespace kx
