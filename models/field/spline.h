// Tensor-product cubic B-splines on uniform grids: the interpolant of the
// fast path. Node values in, spline coefficients out (not-a-knot end
// conditions: the spline through n nodes takes n + 2 coefficients per axis);
// a value and its derivatives are C2 across the cells.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

namespace kx::field {

// A grid of nodes, its axes outermost first, `components` values per node
// (the innermost index).
struct Grid {
  std::vector<int> nodes;  // per axis, at least 4
  int components = 1;
  std::size_t size() const;  // nodes times components
};

// The coefficients of the splines through `values` (laid out as `grid`),
// laid out as the grid with n + 2 nodes per axis.
std::vector<double> spline_coefficients(const Grid& grid, const std::vector<double>& values);

// The uniform basis's spline values at the nodes, from its coefficients
// (laid out as `coefficient_grid`, n + 2 per axis).
std::vector<double> spline_node_values(const Grid& coefficient_grid,
                                       const std::vector<double>& coefficients);

// The same not-a-knot splines as n B-splines per axis on the knots
// 0, 0, 0, 0, 2, 3, ..., n - 3, n - 1, n - 1, n - 1, n - 1 (the second and the
// last but one node are no knots): as many coefficients as nodes, laid out
// as the grid. The spline is the one above; only its basis differs.
std::vector<double> knot_spline_coefficients(const Grid& grid, const std::vector<double>& values);

// Where a coordinate falls: the first of the four coefficients that carry
// it along its axis and their weights. x in node units (0 .. n - 1; beyond
// the ends the end cells' cubics continue).
struct Span {
  int first = 0;
  std::array<double, 4> weights{};
};
Span span_at(double x, int nodes);
// The same for the knot basis (x clamped to the grid, 0 .. n - 1).
Span knot_span_at(double x, int nodes);

}  // namespace kx::field
