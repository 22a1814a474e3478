// response --format touchstone prints the text --touchstone FILE writes;
// the other subcommands refuse that format.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace {

int run(std::vector<std::string> args, std::string& out) {
  args.insert(args.begin(), "kestrelix");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  std::ostringstream o, e;
  const int status = kx::cli::run_cli(static_cast<int>(argv.size()), argv.data(), o, e);
  out = o.str();
  return status;
}

TEST(TouchstoneFormat, StandardOutputHoldsTheFileText) {
  const std::string path =
      (std::filesystem::temp_directory_path() / "kx_touchstone_format_test.s4p").string();
  const std::vector<std::string> response = {"response", "--er", "3.66",      "--h",     "20",
                                             "--h2",     "250",  "--w",       "34.33",   "--s",
                                             "3.72",     "--t",  "1.4",       "--units", "mil",
                                             "--centre", "2.4",  "--f-range", "1:4:0.5"};
  std::string text, table;
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> a = response;
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
  };
  ASSERT_EQ(run(with({"--format", "touchstone"}), text), 0);
  ASSERT_EQ(run(with({"--touchstone", path}), table), 0);
  std::ifstream file(path);
  std::stringstream written;
  written << file.rdbuf();
  std::filesystem::remove(path);
  EXPECT_EQ(text, written.str());
  EXPECT_NE(text.find("# GHz S RI R 50\n"), std::string::npos);

  std::string none;
  EXPECT_EQ(run({"dispersion", "--er", "3.66", "--h", "0.02", "--h2", "0.25", "--w", "0.034", "--s",
                 "0.0037", "--t", "0.0014", "--f-range", "1:2:1", "--format", "touchstone"},
                none),
            2);
  EXPECT_TRUE(none.empty());
}

}  // namespace
