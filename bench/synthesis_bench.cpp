// Cost of the width and spacing synthesis over a coupling sweep, and of one
// sensitivity evaluation.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "common/records.h"
#include "models/selectors.h"
#include "models/static/static_models.h"
#include "synthesis/ms1sen.h"
#include "synthesis/msws_internal.h"
#include "synthesis/synthesis.h"

namespace {

constexpr float kH = 0.025f;   // inch
constexpr float kH2 = 0.25f;   // cover at 10 H
constexpr float kT = 0.0007f;  // half-ounce copper
constexpr float kZo = 50.0f;
constexpr int kFirstDb = 6;  // coupling sweep -6 .. -20 dB, 15 levels
constexpr int kLevels = 15;

struct Target {
  float zoe, zoo;
};

std::vector<Target> coupling_sweep() {
  std::vector<Target> out;
  for (int k = 0; k < kLevels; ++k) {
    float cc = 0.0f;
    float ko = -static_cast<float>(kFirstDb + k);
    float zo = kZo;
    Target t{};
    kx::sl1zo(cc, ko, kx::sl1zo_pair_from_coupling, zo, t.zoe, t.zoo);
    out.push_back(t);
  }
  return out;
}

// Arguments: Er x 10, frequency in GHz.
void BM_MswsCouplingSweep(benchmark::State& state) {
  const float er = static_cast<float>(state.range(0)) / 10.0f;
  const auto f = static_cast<float>(state.range(1));
  const std::vector<Target> targets = coupling_sweep();

  std::vector<int> evaluations;
  int failed = 0;
  for (const Target& tg : targets) {
    kx::Records rec;
    kx::MswsStats stats;
    int iflag = 0;
    float s = 0.0f;
    float w = 0.0f;
    kx::msws_counted(rec, er, f, kH, kH2, iflag, s, kT, w, tg.zoe, tg.zoo, stats);
    evaluations.push_back(stats.evaluations);
    failed += iflag != 0 ? 1 : 0;
  }
  std::sort(evaluations.begin(), evaluations.end());

  kx::Records rec;
  for (auto _ : state) {
    for (const Target& tg : targets) {
      int iflag = 0;
      float s = 0.0f;
      float w = 0.0f;
      kx::msws(rec, er, f, kH, kH2, iflag, s, kT, w, tg.zoe, tg.zoo);
      benchmark::DoNotOptimize(s);
      benchmark::DoNotOptimize(w);
    }
  }
  state.counters["median_evals"] = evaluations[evaluations.size() / 2];
  state.counters["max_evals"] = evaluations.back();
  state.counters["flagged"] = failed;
  state.counters["per_point"] = benchmark::Counter(
      kLevels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_MswsCouplingSweep)
    ->ArgsProduct({{22, 45, 98}, {0, 10}})
    ->ArgNames({"er10", "ghz"})
    ->Unit(benchmark::kMillisecond);

// Argument: frequency in GHz.
void BM_Ms1sen(benchmark::State& state) {
  const auto f = static_cast<float>(state.range(0));
  kx::Records rec;
  for (auto _ : state) {
    int iflag = 0;
    kx::ms1sen(rec, 9.8f, f, kH, kH2, kx::ieoro_even, iflag, 0.008f, kT, 0.022f);
    benchmark::DoNotOptimize(rec.mssen1);
  }
}
BENCHMARK(BM_Ms1sen)->Arg(0)->Arg(10)->ArgNames({"ghz"})->Unit(benchmark::kMicrosecond);

}  // namespace
