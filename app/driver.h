// The program driver: the pass loop, the report stamp, the dispatch to one
// run, the end-of-run lines and the next-OPERATION menu.
#pragma once

#include <iosfwd>

#include "app/state.h"
#include "input/dialogue.h"

namespace kx {

// Runs the whole program on the given streams and clock, in the current
// working directory. Returns the exit status: 0 when the user leaves through
// the OPERATION menu, 1 for every end by error (a failed write to the output
// file or the console included), 128 + the signal for an end by SIGINT or
// SIGTERM. With `terminal` (answers typed at a terminal) an answer that is
// not a number is asked again instead of ending the program.
int run_program(std::istream& in, std::ostream& out, std::ostream& err, const Clock& clock,
                bool terminal = false);

}  // namespace kx
