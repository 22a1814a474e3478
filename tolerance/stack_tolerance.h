// Tolerance and yield of a line or pair of a board cross-section (the
// general field solver, kestrelix/stack.h) by Monte Carlo sampling: every
// sample draws each variable of the stack (every layer's thickness and Er,
// the conductors' thickness and inset, the mask's thicknesses and Er) and
// the traces' width, gap and etch offset around their nominal values,
// solves the drawn stack and takes the line's or pair's figures; the run
// reports the spread of every figure, the yield against limits (the 95 %
// Wilson interval) and each tolerance's share of the spread, as the
// coupler's tolerance run does (tolerance/tolerance.h, doc/tolerance.md).
//
// Reproducible: sample i draws from its own random stream, seeded from
// (seed, i), so the numbers do not depend on the thread count.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <kestrelix/stack.h>
#include <kestrelix/stack_solver.h>

#include "tolerance/figures.h"

namespace kx {
class Stop;
}  // namespace kx

namespace kx::tol {

// The tolerances, each applied to every variable of its kind (drawn
// independently): h every layer's thickness, er every layer's Er, w the
// traces' width (the gap stays), s a pair's gap, t the conductors'
// thickness, etch one offset of every trace edge (width - 2x, gap + 2x),
// inset the top corners' inset, mask the mask's three thicknesses, mask_er
// its Er.
enum StackParam : int {
  sp_h,
  sp_er,
  sp_w,
  sp_s,
  sp_t,
  sp_etch,
  sp_inset,
  sp_mask,
  sp_mask_er,
  n_stack_params
};
inline constexpr std::array<const char*, n_stack_params> stack_param_names{
    "h", "er", "w", "s", "t", "etch", "inset", "mask", "mask_er"};

// The figures: a line's z0 (ohm), eff, delay; a pair's zdiff, zcomm, zoe,
// zoo (ohm), eff_e, eff_o, delay_e, delay_o. Delays in StackStudy::delay_scale
// units.
std::vector<std::string> stack_figure_names(bool pair);
// "ohm", "" or "delay" (the caller's delay unit).
const char* stack_figure_unit(const std::string& name);

struct StackLimit {
  int figure = 0;  // index into stack_figure_names
  double min = 0.0, max = 0.0;
  bool relative = false;  // about the nominal value
};
// NAME=MIN:MAX (an end may be empty), NAME=+-X (within X of the nominal
// value) or NAME=C:+-X (within X of C; X may end in % of C); throws Error.
StackLimit parse_stack_limit(std::string_view text, bool pair);

struct StackStudy {
  stack::Stack nominal;  // the line (one signal) or pair (two), lengths in one unit
  bool pair = false;
  stack::Settings settings;
  // Half-widths, lengths in the stack's unit (Er: a number); relative: a
  // fraction of each variable's own nominal value.
  std::array<double, n_stack_params> half{};
  std::array<bool, n_stack_params> relative{};
  Dist dist = Dist::normal;
  long long samples = 1000;
  std::uint64_t seed = 1;
  unsigned threads = 0;  // 0: one per core
  std::vector<StackLimit> limits;
  double delay_scale = 1.0;  // the delays' unit per s/m
  const Stop* stop = nullptr;
};

// The samples of each one-at-a-time pass of the shares (or the run's, if fewer).
inline constexpr long long stack_oat_samples = 500;
inline constexpr long long max_stack_samples = 100000;

// "" or the one-line reason the study cannot run.
std::string check_stack(const StackStudy& study);

struct StackFigureStats {
  double nominal = 0.0;
  long long count = 0;
  double mean = 0.0, stddev = 0.0, min = 0.0, max = 0.0;
  std::array<double, 5> pct{};
  std::vector<long long> histogram;
  std::array<double, n_stack_params> share{};
};

struct StackSummary {
  long long samples = 0;
  long long valid = 0;        // solved and within the solver's promised accuracy
  long long field_error = 0;  // solved, an error estimate above the promise (in the statistics)
  long long unphysical = 0;   // no draw the solver takes within the redraw limit
  long long failed = 0;       // the solver gave no solution
  long long redraws = 0;
  std::vector<std::string> figures;
  std::vector<StackFigureStats> fig;
  // Stack variables each tolerance moves (0: it has none, e.g. mask without a mask).
  std::array<int, n_stack_params> moved{};
  std::vector<StackLimit> limits;  // absolute
  std::vector<Yield> yields;
  Yield joint;
  long long oat_samples = 0;
  unsigned nominal_flags = 0;  // field_error at the nominal stack
  double nominal_error = 0.0;  // the largest relative error estimate there
};

// Throws Error (a bad study, a nominal stack the solver cannot take),
// kx::Stopped or kx::Interrupted.
StackSummary run_stack(const StackStudy& study);

}  // namespace kx::tol
