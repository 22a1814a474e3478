// The general board cross-section: a stack of dielectric layers on a ground
// plane, under an optional top plane or open above, with conductors of
// trapezoidal section on the layers' interfaces and an optional solder mask
// on the top surface. Laterally open (no side walls).
//
// Lengths: every length of a Stack is in one unit of the caller's choice
// (the field solution depends only on ratios; include/kestrelix/units.h and
// the stackup file name the faces' units). x runs across the board, y up from
// the ground plane.
//
//   kx::stack::Trace t;
//   t.width = 0.2;  t.thickness = 0.035;                      // mm
//   const kx::stack::Stack s =                                // b = 0.5 mm, Er 4.2, gap 0.25 mm
//       kx::stack::stripline_pair(0.5, 4.2, t, 0.25);
//   if (const std::string why = kx::stack::check(s); !why.empty()) ...
//
// Builders give the named structures; check() returns a one-line reason for
// a stack the solver refuses (kestrelix/stack_solver.h).
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

namespace kx::stack {

inline constexpr double kUnbounded = std::numeric_limits<double>::infinity();

struct Layer {
  double thickness = 0.0;     // > 0
  double er = 1.0;            // relative permittivity, >= 1
  double loss_tangent = 0.0;  // >= 0; carried for the loss models (the statics ignore it)
  std::string name;           // optional: names the layer in messages and imports
};

// What a conductor is in the solution.
//   signal:   a line of the multi-conductor system (a row of the matrices);
//   ground:   metal at the ground planes' potential (coplanar ground,
//             stitched to the planes: in a static 2-D solve that is all
//             "stitched" means);
//   floating: metal left unconnected: its net charge is zero and its
//             potential whatever the field makes it (it must have a finite
//             width). The matrices are those of the signals with the
//             floating metal present.
enum class Role { signal, ground, floating };

// A conductor of trapezoidal section sitting on interface `interface`: the
// top of layers[interface - 1] (1 = the top of the bottom layer). It is
// embedded in the layer above that interface (its thickness must be less
// than that layer's), or, on the top surface of an open stack
// (interface == layers.size()), in the mask or the air.
struct Conductor {
  Role role = Role::signal;
  std::size_t interface = 1;
  // The bottom face from left to right. A ground may extend without limit
  // to one side: left = -kUnbounded or right = kUnbounded.
  double left = 0.0, right = 0.0;
  double thickness = 0.0;  // 0: a strip of zero thickness
  // How far each top corner lies inside the bottom corner below it:
  // (bottom width - top width) / 2; 0 for a rectangle. The fabricators'
  // etch factor is thickness / inset.
  double inset = 0.0;
  std::string name;  // optional

  double bottom_width() const { return right - left; }
  double top_width() const { return right - left - 2.0 * inset; }
};

// Solder mask (or any conformal coating) on one interface, normally the top
// surface of an open stack: conformal over the conductors there (the same
// thickness over their tops and along their sides, mitred corners), on the
// bare layer below, and between two neighbouring signal conductors (a pair's
// gap). Where the coats over two conductors meet, the mask fills the space
// between them to the higher surface. It displaces what lies above the
// interface (the air, or the layer above, e.g. the air under a cover, whose
// top it must stay below). Every thickness must be positive when the mask is
// present.
struct Mask {
  // The interface it lies on; 0: the top surface (layers.size()).
  std::size_t interface = 0;
  double over_trace = 0.0;
  double on_substrate = 0.0;
  double between = 0.0;
  double er = 1.0;
  double loss_tangent = 0.0;
  bool present() const { return over_trace > 0.0 || on_substrate > 0.0 || between > 0.0; }
};

struct Stack {
  std::vector<Layer> layers;  // from the ground plane up
  bool top_plane = false;     // a ground plane on the top layer; else open above
  std::vector<Conductor> conductors;
  Mask mask;

  // The interface the mask lies on (Mask::interface, 0 read as the top surface).
  std::size_t mask_interface() const {
    return mask.interface == 0 ? layers.size() : mask.interface;
  }

  // The height of interface i above the ground plane (0: the ground plane).
  double height(std::size_t interface) const;
  // The indices into conductors of the signals, in order: the lines of the
  // solution's matrices.
  std::vector<std::size_t> signals() const;
};

// A region of uniform permittivity: a layer, the mask, or the air above an
// open stack.
struct Region {
  enum class Kind { layer, mask, air } kind = Kind::layer;
  std::size_t layer = 0;  // for Kind::layer: the index into Stack::layers
  double er = 1.0;
  double loss_tangent = 0.0;
};

// "" when the solver can take the stack, else a one-line reason naming the
// entry (e.g. "layers[2].er: must be a number from 1 to 1e4").
std::string check(const Stack& s);

// ---------------------------------------------------------------------------
// Named structures. A trace's top width defaults to its bottom width
// (NaN: rectangle). Thicknesses of the layers are as the fabricators' tools
// take them: a layer that embeds a trace is measured from the trace's top
// (the stack gets that layer's thickness plus the trace's).

struct Trace {
  double width = 0.0;      // bottom width
  double thickness = 0.0;  // 0: zero thickness
  double top_width = std::numeric_limits<double>::quiet_NaN();
};

// Microstrip: a trace on a substrate, air (or mask) above.
Stack microstrip(const Layer& substrate, const Trace& trace, const Mask& mask = {});
Stack microstrip_pair(const Layer& substrate, const Trace& trace, double gap,
                      const Mask& mask = {});
// Embedded microstrip: the same under a dielectric `above` whose thickness is
// counted from the trace's top, air above it.
Stack embedded_microstrip(const Layer& substrate, const Layer& above, const Trace& trace);
Stack embedded_microstrip_pair(const Layer& substrate, const Layer& above, const Trace& trace,
                               double gap);
// Symmetric stripline: the trace midway between two planes b apart in one
// dielectric (b counts the trace: b = 2 h + t).
Stack stripline(double b, double er, const Trace& trace, double loss_tangent = 0.0);
Stack stripline_pair(double b, double er, const Trace& trace, double gap,
                     double loss_tangent = 0.0);
// Offset stripline with two dielectrics: `below` from the ground plane to the
// trace's bottom (core), `above` from the trace's top to the top plane
// (prepreg, filling round the trace).
Stack offset_stripline(const Layer& below, const Layer& above, const Trace& trace);
Stack offset_stripline_pair(const Layer& below, const Layer& above, const Trace& trace, double gap);
// Grounded coplanar waveguide: microstrip with a ground of the trace's
// thickness `ground_gap` beside each trace's outer edge, extending without
// limit (ground_width kUnbounded) or that wide, stitched to the plane.
Stack gcpw(const Layer& substrate, const Trace& trace, double ground_gap,
           double ground_width = kUnbounded, const Mask& mask = {});
Stack gcpw_pair(const Layer& substrate, const Trace& trace, double gap, double ground_gap,
                double ground_width = kUnbounded, const Mask& mask = {});
// Broadside-coupled stripline: one trace above the other between two planes:
// `below` from the ground plane to the lower trace, `between` from the lower
// trace's top to the upper trace's bottom, `above` from the upper trace's top
// to the top plane; the upper trace shifted by `offset` across.
Stack broadside_pair(const Layer& below, const Layer& between, const Layer& above,
                     const Trace& trace, double offset = 0.0);

// The inset of a trace's top corners for the fabricators' etch factor
// (thickness over inset).
double inset_for_etch_factor(double thickness, double etch_factor);

}  // namespace kx::stack
