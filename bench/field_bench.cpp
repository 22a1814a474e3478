// Cost of one field solution of a cross-section (both modes, with and
// without the dielectrics, at the two refinements of the error estimate) for
// representative geometries at the standard and the fine setting; the
// direct solution of random sections under a thin solder mask; the fast
// path over 10 000 random sections of its range without a coating and
// 10 000 with one (the coated ones' deviation from the direct solution too;
// the bare ones' is measured by `kx_field_table validate`); 1000 sections,
// some of them coated, through the fast path with its fallbacks and
// deviation; a coated sweep and a tolerance run on the
// sweep and local models; and a whole synthesis on the field model (the closed forms'
// answer, then Newton on the solver's fast path and a check on the direct
// solution, or Newton on the direct solution). The machine may be shared:
// read the minimum over repetitions, e.g.
//   bench_field_bench --benchmark_repetitions=15 --benchmark_report_aggregates_only
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "kestrelix/coupled_line.h"
#include "kestrelix/field.h"
#include "kestrelix/field_local.h"
#include "models/field/fast.h"

namespace {

constexpr double kOpen = std::numeric_limits<double>::infinity();

struct Case {
  const char* name;
  kx::field::Geometry g;  // er, h, w, s, t, h2, coat, er_coat
};

const Case kCases[] = {
    {"thin_open", {4.4, 1.0, 1.8, 0.3, 0.0, kOpen, 0.0, 1.0}},
    {"thick_covered", {9.8, 1.0, 0.5, 0.05, 0.05, 10.0, 0.0, 1.0}},
    {"coated", {4.4, 1.0, 0.5, 0.05, 0.035, 10.0, 0.04, 3.8}},
    {"w0.1_s0.02_er20_low_cover", {20.0, 1.0, 0.1, 0.02, 0.3, 1.0, 0.0, 1.0}},
    {"w10_s10_er20_coated_open", {20.0, 1.0, 10.0, 10.0, 0.3, kOpen, 0.1, 5.0}},
    {"w10_s0.02_thin_open", {4.0, 1.0, 10.0, 0.02, 0.0, kOpen, 0.0, 1.0}},
    {"w0.1_s10_coated_low_cover", {3.66, 1.0, 0.1, 10.0, 0.3, 1.0, 0.1, 5.0}},
    {"w3_s0.02_er9.8_coated_open", {9.8, 1.0, 3.0, 0.02, 0.3, kOpen, 0.1, 3.0}},
};

// Arguments: the case's index, 0 standard / 1 fine.
void BM_FieldSolve(benchmark::State& state) {
  const Case& c = kCases[state.range(0)];
  kx::field::Settings set;
  set.accuracy = state.range(1) ? kx::field::Accuracy::fine : kx::field::Accuracy::standard;
  state.SetLabel(std::string(c.name) + (state.range(1) ? " fine" : " standard"));
  for (auto _ : state) {
    kx::field::Result r = kx::field::solve(c.g, set);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_FieldSolve)
    ->ArgsProduct({benchmark::CreateDenseRange(0, std::size(kCases) - 1, 1), {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", [](const std::vector<double>& v) {
      return *std::min_element(v.begin(), v.end());
    });

// A random cross-section of the stated range (units of H): Er 1 to 20, W/H
// 0.1 to 10 and S/H 0.02 to 10 log-uniform, T/H uniform to 0.3 (one in ten
// zero, at least 1e-4), H/H2 uniform (one in ten open); with a coating of thickness
// uniform in [c0, c1] and Erc uniform in 1 to 5 when c1 > 0.
kx::field::Geometry random_section(std::mt19937_64& rng, double c0, double c1) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  kx::field::Geometry g;
  g.h = 1.0;
  g.er = 1.0 + 19.0 * u(rng);
  g.w = 0.1 * std::pow(100.0, u(rng));
  g.s = 0.02 * std::pow(500.0, u(rng));
  g.t = u(rng) < 0.1 ? 0.0 : std::max(1e-4, 0.3 * u(rng));  // the solver takes T/H from 1e-4
  const double cover = u(rng);
  g.h2 = cover < 0.1 ? kOpen : 1.0 / cover;
  if (c1 > 0.0) {
    g.coat = c0 + (c1 - c0) * u(rng);
    g.er_coat = 1.0 + 4.0 * u(rng);
  }
  return g;
}

// The calling thread's CPU time, microseconds: other jobs on the machine
// do not stretch it as they stretch the wall clock.
double thread_cpu_us() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) * 1e-3;
}

// Per-section CPU times (microseconds) of f over the sections: median, 90th
// percentile and worst as counters.
template <class F>
void time_each(benchmark::State& state, const std::vector<kx::field::Geometry>& sections, F f) {
  std::vector<double> us;
  for (auto _ : state) {
    us.clear();
    for (const kx::field::Geometry& g : sections) {
      const double t0 = thread_cpu_us();
      if (f(g)) us.push_back(thread_cpu_us() - t0);
    }
  }
  std::sort(us.begin(), us.end());
  if (us.empty()) return;
  state.counters["median_us"] = us[us.size() / 2];
  state.counters["p90_us"] = us[us.size() * 9 / 10];
  state.counters["worst_us"] = us.back();
  state.counters["timed"] = static_cast<double>(us.size());
}

// The fast path over 10 000 fresh random sections without a coating and
// 10 000 under one (C/H uniform 0 to 0.3, Erc 1 to 5): those it covers are
// timed (bare_*, coated_*: median, 90th percentile, worst), the shares it
// covers are counters, and so is the worst deviation (Zoe, Zoo, eff_e,
// eff_o) of the covered coated ones from the direct solution (apart where
// the direct solution's own estimate passes its promise) and the least
// ratio of the fast path's error estimate to it (measured outside the
// timing, once).
void BM_FastPathRandomSections(benchmark::State& state) {
  std::mt19937_64 rng(20240611);
  std::vector<kx::field::Geometry> bare, coated;
  for (int i = 0; i < 10000; ++i) bare.push_back(random_section(rng, 0.0, 0.0));
  for (int i = 0; i < 10000; ++i) coated.push_back(random_section(rng, 0.0, 0.3));
  kx::field::Settings fast;
  fast.method = kx::field::Method::fast;
  long fallbacks = 0;
  std::vector<kx::field::Result> results(coated.size());
  std::vector<char> covered(coated.size(), 0);
  const auto timed = [&](const std::vector<kx::field::Geometry>& sections, bool keep) {
    std::vector<double> us;
    for (std::size_t i = 0; i < sections.size(); ++i) {
      if (!kx::field::fast_covers(sections[i])) {
        fallbacks += !keep;
        continue;
      }
      const double t0 = thread_cpu_us();
      kx::field::Result r = kx::field::solve(sections[i], fast);
      benchmark::DoNotOptimize(r);
      us.push_back(thread_cpu_us() - t0);
      if (keep) {
        results[i] = r;
        covered[i] = 1;
      }
    }
    std::sort(us.begin(), us.end());
    return us;
  };
  std::vector<double> us_bare, us_coated;
  for (auto _ : state) {
    us_bare = timed(bare, false);
    us_coated = timed(coated, true);
  }
  const auto counters = [&](const std::string& name, const std::vector<double>& us) {
    if (us.empty()) return;
    state.counters[name + "_median_us"] = us[us.size() / 2];
    state.counters[name + "_p90_us"] = us[us.size() * 9 / 10];
    state.counters[name + "_worst_us"] = us.back();
  };
  counters("bare", us_bare);
  counters("coated", us_coated);
  // Apart: the sections where the direct solution's own estimate passes its
  // promise (it flags field_error; its own error may pass 0.1 % there).
  double worst = 0.0, worst_unsure = 0.0, least_ratio = 1e300;
  long unsure = 0;
  for (std::size_t i = 0; i < coated.size(); ++i) {
    if (!covered[i]) continue;
    const kx::field::Result d = kx::field::solve(coated[i]);
    const kx::field::Result& f = results[i];
    const double dev[4] = {std::abs(f.zoe / d.zoe - 1.0), std::abs(f.zoo / d.zoo - 1.0),
                           std::abs(f.eff_e / d.eff_e - 1.0), std::abs(f.eff_o / d.eff_o - 1.0)};
    const double est[4] = {f.error_zoe, f.error_zoo, f.error_eff_e, f.error_eff_o};
    const bool sure = std::max({d.error_zoe, d.error_zoo, d.error_eff_e, d.error_eff_o}) <=
                      kx::field::promised_error(kx::field::Accuracy::standard);
    unsure += !sure;
    for (int q = 0; q < 4; ++q) {
      (sure ? worst : worst_unsure) = std::max(sure ? worst : worst_unsure, dev[q]);
      if (dev[q] > 0.0) least_ratio = std::min(least_ratio, est[q] / dev[q]);
    }
  }
  state.counters["bare_fallback_share"] = static_cast<double>(fallbacks) /
                                          static_cast<double>(state.iterations() * 10000);
  state.counters["coated_covered_share"] = static_cast<double>(us_coated.size()) / 10000.0;
  state.counters["coated_worst_dev_pct"] = 100.0 * worst;
  state.counters["coated_direct_unsure"] = static_cast<double>(unsure);
  state.counters["coated_worst_dev_unsure_pct"] = 100.0 * worst_unsure;
  state.counters["coated_least_estimate_ratio"] = least_ratio;
}
BENCHMARK(BM_FastPathRandomSections)->Unit(benchmark::kMillisecond)->Iterations(3);

// The direct solution of 1000 random sections under a thin solder mask
// (C/H 0.01 to 0.03, Erc 1 to 5), per section, and the shares above 5 ms
// and 4 ms of CPU time (the second a margin for slower machines).
void BM_DirectThinMask(benchmark::State& state) {
  std::mt19937_64 rng(99);
  std::vector<kx::field::Geometry> sections;
  for (int i = 0; i < 1000; ++i) sections.push_back(random_section(rng, 0.01, 0.03));
  long over5 = 0, over4 = 0;
  time_each(state, sections, [&](const kx::field::Geometry& g) {
    const double t0 = thread_cpu_us();
    kx::field::Result r = kx::field::solve(g);
    benchmark::DoNotOptimize(r);
    const double us = thread_cpu_us() - t0;
    over5 += us > 5000.0;
    over4 += us > 4000.0;
    return true;
  });
  const double n = static_cast<double>(state.iterations() * sections.size());
  state.counters["over_5ms_share"] = static_cast<double>(over5) / n;
  state.counters["over_4ms_share"] = static_cast<double>(over4) / n;
}
BENCHMARK(BM_DirectThinMask)->Unit(benchmark::kMillisecond)->Iterations(2);

// 1000 random sections, three in ten under a mask (C/H 0 to 0.3), through
// the fast path as the front door asks it: per section CPU time (the coated
// ones fall back to the direct solution), the share that falls back, and
// the worst deviation of the interpolated ones from the direct solution
// (measured outside the timing).
void BM_FastPathMixedSections(benchmark::State& state) {
  std::mt19937_64 rng(4242);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<kx::field::Geometry> sections;
  for (int i = 0; i < 1000; ++i)
    sections.push_back(u(rng) < 0.3 ? random_section(rng, 0.0, 0.3)
                                    : random_section(rng, 0.0, 0.0));
  kx::field::Settings fast;
  fast.method = kx::field::Method::fast;
  std::vector<kx::field::Result> results(sections.size());
  std::size_t at = 0;
  time_each(state, sections, [&](const kx::field::Geometry& g) {
    results[at++ % results.size()] = kx::field::solve(g, fast);
    return true;
  });
  long fallbacks = 0;
  double worst = 0.0;
  for (std::size_t i = 0; i < sections.size(); ++i) {
    if (results[i].method != kx::field::Method::fast) {
      ++fallbacks;
      continue;
    }
    const kx::field::Result d = kx::field::solve(sections[i]);
    const kx::field::Result& f = results[i];
    worst = std::max({worst, std::abs(f.zoe / d.zoe - 1.0), std::abs(f.zoo / d.zoo - 1.0),
                      std::abs(f.eff_e / d.eff_e - 1.0), std::abs(f.eff_o / d.eff_o - 1.0)});
  }
  state.counters["fallback_share"] = static_cast<double>(fallbacks) / 1000.0;
  state.counters["worst_deviation_pct"] = 100.0 * worst;
}
BENCHMARK(BM_FastPathMixedSections)->Unit(benchmark::kMillisecond)->Iterations(1);

// A 10 000-point sweep of the gap from 0.02 H to 2 H under a 0.03 H mask
// (Er 4.4, W/H 1, T/H 0.035, Erc 3.5): the sweep model built (its direct
// solutions a counter) and evaluated at every point, per sweep; and its
// worst deviation from the direct solution at 50 fresh points.
void BM_SweepModelMaskedGap(benchmark::State& state) {
  kx::field::Geometry g{4.4, 1.0, 1.0, 0.3, 0.035, kOpen, 0.03, 3.5};
  int solutions = 0;
  for (auto _ : state) {
    const kx::field::SweepModel m(g, kx::field::Quantity::s, 0.02, 2.0);
    double sum = 0.0;
    for (int i = 0; i < 10000; ++i) sum += m.at(0.02 * std::pow(100.0, i / 9999.0)).zoo;
    benchmark::DoNotOptimize(sum);
    solutions = m.solutions();
  }
  const kx::field::SweepModel m(g, kx::field::Quantity::s, 0.02, 2.0);
  double worst = 0.0;
  for (int i = 0; i < 50; ++i) {
    kx::field::Geometry h = g;
    h.s = 0.02 * std::pow(100.0, (i + 0.37) / 50.0);
    const kx::field::Result d = kx::field::solve(h);
    const kx::field::Result r = m.at(h.s);
    worst = std::max({worst, std::abs(r.zoe / d.zoe - 1.0), std::abs(r.zoo / d.zoo - 1.0),
                      std::abs(r.eff_e / d.eff_e - 1.0), std::abs(r.eff_o / d.eff_o - 1.0)});
  }
  state.counters["direct_solutions"] = solutions;
  state.counters["worst_deviation_pct"] = 100.0 * worst;
}
BENCHMARK(BM_SweepModelMaskedGap)->Unit(benchmark::kMillisecond);

// A tolerance run of 10 000 samples under that mask, W, S, H, Er, T and the
// mask's thickness and permittivity varied by a few percent: the local model
// built and evaluated at every sample, per run; its deviation at its
// checks, and the worst at 50 fresh samples against the direct solution.
void BM_LocalModelTolerance(benchmark::State& state) {
  const kx::field::Geometry g{4.4, 1.0, 1.0, 0.3, 0.035, kOpen, 0.03, 3.5};
  kx::field::Spread sp;
  sp.w = 0.05;
  sp.s = 0.03;
  sp.h = 0.04;
  sp.er = 0.2;
  sp.t = 0.005;
  sp.coat = 0.005;
  sp.er_coat = 0.2;
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const auto sample = [&] {
    kx::field::Geometry h = g;
    h.w += sp.w * u(rng);
    h.s += sp.s * u(rng);
    h.h += sp.h * u(rng);
    h.er += sp.er * u(rng);
    h.t += sp.t * u(rng);
    h.coat += sp.coat * u(rng);
    h.er_coat += sp.er_coat * u(rng);
    return h;
  };
  std::vector<kx::field::Geometry> samples;
  for (int i = 0; i < 10000; ++i) samples.push_back(sample());
  int solutions = 0;
  double deviation = 0.0;
  for (auto _ : state) {
    const kx::field::LocalModel m(g, sp);
    double sum = 0.0;
    for (const kx::field::Geometry& h : samples) sum += m.at(h).zoo;
    benchmark::DoNotOptimize(sum);
    solutions = m.solutions();
    deviation = m.deviation();
  }
  const kx::field::LocalModel m(g, sp);
  double worst = 0.0;
  for (int i = 0; i < 50; ++i) {
    const kx::field::Geometry h = sample();
    const kx::field::Result d = kx::field::solve(h);
    const kx::field::Result r = m.at(h);
    worst = std::max({worst, std::abs(r.zoe / d.zoe - 1.0), std::abs(r.zoo / d.zoo - 1.0),
                      std::abs(r.eff_e / d.eff_e - 1.0), std::abs(r.eff_o / d.eff_o - 1.0)});
  }
  state.counters["direct_solutions"] = solutions;
  state.counters["check_deviation_pct"] = 100.0 * deviation;
  state.counters["worst_deviation_pct"] = 100.0 * worst;
}
BENCHMARK(BM_LocalModelTolerance)->Unit(benchmark::kMillisecond);

// A 10 dB, 50 ohm coupler on 35 um copper over 0.25 mm of Er 3.66 (open),
// synthesised by the field model from D.C. (argument 0) or at 2.4 GHz (1),
// on the fast path (second argument 0) or the direct solution (1), with a
// fresh evaluator (no kept solutions) each time.
void BM_FieldSynthesis(benchmark::State& state) {
  kx::Section sub;
  sub.er = 3.66f;
  sub.h = kx::from_mm(0.25);
  sub.h2 = std::numeric_limits<float>::infinity();
  sub.t = kx::from_um(35.0);
  kx::ModelSettings field;
  field.model = kx::Model::field;
  field.method = state.range(1) ? kx::field::Method::direct : kx::field::Method::fast;
  const float f = state.range(0) ? 2.4f : 0.0f;
  int evaluations = 0;
  long long direct = 0;
  bool met = true;
  for (auto _ : state) {
    kx::CoupledLine line(field);
    kx::CouplerTarget target;
    target.zo = 50.0f;
    target.coupling_db = 10.0f;
    target.f = f;
    const kx::Synthesis r = line.synthesise(sub, target);
    evaluations = r.evaluations;
    direct = line.field_counts().direct;
    met = met && r.iflag == 0;
    benchmark::DoNotOptimize(r);
  }
  state.counters["field_solutions"] = evaluations;
  state.counters["direct_solutions"] = static_cast<double>(direct);
  if (!met) state.SkipWithError("the synthesis did not meet its target");
}
BENCHMARK(BM_FieldSynthesis)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", [](const std::vector<double>& v) {
      return *std::min_element(v.begin(), v.end());
    });

// The measured error estimate (kx::field::measured: the fine setting at
// twice the panel density, four times for a fine value) of 60 random
// sections, a third of them coated (C/H to 0.3), per section: its cost on
// top of the value's own solution. Arg: 0 standard, 1 fine.
void BM_MeasuredEstimate(benchmark::State& state) {
  std::mt19937_64 rng(31);
  std::vector<kx::field::Geometry> sections;
  for (int i = 0; i < 60; ++i)
    sections.push_back(i % 3 == 0 ? random_section(rng, 0.0, 0.3) : random_section(rng, 0.0, 0.0));
  kx::field::Settings settings;
  settings.accuracy = state.range(0) == 1 ? kx::field::Accuracy::fine
                                          : kx::field::Accuracy::standard;
  std::vector<kx::field::Result> values;
  for (const kx::field::Geometry& g : sections) values.push_back(kx::field::solve(g, settings));
  std::size_t k = 0;
  time_each(state, sections, [&](const kx::field::Geometry& g) {
    kx::field::Result r = kx::field::measured(g, values[k++ % values.size()], settings.accuracy);
    benchmark::DoNotOptimize(r);
    return true;
  });
}
BENCHMARK(BM_MeasuredEstimate)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
