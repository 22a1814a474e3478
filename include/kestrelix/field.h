// Static field solution of the edge-coupled pair: two strips on a grounded
// substrate, an optional grounded cover and an optional conformal coating
// (solder mask), solved for the even and odd modes with boundary elements.
//
// Units: every length of a Geometry is in one unit of the caller's choice
// (the results depend only on ratios); capacitances are in F/m, impedances in
// ohms, coupling in dB as a positive number.
//
//   kx::field::Geometry g;
//   g.er = 4.4;  g.h = 1.0;  g.w = 1.8;  g.s = 0.3;  g.t = 0.035;
//   const kx::field::Result r = kx::field::solve(g);   // r.zoe, r.zoo, r.error_zoe, ...
//
// solve() is thread-safe (no shared state) and throws std::invalid_argument
// with check()'s reason for a geometry it cannot take.
//
// Two ways to the same values: the direct solution (boundary elements, 1 to
// 5 ms), and the fast path (Method::fast: the direct solutions tabulated
// offline over the dimensionless cross-section and interpolated, a few
// microseconds, within 0.1 % of the direct solution) wherever its tables
// reach; elsewhere the fast path solves directly and says so
// (Result::method). Families of cross-sections and tolerance runs, coated
// or not, have fast paths of their own: <kestrelix/field_local.h>.
#pragma once

#include <cstddef>
#include <limits>
#include <string>

namespace kx::field {

// The cross-section. Ground plane at y = 0, substrate from 0 to h, the two
// strips on it symmetric about x = 0, air (or coating) above.
struct Geometry {
  double er = 1.0;  // substrate relative permittivity
  double h = 0.0;   // substrate height
  double w = 0.0;   // strip width
  double s = 0.0;   // edge-to-edge gap between the strips
  double t = 0.0;   // strip thickness (0: zero-thickness strips)
  // Height of the grounded cover above the substrate surface (> t);
  // infinity: no cover.
  double h2 = std::numeric_limits<double>::infinity();
  // Conformal coating: thickness on the substrate and on the strips' tops and
  // sides (square corners; a gap narrower than twice this is filled to the
  // coating's top), and its relative permittivity. 0 or er_coat 1: none.
  double coat = 0.0;
  double er_coat = 1.0;
};

// standard: within 0.3 % in Zoe, Zoo and the effective permittivities;
// fine: within 0.05 %, some three or four times slower.
enum class Accuracy { standard, fine };

// That promise as a relative error. A solution whose own estimate
// (Result::error_zoe ...) is larger has not kept it (a coating of very high
// permittivity, for one).
inline constexpr double promised_error(Accuracy a) { return a == Accuracy::fine ? 5e-4 : 3e-3; }

// direct: solve the cross-section; fast: interpolate the tabulated direct
// solutions (the standard accuracy) where the tables reach: Er 1 to 20,
// W/H 0.1 to 10, S/H 0.02 to 10, T/H 0 or 0.002 to 0.3, H2/H from 1 to
// open, and a coating of C/H 0.001 to 0.3 and Erc 1 to 5 but where the
// tables' measured bound passes 0.1 % (see fast_covers); a direct solution
// elsewhere.
enum class Method { fast, direct };

struct Settings {
  Accuracy accuracy = Accuracy::standard;
  // Expert: multiplies the panel density of the chosen accuracy (1 to 8).
  double refinement = 1.0;
  // Method::fast serves only the standard accuracy at refinement 1; any
  // other setting is solved directly.
  Method method = Method::direct;
};

struct Result {
  double ce = 0, co = 0;        // even/odd capacitance per strip with the dielectrics, F/m
  double cae = 0, cao = 0;      // the same with every dielectric replaced by air, F/m
  double eff_e = 0, eff_o = 0;  // effective permittivities ce/cae, co/cao
  double zoe = 0, zoo = 0;      // even/odd impedances, ohm
  double zo = 0;                // sqrt(zoe zoo), ohm
  double coupling_db = 0;       // 20 log10((zoe + zoo)/(zoe - zoo)), dB (positive)
  double zdiff = 0;             // 2 zoo, ohm
  double zcomm = 0;             // zoe / 2, ohm
  // The solver's estimate of its own relative error in each quantity, a
  // bound measured against much denser solutions (doc/field_solver.md; the
  // fast path: its interpolation's bound in the region plus the direct
  // solutions' estimates at the surrounding table nodes).
  double error_zoe = 0, error_zoo = 0, error_eff_e = 0, error_eff_o = 0;
  // How these values were formed: Method::direct for a fast request outside
  // the tables' reach (a fallback).
  Method method = Method::direct;
};

// "" when solve() can take the geometry, else a one-line reason.
std::string check(const Geometry& g);

Result solve(const Geometry& g, const Settings& settings = {});

// The error of `value`, a solution of g at `accuracy` (by either method),
// measured against a more accurate solution a of g (measuring_settings):
// for each of Zoe, Zoo, eff_e and eff_o, with e_a a's own estimate (a bound
// of |a - true| / |true|), the triangle inequality gives
//   |v - true| <= |v - a| + |a - true| <= |v - a| + e_a |a| / (1 - e_a),
// and that over |v| becomes the estimate, relative to the value v, wherever
// it is below value's own (a-priori) estimate; both bound the error, so the
// smaller does. The a-priori estimate is 12 to 23 times the true error at
// the median, this one 2 to 5 times (doc/field_solver.md), at the cost of
// a's solution: 7 ms at the median, up to some 40 ms, at the standard
// accuracy; 17 ms, up to some 120 ms, at the fine.
// Returns `value` with error_zoe ... replaced (its values untouched), or
// `value` as it is where a cannot be formed (more panels than the solver
// takes). Thread-safe; throws what solve() throws for a geometry check()
// refuses.
Result measured(const Geometry& g, const Result& value, Accuracy accuracy = Accuracy::standard);
// The setting of measured()'s accurate solution for a value at `accuracy`:
// the fine accuracy at twice the panel density for a standard value, at
// four times for a fine one.
Settings measuring_settings(Accuracy accuracy);

// true where Method::fast interpolates g instead of solving it.
bool fast_covers(const Geometry& g);
// The memory solve() works in for `g`, bytes (its dense matrices grow as the
// square of the panels: some 200 MB at the solver's limit of 2500); 0 for a
// geometry check() refuses.
std::size_t work_bytes(const Geometry& g, const Settings& settings = {});

}  // namespace kx::field
