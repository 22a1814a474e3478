// The program driver: the pass loop, the report stamp, the dispatch to one
// run, the end-of-run lines and the next-OPERATION menu.
#pragma once

#include <iosfwd>

#include "input/dialogue.h"

namespace kx {

// Runs the whole program on the given streams and clock, in the current
// working directory. Returns the exit status: 0 when the user leaves through
// the OPERATION menu, 1 for every end by error.
int run_program(std::istream& in, std::ostream& out, std::ostream& err, const Clock& clock);

}  // namespace kx
