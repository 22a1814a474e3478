// The documents of `kestrelix line` (cli/document.h): a board
// cross-section's layers, conductors, lines, pair, modes, crosstalk and the
// closed forms beside the solver; or its tolerance run, in the layout of the
// coupler's (cli/tolerance_output.h).
#pragma once

#include <string>

#include <kestrelix/structure.h>

#include "cli/document.h"
#include "tolerance/stack_tolerance.h"

namespace kx::cli {

// Length factors of the run's unit.
struct LineUnits {
  double m_per_unit = 0.001;  // metres per length unit
};

// The rows of a solved structure (the document's inputs are the caller's);
// `w` and `gap` as in line_summary.
void line_rows(Document& doc, const study::Structure& s, bool pair, const LineUnits& u, double w,
               double gap);
// The summary of a solved structure: the search's answer and its cost.
// `w` and `s`: the width and gap as typed where the search did not move
// them (the stack's own sums carry rounding).
void line_summary(Document& doc, const study::Structure& s, bool pair, const std::string& solve,
                  double w, double gap);

// The rows and summary of a tolerance run (inputs are the caller's).
void line_tolerance_rows(Document& doc, const tol::StackStudy& study, const tol::StackSummary& sum);

}  // namespace kx::cli
