// End-to-end checks of the scripted command line: each subcommand gives, for
// the inputs of a dialogue session, the numbers that session's report prints
// (the CSV values rendered with the report's own row template must appear in
// the report, row for row), and bad command lines end with status 2.

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "app/driver.h"
#include "cli/cli.h"
#include "common/ftn_format.h"
#include "tests/support/cli_run.h"

#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

namespace {

const fs::path kExampleDefaults = fs::path(KX_TEST_DATA_DIR).parent_path() / "examples" /
                                  "Kestrelix.DEF";

// A fresh directory holding the example defaults file as Kestrelix.DEF.
class Session {
 public:
  Session() {
    std::string tmpl = (fs::temp_directory_path() / "kx_cli_XXXXXX").string();
    dir_ = mkdtemp(tmpl.data());
    fs::copy_file(kExampleDefaults, dir_ / "Kestrelix.DEF");
  }
  ~Session() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  fs::path dir() const { return dir_; }
  std::string defaults() const { return (dir_ / "Kestrelix.DEF").string(); }

  // The dialogue's console text for the typed answers.
  std::string dialogue(const std::string& answers) const {
    const fs::path saved = fs::current_path();
    fs::current_path(dir_);
    std::istringstream in(answers);
    std::ostringstream out;
    std::ostringstream err;
    const auto clock = [] { return kx::DateTime{2026, 12, 7, 9, 5, 3}; };
    const int status = kx::run_program(in, out, err, clock);
    fs::current_path(saved);
    EXPECT_EQ(status, 0) << err.str();
    return out.str();
  }

 private:
  fs::path dir_;
};

using Result = kx::test::CliRun;
Result cli(std::vector<std::string> args) { return kx::test::run_cli(std::move(args)); }

struct Csv {
  std::vector<std::string> header;
  std::vector<std::vector<float>> rows;
};

Csv parse_csv(const std::string& text) {
  Csv csv;
  std::istringstream in(text);
  std::string line;
  bool first = true;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string field;
    std::vector<float> row;
    while (std::getline(fields, field, ',')) {
      if (first) {
        csv.header.push_back(field);
      } else {
        row.push_back(std::strtof(field.c_str(), nullptr));
      }
    }
    if (!first) csv.rows.push_back(row);
    first = false;
  }
  return csv;
}

// A CSV column for a report template, negated where the report prints the
// opposite sign (coupling and losses: positive in the scripted documents).
struct Pick {
  Pick(int column) : k(column) {}  // NOLINT: a plain index converts
  int k;
  bool negate = false;
};
Pick neg(int k) {
  Pick p(k);
  p.negate = true;
  return p;
}

// The CSV rows rendered with a report row template, taking the columns
// `pick` in order.
std::string rendered(const Csv& csv, std::string_view tmpl, std::initializer_list<Pick> pick) {
  std::string block;
  for (const auto& row : csv.rows) {
    std::vector<float> v;
    for (const Pick& p : pick) {
      const float x = row.at(static_cast<std::size_t>(p.k));
      v.push_back(p.negate ? -x : x);
    }
    std::string line;
    switch (v.size()) {
      case 9:
        line = kx::ftn_format(tmpl, {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]});
        break;
      case 10:
        line = kx::ftn_format(tmpl, {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9]});
        break;
      default:
        ADD_FAILURE() << "unexpected column count";
    }
    block += line;
  }
  return block;
}

// The report rows of the template must appear in the dialogue's text as one
// block, in order.
void expect_rows(const std::string& report, const std::string& block, std::size_t rows,
                 std::size_t expected_rows) {
  EXPECT_EQ(rows, expected_rows);
  EXPECT_NE(report.find("\n" + block), std::string::npos) << "rows not in the report:\n"
                                                          << block << "\nreport:\n"
                                                          << report;
}

std::string blanks(int n) { return std::string(static_cast<std::size_t>(n), '\n'); }

// The example defaults file: Er 9.8, H 0.025, H2 0.25, W 0.02, S 0.005,
// T 0.0007, F 2, Fstart 0.5 to Fstop 6 by 0.5, L 0.6, W 0.01 to 0.04 by
// 0.005, Zo 50, coupling 6 to 20 dB by 2, Zoe 60 to 90 by 5.

TEST(CliReproducesDialogue, AnalyseOverWidths) {
  Session s;
  // FUNCTION 1, OPTION 1, SUBOPTION 1 (range of W); every value from the file.
  const std::string report = s.dialogue("1\n1\n1\n" + blanks(12) + "3\n");
  const Result r = cli({"analyse", "--model", "closed", "--defaults", s.defaults(), "--w-range",
                        "0.01:0.04:0.005", "--format", "csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Csv csv = parse_csv(r.out);
  ASSERT_EQ(csv.header.front(), "w_in");
  expect_rows(report,
              rendered(csv, "(3X,F8.4,F7.3,F8.3,2(F8.3),F9.3,F7.3,F7.3,F8.3,F8.3)",
                       {0, 2, 4, 5, 6, neg(7), 8, 9, neg(10), neg(11)}),
              csv.rows.size(), 7);
}

TEST(CliReproducesDialogue, ResponseFormatsOneAndTwo) {
  Session s;
  // Length entered (L 0.6 from the file), FORMAT 1.
  const std::string format1 = s.dialogue("1\n2\n1\n1\n" + blanks(13) + "\n\n1\n\n3\n");
  const Result r =
      cli({"response", "--model", "closed", "--defaults", s.defaults(), "--format", "csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Csv csv = parse_csv(r.out);
  expect_rows(format1,
              rendered(csv, "(1X,F13.4,F7.1,F8.1,F9.3,F7.1,F8.1,F8.1,F9.3,F7.1)",
                       {0, 1, 2, 3, 4, 5, 6, 7, 8}),
              csv.rows.size(), 12);

  // Centre frequency entered (F 2 GHz from the file), FORMAT 2.
  const std::string format2 = s.dialogue("1\n2\n1\n2\n" + blanks(15) + "2\n\n3\n");
  const Result c = cli({"response", "--model", "closed", "--defaults", s.defaults(), "--centre",
                        "2", "--format", "csv"});
  ASSERT_EQ(c.status, 0) << c.err;
  const Csv csv2 = parse_csv(c.out);
  EXPECT_EQ(csv2.header.at(9), "vswr");
  expect_rows(format2,
              rendered(csv2, "(1X,F13.4,F7.3,F9.3,F8.1,F7.3,F8.2,F7.2,F9.4,F8.4)",
                       {0, 9, 3, 5, 7, 10, 11, neg(13), neg(12)}),
              csv2.rows.size(), 12);
}

TEST(CliReproducesDialogue, Dispersion) {
  Session s;
  const std::string report = s.dialogue("1\n2\n2\n" + blanks(8) + "1\n8\n1\n\n3\n");
  const Result r = cli({"dispersion", "--model", "closed", "--defaults", s.defaults(), "--f-range",
                        "1:8:1", "--format", "csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Csv csv = parse_csv(r.out);
  expect_rows(report,
              rendered(csv, "(4X,F8.4,3(F7.3),F9.3,2(F8.3),F8.4,2(F8.3))",
                       {0, 1, 2, 3, 4, 5, 6, 7, neg(8), neg(9)}),
              csv.rows.size(), 8);
}

TEST(CliReproducesDialogue, SensitivityBothModesOverGaps) {
  Session s;
  // OPTION 3, SUBOPTION 3 (range of S), both modes.
  const std::string report = s.dialogue("1\n3\n3\n3\n" + blanks(12) + "3\n");
  const Result r = cli({"sensitivity", "--model", "closed", "--defaults", s.defaults(), "--s-range",
                        "0.005:0.03:0.005", "--format", "csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Csv csv = parse_csv(r.out);
  ASSERT_EQ(csv.header.size(), 17u);  // x, Zoe, Zoo, 2 x 6 sensitivities, valid, flags
  EXPECT_EQ(csv.header.at(3), "s_zoe_er");
  EXPECT_EQ(csv.header.at(9), "s_zoo_er");
  const std::string_view row = "(1X,F14.4,1X,2(F7.3),6(F8.3))";
  expect_rows(report, rendered(csv, row, {0, 1, 2, 3, 4, 5, 6, 7, 8}), csv.rows.size(), 6);
  expect_rows(report, rendered(csv, row, {0, 1, 2, 9, 10, 11, 12, 13, 14}), csv.rows.size(), 6);
}

TEST(CliReproducesDialogue, SynthesisDispersiveCouplingRangeAndZoeRange) {
  Session s;
  // FUNCTION 2, OPTION 2 (at Fo = 2 GHz), SUBOPTION 1: 6 to 20 dB by 2.
  const std::string levels = s.dialogue("2\n2\n1\n" + blanks(10) + "3\n");
  const Result r = cli({"synthesise", "--model", "closed", "--defaults", s.defaults(), "--f", "2",
                        "--coupling-range", "6:20:2", "--format", "csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Csv csv = parse_csv(r.out);
  const std::string_view row = "(3X,2(F8.4,F6.3),2X,F7.3,2(F8.3),F9.3,F7.3,F8.3)";
  expect_rows(levels, rendered(csv, row, {4, 6, 5, 7, 1, 2, 3, neg(0), 8, 9}), csv.rows.size(), 8);

  // OPTION 1 (D.C.), SUBOPTION 2: Zoe 60 to 90 by 5.
  const std::string zoes = s.dialogue("2\n1\n2\n" + blanks(9) + "3\n");
  const Result z = cli({"synthesise", "--model", "closed", "--defaults", s.defaults(),
                        "--zoe-range", "90:60:5", "--format", "csv"});
  ASSERT_EQ(z.status, 0) << z.err;
  const Csv csvz = parse_csv(z.out);
  expect_rows(zoes, rendered(csvz, row, {4, 6, 5, 7, 1, 2, 3, neg(0), 8, 9}), csvz.rows.size(), 7);
}

TEST(CliOutput, UnitsAndFormatsCarryTheSameNumbers) {
  // 25 mil = 0.025 inch exactly as the float division rounds it, so the two
  // runs see the same cross-section; lengths come back in mil, losses per mil.
  const Result in = cli({"analyse", "--er", "9.8", "--h", "0.025", "--h2", "0.25", "--w", "0.02",
                         "--s", "0.005", "--t", "0.0007", "--f", "2", "--format", "csv"});
  const Result mil = cli({"analyse", "--er", "9.8", "--h", "25", "--h2", "250", "--w", "20", "--s",
                          "5", "--t", "0.7", "--f", "2", "--units", "mil", "--format", "json"});
  ASSERT_EQ(in.status, 0) << in.err;
  ASSERT_EQ(mil.status, 0) << mil.err;
  const Csv csv = parse_csv(in.out);
  ASSERT_EQ(csv.rows.size(), 1u);
  const auto doc = nlohmann::json::parse(mil.out);
  EXPECT_EQ(doc.at("inputs").at("command"), "analyse");
  EXPECT_EQ(doc.at("units").at("length"), "mil");
  EXPECT_EQ(doc.at("inputs").at("h_mil").get<double>(), 25.0);
  ASSERT_EQ(doc.at("rows").size(), 1u);
  const auto& row = doc.at("rows").at(0);
  for (std::size_t k = 0; k + 2 < csv.header.size(); ++k) {  // valid and flags last
    std::string key = csv.header[k];
    float expected = csv.rows[0][k];
    if (key.size() > 10 && key.compare(key.size() - 10, 10, "_db_per_in") == 0) {
      key.replace(key.size() - 2, 2, "mil");
      expected = expected / 1000.0f;
    } else if (key.size() > 3 && key.compare(key.size() - 3, 3, "_in") == 0) {
      key.replace(key.size() - 2, 2, "mil");
      expected = expected * 1000.0f;
    }
    EXPECT_EQ(row.at(key).get<float>(), expected) << key;
  }
}

TEST(CliOutput, MillimetresGiveTheCrossSectionTypedInInches) {
  // 0.508 mm is 0.02 inch exactly; read as a float and divided by 25.4 in
  // float it would be one float off, and every figure with it.
  const Result in = cli({"analyse", "--er", "9.8", "--h", "0.025", "--h2", "0.25", "--w", "0.02",
                         "--s", "0.005", "--t", "0.0007", "--f", "2", "--format", "json"});
  const Result mm =
      cli({"analyse", "--er", "9.8", "--h", "0.635", "--h2", "6.35", "--w", "0.508", "--s", "0.127",
           "--t", "0.01778", "--f", "2", "--units", "mm", "--format", "json"});
  ASSERT_EQ(in.status, 0) << in.err;
  ASSERT_EQ(mm.status, 0) << mm.err;
  const auto a = nlohmann::json::parse(in.out).at("rows").at(0);
  const auto b = nlohmann::json::parse(mm.out).at("rows").at(0);
  for (const char* k :
       {"zo_ohm", "zoe_ohm", "zoo_ohm", "coupling_db", "eff_e", "eff_o", "w_h", "s_h"}) {
    EXPECT_EQ(a.at(k).get<double>(), b.at(k).get<double>()) << k;
  }
  EXPECT_EQ(b.at("w_mm").get<double>(), 0.508);  // and back in mm
}

TEST(CliOutput, LengthsAreEchoedAsTyped) {
  // 0.8725 mm is 0.034350395 inch as a float, which reads back as 0.87250006.
  const Result r = cli({"diffpair", "--er", "4.3", "--h", "0.5", "--h2", "5", "--w", "0.8725",
                        "--s", "0.2", "--t", "0.035", "--units", "mm", "--format", "csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("0.87250006"), std::string::npos) << r.out;
  const Result t = cli({"analyse", "--er", "4.3", "--h", "0.5", "--h2", "5", "--w", "0.8725", "--s",
                        "0.2", "--t", "0.035", "--units", "mm"});
  ASSERT_EQ(t.status, 0) << t.err;
  EXPECT_NE(t.out.find("w 0.8725 mm"), std::string::npos) << t.out;
  // The Touchstone file's comments give the section in the run's unit too.
  const Result ts =
      cli({"response", "--er",     "4.3", "--h",       "0.5",   "--h2",     "5",
           "--w",      "0.8725",   "--s", "0.2",       "--t",   "0.035",    "--units",
           "mm",       "--centre", "2",   "--f-range", "2:2:1", "--format", "touchstone"});
  ASSERT_EQ(ts.status, 0) << ts.err;
  EXPECT_NE(ts.out.find("! Er 4.3, H 0.5 mm, H2 5 mm, W 0.8725 mm, S 0.2 mm, T 0.035 mm\n"),
            std::string::npos)
      << ts.out;
}

TEST(CliErrors, TouchstoneThatCannotBeWrittenExitsOne) {
  Session s;
  const std::string path = (s.dir() / "no_such_dir" / "c.s4p").string();
  const Result r = cli({"response", "--defaults", s.defaults(), "--touchstone", path});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("--touchstone: cannot write"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(path));
}

TEST(CliErrors, UsageErrorsNameTheOptionAndExitTwo) {
  const std::vector<std::string> sec{"--er", "9.8",  "--h", "0.025", "--h2", "0.25",
                                     "--w",  "0.02", "--s", "0.005", "--t",  "0.0007"};
  const auto with = [&](std::vector<std::string> head, std::vector<std::string> tail) {
    head.insert(head.end(), sec.begin(), sec.end());
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  struct Case {
    std::vector<std::string> args;
    std::string names;
  };
  const std::vector<Case> cases{
      {with({"analyse"}, {"--bogus", "1"}), "--bogus"},
      {with({"analyse"}, {"--f", "2GHz"}), "--f"},
      {with({"dispersion"}, {"--f-range", "1:2"}), "--f-range"},
      {with({"dispersion"}, {"--f-range", "2:1:0.5"}), "--f-range"},
      {with({"response"}, {"--f-range", "1:2:1", "--length", "0.5", "--centre", "2"}), "--centre"},
      {{"analyse", "--er", "9.8", "--w-range", "0.01:0.02:0.01", "--s-range", "0.01:0.02:0.01"},
       "--s-range"},
      {{"analyse", "--er", "9.8"}, "--h, --h2, --w, --s, --t"},
      {{"synthesise", "--er", "9.8", "--h", "0.025", "--h2", "0.04", "--t", "0", "--zo", "50",
        "--coupling", "10", "--model", "closed"},
       "--h2"},
      {{"frobnicate"}, "frobnicate"},
      {{}, "subcommand"},
  };
  for (const Case& c : cases) {
    const Result r = cli(c.args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(c.names), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    EXPECT_TRUE(r.out.empty());
  }
}

TEST(CliErrors, AccuracyViolationStopsWithReasonsAndStatusOne) {
  // H2 = 2 H with a narrow gap: Zoo above Zoe at the second width.
  const Result r =
      cli({"analyse", "--er", "9.8", "--h", "0.05", "--h2", "0.1", "--s", "0.01", "--t", "0.0007",
           "--w-range", "0.08:0.4:0.08", "--f", "20", "--format", "csv", "--model", "closed"});
  EXPECT_EQ(r.status, 1);
  // One line each, in the command line's own words (not the dialogue's).
  EXPECT_EQ(r.err,
            "kestrelix analyse: 20 GHz puts F*H above 25 GHz-mm: the dispersion models may fail\n"
            "kestrelix analyse: 3 of 3 rows outside the models' validity ranges (fh): see the "
            "flags of each row\n"
            "kestrelix analyse: 1 of 3 rows where the closed forms are more than 1 % from the "
            "field solver in Zoe or Zoo (closed_form_off): --model field computes with the "
            "solver\n"
            "kestrelix analyse: the models' accuracy is violated at W 0.32 in, S 0.01 in, 20 GHz "
            "by F*H 25.40 GHz-mm above 25; H2/H 2.000 with S/H 0.20: Zoo above Zoe: the run ends "
            "here\n");
  EXPECT_EQ(r.out.rfind("w_in,s_in,", 0), 0u);  // the header, and the rows before the failing point
}

TEST(CliErrors, FailedSynthesisNamesOnlyTheLimitsItsLevelCrosses) {
  // 2 dB is outside the synthesis's 6 to 20 dB and is named; 10 dB is inside
  // and is not.
  const std::vector<std::string> sub = {"synthesise", "--er", "3.66", "--h",       "20",  "--h2",
                                        "250",        "--t",  "1.4",  "--units",   "mil", "--zo",
                                        "50",         "--f",  "2.4",  "--coupling"};
  std::vector<std::string> tight = sub;
  tight.push_back("10,2");
  const Result r = cli(tight);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("violated at W 10.864 mil, S 0.35 mil, 2.4 GHz by coupling 2 dB outside 6 "
                       "to 20 dB: the run ends here\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("coupling 10 dB"), std::string::npos) << r.err;
}

TEST(CliErrors, FaultyDefaultsFileIsOneUsageLineNamingTheEntry) {
  const Session s;
  {
    std::ofstream f(s.defaults(), std::ios::trunc);
    f << "title\n 9.8\n -3\n";  // Er, then a negative F.
  }
  const Result r = cli({"analyse", "--defaults", s.defaults(), "--w", "0.02", "--s", "0.005"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "kestrelix analyse: --defaults: " + s.defaults() + ": fix the entry for F.\n");
  EXPECT_TRUE(r.out.empty());
}

TEST(CliErrors, HelpAndVersion) {
  const Result h = cli({"--help"});
  EXPECT_EQ(h.status, 0);
  for (const char* name : {"analyse", "response", "dispersion", "sensitivity", "synthesise",
                           "diffpair", "tolerance", "--touchstone", "--units", "--defaults"}) {
    EXPECT_NE(h.out.find(name), std::string::npos) << name;
  }
  const Result v = cli({"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out, "kestrelix 2.0\n");
  // An unknown subcommand is a usage error, with --help too.
  for (const auto& args : {std::vector<std::string>{"NOSUCH", "--help"}, {"NOSUCH"}}) {
    const Result u = cli(args);
    EXPECT_EQ(u.status, 2);
    EXPECT_EQ(u.out, "");
    EXPECT_EQ(u.err.rfind("kestrelix: 'NOSUCH' is not a subcommand (analyse, ", 0), 0u) << u.err;
  }
}

}  // namespace
