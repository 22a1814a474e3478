// `kestrelix rlgc` and `kestrelix loss` on board cross-sections (the
// options of `kestrelix line`): the microstrip pair built as a structure is
// the pair of the section options on the other solver; an inner-layer pair's
// mixed-mode Touchstone file and W element file read back as the line; a
// stackup file's three conductors give 3 x 3 matrices; and
// the command lines they refuse.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cmath>
#include <complex>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <kestrelix/rlgc_io.h>

#include "cli/cli.h"
#include "tests/support/cli_run.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

using Result = kx::test::CliRun;
using kx::test::with;
using Folder = kx::test::TempFolder;
Result run(std::vector<std::string> args) { return kx::test::run_cli(std::move(args)); }
std::string read(const std::string& path) { return kx::test::read_file(path); }

json run_json(const std::vector<std::string>& args) {
  const Result r = run(with(args, {"--format", "json"}));
  EXPECT_EQ(r.status, 0) << r.err;
  return r.status == 0 ? json::parse(r.out) : json::object();
}

double rel(double a, double b) { return std::abs(a - b) / std::abs(b); }

// An inner-layer pair: 0.1 mm core below, 0.2 mm prepreg above, of the
// FR-4-like material, Huray foil.
const std::vector<std::string> kInner{"--units",     "mm",
                                      "--structure", "offset-stripline-pair",
                                      "--h",         "0.1",
                                      "--h-above",   "0.2",
                                      "--t",         "0.035",
                                      "--w",         "0.1",
                                      "--s",         "0.2",
                                      "--material",  "fr4_like",
                                      "--roughness", "huray:radius=0.5,spheres=14,side=5.8"};

TEST(StructureLoss, MicrostripPairStructureIsThePairOfTheSectionOptions) {
  const std::vector<std::string> dims{"--units", "mm",  "--h",       "0.1",    "--w",
                                      "0.12",    "--s", "0.15",      "--t",    "0.035",
                                      "--er",    "4.3", "--f-range", "1:40:13"};
  const json pair = run_json(with(with({"rlgc"}, dims), {"--h2", "inf", "--tlos", "0.02"}));
  const json st = run_json(with(with({"rlgc"}, dims), {"--structure", "microstrip-pair", "--tand",
                                                       "0.02", "--dielectric-model", "constant"}));
  ASSERT_EQ(st["rows"].size(), 4u);
  EXPECT_EQ(st["summary"]["conductors"], 2);
  for (std::size_t k = 0; k < 4; ++k) {
    const json& a = pair["rows"][k];
    const json& b = st["rows"][k];
    // The two solvers' statics agree within their error estimates (0.12 %
    // and 0.05 % here; measured 0.017 % at most), the losses from their
    // derivatives as well (the mutual conductance, a small difference of
    // the layers' shares, to 0.09 %).
    for (const char* key : {"c11_f_per_m", "c21_f_per_m", "l11_h_per_m", "l21_h_per_m"})
      EXPECT_LT(rel(b[key].get<double>(), a[key].get<double>()), 5e-4) << key << " " << k;
    for (const char* key : {"r11_ohm_per_m", "r21_ohm_per_m", "g11_s_per_m", "g21_s_per_m"})
      EXPECT_LT(rel(b[key].get<double>(), a[key].get<double>()), 2e-3) << key << " " << k;
  }
  const json la = run_json(with(with({"loss"}, dims), {"--h2", "inf", "--tlos", "0.02"}));
  const json lb = run_json(with(with({"loss"}, dims), {"--structure", "microstrip-pair", "--tand",
                                                       "0.02", "--dielectric-model", "constant"}));
  for (const char* key : {"alpha_diff_db_per_mm", "alpha_comm_db_per_mm", "zdiff_ohm"})
    EXPECT_LT(rel(lb["rows"][3][key].get<double>(), la["rows"][3][key].get<double>()), 5e-4) << key;
}

TEST(StructureLoss, EachLayersDatasheetPairIsTheMaterialOfThatPair) {
  // fr4_like is Dk 4.3, Df 0.02 at 1 GHz, Djordjevic-Sarkar: the layers'
  // own pair at the default --f-datasheet is that material.
  const std::vector<std::string> line{"rlgc",  "--units",   "mm",     "--structure", "stripline",
                                      "--h",   "0.15",      "--w",    "0.12",        "--t",
                                      "0.018", "--f-range", "2:38:12"};
  const json own = run_json(with(line, {"--er", "4.3", "--tand", "0.02"}));
  const json named = run_json(with(line, {"--material", "fr4_like"}));
  const json constant =
      run_json(with(line, {"--er", "4.3", "--tand", "0.02", "--dielectric-model", "constant"}));
  ASSERT_EQ(own["rows"].size(), 4u);
  for (std::size_t k = 0; k < 4; ++k)
    for (const char* key : {"r11_ohm_per_m", "l11_h_per_m", "g11_s_per_m", "c11_f_per_m"})
      EXPECT_LT(rel(own["rows"][k][key].get<double>(), named["rows"][k][key].get<double>()), 1e-12)
          << key;
  // The causal model's permittivity falls with frequency; the constant one's does not.
  const auto c = [](const json& d, std::size_t k) {
    return d["rows"][k]["c11_f_per_m"].get<double>();
  };
  EXPECT_LT(c(own, 3), 0.97 * c(own, 0));
  EXPECT_EQ(c(constant, 3), c(constant, 0));
  EXPECT_EQ(own["inputs"]["dielectric_model"], "djordjevic-sarkar");
}

TEST(StructureLoss, InnerLayerPairFilesReadBackAsTheLine) {
  Folder dir;
  const std::string s4p = dir.path("pair.s4p");
  const json loss = run_json(
      with({"loss", "--f-range", "1:40:13", "--length", "100", "--mixed-mode", "--touchstone", s4p},
           kInner));
  ASSERT_EQ(loss["rows"].size(), 4u);
  // The file's rows: f, then 16 pairs (re, im) of the mixed-mode matrix.
  std::vector<double> numbers;
  std::istringstream in(read(s4p));
  bool data = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("[Network Data]", 0) == 0) data = true;
    if (line.rfind("[End]", 0) == 0) data = false;
    if (!data || line.empty() || line[0] == '!' || line[0] == '[') continue;
    std::istringstream words(line);
    for (double x; words >> x;) numbers.push_back(x);
  }
  ASSERT_EQ(numbers.size(), 4u * 33u);
  for (std::size_t k = 0; k < 4; ++k) {
    const double* row = &numbers[33 * k];
    const std::complex<double> sdd21(row[1 + 2 * 4], row[2 + 2 * 4]);
    const std::complex<double> sdc21(row[1 + 2 * 6], row[2 + 2 * 6]);
    EXPECT_NEAR(loss["rows"][k]["il_diff_db"].get<double>(), -20.0 * std::log10(std::abs(sdd21)),
                1e-9);
    // A symmetric pair converts no mode: sdc21 far below sdd21.
    EXPECT_LT(std::abs(sdc21), 1e-8) << k;
  }
  // The shares add up to the whole.
  const json& r = loss["rows"][3];
  EXPECT_LT(rel(r["alpha_c_diff_db_per_mm"].get<double>() +
                    r["alpha_d_diff_db_per_mm"].get<double>(),
                r["alpha_diff_db_per_mm"].get<double>()),
            1e-3);
  EXPECT_EQ(loss["inputs"]["material"], "fr4_like");
  EXPECT_FALSE(loss["inputs"].contains("er"));  // the layers are the material's

  const std::string w = dir.path("pair.rlgc");
  const json rlgc =
      run_json(with({"rlgc", "--f-range", "1:40:13", "--w-element", w, "--w-fit", "14"}, kInner));
  const kx::rlgc::WElementModel model = kx::rlgc::parse_w_element_file(read(w));
  ASSERT_EQ(model.conductors, 2);
  const kx::rlgc::Rlgc at = kx::rlgc::w_element_rlgc(model, 14e9);
  const json& row = rlgc["rows"][1];
  ASSERT_EQ(row["f_ghz"], 14.0);
  EXPECT_LT(rel(at.r(1, 0), row["r21_ohm_per_m"].get<double>()), 1e-9);
  EXPECT_LT(rel(at.l(0, 0), row["l11_h_per_m"].get<double>()), 1e-9);
  EXPECT_LT(rel(at.g(1, 1), row["g22_s_per_m"].get<double>()), 1e-9);
  EXPECT_LT(rel(at.c(1, 0), row["c21_f_per_m"].get<double>()), 1e-9);
}

TEST(StructureLoss, StackupFileOfThreeConductorsGivesThreeByThreeMatrices) {
  Folder dir;
  const std::string file = dir.path("three.json");
  std::ofstream(file) << R"({"unit": "mil", "layers": [
      {"thickness": 4, "er": 4.2, "loss_tangent": 0.02},
      {"thickness": 5.4, "er": 3.9, "loss_tangent": 0.018}], "top_plane": true, "conductors": [
      {"interface": 1, "centre": -8, "width": 4, "thickness": 1.4},
      {"interface": 1, "centre": 0, "width": 4, "thickness": 1.4},
      {"interface": 1, "centre": 8, "width": 4, "thickness": 1.4}]})";
  const json r = run_json({"rlgc", "--stackup", file, "--f-range", "5:5:1"});
  EXPECT_EQ(r["summary"]["conductors"], 3);
  const json& row = r["rows"][0];
  EXPECT_TRUE(row.contains("c33_f_per_m"));
  EXPECT_FALSE(row.contains("c44_f_per_m"));
  // The middle line's neighbours are alike: the outer lines mirror each other.
  EXPECT_LT(rel(row["c33_f_per_m"].get<double>(), row["c11_f_per_m"].get<double>()), 1e-6);
  EXPECT_LT(rel(row["r32_ohm_per_m"].get<double>(), row["r21_ohm_per_m"].get<double>()), 1e-6);
}

TEST(StructureLoss, BadStructureInputIsAUsageError) {
  Folder dir;
  const std::string file = dir.path("layers.json");
  std::ofstream(file) << R"({"unit": "mm", "layers": [{"thickness": 0.2, "er": 4.2}]})";
  const std::string before = read(file);
  const std::vector<std::string> micro{"--structure", "microstrip", "--units",   "mm",
                                       "--h",         "0.1",        "--w",       "0.2",
                                       "--t",         "0.035",      "--f-range", "1:2:1"};
  struct Case {
    std::vector<std::string> args;
    std::string message;
    bool loss_only = false;
  };
  const Case cases[] = {
      {{"--structure", "coax", "--f-range", "1:2:1"}, "--structure: 'coax' is not a structure"},
      {with(micro, {"--er", "4", "--h2", "1"}), "--h2: the edge-coupled pair's option"},
      {with(micro, {"--er", "4", "--tlos", "0.02"}), "--tlos: the edge-coupled pair's option"},
      {with(micro, {"--dk", "4"}), "--dk: the edge-coupled pair's option"},
      {with(micro, {"--er", "4", "--material", "fr4_like"}), "--er: the layers are --material's"},
      {with(micro, {"--er", "4", "--tand", "0.9"}), "the cross-section's dielectrics: layers[0]"},
      {with(micro, {"--er", "4", "--mixed-mode", "--length", "1", "--touchstone", "x.s2p"}),
       "--mixed-mode: mixed modes are a pair's", true},
      {{"--er", "4", "--h", "0.1", "--w", "0.2", "--s", "0.2", "--t", "0", "--tand", "0.01",
        "--f-range", "1:2:1"},
       "--tand: a board cross-section's option"},
      {{"--stackup", file, "--interface", "1", "--w", "0.1", "--t", "0.035", "--f-range", "1:2:1",
        "--length", "1", "--touchstone", file},
       "--touchstone: cannot write " + file + ": it is an input of this run",
       true},
  };
  for (const Case& c : cases) {
    for (const char* cmd : {"loss", "rlgc"}) {
      if (c.loss_only && std::string(cmd) == "rlgc") continue;
      const Result r = run(with({cmd}, c.args));
      const bool refused_file = c.message.rfind("--touchstone", 0) == 0;
      EXPECT_EQ(r.status, refused_file ? 1 : 2) << cmd << " " << c.message << ": " << r.err;
      EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
      EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // one line
    }
  }
  EXPECT_EQ(read(file), before);
}

}  // namespace
