// Cost of the wideband line: the pair's static solve set (one set of field
// solutions), R L G C at 200 frequencies from it (analytic in f), the whole
// of both, the same for the general solver's pairs, and a 2000-point Touchstone text (single-ended
// four-port by the modal decomposition, and mixed-mode from the even and odd modes), each with its
// per-frequency R L G C. The machine may be shared: read the minimum over repetitions, e.g.
//   bench_wideband_bench --benchmark_repetitions=15 --benchmark_report_aggregates_only
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kestrelix/line_network.h"
#include "kestrelix/materials_file.h"
#include "kestrelix/rlgc_io.h"

namespace {

using namespace kx::rlgc;

// Argument 0: 35 um strips (W 0.12 mm, S 0.15 mm on 0.1 mm FR-4-like);
// 1: the same at zero thickness.
kx::field::Geometry geometry(bool thin) {
  kx::field::Geometry g;
  g.h = 0.1e-3;
  g.w = 0.12e-3;
  g.s = 0.15e-3;
  g.t = thin ? 0.0 : 35e-6;
  return g;
}

PairMaterials fr4() {
  PairMaterials m;
  m.substrate =
      kx::materials::Dielectric(kx::materials::builtin_materials().dielectric("fr4_like")->data);
  return m;
}

std::vector<double> frequencies(int n) {
  std::vector<double> f;
  for (int k = 0; k < n; ++k) f.push_back(1e9 + 39e9 * k / (n - 1));
  return f;
}

double minimum(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

void BM_PairStatics(benchmark::State& state) {
  const kx::field::Geometry g = geometry(state.range(0) != 0);
  const PairMaterials m = fr4();
  for (auto _ : state) benchmark::DoNotOptimize(pair_statics(g, m));
}
BENCHMARK(BM_PairStatics)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", minimum);

void BM_Rlgc200FromStatics(benchmark::State& state) {
  const LineStatics st = pair_statics(geometry(false), fr4());
  const std::vector<double> f = frequencies(200);
  for (auto _ : state) benchmark::DoNotOptimize(rlgc_sweep(st, f));
}
BENCHMARK(BM_Rlgc200FromStatics)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", minimum);

void BM_PairRlgc200(benchmark::State& state) {
  const kx::field::Geometry g = geometry(state.range(0) != 0);
  const PairMaterials m = fr4();
  const std::vector<double> f = frequencies(200);
  for (auto _ : state) benchmark::DoNotOptimize(rlgc_sweep(pair_statics(g, m), f));
}
BENCHMARK(BM_PairRlgc200)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", minimum);

// The general solver's line (kx::stack): 0 the microstrip pair above,
// 1 an inner-layer pair, offset stripline of a core and a prepreg of
// their own materials (0.1 mm below the traces, 0.12 mm above their tops,
// W 0.1 mm, S 0.2 mm, T 18 um), the static set and R L G C at 200
// frequencies.
void BM_StackPairRlgc200(benchmark::State& state) {
  const bool inner = state.range(0) != 0;
  kx::stack::Trace t;
  t.width = inner ? 0.1 : 0.12;
  t.thickness = inner ? 0.018 : 0.035;
  StackMaterials m;
  kx::stack::Stack s;
  if (inner) {
    s = kx::stack::offset_stripline_pair({0.1, 3.9, 0.0, "core"}, {0.12, 3.7, 0.0, "prepreg"}, t,
                                         0.2);
    kx::materials::DielectricData prepreg = fr4().substrate.data();
    prepreg.dk = 3.7;
    m.layers = {fr4().substrate, kx::materials::Dielectric(prepreg)};
  } else {
    s = kx::stack::microstrip_pair({0.1, 4.3, 0.0, ""}, t, 0.15);
    m.layers = {fr4().substrate};
  }
  StackOptions o;
  o.unit_m = 1e-3;
  const std::vector<double> f = frequencies(200);
  state.SetLabel(inner ? "offset stripline pair" : "microstrip pair");
  for (auto _ : state) benchmark::DoNotOptimize(rlgc_sweep(stack_statics(s, m, o), f));
}
BENCHMARK(BM_StackPairRlgc200)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", minimum);

void BM_Touchstone2000(benchmark::State& state) {
  const LineStatics st = pair_statics(geometry(false), fr4());
  const std::vector<double> f = frequencies(2000);
  const bool mixed = state.range(0) != 0;
  state.SetLabel(mixed ? "mixed-mode, even/odd" : "four-port, modal");
  for (auto _ : state) {
    std::vector<CMatrix> s;
    s.reserve(f.size());
    for (const double x : f) {
      const Rlgc p = rlgc_at(st, x);
      s.push_back(mixed ? mixed_mode(pair_sparameters(p, 0.1, 50.0))
                        : line_sparameters(p, 0.1, 50.0));
    }
    const std::string text = mixed ? touchstone_mixed_mode(f, s, 50.0) : touchstone(f, s, 50.0);
    benchmark::DoNotOptimize(text.data());
  }
}
BENCHMARK(BM_Touchstone2000)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", minimum);

}  // namespace
