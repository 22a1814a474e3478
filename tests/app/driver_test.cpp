// The program driver: exit statuses, the OPERATION answers, the report stamp,
// the end-of-run lines and the output file.
#include "app/driver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../input/dialogue_fixture.h"

namespace kx::test {
namespace {

DateTime fixed_moment() { return {2026, 12, 7, 9, 5, 3}; }

const std::string kStamp =
    "\n      " + std::string(72, '-') + "\n      Kestrelix (v. 1.3)" + std::string(22, ' ') +
    "Date:12/ 7/2026 at  9: 5: 3Hours\n" + std::string(16, ' ') +
    "RF/Microwave Computer-Aided Engineering Design Data For\n" + std::string(16, ' ') +
    "   Single-Section Edge-Coupled Microstrip Couplers:\n\n";
const std::string kClosingRule = "     " + std::string(75, '-') + "\n";
const std::string kNextOperation =
    "\n      Microstrip Coupler calculations completed. Select next OPERATION:\n"
    "           1: Select a new OPTION for your Microstrip Coupler.\n"
    "           2: Design a NEW Microstrip Coupler.\n"
    "          *3: EXIT to operating system (Default).\n"
    "      OPERATION selected = ";
const std::string kStorage = "\n      Is Output Data STORAGE desired? (1=YES) = ";
const std::string kBannerTitle = "RF/Microwave Computer-Aided Engineering Design Software";

std::string note(const std::string& fn20) {
  return "      Output data stored in User filename: " + fn20 + "\n";
}

// An impedance analysis over the file's W range, every value defaulted,
// followed by the storage answers.
std::vector<std::string> first_pass(const std::vector<std::string>& storage) {
  return cat({{"1", "1", "1"}, blanks(11), storage});
}
// The same after OPERATION 1 (no FUNCTION menu).
std::vector<std::string> option_pass(const std::vector<std::string>& storage) {
  return cat({{"1", "1"}, blanks(11), storage});
}

struct Session {
  int status = -1;
  std::string out, err;
};

Session run(const std::vector<std::string>& answers) {
  std::string text;
  for (const auto& a : answers) text += a + "\n";
  std::istringstream in(text);
  std::ostringstream out, err;
  Session r;
  r.status = run_program(in, out, err, fixed_moment);
  r.out = out.str();
  r.err = err.str();
  return r;
}

std::string file_text(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::vector<std::string> files_here() {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(".")) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool one_error_line(const std::string& err) {
  return !err.empty() && err.back() == '\n' && count(err, "\n") == 1 &&
         err.rfind("kestrelix: ", 0) == 0;
}

class Driver : public ::testing::Test {
 protected:
  void SetUp() override { write_defaults(default_lines()); }
  TempWorkDir dir;
};

TEST_F(Driver, LeavesThroughTheOperationMenuWithStatusZero) {
  const Session r = run(cat({first_pass({""}), {"3"}}));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find(kStorage + kStamp), std::string::npos) << r.out;
  EXPECT_TRUE(ends_with(r.out, kClosingRule + kNextOperation)) << r.out;
  EXPECT_EQ(count(r.out, "Output data stored"), 0);
  EXPECT_EQ(files_here(), std::vector<std::string>{"Kestrelix.DEF"});
}

TEST_F(Driver, OperationAnswersThatEnd) {
  for (const char* ans : {"", "0", "-1", "-0.4", "2.5", "3", "7"}) {
    SCOPED_TRACE(std::string("'") + ans + "'");
    const Session r = run(cat({first_pass({""}), {ans}}));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(ends_with(r.out, kNextOperation));
    EXPECT_EQ(count(r.out, kBannerTitle), 1);
  }
}

TEST_F(Driver, OperationAnswersThatStartAnotherPass) {
  for (const char* ans : {"0.5", "1", "1.49"}) {
    SCOPED_TRACE(ans);
    const Session r = run(cat({first_pass({""}), {ans}}));
    EXPECT_EQ(r.status, 1);  // the input ends in the new dialogue
    EXPECT_TRUE(ends_with(r.out, kNextOperation +
                                     "\n      Please select an Impedance Analysis OPTION:\n"
                                     "           1: Impedance   Analysis from known Strip "
                                     "Dimensions.\n"
                                     "          *2: Frequency   Analysis of Microstrip Coupler "
                                     "(Default).\n"
                                     "           3: Sensitivity Analysis of Coupler Impedances: "
                                     "Zoe and Zoo.\n"
                                     "      Analysis OPTION selected = "))
        << r.out;
    EXPECT_EQ(count(r.out, kBannerTitle), 1);
  }
  for (const char* ans : {"1.5", "2", "2.49"}) {
    SCOPED_TRACE(ans);
    const Session r = run(cat({first_pass({""}), {ans}}));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(ends_with(r.out, "      Program FUNCTION selected = "));
    EXPECT_EQ(count(r.out, kBannerTitle), 2);
    EXPECT_EQ(count(r.out, "Date:12/ 7/2026 at  9: 5: 3Hours"), 3);  // 2 banners, 1 stamp
  }
}

TEST_F(Driver, EndOfInputIsAnErrorOfOneLine) {
  const Session r = run({"1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(one_error_line(r.err)) << r.err;
  EXPECT_TRUE(ends_with(r.out, "      Analysis OPTION selected = "));

  const Session at_operation = run(first_pass({""}));
  EXPECT_EQ(at_operation.status, 1);
  EXPECT_TRUE(one_error_line(at_operation.err)) << at_operation.err;
  EXPECT_TRUE(ends_with(at_operation.out, kNextOperation));
}

TEST_F(Driver, AnswerThatIsNotANumberIsAnError) {
  const Session r = run({"two"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(one_error_line(r.err)) << r.err;
  EXPECT_TRUE(ends_with(r.out, "      Program FUNCTION selected = "));

  const Session at_operation = run(cat({first_pass({""}), {"x"}}));
  EXPECT_EQ(at_operation.status, 1);
  EXPECT_TRUE(one_error_line(at_operation.err)) << at_operation.err;
}

TEST_F(Driver, MissingDefaultsFileEndsWithoutOutput) {
  std::filesystem::remove("Kestrelix.DEF");
  const Session r = run(first_pass({""}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  // One line, which says where a first run finds a defaults file (the test
  // program has no installed example beside it).
  EXPECT_EQ(r.err,
            "kestrelix: cannot open Kestrelix.DEF: No such file or directory; the dialogue needs "
            "Kestrelix.DEF in this folder (or see kestrelix --help)\n");
}

TEST_F(Driver, DefaultsFileFaultPrintsOnlyItsMessage) {
  auto lines = default_lines();
  lines[kSSTEP] = "0";
  write_defaults(lines);
  const Session r = run(first_pass({""}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "      Error exists in Microstrip Coupler default value data\n"
            "      file: Kestrelix.DEF. Fix entry for variable SSTEP.     \n");
}

TEST_F(Driver, StoredReportMatchesTheConsoleReport) {
  const Session r = run(cat({first_pass({"1", "out.txt"}), {"3"}}));
  EXPECT_EQ(r.status, 0);
  const std::string fn20 = "out.txt             ";
  // Console: the closing rule, then the note.
  EXPECT_TRUE(ends_with(r.out, kClosingRule + note(fn20) + kNextOperation)) << r.out;
  const std::string file = file_text("out.txt");
  ASSERT_EQ(file.rfind(kStamp, 0), 0u) << file;
  EXPECT_TRUE(ends_with(file, kClosingRule + note(fn20))) << file;
  // The report lines between the stamp and the closing rule are the same.
  const auto start = r.out.find(kStamp);
  ASSERT_NE(start, std::string::npos);
  const auto end = r.out.rfind(kClosingRule);
  EXPECT_EQ(r.out.substr(start, end - start),
            file.substr(0, file.size() - kClosingRule.size() - note(fn20).size()));
  EXPECT_EQ(count(file, "selected ="), 0);
  EXPECT_EQ(files_here(), (std::vector<std::string>{"Kestrelix.DEF", "out.txt"}));
}

TEST_F(Driver, PassesWithTheSameNameShareOneFile) {
  const Session r = run(cat({first_pass({"1", "out.txt"}), {"1"}, option_pass({"1", ""}), {"3"}}));
  EXPECT_EQ(r.status, 0);
  const std::string file = file_text("out.txt");
  EXPECT_EQ(count(file, kStamp), 2);
  EXPECT_EQ(count(file, note("out.txt             ")), 2);
  EXPECT_EQ(files_here(), (std::vector<std::string>{"Kestrelix.DEF", "out.txt"}));

  const Session two =
      run(cat({first_pass({"1", "a.txt"}), {"1"}, option_pass({"1", "b.txt"}), {""}}));
  EXPECT_EQ(two.status, 0);
  EXPECT_EQ(count(file_text("a.txt"), kStamp), 1);
  EXPECT_EQ(count(file_text("b.txt"), kStamp), 1);
}

TEST_F(Driver, OutputFileIsKeptWhenTheInputEndsMidDialogue) {
  const Session r = run(cat({first_pass({"1", "kept.txt"}), {"2", "1", "1"}}));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(one_error_line(r.err)) << r.err;
  const std::string file = file_text("kept.txt");
  EXPECT_EQ(file.rfind(kStamp, 0), 0u);
  EXPECT_TRUE(ends_with(file, kClosingRule + note("kept.txt            "))) << file;
}

TEST_F(Driver, OutputFileThatCannotBeOpenedIsAnError) {
  const Session r = run(cat({first_pass({"1", "no_dir/out.txt"}), {"3"}}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "kestrelix: cannot open output file no_dir/out.txt for writing: No such file or "
            "directory\n");
  EXPECT_TRUE(ends_with(r.out, "Enter your FILENAME for Output Data Storage: " + kStamp)) << r.out;
}

TEST_F(Driver, BaselineVerificationModeWritesNoFile) {
  const Session r = run(cat({first_pass({"-473"}), {"3"}}));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(count(r.out, "Output data stored"), 0);
  EXPECT_EQ(files_here(), std::vector<std::string>{"Kestrelix.DEF"});
}

}  // namespace
}  // namespace kx::test
