// The solver's fast path: its table against fresh direct solutions (the
// table and the solver cannot drift apart), its values against the direct
// solution over random sections and the corners of its range, its error
// estimate against outside figures, its fallbacks, and its smoothness.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "kestrelix/field.h"
#include "models/field/fast.h"
#include "models/field/spline.h"

namespace kx::field {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kEps0 = 8.8541878128e-12;

double rel(double value, double reference) { return std::abs(value / reference - 1.0); }

Settings fast() {
  Settings s;
  s.method = Method::fast;
  return s;
}

// The i-th of a run of random bare sections of the stated range: Er, W/H
// and S/H (log-uniform), T/H (zero one in four), the cover (open one in five).
Geometry random_geometry(std::mt19937_64& rng, int i) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Geometry g;
  g.h = 1.0;
  g.er = 1.0 + 19.0 * u(rng);
  g.w = 0.1 * std::pow(100.0, u(rng));
  g.s = 0.02 * std::pow(500.0, u(rng));
  g.t = i % 4 == 0 ? 0.0 : std::max(kFastMinT, 0.3 * u(rng));
  g.h2 = i % 5 == 0 ? kInf : 1.0 / u(rng);
  return g;
}

// The fast path's Zoe, Zoo, eff_e and eff_o within 0.1 % of the direct
// solution's, each with an error estimate above the difference.
void expect_within_a_tenth_of_a_percent(const Result& f, const Result& d) {
  const double values[4][2] = {
      {f.zoe, d.zoe}, {f.zoo, d.zoo}, {f.eff_e, d.eff_e}, {f.eff_o, d.eff_o}};
  const double estimates[4] = {f.error_zoe, f.error_zoo, f.error_eff_e, f.error_eff_o};
  for (int q = 0; q < 4; ++q) {
    EXPECT_LT(rel(values[q][0], values[q][1]), 1e-3) << "quantity " << q;
    EXPECT_GT(estimates[q], rel(values[q][0], values[q][1])) << "quantity " << q;
  }
}

Geometry geometry(const Section& sec) {
  return {sec.er, 1.0, sec.w, sec.s, sec.t, sec.h2, sec.coat, sec.er_coat};
}

// Random nodes of each table solved again: the spline through the nodes
// gives back the direct solution there (ln cae, ln cao; 2 eff / (Er + 1);
// the coated tables' r = ln(q_coated / q_bare) within half a step of their
// 16-bit codes), and the node holds the solver's error estimates (the
// coated tables' the largest over Erc).
TEST(FastPath, TableNodesAreTheDirectSolutions) {
  const Tables& tables = fast_tables();
  ASSERT_EQ(tables.tables.size(), 4u);
  std::mt19937_64 rng(2024);
  for (const Table& t : tables.tables) {
    const bool coated = t.axes.size() == 7;
    for (int k = 0; k < 3; ++k) {
      Section sec{1.0, 1.0, 1.0, 0.0, kInf, 0.0, 1.0};
      std::size_t node = 0;
      std::vector<int> index;
      for (std::size_t a = 0; a < t.axes.size(); ++a) {
        std::uniform_int_distribution<int> pick(0, t.axes[a].nodes - 1);
        index.push_back(pick(rng));
        if (a + static_cast<std::size_t>(t.folded) < t.axes.size())
          node = node * static_cast<std::size_t>(t.axes[a].nodes) +
                 static_cast<std::size_t>(index.back());
      }
      for (std::size_t a = t.axes.size(); a-- > 0;) {  // a gap set after its coating
        const Axis& ax = t.axes[a];
        set_variable(ax.variable, ax.lo + (ax.hi - ax.lo) * index[a] / (ax.nodes - 1), sec);
      }
      const Result r = solve(geometry(sec));
      double got[2];
      ASSERT_TRUE(table_components(t, sec, got));
      const bool air = t.axes.size() == 4;
      double want[2] = {air ? std::log(r.cae / kEps0) : 2.0 * r.eff_e / (sec.er + 1.0),
                        air ? std::log(r.cao / kEps0) : 2.0 * r.eff_o / (sec.er + 1.0)};
      double allowed = 2e-6;
      if (coated) {
        Section bare = sec;
        bare.coat = 0.0;
        bare.er_coat = 1.0;
        const Result b = solve(geometry(bare));
        want[0] = std::log(want[0] / (2.0 * b.eff_e / (sec.er + 1.0)));
        want[1] = std::log(want[1] / (2.0 * b.eff_o / (sec.er + 1.0)));
        allowed += 0.5 * std::max(t.step[0], t.step[1]);
      }
      EXPECT_NEAR(got[0], want[0], allowed) << "w " << sec.w << " s " << sec.s << " t " << sec.t;
      EXPECT_NEAR(got[1], want[1], allowed) << "w " << sec.w << " s " << sec.s << " t " << sec.t;
      // And the node's error estimates are the solver's (an estimate
      // changed without a new table leaves the fast path's stale).
      const double e[4] = {r.error_zoe, r.error_zoo, r.error_eff_e, r.error_eff_o};
      for (std::size_t q = 0; q < 4; ++q) {
        if (coated)
          EXPECT_GE(t.estimates[4 * node + q], code_estimate(e[q])) << "estimate " << q;
        else
          EXPECT_EQ(t.estimates[4 * node + q], code_estimate(e[q])) << "estimate " << q;
      }
    }
  }
}

// Fresh random sections of the stated range and its corners and edges:
// within 0.1 % of the direct solution in Zoe, Zoo and both effective
// permittivities, with an error estimate above the difference.
TEST(FastPath, WithinATenthOfAPercentOfTheDirectSolution) {
  std::vector<Geometry> sections = {
      // er, h, w, s, t, h2, coat, er_coat: the range's corners and edges
      {20.0, 1.0, 0.1, 0.02, 0.3, 1.0, 0.0, 1.0},  {20.0, 1.0, 10.0, 10.0, 0.0, kInf, 0.0, 1.0},
      {1.0, 1.0, 10.0, 0.02, 0.3, 1.0, 0.0, 1.0},  {1.0, 1.0, 0.1, 10.0, 0.0, kInf, 0.0, 1.0},
      {12.9, 1.0, 10.0, 0.02, 0.0, 1.0, 0.0, 1.0}, {4.4, 1.0, 0.1, 0.02, 0.002, kInf, 0.0, 1.0},
      {9.8, 1.0, 3.0, 10.0, 0.3, 1.0, 0.0, 1.0},   {2.2, 1.0, 0.3, 0.02, 0.3, kInf, 0.0, 1.0},
  };
  std::mt19937_64 rng(7);
  for (int i = 0; i < 24; ++i) sections.push_back(random_geometry(rng, i));
  for (const Geometry& g : sections) {
    SCOPED_TRACE("er " + std::to_string(g.er) + " w " + std::to_string(g.w) + " s " +
                 std::to_string(g.s) + " t " + std::to_string(g.t) + " h2 " + std::to_string(g.h2));
    ASSERT_TRUE(fast_covers(g));
    const Result f = solve(g, fast());
    const Result d = solve(g);
    EXPECT_EQ(f.method, Method::fast);
    EXPECT_EQ(d.method, Method::direct);
    expect_within_a_tenth_of_a_percent(f, d);
  }
}

// The rows of a CSV file below its header, as text.
std::vector<std::vector<std::string>> csv_rows(const std::string& file) {
  std::ifstream in(std::string(KX_TEST_DATA_DIR) + "/field/" + file);
  EXPECT_TRUE(in) << file;
  std::vector<std::vector<std::string>> rows;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::vector<std::string> row;
    std::string field;
    while (std::getline(fields, field, ',')) row.push_back(field);
    rows.push_back(row);
  }
  return rows;
}

// Fields first .. first + n - 1 of a row as numbers.
std::vector<double> numbers(const std::vector<std::string>& row, std::size_t first, std::size_t n) {
  std::vector<double> v;
  for (std::size_t k = first; k < first + n && k < row.size(); ++k) v.push_back(std::stod(row[k]));
  return v;
}

// The converged reference rows without a coating and Cohn's exact coupled
// stripline in air: the fast path's error estimate bounds its true error.
TEST(FastPath, ErrorEstimateBoundsTheErrorAgainstOutsideFigures) {
  int rows = 0;
  for (const auto& text : csv_rows("field_rows.csv")) {
    // er, w_h, s_h, t_h, h2_h, coat_h, er_coat, zoe, zoo, eff_e, eff_o
    const std::vector<double> row = numbers(text, 1, 11);
    ASSERT_EQ(row.size(), 11u);
    const Geometry g{row[0], 1.0, row[1], row[2], row[3], row[4], row[5], row[6]};
    if (!fast_covers(g)) continue;
    ++rows;
    const Result r = solve(g, fast());
    SCOPED_TRACE("row with er " + std::to_string(g.er) + " w/h " + std::to_string(g.w));
    EXPECT_GT(r.error_zoe, rel(r.zoe, row[7]));
    EXPECT_GT(r.error_zoo, rel(r.zoo, row[8]));
    EXPECT_GT(r.error_eff_e, rel(r.eff_e, row[9]));
    EXPECT_GT(r.error_eff_o, rel(r.eff_o, row[10]));
  }
  EXPECT_GE(rows, 8);
  // A cover between H and 2 H: the symmetric stripline of structure_rows.csv
  // (strips of 0.102 H between planes 2.102 H apart in one dielectric: a
  // coating filling the room up to the cover), directly; in air (both
  // impedances sqrt(Er) higher) on the fast path.
  int striplines = 0;
  for (const auto& text : csv_rows("structure_rows.csv")) {
    if (text.size() < 14 || text[1] != "stripline" || text[2] != "2") continue;
    const double er = std::stod(text[3]);
    // w_h, s_h, t_h, b_h, then (after hp, hc, g) zoe, zoo
    const std::vector<double> dim = numbers(text, 5, 4);
    const std::vector<double> z = numbers(text, 12, 2);
    const double h2 = dim[3] - 1.0;  // the cover above the substrate
    const Result direct = solve({er, 1.0, dim[0], dim[1], dim[2], h2, h2, er});
    EXPECT_LT(rel(direct.zoe, z[0]), 3e-3);
    EXPECT_GT(direct.error_zoe, rel(direct.zoe, z[0]));
    EXPECT_GT(direct.error_zoo, rel(direct.zoo, z[1]));
    const Result air = solve({1.0, 1.0, dim[0], dim[1], dim[2], h2, 0.0, 1.0}, fast());
    EXPECT_EQ(air.method, Method::fast);
    EXPECT_GT(air.error_zoe, rel(air.zoe, z[0] * std::sqrt(er)));
    EXPECT_GT(air.error_zoo, rel(air.zoo, z[1] * std::sqrt(er)));
    ++striplines;
  }
  EXPECT_EQ(striplines, 1);
  // W/b 0.5, S/b 0.1 and W/b 2, S/b 0.02 between plates b = 2 H apart (H2 = H).
  const double stripline[2][4] = {{0.5, 0.1, 122.885665, 69.866091},
                                  {2.0, 0.02, 42.225279, 28.265447}};
  for (const auto& c : stripline) {
    const Result r = solve({1.0, 1.0, 2.0 * c[0], 2.0 * c[1], 0.0, 1.0, 0.0, 1.0}, fast());
    EXPECT_EQ(r.method, Method::fast);
    EXPECT_GT(r.error_zoe, rel(r.zoe, c[2]));
    EXPECT_GT(r.error_zoo, rel(r.zoo, c[3]));
  }
}

// Random coated sections (C/H 0.001 to 0.3 log-uniform, Erc 1 to 5): the
// coated tables cover most, within 0.1 % of the direct solution with an
// error estimate above the difference.
TEST(FastPath, CoatedSectionsWithinATenthOfAPercentOfTheDirectSolution) {
  std::mt19937_64 rng(31);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  int covered = 0;
  for (int i = 0; i < 16; ++i) {
    Geometry g = random_geometry(rng, i);
    g.coat = 0.001 * std::pow(300.0, u(rng));
    g.er_coat = 1.0 + 4.0 * u(rng);
    SCOPED_TRACE("er " + std::to_string(g.er) + " w " + std::to_string(g.w) + " s " +
                 std::to_string(g.s) + " t " + std::to_string(g.t) + " h2 " + std::to_string(g.h2) +
                 " c " + std::to_string(g.coat) + " erc " + std::to_string(g.er_coat));
    const Result f = solve(g, fast());
    if (f.method != Method::fast) continue;
    ++covered;
    const Result d = solve(g);
    expect_within_a_tenth_of_a_percent(f, d);
  }
  EXPECT_GE(covered, 8);  // about three in four (regions whose bound passes 0.1 % go direct)
}

// Outside its tables the fast path solves directly and says so: a coating
// thicker than 0.3 H, strips wider than 10 H, thinner than kFastMinT (but not zero), Er above
// 20, a cover below H; the fine setting is always direct.
TEST(FastPath, FallsBackToTheDirectSolutionOutsideItsTables) {
  const Geometry inside{4.4, 1.0, 1.0, 0.2, 0.035, 3.0, 0.0, 1.0};
  EXPECT_TRUE(fast_covers(inside));
  EXPECT_EQ(solve(inside, fast()).method, Method::fast);
  std::vector<Geometry> outside(5, inside);
  outside[0].coat = 0.4;  // thicker than the coated tables
  outside[0].er_coat = 3.5;
  outside[1].w = 12.0;
  outside[2].t = 0.5 * kFastMinT;
  outside[3].er = 25.0;
  outside[4].h2 = 0.8;
  for (const Geometry& g : outside) {
    EXPECT_FALSE(fast_covers(g));
    const Result r = solve(g, fast());
    EXPECT_EQ(r.method, Method::direct);
    EXPECT_EQ(r.zoe, solve(g).zoe);
  }
  Settings fine = fast();
  fine.accuracy = Accuracy::fine;
  EXPECT_EQ(solve(inside, fine).method, Method::direct);
}

// Smooth in every input: forward differences at 0.1 % steps agree with
// those at 1 % within 1 % of the sensitivity (the direct solution's mesh
// makes jumps that 0.1 % steps would show).
TEST(FastPath, SensitivitiesAtTenthPercentStepsAgreeWithOnePercentSteps) {
  const Geometry sections[] = {
      {4.4, 1.0, 1.8, 0.3, 0.035, kInf, 0.0, 1.0},
      {9.8, 1.0, 0.5, 0.05, 0.05, 1.3, 0.0, 1.0},
      {3.66, 1.0, 0.25, 1.4, 0.2, 6.0, 0.0, 1.0},
      {4.4, 1.0, 1.8, 0.3, 0.035, kInf, 0.02, 3.5},  // under a solder mask
  };
  for (const Geometry& g : sections) {
    const Result r0 = solve(g, fast());
    for (double Geometry::*x : {&Geometry::er, &Geometry::w, &Geometry::s, &Geometry::t,
                                &Geometry::h2, &Geometry::coat, &Geometry::er_coat}) {
      if (g.coat == 0.0 && (x == &Geometry::coat || x == &Geometry::er_coat)) continue;
      double sens[2][2];  // [step][zoe, zoo]
      const double steps[2] = {1e-3, 1e-2};
      for (int k = 0; k < 2; ++k) {
        Geometry p = g;
        p.*x *= 1.0 + steps[k];
        const Result r = solve(p, fast());
        ASSERT_EQ(r.method, Method::fast);
        sens[k][0] = (r.zoe / r0.zoe - 1.0) / steps[k];
        sens[k][1] = (r.zoo / r0.zoo - 1.0) / steps[k];
      }
      for (int q = 0; q < 2; ++q)
        EXPECT_NEAR(sens[0][q], sens[1][q], 0.01 * std::abs(sens[1][q]) + 1e-4)
            << "er " << g.er << " w " << g.w << " quantity " << q;
    }
  }
}

// A coated table holds its splines as 16-bit coefficients of the knot
// basis: on a function cubic along every axis (which the not-a-knot spline
// reproduces) the table gives the function back between the nodes within
// the codes' rounding, at the grid's ends too.
TEST(FastPath, KnotTablesReproduceCubicsBetweenTheNodes) {
  Table t;
  const int nodes[7] = {5, 6, 4, 5, 4, 7, 4};
  for (int n : nodes) t.axes.push_back(Axis{Variable::log_w, n, 0.0, 1.0});
  t.components = 2;
  t.storage = Storage::knots_int16;
  t.folded = 1;
  t.bounds = {1e-4, 1e-4};
  const auto f = [](const double* x, int q) {
    double v = 0.1 * q;
    for (int k = 0; k < 7; ++k) v += 0.01 * (k + 1) * x[k] * x[k] * x[k] / (k + 3);
    return v + 0.02 * x[0] * x[5] * x[6] - 0.01 * (q + 1) * x[1] * x[1] * x[3];
  };
  Grid grid;
  grid.nodes.assign(std::begin(nodes), std::end(nodes));
  grid.components = 2;
  std::vector<double> values(grid.size());
  for (std::size_t i = 0; i < values.size() / 2; ++i) {
    double x[7];
    std::size_t rest = i;
    for (int k = 6; k >= 0; --k) {
      x[k] = static_cast<double>(rest % static_cast<std::size_t>(nodes[k]));
      rest /= static_cast<std::size_t>(nodes[k]);
    }
    for (int q = 0; q < 2; ++q) values[2 * i + static_cast<std::size_t>(q)] = f(x, q);
  }
  const std::vector<double> c = knot_spline_coefficients(grid, values);
  const auto [lo, hi] = std::minmax_element(c.begin(), c.end());
  t.offset = {0.5 * (*lo + *hi), 0.5 * (*lo + *hi)};
  t.step = {(*hi - *lo) / 65534.0, (*hi - *lo) / 65534.0};
  for (double v : c)
    t.codes.push_back(static_cast<std::int16_t>(std::lround((v - t.offset[0]) / t.step[0])));
  t.estimates.assign(t.estimate_count(), code_estimate(1e-5));
  const std::string bytes = write_tables(Tables{{t}});  // and the file's round trip
  const Tables read =
      read_tables(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int i = 0; i < 40; ++i) {
    double x[7];
    for (int k = 0; k < 7; ++k) x[k] = i < 2 ? i * (nodes[k] - 1) : u(rng) * (nodes[k] - 1);
    // The section whose ln W is each coordinate's value on its axis: all
    // seven axes read ln W, so set each axis's own range instead.
    Table at = read.tables[0];
    Section sec{1.0, std::exp(0.5), 1.0, 0.0, kInf, 0.0, 1.0};
    for (int k = 0; k < 7; ++k) {
      at.axes[static_cast<std::size_t>(k)].lo = 0.5 - x[k] / (nodes[k] - 1);
      at.axes[static_cast<std::size_t>(k)].hi = at.axes[static_cast<std::size_t>(k)].lo + 1.0;
    }
    double got[2];
    ASSERT_TRUE(table_components(at, sec, got));
    for (int q = 0; q < 2; ++q) EXPECT_NEAR(got[q], f(x, q), 1.5 * t.step[0]) << "point " << i;
  }
}

// The coated tables' chain: a coated section takes q from the bare table at
// its S times exp(r), r from the open-gap table where the coating leaves a
// gap and from the filled-gap table where it fills it (never across the odd
// capacitance's kink at S = 2C); the coordinates give back the section. A
// flat r = ln 1.1 in the open-gap table makes q 1.1 times the bare one; a
// filled gap without its table is not covered; a region whose bound passes
// the fast path's promise is left to the direct solution.
TEST(FastPath, CoatedSectionsTakeTheBareTableTimesTheCoatedRatio) {
  Tables tables;
  tables.tables.assign(fast_tables().tables.begin(), fast_tables().tables.begin() + 2);
  Table open;
  const auto axis = [](Variable v, double lo, double hi) { return Axis{v, 4, lo, hi}; };
  open.axes = {axis(Variable::log_w, std::log(0.1), std::log(10.0)),
               axis(Variable::log_gap, std::log(2e-3), std::log(10.0)),
               axis(Variable::cbrt_t, 0.0, 1.0),
               axis(Variable::sqrt_u, 0.0, 1.0),
               axis(Variable::log_er, 0.0, std::log(20.0)),
               axis(Variable::log_coat, std::log(1e-3), std::log(0.3)),
               axis(Variable::log_er_coat, 0.0, std::log(5.0))};
  open.components = 2;
  open.storage = Storage::knots_int16;
  open.folded = 1;
  open.regions = {{0, 2}};  // narrow strips, wide strips
  open.bounds = {2e-4, 3e-4, 2e-4, 2e-3};
  open.offset = {std::log(1.1), std::log(1.1)};
  open.step = {1e-6, 1e-6};
  open.codes.assign(open.coefficient_count(), 0);
  open.estimates.assign(open.estimate_count(), code_estimate(1e-4));
  tables.tables.push_back(open);

  const Section sec{4.4, 0.3, 0.035, 0.05, 3.0, 0.01, 3.5};
  double x[8];
  ASSERT_TRUE(grid_coordinates(open, sec, x));
  Section back{1.0, 1.0, 1.0, 0.0, kInf, 0.0, 1.0};
  for (std::size_t k = open.axes.size(); k-- > 0;) {
    const Axis& a = open.axes[k];
    set_variable(a.variable, a.lo + (a.hi - a.lo) * x[k] / (a.nodes - 1), back);
  }
  for (double v : {back.er - sec.er, back.w - sec.w, back.s - sec.s, back.t - sec.t,
                   back.h2 - sec.h2, back.coat - sec.coat, back.er_coat - sec.er_coat})
    EXPECT_NEAR(v, 0.0, 1e-12);

  FastValues coated, bare;
  Section uncoated = sec;
  uncoated.coat = 0.0;
  uncoated.er_coat = 1.0;
  ASSERT_TRUE(fast_values(tables, sec, coated));
  ASSERT_TRUE(fast_values(tables, uncoated, bare));
  EXPECT_EQ(coated.c.even_air, bare.c.even_air);
  EXPECT_NEAR(coated.c.even / bare.c.even, 1.1, 1e-6);
  EXPECT_NEAR(coated.c.odd / bare.c.odd, 1.1, 1e-6);
  EXPECT_GT(coated.error[3], 3e-4 + 1e-4);  // the table's bound and the nodes' estimate
  Section wide = sec;
  wide.w = 5.0;  // the region whose odd bound passes 0.1 %
  EXPECT_FALSE(fast_values(tables, wide, coated));

  Section filled = sec;
  filled.coat = 0.03;
  filled.s = 0.05;  // below 2C: the gap is filled
  EXPECT_TRUE(std::isnan(variable_of(Variable::log_gap, filled)));
  EXPECT_FALSE(fast_values(tables, filled, coated));
  set_variable(Variable::fill, variable_of(Variable::fill, filled), filled);
  EXPECT_NEAR(filled.s, 0.05, 1e-12);
  EXPECT_TRUE(std::isnan(variable_of(Variable::fill, sec)));
}

}  // namespace
}  // namespace kx::field
