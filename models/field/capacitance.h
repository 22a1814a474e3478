// From the mesh to the four capacitances: the collocation system of the
// boundary-element method, solved for each mode with and without the
// dielectrics (the second through the first: see capacitance.cpp).
//
// Unknown: the total (free + bound) charge density on every panel, in a
// vacuum with the ground plane (and cover) built into the Green's function.
// At a conductor panel the potential is the strip's voltage; at an interface
// panel between eps1 and eps2 (normal toward eps2) the normal D is continuous:
//   (eps1 + eps2) / (2 (eps1 - eps2)) sigma - E_n = 0,
// E_n the principal value of the normal field of all the other charge. A
// conductor face in a dielectric eps carries the free charge eps sigma; a
// zero-thickness strip with eps_below and eps_above on its faces carries
//   (eps_above + eps_below) / 2 sigma + (eps_above - eps_below) E_n.
#pragma once

#include "models/field/mesh.h"

namespace kx::field {

// Capacitances per strip, per unit eps0 (multiply by eps0 for F/m).
struct Capacitances {
  double even = 0.0, odd = 0.0;          // with the dielectrics
  double even_air = 0.0, odd_air = 0.0;  // every dielectric replaced by air
};

enum class Mode { even, odd };  // both strips at +1 V; +1 V and -1 V
enum class Fill { dielectric, air };

Capacitances capacitances(const Mesh& mesh);

}  // namespace kx::field
