// Cubic B-splines on uniform grids (see spline.h).
#include "models/field/spline.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <Eigen/Dense>

namespace kx::field {
namespace {

// The (n + 2) x n matrix from node values to the coefficients of the
// not-a-knot spline through them: rows of the interpolation conditions
// (c[j-1] + 4 c[j] + c[j+1]) / 6 = y[j], and the third derivative
// continuous across the second and the last but one node.
Eigen::MatrixXd coefficient_map(int n) {
  const Eigen::Index m = n + 2;
  Eigen::MatrixXd a = Eigen::MatrixXd::Zero(m, m);
  for (Eigen::Index j = 0; j < n; ++j) {
    a(j, j) = 1.0 / 6.0;
    a(j, j + 1) = 4.0 / 6.0;
    a(j, j + 2) = 1.0 / 6.0;
  }
  const double fourth[5] = {-1.0, 4.0, -6.0, 4.0, -1.0};
  for (Eigen::Index k = 0; k < 5; ++k) {
    a(n, k) = fourth[k];
    a(n + 1, m - 5 + k) = fourth[k];
  }
  const Eigen::MatrixXd inverse = a.partialPivLu().inverse();
  return inverse.leftCols(n);
}

}  // namespace

std::size_t Grid::size() const {
  std::size_t s = static_cast<std::size_t>(components);
  for (int n : nodes) s *= static_cast<std::size_t>(n);
  return s;
}

std::vector<double> spline_coefficients(const Grid& grid, const std::vector<double>& values) {
  if (values.size() != grid.size())
    throw std::invalid_argument("spline: values do not fit the grid");
  for (int n : grid.nodes)
    if (n < 4) throw std::invalid_argument("spline: an axis needs at least four nodes");
  // One axis at a time: the data as [outer][n][inner] becomes [outer][n + 2][inner].
  std::vector<int> shape = grid.nodes;
  std::vector<double> data = values;
  for (std::size_t axis = 0; axis < shape.size(); ++axis) {
    const int n = shape[axis];
    std::size_t outer = 1, inner = static_cast<std::size_t>(grid.components);
    for (std::size_t k = 0; k < axis; ++k) outer *= static_cast<std::size_t>(shape[k]);
    for (std::size_t k = axis + 1; k < shape.size(); ++k)
      inner *= static_cast<std::size_t>(shape[k]);
    const Eigen::MatrixXd map = coefficient_map(n);
    const std::size_t un = static_cast<std::size_t>(n);
    std::vector<double> out(outer * (un + 2) * inner);
    for (std::size_t o = 0; o < outer; ++o) {
      const double* in = &data[o * un * inner];
      double* to = &out[o * (un + 2) * inner];
      for (std::size_t r = 0; r < un + 2; ++r) {
        for (std::size_t i = 0; i < inner; ++i) {
          double sum = 0.0;
          for (std::size_t c = 0; c < un; ++c)
            sum += map(static_cast<Eigen::Index>(r), static_cast<Eigen::Index>(c)) *
                   in[c * inner + i];
          to[r * inner + i] = sum;
        }
      }
    }
    data.swap(out);
    shape[axis] = n + 2;
  }
  return data;
}

Span span_at(double x, int nodes) {
  Span s;
  const int cell = std::clamp(static_cast<int>(std::floor(x)), 0, nodes - 2);
  const double f = x - cell;
  const double g = 1.0 - f;
  s.first = cell;  // coefficient index of c[cell - 1]
  s.weights = {g * g * g / 6.0, (3.0 * f * f * f - 6.0 * f * f + 4.0) / 6.0,
               (-3.0 * f * f * f + 3.0 * f * f + 3.0 * f + 1.0) / 6.0, f * f * f / 6.0};
  return s;
}

}  // namespace kx::field
