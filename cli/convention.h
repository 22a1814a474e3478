// The scripted face's signs, each formed from the library's value in one
// place: coupling as a positive number of dB (as --coupling takes it),
// attenuation as positive dB per length. The library gives the coupling in
// negative dB (-10 = a 10 dB coupler, -999.999 when Zoo >= Zoe) and the
// attenuation in positive dB per inch.
#pragma once

#include "cli/document.h"
#include "models/coupled_line.h"

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
