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

// The regions of each table's bounds: where the interpolation's error
// varies (the thickness, the width, the cover or the permittivity).
void set_regions(Table& t) {
  t.regions.clear();
  const auto add = [&](Variable v, int groups) {
    for (std::size_t k = 0; k < t.axes.size(); ++k)
      if (t.axes[k].variable == v)
        t.regions.push_back({static_cast<int>(k), std::min(groups, t.axes[k].nodes - 1)});
  };
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
    std::vector<double> worst(t.region_count() * 2, 0.0);
    std::vector<std::size_t> count(t.region_count(), 0);
    for (std::size_t i = 0; i < samples; ++i) {
      double x[8];
      if (!used[i] || !grid_coordinates(t, secs[i], x)) continue;
      const std::size_t r = t.region_at(x);
      ++count[r];
      for (std::size_t q = 0; q < 2; ++q)
        worst[2 * r + q] = std::max(worst[2 * r + q], dev[i][2 * k + q]);
    }
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

int generate(const std::string& out, int threads, const TableNodes& counts) {
  const auto start = std::chrono::steady_clock::now();
  Tables tables;
  tables.tables.push_back(
      build(air_axes(counts.air), true, solve_nodes(air_axes(counts.air), threads)));
  tables.tables.push_back(build(dielectric_axes(counts.dielectric), false,
                                solve_nodes(dielectric_axes(counts.dielectric), threads)));
  set_bounds(tables, threads, 20000);
  const std::string bytes = write_tables(tables);
  std::ofstream f(out + ".tmp", std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  f.close();
  if (!f || std::rename((out + ".tmp").c_str(), out.c_str()) != 0)
    throw std::runtime_error("cannot write " + out);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr, "wrote %s: %zu bytes in %.0f s\n", out.c_str(), bytes.size(), s);
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
             int threads) {
  const std::vector<unsigned char> bytes = read_file(file);
  const Tables tables = read_tables(bytes.data(), bytes.size());
  std::mt19937_64 rng(seed);
  std::vector<Section> secs;
  for (std::size_t i = 0; i < n; ++i) secs.push_back(random_section(rng, coated, log_t));
  struct Row {
    bool covered = false, ok = false;
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
    const Quantities f = quantities_of(v.c);
    const double got[4] = {f.zoe, f.zoo, f.eff_e, f.eff_o};
    const double ref[4] = {d.r.zoe, d.r.zoo, d.r.eff_e, d.r.eff_o};
    for (std::size_t q = 0; q < 4; ++q) {
      rows[i].dev[q] = std::abs(got[q] / ref[q] - 1.0);
      rows[i].ratio[q] = v.error[q] / std::max(rows[i].dev[q], 1e-12);
    }
  });
  std::size_t covered = 0, ok = 0;
  std::vector<double> dev[4], ratio[4];
  std::size_t worst_at[4] = {0, 0, 0, 0};
  for (std::size_t i = 0; i < n; ++i) {
    covered += rows[i].covered;
    if (!rows[i].ok) continue;
    ++ok;
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
  bool within = true;
  for (int q = 0; q < 4; ++q) {
    within = within && percentile(dev[q], 1.0) < 1e-3;
    const Section& w = secs[worst_at[q]];
    std::printf(
        "%-5s deviation from direct: median %.1e p90 %.1e p99 %.1e max %.1e  (er %.3f w %.4f s "
        "%.4f t %.5f h2 %.4g c %.4f erc %.3f); estimate / deviation: min %.2f median %.0f\n",
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
    for (int q = 0; q < 2; ++q) worst = std::max(worst, std::abs(got[q] - want[q]));
  }
  std::printf("worst difference at %zu nodes: %.2e\n", n, worst);
  return worst < 1e-5 ? 0 : 1;
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
    if (rest.size() == 3 && rest[0] == "check")
      return check_nodes(rest[1], static_cast<std::size_t>(std::atol(rest[2].c_str())));
    std::fprintf(stderr,
                 "usage: kx_field_table generate OUT [--threads N] [--air W,S,T,U] [--dielectric "
                 "W,S,T,U,L]\n"
                 "       kx_field_table validate FILE N [--seed K] [--coated SHARE] [--log-t TMIN] "
                 "[--threads N]\n"
                 "       kx_field_table check FILE N\n");
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kx_field_table: %s\n", e.what());
    return 1;
  }
}
