// The storage question and the output file name rules; the date stamp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialogue_fixture.h"

namespace kx::test {
namespace {

// D.C. synthesis over coupling levels, every data prompt defaulted.
const std::vector<std::string> kToStorage = cat({{"2", "1", "1"}, blanks(8)});

const std::string kStorage = "\n      Is Output Data STORAGE desired? (1=YES) = ";
const std::string kNameBlock =
    "      Enter a FILENAME (up to 20 characters) for Output Data storage: \n"
    "          -Enter: Filename.xls for storage in a spreadsheet.\n"
    "          -Enter: Filename.doc for storage in a word processor.\n"
    "          -Enter: Filename.txt for storage as a text document.\n"
    "           Enter your FILENAME for Output Data Storage: ";

class Storage : public ::testing::Test {
 protected:
  void SetUp() override { write_defaults(default_lines()); }
  TempWorkDir dir;
};

TEST_F(Storage, AnswerOneAsksForTheName) {
  for (const char* yes : {"1", "1.4", "0.5"}) {
    SCOPED_TRACE(yes);
    Dialogue dlg;
    const std::string out = dlg.run(cat({kToStorage, {yes, "results.txt"}}));
    EXPECT_FALSE(dlg.ended_by_input);
    EXPECT_TRUE(ends_with(out, kStorage + kNameBlock)) << out;
    EXPECT_EQ(dlg.d.istore, 1);
    EXPECT_EQ(dlg.d.fn, "results.txt         ");
  }
}

TEST_F(Storage, OtherAnswersMeanNoStorage) {
  for (const char* no : {"", "0", "0.4", "1.5", "2", "-1"}) {
    SCOPED_TRACE(no);
    Dialogue dlg;
    dlg.d.istore = 1;  // reset at every question
    const std::string out = dlg.run(cat({kToStorage, {no}}));
    EXPECT_FALSE(dlg.ended_by_input);
    EXPECT_TRUE(ends_with(out, kStorage)) << out;
    EXPECT_EQ(dlg.d.istore, 0);
    EXPECT_EQ(dlg.d.fn, "test.xls            ");
  }
}

TEST_F(Storage, BaselineVerificationModeAsksNoName) {
  for (const char* code : {"-473", "-472.5", "-473.4"}) {
    SCOPED_TRACE(code);
    Dialogue dlg;
    const std::string out = dlg.run(cat({kToStorage, {code}}));
    EXPECT_FALSE(dlg.ended_by_input);
    EXPECT_TRUE(ends_with(out, kStorage)) << out;
    EXPECT_EQ(dlg.d.istore, -473);
  }
  Dialogue other;
  other.run(cat({kToStorage, {"-473.5"}}));
  EXPECT_EQ(other.d.istore, 0);
}

TEST_F(Storage, FileNameRules) {
  const struct {
    const char* answer;
    const char* fn;
  } rows[] = {
      {"", "test.xls            "},                       // the defaults file's FN.
      {"                    x", "test.xls            "},  // blank in columns 1 to 20
      {"a_name_of_25_characters__", "a_name_of_25_charact"},
      {"Kestrelix.DEF", "Kestrelix.XLS       "},
      {"Kestrelix.EXE", "Kestrelix.XLS       "},
      {"Kestrelix.DEF   ", "Kestrelix.XLS       "},
      {"kestrelix.def", "kestrelix.def       "},
      {" Kestrelix.DEF", " Kestrelix.DEF      "},
      {"dir/Kestrelix.DEF", "dir/Kestrelix.DEF   "},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string("'") + r.answer + "'");
    Dialogue dlg;
    dlg.run(cat({kToStorage, {"1", r.answer}}));
    EXPECT_EQ(dlg.d.istore, 1);
    EXPECT_EQ(dlg.d.fn, r.fn);
  }
}

TEST_F(Storage, BlankNameKeepsThePreviousName) {
  Dialogue dlg;
  dlg.run(cat({kToStorage, {"1", "first.txt"}}));
  ASSERT_EQ(dlg.d.fn, "first.txt           ");
  dlg.d.isel = 2;
  dlg.run(cat({{"2", "1", "1"}, blanks(8), {"1", ""}}));
  EXPECT_FALSE(dlg.ended_by_input);
  EXPECT_EQ(dlg.d.istore, 1);
  EXPECT_EQ(dlg.d.fn, "first.txt           ");
}

TEST_F(Storage, DateStampTakenOnceFromTheClock) {
  Dialogue dlg;
  dlg.run({});
  EXPECT_EQ(dlg.d.iyr, 2024);
  EXPECT_EQ(dlg.d.imon, 3);
  EXPECT_EQ(dlg.d.iday, 7);
  EXPECT_EQ(dlg.d.ihr, 9);
  EXPECT_EQ(dlg.d.imin, 5);
  EXPECT_EQ(dlg.d.isec, 1);
  dlg.io.clock = [] { return DateTime{2030, 1, 2, 3, 4, 5}; };
  dlg.d.isel = 2;
  dlg.run({});
  EXPECT_EQ(dlg.d.iyr, 2024);
  EXPECT_EQ(dlg.d.isec, 1);
}

TEST(LocalClock, GivesAPlausibleLocalTime) {
  const DateTime t = local_clock();
  EXPECT_GE(t.year, 2020);
  EXPECT_GE(t.month, 1);
  EXPECT_LE(t.month, 12);
  EXPECT_GE(t.day, 1);
  EXPECT_LE(t.day, 31);
  EXPECT_GE(t.hour, 0);
  EXPECT_LE(t.hour, 23);
  EXPECT_GE(t.minute, 0);
  EXPECT_LE(t.minute, 59);
  EXPECT_GE(t.second, 0);
  EXPECT_LE(t.second, 60);
}

}  // namespace
}  // namespace kx::test
