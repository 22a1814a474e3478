// Test and benchmark hooks of the W and S synthesis (not installed).
#pragma once

#include "common/records.h"

namespace kx {

// How a call of msws ended and what it cost; for tests and benchmarks.
struct MswsStats {
  enum class Exit {
    converged,        // both errors within the final tolerance
    width_unchanged,  // the width step left W as it was
    model_flag,       // the model chain raised its validity flag
    too_wide,         // W/H above its limit
    search_bound,     // a spacing search ran out of evaluations
    outer_bound,      // the width iteration ran out of steps
  };
  Exit exit{Exit::converged};
  int evaluations{};     // chain evaluations in the whole call
  int outer_steps{};     // spacing searches started
  int longest_search{};  // most chain evaluations in one spacing search
};

// msws that also reports its exit reason and evaluation counts.
void msws_counted(Records& rec, float er, float f, float h, float h2, int& iflag, float& s, float t,
                  float& w, float zoed, float zood, MswsStats& stats);

}  // namespace kx
