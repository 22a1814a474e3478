// The scripted face's signs, each formed from the library's value in one
// place: coupling as a positive number of dB (as --coupling takes it),
// attenuation as positive dB per length. The library speaks the same
// convention (coupling in positive dB, NaN when Zoo >= Zoe;
// attenuation in positive dB per inch): these are the places where the
// scripted face would differ from it.
#pragma once

#include <kestrelix/coupled_line.h>
#include "cli/document.h"

namespace kx::cli {

// The coupling of a library value, positive dB; none when Zoo >= Zoe (the
// pair does not couple: no level exists).
Value coupling_db(float library_db);
// The library's coupling for a positive level in dB.
float library_coupling(float coupling_db);
// The even- and odd-mode attenuation, positive dB per inch.
float attenuation_e(const Modes& m);
float attenuation_o(const Modes& m);
// A loss of the four-port as positive dB, from its level (10 log10 of a
// power fraction, 0 or below).
float loss_db(float level_db);

}  // namespace kx::cli
