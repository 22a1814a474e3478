// The fast path's tables: the direct solver's capacitances at the nodes of
// uniform grids over the dimensionless cross-section, as the coefficients
// of tensor-product cubic B-splines (spline.h), with the solver's own error
// estimate at the nodes and the interpolation's error bound. Built offline
// by tools/field_table (doc/field_solver.md), stored in
// models/field/fast_table.bin and embedded in the library at build time.
//
// The file, little-endian:
//   "KXFTAB05", uint32 tables, then per table
//     uint32 axes, uint32 components, uint32 storage (Storage),
//     uint32 folded (trailing axes the estimates are folded over)
//     per axis: uint32 variable (Variable), uint32 nodes, float64 lo, hi
//     uint32 region axes, per region axis: uint32 axis, uint32 groups
//     per region, per component: float64 bound (relative interpolation
//       error bound in that region; regions ordered like the nodes)
//     uniform_float: float32 coefficients[prod(nodes + 2) * components]
//     knots_int16: per component float64 offset, step, then
//       int16 coefficients[prod(nodes) * components], a coefficient being
//       offset + step * code (the knot basis of spline.h)
//     uint8 estimates[prod(nodes of the unfolded axes) * 4] (the direct
//       solution's error_zoe, error_zoo, error_eff_e, error_eff_o at the
//       node, the largest over the folded axes, coded as
//       ceil(16 log2(e / 1e-6)), 0: below 1e-6)
// "KXFTAB04" files (uniform_float, nothing folded, no storage or folded
// field) are read too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kx::field {

// The variables of the axes: each a smooth function of the cross-section
// in units of H, mapped linearly from [lo, hi] onto the nodes.
enum class Variable : std::uint32_t {
  log_w = 0,        // ln(W/H)
  log_s = 1,        // ln(S/H)
  cbrt_t = 2,       // (T/H / 0.3)^(1/3): the thickness enters like T ln T near 0
  sqrt_u = 3,       // sqrt(H/H2): 0 open
  lambda = 4,       // (Er - 1)/(Er + 1)
  coat = 5,         // sqrt(C/H)
  lambda_coat = 6,  // (Erc - 1)/(Erc + 1)
  // The coated table's: the gap left open by the coating, G = S - 2C (the
  // odd capacitance has a kink where the coating closes the gap, S = 2C; an
  // axis in G keeps it out), ln(C/H) and ln(Erc). A log_gap axis must come
  // before the log_coat axis (nodes are set from the last axis on).
  log_gap = 7,      // ln((S - 2C)/H)
  log_coat = 8,     // ln(C/H)
  log_er_coat = 9,  // ln(Erc)
  log_er = 10,      // ln(Er): the coated tables' ratio is smoother in it than in lambda
  // Where the coating fills the gap (S <= 2C): S from 0.02 H to 2C as
  // ln(S/0.02 H) / ln(2C/0.02 H), 0 to 1 (needs C > 0.01 H; set after C).
  fill = 11,
};

struct Axis {
  Variable variable{};
  int nodes = 0;
  double lo = 0.0, hi = 0.0;
};

// The solver's estimates at a node (relative), coded in a byte each.
std::uint8_t code_estimate(double e);  // rounds up: the code never understates
double decode_estimate(double code);   // a code or a mean of codes

// The interpolation's error bounds by region: the cells of some axes cut
// into even groups (the rest of the grid one region).
struct RegionAxis {
  int axis = 0;    // index into Table::axes
  int groups = 1;  // 1 to the axis's cells
};

// How a table holds its spline: float32 coefficients of the uniform basis
// (n + 2 per axis), or 16-bit coefficients of the knot basis (n per axis:
// a table of many axes in a third of the bytes of its node count's floats).
enum class Storage : std::uint32_t { uniform_float = 0, knots_int16 = 1 };

struct Table {
  std::vector<Axis> axes;
  int components = 0;
  Storage storage = Storage::uniform_float;
  int folded = 0;  // trailing axes whose nodes share their largest estimates
  std::vector<RegionAxis> regions;
  std::vector<double> bounds;           // per region, components innermost
  std::vector<float> coefficients;      // uniform_float: (nodes + 2) per axis, components innermost
  std::vector<std::int16_t> codes;      // knots_int16: nodes per axis, components innermost
  std::vector<double> offset, step;     // knots_int16: per component
  std::vector<std::uint8_t> estimates;  // nodes per unfolded axis, 4 innermost
  std::size_t node_count() const;
  std::size_t coefficient_count() const;  // either storage's
  std::size_t estimate_count() const;
  std::size_t region_count() const;
  // The region holding the grid coordinates x (node units along each axis).
  std::size_t region_at(const double* x) const;
};

struct Tables {
  std::vector<Table> tables;
};

// Reads the file's bytes; throws std::runtime_error on a malformed file.
Tables read_tables(const unsigned char* data, std::size_t size);
std::string write_tables(const Tables& t);

}  // namespace kx::field
