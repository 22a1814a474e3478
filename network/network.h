// Chain-matrix arithmetic and the four-port response of the coupler.
#pragma once

#include <array>

#include "common/records.h"

namespace kx {

// A complex value: real part, imaginary part.
using Complex = std::array<float, 2>;
// A chain matrix: A, B, C, D, each a complex value
// (in memory Re A, Im A, Re B, Im B, Re C, Im C, Re D, Im D).
using Abcd = std::array<Complex, 4>;

void xline(float z, float theta, float sigma, Abcd& abcd);
void taugam(Complex& tau, Complex& gamma, const Abcd& abcd, float zl, float zs);
void nmult(int ltype, float& xt, float& yt, float x1, float y1, float x2, float y2);
float atn2(float y, float x);

// Four-port response at the frequency rec.lcfa1.fo; results in rec.lcfa1.
void lcfa(Records& rec, float ate, float ato, float effe, float effo, float l, float rl,
          float rs, float zoe, float zoo);

}  // namespace kx
