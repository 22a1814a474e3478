// Builds and checks the field solver's fast-path table (models/field/table.h):
//
//   kx_field_table generate OUT [--threads N]
//       solves every node of the grids below with the direct solver, fits
//       the splines, measures the interpolation error on random cross-
//       sections to set the bounds of each region, and writes the table to
//       OUT;
//   kx_field_table validate FILE N [--seed K] [--coated SHARE] [--log-t TMIN]
//       N random cross-sections in the stated range: the table's values
//       against direct solutions (deviation of Zoe, Zoo, eff_e, eff_o, and
//       the error estimate over it), and the share it covers; exit status 1
//       when a deviation reaches 0.1 %;
//   kx_field_table check FILE N
//       N random nodes solved again against the table (what ctest does).
//   kx_field_table generate-coated BASE OUT [--filled] [--coated-nodes
//       W,G,T,U,ER,C,ERC] [--coated-range W0,W1,G0,G1,C0,C1] [--samples N]
//       BASE's tables plus a coated one (replacing one of the same kind):
//       r = ln(q_coated / q_bare) over ln W, ln G (the open gap S - 2C; with
//       --filled the fill variable of S <= 2C), T, cover, ln Er, ln C, ln Erc;
//   kx_field_table compact-coated FILE OUT [--samples N] [--rebound]
//       FILE's coated tables of float coefficients as 16-bit ones, their
//       bounds measured again (an earlier generator's output; --rebound:
//       every coated table's bounds measured again);
//   kx_field_table validate-coated FILE N [--filled] [--seed K]
//       N random coated sections within that coated table's ranges against
//       direct solutions (exit status 1 when a deviation reaches 0.1 %).
//
// Deterministic: the same solver gives the same file, whatever the threads.
// tools/make_field_table.sh runs it; doc/field_solver.md says how long.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "kestrelix/field.h"
#include "models/field/fast.h"
#include "models/field/spline.h"
#include "models/field/table.h"

namespace kx::field {
namespace {

constexpr double kLambdaMax = (kFastMaxEr - 1.0) / (kFastMaxEr + 1.0);
constexpr double kEps0 = 8.8541878128e-12;  // F/m

// The grids: node counts per axis (the ranges are the stated ones).
struct Nodes {
  int w, s, t, u, lambda;
};
struct TableNodes {
  Nodes air{17, 21, 9, 9, 1};
  Nodes dielectric{13, 16, 11, 9, 4};
};

// The coated table's grid and ranges (lengths in H). The node counts are the
// ones doc/field_solver.md measured for 0.1 %; the ranges may be narrowed
// for a trial run.
struct CoatedGrid {
  bool filled = false;  // the filled-gap table (S <= 2C) instead of the open-gap one
  int w = 7, g = 14, t = 7, u = 7, er = 6, c = 13, e = 4;
  double w0 = kFastMinW, w1 = kFastMaxW;
  double g0 = 2e-3, g1 = kFastMaxS;  // the open gap G (the filled table: 0 to 1 in fill)
  double c0 = 1e-3, c1 = kFastMaxCoat;
};
// The filled-gap table's default grid (the gap fills only where C > 0.01 H).
CoatedGrid filled_grid() {
  CoatedGrid g;
  g.filled = true;
  g.w = 9;
  g.g = 5;
  g.t = 9;
  g.u = 7;
  g.er = 6;
  g.c = 9;
  g.e = 5;
  g.g0 = 0.0;
  g.g1 = 1.0;
  g.c0 = 0.5 * kFillMinS * 1.0001;
  return g;
}

Axis axis(Variable v, int nodes) {
  Axis a;
  a.variable = v;
  a.nodes = nodes;
  switch (v) {
    case Variable::log_w:
      a.lo = std::log(kFastMinW);
      a.hi = std::log(kFastMaxW);
      break;
    case Variable::log_s:
      a.lo = std::log(kFastMinS);
      a.hi = std::log(kFastMaxS);
      break;
    case Variable::cbrt_t:
    case Variable::sqrt_u:
    case Variable::coat:
      a.lo = 0.0;
      a.hi = 1.0;
      break;
    case Variable::lambda:
      a.lo = 0.0;
      a.hi = kLambdaMax;
      break;
    case Variable::lambda_coat:
      a.lo = 0.0;
      a.hi = (kFastMaxErCoat - 1.0) / (kFastMaxErCoat + 1.0);
      break;
    case Variable::log_gap:
      a.lo = std::log(kFastMinS);
      a.hi = std::log(kFastMaxS);
      break;
    case Variable::log_coat:
      a.lo = std::log(1e-3);
      a.hi = std::log(kFastMaxCoat);
      break;
    case Variable::log_er_coat:
      a.lo = 0.0;
      a.hi = std::log(kFastMaxErCoat);
      break;
    case Variable::log_er:
      a.lo = 0.0;
      a.hi = std::log(kFastMaxEr);
      break;
    case Variable::fill:
      a.lo = 0.0;
      a.hi = 1.0;
      break;
  }
  return a;
}

double node_value(const Axis& a, int i) { return a.lo + (a.hi - a.lo) * i / (a.nodes - 1); }

Geometry geometry_of(const Section& sec) {
  Geometry g;
  g.er = sec.er;
  g.h = 1.0;
  g.w = sec.w;
  g.s = sec.s;
  g.t = sec.t;
  g.h2 = sec.h2;
  g.coat = sec.coat;
  g.er_coat = sec.er_coat;
  return g;
}

// The cross-section at node `index` of the axes (last axis fastest).
Section node_section(const std::vector<Axis>& axes, std::size_t index) {
  Section sec{1.0, 1.0, 1.0, 0.0, std::numeric_limits<double>::infinity(), 0.0, 1.0};
  for (std::size_t k = axes.size(); k-- > 0;) {
    const std::size_t n = static_cast<std::size_t>(axes[k].nodes);
    set_variable(axes[k].variable, node_value(axes[k], static_cast<int>(index % n)), sec);
    index /= n;
  }
  return sec;
}

// f(i) for i in [0, n) on `threads` threads, each writing its own results.
void parallel(std::size_t n, int threads, const std::function<void(std::size_t)>& f) {
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> done{0};
  const auto start = std::chrono::steady_clock::now();
  const auto work = [&] {
    for (std::size_t i = next++; i < n; i = next++) {
      f(i);
      const std::size_t d = ++done;
      if (d % 5000 == 0) {
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::fprintf(stderr, "  %zu of %zu (%.0f s)\n", d, n, s);
      }
    }
  };
  std::vector<std::thread> pool;
  for (int k = 1; k < threads; ++k) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
}

// The four capacitances and estimates of a node's direct solution.
struct Solution {
  Result r;
  bool ok = false;
};
Solution direct(const Section& sec) {
  Solution s;
  try {
    s.r = solve(geometry_of(sec));
    s.ok = true;
  } catch (const std::exception&) {
  }
  return s;
}

// What a table holds at a solution: ln cae, ln cao (air) or q = 2 eff/(Er + 1).
void components_of(bool air, const Section& sec, const Result& r, double* out) {
  if (air) {
    out[0] = std::log(r.cae / kEps0);
    out[1] = std::log(r.cao / kEps0);
  } else {
    out[0] = 2.0 * r.eff_e / (sec.er + 1.0);
    out[1] = 2.0 * r.eff_o / (sec.er + 1.0);
  }
}

// The worst deviation of both components (dev(i, q)) in each region of t
// over the sections used, and how many sections each region holds.
void worst_by_region(const Table& t, const std::vector<Section>& secs,
                     const std::vector<char>& used,
                     const std::function<double(std::size_t, std::size_t)>& dev,
                     std::vector<double>& worst, std::vector<std::size_t>& count) {
  worst.assign(t.region_count() * 2, 0.0);
  count.assign(t.region_count(), 0);
  for (std::size_t i = 0; i < secs.size(); ++i) {
    double x[8];
    if (!used[i] || !grid_coordinates(t, secs[i], x)) continue;
    const std::size_t r = t.region_at(x);
    ++count[r];
    for (std::size_t q = 0; q < 2; ++q) worst[2 * r + q] = std::max(worst[2 * r + q], dev(i, q));
  }
}

// A region axis of `groups` along t's axis of variable v, if it has one.
void add_region(Table& t, Variable v, int groups) {
  for (std::size_t k = 0; k < t.axes.size(); ++k)
    if (t.axes[k].variable == v)
      t.regions.push_back({static_cast<int>(k), std::min(groups, t.axes[k].nodes - 1)});
}

// The regions of each table's bounds: where the interpolation's error
// varies (the thickness, the width, the cover or the permittivity).
void set_regions(Table& t) {
  t.regions.clear();
  const auto add = [&t](Variable v, int groups) { add_region(t, v, groups); };
  add(Variable::cbrt_t, 4);
  add(Variable::log_w, 4);
  if (t.axes.size() == 4) add(Variable::sqrt_u, 2);
  add(Variable::lambda, 3);
}

Table build(std::vector<Axis> axes, bool air, const std::vector<Solution>& solved) {
  Table t;
  t.axes = std::move(axes);
  t.components = 2;
  set_regions(t);
  t.bounds.assign(t.region_count() * 2, 0.0);
  const std::size_t n = t.node_count();
  std::vector<double> values(2 * n);
  t.estimates.resize(4 * n);
  for (std::size_t i = 0; i < n; ++i) {
    if (!solved[i].ok) throw std::runtime_error("a node the solver refused");
    const Result& r = solved[i].r;
    components_of(air, node_section(t.axes, i), r, &values[2 * i]);
    const double e[4] = {r.error_zoe, r.error_zoo, r.error_eff_e, r.error_eff_o};
    for (std::size_t q = 0; q < 4; ++q) t.estimates[4 * i + q] = code_estimate(e[q]);
  }
  Grid grid;
  for (const Axis& a : t.axes) grid.nodes.push_back(a.nodes);
  grid.components = 2;
  const std::vector<double> c = spline_coefficients(grid, values);
  t.coefficients.assign(c.begin(), c.end());
  return t;
}

// A random cross-section in the stated range; coated with a coating's
// chance `coated` (thickness and permittivity uniform).
Section random_section(std::mt19937_64& rng, double coated, double log_t = 0.0) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Section sec{};
  sec.er = 1.0 + (kFastMaxEr - 1.0) * u(rng);
  sec.w = kFastMinW * std::pow(kFastMaxW / kFastMinW, u(rng));
  sec.s = kFastMinS * std::pow(kFastMaxS / kFastMinS, u(rng));
  sec.t = u(rng) < 0.1 ? 0.0 : std::max(1e-4, kFastMaxT * u(rng));
  if (log_t > 0.0 && sec.t > 0.0) sec.t = log_t * std::pow(kFastMaxT / log_t, u(rng));
  const double cover = u(rng);
  sec.h2 = cover < 0.1 ? std::numeric_limits<double>::infinity() : 1.0 / cover;
  sec.coat = 0.0;
  sec.er_coat = 1.0;
  if (u(rng) < coated) {
    sec.coat = kFastMaxCoat * u(rng);
    sec.er_coat = 1.0 + (kFastMaxErCoat - 1.0) * u(rng);
  }
  return sec;
}

std::vector<unsigned char> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<Axis> air_axes(const Nodes& s) {
  return {axis(Variable::log_w, s.w), axis(Variable::log_s, s.s), axis(Variable::cbrt_t, s.t),
          axis(Variable::sqrt_u, s.u)};
}
std::vector<Axis> dielectric_axes(const Nodes& s) {
  std::vector<Axis> a = air_axes(s);
  a.push_back(axis(Variable::lambda, s.lambda));
  return a;
}

std::vector<Axis> coated_axes(const CoatedGrid& n) {
  const auto logs = [](Variable v, int nodes, double lo, double hi) {
    Axis a;
    a.variable = v;
    a.nodes = nodes;
    a.lo = std::log(lo);
    a.hi = std::log(hi);
    return a;
  };
  Axis gap = logs(Variable::log_gap, n.g, n.g0, n.g1);
  if (n.filled) {
    gap = axis(Variable::fill, n.g);
    gap.lo = n.g0;
    gap.hi = n.g1;
  }
  return {logs(Variable::log_w, n.w, n.w0, n.w1),
          gap,
          axis(Variable::cbrt_t, n.t),
          axis(Variable::sqrt_u, n.u),
          axis(Variable::log_er, n.er),
          logs(Variable::log_coat, n.c, n.c0, n.c1),
          logs(Variable::log_er_coat, n.e, 1.0, kFastMaxErCoat)};
}

// A random coated cross-section within the coated table's ranges: W, C and
// the open gap log-uniform (or the fill variable uniform), Er and Erc
// uniform, T and the cover as random_section.
Section random_coated(std::mt19937_64& rng, const Table& t) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const auto along = [&](std::size_t k) {
    return t.axes[k].lo + (t.axes[k].hi - t.axes[k].lo) * u(rng);
  };
  Section sec = random_section(rng, 0.0);
  sec.w = std::exp(along(0));
  const double g = along(1);
  sec.coat = std::exp(along(5));
  sec.er_coat = 1.0 + (kFastMaxErCoat - 1.0) * u(rng);
  set_variable(t.axes[1].variable, g, sec);
  if (sec.t > 0.0) sec.t = std::max(sec.t, kFastMinT);
  return sec;
}

// A random coated cross-section drawn in the coated table's variables with
// the arcsine density (1 - cos(pi u))/2 along each, which gives the ends of
// every axis, and so the corners where the interpolation is worst (a thick
// coating under a close cover), several times their even share; T/H from
// 0.002 (one in ten zero), the cover open one in ten.
Section random_coated_in_variables(std::mt19937_64& rng, const Table& t) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const auto arcsine = [&] { return 0.5 * (1.0 - std::cos(3.14159265358979323846 * u(rng))); };
  Section sec{1.0, 1.0, 1.0, 0.0, std::numeric_limits<double>::infinity(), 0.0, 1.0};
  for (std::size_t k = t.axes.size(); k-- > 0;) {  // the gap after the coating
    const Axis& a = t.axes[k];
    double x = a.lo + (a.hi - a.lo) * arcsine();
    if (a.variable == Variable::cbrt_t) {
      const double t0 = std::cbrt(kFastMinT / kFastMaxT);
      x = u(rng) < 0.1 ? 0.0 : t0 + (1.0 - t0) * arcsine();
    }
    if (a.variable == Variable::sqrt_u && u(rng) < 0.1) x = 0.0;
    set_variable(a.variable, x, sec);
  }
  return sec;
}

// The coated table's regions: where its error varies (narrow strips and
// gaps under thick coatings most), fine enough that a region whose bound
// passes the fast path's promise leaves the rest of the table covered.
void set_coated_regions(Table& t) {
  t.regions.clear();
  const auto add = [&t](Variable v, int groups) { add_region(t, v, groups); };
  add(Variable::log_w, 3);
  add(Variable::log_gap, 4);
  add(Variable::fill, 4);
  add(Variable::cbrt_t, 3);
  add(Variable::sqrt_u, 3);
  add(Variable::log_er, 2);
  add(Variable::log_coat, 3);
}

// Node values (components innermost) held as 16-bit coefficients of the
// knot basis: one offset and step per component over the coefficients' span.
void store_knots(Table& t, const std::vector<double>& values) {
  Grid grid;
  for (const Axis& a : t.axes) grid.nodes.push_back(a.nodes);
  grid.components = t.components;
  const std::vector<double> c = knot_spline_coefficients(grid, values);
  const std::size_t comps = static_cast<std::size_t>(t.components);
  t.storage = Storage::knots_int16;
  t.coefficients.clear();
  t.offset.assign(comps, 0.0);
  t.step.assign(comps, 0.0);
  t.codes.resize(c.size());
  for (std::size_t q = 0; q < comps; ++q) {
    double lo = c[q], hi = c[q];
    for (std::size_t i = q; i < c.size(); i += comps) {
      lo = std::min(lo, c[i]);
      hi = std::max(hi, c[i]);
    }
    t.offset[q] = 0.5 * (lo + hi);
    t.step[q] = std::max(hi - lo, 1e-9) / 65534.0;
    for (std::size_t i = q; i < c.size(); i += comps)
      t.codes[i] = static_cast<std::int16_t>(std::lround((c[i] - t.offset[q]) / t.step[q]));
  }
}

// The estimates folded over the last axis (the largest of its nodes').
void fold_last_axis(Table& t) {
  const std::size_t last = static_cast<std::size_t>(t.axes.back().nodes);
  std::vector<std::uint8_t> folded(t.estimates.size() / last);
  for (std::size_t i = 0; i < folded.size() / 4; ++i)
    for (std::size_t q = 0; q < 4; ++q) {
      std::uint8_t m = 0;
      for (std::size_t e = 0; e < last; ++e) m = std::max(m, t.estimates[4 * (i * last + e) + q]);
      folded[4 * i + q] = m;
    }
  t.estimates.swap(folded);
  t.folded = 1;
}

// The bounds by region of the coated table `which` in `all`, measured
// against direct coated solutions through the whole chain (bare tables and
// the 16-bit codes included): the worst deviation of eff_e and eff_o seen in
// the region with a margin.
void set_coated_bounds(Tables& all, std::size_t which, int threads, std::size_t samples) {
  Table& t = all.tables[which];
  set_coated_regions(t);
  t.bounds.assign(t.region_count() * 2, 0.0);  // no region declined while measuring
  std::mt19937_64 rng(20240612);
  std::vector<Section> secs;
  for (std::size_t i = 0; i < samples; ++i) secs.push_back(random_coated_in_variables(rng, t));
  std::vector<std::array<double, 2>> dev(samples, {0.0, 0.0});
  std::vector<char> used(samples, 0);
  parallel(samples, threads, [&](std::size_t i) {
    const Solution d = direct(secs[i]);
    FastValues v;
    if (!d.ok || !fast_values(all, secs[i], v)) return;
    used[i] = 1;
    dev[i] = {std::abs(v.c.even / v.c.even_air / d.r.eff_e - 1.0),
              std::abs(v.c.odd / v.c.odd_air / d.r.eff_o - 1.0)};
  });
  // A margin over the worst deviation seen (the bound holds between the
  // samples too; the fresh sections of validate-coated check it).
  constexpr double kMargin = 1.5;
  std::vector<double> worst;
  std::vector<std::size_t> count;
  worst_by_region(
      t, secs, used, [&](std::size_t i, std::size_t q) { return dev[i][q]; }, worst, count);
  // A region too few samples reached keeps a bound the fast path declines.
  constexpr std::size_t kLeastSamples = 30;
  for (std::size_t j = 0; j < worst.size(); ++j)
    t.bounds[j] = count[j / 2] < kLeastSamples ? 0.99 : std::min(0.99, kMargin * worst[j]);
  const auto [least, most] = std::minmax_element(count.begin(), count.end());
  std::size_t declined = 0, declined_samples = 0;
  for (std::size_t r = 0; r < count.size(); ++r)
    if (std::max(t.bounds[2 * r], t.bounds[2 * r + 1]) > kFastMaxCoatedBound) {
      ++declined;
      declined_samples += count[r];
    }
  std::fprintf(stderr,
               "coated table: %zu regions, %zu to %zu samples each, bounds %.2e to %.2e; %zu "
               "regions (%.2f %% of the samples) above %.0e go to the direct solution\n",
               count.size(), *least, *most, *std::min_element(t.bounds.begin(), t.bounds.end()),
               *std::max_element(t.bounds.begin(), t.bounds.end()), declined,
               100.0 * static_cast<double>(declined_samples) / static_cast<double>(samples),
               kFastMaxCoatedBound);
}

// The coated table: direct coated and bare solutions at every node (the bare
// ones once per geometry and Er: they do not depend on Erc), r's splines in
// 16-bit codes, the coated solutions' estimates folded over Erc; the bounds
// are set by set_coated_bounds.
Table build_coated(const CoatedGrid& n, int threads) {
  Table t;
  t.axes = coated_axes(n);
  t.components = 2;
  const std::size_t nodes = t.node_count();
  std::fprintf(stderr, "coated table: solving %zu nodes (and %zu bare) on %d threads\n", nodes,
               nodes / static_cast<std::size_t>(n.e), threads);
  std::vector<double> values(2 * nodes);
  t.estimates.resize(4 * nodes);
  std::vector<char> ok(nodes, 0);
  const std::size_t per_bare = static_cast<std::size_t>(n.e);
  parallel(nodes / per_bare, threads, [&](std::size_t i) {
    Section bare = node_section(t.axes, i * per_bare);
    bare.coat = 0.0;
    bare.er_coat = 1.0;
    const Solution b = direct(bare);
    if (!b.ok) return;
    double qb[2];
    components_of(false, bare, b.r, qb);
    for (std::size_t e = 0; e < per_bare; ++e) {
      const std::size_t at = i * per_bare + e;
      const Section sec = node_section(t.axes, at);
      const Solution c = direct(sec);
      if (!c.ok) return;
      double qc[2];
      components_of(false, sec, c.r, qc);
      values[2 * at] = std::log(qc[0] / qb[0]);
      values[2 * at + 1] = std::log(qc[1] / qb[1]);
      const double est[4] = {c.r.error_zoe, c.r.error_zoo, c.r.error_eff_e, c.r.error_eff_o};
      for (std::size_t q = 0; q < 4; ++q) t.estimates[4 * at + q] = code_estimate(est[q]);
      ok[at] = 1;
    }
  });
  if (std::count(ok.begin(), ok.end(), 0) != 0)
    throw std::runtime_error("a node the solver refused");
  store_knots(t, values);
  fold_last_axis(t);
  return t;
}

// A random cross-section drawn evenly in the tables' variables (so every
// region of the grids gets its share; one T in ten zero, one cover in ten
// open), within the fast path's range.
Section random_in_variables(std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Section sec{1.0, 1.0, 1.0, 0.0, std::numeric_limits<double>::infinity(), 0.0, 1.0};
  const Axis w = axis(Variable::log_w, 4), s = axis(Variable::log_s, 4),
             l = axis(Variable::lambda, 4);
  set_variable(Variable::log_w, w.lo + (w.hi - w.lo) * u(rng), sec);
  set_variable(Variable::log_s, s.lo + (s.hi - s.lo) * u(rng), sec);
  const double t0 = std::cbrt(kFastMinT / kFastMaxT);
  const double t = u(rng) < 0.1 ? 0.0 : t0 + (1.0 - t0) * u(rng);
  set_variable(Variable::cbrt_t, t, sec);
  set_variable(Variable::sqrt_u, u(rng) < 0.1 ? 0.0 : u(rng), sec);
  set_variable(Variable::lambda, l.lo + (l.hi - l.lo) * u(rng), sec);
  return sec;
}

// The interpolation's deviation from direct solutions at random
// cross-sections, per region and component of each table: the bounds (the
// worst deviation seen in the region, with a margin).
void set_bounds(Tables& tables, int threads, std::size_t samples) {
  std::mt19937_64 rng(20240611);
  std::vector<Section> secs;
  for (std::size_t i = 0; i < samples; ++i) secs.push_back(random_in_variables(rng));
  std::vector<std::array<double, 4>> dev(samples);
  std::vector<char> used(samples, 0);
  parallel(samples, threads, [&](std::size_t i) {
    dev[i] = {0, 0, 0, 0};
    const Solution d = direct(secs[i]);
    FastValues v;
    if (!d.ok || !fast_values(tables, secs[i], v)) return;
    used[i] = 1;
    double ref[2], got[2];
    components_of(true, secs[i], d.r, ref);
    dev[i][0] = std::abs(std::log(v.c.even_air) - ref[0]);
    dev[i][1] = std::abs(std::log(v.c.odd_air) - ref[1]);
    components_of(false, secs[i], d.r, ref);
    Result f;
    f.eff_e = v.c.even / v.c.even_air;
    f.eff_o = v.c.odd / v.c.odd_air;
    components_of(false, secs[i], f, got);
    dev[i][2] = std::abs(got[0] / ref[0] - 1.0);
    dev[i][3] = std::abs(got[1] / ref[1] - 1.0);
  });
  // A margin over the worst deviation seen: the bound holds between the samples too.
  constexpr double kMargin = 1.5;
  for (std::size_t k = 0; k < 2; ++k) {
    Table& t = tables.tables[k];
    std::vector<double> worst;
    std::vector<std::size_t> count;
    worst_by_region(
        t, secs, used, [&](std::size_t i, std::size_t q) { return dev[i][2 * k + q]; }, worst,
        count);
    t.bounds.resize(worst.size());
    for (std::size_t j = 0; j < worst.size(); ++j) t.bounds[j] = kMargin * worst[j];
    const auto [least, most] = std::minmax_element(count.begin(), count.end());
    std::fprintf(stderr, "table %zu: %zu regions, %zu to %zu samples each, bounds %.2e to %.2e\n",
                 k, count.size(), *least, *most,
                 *std::min_element(t.bounds.begin(), t.bounds.end()),
                 *std::max_element(t.bounds.begin(), t.bounds.end()));
  }
}

// Solves every node of `axes` (Er 1 where they have no lambda axis).
std::vector<Solution> solve_nodes(const std::vector<Axis>& axes, int threads) {
  Table shape;
  shape.axes = axes;
  const std::size_t n = shape.node_count();
  std::fprintf(stderr, "solving %zu nodes on %d threads\n", n, threads);
  std::vector<Solution> solved(n);
  parallel(n, threads, [&](std::size_t i) { solved[i] = direct(node_section(axes, i)); });
  return solved;
}

// Writes `bytes` to `out` through a temporary file of its own in the same
// folder, renamed over `out` once whole; `out` may be a new file or a
// regular one, never a device, a folder or one of the run's inputs.
void write_file(const std::string& out, const std::string& bytes,
                const std::vector<std::string>& inputs = {}) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status st = fs::symlink_status(out, ec);
  if (fs::exists(st) && !fs::is_regular_file(st))
    throw std::runtime_error(out + ": not a regular file; not written");
  for (const std::string& in : inputs)
    if (fs::exists(st) && fs::equivalent(in, out, ec))
      throw std::runtime_error(out + ": it is an input; not written");
  std::string tmp = out + ".XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0 || ::fchmod(fd, 0644) != 0) throw std::runtime_error("cannot write " + out);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const bool ok = done == bytes.size() && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !ok || std::rename(tmp.c_str(), out.c_str()) != 0) {
    std::remove(tmp.c_str());
    throw std::runtime_error("cannot write " + out);
  }
}

int generate(const std::string& out, int threads, const TableNodes& counts) {
  const auto start = std::chrono::steady_clock::now();
  Tables tables;
  tables.tables.push_back(
      build(air_axes(counts.air), true, solve_nodes(air_axes(counts.air), threads)));
  tables.tables.push_back(build(dielectric_axes(counts.dielectric), false,
                                solve_nodes(dielectric_axes(counts.dielectric), threads)));
  set_bounds(tables, threads, 20000);
  const std::string bytes = write_tables(tables);
  write_file(out, bytes);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr, "wrote %s: %zu bytes in %.0f s\n", out.c_str(), bytes.size(), s);
  return 0;
}

int generate_coated(const std::string& base_file, const std::string& out, int threads,
                    const CoatedGrid& grid, std::size_t samples) {
  const auto start = std::chrono::steady_clock::now();
  const std::vector<unsigned char> bytes = read_file(base_file);
  Tables base = read_tables(bytes.data(), bytes.size());
  if (base.tables.size() < 2 || base.tables[0].axes.size() != 4 || base.tables[1].axes.size() != 5)
    throw std::runtime_error(base_file + ": not the bare tables first");
  // A coated table of the other kind stays; one of this kind is replaced.
  const Variable kind = grid.filled ? Variable::fill : Variable::log_gap;
  base.tables.erase(std::remove_if(base.tables.begin() + 2, base.tables.end(),
                                   [&](const Table& t) { return t.axes[1].variable == kind; }),
                    base.tables.end());
  base.tables.push_back(build_coated(grid, threads));
  set_coated_bounds(base, base.tables.size() - 1, threads, samples);
  const std::string written = write_tables(base);
  write_file(out, written, {base_file});
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr, "wrote %s: %zu bytes in %.0f s\n", out.c_str(), written.size(), s);
  return 0;
}

// FILE's coated tables of float coefficients (an earlier generator's) in
// 16-bit codes of the knot basis, their estimates folded over Erc and their
// bounds measured again by the finer regions: the same splines, 3 to 6
// times smaller. Tables already in codes keep their codes (and their
// bounds, if their regions are today's).
int compact_coated(const std::string& file, const std::string& out, int threads,
                   std::size_t samples, bool rebound) {
  const std::vector<unsigned char> bytes = read_file(file);
  Tables all = read_tables(bytes.data(), bytes.size());
  std::vector<std::size_t> converted;
  for (std::size_t k = 2; k < all.tables.size(); ++k) {
    Table& t = all.tables[k];
    Table regions = t;
    set_coated_regions(regions);
    const bool same_regions = regions.regions.size() == t.regions.size() &&
                              std::equal(t.regions.begin(), t.regions.end(),
                                         regions.regions.begin(),
                                         [](const RegionAxis& a, const RegionAxis& b) {
                                           return a.axis == b.axis && a.groups == b.groups;
                                         });
    if (t.storage != Storage::uniform_float) {
      if (!same_regions || rebound) converted.push_back(k);  // bounds measured again
      continue;
    }
    converted.push_back(k);
    Grid grid;
    for (const Axis& a : t.axes) grid.nodes.push_back(a.nodes + 2);
    grid.components = t.components;
    const std::vector<double> c(t.coefficients.begin(), t.coefficients.end());
    store_knots(t, spline_node_values(grid, c));
    if (t.folded == 0) fold_last_axis(t);
  }
  for (std::size_t k : converted) set_coated_bounds(all, k, threads, samples);
  const std::string written = write_tables(all);
  write_file(out, written, {file});
  std::fprintf(stderr, "wrote %s: %zu bytes\n", out.c_str(), written.size());
  return 0;
}

// Zoe, Zoo (ohm) and the effective permittivities of capacitances per unit eps0.
struct Quantities {
  double zoe, zoo, eff_e, eff_o;
};
Quantities quantities_of(const Capacitances& c) {
  const double c0 = 299792458.0;
  return {1.0 / (c0 * kEps0 * std::sqrt(c.even * c.even_air)),
          1.0 / (c0 * kEps0 * std::sqrt(c.odd * c.odd_air)), c.even / c.even_air,
          c.odd / c.odd_air};
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

int validate(const std::string& file, std::size_t n, unsigned seed, double coated, double log_t,
             int threads, bool in_coated_table = false, bool in_filled = false) {
  const std::vector<unsigned char> bytes = read_file(file);
  const Tables tables = read_tables(bytes.data(), bytes.size());
  const Table* coated_table = nullptr;
  for (const Table& t : tables.tables)
    if (t.axes.size() == 7 &&
        t.axes[1].variable == (in_filled ? Variable::fill : Variable::log_gap))
      coated_table = &t;
  if (in_coated_table && coated_table == nullptr)
    throw std::runtime_error(file + ": no coated table of that kind");
  std::mt19937_64 rng(seed);
  std::vector<Section> secs;
  for (std::size_t i = 0; i < n; ++i)
    secs.push_back(in_coated_table ? random_coated(rng, *coated_table)
                                   : random_section(rng, coated, log_t));
  struct Row {
    bool covered = false, ok = false;
    bool unsure = false;  // the direct solution's own estimate passes its promise
    std::array<double, 4> dev{}, ratio{};
  };
  std::vector<Row> rows(n);
  parallel(n, threads, [&](std::size_t i) {
    FastValues v;
    rows[i].covered = fast_values(tables, secs[i], v);
    if (!rows[i].covered) return;
    const Solution d = direct(secs[i]);
    if (!d.ok) return;
    rows[i].ok = true;
    rows[i].unsure = std::max({d.r.error_zoe, d.r.error_zoo, d.r.error_eff_e, d.r.error_eff_o}) >
                     promised_error(Accuracy::standard);
    const Quantities f = quantities_of(v.c);
    const double got[4] = {f.zoe, f.zoo, f.eff_e, f.eff_o};
    const double ref[4] = {d.r.zoe, d.r.zoo, d.r.eff_e, d.r.eff_o};
    for (std::size_t q = 0; q < 4; ++q) {
      rows[i].dev[q] = std::abs(got[q] / ref[q] - 1.0);
      rows[i].ratio[q] = v.error[q] / std::max(rows[i].dev[q], 1e-12);
    }
  });
  std::size_t covered = 0, ok = 0, unsure = 0;
  std::vector<double> dev[4], ratio[4];
  std::size_t worst_at[4] = {0, 0, 0, 0};
  double worst_sure = 0.0, worst_unsure = 0.0;
  std::size_t sure_at = 0;
  for (std::size_t i = 0; i < n; ++i) {
    covered += rows[i].covered;
    if (!rows[i].ok) continue;
    ++ok;
    unsure += rows[i].unsure;
    const double d = *std::max_element(rows[i].dev.begin(), rows[i].dev.end());
    if (rows[i].unsure) {
      worst_unsure = std::max(worst_unsure, d);
    } else if (d > worst_sure) {
      worst_sure = d;
      sure_at = i;
    }
    for (int q = 0; q < 4; ++q) {
      const std::size_t uq = static_cast<std::size_t>(q);
      dev[q].push_back(rows[i].dev[uq]);
      ratio[q].push_back(rows[i].ratio[uq]);
      if (rows[i].dev[uq] > rows[worst_at[q]].dev[uq]) worst_at[q] = i;
    }
  }
  std::printf("%zu sections, %zu covered (%.1f %%), %zu compared\n", n, covered,
              100.0 * static_cast<double>(covered) / static_cast<double>(n), ok);
  const char* names[4] = {"zoe", "zoo", "eff_e", "eff_o"};
  // The promise holds against a direct solution that keeps its own: where
  // the direct solution's estimate passes 0.3 % (it flags field_error), its
  // own error may pass 0.1 %.
  const bool within = worst_sure < 1e-3;
  std::printf(
      "worst deviation %.1e where the direct solution keeps its promise; %zu sections "
      "where it does not (its estimate above %.1f %%), worst deviation there %.1e\n",
      worst_sure, unsure, 100.0 * promised_error(Accuracy::standard), worst_unsure);
  const Section& ws = secs[sure_at];
  std::printf("  the first: er %.9g w %.9g s %.9g t %.9g h2 %.9g c %.9g erc %.9g\n", ws.er, ws.w,
              ws.s, ws.t, ws.h2, ws.coat, ws.er_coat);
  for (int q = 0; q < 4; ++q) {
    const Section& w = secs[worst_at[q]];
    std::printf(
        "%-5s deviation from direct: median %.1e p90 %.1e p99 %.1e max %.1e  (er %.9g w %.9g s "
        "%.9g t %.9g h2 %.9g c %.9g erc %.9g); estimate / deviation: min %.2f median %.0f\n",
        names[q], percentile(dev[q], 0.5), percentile(dev[q], 0.9), percentile(dev[q], 0.99),
        percentile(dev[q], 1.0), w.er, w.w, w.s, w.t, w.h2, w.coat, w.er_coat,
        percentile(ratio[q], 0.0), percentile(ratio[q], 0.5));
  }
  // The fast path's promise: within 0.1 % of the direct solution.
  if (!within) std::printf("a deviation of 0.1 %% or more\n");
  return within ? 0 : 1;
}

int check_nodes(const std::string& file, std::size_t n) {
  const std::vector<unsigned char> bytes = read_file(file);
  const Tables tables = read_tables(bytes.data(), bytes.size());
  std::mt19937_64 rng(7);
  bool within = true;
  double worst = 0.0;
  for (std::size_t k = 0; k < n; ++k) {
    const Table& t = tables.tables[k % tables.tables.size()];
    std::uniform_int_distribution<std::size_t> pick(0, t.node_count() - 1);
    const Section sec = node_section(t.axes, pick(rng));
    const Solution d = direct(sec);
    double want[2], got[2];
    if (!d.ok || !table_components(t, sec, got)) {
      std::printf("a node the solver or the table does not take\n");
      return 1;
    }
    components_of(t.axes.size() == 4, sec, d.r, want);
    double allowed = 1e-5;
    if (t.axes.size() == 7) {  // a coated table: r = ln(q_coated / q_bare)
      Section bare = sec;
      bare.coat = 0.0;
      bare.er_coat = 1.0;
      const Solution b = direct(bare);
      double qb[2];
      if (!b.ok) return 1;
      components_of(false, bare, b.r, qb);
      for (int q = 0; q < 2; ++q) want[q] = std::log(want[q] / qb[q]);
      // The 16-bit codes: half a step, the weights a partition of unity.
      for (double st : t.step) allowed = std::max(allowed, 1e-5 + 0.5 * st);
    }
    for (int q = 0; q < 2; ++q) {
      const double dq = std::abs(got[q] - want[q]);
      worst = std::max(worst, dq);
      within = within && dq < allowed;
    }
  }
  std::printf("worst difference at %zu nodes: %.2e\n", n, worst);
  return within ? 0 : 1;
}

}  // namespace
}  // namespace kx::field

int main(int argc, char** argv) {
  using namespace kx::field;
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    int threads = 2;
    unsigned seed = 1;
    double coated = 0.0;
    double log_t = 0.0;
    TableNodes counts;
    bool filled = false, rebound = false;
    std::string coated_nodes, coated_range;
    std::size_t samples = 20000;
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (args[i] == "--threads" && i + 1 < args.size()) {
        threads = std::max(1, std::atoi(args[++i].c_str()));
      } else if (args[i] == "--seed" && i + 1 < args.size()) {
        seed = static_cast<unsigned>(std::atoi(args[++i].c_str()));
      } else if ((args[i] == "--air" || args[i] == "--dielectric") && i + 1 < args.size()) {
        // Expert: other node counts, w,s,t,u[,lambda].
        Nodes& n = args[i] == "--air" ? counts.air : counts.dielectric;
        if (std::sscanf(args[++i].c_str(), "%d,%d,%d,%d,%d", &n.w, &n.s, &n.t, &n.u, &n.lambda) < 4)
          throw std::runtime_error(args[i - 1] + " w,s,t,u[,lambda]");
      } else if (args[i] == "--filled") {
        filled = true;
      } else if (args[i] == "--rebound") {
        rebound = true;
      } else if (args[i] == "--coated-nodes" && i + 1 < args.size()) {
        coated_nodes = args[++i];
      } else if (args[i] == "--coated-range" && i + 1 < args.size()) {
        coated_range = args[++i];
      } else if (args[i] == "--samples" && i + 1 < args.size()) {
        samples = static_cast<std::size_t>(std::max(1, std::atoi(args[++i].c_str())));
      } else if (args[i] == "--log-t" && i + 1 < args.size()) {
        // T/H log-uniform from this to 0.3 instead of uniform.
        log_t = std::atof(args[++i].c_str());
      } else if (args[i] == "--coated" && i + 1 < args.size()) {
        coated = std::atof(args[++i].c_str());
      } else {
        rest.push_back(args[i]);
      }
    }
    if (rest.size() == 2 && rest[0] == "generate") return generate(rest[1], threads, counts);
    if (rest.size() == 3 && rest[0] == "validate")
      return validate(rest[1], static_cast<std::size_t>(std::atol(rest[2].c_str())), seed, coated,
                      log_t, threads);
    CoatedGrid coated_grid = filled ? filled_grid() : CoatedGrid{};
    if (!coated_nodes.empty()) {
      CoatedGrid& g = coated_grid;
      if (std::sscanf(coated_nodes.c_str(), "%d,%d,%d,%d,%d,%d,%d", &g.w, &g.g, &g.t, &g.u, &g.er,
                      &g.c, &g.e) != 7)
        throw std::runtime_error("--coated-nodes W,G,T,U,ER,C,ERC");
    }
    if (!coated_range.empty()) {
      // Expert: a narrower domain for a trial, W0,W1,G0,G1,C0,C1 in H (the
      // filled table: G0,G1 in its fill variable, 0 to 1).
      CoatedGrid& g = coated_grid;
      const double g_lo = filled ? 0.0 : 1e-3, g_hi = filled ? 1.0 : kFastMaxS;
      const double c_lo = filled ? 0.5 * kFillMinS : 1e-4;
      if (std::sscanf(coated_range.c_str(), "%lf,%lf,%lf,%lf,%lf,%lf", &g.w0, &g.w1, &g.g0, &g.g1,
                      &g.c0, &g.c1) != 6 ||
          !(g.w0 >= kFastMinW && g.w1 <= kFastMaxW && g.w0 < g.w1 && g.g0 >= g_lo && g.g1 <= g_hi &&
            g.g0 < g.g1 && g.c0 > c_lo && g.c1 <= kFastMaxCoat && g.c0 < g.c1))
        throw std::runtime_error("--coated-range W0,W1,G0,G1,C0,C1 within the fast range");
    }
    if (rest.size() == 3 && rest[0] == "generate-coated")
      return generate_coated(rest[1], rest[2], threads, coated_grid, samples);
    if (rest.size() == 3 && rest[0] == "validate-coated")
      return validate(rest[1], static_cast<std::size_t>(std::atol(rest[2].c_str())), seed, 0.0, 0.0,
                      threads, true, filled);
    if (rest.size() == 3 && rest[0] == "compact-coated")
      return compact_coated(rest[1], rest[2], threads, samples, rebound);
    if (rest.size() == 3 && rest[0] == "check")
      return check_nodes(rest[1], static_cast<std::size_t>(std::atol(rest[2].c_str())));
    std::fprintf(stderr,
                 "usage: kx_field_table generate OUT [--threads N] [--air W,S,T,U] [--dielectric "
                 "W,S,T,U,L]\n"
                 "       kx_field_table validate FILE N [--seed K] [--coated SHARE] [--log-t TMIN] "
                 "[--threads N]\n"
                 "       kx_field_table check FILE N\n"
                 "       kx_field_table generate-coated BASE OUT [--filled] [--coated-nodes "
                 "W,G,T,U,ER,C,ERC] [--coated-range W0,W1,G0,G1,C0,C1] [--samples N] [--threads "
                 "N]\n"
                 "       kx_field_table compact-coated FILE OUT [--samples N] [--rebound] "
                 "[--threads N]\n"
                 "       kx_field_table validate-coated FILE N [--filled] [--seed K] [--threads "
                 "N]\n");
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kx_field_table: %s\n", e.what());
    return 1;
  }
}
