// The Green's function of the grounded region and its integrals over the
// panels of a mesh: potential and field of a unit surface charge (eps0 = 1)
// on a panel together with the ground plane's image charge, or, with a
// cover, the closed-form potential of a line charge between two grounded
// plates spaced d apart:
//
//   phi(r; r') = -1/(4 pi) ln[(cosh(pi dx/d) - cos(pi (y - y')/d)) /
//                             (cosh(pi dx/d) - cos(pi (y + y')/d))]
//
// Near a panel the logarithmic singularity is integrated in closed form;
// farther away a Gauss-Legendre rule does, with fewer points the farther.
#pragma once

#include <cstddef>
#include <vector>

#include "models/field/mesh.h"
#include "models/field/quadrature.h"

namespace kx::field {

// The influence of a panel's charge and of its mirror image in x = 0.
struct Influence {
  double direct = 0.0;
  double mirror = 0.0;
};

class Green {
 public:
  explicit Green(const Mesh& mesh);

  // Potential at the collocation point of panel `at` of the charge on panel `source`.
  Influence potential(std::size_t at, std::size_t source) const;
  // Its field along the normal of `at`, averaged over `at` (the principal
  // value on the panel itself).
  Influence field(std::size_t at, std::size_t source) const;

  // A Gauss node of a panel, with the exponentials and sines the plates'
  // kernel needs there.
  struct Node {
    Vec2 p;
    double w;
    double ex = 0.0, iex = 0.0, cy = 1.0, sy = 0.0;  // exp(k x), exp(-k x), cos(k y), sin(k y);
                                                     // k = pi / d
    bool cached = true;
  };

 private:
  // At one node (point) r with normal n.
  template <bool kField>
  Influence influence(const Node& r, Vec2 n, std::size_t source, bool self) const;
  template <bool kField>
  Influence far(const Node& r, Vec2 n, std::size_t source, int points) const;  // 1, 2 or 4 nodes
  template <bool kField>
  Influence near(const Node& r, Vec2 n, std::size_t source, bool self) const;

  Node node(Vec2 p, double w) const;
  Node plain_node(Vec2 p) const;  // without the cached values

  const Mesh& mesh_;
  double plates_;
  double care_;  // quadrature: 1 standard, more for more nodes farther out
  bool open_;
  bool cached_;                       // the nodes' exponentials stay in range
  std::vector<Node> nodes_;           // per panel: the 1-, 2- and 4-point rules, and a mean's
  std::vector<Stretch> stretches_;    // per panel
  std::vector<double> norms_;         // per panel: the scaling of its shape to mean 1
  std::vector<double> plain_shapes_;  // per panel: the shape at the plain 4-point nodes
};

}  // namespace kx::field
