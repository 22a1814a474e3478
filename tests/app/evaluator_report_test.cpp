// The program's report against the evaluator: a whole session on the example
// defaults file, in-process, whose printed row must be the evaluator's values
// in the row's edit descriptors. The same session shows that the example
// file describes the coupler its title names.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <kestrelix/coupled_line.h>

#include "../input/dialogue_fixture.h"
#include "app/driver.h"
#include "common/ftn_format.h"
#include "tests/support/targets.h"

namespace kx::test {
namespace {

const std::filesystem::path kExample = std::filesystem::path(KX_TEST_DATA_DIR) / ".." / "examples" /
                                       "Kestrelix.DEF";

// The example's cross-section: 25 mil alumina, cover at 0.25", 0.7 mil
// strips 0.01887" wide, 0.00757" apart.
Section example_section() {
  Section sec;
  sec.er = 9.8f;
  sec.h = 0.025f;
  sec.h2 = 0.25f;
  sec.w = 0.01887f;
  sec.s = 0.00757f;
  sec.t = 0.0007f;
  return sec;
}
const Section kExampleSection = example_section();

DateTime fixed_moment() { return {2026, 12, 7, 9, 5, 3}; }

// Runs the program on the answers; returns the console lines.
std::vector<std::string> session(const std::vector<std::string>& answers) {
  std::string text;
  for (const auto& a : answers) text += a + "\n";
  std::istringstream in(text);
  std::ostringstream out, err;
  EXPECT_EQ(run_program(in, out, err, fixed_moment), 0) << err.str();
  std::vector<std::string> ls;
  std::istringstream lines(out.str());
  for (std::string l; std::getline(lines, l);) ls.push_back(l);
  return ls;
}

bool has_line(const std::vector<std::string>& ls, const std::string& line) {
  for (const auto& l : ls) {
    if (l == line) return true;
  }
  return false;
}

class EvaluatorAndReport : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::copy_file(kExample, dir.path() / "Kestrelix.DEF"); }
  TempWorkDir dir;
};

TEST_F(EvaluatorAndReport, ImpedanceRowIsTheEvaluatorsModes) {
  // Impedance analysis over W from 0.01887 to 0.01887 at the file's 2 GHz,
  // copper and 2.5 micro-inch (the defaults); no storage.
  const auto ls = session(cat({{"1", "1", "1", "", "", "0.01887", "0.01887"}, blanks(8), {"3"}}));

  CoupledLine line{ModelSettings{Model::closed}};
  const Section& sec = kExampleSection;
  // Copper, 2.5 micro-inch, and the file's loss tangent 0.0005.
  Materials mat;
  mat.res = 1.7f;
  mat.sr = 2.5f;
  mat.tlos = 0.0005f;
  const Modes m = line.at(sec, mat, 2.0f);
  ASSERT_TRUE(m.valid);
  // (3X,F8.4,F7.3,F8.3,2(F8.3),F9.3,F7.3,F7.3,F8.3,F8.3)
  const std::string row = "   " + ftn_f(sec.w, 8, 4) + ftn_f((1.0f / sec.h) * sec.w, 7, 3) +
                          ftn_f(m.zo, 8, 3) + ftn_f(m.zoe, 8, 3) + ftn_f(m.zoo, 8, 3) +
                          ftn_f(-m.coupling_db, 9, 3) + ftn_f(m.eff_e, 7, 3) +
                          ftn_f(m.eff_o, 7, 3) + ftn_f(-m.loss_e, 8, 3) + ftn_f(-m.loss_o, 8, 3);
  EXPECT_TRUE(has_line(ls, row)) << row;

  // The title's coupler: 10 dB in a 50 ohm system.
  EXPECT_NEAR(m.zo, 50.0f, 0.1f);
  EXPECT_NEAR(m.coupling_db, 10.0f, 0.05f);
}

TEST_F(EvaluatorAndReport, SynthesisRowIsTheEvaluatorsSynthesis) {
  // Dispersive synthesis at the file's 2 GHz, Zo 50 ohms, the single
  // coupling level 10 dB (Cstrong 10, Cweak 10); no storage.
  const auto ls =
      session(cat({{"2", "2", "1"}, blanks(4), {"", "", "10", "10", ""}, blanks(1), {"3"}}));

  CoupledLine line{ModelSettings{Model::closed}};
  const Synthesis r = line.synthesise(kExampleSection, test::coupler_target(50.0f, 10.0f, 2.0f));
  ASSERT_TRUE(r.valid);
  const float h = kExampleSection.h;
  // (3X,2(F8.4,F6.3),2X,F7.3,2(F8.3),F9.3,F7.3,F8.3): Zo and the level are
  // the targets, Zoe and Zoo what the models give for W and S.
  const std::string row = "   " + ftn_f(r.w, 8, 4) + ftn_f((1.0f / h) * r.w, 6, 3) +
                          ftn_f(r.s, 8, 4) + ftn_f((1.0f / h) * r.s, 6, 3) + "  " +
                          ftn_f(50.0f, 7, 3) + ftn_f(r.zoe, 8, 3) + ftn_f(r.zoo, 8, 3) +
                          ftn_f(-10.0f, 9, 3) + ftn_f(r.eff_e, 7, 3) + ftn_f(r.eff_o, 8, 3);
  EXPECT_TRUE(has_line(ls, row)) << row;
  // The example file's W and S are this synthesis, to 5 decimals.
  EXPECT_NEAR(r.w, kExampleSection.w, 5e-6f);
  EXPECT_NEAR(r.s, kExampleSection.s, 5e-6f);
}

}  // namespace
}  // namespace kx::test
