// The Green's function of the grounded region (the ground plane by its
// image, or two grounded plates by the closed form) and its integrals over
// the panels of a general cross-section: the potential and the normal field
// of a unit surface charge (eps0 = 1) on a panel, and, when the mesh is the
// right half of a symmetric section, of its mirror image in x = 0.
//
//   open:   phi = -1/(2 pi) [ln|r - r'| - ln|r - r'*|]
//   plates: phi = -1/(4 pi) ln[(cosh(pi dx/d) - cos(pi (y - y')/d)) /
//                              (cosh(pi dx/d) - cos(pi (y + y')/d))]
//
// Near a panel the logarithmic singularity is integrated in closed form,
// farther away by Gauss rules of the panel's charge shape with fewer points
// the farther (the kernels and rules of models/field/kernels.h and
// quadrature.h).
#pragma once

#include <cstddef>
#include <vector>

#include "models/field/quadrature.h"
#include "models/field/stack/stack_mesh.h"

namespace kx::stack::detail {

struct Influence {
  double direct = 0.0;
  double mirror = 0.0;  // of the mirror image (0 without mirror)
};

class StackGreen {
 public:
  explicit StackGreen(const StackMesh& mesh);

  // The potential at the collocation point of panel `at` of the charge on `source`.
  Influence potential(std::size_t at, std::size_t source) const;
  // The field along the normal of `at`, averaged over `at` (the principal
  // value on the panel itself).
  Influence field(std::size_t at, std::size_t source) const;

  // The same for every target at once: the potential at the conductor
  // panels [0, conductors) into pot_d[i], and the normal field at the panels
  // [conductors, n) into fld_d[i - conductors], of the charge on `source`
  // (pot_m, fld_m the mirror image's; unused without mirror). The pairs the
  // source's 1-point rule serves run in one pass over the targets.
  void column(std::size_t source, std::size_t conductors, double* pot_d, double* pot_m,
              double* fld_d, double* fld_m) const;

  // The panel's shape scaled to mean 1 at the fraction f along it.
  double shape(std::size_t panel, double f) const;

  struct Node {
    Vec2 p;
    double w;
    double ex = 0.0, iex = 0.0, cy = 1.0, sy = 0.0;  // exp(k x), exp(-k x), cos(k y), sin(k y)
    bool cached = true;
  };

 private:
  template <bool kField>
  Influence influence(const Node& r, Vec2 n, std::size_t source, bool self) const;
  template <bool kField, bool kMirror, int kPoints>
  Influence far(const Node& r, Vec2 n, std::size_t source) const;
  template <bool kField>
  Influence near(const Node& r, Vec2 n, std::size_t source, bool self) const;

  Node node(Vec2 p, double w) const;
  Node plain_node(Vec2 p) const;

  const StackMesh& mesh_;
  double plates_;
  double care_;
  bool open_;
  bool mirror_;
  bool cached_;
  // Per panel: its midpoint and the squared distances from it beyond which
  // its charge is integrated by rules (close), by the 2-point rule (two),
  // by the 1-point one (one), and a field on it is taken at its centre
  // rather than as its mean (mean).
  struct Reach {
    Vec2 mid;
    double close, two, one, mean;
  };
  std::vector<Reach> reach_;
  // Per panel, side by side for the passes over the targets: its collocation
  // point (the 1-point node), normal, midpoint, mean's reach, and the
  // point's cached exponentials and sines between plates.
  struct Targets {
    std::vector<double> x, y, nx, ny, mx, my, mean, ex, iex, cy, sy;
  } t_;
  std::vector<Node> nodes_;
  std::vector<field::Stretch> stretches_;
  std::vector<double> norms_;
  std::vector<double> plain_shapes_;
};

}  // namespace kx::stack::detail
