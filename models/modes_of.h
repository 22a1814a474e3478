// The façade's modes read from one evaluation of the chain: the static
// values it left in `c`, the dispersive ones in rec.lceff1 and rec.lcdis1,
// and the coupler impedance and coupling of both. Private to the library
// (the closed forms' and the field model's evaluations share it).
#pragma once

#include <kestrelix/coupled_line.h>
#include <kestrelix/validity.h>

#include "models/chain.h"

namespace kx {

// Fills every static and dispersive member of `m` (not f, the validity or
// the losses).
void read_modes(Modes& m, const ChainValues& c, const Records& rec);

// The validity of `m`, the modes of `sec` at f on `model`: its flags (the
// ranges, the models' flag and accuracy limits, refused, not_finite over
// every value; with the field model er for a coating's Er above 20 and
// field_error where the solver's own estimate is above its accuracy
// setting's promise) and valid.
void finish_validity(Modes& m, const Section& sec, float f, const ModelSettings& model);

}  // namespace kx
