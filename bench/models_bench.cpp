// Cost of one full evaluation of a cross-section at a frequency through the
// evaluator: effective widths, static permittivities and impedances, their
// dispersion, Zo and coupling, and the losses (what an analysis run repeats
// at every row).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

#include <kestrelix/coupled_line.h>

#include "bench/alloc_count.h"

namespace {

constexpr float kEr = 9.8f;
constexpr float kH = 0.025f;   // inch
constexpr float kH2 = 0.125f;  // cover at 5 H
constexpr float kW = 0.024f;
constexpr float kS = 0.011f;
// Copper, 2 micro-inch roughness, loss tangent 0.0002.
kx::Materials materials() {
  kx::Materials mat;
  mat.res = 1.7f;
  mat.sr = 2.0f;
  mat.tlos = 0.0002f;
  return mat;
}
const kx::Materials kMaterials = materials();

kx::Modes evaluate(kx::CoupledLine& line, float f, float t, float w) {
  kx::Section sec;
  sec.er = kEr;
  sec.h = kH;
  sec.h2 = kH2;
  sec.w = w;
  sec.s = kS;
  sec.t = t;
  return line.at(sec, kMaterials, f);
}

// Argument: strip thickness in tenths of a mil (0: zero thickness, 14: 1-oz copper).
void BM_FullEvaluation(benchmark::State& state) {
  const float t = static_cast<float>(state.range(0)) * 1.0e-4f;
  kx::CoupledLine line{kx::ModelSettings{kx::Model::closed}};

  const long before = kx_bench::g_allocations.load();
  const kx::Modes first = evaluate(line, 5.0f, t, kW);
  state.counters["allocs"] = static_cast<double>(kx_bench::g_allocations.load() - before);
  state.counters["iflag"] = first.iflag;  // 0: a valid cross-section

  float f = 1.0f;
  for (auto _ : state) {
    kx::Modes r = evaluate(line, f, t, kW);
    benchmark::DoNotOptimize(r);
    f = f < 18.0f ? f + 1.0f : 1.0f;  // a frequency sweep, as a run does
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FullEvaluation)->Arg(0)->Arg(14)->Unit(benchmark::kMicrosecond);

}  // namespace
