// Exact results the solvers are checked against.
#pragma once

#include <cmath>

namespace kx::test {

// Complete elliptic integral of the first kind, K(k) of the modulus k.
inline double elliptic_k(double k) { return std::comp_ellint_1(k); }

// K(k') of the complementary modulus k' = sqrt(1 - k^2).
inline double elliptic_k_prime(double k) { return std::comp_ellint_1(std::sqrt(1.0 - k * k)); }

// An even and an odd value.
struct Modal {
  double e, o;
};

// Cohn's zero-thickness coupled stripline (1955): strips w wide, s apart,
// midway between plates b apart. The moduli of the even and odd modes, with
// which Zoe,o = 30 pi / sqrt(er) K(k') / K(k) and the inductance per strip
// L = (mu0 / 4) K(k') / K(k).
inline Modal cohn_moduli(double w, double s, double b) {
  const double pi = 3.14159265358979323846;
  const double tw = std::tanh(pi * w / (2.0 * b));
  const double tws = std::tanh(pi * (w + s) / (2.0 * b));
  return {tw * tws, tw / tws};
}

// d/dx at 0 of a smooth even-and-odd pair: central differences at the step
// and at twice it, extrapolated.
template <class F>
Modal derivative(F fn, double step) {
  const Modal p1 = fn(step), m1 = fn(-step), p2 = fn(2.0 * step), m2 = fn(-2.0 * step);
  const auto one = [&](double a1, double b1, double a2, double b2) {
    return (4.0 * (a1 - b1) / (2.0 * step) - (a2 - b2) / (4.0 * step)) / 3.0;
  };
  return {one(p1.e, m1.e, p2.e, m2.e), one(p1.o, m1.o, p2.o, m2.o)};
}

}  // namespace kx::test
