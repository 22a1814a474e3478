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

// The linear map along each axis, one axis at a time: the data as
// [outer][n][inner] becomes [outer][rows][inner].
std::vector<double> apply_per_axis(const Grid& grid, const std::vector<double>& values,
                                   Eigen::MatrixXd (*map_of)(int)) {
  if (values.size() != grid.size())
    throw std::invalid_argument("spline: values do not fit the grid");
  for (int n : grid.nodes)
    if (n < 4) throw std::invalid_argument("spline: an axis needs at least four nodes");
  std::vector<int> shape = grid.nodes;
  std::vector<double> data = values;
  for (std::size_t axis = 0; axis < shape.size(); ++axis) {
    const int n = shape[axis];
    std::size_t outer = 1, inner = static_cast<std::size_t>(grid.components);
    for (std::size_t k = 0; k < axis; ++k) outer *= static_cast<std::size_t>(shape[k]);
    for (std::size_t k = axis + 1; k < shape.size(); ++k)
      inner *= static_cast<std::size_t>(shape[k]);
    const Eigen::MatrixXd map = map_of(n);
    const std::size_t un = static_cast<std::size_t>(n);
    const std::size_t rows = static_cast<std::size_t>(map.rows());
    std::vector<double> out(outer * rows * inner);
    for (std::size_t o = 0; o < outer; ++o) {
      const double* in = &data[o * un * inner];
      double* to = &out[o * rows * inner];
      for (std::size_t r = 0; r < rows; ++r) {
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
    shape[axis] = static_cast<int>(rows);
  }
  return data;
}

// The knot basis's n x n map from node values to coefficients: the inverse
// of the basis functions' values at the nodes.
Eigen::MatrixXd knot_map(int n) {
  Eigen::MatrixXd a = Eigen::MatrixXd::Zero(n, n);
  for (int i = 0; i < n; ++i) {
    const Span s = knot_span_at(i, n);
    for (int j = 0; j < 4; ++j) a(i, s.first + j) = s.weights[static_cast<std::size_t>(j)];
  }
  return a.partialPivLu().inverse();
}

// From the uniform basis's m = n + 2 coefficients to the spline's values at
// the n nodes: (c[j] + 4 c[j + 1] + c[j + 2]) / 6.
Eigen::MatrixXd node_map(int m) {
  Eigen::MatrixXd a = Eigen::MatrixXd::Zero(m - 2, m);
  for (Eigen::Index j = 0; j < m - 2; ++j) {
    a(j, j) = 1.0 / 6.0;
    a(j, j + 1) = 4.0 / 6.0;
    a(j, j + 2) = 1.0 / 6.0;
  }
  return a;
}

}  // namespace

std::size_t Grid::size() const {
  std::size_t s = static_cast<std::size_t>(components);
  for (int n : nodes) s *= static_cast<std::size_t>(n);
  return s;
}

std::vector<double> spline_coefficients(const Grid& grid, const std::vector<double>& values) {
  return apply_per_axis(grid, values, coefficient_map);
}

std::vector<double> spline_node_values(const Grid& coefficient_grid,
                                       const std::vector<double>& coefficients) {
  return apply_per_axis(coefficient_grid, coefficients, node_map);
}

std::vector<double> knot_spline_coefficients(const Grid& grid, const std::vector<double>& values) {
  return apply_per_axis(grid, values, knot_map);
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

Span knot_span_at(double x, int nodes) {
  // Knot k of the n + 4: 0 for k <= 3, k - 2 up to n - 1, then n - 1.
  const auto knot = [nodes](int k) -> double {
    if (k <= 3) return 0.0;
    return k >= nodes ? nodes - 1 : k - 2;
  };
  const double top = nodes - 1;
  x = std::clamp(x, 0.0, top);
  // The knot interval [t_i, t_i+1) holding x: i from 3 (x < 2) to n - 1 (x >= n - 3).
  int i = x < 2.0 ? 3 : x >= nodes - 3 ? nodes - 1 : static_cast<int>(std::floor(x)) + 2;
  i = std::clamp(i, 3, nodes - 1);
  // Cox-de Boor: the four cubic B-splines nonzero there.
  std::array<double, 4> n{1.0, 0.0, 0.0, 0.0}, left{}, right{};
  for (int j = 1; j <= 3; ++j) {
    const std::size_t uj = static_cast<std::size_t>(j);
    left[uj] = x - knot(i + 1 - j);
    right[uj] = knot(i + j) - x;
    double saved = 0.0;
    for (int r = 0; r < j; ++r) {
      const std::size_t ur = static_cast<std::size_t>(r);
      const double temp = n[ur] / (right[ur + 1] + left[uj - ur]);
      n[ur] = saved + right[ur + 1] * temp;
      saved = left[uj - ur] * temp;
    }
    n[uj] = saved;
  }
  Span s;
  s.first = i - 3;
  s.weights = n;
  return s;
}

}  // namespace kx::field
