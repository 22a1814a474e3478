// The scripted documents: one outline and keys with units in every
// subcommand, validity codes on the rows, undefined values as empty fields,
// ranges, the Touchstone text on standard output and the differential pair.

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli.h"
#include "tests/support/cli_run.h"

namespace {

using Result = kx::test::CliRun;
using kx::test::with;
Result run(std::vector<std::string> args) { return kx::test::run_cli(std::move(args)); }

// The 10 dB coupler of the examples, in mil.
const std::vector<std::string> kSection{"--er",  "3.66", "--h",  "20",  "--h2", "250",     "--w",
                                        "34.33", "--s",  "3.72", "--t", "1.4",  "--units", "mil"};

// Keys that name a quantity with a unit; without a suffix they are a fault.
const std::set<std::string> kWithUnit{"w",
                                      "s",
                                      "h",
                                      "h2",
                                      "t",
                                      "f",
                                      "zo",
                                      "zoe",
                                      "zoo",
                                      "zdiff",
                                      "zcomm",
                                      "coupling",
                                      "length",
                                      "centre",
                                      "res",
                                      "sr",
                                      "rs",
                                      "rl",
                                      "reference",
                                      "alpha_e",
                                      "alpha_o",
                                      "delay_e",
                                      "delay_o",
                                      "loss",
                                      "total_loss",
                                      "phi",
                                      "s11",
                                      "s21",
                                      "s31",
                                      "s41",
                                      "an_zo",
                                      "an_zoe",
                                      "an_zoo",
                                      "an_coupling",
                                      "an_alpha_e",
                                      "an_alpha_o",
                                      "quarter_wave",
                                      "phase_error",
                                      "tol_w",
                                      "tol_h",
                                      "yield",
                                      "coat_thickness",
                                      "closed_w",
                                      "closed_s",
                                      "w_diff",
                                      "s_diff",
                                      "field_error",
                                      "field_dev_zoe",
                                      "field_dev_zoo",
                                      "field_dev_coupling",
                                      "field_dev_eff_o",
                                      "resistivity",
                                      "f_datasheet",
                                      "f_start",
                                      "w_fit",
                                      "r11",
                                      "l21",
                                      "g22",
                                      "c11",
                                      "alpha_diff",
                                      "alpha_c_comm",
                                      "alpha_d_diff",
                                      "alpha_c_error_diff",
                                      "il_diff",
                                      "il_comm"};

// The unit kind of a key's suffix ("" when it has none), for --units mil.
std::string kind_of(const std::string& key, std::string& base) {
  static const std::vector<std::pair<std::string, std::string>> suffixes{
      {"_ohm_per_m", "resistance"},
      {"_h_per_m", "inductance"},
      {"_s_per_m", "conductance"},
      {"_f_per_m", "capacitance"},
      {"_db_per_mil", "attenuation"},
      {"_ps_per_mil", "delay"},
      {"_mil", "length"},
      {"_ghz", "frequency"},
      {"_ohm", "impedance"},
      {"_db", "level"},
      {"_deg", "angle"},
      {"_pct", "percent"},
      {"_uohm_cm", "resistivity"},
      {"_uin", "roughness"}};
  for (const auto& [suffix, kind] : suffixes) {
    if (key.size() > suffix.size() &&
        key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0) {
      base = key.substr(0, key.size() - suffix.size());
      return kind;
    }
  }
  base = key;
  return "";
}

void expect_units(const nlohmann::json& doc, const nlohmann::json& object,
                  const std::string& where) {
  for (const auto& [key, value] : object.items()) {
    std::string base;
    const std::string kind = kind_of(key, base);
    if (kind.empty()) {
      EXPECT_EQ(kWithUnit.count(key), 0u) << where << ": " << key << " needs its unit";
    } else {
      EXPECT_TRUE(doc["units"].contains(kind)) << where << ": " << key << " (" << kind << ")";
    }
  }
}

TEST(ScriptedDocument, EverySubcommandHasTheOutlineAndItsKeysTheirUnits) {
  const std::vector<std::string> field{"--model", "field",     "--coat-thickness",
                                       "1",       "--coat-er", "3.5"};
  const std::vector<std::pair<std::string, std::vector<std::string>>> runs{
      {"analyse", with(kSection, {"--f", "2.4"})},
      {"response", with(kSection, {"--centre", "2.4", "--f-range", "1:4:1"})},
      {"dispersion", with(kSection, {"--f-range", "0:4:1"})},
      {"sensitivity", with(kSection, {"--f-range", "1:3:1"})},
      {"synthesise",
       {"--er", "3.66", "--h", "20", "--h2", "250", "--t", "1.4", "--units", "mil", "--zo", "50",
        "--coupling", "10", "--f", "2.4"}},
      {"diffpair", with(kSection, {"--f", "2.4"})},
      {"tolerance", with(kSection, {"--f", "2.4", "--centre", "2.4", "--tol-s", "0.5", "--samples",
                                    "200", "--limit", "coupling_db=9.5:10.5"})},
      {"check", with(kSection, {"--f", "2.4"})},
      {"check",
       {"--er", "3.66", "--h", "20", "--h2", "250", "--w", "34.33", "--units", "mil", "--s-range",
        "2:6:2", "--t-range", "0:2:1"}},
      {"analyse", with(with(kSection, {"--f", "2.4"}), field)},
      {"analyse", with(kSection, {"--f", "2.4", "--check"})},
      {"dispersion", with(with(kSection, {"--f-range", "0:4:2"}), field)},
      {"sensitivity", with(with(kSection, {"--f-range", "1:3:2"}), field)},
      {"response", with(with(kSection, {"--centre", "2.4", "--f-range", "1:4:1"}), field)},
      {"synthesise", with({"--er", "3.66", "--h", "20", "--h2", "inf", "--t", "1.4", "--units",
                           "mil", "--zo", "50", "--coupling", "10", "--f", "2.4"},
                          field)},
      {"diffpair", with(with(kSection, {"--f", "2.4"}), field)},
      {"tolerance",
       with(with(kSection, {"--f", "2.4", "--tol-s", "0.5", "--samples", "20"}), field)},
      {"analyse",
       {"--h",
        "20",
        "--h2",
        "250",
        "--w",
        "34.33",
        "--s",
        "3.72",
        "--t",
        "1.4",
        "--units",
        "mil",
        "--f",
        "2.4",
        "--material",
        "ptfe_like",
        "--model",
        "field",
        "--roughness-bottom",
        "groisse:rq=1"}},
      {"rlgc",
       {"--h", "20", "--h2", "250", "--w", "34.33", "--s", "3.72", "--t", "1.4", "--units", "mil",
        "--dk", "3.66", "--f-range", "1:3:1"}},
      {"loss",
       {"--h", "20", "--h2", "250", "--w", "34.33", "--s", "3.72", "--t", "1.4", "--units", "mil",
        "--material", "fr4_like", "--f-range", "1:3:1", "--length", "1000"}}};
  for (const auto& [command, args] : runs) {
    SCOPED_TRACE(command);
    const Result r = run(with({command, "--format", "json"}, args));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = nlohmann::ordered_json::parse(r.out);
    std::vector<std::string> outline;
    for (const auto& [key, value] : doc.items()) outline.push_back(key);
    EXPECT_EQ(outline, (std::vector<std::string>{"program", "version", "units", "inputs", "rows",
                                                 "summary"}));
    EXPECT_EQ(doc["program"], "kestrelix");
    EXPECT_EQ(doc["inputs"]["command"], command);
    EXPECT_EQ(doc["units"]["length"], "mil");
    for (const char* key : {"rows", "flagged", "complete"})
      EXPECT_TRUE(doc["summary"].contains(key));
    ASSERT_FALSE(doc["rows"].empty());
    for (const auto& row : doc["rows"]) {
      ASSERT_TRUE(row["valid"].is_boolean());
      ASSERT_TRUE(row["flags"].is_array());
      EXPECT_EQ(row["valid"].get<bool>(), row["flags"].empty());
      expect_units(doc, row, "row");
    }
    expect_units(doc, doc["inputs"], "inputs");
    expect_units(doc, doc["summary"], "summary");
  }
}

TEST(ScriptedValidity, ThreeDecibelsOnAluminaIsOutsideTheModelsOnTheRowAndOnStandardError) {
  const std::vector<std::string> args{"synthesise", "--er", "9.8", "--h",        "0.635",
                                      "--h2",       "6.35", "--t", "0.017",      "--units",
                                      "mm",         "--zo", "50",  "--coupling", "3",
                                      "--f",        "2"};
  const Result r = run(with(args, {"--format", "json"}));
  EXPECT_EQ(r.status, 0);
  const auto row = nlohmann::json::parse(r.out)["rows"][0];
  EXPECT_FALSE(row["valid"].get<bool>());
  EXPECT_EQ(row["flags"], nlohmann::json::array({"sh", "s_lt_2t"}));  // S/H 0.01, S < 2 T
  EXPECT_NE(r.err.find("1 of 1 row outside the models' validity ranges (sh s_lt_2t)"),
            std::string::npos)
      << r.err;
  const Result t = run(args);
  EXPECT_NE(t.out.find("  * sh s_lt_2t\n"), std::string::npos) << t.out;
}

TEST(ScriptedValidity, APointWithoutFiniteValuesEndsTheRunAfterTheGoodRows) {
  // The second width is far beyond anything the closed forms can evaluate.
  const std::vector<std::string> args{"analyse", "--er",      "9.8",           "--h",   "0.025",
                                      "--h2",    "0.25",      "--s",           "0.005", "--t",
                                      "0.0007",  "--w-range", "0.01:1e37:1e36"};
  const Result r = run(with(args, {"--format", "json"}));
  EXPECT_EQ(r.status, 1);
  const auto doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["rows"].size(), 1u);
  EXPECT_EQ(doc["summary"]["complete"], false);
  EXPECT_NE(r.err.find("at W 1e+36 in, S 0.005 in the models give a value that is not a finite "
                       "number"),
            std::string::npos)
      << r.err;
}

// CSV lines split into fields.
std::vector<std::vector<std::string>> csv_fields(const std::string& text) {
  std::vector<std::vector<std::string>> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::size_t b = 0;
    for (std::size_t e; (e = line.find(',', b)) != std::string::npos; b = e + 1) {
      fields.push_back(line.substr(b, e - b));
    }
    fields.push_back(line.substr(b));
    lines.push_back(fields);
  }
  return lines;
}

// The field of `key` in data line `n`.
std::string field(const std::vector<std::vector<std::string>>& csv, std::size_t n,
                  const std::string& key) {
  const auto& head = csv.at(0);
  const auto k = static_cast<std::size_t>(std::find(head.begin(), head.end(), key) - head.begin());
  return csv.at(n + 1).at(k);
}

TEST(ScriptedCsv, AValueThatDoesNotExistIsAnEmptyFieldNeverNanInfOrNegativeZero) {
  // At 0 GHz: no quarter wave, and nothing reaches the coupled and isolated
  // ports; without conductor losses the attenuation is exactly 0.
  const Result d =
      run(with({"dispersion", "--format", "csv", "--f-range", "0:2:1", "--res", "0", "--sr", "0"},
               kSection));
  const Result r = run(with({"response", "--format", "csv", "--f-range", "0:2:1", "--length", "700",
                             "--res", "0", "--sr", "0"},
                            kSection));
  ASSERT_EQ(d.status, 0) << d.err;
  ASSERT_EQ(r.status, 0) << r.err;
  for (const std::string& text : {d.out, r.out}) {
    for (const auto& line : csv_fields(text)) {
      for (const std::string& f : line) {
        EXPECT_EQ(f.find("nan"), std::string::npos) << f;
        EXPECT_EQ(f.find("inf"), std::string::npos) << f;
        EXPECT_NE(f, "-0");
      }
    }
  }
  const auto disp = csv_fields(d.out);
  EXPECT_EQ(field(disp, 0, "quarter_wave_mil"), "");
  EXPECT_NE(field(disp, 1, "quarter_wave_mil"), "");
  EXPECT_EQ(field(disp, 0, "alpha_e_db_per_mil"), "0");
  const auto resp = csv_fields(r.out);
  EXPECT_EQ(field(resp, 0, "s21_db"), "");
  EXPECT_EQ(field(resp, 0, "s31_deg"), "");
  EXPECT_NE(field(resp, 1, "s21_db"), "");
}

TEST(ScriptedRanges, CenterAndReversedRanges) {
  const auto response = [](const char* spelling) {
    return run(
        with({"response", spelling, "2.4", "--f-range", "2:3:0.5", "--format", "csv"}, kSection));
  };
  const Result centre = response("--centre");
  ASSERT_EQ(centre.status, 0) << centre.err;
  EXPECT_EQ(response("--center").out, centre.out);

  // Synthesis ranges take their ends in either order and sweep weak to strong.
  const std::vector<std::string> sub{"synthesise", "--er",     "3.66", "--h",    "0.02",
                                     "--h2",       "0.25",     "--t",  "0.0014", "--zo",
                                     "50",         "--format", "json"};
  const Result down = run(with(sub, {"--coupling-range", "20:14:2"}));
  const Result up = run(with(sub, {"--coupling-range", "14:20:2"}));
  ASSERT_EQ(down.status, 0) << down.err;
  const auto rows = nlohmann::json::parse(down.out)["rows"];
  EXPECT_EQ(rows, nlohmann::json::parse(up.out)["rows"]);
  std::vector<float> levels;
  for (const auto& row : rows) {
    levels.push_back(row["coupling_db"].get<float>());
  }
  EXPECT_EQ(levels, (std::vector<float>{20.0f, 18.0f, 16.0f, 14.0f}));

  // A frequency range runs from low to high.
  const Result reversed = run(with({"dispersion", "--f-range", "4:1:0.5"}, kSection));
  EXPECT_EQ(reversed.status, 2);
  EXPECT_NE(reversed.err.find("--f-range: the start is above the end"), std::string::npos);
}

TEST(ScriptedResponse, TouchstoneOnStandardOutputIsTheTextOfTheFile) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "kx_ts_XXXXXX").string();
  const std::filesystem::path dir = mkdtemp(tmpl.data());
  const std::string file = (dir / "c.s4p").string();
  const std::vector<std::string> args =
      with({"response", "--centre", "2.4", "--f-range", "1:4:0.5"}, kSection);
  const Result written = run(with(args, {"--touchstone", file}));
  const Result piped = run(with(args, {"--format", "touchstone"}));
  ASSERT_EQ(written.status, 0) << written.err;
  ASSERT_EQ(piped.status, 0) << piped.err;
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(piped.out, text.str());
  EXPECT_NE(piped.out.find("# GHz S RI R 50\n"), std::string::npos);
  std::filesystem::remove_all(dir);
}

TEST(Diffpair, FoundDimensionsGiveTheTargetsWhenAnalysedAgain) {
  const std::vector<std::string> board{"--er",    "4.3", "--h",      "0.2", "--h2",
                                       "20",      "--t", "0.035",    "--f", "5",
                                       "--units", "mm",  "--format", "json"};
  const auto analysed = [&](const nlohmann::json& row) {
    const Result a =
        run(with({"analyse", "--w", row["w_mm"].dump(), "--s", row["s_mm"].dump()}, board));
    EXPECT_EQ(a.status, 0) << a.err;
    return nlohmann::json::parse(a.out)["rows"][0];
  };
  // S for a 100 ohm pair of 0.15 mm strips.
  const Result s = run(with({"diffpair", "--w", "0.15", "--zdiff", "100"}, board));
  ASSERT_EQ(s.status, 0) << s.err;
  const auto found = nlohmann::json::parse(s.out)["rows"][0];
  EXPECT_EQ(found["w_mm"], 0.15);
  EXPECT_NEAR(2.0 * analysed(found)["zoo_ohm"].get<double>(), 100.0, 0.01);

  // W and S for Zdiff 100 ohm and Zcomm 30 ohm.
  const Result pair = run(with({"diffpair", "--zdiff", "100", "--zcomm", "30"}, board));
  ASSERT_EQ(pair.status, 0) << pair.err;
  const auto both = analysed(nlohmann::json::parse(pair.out)["rows"][0]);
  EXPECT_NEAR(2.0 * both["zoo_ohm"].get<double>(), 100.0, 0.01);
  EXPECT_NEAR(both["zoe_ohm"].get<double>() / 2.0, 30.0, 0.01);

  // 10 ohm differential is out of reach of a 0.15 mm pair.
  const Result none = run(with({"diffpair", "--w", "0.15", "--zdiff", "10"}, board));
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("Zdiff 10 ohm cannot be met at W 0.15 mm by the field solver from the "
                          "closed forms' answer inside their range"),
            std::string::npos)
      << none.err;
}

}  // namespace
