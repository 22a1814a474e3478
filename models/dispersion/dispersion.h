// Frequency dispersion of the single line and of the coupled pair.
#pragma once

#include "common/records.h"

namespace kx {

// Single-line dispersion (Kirschning-Jansen permittivity, Jansen-Kirschning
// impedance). Results in rec.mszo1.
void mszo(Records& rec, float ef, float er, float f, float h1, float w, float zo);

// Coupled-line permittivity dispersion (Kirschning-Jansen). Results in rec.lceff1.
void lceff(Records& rec, float effc, float effe, float effo, float er, float f, float h,
           int ieoro, int iop, float s, float wte, float wto);

// Coupled-line impedance dispersion (Kirschning-Jansen) with the validity
// tests on the dispersive values. Does nothing but copy the static values
// while iflag is non-zero. Results in rec.lcdis1 (and rec.msimp1, rec.mszo1).
void lcdis(Records& rec, float effo, float effof, float er, float f, float h, float h2,
           int ieoro, int& iflag, int iop, float s, float wte, float wto, float zoedc,
           float zoodc);

}  // namespace kx
