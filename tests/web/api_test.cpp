// The web API against the command line run in the same build: a request's
// document is byte for byte the one the subcommand prints with --format
// json, and every failure is the command line's message as a JSON error.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <kestrelix/stack.h>
#include <kestrelix/structure.h>

#include "cli/cli.h"
#include "tests/support/cli_run.h"
#include "web/api.h"

namespace {

using nlohmann::json;

using Cli = kx::test::CliRun;
Cli cli(std::vector<std::string> args) { return kx::test::run_cli(std::move(args)); }

const kx::web::Api& api() {
  static const kx::web::Api a;
  return a;
}

kx::cli::RunLimits web_limits() {
  kx::cli::RunLimits l;
  l.files = false;
  return l;
}

const char* kSection = R"("er": 3.66, "h": "0.508", "h2": 6.35, "t": 0.035, "units": "mm")";

TEST(WebApi, DocumentIsTheSubcommandsJson) {
  struct Case {
    std::string command, body;
    std::vector<std::string> args;
  };
  const std::vector<std::string> sec = {"--er", "3.66", "--h",   "0.508",   "--h2",
                                        "6.35", "--t",  "0.035", "--units", "mm"};
  const std::vector<Case> cases = {
      {"synthesise",
       R"("zo": 50, "coupling": "10,12", "f": 2.4)",
       {"--zo", "50", "--coupling", "10,12", "--f", "2.4"}},
      {"analyse",
       R"("w": 0.87, "s_range": "0.05:0.5:0.05", "f": 2.4, "tlos": 0.002)",
       {"--w", "0.87", "--s-range", "0.05:0.5:0.05", "--f", "2.4", "--tlos", "0.002"}},
      {"response",
       R"("w": 0.8725, "s": 0.0942, "f-range": "0.5:4.5:0.01", "centre": 2.4, "no_radiation": true, "rs": null)",
       {"--w", "0.8725", "--s", "0.0942", "--f-range", "0.5:4.5:0.01", "--centre", "2.4",
        "--no-radiation"}},
      {"diffpair",
       R"("w": 0.8725, "f": 2.4, "zdiff": 100)",
       {"--w", "0.8725", "--f", "2.4", "--zdiff", "100"}},
      {"dispersion",
       R"("w": 0.8725, "s": 0.0942, "f-range": "0:10:1")",
       {"--w", "0.8725", "--s", "0.0942", "--f-range", "0:10:1"}},
      {"sensitivity",
       R"("w": 0.8725, "s": 0.0942, "f-range": "1:3:1", "mode": "zoe")",
       {"--w", "0.8725", "--s", "0.0942", "--f-range", "1:3:1", "--mode", "zoe"}},
      {"check",
       R"("w": 0.8725, "s": 0.0942, "f": 2.4, "accuracy": "fine")",
       {"--w", "0.8725", "--s", "0.0942", "--f", "2.4", "--accuracy", "fine"}},
      {"tolerance",
       R"("w": 0.8725, "s": 0.0942, "f": 2.4, "centre": 2.4, "tol-w": 0.0127, "tol_er": 0.05, "samples": 3000, "limit": ["coupling_db=9.5:10.5", "zo=48:52"])",
       {"--w", "0.8725", "--s", "0.0942", "--f", "2.4", "--centre", "2.4", "--tol-w", "0.0127",
        "--tol-er", "0.05", "--samples", "3000", "--limit", "coupling_db=9.5:10.5", "--limit",
        "zo=48:52"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {c.command};
    args.insert(args.end(), sec.begin(), sec.end());
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end(), {"--format", "json"});
    const Cli want = cli(args);
    ASSERT_EQ(want.status, 0) << c.command << ": " << want.err;
    const kx::web::Reply got =
        api().post(c.command, std::string("{") + kSection + ", " + c.body + "}", web_limits());
    EXPECT_EQ(got.status, 200) << c.command << ": " << got.body;
    EXPECT_EQ(got.body, want.out) << c.command;
  }
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) out.push_back(line);
  }
  return out;
}

TEST(WebApi, WarningsTravelInAHeader) {
  const Cli want = cli({"analyse", "--er", "3.66", "--h", "0.508", "--h2", "6.35", "--t", "0.035",
                        "--units", "mm", "--w", "8", "--s", "0.09", "--format", "json"});
  ASSERT_EQ(want.status, 0);
  ASSERT_FALSE(want.err.empty());
  const kx::web::Reply r =
      api().post("analyse", std::string("{") + kSection + R"(, "w": 8, "s": 0.09})", web_limits());
  ASSERT_EQ(r.status, 200);
  ASSERT_EQ(r.headers.size(), 1u);
  EXPECT_EQ(r.headers[0].first, "Kestrelix-Messages");
  EXPECT_EQ(json::parse(r.headers[0].second), json(lines(want.err)));
}

TEST(WebApi, FailuresAreJsonErrorsWithTheCommandLinesWords) {
  // A usage error: 400 and the command line's message.
  const Cli usage = cli({"analyse", "--er", "3.66", "--format", "json"});
  ASSERT_EQ(usage.status, 2);
  const kx::web::Reply r400 = api().post("analyse", R"({"er": 3.66})", web_limits());
  EXPECT_EQ(r400.status, 400);
  EXPECT_EQ(json::parse(r400.body)["error"], usage.err.substr(0, usage.err.size() - 1));

  // A point outside the models' validity: 422, the rows before it and the reasons.
  const Cli model =
      cli({"analyse", "--er", "20", "--h", "0.05", "--h2", "0.1", "--w-range", "0.08:0.4:0.08",
           "--t", "0", "--s", "0.01", "--model", "closed", "--format", "json"});
  ASSERT_EQ(model.status, 1);
  const kx::web::Reply r422 =
      api().post("analyse",
                 R"({"er": 20, "h": 0.05, "h2": 0.1, "w-range": )"
                 R"("0.08:0.4:0.08", "t": 0, "s": 0.01, "model": "closed"})",
                 web_limits());
  EXPECT_EQ(r422.status, 422);
  const json e = json::parse(r422.body);
  EXPECT_EQ(e["document"], json::parse(model.out));
  EXPECT_EQ(e["details"], json(lines(model.err)));

  EXPECT_EQ(api().post("nosuch", "{}", web_limits()).status, 404);
  for (const char* bad : {"", "[1, 2]", "{\"er\": {\"a\": 1}}", "{\"er\": [[1]]}", "{\"Er\": 1}",
                          "{\"--er\": 1}", "{\"er\": \"3\\u0000--defaults=x\"}", "{\"er\": 1e999}",
                          "{\"er\": \"3.66\", \"er\": \"x\"", "nan"}) {
    const kx::web::Reply r = api().post("analyse", bad, web_limits());
    EXPECT_EQ(r.status, 400) << bad;
    EXPECT_TRUE(json::parse(r.body).contains("error")) << bad;
  }
}

TEST(WebApi, NoOptionThatReadsOrWritesAFile) {
  const std::string path = (std::filesystem::temp_directory_path() / "kx_web_api_test").string();
  for (const std::string option :
       {"touchstone", "samples-out", "samples_out", "defaults", "format", "help", "version"}) {
    const std::string body =
        std::string("{") + kSection +
        R"(, "w": 0.87, "s": 0.094, "f": 2.4, "f-range": "1:2:1", "centre": 2.4, ")" + option +
        R"(": ")" + path + R"("})";
    for (const char* command : {"response", "tolerance", "analyse"}) {
      const kx::web::Reply r = api().post(command, body, web_limits());
      EXPECT_EQ(r.status, 400) << command << " " << option;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(WebApi, TouchstoneIsTheResponsesTouchstoneText) {
  const Cli want =
      cli({"response", "--er",     "3.66",    "--h",       "0.508",   "--h2",     "6.35",
           "--t",      "0.035",    "--units", "mm",        "--w",     "0.8725",   "--s",
           "0.0942",   "--centre", "2.4",     "--f-range", "1:4:0.5", "--format", "touchstone"});
  ASSERT_EQ(want.status, 0) << want.err;
  const kx::web::Query q = {{"er", "3.66"},  {"h", "0.508"},    {"h2", "6.35"},
                            {"t", "0.035"},  {"units", "mm"},   {"w", "0.8725"},
                            {"s", "0.0942"}, {"centre", "2.4"}, {"f_range", "1:4:0.5"}};
  const kx::web::Reply r = api().touchstone(q, web_limits());
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, want.out);
  kx::web::Query bad = q;
  bad.emplace_back("touchstone", "/tmp/x.s4p");
  EXPECT_EQ(api().touchstone(bad, web_limits()).status, 400);
}

TEST(WebApi, RunsAreSlowByTheWorkTheyAsk) {
  const auto heavy = [](const std::string& command, const std::string& options) {
    return kx::web::is_heavy(
        kx::web::command_line(command, std::string("{") + kSection + ", " + options + "}"));
  };
  const std::string field = R"("model": "field", )";
  const std::string tol = R"("f": 2.4, "centre": 2.4, "tol-w": 0.0127, "tol-s": "5%", )"
                          R"("tol-h": 0.0254, "tol-er": 0.05, "tol-t": 0, )";
  // A few hundred field points, a response, a synthesis, a check: quick.
  EXPECT_FALSE(heavy("analyse", field + R"("w": 0.87, "s-range": "0.07:0.37:0.001")"));
  EXPECT_FALSE(heavy("response", field + R"("w": 0.87, "s": 0.094, "f-range": "0.5:4.5:0.01")"));
  EXPECT_FALSE(heavy("synthesise", field + R"("zo": 50, "coupling-range": "20:6:1")"));
  EXPECT_FALSE(heavy("check", R"("w": 0.87, "s": 0.094)"));
  EXPECT_FALSE(heavy("tolerance", tol + R"("w": 0.87, "s": 0.094, "samples": 10000)"));
  EXPECT_FALSE(heavy("tolerance", field + tol + R"("w": 0.87, "s": 0.094, "samples": 20000)"));
  // Thousands of field points, a map, a large or directly solved tolerance run: slow.
  EXPECT_TRUE(heavy("analyse", field + R"("s": 0.094, "w-range": "0.5:1.49:0.00001")"));
  EXPECT_TRUE(heavy("analyse", R"("accuracy": "fine", "check": true, "w": 0.87, )"
                               R"("s-range": "0.07:0.37:0.001")"));
  // The tables make an uncoated field point cheap; a coating is solved directly.
  const std::string coated = field + R"("coat-thickness": 0.001, "coat-er": 3.5, )";
  EXPECT_FALSE(heavy("sensitivity", field + R"("s": 0.094, "f": 2.4, "w-range": "0.5:1.5:0.01")"));
  EXPECT_TRUE(heavy("sensitivity", coated + R"("s": 0.094, "f": 2.4, "w-range": "0.5:1.5:0.01")"));
  EXPECT_TRUE(heavy("check", R"("w": 0.87, "map": true, "accuracy": "fine")"));
  EXPECT_TRUE(heavy("tolerance", tol + R"("w": 0.87, "s": 0.094, "samples": 1000000)"));
  EXPECT_TRUE(heavy("tolerance", tol + R"("w": 0.87, "s": 0.094, "f-range": "2:3:0.01")"));
  // A coated tolerance run: a local model of some seventy direct solutions,
  // then every sample at the tables' cost; every sample solved directly is slow.
  EXPECT_FALSE(heavy("tolerance", coated + tol + R"("w": 0.87, "s": 0.094, "samples": 1000)"));
  EXPECT_TRUE(heavy(
      "tolerance", coated + tol + R"("method": "direct", "w": 0.87, "s": 0.094, "samples": 1000)"));
  // The field model is the default: a large tolerance run without a model
  // samples it; the closed forms' rows cost a solution each for their deviation.
  EXPECT_TRUE(heavy("tolerance", tol + R"("w": 0.87, "s": 0.094, "samples": 50000)"));
  EXPECT_FALSE(heavy("tolerance", R"("model": "closed", )" + tol +
                                      R"("w": 0.87, "s": 0.094, "samples": 50000)"));
}

TEST(WebApi, BoardCrossSectionsAndLossesAreTheirSubcommandsJson) {
  struct Case {
    std::string command, body;
    std::vector<std::string> args;
  };
  const std::vector<Case> cases = {
      {"line",
       R"({"structure": "stripline-pair", "h": 0.2, "er": 4.2, "t": 0.035, "w": 0.15, "s": 0.2, "units": "mm"})",
       {"--structure", "stripline-pair", "--h", "0.2", "--er", "4.2", "--t", "0.035", "--w", "0.15",
        "--s", "0.2", "--units", "mm"}},
      {"line",
       R"({"structure": "gcpw", "h": 0.2, "er": 4.2, "t": 0.035, "z0": 50, "ground-gap": 0.2, "mask_over_trace": 0.02, "mask-er": 3.5, "units": "mm"})",
       {"--structure", "gcpw", "--h", "0.2", "--er", "4.2", "--t", "0.035", "--z0", "50",
        "--ground-gap", "0.2", "--mask-over-trace", "0.02", "--mask-er", "3.5", "--units", "mm"}},
      {"line",
       R"({"structure": "microstrip-pair", "h": 0.2, "er": 4.2, "t": 0.035, "w": 0.3, "s": 0.2, "tol-h": "10%", "tol-w": 0.0127, "samples": 40, "limit": ["zdiff=80:100"], "units": "mm"})",
       {"--structure", "microstrip-pair",
        "--h",         "0.2",
        "--er",        "4.2",
        "--t",         "0.035",
        "--w",         "0.3",
        "--s",         "0.2",
        "--tol-h",     "10%",
        "--tol-w",     "0.0127",
        "--samples",   "40",
        "--limit",     "zdiff=80:100",
        "--units",     "mm"}},
      {"loss",
       R"({"h": "0.508", "h2": 6.35, "t": 0.035, "units": "mm", )"
       R"("w": 0.8757, "s": 0.1175, "f-range": "1:20:1", "material": "fr4_like", "roughness": "huray:radius=0.5,spheres=14,side=5.8", "dielectric-model": "constant"})",
       {"--w",
        "0.8757",
        "--s",
        "0.1175",
        "--f-range",
        "1:20:1",
        "--material",
        "fr4_like",
        "--roughness",
        "huray:radius=0.5,spheres=14,side=5.8",
        "--dielectric-model",
        "constant",
        "--h",
        "0.508",
        "--h2",
        "6.35",
        "--t",
        "0.035",
        "--units",
        "mm"}},
      {"loss",
       R"({"structure": "microstrip", "h": 0.2, "t": 0.035, "w": 0.3, "material": "fr4_like", )"
       R"("f-range": "1:20:1", "units": "mm"})",
       {"--structure", "microstrip", "--h", "0.2", "--t", "0.035", "--w", "0.3", "--material",
        "fr4_like", "--f-range", "1:20:1", "--units", "mm"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {c.command};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end(), {"--format", "json"});
    const Cli want = cli(args);
    ASSERT_EQ(want.status, 0) << c.command << ": " << want.err;
    const kx::web::Reply got = api().post(c.command, c.body, web_limits());
    EXPECT_EQ(got.status, 200) << c.command << ": " << got.body;
    EXPECT_EQ(got.body, want.out) << c.body;
  }
  // Bad input: 400 with the command line's message, which names the option.
  const kx::web::Reply bad =
      api().post("line", R"({"structure": "stripline", "h": -1, "er": 4.2, "t": 0.035, "w": 0.15})",
                 web_limits());
  EXPECT_EQ(bad.status, 400);
  EXPECT_EQ(json::parse(bad.body)["error"], "kestrelix line: --h: must be above 0");
  const kx::web::Reply rough = api().post(
      "loss",
      std::string("{") + kSection +
          R"(, "w": 0.8757, "s": 0.1175, "f-range": "1:2:1", "roughness": "huray:spheres=3"})",
      web_limits());
  EXPECT_EQ(rough.status, 400);
  EXPECT_EQ(
      json::parse(rough.body)["error"].get<std::string>().rfind("kestrelix loss: --roughness:", 0),
      0u)
      << rough.body;
}

// The route's figures are the structure study's, to the last bit.
TEST(WebApi, LineFiguresAreTheStructureStudys) {
  kx::stack::Trace tr;
  tr.width = 0.15;
  tr.thickness = 0.035;
  kx::study::StructurePlan plan;
  plan.stack = kx::stack::stripline_pair(2 * 0.2 + 0.035, 4.2, tr, 0.2);
  plan.pair = true;
  const kx::study::Structure want = kx::study::structure(plan);
  ASSERT_TRUE(want.solved) << want.reason;
  const kx::web::Reply r = api().post(
      "line",
      R"({"structure": "stripline-pair", "h": 0.2, "er": 4.2, "t": 0.035, "w": 0.15, "s": 0.2, "units": "mm"})",
      web_limits());
  ASSERT_EQ(r.status, 200) << r.body;
  const json doc = json::parse(r.body);
  json pair;
  for (const json& row : doc["rows"])
    if (row["kind"] == "pair") pair = row;
  EXPECT_EQ(pair["zdiff_ohm"].get<double>(), want.pair.zdiff);
  EXPECT_EQ(pair["zcomm_ohm"].get<double>(), want.pair.zcomm);
  EXPECT_EQ(pair["zoe_ohm"].get<double>(), want.pair.zoe);
  EXPECT_EQ(pair["zoo_ohm"].get<double>(), want.pair.zoo);
  EXPECT_EQ(pair["eff_e"].get<double>(), want.pair.eff_e);
  EXPECT_EQ(pair["eff_o"].get<double>(), want.pair.eff_o);
}

// A run that may read no file (the server's) reads no materials file, stackup
// or board, though the file is there and good.
TEST(WebApi, NoFileIsReadForTheServer) {
  const std::string path =
      (std::filesystem::temp_directory_path() / "kx_web_materials.json").string();
  {
    std::ofstream f(path);
    f << R"({"format": "kestrelix-materials", "version": 1, "dielectrics": [{"name": "mine", "dk": 3.3, "df": 0.002, "f_ghz": 1.0, "model": "constant"}]})";
  }
  const std::vector<std::string> args = {
      "loss",  "--h",        "0.508", "--h2",        "6.35",    "--t",      "0.035",
      "--w",   "0.8757",     "--s",   "0.1175",      "--units", "mm",       "--f-range",
      "1:2:1", "--material", "mine",  "--materials", path,      "--format", "json"};
  ASSERT_EQ(cli(args).status, 0) << "the file is a good materials file";
  std::vector<const char*> argv{"kestrelix"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  EXPECT_EQ(kx::cli::run_cli(static_cast<int>(argv.size()), argv.data(), out, err, web_limits()),
            2);
  EXPECT_EQ(err.str(), "kestrelix loss: --materials: files are not read here\n");
  const std::string sec =
      R"("h": 0.508, "h2": 6.35, "t": 0.035, "w": 0.8757, "s": 0.1175, "units": "mm")";
  for (const std::string run : {R"("loss", "f-range": "1:2:1")", R"("analyse", "f": 2)"}) {
    const std::string command = run.substr(1, run.find('"', 1) - 1);
    const std::string options = run.substr(run.find(',') + 2);
    const std::string body = "{" + sec + ", " + options +
                             R"(, "material": "mine", "materials": ")" + path + R"("})";
    const kx::web::Reply r = api().post(command, body, web_limits());
    EXPECT_EQ(r.status, 400) << command << ": " << r.body;
    EXPECT_NE(r.body.find("--materials"), std::string::npos) << r.body;
  }
  for (const char* option : {"stackup", "kicad"}) {
    const kx::web::Reply r =
        api().post("line",
                   std::string(R"({"units": "mm", ")") + option + R"(": ")" + path + R"("})",
                   web_limits());
    EXPECT_EQ(r.status, 400) << option;
  }
  std::filesystem::remove(path);
}

TEST(WebApi, BoardCrossSectionRunsAreSlowByTheirSolutions) {
  const auto heavy = [](const std::string& command, const std::string& body) {
    return kx::web::is_heavy(kx::web::command_line(command, body));
  };
  const std::string pair = R"("structure": "gcpw-pair", "h": 0.2, "er": 4.2, "t": 0.035, )";
  EXPECT_FALSE(heavy("line", "{" + pair + R"("w": 0.2, "s": 0.2, "ground-gap": 0.2})"));
  EXPECT_FALSE(heavy("line", "{" + pair + R"("zdiff": 90, "zcomm": 30, "accuracy": "fine"})"));
  EXPECT_FALSE(heavy("line", "{" + pair + R"("w": 0.2, "s": 0.2, "tol-h": "5%", "samples": 100})"));
  EXPECT_TRUE(heavy("line", "{" + pair + R"("w": 0.2, "s": 0.2, "tol-h": "5%", "tol-w": 0.01})"));
  EXPECT_FALSE(heavy("loss", std::string("{") + kSection + R"(, "f-range": "0.01:40:0.01"})"));
}

}  // namespace
