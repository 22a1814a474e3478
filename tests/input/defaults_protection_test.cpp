// The defaults file is never the output file, whatever spelling leads to it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/driver.h"
#include "dialogue_fixture.h"

namespace kx::test {
namespace {

const std::vector<std::string> kToStorage = cat({{"2", "1", "1"}, blanks(8)});

std::string file_text(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

class DefaultsProtection : public ::testing::Test {
 protected:
  void SetUp() override { write_defaults(default_lines()); }
  TempWorkDir dir;
};

TEST_F(DefaultsProtection, OtherSpellingsOfTheDefaultsFileBecomeTheSpreadsheetName) {
  ASSERT_EQ(::symlink("Kestrelix.DEF", "link.txt"), 0);
  const std::string absolute = (dir.path() / "Kestrelix.DEF").string();
  std::vector<std::string> spellings = {"./Kestrelix.DEF", ".//Kestrelix.DEF", "link.txt"};
  if (absolute.size() <= 20) spellings.push_back(absolute);
  for (const auto& name : spellings) {
    SCOPED_TRACE(name);
    Dialogue dlg;
    dlg.run(cat({kToStorage, {"1", name}}));
    EXPECT_EQ(dlg.d.istore, 1);
    EXPECT_EQ(dlg.d.fn, "Kestrelix.XLS       ");
  }
  // A name of another file is kept as typed.
  std::ofstream("other.txt") << "x\n";
  Dialogue dlg;
  dlg.run(cat({kToStorage, {"1", "./other.txt"}}));
  EXPECT_EQ(dlg.d.fn, "./other.txt         ");
}

TEST_F(DefaultsProtection, WholeRunThroughALinkLeavesTheDefaultsFileIntact) {
  ASSERT_EQ(::symlink("Kestrelix.DEF", "link.txt"), 0);
  const std::string before = file_text("Kestrelix.DEF");
  std::istringstream in("2\n1\n1\n\n\n\n\n\n\n\n\n1\nlink.txt\n3\n");
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(run_program(in, out, err, first_moment), 0) << err.str();
  EXPECT_EQ(file_text("Kestrelix.DEF"), before);
  EXPECT_NE(file_text("Kestrelix.XLS").find("Output data stored in User filename: Kestrelix.XLS"),
            std::string::npos);
  EXPECT_EQ(err.str(), "");
}

TEST_F(DefaultsProtection, ReplacementNameThatLeadsToTheDefaultsFileIsRefused) {
  // Even Kestrelix.XLS itself may be a link to the defaults file: nothing is
  // written through it and the run ends with an error.
  ASSERT_EQ(::symlink("Kestrelix.DEF", "Kestrelix.XLS"), 0);
  const std::string before = file_text("Kestrelix.DEF");
  std::istringstream in("2\n1\n1\n\n\n\n\n\n\n\n\n1\nKestrelix.DEF\n3\n");
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(run_program(in, out, err, first_moment), 1);
  EXPECT_EQ(file_text("Kestrelix.DEF"), before);
  EXPECT_EQ(err.str(),
            "kestrelix: output file Kestrelix.XLS is the defaults file Kestrelix.DEF; it is not "
            "overwritten\n");
}

}  // namespace
}  // namespace kx::test
