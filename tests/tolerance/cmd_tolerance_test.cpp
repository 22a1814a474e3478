#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <kestrelix/units.h>
#include "cli/cli.h"

namespace {

struct Result {
  int status;
  std::string out, err;
};

Result run(std::vector<const char*> args) {
  args.insert(args.begin(), "kestrelix");
  std::ostringstream out, err;
  const int status = kx::cli::run_cli(static_cast<int>(args.size()), args.data(), out, err);
  return {status, out.str(), err.str()};
}

// The 10 dB coupler of the README in mil, with tolerances in mil too.
std::vector<const char*> coupler(std::vector<const char*> more, const char* samples = "500") {
  std::vector<const char*> a{"tolerance", "--er",  "3.66", "--h",     "20",  "--h2",      "250",
                             "--w",       "34.33", "--s",  "3.72",    "--t", "1.4",       "--units",
                             "mil",       "--f",   "2.4",  "--tol-s", "0.5", "--samples", samples};
  a.insert(a.end(), more.begin(), more.end());
  return a;
}

TEST(ToleranceCommand, LengthsInTheChosenUnitAndErrorsAsStatus) {
  const Result r =
      run(coupler({"--centre", "2.4", "--limit", "coupling_db=9.5:10.5", "--format", "json"}));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["units"]["length"], "mil");
  EXPECT_EQ(doc["inputs"]["w_mil"], 34.33);
  EXPECT_EQ(doc["inputs"]["tol_s_mil"], 0.5);
  EXPECT_EQ(doc["summary"]["samples"], 500);
  const auto& rows = doc["rows"];
  // The four-port with --centre: its figures follow the cross-section's.
  EXPECT_EQ(rows[9]["figure"], "return_loss_db");
  EXPECT_EQ(rows[13]["kind"], "limit");
  EXPECT_EQ(rows[13]["figure"], "coupling_db");

  // A percentage of the nominal value: 5 % of H 20 mil.
  const Result pct = run(coupler({"--tol-h", "5%", "--format", "json"}));
  ASSERT_EQ(pct.status, 0) << pct.err;
  EXPECT_EQ(nlohmann::json::parse(pct.out)["inputs"]["tol_h_mil"], 1.0);

  // Usage errors: status 2 and one line naming the option.
  Result e = run(coupler({"--tol-etch", "5%"}));
  EXPECT_EQ(e.status, 2);
  EXPECT_NE(e.err.find("--tol-etch: give the etch offset as a length"), std::string::npos);
  Result u = run(coupler({"--limit", "gain=1:2"}));
  EXPECT_EQ(u.status, 2);
  EXPECT_EQ(u.err.rfind("kestrelix tolerance: --limit: unknown figure 'gain'", 0), 0u) << u.err;
  u = run(coupler({"--limit", "vswr=1:1.2"}));  // a four-port figure without a length
  EXPECT_EQ(u.status, 2);
  u = run(coupler({"--samples", "0"}));
  EXPECT_EQ(u.status, 2);
  EXPECT_NE(u.err.find("--samples"), std::string::npos);

  // A samples file that cannot be written: status 1, never success.
  const Result w = run(coupler({"--samples-out", "/dev/full"}));
  EXPECT_EQ(w.status, 1);
  EXPECT_NE(w.err.find("/dev/full"), std::string::npos);
}

// A tolerance typed in mm is the same length as typed in inches, rounded
// once as every length is (kestrelix/units.h): the same boards, the same rows.
TEST(ToleranceCommand, ATolerancesUnitChangesNoBit) {
  const auto inches = [](double mm) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, kx::from_mm(mm));
    return std::string(buf, r.ptr);
  };
  const std::string w = inches(0.8724973), s = inches(0.094238155), etch = inches(0.00762);
  const std::string h = inches(0.508), h2 = inches(6.35), t = inches(0.035);
  const std::vector<const char*> common{"tolerance", "--er",     "3.66",    "--f", "2.4",
                                        "--centre",  "2.4",      "--tol-h", "5%",  "--samples",
                                        "300",       "--format", "json"};
  std::vector<const char*> mm = common;
  mm.insert(mm.end(), {"--units", "mm", "--w", "0.8724973", "--s", "0.094238155", "--h", "0.508",
                       "--h2", "6.35", "--t", "0.035", "--tol-etch", "0.00762"});
  std::vector<const char*> in = common;
  in.insert(in.end(), {"--w", w.c_str(), "--s", s.c_str(), "--h", h.c_str(), "--h2", h2.c_str(),
                       "--t", t.c_str(), "--tol-etch", etch.c_str()});
  const Result a = run(mm);
  const Result b = run(in);
  ASSERT_EQ(a.status, 0) << a.err;
  ASSERT_EQ(b.status, 0) << b.err;
  EXPECT_EQ(nlohmann::json::parse(a.out)["rows"], nlohmann::json::parse(b.out)["rows"]);
}

}  // namespace

namespace {

TEST(ToleranceCommand, TheFieldModelSolvesEverySampleAndSaysHow) {
  const auto nominal_zoo = [](const nlohmann::json& doc) {
    for (const auto& row : doc["rows"]) {
      if (row["figure"] == "zoo") return row["nominal"].get<double>();
    }
    return 0.0;
  };
  // The default: every sample on the solver's tables, the shares from 1 000
  // samples per tolerance.
  const Result fast = run(coupler({"--format", "json"}, "2000"));
  ASSERT_EQ(fast.status, 0) << fast.err;
  const auto d = nlohmann::json::parse(fast.out);
  EXPECT_EQ(d["inputs"]["model"], "field");
  EXPECT_EQ(d["summary"]["field_method"], "fast");
  EXPECT_EQ(d["summary"]["field_fast"].get<long long>(), 1 + 2000 + 1000);
  EXPECT_EQ(d["summary"]["field_direct"], 0);
  EXPECT_NE(fast.err.find("every sample its own field solution: 3001 from the solver's tables"),
            std::string::npos)
      << fast.err;
  EXPECT_EQ(d["rows"][0]["histogram"].size(), 40u);
  // Each sample's own statics: the spread of Zoo is the solver's, not the
  // closed forms' spread moved to the nominal section.
  const Result closed = run(coupler({"--model", "closed", "--format", "json"}, "2000"));
  ASSERT_EQ(closed.status, 0) << closed.err;
  const auto c = nlohmann::json::parse(closed.out);
  EXPECT_LT(nominal_zoo(d), nominal_zoo(c) - 1.0);
  EXPECT_NE(d["rows"][2]["std"], c["rows"][2]["std"]);

  // Under a solder mask: a local model of direct solutions about the
  // nominal section serves the samples.
  const Result masked = run(coupler(
      {"--coat-thickness", "1", "--coat-er", "3.3", "--tol-h", "5%", "--format", "json"}, "2000"));
  ASSERT_EQ(masked.status, 0) << masked.err;
  const auto m = nlohmann::json::parse(masked.out);
  EXPECT_EQ(m["summary"]["field_method"], "local_model");
  EXPECT_GE(m["summary"]["field_local_model"].get<long long>(), 2000);
  EXPECT_LE(m["summary"]["field_direct"].get<long long>(), 10);

  // An open section has no cover height to vary.
  const Result open = run(coupler({"--h2", "inf", "--tol-h2", "5%"}));
  EXPECT_EQ(open.status, 2);
}

}  // namespace

namespace {

TEST(ToleranceCommand, ANominalSectionOutsideTheModelsWritesNoSamplesFile) {
  const std::string file = ::testing::TempDir() + "kx_nominal_outside.csv";
  std::remove(file.c_str());
  // A strip a thousandth of H wide: the models raise their flag on the nominal section.
  const Result r =
      run({"tolerance", "--er",      "2.2", "--h",     "20",     "--h2",          "1000",
           "--w",       "0.02",      "--s", "3.7",     "--t",    "0.0014",        "--f",
           "0",         "--samples", "10",  "--model", "closed", "--samples-out", file.c_str()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(file + " not written"), std::string::npos) << r.err;
  EXPECT_FALSE(std::ifstream(file).good());
}

}  // namespace
