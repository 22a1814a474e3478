// Design on the general solver (kestrelix/stack_solver.h): the trace width
// and gap that give a line's Z0 or a pair's Zdiff (and Zcomm), and the hooks
// of a tolerance analysis: the stack's variables by name, a stack with some
// of them changed, and the solutions of a list of stacks.
//
//   const kx::stack::Stack proto = kx::stack::offset_stripline_pair(core, prepreg, trace, 0.15);
//   const kx::stack::Design d = kx::stack::width_for_zdiff(proto, 100.0);
//   // d.width, d.gap, d.zdiff (re-analysed), d.solves
//
// Lengths in the stack's unit. Thread-safe, no shared state.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include <kestrelix/stack.h>
#include <kestrelix/stack_solver.h>

namespace kx::stack {

// ---------------------------------------------------------------------------
// Synthesis. The prototype stack gives everything but the width and gap:
// one signal (a line) or two (a pair; on one interface, or on two for a
// broadside pair, whose "gap" is then the lateral offset of their centres).
// The signals keep their centre (a pair its middle), their insets (the
// etch) and their thicknesses; coplanar grounds keep their gaps to the
// nearest signal edge; everything else is left as it is.

// The prototype with the signals' bottom width and (for a pair) their gap.
Stack with_width_and_gap(const Stack& proto, double width, double gap);

struct Design {
  double width = 0.0, gap = 0.0;    // the answer (gap: the prototype's for a line)
  Solution solution;                // of the answer's stack
  double z0 = 0.0;                  // a line's, re-analysed
  double zdiff = 0.0, zcomm = 0.0;  // a pair's, re-analysed
  int solves = 0;                   // field solutions it took
};

// Each searches by Newton steps on the logarithms of the impedances and the
// dimensions (secant slopes, a start from the prototype) until the
// re-analysed impedance lies within `tolerance` ohm of its target; throws
// std::invalid_argument for an unreachable target (a width or gap that would
// leave the solver's range, or no convergence in 30 solutions).
Design width_for_z0(const Stack& proto, double z0, const Settings& settings = {},
                    double tolerance = 0.05);
Design gap_for_zdiff(const Stack& proto, double zdiff, const Settings& settings = {},
                     double tolerance = 0.05);
Design width_for_zdiff(const Stack& proto, double zdiff, const Settings& settings = {},
                       double tolerance = 0.05);
// Width and gap at the prototype's pitch (width + gap).
Design width_and_gap_for_zdiff_at_pitch(const Stack& proto, double zdiff,
                                        const Settings& settings = {}, double tolerance = 0.05);
Design width_and_gap_for_zdiff_and_zcomm(const Stack& proto, double zdiff, double zcomm,
                                         const Settings& settings = {}, double tolerance = 0.05);

// ---------------------------------------------------------------------------
// Tolerance hooks.

// A variable of a stack: each layer's thickness and Er; the signals' width
// (each about its centre: a pair's gap changes by the opposite amount;
// coplanar grounds stay), every conductor's thickness (the insets scaled so
// the etch factor stays) and inset (the etch); the mask's three thicknesses
// and Er.
struct Variable {
  enum class Kind {
    layer_thickness,
    layer_er,
    trace_width,
    conductor_thickness,
    conductor_inset,
    mask_over_trace,
    mask_on_substrate,
    mask_between,
    mask_er
  } kind = Kind::layer_thickness;
  std::size_t layer = 0;  // for the layers' variables
};

// Every variable the stack has (the mask's only with a mask, the inset only
// with thick conductors).
std::vector<Variable> variables(const Stack& s);
// Its name, as the stackup file names the entry: "layers[1].er",
// "mask.between", "trace_width", "conductors.thickness", "conductors.inset".
std::string name(const Variable& v);
// Its value in s (trace_width: the first signal's bottom width; the
// conductors' variables: the first signal's).
double value(const Stack& s, const Variable& v);
// s with the variables set to the values (conductor variables move every
// conductor by the same amount as the first signal's).
Stack with_values(const Stack& s, const std::vector<std::pair<Variable, double>>& values);

// The solutions of a list of stacks, each on its own; a stack the solver
// refuses gives its reason instead of a solution.
struct Outcome {
  bool solved = false;
  std::string reason;  // when not solved
  Solution solution;
};
std::vector<Outcome> evaluate(const std::vector<Stack>& stacks, const Settings& settings = {});

}  // namespace kx::stack
