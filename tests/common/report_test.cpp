// Report writer: console and output-file routing, file continuation and
// replacement, flushing.
#include "common/report.h"
#include "common/report_testing.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace kx {
namespace {

std::string temp_path(const std::string& leaf) {
  return ::testing::TempDir() + "kx_report_" + leaf;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// A console that counts its flushes.
struct CountingBuf : std::stringbuf {
  int syncs = 0;
  int sync() override {
    ++syncs;
    return std::stringbuf::sync();
  }
};

TEST(Report, WriteGoesToConsoleAndFileWrittenOutAtThePrompt) {
  const std::string path = temp_path("write.txt");
  std::ostringstream con;
  Report rep(con);
  rep.set_storing(true);
  ASSERT_TRUE(rep.open(path));
  rep.write("(1X,'Er =',F6.2)", {9.8f});
  rep.prompt("('? ')");  // a console read follows: the file is written out first
  EXPECT_EQ(slurp(path), " Er =  9.80\n");
  rep.console("('console only')");
  rep.file("('file only')");
  rep.write("(I3)", {7});
  rep.flush();
  EXPECT_EQ(con.str(), " Er =  9.80\n? console only\n  7\n");
  EXPECT_EQ(slurp(path), " Er =  9.80\nfile only\n  7\n");
  std::remove(path.c_str());
}

TEST(Report, StorageOffOrNoFileWritesOnlyConsole) {
  const std::string path = temp_path("off.txt");
  std::ostringstream con;
  Report rep(con);
  rep.set_storing(true);
  EXPECT_FALSE(rep.storing());  // no file open yet
  rep.write("('a')");
  ASSERT_TRUE(rep.open(path));
  rep.set_storing(false);
  EXPECT_FALSE(rep.storing());
  rep.write("('b')");
  rep.file("('c')");
  EXPECT_EQ(con.str(), "a\nb\n");
  EXPECT_EQ(slurp(path), "");
  std::remove(path.c_str());
}

TEST(Report, PromptLeavesLineOpenAndFlushesConsole) {
  CountingBuf buf;
  std::ostream con(&buf);
  Report rep(con);
  rep.prompt("(/,6X,'OPERATION selected = ')");
  EXPECT_EQ(buf.str(), "\n      OPERATION selected = ");
  EXPECT_GE(buf.syncs, 1);
}

TEST(Report, SameNameContinuesTheOpenFile) {
  const std::string path = temp_path("same.txt");
  std::ostringstream con;
  Report rep(con);
  rep.set_storing(true);
  ASSERT_TRUE(rep.open(path + "     "));  // trailing blanks of an (A20) answer
  EXPECT_EQ(rep.open_name(), path);
  rep.write("('one')");
  ASSERT_TRUE(rep.open(path));
  rep.write("('two')");
  rep.flush();
  EXPECT_EQ(slurp(path), "one\ntwo\n");
  std::remove(path.c_str());
}

TEST(Report, DifferentNameClosesOldAndStartsNewFromEmpty) {
  const std::string a = temp_path("a.txt");
  const std::string b = temp_path("b.txt");
  {
    std::ofstream old(b);
    old << "stale content\n";
  }
  std::ostringstream con;
  Report rep(con);
  rep.set_storing(true);
  ASSERT_TRUE(rep.open(a));
  rep.write("('first')");
  ASSERT_TRUE(rep.open(b));
  rep.write("('second')");
  rep.flush();
  EXPECT_EQ(slurp(a), "first\n");
  EXPECT_EQ(slurp(b), "second\n");
  ASSERT_TRUE(rep.open(a));  // back to a: started again from empty
  rep.write("('third')");
  rep.flush();
  EXPECT_EQ(slurp(a), "third\n");
  rep.close();
  EXPECT_FALSE(rep.storing());
  EXPECT_EQ(rep.open_name(), "");
  std::remove(a.c_str());
  std::remove(b.c_str());
}

TEST(Report, UnopenableFileIsRefused) {
  std::ostringstream con;
  Report rep(con);
  rep.set_storing(true);
  EXPECT_FALSE(rep.open(temp_path("no_such_dir/x.txt")));
  EXPECT_FALSE(rep.open("    "));
  EXPECT_FALSE(rep.storing());
}

TEST(Report, BadTemplateWritesNothing) {
  std::ostringstream con;
  Report rep(con);
  EXPECT_THROW(rep.write("('a',F7.3)", {1}), FtnFormatError);
  EXPECT_EQ(con.str(), "");
}

TEST(Report, LineLimitStopsTheReportBeforeTheLineThatPassesIt) {
  std::ostringstream con;
  Report rep(con);
  ReportTesting::set_line_limit(rep, 3);
  rep.write("('one',/,'two')");
  rep.prompt("('open ')");  // a prompt leaves its line open: no line counted
  rep.console("('three')");
  EXPECT_THROW(rep.write("('four')"), ReportLimit);
  EXPECT_EQ(con.str(), "one\ntwo\nopen three\n");
}

}  // namespace
}  // namespace kx
