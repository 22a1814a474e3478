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
#include "app/section.h"
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

// The state of a run and the point at which it fails.
struct Point {
  State st;
  Failure at;
};

// A failing point with every tested value inside its limit.
Point inside_limits(int ifunc) {
  Point p;
  Design& d = p.st.design;
  d.ifunc = ifunc;
  d.iop = 1;
  d.h = 0.025f;
  d.h2 = 0.25f;
  d.er = 9.8f;
  p.at.f = 3.0f;
  p.at.sec = section(d, 0.02f, 0.005f);
  p.at.sec.t = 0.0f;
  p.at.iflag = 1;
  p.at.co = -10.0f;
  p.at.zo = 50.0f;
  return p;
}

void report_to(Point& p, Report& rep) {
  const Design& d = p.st.design;  // the runs evaluate the design's substrate
  p.at.sec.er = d.er;
  p.at.sec.h = d.h;
  p.at.sec.h2 = d.h2;
  accuracy_report(p.st, rep, p.at);
}

std::string report(Point& p) {
  std::ostringstream out;
  Report rep(out);
  report_to(p, rep);
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
    Point st = inside_limits(r.ifunc);
    st.st.design.iop = r.iop;
    EXPECT_EQ(report(st), heading(r.ename));
    EXPECT_EQ(st.st.design.i, 0);
  }
}

TEST(AccuracyReport, NoReasonStillWritesTheHeading) {
  Point st = inside_limits(2);
  st.st.design.i = 6;  // the step count of the dialogue is reused as the counter
  EXPECT_EQ(report(st), kSynthesisHeading);
  EXPECT_EQ(st.st.design.i, 0);
}

TEST(AccuracyReport, FrequencyTimesThickness) {
  Point at = inside_limits(1);
  at.st.design.h = 1.0f;
  at.at.f = 25.0f / 25.4f;
  ASSERT_EQ(at.at.f * 1.0f * 25.4f, 25.0f);
  EXPECT_EQ(report(at), kImpedanceHeading);

  Point above = inside_limits(1);
  above.at.f = 39.38f;  // 39.38 GHz x 0.025 inch x 25.4 = 25.006 GHz-mm
  EXPECT_EQ(report(above),
            kImpedanceHeading + k20 + "1. F X H =   0.98 GHz-In. (Strong Dispersion)\n");

  Point below = inside_limits(1);
  below.at.f = 39.37f;  // 24.99995
  EXPECT_EQ(report(below), kImpedanceHeading);
}

TEST(AccuracyReport, EachReasonAtItsLimit) {
  const struct {
    const char* what;
    void (*set)(Point&);
    const char* line;  // "" = not listed
  } rows[] = {
      {"Er 20", [](Point& s) { s.st.design.er = 20.0f; }, ""},
      {"Er 20.001", [](Point& s) { s.st.design.er = 20.001f; }, "1. Er = 20.001"},
      {"iflag 1", [](Point& s) { s.at.iflag = 1; }, ""},
      {"iflag 2", [](Point& s) { s.at.iflag = 2; }, "1. H2/H =10.000 combined with S/H =  0.20"},
      {"W/H 10",
       [](Point& s) {
         s.st.design.h = 0.0625f;
         s.st.design.h2 = 0.5f;
         s.at.sec.w = 0.625f;
       },
       ""},
      {"W/H 10.0016",
       [](Point& s) {
         s.st.design.h = 0.0625f;
         s.st.design.h2 = 0.5f;
         s.at.sec.w = 0.6251f;
       },
       "1. W/H = 10.00"},
      {"W 0.0001", [](Point& s) { s.at.sec.w = 0.0001f; }, "1. W =.000100\""},
      {"W 0.000101", [](Point& s) { s.at.sec.w = 0.000101f; }, ""},
      {"S/H 8",
       [](Point& s) {
         s.st.design.h = 0.0625f;
         s.st.design.h2 = 0.5f;
         s.at.sec.s = 0.5f;
       },
       ""},
      {"S/H 8.0016",
       [](Point& s) {
         s.st.design.h = 0.0625f;
         s.st.design.h2 = 0.5f;
         s.at.sec.s = 0.5001f;
       },
       "1. S/H =  8.00"},
      {"S 0.00001", [](Point& s) { s.at.sec.s = 0.00001f; }, "1. S =.0000100\""},
      {"S 0.0000101", [](Point& s) { s.at.sec.s = 0.0000101f; }, ""},
      {"Co -6", [](Point& s) { s.at.co = -6.0f; }, ""},
      {"Co -5.99", [](Point& s) { s.at.co = -5.99f; }, "1. Co =  -5.99 dB"},
      {"Co -20", [](Point& s) { s.at.co = -20.0f; }, ""},
      {"Co -20.01", [](Point& s) { s.at.co = -20.01f; }, "1. Co = -20.01 dB"},
      {"Zo 20", [](Point& s) { s.at.zo = 20.0f; }, ""},
      {"Zo 19.99", [](Point& s) { s.at.zo = 19.99f; }, "1. Zo =  19.99 Ohms"},
      {"Zo 100", [](Point& s) { s.at.zo = 100.0f; }, ""},
      {"Zo 100.01", [](Point& s) { s.at.zo = 100.01f; }, "1. Zo = 100.01 Ohms"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    Point st = inside_limits(2);
    r.set(st);
    const std::string line = *r.line ? k20 + r.line + "\n" : "";
    EXPECT_EQ(report(st), kSynthesisHeading + line);
    EXPECT_EQ(st.st.design.i, *r.line ? 1 : 0);
  }
}

TEST(AccuracyReport, CouplingAndImpedanceOnlyForSynthesis) {
  Point analysis = inside_limits(1);
  analysis.at.co = -3.0f;
  analysis.at.zo = 150.0f;
  EXPECT_EQ(report(analysis), kImpedanceHeading);

  // Synthesis tests the coupling of the failing row.
  Point synthesis = inside_limits(2);
  synthesis.at.co = -12.0f;
  EXPECT_EQ(report(synthesis), kSynthesisHeading);
}

TEST(AccuracyReport, ValuesThatAreNotNumbersListTheirReason) {
  Point f = inside_limits(1);
  f.at.f = kNaN;
  EXPECT_EQ(report(f), kImpedanceHeading + k20 + "1. F X H =    NaN GHz-In. (Strong Dispersion)\n");

  Point er = inside_limits(1);
  er.st.design.er = kNaN;
  EXPECT_EQ(report(er), kImpedanceHeading + k20 + "1. Er =    NaN\n");

  Point s = inside_limits(1);
  s.at.sec.s = kNaN;  // both the S/H and the S reasons
  EXPECT_EQ(report(s), kImpedanceHeading + k20 + "1. S/H =   NaN\n" + k20 + "2. S =     NaN\"\n");

  Point co = inside_limits(2);
  co.at.co = kNaN;
  co.at.zo = kNaN;
  EXPECT_EQ(report(co),
            kSynthesisHeading + k20 + "1. Co =    NaN dB\n" + k20 + "2. Zo =    NaN Ohms\n");
}

TEST(AccuracyReport, ReasonsAreNumberedInOrder) {
  Point st = inside_limits(2);
  st.at.f = 100.0f;  // 63.5 GHz-mm
  st.st.design.er = 25.0f;
  st.at.iflag = 2;
  st.at.sec.w = 0.00005f;
  st.at.sec.s = 0.000005f;
  st.at.co = -3.0f;
  st.at.zo = 150.0f;
  EXPECT_EQ(report(st),
            kSynthesisHeading + k20 + "1. F X H =   2.50 GHz-In. (Strong Dispersion)\n" + k20 +
                "2. Er = 25.000\n" + k20 + "3. H2/H =10.000 combined with S/H =  0.00\n" + k20 +
                "4. W =.000050\"\n" + k20 + "5. S =.0000050\"\n" + k20 + "6. Co =  -3.00 dB\n" +
                k20 + "7. Zo = 150.00 Ohms\n");
  EXPECT_EQ(st.st.design.i, 7);
}

TEST(AccuracyReport, StoredLinesFollowTheConsole) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("kx_accuracy_" + std::to_string(::getpid()) + ".txt");
  std::ostringstream out;
  {
    Report rep(out);
    ASSERT_TRUE(rep.open(path.string()));
    rep.set_storing(true);
    Point p = inside_limits(2);
    p.st.design.er = 21.0f;
    report_to(p, rep);
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
