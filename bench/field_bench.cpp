// Cost of one field solution of a cross-section (both modes, with and
// without the dielectrics, at the two refinements of the error estimate) for
// representative geometries at the standard and the fine setting; and a
// whole synthesis on the field model (the closed forms' answer, then Newton
// on the solver). The machine may be shared: read the minimum over
// repetitions, e.g.
//   bench_field_bench --benchmark_repetitions=15 --benchmark_report_aggregates_only
#include <benchmark/benchmark.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "kestrelix/coupled_line.h"
#include "kestrelix/field.h"

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

// A 10 dB, 50 ohm coupler on 35 um copper over 0.25 mm of Er 3.66 (open),
// synthesised by the field model from D.C. (argument 0) or at 2.4 GHz (1),
// with a fresh evaluator (no kept solutions) each time.
void BM_FieldSynthesis(benchmark::State& state) {
  kx::Section sub;
  sub.er = 3.66f;
  sub.h = kx::from_mm(0.25);
  sub.h2 = std::numeric_limits<float>::infinity();
  sub.t = kx::from_um(35.0);
  kx::ModelSettings field;
  field.model = kx::Model::field;
  const float f = state.range(0) ? 2.4f : 0.0f;
  int evaluations = 0;
  bool met = true;
  for (auto _ : state) {
    kx::CoupledLine line(field);
    kx::CouplerTarget target;
    target.zo = 50.0f;
    target.coupling_db = 10.0f;
    target.f = f;
    const kx::Synthesis r = line.synthesise(sub, target);
    evaluations = r.evaluations;
    met = met && r.iflag == 0;
    benchmark::DoNotOptimize(r);
  }
  state.counters["field_solutions"] = evaluations;
  if (!met) state.SkipWithError("the synthesis did not meet its target");
}
BENCHMARK(BM_FieldSynthesis)
    ->DenseRange(0, 1)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", [](const std::vector<double>& v) {
      return *std::min_element(v.begin(), v.end());
    });

}  // namespace
