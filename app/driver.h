// The program driver: the pass loop, the report stamp, the dispatch to one
// run, the end-of-run lines and the next-OPERATION menu.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>

#include "app/state.h"
#include "input/dialogue.h"

namespace kx {

// Pass initialisation: the records that every pass takes from the design
// record (the default Zoe, Zoo pair in rec.lcdis1).
void start_pass(State& st);

// Runs the whole program on the given streams and clock, in the current
// working directory. Returns the exit status: 0 when the user leaves through
// the OPERATION menu, 1 for every end by error.
int run_program(std::istream& in, std::ostream& out, std::ostream& err, const Clock& clock);

// Settings that only tests and fuzzing use; the program itself runs without
// them.
struct ProgramLimits {
  // Console lines after which the run ends with status 1 (0: no limit).
  std::size_t max_console_lines = 0;
  // Maps the output file name before it is opened (empty: opened as named).
  std::function<std::string(const std::string&)> output_name;
};
int run_program(std::istream& in, std::ostream& out, std::ostream& err, const Clock& clock,
                const ProgramLimits& limits);

}  // namespace kx
