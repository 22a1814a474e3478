// The evaluation of the working cross-section (W, S of the driver's working
// values) that the runs share: the model chain in its binding order.
#pragma once

#include "app/state.h"

namespace kx {

// Effective widths, static permittivities and static impedances (with the
// validity flag in st.work.iflag).
void static_section(State& st);

// Dispersive permittivities and impedances at f GHz (rec.lceff1, rec.lcdis1).
void dispersive_section(State& st, float f);

// Conductor and dielectric attenuation at f GHz, dB/inch; reads the
// permittivities the last dispersive evaluation left in rec.lceff1.
void section_losses(State& st, float& ate, float& ato, float f);

}  // namespace kx
