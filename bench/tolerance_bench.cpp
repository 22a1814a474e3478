// Wall time of a Monte Carlo tolerance run: one million samples of the
// cross-section of a 10 dB coupler at 2.4 GHz (W, S, H and Er toleranced),
// with its statistics, percentiles and one-at-a-time spread shares; and
// 10 000 samples of the coupler's four-port with its limits held over a
// 21-point band (2.0 to 2.8 GHz).
#include <benchmark/benchmark.h>

#include <thread>

#include "tolerance/tolerance.h"

namespace {

void BM_ToleranceSection(benchmark::State& state) {
  kx::tol::Study study;
  study.nominal.er = 3.66f;
  study.nominal.h = 0.020f;
  study.nominal.h2 = 0.25f;
  study.nominal.w = 0.03433f;
  study.nominal.s = 0.00372f;
  study.nominal.t = 0.0014f;
  study.f = 2.4f;
  study.tol[kx::tol::p_w] = 0.0005f;
  study.tol[kx::tol::p_s] = 0.0005f;
  study.tol[kx::tol::p_h] = 0.001f;
  study.tol[kx::tol::p_er] = 0.05f;
  study.samples = state.range(0);
  study.threads = static_cast<unsigned>(state.range(1));
  study.progress = false;
  study.limits.push_back(kx::tol::parse_limit("coupling_db=9.5:10.5"));
  long long passed = 0;
  for (auto _ : state) {
    const kx::tol::Summary sum = kx::tol::run(study);
    passed = sum.joint.passed;
    benchmark::DoNotOptimize(passed);  // an integer: the "+m,r" constraint garbles a double
  }
  state.counters["passed"] = static_cast<double>(passed);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ToleranceSection)
    ->Args({1000000, 2})
    ->Args({1000000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

void BM_ToleranceBand(benchmark::State& state) {
  kx::tol::Study study;
  study.nominal.er = 3.66f;
  study.nominal.h = 0.020f;
  study.nominal.h2 = 0.25f;
  study.nominal.w = 0.03433f;
  study.nominal.s = 0.00372f;
  study.nominal.t = 0.0014f;
  study.mat.res = 1.7f;
  study.mat.sr = 2.5f;
  study.f = 2.4f;
  study.centre = 2.4f;
  study.tol[kx::tol::p_etch] = 0.0003f;
  study.tol[kx::tol::p_h] = 0.001f;
  study.tol[kx::tol::p_er] = 0.05f;
  for (int k = 0; k < state.range(0); ++k) {
    study.band.push_back(2.0f +
                         0.8f * static_cast<float>(k) / static_cast<float>(state.range(0) - 1));
  }
  study.samples = 10000;
  study.threads = static_cast<unsigned>(state.range(1));
  study.progress = false;
  study.limits.push_back(kx::tol::parse_limit("coupled_db=9.5:10.5"));
  study.limits.push_back(kx::tol::parse_limit("return_loss_db=20:"));
  long long passed = 0;
  for (auto _ : state) {
    const kx::tol::Summary sum = kx::tol::run(study);
    passed = sum.joint.passed;
    benchmark::DoNotOptimize(passed);
  }
  state.counters["passed"] = static_cast<double>(passed);
  state.SetItemsProcessed(state.iterations() * study.samples);
}
BENCHMARK(BM_ToleranceBand)
    ->Args({21, 2})
    ->Args({21, 1})
    ->Args({0, 1})  // no band: the four-port at 2.4 GHz only
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace
