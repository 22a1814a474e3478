// Quadrature for the panel integrals: fixed Gauss-Legendre rules, rules for
// a panel's charge shape, and the stretched variable that makes a corner's
// power law smooth.
#pragma once

#include <array>
#include <vector>

#include "models/field/mesh.h"

namespace kx::field {

// A Gauss-Legendre rule on [-1, 1].
struct Rule {
  int n;
  int offset;  // among a panel's kept nodes (-1: not kept)
  std::array<double, 8> x, w;
};
inline constexpr Rule kRule1{1, 0, {0.0}, {2.0}};
inline constexpr Rule kRule2{2, 1, {-0.57735026918962576451, 0.57735026918962576451}, {1.0, 1.0}};
inline constexpr Rule kRule3{3,
                             -1,
                             {-0.77459666924148337704, 0.0, 0.77459666924148337704},
                             {5.0 / 9.0, 8.0 / 9.0, 5.0 / 9.0}};
inline constexpr Rule kRule4{4,
                             3,
                             {-0.86113631159405257522, -0.33998104358485626480,
                              0.33998104358485626480, 0.86113631159405257522},
                             {0.34785484513745385737, 0.65214515486254614263,
                              0.65214515486254614263, 0.34785484513745385737}};

// Fewer nodes the farther the singularity (q: its distance over the panel
// length, given squared; care >= 1 moves the steps out); an n-point rule's
// error falls like (4 q)^(-2n).
const Rule& rule_at(double qq, double care);

// A quadrature rule as nodes and weights.
struct QuadratureTable {
  std::vector<double> x, w;
};

// The n-point Gauss-Legendre rule on [-1, 1].
QuadratureTable gauss_legendre(int n);

// The 1-, 2- and 4-point Gauss rules of a discrete measure on [0, 1].
std::array<QuadratureTable, 3> gauss_rules(const QuadratureTable& measure);

// Nodes on a panel that ends at a strip corner crowd toward that end, so a
// rule integrates the corner's power law: the fraction of the panel at u in
// [0, 1] is u^m (from p1), 1 - (1 - u)^m (from p2) or u^m / (u^m + (1 - u)^m)
// (both), with m = 1 / (1 + beta).
struct Stretch {
  double m = 1.0;
  bool from1 = false, from2 = false;
  double position(double u) const;
  double inverse(double f) const;  // the u of a fraction f
  double derivative(double u) const;
};
Stretch stretch_of(const Panel& p);

// The point a fraction f along a panel.
inline Vec2 at(const Panel& p, double f) {
  return {p.p1.x + f * (p.p2.x - p.p1.x), p.p1.y + f * (p.p2.y - p.p1.y)};
}

}  // namespace kx::field
