// Frequency dispersion of the single line and of the coupled pair.
//
// Units: f in GHz, lengths in inches (the normalised frequency is
// f * h * 25.4 GHz-mm), impedances in ohms. Every routine returns its static
// inputs at f = 0 (lceff and lcdis at any f <= 0, mszo also for an air line,
// er = 1). ieoro and iop take the named values of models/selectors.h.
//
// References:
//   [KJ82] M. Kirschning, R. H. Jansen, "Accurate model for effective
//          dielectric constant of microstrip with validity up to
//          millimetre-wave frequencies", Electronics Letters 18, 1982.
//   [JK83] R. H. Jansen, M. Kirschning, "Arguments and an accurate model for
//          the power-current formulation of microstrip characteristic
//          impedance", AEU 37, 1983.
//   [KJ84] M. Kirschning, R. H. Jansen, "Accurate wide-range design equations
//          for the frequency-dependent characteristic of parallel coupled
//          microstrip lines", IEEE Trans. MTT-32, no. 1, 1984.
#pragma once

#include "common/records.h"
#include "models/selectors.h"

namespace kx {

// Single-line dispersion: [KJ82] permittivity P1 to P4, [JK83] power-current
// impedance R1 to R17. ef and zo are the static values of msimp for the strip
// of width w on a substrate h1 thick with dielectric constant er.
// Writes rec.mszo1 (eff, zof); reads nothing from an earlier call.
void mszo(Records& rec, float ef, float er, float f, float h1, float w, float zo);

// Coupled-line permittivity dispersion, [KJ84] P1 to P15: the static effc,
// effe, effo of mscuppv (effective widths wte, wto of lcwta, gap s, substrate
// h and er) at f. Writes rec.lceff1 (effcf, effef, effof); with
// iop_single_mode only the mode named by ieoro is dispersed, and the other
// members hold the static inputs.
void lceff(Records& rec, float effc, float effe, float effo, float er, float f, float h, int ieoro,
           int iop, float s, float wte, float wto);

// Coupled-line impedance dispersion, [KJ84] Q11 to Q29, with the validity
// tests of ms1imp repeated on the dispersive values (iflag 2: Zoo above Zoe,
// 1: above the odd-width single strip). zoedc, zoodc are the static
// impedances of ms1imp, effo the static odd-mode permittivity and effof the
// dispersive one (rec.lceff1.effof of the lceff just before). Does nothing
// but copy the static values while iflag is non-zero on entry. Writes
// rec.lcdis1 (zoef, zoof) and, through msimp and mszo for the even/odd
// widths, rec.msimp1 and rec.mszo1; with iop_single_mode only the mode named
// by ieoro is dispersed, and the other member holds its static input.
void lcdis(Records& rec, float effo, float effof, float er, float f, float h, float h2, int ieoro,
           int& iflag, int iop, float s, float wte, float wto, float zoedc, float zoodc);

}  // namespace kx
