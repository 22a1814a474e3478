// The panels of a general cross-section: each edge of the geometry cut into
// straight panels graded toward the corners, the panels at a singular corner
// carrying its power law (see models/field/mesh.h for the panel itself).
#pragma once

#include <cstddef>
#include <vector>

#include "models/field/mesh.h"
#include "models/field/stack/geometry.h"

namespace kx::stack::detail {

struct StackMeshSettings {
  double grading = 1.0;  // panel length h0 + grading * d at a distance d from a corner
  double first = 0.1;    // h0 as a fraction of the corner's smallest length
  double max_len = 4.0;  // at most this near the conductors, growing by grading beyond
  int split = 1;         // then each panel cut into this many equal parts
  double quadrature = 1.0;
};

// An edge's breakpoints: arc lengths from its start, 0 to its length.
struct EdgeCuts {
  std::size_t edge;
  std::vector<double> cuts;
};

struct StackMesh {
  std::vector<field::Panel> panels;  // the conductor panels first
  std::vector<int> owner;            // per panel: its conductor, -1 on an interface
  std::vector<int> neg, pos;         // per panel: the regions on its two sides
  std::vector<std::size_t> edge;     // per panel: the geometry's edge it lies on
  std::size_t conductor_panels = 0;
  double plates = 0.0;
  double quadrature = 1.0;
  bool mirror = false;
  std::vector<EdgeCuts> cuts;  // in the order the edges were meshed
};

StackMesh discretise(const Geometry& g, const StackMeshSettings& set);
// The mesh of the same breakpoints with every panel cut into `split` equal
// parts (g: the geometry `from` was made of).
StackMesh resplit(const Geometry& g, const StackMesh& from, int split, double quadrature);

}  // namespace kx::stack::detail
