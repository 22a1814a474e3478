// S-parameters of a uniform multiconductor line of a given length from its
// R, L, G, C at one frequency (kestrelix/rlgc.h), the coupler's four ports,
// and the mixed-mode (differential and common) S-parameters of a pair.
// Double precision; every port referred to the same real impedance z_ref.
//
// Port numbering of a line of N conductors as a 2N-port: conductor k
// (k = 1..N) has port 2k-1 at the near end and port 2k at the far end. For
// the pair: 1 strip 1 near, 2 strip 1 far, 3 strip 2 near, 4 strip 2 far,
// so that ports (1, 3) form the near differential port and (2, 4) the far
// one. Index i of a CMatrix is port i + 1.
//
//   const kx::rlgc::Rlgc p = kx::rlgc::rlgc_at(statics, 10e9);
//   const kx::rlgc::CMatrix s = kx::rlgc::line_sparameters(p, 0.1, 50.0);  // 100 mm
//   const kx::rlgc::CMatrix mm = kx::rlgc::mixed_mode(s);   // sdd21 = mm(1, 0)
#pragma once

#include <kestrelix/rlgc.h>

namespace kx::rlgc {

// The 2N-port of a line of `length` metres by the modal decomposition of
// Z Y (Z = R + j omega L, Y = G + j omega C). Throws std::invalid_argument
// for a length that is not finite and positive, z_ref not finite and
// positive, or matrices that are not N x N alike.
CMatrix line_sparameters(const Rlgc& p, double length, double z_ref);

// The same for a symmetric pair (2 x 2 matrices with equal diagonal) from
// its even and odd modes, each a uniform two-port: exactly symmetric, no
// mode conversion.
CMatrix pair_sparameters(const Rlgc& p, double length, double z_ref);

// A pair's four-port renumbered as the coupler's ports (kestrelix/
// coupled_line.h's SMatrix): 1 input (strip 1 near), 2 coupled (strip 2
// near), 3 isolated (strip 2 far), 4 thru (strip 1 far).
CMatrix coupler_ports(const CMatrix& s);
// pair_sparameters in the coupler's numbering.
CMatrix coupler_sparameters(const Rlgc& p, double length, double z_ref);

// The mixed-mode S-matrix M S M^T of a pair's four-port in line numbering,
// M the orthogonal map of the single-ended waves to differential waves
// (a1 - a3)/sqrt(2), (a2 - a4)/sqrt(2) and common waves (a1 + a3)/sqrt(2),
// (a2 + a4)/sqrt(2). Its ports, in order: D1 (ports 1, 3), D2 (2, 4),
// C1 (1, 3), C2 (2, 4); so [[Sdd, Sdc], [Scd, Scc]] with sdd21 = (1, 0),
// scc21 = (3, 2), sdc21 = (1, 2), scd21 = (3, 0). The differential ports are
// referred to 2 z_ref, the common ones to z_ref / 2.
CMatrix mixed_mode(const CMatrix& s);

}  // namespace kx::rlgc
