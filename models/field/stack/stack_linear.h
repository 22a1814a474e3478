// The lines' linear algebra: from the capacitance matrices with and without
// the dielectrics to the inductance matrix, the characteristic impedance
// matrix and the modes.
#pragma once

#include <vector>

#include <Eigen/Dense>

namespace kx::stack::detail {

using Eigen::Index;
using Mat = Eigen::MatrixXd;

inline constexpr double kC0 = 299792458.0;         // m/s
inline constexpr double kEps0 = 8.8541878128e-12;  // F/m

struct Lines {
  Mat l;                                     // H/m: mu0 eps0 C_vac^-1
  Mat zc;                                    // ohm
  std::vector<double> eff;                   // per mode, fastest first
  std::vector<std::vector<double>> voltage;  // per mode, largest magnitude +1
  std::vector<double> impedance;             // per mode: (v . v) / (v . Zc^-1 v)
};

// c, c_vac symmetric positive definite, in F/m. With L^(1/2) the symmetric
// root of L, L C is similar to M = L^(1/2) C L^(1/2) = Q D Q^T: the modes'
// (1 / velocity)^2 are D, their voltages L^(1/2) Q, and
// Zc = L^(1/2) Q D^(-1/2) Q^T L^(1/2).
Lines lines_of(const Mat& c, const Mat& c_vac);

}  // namespace kx::stack::detail
