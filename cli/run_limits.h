// The limits of one scripted run, for a caller that runs command lines
// in-process (a server).
#pragma once

#include "common/stop.h"

namespace kx::cli {

// What one run may do, for a caller that runs command lines in-process (a
// server): the defaults are the program's own limits.
struct RunLimits {
  const Stop* stop = nullptr;         // nullptr: the process's signals only
  bool files = true;                  // false: options that read or write a file are usage errors
  long long max_points = 100000;      // points of one sweep
  long long max_samples = 100000000;  // tolerance samples
  unsigned max_threads = 0;           // 0: the machine's cores
};

}  // namespace kx::cli
