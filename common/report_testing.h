// Settings of the report writer that only tests and fuzzing use: a bound on
// the console report, so that a run with a huge sweep stays short.
#pragma once

#include <cstddef>
#include <stdexcept>

#include "common/report.h"

namespace kx {

// Thrown when a report passes the line limit set for it.
struct ReportLimit : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class ReportTesting {
 public:
  // Console lines allowed before ReportLimit is thrown; 0 means no limit.
  static void set_line_limit(Report& rep, std::size_t lines) { rep.line_limit_ = lines; }
};

}  // namespace kx
