// The program-wide state: the design record and the model result records,
// owned by the driver and passed by reference. What a run computes from them
// (the swept W and S, the coupler impedance and coupling of a row, the
// losses) lives in the run; nothing of it is read by a later pass.
#pragma once

#include "common/records.h"
#include "input/design.h"

namespace kx {

struct State {
  Design design;
  Records rec;
};

}  // namespace kx
