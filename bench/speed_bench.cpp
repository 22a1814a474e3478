// Costs of the work behind each printed row: one evaluation of a
// cross-section (with and without losses), the sensitivities, the 15-level
// coupling synthesis, and the formatting of a 10-value report row. Every
// case counts the heap allocations of its timed loop ("allocs" per
// iteration; 0 expected).
//
// The program is built on this tree and on an older base tree side by side
// (bench/run_speed.sh): the library calls below compile against either
// front door, the public <kestrelix/coupled_line.h> or the older
// models/coupled_line.h.
//
// BM_FormatMatchesReference also checks the F edit against the plain
// C-library conversion ("%.*f" on the exact value, the writer's original
// method) on a large set of values; "mismatches" must be 0.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#if __has_include(<kestrelix/coupled_line.h>)
#include <kestrelix/coupled_line.h>
#define KX_BENCH_PUBLIC_API 1
#else
#include "common/records.h"
#include "models/coupled_line.h"
#include "models/loss/loss.h"
#include "models/static/static_models.h"
#include "synthesis/synthesis.h"
#endif

#include "bench/alloc_count.h"
#include "common/ftn_format.h"
#include "tests/common/ftn_reference.h"

namespace {

// Allocations per iteration of the timed loop.
class AllocCounter {
 public:
  AllocCounter() : before_(kx_bench::g_allocations.load()) {}
  void report(benchmark::State& state) const {
    const auto n = static_cast<double>(kx_bench::g_allocations.load() - before_);
    state.counters["allocs"] = n / static_cast<double>(state.iterations());
  }

 private:
  long before_;
};

// 64 different cross-sections on one 25 mil alumina substrate: each
// evaluation sees a new W and S.
kx::Section alumina(float w, float s) {
  kx::Section sec;
  sec.er = 9.8f;
  sec.h = 0.025f;
  sec.h2 = 0.25f;
  sec.w = w;
  sec.s = s;
  sec.t = 0.0007f;
  return sec;
}

std::vector<kx::Section> sections() {
  std::vector<kx::Section> out;
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j)
      out.push_back(alumina(0.010f + 0.0037f * static_cast<float>(i),
                            0.002f + 0.0029f * static_cast<float>(j)));
  return out;
}

kx::Materials copper() {
  kx::Materials mat;
  mat.res = 1.7f;
  mat.sr = 2.5f;
  mat.tlos = 0.0005f;
  return mat;
}
const kx::Materials kCopper = copper();

// Argument: frequency in GHz.
void BM_EvaluateAt(benchmark::State& state) {
  const auto f = static_cast<float>(state.range(0));
  const std::vector<kx::Section> secs = sections();
  kx::CoupledLine line{kx::ModelSettings{kx::Model::closed}};
  std::size_t k = 0;
  const AllocCounter allocs;
  for (auto _ : state) {
    const kx::Modes m = line.at(secs[k], f);
    benchmark::DoNotOptimize(m);
    k = k + 1 == secs.size() ? 0 : k + 1;
  }
  allocs.report(state);
}
BENCHMARK(BM_EvaluateAt)->Arg(0)->Arg(10)->ArgNames({"ghz"})->Unit(benchmark::kMicrosecond);

void BM_EvaluateAtWithLosses(benchmark::State& state) {
  const auto f = static_cast<float>(state.range(0));
  const std::vector<kx::Section> secs = sections();
  kx::CoupledLine line{kx::ModelSettings{kx::Model::closed}};
  std::size_t k = 0;
  const AllocCounter allocs;
  for (auto _ : state) {
    const kx::Modes m = line.at(secs[k], kCopper, f);
    benchmark::DoNotOptimize(m);
    k = k + 1 == secs.size() ? 0 : k + 1;
  }
  allocs.report(state);
}
BENCHMARK(BM_EvaluateAtWithLosses)->Arg(10)->ArgNames({"ghz"})->Unit(benchmark::kMicrosecond);

// Argument: frequency in GHz.
void BM_Ms1sen(benchmark::State& state) {
  const auto f = static_cast<float>(state.range(0));
#ifdef KX_BENCH_PUBLIC_API
  kx::CoupledLine line{kx::ModelSettings{kx::Model::closed}};
  const kx::Section sec = alumina(0.022f, 0.008f);
  const AllocCounter allocs;
  for (auto _ : state) {
    const kx::Sensitivity r = line.sensitivity(sec, f, kx::Impedance::zoe);
    benchmark::DoNotOptimize(r);
  }
#else
  kx::Records rec{};
  const AllocCounter allocs;
  for (auto _ : state) {
    int iflag = 0;
    kx::ms1sen(rec, 9.8f, f, 0.025f, 0.25f, 1, iflag, 0.008f, 0.0007f, 0.022f);
    benchmark::DoNotOptimize(rec.mssen1);
  }
#endif
  allocs.report(state);
}
BENCHMARK(BM_Ms1sen)->Arg(0)->Arg(10)->ArgNames({"ghz"})->Unit(benchmark::kMicrosecond);

// The 15 levels -6 .. -20 dB of a 50 ohm coupler on 25 mil alumina.
// Argument: frequency in GHz.
void BM_Msws15Levels(benchmark::State& state) {
  const auto f = static_cast<float>(state.range(0));
  struct Target {
    float zoe, zoo;
  };
  std::vector<Target> targets;
  for (int k = 0; k < 15; ++k) {
    Target t{};
#ifdef KX_BENCH_PUBLIC_API
    const kx::Pair p = kx::pair_of(50.0f, static_cast<float>(6 + k));
    t.zoe = p.zoe;
    t.zoo = p.zoo;
#else
    float cc = 0.0f;
    float ko = -static_cast<float>(6 + k);
    float zo = 50.0f;
    kx::sl1zo(cc, ko, 1, zo, t.zoe, t.zoo);
#endif
    targets.push_back(t);
  }
#ifdef KX_BENCH_PUBLIC_API
  kx::CoupledLine line{kx::ModelSettings{kx::Model::closed}};
  const kx::Section sub = alumina(0.0f, 0.0f);
  const AllocCounter allocs;
  for (auto _ : state) {
    for (const Target& tg : targets) {
      kx::PairTarget target;
      target.zoe = tg.zoe;
      target.zoo = tg.zoo;
      target.f = f;
      const kx::Synthesis r = line.synthesise_pair(sub, target);
      benchmark::DoNotOptimize(r);
    }
  }
#else
  kx::Records rec{};
  const AllocCounter allocs;
  for (auto _ : state) {
    for (const Target& tg : targets) {
      int iflag = 0;
      float s = 0.0f;
      float w = 0.0f;
      kx::msws(rec, 9.8f, f, 0.025f, 0.25f, iflag, s, 0.0007f, w, tg.zoe, tg.zoo);
      benchmark::DoNotOptimize(s);
      benchmark::DoNotOptimize(w);
    }
  }
#endif
  allocs.report(state);
}
BENCHMARK(BM_Msws15Levels)->Arg(0)->Arg(10)->ArgNames({"ghz"})->Unit(benchmark::kMillisecond);

// One row of the impedance table (10 values): as a new string, and into a
// reused buffer (KX_BENCH_NO_FORMAT_TO: a tree without the buffer variant).
constexpr std::string_view kRow = "(3X,F8.4,F7.3,F8.3,2(F8.3),F9.3,F7.3,F7.3,F8.3,F8.3)";

void BM_FormatRowString(benchmark::State& state) {
  float w = 0.01f;
  const AllocCounter allocs;
  for (auto _ : state) {
    const std::string out = kx::ftn_format(kRow, {w, w / 0.025f, 47.28f, 69.281f, 32.265f, -8.766f,
                                                  6.956f, 5.585f, -0.040f, -0.100f});
    benchmark::DoNotOptimize(out.data());
    w += 3.0e-7f;
  }
  allocs.report(state);
}
BENCHMARK(BM_FormatRowString)->Unit(benchmark::kMicrosecond);

#ifndef KX_BENCH_NO_FORMAT_TO
void BM_FormatRow(benchmark::State& state) {
  std::string out;
  out.reserve(256);
  float w = 0.01f;
  const AllocCounter allocs;
  for (auto _ : state) {
    out.clear();
    kx::ftn_format_to(out, kRow,
                      {w, w / 0.025f, 47.28f, 69.281f, 32.265f, -8.766f, 6.956f, 5.585f, -0.040f,
                       -0.100f});
    benchmark::DoNotOptimize(out.data());
    w += 3.0e-7f;
  }
  allocs.report(state);
}
BENCHMARK(BM_FormatRow)->Unit(benchmark::kMicrosecond);
#endif

// Argument: values checked per iteration (random bit patterns and values
// near the rounding ties of the printed decimals).
void BM_FormatMatchesReference(benchmark::State& state) {
  const auto n = static_cast<std::uint32_t>(state.range(0));
  std::uint32_t x = 12345u;
  long mismatches = 0;
  long checked = 0;
  for (auto _ : state) {
    for (std::uint32_t i = 0; i < n; ++i) {
      x = x * 1664525u + 1013904223u;
      float v = 0.0f;
      if ((i & 1u) != 0) {
        std::uint32_t bits = x;
        std::memcpy(&v, &bits, sizeof v);
      } else {
        // k/2000 and its neighbours: the ties of 3 decimals and their next floats.
        const float base = static_cast<float>(static_cast<int>(x % 4000001u) - 2000000) / 2000.0f;
        v = std::nextafter(base, (x & 2u) != 0 ? 1e9f : -1e9f);
        if ((x & 4u) != 0) v = base;
      }
      const int d = static_cast<int>((x >> 8) % 8u);
      const int w = d + 1 + static_cast<int>((x >> 12) % 10u);
      if (kx::ftn_f(v, w, d) != kx::reference_f(v, w, d)) ++mismatches;
      ++checked;
    }
  }
  state.counters["mismatches"] = static_cast<double>(mismatches);
  state.counters["checked"] = static_cast<double>(checked);
}
BENCHMARK(BM_FormatMatchesReference)->Arg(1000000)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace
