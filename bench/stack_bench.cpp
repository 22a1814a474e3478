// Cost of one solution of a general cross-section (the capacitance matrices
// with and without the dielectrics at the two meshes of the error estimate,
// then the inductance, impedance and mode figures) for the named structures
// and for buses of three to six lines, at the standard and the fine setting.
// The machine may be shared: read the minimum over repetitions, e.g.
//   bench_stack_bench --benchmark_repetitions=15 --benchmark_report_aggregates_only
#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "kestrelix/stack_design.h"
#include "kestrelix/stack_solver.h"

namespace {

using namespace kx::stack;

// A 100 ohm board in mm: 35 um copper, 0.1 mm dielectrics, etched trapezoids.
Trace trace(double width) {
  Trace t;
  t.width = width;
  t.thickness = 0.035;
  t.top_width = width - 0.02;
  return t;
}
Mask mask() {
  Mask m;
  m.over_trace = 0.015;
  m.on_substrate = 0.02;
  m.between = 0.025;
  m.er = 3.5;
  return m;
}

// n lines of `t` at a pitch on interface 1 of `s` (its conductors replaced),
// the last moved by `shift` (0: a symmetric bus).
Stack bus(Stack s, const Trace& t, int n, double pitch, double shift) {
  s.conductors.clear();
  for (int k = 0; k < n; ++k) {
    Conductor c;
    c.left = k * pitch;
    c.right = c.left + t.width;
    c.thickness = t.thickness;
    c.inset = 0.5 * (t.width - t.top_width);
    if (k == n - 1) {
      c.left += shift;
      c.right += shift;
    }
    s.conductors.push_back(c);
  }
  return s;
}

struct Case {
  const char* name;
  std::function<Stack()> make;
};

const Layer kCore{0.1, 4.2, 0.02, "core"};
const Layer kPrepreg{0.1, 3.9, 0.02, "prepreg"};

const std::vector<Case>& cases() {
  static const std::vector<Case> all = {
      {"stripline_pair", [] { return stripline_pair(0.235, 4.2, trace(0.1), 0.15); }},
      {"offset_stripline_pair",
       [] { return offset_stripline_pair(kCore, kPrepreg, trace(0.09), 0.15); }},
      {"embedded_microstrip_pair",
       [] {
         return embedded_microstrip_pair(kCore, {0.05, 3.5, 0.02, ""}, trace(0.12), 0.15);
       }},
      {"coated_microstrip_pair", [] { return microstrip_pair(kCore, trace(0.15), 0.15, mask()); }},
      {"gcpw_pair", [] { return gcpw_pair(kCore, trace(0.15), 0.15, 0.15, kUnbounded, mask()); }},
      {"broadside_pair",
       [] {
         return broadside_pair(kCore, {0.15, 3.9, 0.02, ""}, kCore, trace(0.1));
       }},
      {"coated_microstrip", [] { return microstrip(kCore, trace(0.18), mask()); }},
      {"gcpw", [] { return gcpw(kCore, trace(0.18), 0.15); }},
      {"stripline_3_victim_between",
       [] { return bus(offset_stripline(kCore, kPrepreg, trace(0.1)), trace(0.1), 3, 0.25, 0.0); }},
      {"coated_pair_beside_aggressor",
       [] {
         Stack s = microstrip_pair(kCore, trace(0.15), 0.15, mask());
         Conductor a = s.conductors[1];
         a.left += 0.6;
         a.right += 0.6;
         s.conductors.push_back(a);
         return s;
       }},
      {"stripline_6_bus",
       [] { return bus(offset_stripline(kCore, kPrepreg, trace(0.1)), trace(0.1), 6, 0.25, 0.0); }},
      {"stripline_6_asymmetric",
       [] {
         return bus(offset_stripline(kCore, kPrepreg, trace(0.1)), trace(0.1), 6, 0.25, 0.05);
       }},
      {"coated_microstrip_6_bus",
       [] { return bus(microstrip(kCore, trace(0.1), mask()), trace(0.1), 6, 0.25, 0.0); }},
      {"coated_microstrip_6_asymmetric",
       [] { return bus(microstrip(kCore, trace(0.1), mask()), trace(0.1), 6, 0.25, 0.05); }},
      // A 90 ohm pair on a six-layer board's third layer: 0.2 mm of core to
      // the plane below, 0.18 mm of prepreg to the plane above, 5 mil traces.
      {"offset_stripline_pair_90_ohm",
       [] {
         return offset_stripline_pair({0.2, 4.3, 0.02, "core"}, {0.18, 4.0, 0.02, "prepreg"},
                                      trace(0.127), 0.15);
       }},
      {"coated_gcpw_50_ohm", [] { return gcpw(kCore, trace(0.157), 0.2, kUnbounded, mask()); }},
      // Crosstalk onto a coated microstrip between two aggressors.
      {"coated_3_victim_between",
       [] { return bus(microstrip(kCore, trace(0.15), mask()), trace(0.15), 3, 0.4, 0.0); }},
  };
  return all;
}

// Arguments: the case's index, 0 standard / 1 fine.
void BM_StackSolve(benchmark::State& state) {
  const Case& c = cases()[static_cast<std::size_t>(state.range(0))];
  const Stack s = c.make();
  Settings set;
  set.accuracy = state.range(1) ? Accuracy::fine : Accuracy::standard;
  std::size_t panels = 0;
  for (auto _ : state) {
    const Solution sol = solve(s, set);
    panels = sol.panels;
    benchmark::DoNotOptimize(sol);
  }
  state.SetLabel(std::string(c.name) + (state.range(1) ? " fine" : " standard") + ", " +
                 std::to_string(panels) + " panels");
}
BENCHMARK(BM_StackSolve)
    ->ArgsProduct({benchmark::CreateDenseRange(0, static_cast<int>(cases().size()) - 1, 1), {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", [](const std::vector<double>& v) {
      return *std::min_element(v.begin(), v.end());
    });

// With each region's share and the surface charge (what the loss models ask).
void BM_StackSolveForLosses(benchmark::State& state) {
  const Stack s = microstrip_pair(kCore, trace(0.15), 0.15, mask());
  Settings set;
  set.filling = true;
  set.surface = true;
  for (auto _ : state) {
    const Solution sol = solve(s, set);
    benchmark::DoNotOptimize(sol);
  }
}
BENCHMARK(BM_StackSolveForLosses)->Unit(benchmark::kMillisecond);

// The syntheses from their prototypes: 0 width for Z0 50 ohm (coated GCPW),
// 1 gap for Zdiff 85, 2 width for Zdiff 100, 3 width and gap for Zdiff 100 at
// the pitch, 4 width and gap for Zdiff 100 and Zcomm 30 (offset stripline
// pair), 5 width and gap for Zdiff 90 and Zcomm 28 (coated microstrip pair).
void BM_StackSynthesis(benchmark::State& state) {
  const Stack line_proto = gcpw(kCore, trace(0.1), 0.15, kUnbounded, mask());
  const Stack pair_proto = offset_stripline_pair(kCore, kPrepreg, trace(0.1), 0.15);
  const Stack coated = microstrip_pair(kCore, trace(0.1), 0.15, mask());
  int solves = 0;
  for (auto _ : state) {
    Design d;
    switch (state.range(0)) {
      case 0:
        d = width_for_z0(line_proto, 50.0);
        break;
      case 1:
        d = gap_for_zdiff(pair_proto, 85.0);
        break;
      case 2:
        d = width_for_zdiff(pair_proto, 100.0);
        break;
      case 3:
        d = width_and_gap_for_zdiff_at_pitch(pair_proto, 100.0);
        break;
      case 4:
        d = width_and_gap_for_zdiff_and_zcomm(pair_proto, 100.0, 30.0);
        break;
      default:
        d = width_and_gap_for_zdiff_and_zcomm(coated, 90.0, 28.0);
        break;
    }
    solves = d.solves;
    benchmark::DoNotOptimize(d);
  }
  state.SetLabel(std::to_string(solves) + " solutions");
}
BENCHMARK(BM_StackSynthesis)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);

}  // namespace
