// The general cross-section solver against figures from outside: the exact
// zero-thickness stripline (coupled and single) and coplanar waveguide
// between two planes (conformal mapping), the converged rows of other board
// structures from an independent solver (tests/field/structure_rows.csv), and
// the pair solver on its own cross-sections; then the exact identities a
// solution must keep (each region's share summing to C, no forward crosstalk
// in one dielectric, the mirror and the full section agreeing, floating metal
// between none and grounded).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kestrelix/field.h"
#include "kestrelix/stack_solver.h"
#include "tests/support/exact.h"

namespace kx::stack {
namespace {

constexpr double kEta0 = 376.730313;  // ohm: 1 / (eps0 c0)

double rel(double value, double reference) { return std::abs(value / reference - 1.0); }

using test::elliptic_k;
using test::elliptic_k_prime;

// Rows of a comma-separated table after the line holding `header`; fields
// kept as text.
std::vector<std::vector<std::string>> rows_of(const std::string& file, const std::string& header) {
  std::ifstream in(std::string(KX_TEST_DATA_DIR) + "/field/" + file);
  EXPECT_TRUE(in) << file;
  std::vector<std::vector<std::string>> rows;
  std::string line;
  bool started = false;
  while (std::getline(in, line)) {
    if (!started) {
      started = line.find(header) != std::string::npos;
      continue;
    }
    std::vector<std::string> row;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, ',')) row.push_back(field);
    if (!line.empty() && line.back() == ',') row.push_back("");
    if (row.size() < 2) break;
    rows.push_back(row);
  }
  return rows;
}
double num(const std::string& s) { return s == "inf" ? kUnbounded : std::stod(s); }

TEST(StackSolver, ExactZeroThicknessStripline) {
  // Cohn's coupled stripline, b = 2: nine pairs in one dielectric.
  const auto rows = rows_of("coupled_stripline.md", "w_b,s_b,er,zoe_ohm,zoo_ohm");
  ASSERT_EQ(rows.size(), 9u);
  for (const auto& row : rows) {
    Trace t;
    t.width = 2.0 * num(row[0]);
    const double er = num(row[2]);
    const PairFigures p = pair(solve(stripline_pair(2.0, er, t, 2.0 * num(row[1]))));
    SCOPED_TRACE("w/b " + row[0] + " s/b " + row[1]);
    EXPECT_LT(rel(p.zoe, num(row[3])), 2e-4);
    EXPECT_LT(rel(p.zoo, num(row[4])), 2e-4);
    EXPECT_GE(p.error_zoe, rel(p.zoe, num(row[3])));
    EXPECT_GE(p.error_zoo, rel(p.zoo, num(row[4])));
    EXPECT_LT(rel(p.eff_e, er), 1e-12);
    EXPECT_LT(rel(p.eff_o, er), 1e-12);
  }
  // The modes of a symmetric pair are the even and the odd one.
  Trace offset;
  offset.width = 0.6;
  offset.thickness = 0.05;
  const Solution s =
      solve(offset_stripline_pair({1.0, 4.3, 0.0, ""}, {0.8, 3.6, 0.0, ""}, offset, 0.3));
  const PairFigures p = pair(s);
  ASSERT_EQ(s.modes.size(), 2u);
  for (const Mode& m : s.modes) {
    const bool even = m.voltage[0] * m.voltage[1] > 0.0;
    EXPECT_NEAR(std::abs(m.voltage[0]), std::abs(m.voltage[1]), 1e-9);
    EXPECT_NEAR(m.impedance, even ? p.zoe : p.zoo, 1e-9 * p.zoe);
    EXPECT_NEAR(m.eff, even ? p.eff_e : p.eff_o, 1e-12);
  }
  // One strip: Z0 = eta0 / (4 sqrt(er)) K(k) / K(k'), k = sech(pi w / 2b).
  for (const double w_b : {0.05, 0.5, 1.0, 3.0}) {
    Trace t;
    t.width = 2.0 * w_b;
    const LineFigures l = line(solve(stripline(2.0, 2.2, t)));
    const double k = 1.0 / std::cosh(1.5707963267948966 * w_b);
    const double z0 = kEta0 / (4.0 * std::sqrt(2.2)) * elliptic_k(k) / elliptic_k_prime(k);
    SCOPED_TRACE("w/b " + std::to_string(w_b));
    EXPECT_LT(rel(l.z0, z0), 2e-4);
    EXPECT_GE(l.error_z0, rel(l.z0, z0));
  }
}

// Coplanar waveguide midway between two ground planes in one dielectric,
// its coplanar grounds unbounded: the plane of the strips is a plane of
// symmetry, so the two halves' conformal maps are exact:
//   Z0 = eta0 / (4 sqrt(er)) K(k') / K(k),
//   k = tanh(pi S / 4h) / tanh(pi (S + 2 W) / 4h),
// S the strip width, W the gaps, h the distance to each plane.
TEST(StackSolver, ExactCoplanarWaveguideBetweenTwoPlanes) {
  for (const auto& [s, w] : {std::pair{0.5, 0.2}, {1.0, 0.1}, {2.0, 1.0}, {0.1, 0.05}}) {
    Trace t;
    t.width = s;
    Stack st = stripline(2.0, 3.0, t);
    Conductor g;
    g.role = Role::ground;
    g.left = -kUnbounded;
    g.right = -0.5 * s - w;
    st.conductors.push_back(g);
    g.left = 0.5 * s + w;
    g.right = kUnbounded;
    st.conductors.push_back(g);
    const LineFigures l = line(solve(st));
    const double k = std::tanh(0.78539816339744831 * s) /
                     std::tanh(0.78539816339744831 * (s + 2 * w));
    const double z0 = kEta0 / (4.0 * std::sqrt(3.0)) * elliptic_k_prime(k) / elliptic_k(k);
    SCOPED_TRACE("S/h " + std::to_string(s) + " W/h " + std::to_string(w));
    EXPECT_LT(rel(l.z0, z0), 5e-4);
    EXPECT_GE(l.error_z0, rel(l.z0, z0));
  }
}

// Stripline, offset stripline, embedded microstrip and grounded coplanar
// waveguide, pairs and single lines: within 0.3 % at the default setting,
// the error estimate at least the true error.
TEST(StackSolver, ConvergedRowsOfOtherStructures) {
  const auto rows = rows_of("structure_rows.csv", "case,structure,lines");
  ASSERT_EQ(rows.size(), 8u);
  for (const auto& r : rows) {
    const std::string kind = r[1];
    const bool two = r[2] == "2";
    const double er1 = num(r[3]), w = num(r[5]), t = num(r[7]);
    const double s = two ? num(r[6]) : 0.0;
    Trace tr;
    tr.width = w;
    tr.thickness = t;
    const Layer core{1.0, er1, 0.0, ""};
    Stack st;
    if (kind == "stripline") {
      st = two ? stripline_pair(num(r[8]), er1, tr, s) : stripline(num(r[8]), er1, tr);
    } else if (kind == "offset_stripline") {
      const Layer above{num(r[9]), num(r[4]), 0.0, ""};
      st = two ? offset_stripline_pair(core, above, tr, s) : offset_stripline(core, above, tr);
    } else if (kind == "embedded_microstrip") {
      const Layer above{num(r[10]) - t, num(r[4]), 0.0, ""};
      st = two ? embedded_microstrip_pair(core, above, tr, s)
               : embedded_microstrip(core, above, tr);
    } else {
      ASSERT_EQ(kind, "gcpw");
      st = two ? gcpw_pair(core, tr, s, num(r[11])) : gcpw(core, tr, num(r[11]));
    }
    const Solution sol = solve(st);
    SCOPED_TRACE(r[0] + " " + kind);
    std::vector<std::pair<double, double>> checks;  // value / reference - 1, estimate
    if (two) {
      const PairFigures p = pair(sol);
      checks = {{p.zoe / num(r[12]) - 1, p.error_zoe},
                {p.zoo / num(r[13]) - 1, p.error_zoo},
                {p.eff_e / num(r[14]) - 1, p.error_eff_e},
                {p.eff_o / num(r[15]) - 1, p.error_eff_o}};
      // The Maxwell matrix gives the even-mode capacitance per line (pF/m).
      EXPECT_LT(rel((sol.c(0, 0) + sol.c(0, 1)) * 1e12, num(r[20])), 3e-3);
    } else {
      const LineFigures l = kx::stack::line(sol);
      checks = {{l.z0 / num(r[12]) - 1, l.error_z0}, {l.eff / num(r[14]) - 1, l.error_eff}};
      EXPECT_LT(rel(sol.c_vac(0, 0) * 1e12, num(r[22])), 3e-3);
    }
    for (const auto& [error, estimate] : checks) {
      EXPECT_LT(std::abs(error), 3e-3);
      EXPECT_GE(estimate, std::abs(error));
    }
  }
}

// The pair solver's cross-sections (covered, coated, open) through the
// general path: the same values within the general solver's estimate.
TEST(StackSolver, PairSolverCrossSectionsAgree) {
  std::vector<field::Geometry> cases;
  for (const auto& r : rows_of("field_rows.csv", "case,er,w_h")) {
    field::Geometry g;
    g.h = 1.0;
    g.er = num(r[1]);
    g.w = num(r[2]);
    g.s = num(r[3]);
    g.t = num(r[4]);
    g.h2 = num(r[5]);
    g.coat = num(r[6]);
    g.er_coat = num(r[7]);
    cases.push_back(g);
  }
  field::Geometry open_coated;
  open_coated.h = 1.0;
  open_coated.er = 4.4;
  open_coated.w = 0.5;
  open_coated.s = 0.2;
  open_coated.t = 0.05;
  open_coated.coat = 0.04;
  open_coated.er_coat = 3.5;
  cases.push_back(open_coated);
  ASSERT_EQ(cases.size(), 13u);
  for (const field::Geometry& g : cases) {
    Trace t;
    t.width = g.w;
    t.thickness = g.t;
    Stack st = microstrip_pair({g.h, g.er, 0.0, ""}, t, g.s);
    if (std::isfinite(g.h2)) {
      st.layers.push_back({g.h2, 1.0, 0.0, ""});
      st.top_plane = true;
    }
    if (g.coat > 0.0) {
      st.mask = {1, g.coat, g.coat, g.coat, g.er_coat, 0.0};
    }
    const PairFigures p = pair(solve(st));
    const field::Result old = field::solve(g);
    SCOPED_TRACE("er " + std::to_string(g.er) + " w " + std::to_string(g.w) + " coat " +
                 std::to_string(g.coat));
    EXPECT_LE(rel(p.zoe, old.zoe), p.error_zoe);
    EXPECT_LE(rel(p.zoo, old.zoo), p.error_zoo);
    EXPECT_LE(rel(p.eff_e, old.eff_e), p.error_eff_e);
    EXPECT_LE(rel(p.eff_o, old.eff_o), p.error_eff_o);
  }
}

// Each region's share: er_r dC/der_r sums to C; on zero-thickness strips (whose
// edge exponent does not depend on the permittivities) it is the derivative
// a re-solve with a perturbed Er gives.
TEST(StackSolver, RegionSharesSumToTheCapacitanceAndAreItsDerivatives) {
  Trace t;
  t.width = 0.8;
  Stack st = offset_stripline_pair({1.0, 4.3, 0.0, ""}, {0.8, 3.6, 0.0, ""}, t, 0.4);
  Conductor floating;  // reduced away: its shares too
  floating.role = Role::floating;
  floating.left = 1.2;
  floating.right = 1.8;
  st.conductors.push_back(floating);
  Settings with;
  with.filling = true;
  const Solution s = solve(st, with);
  ASSERT_EQ(s.filling.size(), 2u);
  const double step = 1e-4;
  Stack up = st, down = st;
  up.layers[0].er += step;
  down.layers[0].er -= step;
  const Solution su = solve(up), sd = solve(down);
  for (std::size_t i = 0; i < 2; ++i)
    for (std::size_t j = 0; j < 2; ++j) {
      EXPECT_NEAR(s.filling[0](i, j) + s.filling[1](i, j), s.c(i, j), 1e-12 * s.c(0, 0));
      const double derivative = 4.3 * (su.c(i, j) - sd.c(i, j)) / (2.0 * step);
      EXPECT_NEAR(s.filling[0](i, j), derivative, 1e-6 * s.c(0, 0));
    }
  // Two layers of one Er: each holds its part of the field energy.
  Trace thick = t;
  thick.thickness = 0.1;
  const Solution h = solve(stripline_pair(2.1, 4.0, thick, 0.4), with);
  ASSERT_EQ(h.filling.size(), 2u);
  EXPECT_GT(h.filling[0](0, 0), 0.3 * h.c(0, 0));
  EXPECT_GT(h.filling[1](0, 0), 0.3 * h.c(0, 0));
  EXPECT_NEAR(h.filling[0](0, 0) + h.filling[1](0, 0), h.c(0, 0), 1e-12 * h.c(0, 0));
}

// Three coated microstrips: the mirror-symmetric solution and the full one
// (the outer line moved by 1e-9) agree within the estimate; the charge on
// the panels adds up to the fine mesh's matrix; crosstalk is symmetric.
TEST(StackSolver, MirrorAndFullSectionAgree) {
  Trace t;
  t.width = 0.5;
  t.thickness = 0.035;
  t.top_width = 0.45;
  Mask m;
  m.over_trace = 0.02;
  m.on_substrate = 0.025;
  m.between = 0.03;
  m.er = 3.5;
  Stack st = microstrip({1.0, 4.2, 0.0, ""}, t, m);  // the middle line, then its neighbours
  for (const double dx : {-0.7, 0.7}) {
    Conductor c = st.conductors[0];
    c.left += dx;
    c.right += dx;
    st.conductors.push_back(c);
  }
  Settings set;
  set.surface = true;
  const Solution sym = solve(st, set);
  Stack shifted = st;
  shifted.conductors[2].left += 1e-9;
  shifted.conductors[2].right += 1e-9;
  const Solution full = solve(shifted);
  ASSERT_EQ(sym.c.n, 3u);
  EXPECT_LT(sym.panels, full.panels);  // the mirror meshes half
  for (std::size_t i = 0; i < 3; ++i)
    for (std::size_t j = 0; j < 3; ++j) {
      const double tol = sym.error_floor * sym.c(i, i);
      EXPECT_NEAR(sym.c(i, j), full.c(i, j), tol) << i << j;
      EXPECT_NEAR(sym.c_vac(i, j), full.c_vac(i, j), sym.error_floor * sym.c_vac(i, i));
      double q = 0.0;
      for (std::size_t p = 0; p < sym.surface.size(); ++p)
        if (sym.surface[p].conductor == sym.lines[i])
          q += sym.density[j][p] * sym.surface[p].length;
      // (the matrices are symmetrised: the collocation leaves them
      // asymmetric by some 1e-5)
      EXPECT_NEAR(q, sym.fine.c(i, j), 1e-4 * sym.c(i, i));
    }
  const Crosstalk left = crosstalk(sym, 0, 1), right = crosstalk(sym, 0, 2);
  EXPECT_NEAR(left.kb, right.kb, 1e-9);
  EXPECT_GT(left.kb, 0.0);
  EXPECT_GT(left.kf, 0.0);  // microstrip: inductive coupling dominates
}

// Narrow thick strips on Er 20 just under a cover: more refinement, more
// panels and a smaller estimate each time, and the estimate of each setting
// bounds its distance from the most refined solution.
TEST(StackSolver, RefinementRefinesAndTheEstimateBoundsTheError) {
  Trace t;
  t.width = 0.1;
  t.thickness = 0.3;
  Stack s = microstrip_pair({1.0, 20.0, 0.0, ""}, t, 0.02);
  s.layers.push_back({0.35, 1.0, 0.0, ""});
  s.top_plane = true;
  Settings best;
  best.accuracy = Accuracy::fine;
  best.refinement = 2.0;
  const PairFigures ref = pair(solve(s, best));
  std::size_t panels = 0;
  double estimate = 1.0;
  for (const double refinement : {1.0, 2.0, 4.0}) {
    Settings set;
    set.refinement = refinement;
    const Solution sol = solve(s, set);
    const PairFigures p = pair(sol);
    EXPECT_GT(sol.panels, panels);
    panels = sol.panels;
    const double e = std::max({p.error_zoe, p.error_zoo, p.error_eff_e, p.error_eff_o});
    EXPECT_LE(e, estimate);
    estimate = e;
    if (refinement == 1.0) {
      EXPECT_GE(p.error_zoe, rel(p.zoe, ref.zoe));
      EXPECT_GE(p.error_zoo, rel(p.zoo, ref.zoo));
      EXPECT_GE(p.error_eff_e, rel(p.eff_e, ref.eff_e));
      EXPECT_GE(p.error_eff_o, rel(p.eff_o, ref.eff_o));
    }
  }
}

// A line centred over a pair couples the same into both: no differential
// crosstalk; moved aside, some.
TEST(StackSolver, AggressorCentredOverAPairGivesNoDifferentialCrosstalk) {
  Trace t;
  t.width = 0.3;
  t.thickness = 0.04;
  Stack s = broadside_pair({0.6, 4.0, 0.0, ""}, {0.4, 3.7, 0.0, ""}, {0.6, 4.0, 0.0, ""}, t);
  const Conductor upper = s.conductors[1];
  s.conductors.pop_back();
  for (const double dx : {-0.25, 0.25}) {  // the pair on the lower interface
    Conductor c = s.conductors[0];
    c.left += dx;
    c.right += dx;
    s.conductors.push_back(c);
  }
  s.conductors.erase(s.conductors.begin());
  s.conductors.push_back(upper);  // the aggressor, line 2
  const Solution centred = solve(s);
  const Crosstalk x = pair_crosstalk(centred, 0, 1, 2);
  EXPECT_GT(crosstalk(centred, 0, 2).kb, 1e-3);
  EXPECT_LT(std::abs(x.kb), 1e-9);
  EXPECT_LT(std::abs(x.kf), 1e-9);
  s.conductors[2].left += 0.2;
  s.conductors[2].right += 0.2;
  EXPECT_GT(std::abs(pair_crosstalk(solve(s), 0, 1, 2).kb), 1e-4);
}

// The surface charge's square integrates on thick conductors (every panel's
// shape_square at least 1, finite) but not at a zero-thickness strip's edge.
TEST(StackSolver, SurfaceChargeSquareDivergesOnlyAtAThinStripsEdge) {
  Settings set;
  set.surface = true;
  for (const double thickness : {0.0, 0.05}) {
    Trace t;
    t.width = 0.5;
    t.thickness = thickness;
    const Solution s = solve(stripline(1.2, 4.0, t), set);
    int infinite = 0;
    for (const SurfacePanel& p : s.surface) {
      EXPECT_GE(p.shape_square, 1.0 - 1e-12);
      if (std::isinf(p.shape_square)) ++infinite;
    }
    EXPECT_EQ(infinite, thickness == 0.0 ? 2 : 0);
  }
}

TEST(StackSolver, NoForwardCrosstalkInOneDielectric) {
  Trace t;
  t.width = 0.4;
  t.thickness = 0.05;
  const Solution s = solve(stripline_pair(1.2, 3.9, t, 0.3));
  const Crosstalk x = crosstalk(s, 0, 1);
  EXPECT_GT(x.kb, 0.01);
  EXPECT_LT(std::abs(x.kf), 1e-12);
  // Both modes travel at one velocity; the voltages are still the pair's
  // even and odd ones (not whatever basis rounding picks).
  const PairFigures p = pair(s);
  for (const Mode& m : s.modes) {
    EXPECT_NEAR(m.eff, 3.9, 1e-12);
    const bool even = m.voltage[0] * m.voltage[1] > 0.0;
    EXPECT_NEAR(std::abs(m.voltage[0]), std::abs(m.voltage[1]), 1e-9);
    EXPECT_NEAR(m.impedance, even ? p.zoe : p.zoo, 1e-9 * p.zoe);
  }
}

// A floating strip beside a line raises its capacitance less than the same
// strip grounded; far away it changes nothing (but the mesh).
TEST(StackSolver, FloatingMetalLiesBetweenNoneAndGrounded) {
  Trace t;
  t.width = 0.5;
  t.thickness = 0.03;
  const Stack bare = offset_stripline({1.0, 4.0, 0.0, ""}, {1.0, 4.0, 0.0, ""}, t);
  Stack floating = bare;
  Conductor f;
  f.role = Role::floating;
  f.left = 0.45;
  f.right = 1.25;
  f.thickness = 0.03;
  floating.conductors.push_back(f);
  Stack grounded = floating;
  grounded.conductors.back().role = Role::ground;
  const double c0 = solve(bare).c(0, 0), cf = solve(floating).c(0, 0), cg = solve(grounded).c(0, 0);
  EXPECT_GT(cf, c0 * (1 + 1e-3));
  EXPECT_LT(cf, cg * (1 - 1e-3));
  Stack far = bare;
  f.left = 60.0;
  f.right = 61.0;
  far.conductors.push_back(f);
  const Solution with_far = solve(far);
  EXPECT_NEAR(with_far.c(0, 0), c0, with_far.error_floor * c0);
}

// A tall overhanging trace beside a low one under a mask: the mask's surface
// drops past the low trace from a corner that ends two edges; the charge's
// power law at that corner must not meet a node rounded onto it.
TEST(StackSolver, MaskCornerBesideAnOverhangSolves) {
  Stack s;
  s.layers = {{1.3914923405971629, 9.415067825278511, 0.0, ""}};
  Conductor a;
  a.left = -1.4587688966584889;
  a.right = -1.3880236482395694;
  a.thickness = 0.32561911412844563;
  a.inset = -0.008656622035188577;
  Conductor b;
  b.left = -1.3608510740351607;
  b.right = -1.3070733797906182;
  b.thickness = 0.07498094796514258;
  b.inset = 0.008690348573071046;
  s.conductors = {a, b};
  s.mask = {0,  0.020963062309563164, 0.02305777419579453, 0.02246848640057395, 5.854262380593001,
            0.0};
  const PairFigures p = pair(solve(s));
  EXPECT_GT(p.zdiff, 0.0);
  EXPECT_LT(p.error_zoo, 0.01);
}

// No shared state: the same solution on several threads at once.
TEST(StackSolver, ThreadsSolveIndependently) {
  Trace t;
  t.width = 0.5;
  t.thickness = 0.05;
  const Stack s = gcpw_pair({1.0, 4.0, 0.0, ""}, t, 0.3, 0.2);
  const Solution one = solve(s);
  std::vector<Solution> many(4);
  std::vector<std::thread> threads;
  for (Solution& m : many) threads.emplace_back([&s, &m] { m = solve(s); });
  for (std::thread& th : threads) th.join();
  for (const Solution& m : many) EXPECT_EQ(m.c.v, one.c.v);
}

TEST(StackSolver, RefusesABadStackNamingTheEntry) {
  Trace t;
  t.width = 0.5;
  Stack s = stripline(1.0, 4.0, t);
  EXPECT_EQ(check(s), "");
  Stack bad = s;
  bad.layers[1].er = 0.5;
  EXPECT_EQ(check(bad).rfind("layers[1].er:", 0), 0u) << check(bad);
  bad = s;
  bad.layers[0].thickness = std::nan("");
  EXPECT_EQ(check(bad).rfind("layers[0].thickness:", 0), 0u);
  bad = s;
  bad.conductors[0].thickness = 0.6;  // thicker than its layer
  EXPECT_EQ(check(bad).rfind("conductors[0].thickness:", 0), 0u);
  bad = s;
  bad.mask.over_trace = 0.01;  // a stack with a top plane has no mask on top
  EXPECT_EQ(check(bad).rfind("mask.", 0), 0u);
  bad = s;
  bad.conductors.push_back(s.conductors[0]);  // on top of the first
  EXPECT_EQ(check(bad).rfind("conductors[1].left:", 0), 0u);
  bad = s;
  bad.conductors[0].role = Role::ground;
  EXPECT_NE(check(bad), "");
  EXPECT_THROW(solve(bad), std::invalid_argument);
  Settings wild;
  wild.refinement = 0.0;
  EXPECT_THROW(solve(s, wild), std::invalid_argument);
  EXPECT_THROW(pair(solve(s)), std::out_of_range);  // one line only
}

}  // namespace
}  // namespace kx::stack
