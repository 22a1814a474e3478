// Dimensional synthesis of the coupled pair and the design centre frequency.
#pragma once

#include "common/records.h"

namespace kx {

// W and S of the covered pair whose Zoe, Zoo equal zoed, zood at f GHz
// (Akhtarzad estimate refined by a step-and-halve search). On return
// rec.lcdis1 and rec.lceff1 describe the returned cross-section.
void msws(Records& rec, float er, float f, float h, float h2, int& iflag, float& s, float t,
          float& w, float zoed, float zood);

// How a call of msws ended and what it cost; for tests and benchmarks.
struct MswsStats {
  enum class Exit {
    converged,       // both errors within the final tolerance
    width_unchanged, // the width step left W as it was
    model_flag,      // the model chain raised its validity flag
    too_wide,        // W/H above its limit
    search_bound,    // a spacing search ran out of evaluations
    outer_bound,     // the width iteration ran out of steps
  };
  Exit exit{Exit::converged};
  int evaluations{};     // chain evaluations in the whole call
  int outer_steps{};     // spacing searches started
  int longest_search{};  // most chain evaluations in one spacing search
};

// msws that also reports its exit reason and evaluation counts.
void msws_counted(Records& rec, float er, float f, float h, float h2, int& iflag, float& s,
                  float t, float& w, float zoed, float zood, MswsStats& stats);

// Design centre frequency (GHz) at which the length l is a quarter of the
// guided wavelength of the pair.
void msfsyn(Records& rec, float effc, float effe, float effo, float er, float& f, float h,
            float l, float s, float wte, float wto);

}  // namespace kx
