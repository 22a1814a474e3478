// The program-wide state: the design record, the frequency answer and the
// evaluator the runs analyse with, owned by the driver and passed by
// reference. What a run computes (the swept W and S, the coupler impedance
// and coupling of a row, the losses) lives in the run; nothing of it is read
// by a later pass.
#pragma once

#include <kestrelix/coupled_line.h>

#include "shared/design.h"

namespace kx {

struct State {
  Design design;
  // Fo, GHz: the frequency answer of the dialogue (the spot, design centre
  // or synthesis frequency); the defaults file's F. until a prompt sets it.
  float fo{};
  // The dialogue computes with the closed forms, as its reports always did.
  CoupledLine line{ModelSettings{Model::closed}};
};

}  // namespace kx
