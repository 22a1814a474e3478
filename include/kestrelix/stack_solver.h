// The static field of a general board cross-section (kestrelix/stack.h),
// solved with boundary elements: the Maxwell capacitance matrices of the
// signal conductors with the dielectrics and in vacuum, the inductance
// matrix, the modes, each dielectric's share of the capacitance, the charge
// on the conductors' surfaces; and from them a line's, a pair's and a
// neighbour's figures (impedances, effective permittivities, delays,
// crosstalk), each with an estimate of its own relative error.
//
// Units: per metre of line, whatever unit the stack's lengths are in (the
// field depends only on their ratios): capacitances in F/m, inductances in
// H/m, delays in s/m; impedances in ohms. Surface charge densities are per
// unit of the stack's length across the conductor (see Solution::density).
//
//   const kx::stack::Solution sol = kx::stack::solve(kx::stack::stripline_pair(...));
//   const kx::stack::PairFigures p = kx::stack::pair(sol);   // p.zdiff, p.error_zdiff, ...
//
// solve() is thread-safe (no shared state) and throws std::invalid_argument
// with check()'s reason for a stack it cannot take, std::runtime_error should
// a solution ever not be physical (a capacitance matrix not positive definite).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <kestrelix/stack.h>

namespace kx::stack {

// standard: within 0.3 % in impedances and effective permittivities;
// fine: within 0.05 %, some three or four times slower.
enum class Accuracy { standard, fine };

struct Settings {
  Accuracy accuracy = Accuracy::standard;
  // Expert: multiplies the panel density of the chosen accuracy (1 to 8).
  double refinement = 1.0;
  // Also each dielectric's share of the capacitance (Solution::filling).
  bool filling = false;
  // Also the charge on the conductors' panels (Solution::surface).
  bool surface = false;
};

// A small dense symmetric-or-not matrix, row-major.
struct Matrix {
  std::size_t n = 0;  // n x n
  std::vector<double> v;
  Matrix() = default;
  explicit Matrix(std::size_t size) : n(size), v(size * size, 0.0) {}
  double& operator()(std::size_t i, std::size_t j) { return v[i * n + j]; }
  double operator()(std::size_t i, std::size_t j) const { return v[i * n + j]; }
};

// One propagating mode of the lines (eigenvector of L C).
struct Mode {
  double eff = 0.0;             // effective permittivity
  double delay = 0.0;           // s/m: sqrt(eff) / c0
  std::vector<double> voltage;  // the lines' voltages, largest magnitude 1
  // Its impedance (v . v) / (v . Zc^-1 v), v the voltages (the voltage
  // squared over the power, per line): a single line's Z0, a symmetric
  // pair's Zoe and Zoo.
  double impedance = 0.0;
};

// A panel of a conductor's surface (the fine mesh) and the charge on it.
struct SurfacePanel {
  std::size_t conductor = 0;              // index into Stack::conductors
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // ends, in the stack's length unit
  double length = 0.0;
  // (1 / length) times the integral over the panel of (density / mean
  // density)^2: at least 1; large on a panel at a sharp corner.
  double shape_square = 1.0;
};

// The matrices of one mesh (the solver's two meshes give the error estimates).
struct MeshMatrices {
  Matrix c, c_vac;
};

struct Solution {
  Stack stack;                     // as solved
  std::vector<std::size_t> lines;  // Stack::conductors index of each line (the signals)
  // Maxwell capacitance matrices (F/m): c(i, j) the charge on line i with
  // line j at 1 V and every other line, ground and plane at 0 V (floating
  // metal at zero net charge); c_vac with every dielectric replaced by vacuum.
  Matrix c, c_vac;
  Matrix l;  // inductance matrix (H/m): mu0 eps0 c_vac^-1
  // Characteristic impedance matrix (ohm): V = zc I for waves in one direction.
  Matrix zc;
  std::vector<Mode> modes;  // fastest first

  // With Settings::filling: per dielectric region r, er_r times the
  // derivative of c by er_r (F/m); they sum to c. The dielectric
  // conductance of the lines is omega times the sum of loss_tangent_r times
  // filling[r], and the share of line i's field energy in region r is
  // filling[r](i, i) / c(i, i).
  std::vector<Region> regions;
  std::vector<Matrix> filling;

  // With Settings::surface: the conductors' panels (of the fine mesh), and
  // per line j the free charge density on each panel with line j at 1 V,
  // with the dielectrics and in vacuum: density[j][p], density_vac[j][p],
  // such that density times the panel's length (in the stack's unit) is the
  // panel's charge in C per metre of line (their sum over a line's panels is
  // that line's column of the fine mesh's matrix). The quasi-static surface
  // current of a TEM wave follows density_vac.
  std::vector<SurfacePanel> surface;
  std::vector<std::vector<double>> density, density_vac;

  // The coarse and the fine mesh's matrices, and the relative error floor
  // (what refinement does not show): the error estimates of every figure
  // below come from them.
  MeshMatrices coarse, fine;
  double error_floor = 0.0;
  std::size_t panels = 0;  // of the fine mesh (after any mirror symmetry)
};

// check() then the solution. Throws std::invalid_argument with check()'s reason.
Solution solve(const Stack& s, const Settings& settings = {});

// ---------------------------------------------------------------------------
// Figures from a solution, each with its relative error estimate.

// Line i alone (every other line at 0 V): Z0 = 1 / (c0 sqrt(C C_vac)).
struct LineFigures {
  double z0 = 0.0, eff = 0.0, delay = 0.0;  // ohm, -, s/m
  double error_z0 = 0.0, error_eff = 0.0;
};
LineFigures line(const Solution& s, std::size_t i = 0);

// Lines i and j as a pair (every other line at 0 V). For a symmetric pair
// these are the even and odd modes: zoe, zoo, eff_e, eff_o, zdiff = 2 zoo,
// zcomm = zoe / 2. For a pair that is not symmetric: zdiff is the
// differential impedance (V1 - V2) / I for I1 = -I2 = I, zcomm the common one
// V / (I1 + I2) for V1 = V2 = V, zoo = zdiff / 2, zoe = 2 zcomm, and eff_e,
// eff_o the two modes' effective permittivities (the mode whose voltages
// share a sign is "even").
struct PairFigures {
  double zoe = 0.0, zoo = 0.0, eff_e = 0.0, eff_o = 0.0;
  double zdiff = 0.0, zcomm = 0.0;
  double delay_e = 0.0, delay_o = 0.0;  // s/m
  double coupling_db = 0.0;             // 20 log10((zoe + zoo) / (zoe - zoo)), positive
  double error_zoe = 0.0, error_zoo = 0.0, error_eff_e = 0.0, error_eff_o = 0.0;
};
PairFigures pair(const Solution& s, std::size_t i = 0, std::size_t j = 1);

// Crosstalk onto a victim from an aggressor in the weak-coupling limit
// (lines matched), from the 2 x 2 blocks of the two lines (every other line
// at 0 V). With the inductive and capacitive coupling coefficients
//   kL = Lm / sqrt(Lv La),  kC = Cm / sqrt(Cv Ca)
// (Lm = l(v, a), Cm = -c(v, a) > 0; for identical lines Lm/Ls and Cm/Cs):
//   kb = (kL + kC) / 4               backward (near-end) coefficient: the
//                                    near-end voltage over the aggressor's
//                                    for a line longer than half the rise time;
//   kf = (kL - kC) / 2               forward (far-end) coefficient: the
//                                    far-end voltage is -kf x (delay of the
//                                    coupled length) / t_rise;
//   kf_per_length = kf x delay       s/m, delay = sqrt(Lv Cv): the far-end
//                                    voltage is -kf_per_length x length / t_rise.
// In one homogeneous dielectric kf is 0. A victim pair (p, n) takes the
// differential figures: kb = kb(p, a) - kb(n, a), kf likewise.
struct Crosstalk {
  double kb = 0.0, kf = 0.0, kf_per_length = 0.0;
  double error_kb = 0.0, error_kf = 0.0;  // relative
};
Crosstalk crosstalk(const Solution& s, std::size_t victim, std::size_t aggressor);
Crosstalk pair_crosstalk(const Solution& s, std::size_t p, std::size_t n, std::size_t aggressor);

}  // namespace kx::stack
