// solve() with the fine setting's constant floors of its error estimate
// scaled: for measured(), whose accurate solution is the fine setting at a
// higher refinement (doc/field_solver.md, "Error estimate").
#pragma once

#include "kestrelix/field.h"

namespace kx::field {

// solve(g, settings) with the fine accuracy's f0 and f1 times `floors` (1:
// solve() itself, bit for bit); the standard accuracy's estimate unscaled.
Result solve_floors(const Geometry& g, const Settings& settings, double floors);

// true for a coated strip thinner than the standard setting's thinnest
// meshed strip: the standard setting meshes its corners as those of a
// thicker strip, the finer settings follow them, so a finer solution does
// not measure the standard one's error there.
bool thin_coated(const Geometry& g);

}  // namespace kx::field
