// Cost of one full evaluation of a cross-section at a frequency: effective
// widths, static permittivities and impedances, their dispersion, Zo and
// coupling, and the losses (the chain an analysis run repeats at every row).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

#include "common/records.h"
#include "models/dispersion/dispersion.h"
#include "models/loss/loss.h"
#include "models/static/static_models.h"

// Count heap allocations, to show that the chain makes none.
namespace {
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
// The replaced operator new above takes its memory from malloc.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

constexpr float kEr = 9.8f;
constexpr float kH = 0.025f;    // inch
constexpr float kH2 = 0.125f;   // cover at 5 H
constexpr float kW = 0.024f;
constexpr float kS = 0.011f;
constexpr float kRes = 1.7f * 1.0e-6f / 2.54f;  // copper, ohm inch
constexpr float kSr = 2.0e-5f;
constexpr float kTlos = 0.0002f;

struct Result {
  float zoef, zoof, zo, ko, ate, ato;
  int iflag;
};

Result evaluate(kx::Records& rec, float f, float t, float w) {
  float wte = 0.0f, wto = 0.0f, effc = 0.0f, effe = 0.0f, effo = 0.0f, zoe = 0.0f, zoo = 0.0f;
  int iflag = 0;
  kx::lcwta(kEr, kH, kS, t, w, wte, wto);
  kx::mscuppv(rec, effc, effe, effo, kEr, t, kH, kH2, 3, 1, kS, wte, wto);
  kx::ms1imp(rec, effe, effo, kEr, kH, kH2, 3, iflag, 1, kS, wte, wto, zoe, zoo);
  kx::lceff(rec, effc, effe, effo, kEr, f, kH, 3, 1, kS, wte, wto);
  kx::lcdis(rec, effo, rec.lceff1.effof, kEr, f, kH, kH2, 3, iflag, 1, kS, wte, wto, zoe, zoo);
  Result r{};
  float cc = 0.0f;
  r.zoef = rec.lcdis1.zoef;
  r.zoof = rec.lcdis1.zoof;
  kx::sl1zo(cc, r.ko, 2, r.zo, r.zoef, r.zoof);
  kx::ms1los(rec, r.ate, r.ato, kEr, f, kH, kH2, kRes, kS, kSr, t, kTlos, w);
  r.iflag = iflag;
  return r;
}

// Argument: strip thickness in tenths of a mil (0: zero thickness, 14: 1-oz copper).
void BM_FullEvaluation(benchmark::State& state) {
  const float t = static_cast<float>(state.range(0)) * 1.0e-4f;
  kx::Records rec;

  const long before = g_allocations.load();
  const Result first = evaluate(rec, 5.0f, t, kW);
  state.counters["allocs"] = static_cast<double>(g_allocations.load() - before);
  state.counters["iflag"] = first.iflag;  // 0: a valid cross-section

  float f = 1.0f;
  for (auto _ : state) {
    Result r = evaluate(rec, f, t, kW);
    benchmark::DoNotOptimize(r);
    f = f < 18.0f ? f + 1.0f : 1.0f;  // a frequency sweep, as a run does
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FullEvaluation)->Arg(0)->Arg(14)->Unit(benchmark::kMicrosecond);

}  // namespace
