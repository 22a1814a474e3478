// The lines of a board cross-section on the general field solver
// (kestrelix/stack_solver.h): a line's Z0, effective permittivity and delay,
// a pair's Zdiff, Zcomm, Zoe, Zoo and its modes, the matrices, the crosstalk
// from aggressors beside them, and the trace width and gap that meet a
// target (kestrelix/stack_design.h); where the program has closed forms for
// the cross-section (the open microstrip, single and pair), their values
// beside the solver's.
//
//   kx::study::StructurePlan plan;
//   plan.stack = kx::stack::stripline_pair(0.5, 4.2, trace, 0.2);   // mm
//   plan.pair = true;
//   plan.solve = kx::study::StructureSolve::width_for_zdiff;
//   plan.zdiff = 90.0;
//   plan.neighbour_gap = 0.3;                    // an aggressor 0.3 mm away
//   const kx::study::Structure s = kx::study::structure(plan);
//   if (s.solved) use(s.width, s.gap, s.pair.zdiff, s.crosstalk[0].figures.kb);
//
// Lengths in the stack's unit; per unit length figures per metre (SI), as
// the solver gives them. No call throws for a plan it is given: what the
// solver or a search cannot do is solved = false with the reason and the
// flags (kestrelix/validity.h: refused, no_converge).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <kestrelix/stack.h>
#include <kestrelix/stack_solver.h>

namespace kx {
class Stop;
}  // namespace kx

namespace kx::study {

// What the search finds (kestrelix/stack_design.h); the plan's stack holds
// the start: its width, gap or pitch.
enum class StructureSolve {
  none,                               // the structure as given
  width_for_z0,                       // a line: the width for z0
  gap_for_zdiff,                      // a pair: the gap for zdiff at the stack's width
  width_for_zdiff,                    // a pair: the width for zdiff at the stack's gap
  width_and_gap_at_pitch,             // a pair: width and gap for zdiff at the stack's pitch
  width_and_gap_for_zdiff_and_zcomm,  // a pair: width and gap for zdiff and zcomm
};

struct StructurePlan {
  // The cross-section: its first signal (in the order of its conductors) is
  // the line, or its first two the pair; any further signals are aggressors
  // (crosstalk onto the line or pair). A search takes the line or pair alone.
  stack::Stack stack;
  bool pair = false;
  stack::Settings settings;
  StructureSolve solve = StructureSolve::none;
  double z0 = 0.0, zdiff = 0.0, zcomm = 0.0;  // targets, ohm
  double tolerance = 0.05;                    // ohm: the targets met on re-analysis
  // Aggressors added for the crosstalk (0: none): copies of the first
  // signal's trace on its interface, this far (edge to edge) beyond the
  // outermost signal edge there on the right, and with both_sides on the
  // left too. They are solved with the line or pair in a stack of their
  // own: the line's and pair's figures are those of the line or pair alone.
  double neighbour_gap = 0.0;
  bool both_sides = false;
  // The closed forms' values beside the solver's (where the program has
  // them); the stack's length unit in inches (their limits are absolute).
  bool closed_forms = false;
  double inches_per_unit = 1.0 / 25.4;
};

// Crosstalk onto the line (or, differentially, the pair) from one aggressor.
struct CrosstalkRow {
  std::size_t aggressor = 0;  // its line in `crosstalk_solution`
  double gap = 0.0;           // edge to edge from the nearest victim edge on its interface (NaN
                              // on another interface)
  stack::Crosstalk figures;
};

// One figure of the closed forms beside the solver's.
struct ClosedFigure {
  const char* quantity = "";  // the figure's key: "z0_ohm", "eff", "zoe_ohm", ...
  double closed = 0.0, field = 0.0;
  double difference_pct = 0.0;   // 100 (closed - field) / field
  double field_error_pct = 0.0;  // the solver's estimate of its own error, percent
};

struct ClosedForms {
  bool available = false;
  // Why there are none: "the program has closed forms for the open microstrip
  // (single and pair) only", "... rectangular strips", "... no mask".
  std::string reason;
  std::vector<ClosedFigure> figures;
  unsigned flags = 0;  // the closed forms' ranges and validity (wh, sh, er, s_lt_2t, cover, ...)
};

struct Structure {
  bool solved = false;  // false: `reason` says why, `flags` holds refused or no_converge
  std::string reason;
  stack::Stack stack;  // the line or pair as solved (with the width and gap found)
  stack::Solution solution;
  double width = 0.0;                     // the first signal's bottom width
  double gap = 0.0;                       // a pair's (broadside: the offset of the centres)
  int solves = 0;                         // field solutions of the search (1 without one)
  std::vector<stack::LineFigures> lines;  // every line of `solution`
  stack::PairFigures pair;                // plan.pair
  // With aggressors: the stack they are solved in and the rows.
  stack::Stack crosstalk_stack;
  stack::Solution crosstalk_solution;
  std::vector<CrosstalkRow> crosstalk;
  ClosedForms closed;
  // field_error where an error estimate is above what the accuracy setting
  // promises (kx::field::promised_error); refused, no_converge when not solved.
  unsigned flags = 0;
  bool valid() const { return solved && flags == 0; }
};

// Throws only kx::Stopped or kx::Interrupted (the Stop, polled between solutions).
Structure structure(const StructurePlan& plan, const Stop* stop = nullptr);

// The plan's stack with the aggressors of plan.neighbour_gap (the stack
// itself without), or a one-line reason in `why`.
stack::Stack with_neighbours(const StructurePlan& plan, const stack::Stack& s, std::string& why);

}  // namespace kx::study
