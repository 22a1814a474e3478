// The general cross-section as the boundary-element method sees it: the
// boundaries to mesh (conductor faces, dielectric interfaces, the mask's
// surface) as straight edges with the regions on their two sides, the
// corners where the charge density is singular with its power law, and the
// mirror symmetry when the stack has one. Lengths in units of the height of
// the first signal's interface; x = 0 in the middle of the signals.
#pragma once

#include <cstddef>
#include <vector>

#include "kestrelix/stack.h"
#include "models/field/mesh.h"

namespace kx::stack::detail {

using field::Vec2;

// The region id of a conductor's inside.
inline constexpr int kInside = -1;

// A straight boundary to mesh.
struct Edge {
  Vec2 a, b;
  int conductor = -1;          // index into Stack::conductors; -1: a dielectric interface
  bool two_sided = false;      // a zero-thickness strip: region neg below, pos above
  int neg = kInside, pos = 0;  // regions on the -n and +n sides
  Vec2 n;                      // unit normal: out of a conductor, from neg to pos otherwise
  bool free_a = false, free_b = false;  // the end lies at the truncation (no corner)
};

// A point where edges meet.
struct Corner {
  Vec2 at;
  double beta = 0.0;     // the charge density goes like d^beta near it (0: smooth)
  double feature = 1.0;  // the smallest length about it
};

struct Geometry {
  std::vector<Edge> edges;      // meshed (x >= 0 only when mirror)
  std::vector<Corner> corners;  // of the whole section
  std::vector<double> eps;      // per region: the layers, the mask, the air
  std::vector<Region> regions;
  double plates = 0.0;  // the top plane's height; infinity when open
  double unit = 1.0;    // one length unit here in the stack's unit
  double xc = 0.0;      // the stack's x of x = 0 here
  double reach = 0.0;   // the interfaces end at x = +-reach
  double outer = 0.0;   // the finite features lie within |x| <= outer
  // Symmetric about x = 0: the edges cover x >= 0 only; mirror_of maps each
  // conductor to its image.
  bool mirror = false;
  std::vector<std::size_t> mirror_of;
};

struct GeometrySettings {
  double open_reach = 40.0;     // open: interfaces end this many (height + outer) out
  double cover_reach = 5.0;     // between planes: this many plate spacings beyond
  bool all_interfaces = false;  // also between regions of the same permittivity
  bool use_mirror = true;
};

// The stack must have passed check().
Geometry build(const Stack& s, const GeometrySettings& set);

// The exponent nu of the potential r^nu at a point where sectors of the given
// angles (radians, counter-clockwise, summing to 2 pi) and permittivities
// meet. With conductor (the sectors run from a conductor face round to a
// conductor face, the conductor filling the rest): the smallest root of the
// conductor wedge; without: the smallest root in (0, 1) of the dielectric
// one (1 when none: no singularity).
double wedge_exponent(const std::vector<double>& angles, const std::vector<double>& eps,
                      bool conductor);

}  // namespace kx::stack::detail
