// The wideband subcommands end to end: the files they write read back as
// the library's own line (the mixed-mode Touchstone file's sdd21, no mode
// conversion in a symmetric pair, the W element's RLGC file), the field's
// losses of analyse are those of loss, the closed forms take only what maps
// onto their own materials, and bad loss options are usage errors.
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

#include <kestrelix/line_network.h>
#include <kestrelix/materials_file.h>
#include <kestrelix/rlgc_io.h>
#include <kestrelix/units.h>

#include "cli/cli.h"
#include "tests/support/cli_run.h"

namespace fs = std::filesystem;

namespace {

using Result = kx::test::CliRun;
using kx::test::with;
using Folder = kx::test::TempFolder;
Result run(std::vector<std::string> args) { return kx::test::run_cli(std::move(args)); }
std::string read(const std::string& path) { return kx::test::read_file(path); }

// The FR-4-like pair of doc/wideband.md with Huray bottoms, in mm.
const std::vector<std::string> kPair{"--units",
                                     "mm",
                                     "--h",
                                     "0.1",
                                     "--h2",
                                     "inf",
                                     "--w",
                                     "0.12",
                                     "--s",
                                     "0.15",
                                     "--t",
                                     "0.035",
                                     "--material",
                                     "fr4_like",
                                     "--conductor",
                                     "copper",
                                     "--roughness",
                                     "smooth",
                                     "--roughness-bottom",
                                     "huray:radius=0.5,spheres=14,side=5.8"};

// The same line from the library: the section's lengths as the command line
// holds them (inches in 32 bits), in metres.
kx::rlgc::LineStatics library_pair() {
  const auto metres = [](double mm) { return static_cast<double>(kx::from_mm(mm)) * 0.0254; };
  kx::field::Geometry g;
  g.h = metres(0.1);
  g.w = metres(0.12);
  g.s = metres(0.15);
  g.t = metres(0.035);
  kx::rlgc::PairMaterials m;
  m.substrate =
      kx::materials::Dielectric(kx::materials::builtin_materials().dielectric("fr4_like")->data);
  m.strip_resistivity = kx::materials::builtin_materials().conductor("copper")->resistivity;
  m.ground.resistivity = m.cover.resistivity = m.strip_resistivity;
  m.strip_bottom.model = kx::materials::RoughnessModel::huray;
  m.strip_bottom.sphere_radius = 0.5e-6;
  m.strip_bottom.spheres = 14;
  m.strip_bottom.tile_area = kx::materials::hexagonal_tile_area(5.8e-6);
  return kx::rlgc::pair_statics(g, m);
}

// The Touchstone 2.0 file's matrices: a frequency then N x N pairs.
std::vector<std::pair<double, std::vector<std::complex<double>>>> network_data(
    const std::string& text, int n) {
  std::vector<double> numbers;
  std::istringstream in(text);
  bool data = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("[Network Data]", 0) == 0) {
      data = true;
    } else if (line.rfind("[End]", 0) == 0) {
      data = false;
    } else if (data && !line.empty() && line[0] != '!') {
      std::istringstream words(line);
      for (double x; words >> x;) numbers.push_back(x);
    }
  }
  std::vector<std::pair<double, std::vector<std::complex<double>>>> out;
  const std::size_t per = 1 + 2 * static_cast<std::size_t>(n * n);
  for (std::size_t at = 0; at + per <= numbers.size(); at += per) {
    std::vector<std::complex<double>> s;
    for (std::size_t k = 0; k < static_cast<std::size_t>(n * n); ++k)
      s.emplace_back(numbers[at + 1 + 2 * k], numbers[at + 2 + 2 * k]);
    out.emplace_back(numbers[at], s);
  }
  return out;
}

TEST(WidebandCli, MixedModeFileHoldsTheLibrarysSdd21AndNoModeConversion) {
  Folder dir;
  const std::string file = dir.path("pair.s4p");
  const Result r = run(with({"loss", "--format", "json", "--f-range", "1:40:0.5", "--length", "100",
                             "--touchstone", file, "--mixed-mode"},
                            kPair));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto rows = network_data(read(file), 4);
  ASSERT_EQ(rows.size(), 79u);
  const auto doc = nlohmann::json::parse(r.out);
  const kx::rlgc::LineStatics st = library_pair();
  for (std::size_t k = 0; k < rows.size(); ++k) {
    const auto& [f, s] = rows[k];
    const kx::rlgc::CMatrix mm =
        kx::rlgc::mixed_mode(kx::rlgc::pair_sparameters(kx::rlgc::rlgc_at(st, f), 0.1, 50.0));
    EXPECT_LT(std::abs(s[1 * 4 + 0] - mm(1, 0)), 1e-9 * std::abs(mm(1, 0))) << f;  // sdd21
    EXPECT_LT(std::abs(s[3 * 4 + 2] - mm(3, 2)), 1e-9 * std::abs(mm(3, 2))) << f;  // scc21
    // Mode conversion of the symmetric pair, sdc21 and scd21: below -200 dB.
    EXPECT_LT(std::abs(s[1 * 4 + 2]), 1e-10) << f;
    EXPECT_LT(std::abs(s[3 * 4 + 0]), 1e-10) << f;
    // The document's insertion loss is the file's.
    EXPECT_NEAR(doc["rows"][k]["il_diff_db"].get<double>(), -20.0 * std::log10(std::abs(s[4])),
                1e-9);
  }
}

TEST(WidebandCli, WElementFileReadsBackAsTheLineAtItsFitFrequency) {
  Folder dir;
  const std::string file = dir.path("pair.rlgc");
  const Result r = run(with({"rlgc", "--format", "json", "--f-range", "1:40:13", "--w-element",
                             file, "--w-fit", "10"},
                            kPair));
  ASSERT_EQ(r.status, 0) << r.err;
  const kx::rlgc::LineStatics st = library_pair();
  const kx::rlgc::WElementModel w = kx::rlgc::parse_w_element_file(read(file));
  ASSERT_EQ(w.conductors, 2);
  const kx::rlgc::Rlgc model = kx::rlgc::w_element_rlgc(w, 10e9);
  const kx::rlgc::Rlgc line = kx::rlgc::rlgc_at(st, 10e9);
  const kx::rlgc::CMatrix a = kx::rlgc::line_sparameters(model, 0.1, 50.0);
  const kx::rlgc::CMatrix b = kx::rlgc::line_sparameters(line, 0.1, 50.0);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_LT(std::abs(a(i, j) - b(i, j)), 1e-9) << i << j;
  // The rows are the library's R L G C, keys in SI per metre.
  const auto doc = nlohmann::json::parse(r.out);
  ASSERT_EQ(doc["rows"].size(), 4u);
  for (const auto& row : doc["rows"]) {
    const kx::rlgc::Rlgc p = kx::rlgc::rlgc_at(st, 1e9 * row["f_ghz"].get<double>());
    EXPECT_DOUBLE_EQ(row["r21_ohm_per_m"].get<double>(), p.r(1, 0));
    EXPECT_DOUBLE_EQ(row["l11_h_per_m"].get<double>(), p.l(0, 0));
    EXPECT_DOUBLE_EQ(row["g22_s_per_m"].get<double>(), p.g(1, 1));
    EXPECT_DOUBLE_EQ(row["c21_f_per_m"].get<double>(), p.c(1, 0));
  }
  EXPECT_EQ(doc["summary"]["w_fit_ghz"], 10.0);
}

TEST(WidebandCli, FieldLossesOfAnalyseAreThoseOfLossWithTheClosedFormsRadiation) {
  // The odd mode's attenuation is the differential mode's, the even mode's
  // the common mode's, each with the closed forms' radiation (what they give
  // without metal or dielectric loss).
  const std::vector<std::string> pair{"--units", "mm",    "--h", "0.2", "--h2",     "0.6",
                                      "--w",     "0.3",   "--s", "0.2", "--t",      "0.035",
                                      "--model", "field", "--f", "20",  "--format", "json"};
  const Result a = run(with(with({"analyse"}, pair), {"--material", "ptfe_like"}));
  const Result rad = run(
      with(with({"analyse"}, pair), {"--er", "2.08", "--res", "0", "--sr", "0", "--tlos", "0"}));
  const Result l =
      run({"loss", "--units", "mm", "--h", "0.2", "--h2", "0.6", "--w", "0.3", "--s", "0.2", "--t",
           "0.035", "--material", "ptfe_like", "--f-range", "20:20:1", "--format", "json"});
  ASSERT_EQ(a.status, 0) << a.err;
  ASSERT_EQ(rad.status, 0) << rad.err;
  ASSERT_EQ(l.status, 0) << l.err;
  const auto ar = nlohmann::json::parse(a.out)["rows"][0];
  const auto rr = nlohmann::json::parse(rad.out)["rows"][0];
  const auto lr = nlohmann::json::parse(l.out)["rows"][0];
  const auto field = [&](const char* key) { return ar[key].get<double>() - rr[key].get<double>(); };
  EXPECT_NEAR(field("alpha_o_db_per_mm") / lr["alpha_diff_db_per_mm"].get<double>(), 1.0, 1e-5);
  EXPECT_NEAR(field("alpha_e_db_per_mm") / lr["alpha_comm_db_per_mm"].get<double>(), 1.0, 1e-5);
}

TEST(WidebandCli, ClosedFormsTakeWhatMapsOntoTheirMaterials) {
  const std::vector<std::string> section{"analyse", "--format", "csv",   "--er",    "4.3",   "--h",
                                         "0.1",     "--h2",     "inf",   "--w",     "0.12",  "--s",
                                         "0.15",    "--t",      "0.035", "--units", "mm",    "--f",
                                         "10",      "--tlos",   "0.02",  "--model", "closed"};
  const Result own = run(with(section, {"--res", "1.7", "--sr", "2.5"}));
  const Result mapped =
      run(with(section, {"--resistivity", "1.7", "--roughness", "hammerstad-bekkadal:rq=0.0635"}));
  ASSERT_EQ(own.status, 0) << own.err;
  EXPECT_EQ(mapped.status, 0) << mapped.err;
  EXPECT_EQ(mapped.out, own.out);
  const Result refused = run(with(section, {"--roughness", "huray:radius=0.5,spheres=14,tile=87"}));
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("--roughness: the closed forms take one Er"), std::string::npos)
      << refused.err;
}

TEST(WidebandCli, BadLossOptionsAreUsageErrors) {
  Folder dir;
  const std::string materials = dir.path("m.json");
  std::ofstream(materials) << R"({"format": "kestrelix-materials", "version": 1,
    "dielectrics": [{"name": "mine", "dk": 3.0, "df": 0.01, "f_gHz": 1.0}]})";
  const std::vector<std::string> loss{"loss", "--units", "mm",    "--h",       "0.1",
                                      "--h2", "inf",     "--w",   "0.12",      "--s",
                                      "0.15", "--t",     "0.035", "--f-range", "1:2:1"};
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{"--material", "nosuch"}, "--material: no dielectric 'nosuch'"},
      {{"--er", "4", "--material", "fr4_like"}, "--er: the substrate is --material's"},
      {{"--er", "4", "--roughness", "huray:radius=0.5"}, "--roughness: huray needs spheres="},
      {{"--er", "4", "--roughness-top", "bumpy"}, "--roughness-top: 'bumpy' is neither"},
      {{"--er", "4", "--mixed-mode"}, "--mixed-mode: the form of the Touchstone file"},
      {{"--er", "4", "--touchstone", dir.path("x.s4p")}, "--touchstone: the S-parameters are"},
      {{"--er", "4", "--dk", "4"}, "--er: the substrate is --dk's"},
      {{"--dk", "4.3", "--df", "0.9"}, "--dk: "},
      {{"--material", "mine", "--materials", materials}, "unknown key \"f_gHz\""},
  };
  for (const Case& c : cases) {
    const Result r = run(with(loss, c.args));
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  // No output replaces an input: the materials file is refused as the Touchstone file.
  std::ofstream(materials, std::ios::trunc)
      << R"({"format": "kestrelix-materials", "version": 1, "dielectrics": []})";
  const std::string before = read(materials);
  const Result over = run(with(loss, {"--er", "4", "--materials", materials, "--length", "10",
                                      "--touchstone", materials}));
  EXPECT_EQ(over.status, 1) << over.err;
  EXPECT_EQ(read(materials), before);
}

}  // namespace
