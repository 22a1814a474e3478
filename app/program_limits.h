// Settings of the program driver that only tests and fuzzing use; the
// program itself runs without them.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>

#include "app/driver.h"

namespace kx {

struct ProgramLimits {
  // Console lines after which the run ends with status 1 (0: no limit).
  std::size_t max_console_lines = 0;
  // Maps the output file name before it is opened (empty: opened as named).
  std::function<std::string(const std::string&)> output_name;
};
int run_program(std::istream& in, std::ostream& out, std::ostream& err, const Clock& clock,
                const ProgramLimits& limits);

}  // namespace kx
