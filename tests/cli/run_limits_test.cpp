// The limits a caller sets on one run: no file written when files are not
// allowed, the caps on points and samples, and a Stop that ends a long run.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace {

struct Outcome {
  int status{};
  std::string out, err;
};

Outcome run(std::vector<std::string> args, const kx::cli::RunLimits& limits) {
  args.insert(args.begin(), "kestrelix");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  Outcome r;
  r.status = kx::cli::run_cli(static_cast<int>(argv.size()), argv.data(), out, err, limits);
  r.out = out.str();
  r.err = err.str();
  return r;
}

const std::vector<std::string> kSection = {"--er", "3.66", "--h",     "20",  "--h2",
                                           "250",  "--w",  "34.33",   "--s", "3.72",
                                           "--t",  "1.4",  "--units", "mil"};

std::vector<std::string> with_section(std::vector<std::string> args) {
  args.insert(args.begin() + 1, kSection.begin(), kSection.end());
  return args;
}

TEST(RunLimits, FileOptionsAreUsageErrorsWhenFilesAreNotAllowed) {
  const auto dir = std::filesystem::temp_directory_path();
  const std::string s4p = (dir / "kx_limits_test.s4p").string();
  const std::string csv = (dir / "kx_limits_test.csv").string();
  kx::cli::RunLimits no_files;
  no_files.files = false;
  const Outcome r1 =
      run(with_section({"response", "--f-range", "1:4:1", "--centre", "2.4", "--touchstone", s4p}),
          no_files);
  const Outcome r2 = run(
      with_section({"tolerance", "--f", "2.4", "--samples", "10", "--samples-out", csv}), no_files);
  EXPECT_EQ(r1.status, 2);
  EXPECT_EQ(r2.status, 2);
  EXPECT_NE(r1.err.find("--touchstone"), std::string::npos) << r1.err;
  EXPECT_NE(r2.err.find("--samples-out"), std::string::npos) << r2.err;
  EXPECT_FALSE(std::filesystem::exists(s4p));
  EXPECT_FALSE(std::filesystem::exists(csv));
  // The same runs without the file options are allowed.
  EXPECT_EQ(
      run(with_section({"response", "--f-range", "1:4:1", "--centre", "2.4"}), no_files).status, 0);
}

TEST(RunLimits, CapsOnPointsAndSamplesAreUsageErrors) {
  kx::cli::RunLimits small;
  small.max_points = 10;
  small.max_samples = 1000;
  EXPECT_EQ(
      run(with_section({"response", "--f-range", "1:1.9:0.1", "--centre", "2.4"}), small).status,
      0);  // 10 points
  const Outcome points =
      run(with_section({"response", "--f-range", "1:2:0.1", "--centre", "2.4"}), small);
  EXPECT_EQ(points.status, 2);
  EXPECT_NE(points.err.find("at most 10"), std::string::npos) << points.err;
  EXPECT_EQ(run(with_section({"tolerance", "--f", "2.4", "--samples", "1000"}), small).status, 0);
  EXPECT_EQ(run(with_section({"tolerance", "--f", "2.4", "--samples", "1001"}), small).status, 2);
}

TEST(RunLimits, StopEndsALongRunWithStatusOne) {
  kx::Stop stop;
  stop.set_deadline(std::chrono::steady_clock::now());
  kx::cli::RunLimits limits;
  limits.stop = &stop;
  const Outcome r = run(with_section({"tolerance", "--f", "2.4", "--tol-w", "0.5", "--samples",
                                      "1000000", "--format", "json"}),
                        limits);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("stopped"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
  EXPECT_TRUE(r.out.empty());
}

}  // namespace
