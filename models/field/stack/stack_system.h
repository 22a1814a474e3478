// From the mesh of a general cross-section to the Maxwell capacitance
// matrices of its driven conductors (signals and floating metal), with the
// dielectrics and in vacuum, their derivatives by each region's
// permittivity, and the charge on the conductors' panels.
//
// Unknown: the total (free + bound) charge density on every panel, in a
// vacuum whose Green's function holds the ground plane (and top plane). At a
// conductor panel the potential is the conductor's; at an interface panel
// between eps_neg and eps_pos (normal toward eps_pos) the normal D is
// continuous:
//   (eps_neg + eps_pos) / 2 sigma - (eps_neg - eps_pos) E_n = 0,
// E_n the principal value of the normal field of all the other charge (its
// mean over the panel). A conductor face in eps carries the free charge
// eps sigma; a zero-thickness strip with eps_neg below and eps_pos above
//   (eps_neg + eps_pos) / 2 sigma + (eps_pos - eps_neg) E_n.
// The equations are homogeneous of degree one in the permittivities, so the
// capacitances are too: the sum over the regions of eps_r dC/deps_r is C.
#pragma once

#include <cstddef>
#include <vector>

#include <Eigen/Dense>

#include "models/field/stack/geometry.h"
#include "models/field/stack/stack_mesh.h"

namespace kx::stack::detail {

struct SurfaceCharge {
  std::vector<field::Panel> panels;  // every conductor panel of the whole section
  std::vector<int> owner;
  std::vector<double> shape_square;
  Eigen::MatrixXd density, density_vac;  // panels x driven conductors (per unit eps0)
};

// Capacitances per unit eps0 among the driven conductors, in their order.
struct MeshSolution {
  Eigen::MatrixXd c, c_vac;
  std::vector<Eigen::MatrixXd> dc;  // per region (with filling): dC/deps_r
  SurfaceCharge surface;            // with surface
  // Per system (the even one, then the odd one with a mirror): the charge
  // on the interface panels, panels x excitations.
  std::vector<Eigen::MatrixXd> interfaces;
};

// coarser: the solution of the mesh whose every panel this one halves, if
// known (its interface charge starts the iterations).
MeshSolution solve_mesh(const StackMesh& mesh, const Geometry& g,
                        const std::vector<std::size_t>& driven, bool filling, bool surface,
                        const MeshSolution* coarser = nullptr);

}  // namespace kx::stack::detail
