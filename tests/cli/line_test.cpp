// `kestrelix line` end to end: the six-layer board's walk-through from the
// command line and from the library, every search's answer analysed again,
// the crosstalk against Cohn's exact coupled striplines, the closed forms
// beside the solver, a tolerance run's yield against its distribution, and
// the command lines it refuses.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <kestrelix/stack_design.h>
#include <kestrelix/stackup_file.h>
#include <kestrelix/structure.h>

#include "cli/cli.h"
#include "tests/support/cli_run.h"
#include "tests/support/exact.h"

namespace {

using nlohmann::json;
namespace ks = kx::stack;

using Result = kx::test::CliRun;

Result run(std::vector<std::string> args) {
  args.insert(args.begin(), "line");
  return kx::test::run_cli(std::move(args));
}

json run_json(std::vector<std::string> args) {
  args.insert(args.end(), {"--units", "mm", "--format", "json"});
  const Result r = run(args);
  EXPECT_EQ(r.status, 0) << r.err;
  return r.status == 0 ? r.doc() : json::object();
}

// The first row of a kind.
json row(const json& doc, const std::string& kind) {
  for (const json& r : doc["rows"])
    if (r["kind"] == kind) return r;
  ADD_FAILURE() << "no row of kind " << kind;
  return json::object();
}

const std::string kBoard = std::string(KX_TEST_DATA_DIR) + "/../examples/six_layer.kicad_pcb";

// The library's side of the walk-through: the board's layer with the traces
// centred on it, as a designer's own program places them.
ks::Stack board_layer(const std::string& layer, double w, double s, bool pair, double ground_gap) {
  std::ifstream in(kBoard);
  std::stringstream text;
  text << in.rdbuf();
  const ks::KicadImport imp = ks::import_kicad(ks::read_kicad_stackup(text.str()), layer);
  ks::Stack st = imp.stackup.stack;
  ks::Conductor c;
  c.interface = imp.interface;
  c.thickness = imp.trace_thickness;
  if (pair) {
    c.left = -0.5 * s - w;
    c.right = -0.5 * s;
    st.conductors.push_back(c);
    c.left = 0.5 * s;
    c.right = 0.5 * s + w;
    st.conductors.push_back(c);
  } else {
    c.left = -0.5 * w;
    c.right = 0.5 * w;
    st.conductors.push_back(c);
  }
  const double outer = pair ? 0.5 * s + w : 0.5 * w;
  if (ground_gap > 0.0) {
    ks::Conductor g = c;
    g.role = ks::Role::ground;
    g.left = outer + ground_gap;
    g.right = ks::kUnbounded;
    st.conductors.push_back(g);
    g.right = -outer - ground_gap;
    g.left = -ks::kUnbounded;
    st.conductors.push_back(g);
  }
  return st;
}

// The designer's walk-through on the example six-layer board: a 90 ohm pair
// on the inner layer In2.Cu (the width for a 0.15 mm gap), a 50 ohm
// grounded coplanar line on the top layer under its solder mask, the pair's
// crosstalk from a neighbour 0.3 mm away; the same answers from the library.
TEST(Line, SixLayerBoardWalkThroughFromTheCommandLineAndTheLibrary) {
  const json pair = run_json({"--kicad", kBoard, "--layer", "In2.Cu", "--pair", "--zdiff", "90",
                              "--s", "0.15", "--neighbour", "0.3"});
  const json gcpw =
      run_json({"--kicad", kBoard, "--layer", "F.Cu", "--ground-gap", "0.15", "--z0", "50"});
  ASSERT_FALSE(pair.empty());
  ASSERT_FALSE(gcpw.empty());
  const double w = pair["summary"]["w_mm"], s = pair["summary"]["s_mm"];
  const double w50 = gcpw["summary"]["w_mm"];
  EXPECT_EQ(s, 0.15);
  EXPECT_GT(w, 0.05);
  EXPECT_LT(w, 0.4);

  // Analysed again through the library: the targets are met.
  const ks::PairFigures p = ks::pair(ks::solve(board_layer("In2.Cu", w, s, true, 0.0)));
  EXPECT_NEAR(p.zdiff, 90.0, 0.05);
  EXPECT_NEAR(row(pair, "pair")["zdiff_ohm"].get<double>(), p.zdiff, 1e-9 * p.zdiff);
  const ks::Stack top = board_layer("F.Cu", w50, 0.0, false, 0.15);
  EXPECT_TRUE(top.mask.present());  // the board's solder mask over the top layer
  const ks::LineFigures l = ks::line(ks::solve(top));
  EXPECT_NEAR(l.z0, 50.0, 0.05);
  EXPECT_NEAR(row(gcpw, "line")["z0_ohm"].get<double>(), l.z0, 1e-9 * l.z0);

  // The library's study finds the same width from the same start (the
  // trace's height above its plane, 0.2 mm).
  kx::study::StructurePlan plan;
  plan.stack = board_layer("In2.Cu", 0.2, 0.15, true, 0.0);
  plan.pair = true;
  plan.solve = kx::study::StructureSolve::width_for_zdiff;
  plan.zdiff = 90.0;
  plan.neighbour_gap = 0.3;
  const kx::study::Structure found = kx::study::structure(plan);
  ASSERT_TRUE(found.solved) << found.reason;
  EXPECT_NEAR(found.width, w, 1e-9);
  ASSERT_EQ(found.crosstalk.size(), 1u);
  const json x = row(pair, "crosstalk");
  EXPECT_NEAR(x["kb"].get<double>(), found.crosstalk[0].figures.kb, 1e-12);
  EXPECT_NEAR(x["gap_mm"].get<double>(), 0.3, 1e-12);
  // A pair between planes: weak backward crosstalk onto the pair's
  // difference, some forward (two dielectrics).
  EXPECT_GT(std::abs(x["kb"].get<double>()), 1e-5);
  EXPECT_LT(std::abs(x["kb"].get<double>()), 0.2);
}

// Every search's answer, analysed again with the library's builders, meets
// its target within 0.05 ohm.
TEST(Line, EverySearchIsMetOnReanalysis) {
  const ks::Layer fr4{0.2, 4.3, 0.0, ""}, prepreg{0.15, 3.9, 0.0, ""};
  ks::Trace t;
  t.thickness = 0.035;
  ks::Mask mask;
  mask.over_trace = mask.on_substrate = mask.between = 0.02;
  mask.er = 3.5;
  const auto width_of = [&t](double w) {
    ks::Trace x = t;
    x.width = w;
    return x;
  };
  {
    const json d =
        run_json({"--structure", "microstrip", "--h", "0.2", "--er", "4.3", "--t", "0.035",
                  "--mask-over-trace", "0.02", "--mask-er", "3.5", "--z0", "50"});
    const double w = d["summary"]["w_mm"];
    EXPECT_NEAR(ks::line(ks::solve(ks::microstrip(fr4, width_of(w), mask))).z0, 50.0, 0.05);
  }
  {
    const json d = run_json({"--structure", "stripline-pair", "--h", "0.2", "--er", "4.3", "--t",
                             "0.035", "--w", "0.12", "--zdiff", "90"});
    const double s = d["summary"]["s_mm"];
    EXPECT_EQ(d["summary"]["w_mm"].get<double>(), 0.12);
    const ks::PairFigures p =
        ks::pair(ks::solve(ks::stripline_pair(0.435, 4.3, width_of(0.12), s)));
    EXPECT_NEAR(p.zdiff, 90.0, 0.05);
  }
  {
    const json d =
        run_json({"--structure", "offset-stripline-pair", "--h", "0.2", "--er", "4.3", "--h-above",
                  "0.15", "--er-above", "3.9", "--t", "0.035", "--s", "0.2", "--zdiff", "100"});
    const double w = d["summary"]["w_mm"];
    const ks::PairFigures p =
        ks::pair(ks::solve(ks::offset_stripline_pair(fr4, prepreg, width_of(w), 0.2)));
    EXPECT_NEAR(p.zdiff, 100.0, 0.05);
  }
  {
    const json d = run_json({"--structure", "gcpw-pair", "--h", "0.2", "--er", "4.3", "--t",
                             "0.035", "--ground-gap", "0.2", "--pitch", "0.4", "--zdiff", "85"});
    const double w = d["summary"]["w_mm"], s = d["summary"]["s_mm"];
    EXPECT_NEAR(w + s, 0.4, 1e-12);
    const ks::PairFigures p = ks::pair(ks::solve(ks::gcpw_pair(fr4, width_of(w), s, 0.2)));
    EXPECT_NEAR(p.zdiff, 85.0, 0.05);
  }
  {
    const json d = run_json({"--structure", "embedded-microstrip-pair", "--h", "0.2", "--er", "4.3",
                             "--h-above", "0.15", "--er-above", "3.9", "--t", "0.035", "--zdiff",
                             "90", "--zcomm", "30"});
    const double w = d["summary"]["w_mm"], s = d["summary"]["s_mm"];
    const ks::PairFigures p =
        ks::pair(ks::solve(ks::embedded_microstrip_pair(fr4, prepreg, width_of(w), s)));
    EXPECT_NEAR(p.zdiff, 90.0, 0.05);
    EXPECT_NEAR(p.zcomm, 30.0, 0.05);
  }
}

// A strip between two aggressors in one dielectric: each aggressor's
// backward coefficient is half of (Zoe - Zoo) / (Zoe + Zoo) of the two strips
// as a pair (forward crosstalk is 0), with Cohn's exact zero-thickness
// coupled stripline: Zoe,o = 30 pi / sqrt(er) K(k') / K(k),
// ke = tanh(pi w / 2b) tanh(pi (w + s) / 2b), ko = tanh(pi w / 2b) coth(...).
// The far aggressor screens a little: one side alone is the exact case.
TEST(Line, CrosstalkMatchesCohnsCoupledStripline) {
  const double b = 1.0, w = 0.4, s = 0.25, er = 3.0;
  const double pi = 3.141592653589793;
  const kx::test::Modal k = kx::test::cohn_moduli(w, s, b);
  const auto z = [&](double m) {
    return 30.0 * pi / std::sqrt(er) * kx::test::elliptic_k_prime(m) / kx::test::elliptic_k(m);
  };
  const double kb = 0.5 * (z(k.e) - z(k.o)) / (z(k.e) + z(k.o));
  const std::vector<std::string> line{"--structure", "stripline", "--h",         "0.5",
                                      "--er",        "3",         "--t",         "0",
                                      "--w",         "0.4",       "--neighbour", "0.25"};
  const json one = run_json(line);
  const json x = row(one, "crosstalk");
  EXPECT_NEAR(x["kb"].get<double>(), kb, 2e-4 * kb);
  EXPECT_LT(std::abs(x["kf"].get<double>()), 1e-9);
  std::vector<std::string> both = line;
  both.push_back("--both-sides");
  const json two = run_json(both);
  std::vector<double> kbs;
  for (const json& r : two["rows"])
    if (r["kind"] == "crosstalk") kbs.push_back(r["kb"]);
  ASSERT_EQ(kbs.size(), 2u);
  EXPECT_NEAR(kbs[0], kbs[1], 1e-6 * kbs[0]);  // mirror images
  EXPECT_LT(kbs[0], kb);                       // the other aggressor screens
}

// --check: the program's closed forms of the open microstrip beside the
// solver. Hammerstad and Jensen's single line is within 0.2 % of the field
// for a strip of zero thickness; the pair's closed forms are flagged where
// they are more than 1 % off.
TEST(Line, ClosedFormsBesideTheSolver) {
  const json single = run_json({"--structure", "microstrip", "--h", "0.5", "--er", "3.66", "--w",
                                "1.1", "--t", "0", "--check"});
  int rows = 0;
  for (const json& r : single["rows"]) {
    if (r["kind"] != "closed") continue;
    ++rows;
    EXPECT_LT(std::abs(r["difference_pct"].get<double>()), 0.2) << r["quantity"];
  }
  EXPECT_EQ(rows, 2);
  EXPECT_EQ(single["summary"]["closed_form_off"], false);
  const json pair = run_json({"--structure", "microstrip-pair", "--h", "0.2", "--er", "4.3", "--w",
                              "0.25", "--s", "0.2", "--t", "0.035", "--check"});
  EXPECT_EQ(pair["summary"]["closed_form_off"], true);
  const Result none = run(
      {"--structure", "stripline", "--h", "0.5", "--er", "3", "--w", "0.4", "--t", "0", "--check"});
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("closed forms for the open microstrip"), std::string::npos);
}

// A uniform tolerance of the width alone: Z0 falls as the width grows, so
// the samples with Z0 above Z0(w + X/2) are those with a width below
// w + X/2: three quarters of them.
TEST(Line, ToleranceYieldFollowsItsDistribution) {
  const std::vector<std::string> strip{"--structure", "stripline", "--h", "0.3", "--er",
                                       "4",           "--t",       "0",   "--w", "0.3"};
  std::vector<std::string> edge = strip;
  edge[9] = "0.315";  // w + X/2 for X = 0.03
  const double z_edge = row(run_json(edge), "line")["z0_ohm"];
  std::vector<std::string> tol = strip;
  tol.insert(tol.end(), {"--tol-w", "0.03", "--dist", "uniform", "--samples", "400", "--threads",
                         "2", "--limit", "z0=" + std::to_string(z_edge) + ":"});
  const json d = run_json(tol);
  const json& z0 = d["rows"][0];
  EXPECT_EQ(z0["figure"], "z0");
  EXPECT_EQ(z0["share_w_pct"].get<double>(), 100.0);
  const json lim = d["rows"][3];
  ASSERT_EQ(lim["kind"], "limit");
  EXPECT_EQ(lim["count"], 400);
  EXPECT_LE(lim["ci95_low_pct"].get<double>(), 75.0);
  EXPECT_GE(lim["ci95_high_pct"].get<double>(), 75.0);
}

TEST(Line, BadCommandLinesNameTheOptionAndFailedRunsSaySo) {
  const std::vector<std::string> strip{"--structure", "stripline", "--h", "0.2",     "--er",
                                       "4",           "--t",       "0",   "--units", "mm"};
  const auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> a = strip;
    a.insert(a.end(), more.begin(), more.end());
    return a;
  };
  const struct {
    std::vector<std::string> args;
    int status;
    const char* says;
  } cases[] = {
      {{"--h", "0.2"}, 2, "--structure NAME"},
      {{"--structure", "coax", "--h", "1"}, 2, "'coax' is not a structure"},
      {with({}), 2, "missing --w"},
      {with({"--w", "0.1", "--h-above", "0.1"}), 2, "--h-above: not an option of the stripline"},
      {with({"--w", "0.1", "--s", "0.1"}), 2, "--s: the gap of a pair"},
      {with({"--w", "0.1", "--zdiff", "90"}), 2, "--zdiff: a pair's"},
      {with({"--pair", "--zdiff", "90"}), 2, "--zdiff: give --w"},
      {with({"--w", "-0.1"}), 2, "--w: must be above 0"},
      {with({"--w", "0.1", "--tol-etch", "5%"}), 2, "--tol-etch: give the etch offset as a length"},
      {with({"--w", "0.1", "--tol-w", "0.01", "--limit", "zdiff=1:2"}), 2,
       "unknown figure 'zdiff'"},
      {with({"--w", "0.1", "--samples", "10"}), 2, "--samples: a tolerance run's option"},
      {{"--stackup", "/nonexistent/board.json"}, 2, "--stackup: cannot read"},
      {{"--kicad", kBoard, "--layer", "In7.Cu", "--w", "0.1"},
       2,
       "no copper layer named \"In7.Cu\""},
      {with({"--z0", "900"}), 1, "Z0 900 ohm cannot be met"},
  };
  for (const auto& c : cases) {
    const Result r = run(c.args);
    SCOPED_TRACE(c.says);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line";
    EXPECT_TRUE(r.out.empty());
  }
}

// A stackup file's conductors: the pair, and a third signal as the
// aggressor; a bad entry is named.
TEST(Line, StackupFilesPairAndAggressorOrTheBadEntry) {
  const std::string path = testing::TempDir() + "kx_line_stackup.json";
  const auto write = [&path](const char* text) {
    std::ofstream f(path);
    f << text;
  };
  write(R"({"unit": "mil", "layers": [{"thickness": 4, "er": 4.2}, {"thickness": 5.4, "er": 3.9}],
            "top_plane": true, "conductors": [
              {"interface": 1, "centre": -4, "width": 4, "thickness": 1.4},
              {"interface": 1, "centre": 4, "width": 4, "thickness": 1.4},
              {"interface": 1, "centre": 14, "width": 4, "thickness": 1.4}]})");
  const json d = run_json({"--stackup", path, "--pair"});
  const json x = row(d, "crosstalk");
  EXPECT_EQ(x["victim"], "pair");
  EXPECT_EQ(x["index"], 2);
  EXPECT_NEAR(x["gap_mm"].get<double>(), 6 * 0.0254, 1e-12);  // mil converted to --units mm
  EXPECT_NEAR(d["summary"]["s_mm"].get<double>(), 4 * 0.0254, 1e-12);
  write(R"({"unit": "mm", "layers": [{"thickness": 0.2, "er": 0.4}]})");
  const Result r = run({"--stackup", path, "--interface", "1", "--w", "0.1", "--t", "0"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("layers[0].er"), std::string::npos) << r.err;
  std::remove(path.c_str());
}

}  // namespace
