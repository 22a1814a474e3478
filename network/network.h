// Chain-matrix arithmetic and the four-port response of the coupler:
// the even/odd-mode decomposition of the symmetric coupled-line four-port,
// each mode a uniform lossy line between the source and load resistances.
// Impedances in ohms, angles in radians, attenuation in nepers (lcfa: dB).
#pragma once

#include <array>

#include "common/records.h"

namespace kx {

// A complex value: real part, imaginary part.
using Complex = std::array<float, 2>;
// A chain matrix: A, B, C, D, each a complex value
// (in memory Re A, Im A, Re B, Im B, Re C, Im C, Re D, Im D).
using Abcd = std::array<Complex, 4>;

// Chain matrix of a uniform line of impedance z, electrical length theta
// (radians) and total attenuation sigma (nepers): cosh/sinh of sigma + j theta.
void xline(float z, float theta, float sigma, Abcd& abcd);
// Transmission tau and reflection gamma of the two-port `abcd` between a
// source of resistance zs and a load zl (ohms).
void taugam(Complex& tau, Complex& gamma, const Abcd& abcd, float zl, float zs);
// (xt, yt) = (x1, y1)(x2, y2); with ltype 2 the product with the conjugate
// of (x2, y2) instead.
void nmult(int ltype, float& xt, float& yt, float x1, float y1, float x2, float y2);
// Four-quadrant arctangent of y/x in (-pi, pi]: atn2(0, 0) = 0, the negative
// real axis +pi, and NaN when either argument is NaN.
float atn2(float y, float x);

// The waves leaving ports 1 to 4 (reflected, coupled, isolated, thru) of a
// coupler of length l (inch) at f GHz for unit incident power at port 1:
// the even- and odd-mode line sections (xline) between rs and rl (taugam),
// combined as (goe + goo)/2, (goe - goo)/2, (tauoe - tauoo)/2 and
// (tauoe + tauoo)/2. Arguments as for lcfa.
using PortWaves = std::array<Complex, 4>;
PortWaves coupler_waves(float f, float ate, float ato, float effe, float effo, float l, float rl,
                        float rs, float zoe, float zoo);

// Four-port response of a coupler of length l (inch) at the frequency
// rec.lcfa1.fo (GHz), which the caller sets before the call: mode
// impedances zoe, zoo (ohms), dispersive mode permittivities effe, effo and
// attenuations ate, ato (dB/inch), port 1 driven from rs and port 2 loaded
// by rs, ports 3 and 4 loaded by rl (ohms). Writes the amplitudes (dB),
// phases (degrees), VSWR, quadrature phase and losses to rec.lcfa1; fo is
// only read.
void lcfa(Records& rec, float ate, float ato, float effe, float effo, float l, float rl, float rs,
          float zoe, float zoo);

}  // namespace kx
