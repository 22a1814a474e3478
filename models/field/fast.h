// The fast path: the direct solver's capacitances interpolated from tables
// built offline over the dimensionless cross-section (table.h), in a few
// microseconds instead of milliseconds.
//
// Air capacitances depend on W/H, S/H, T/H and H/H2 only (a dielectric
// replaced by air is air); the dielectric ones are held as
// q = 2 eff / (Er + 1), a smooth function of lambda = (Er - 1)/(Er + 1)
// (the interface equations' operator has its spectrum in [-1/2, 1/2], so
// the capacitance is analytic in lambda on [0, 1)); W and S enter through
// their logarithms, T through its cube root (it acts like T ln T near 0),
// the cover through sqrt(H/H2).
#pragma once

#include <array>

#include "models/field/capacitance.h"
#include "models/field/mesh.h"
#include "models/field/table.h"

namespace kx::field {

// The stated range of the fast path (lengths in units of H).
inline constexpr double kFastMinW = 0.1, kFastMaxW = 10.0;
inline constexpr double kFastMinS = 0.02, kFastMaxS = 10.0;
inline constexpr double kFastMaxT = 0.3;
// Thinner strips than this (but not zero-thickness ones) are solved directly:
// there the solver's values move by a few 1e-4 between neighbours.
inline constexpr double kFastMinT = 2e-3;
inline constexpr double kFastMaxEr = 20.0;
inline constexpr double kFastMinH2 = 1.0;
inline constexpr double kFastMaxCoat = 0.3;
inline constexpr double kFastMaxErCoat = 5.0;
// A coated table's region whose measured bound (eff_e or eff_o) passes this
// is left to the direct solution: the fast path holds 0.1 % where it answers.
inline constexpr double kFastMaxCoatedBound = 1e-3;
// The coated tables' fill variable starts from this gap (the least S).
inline constexpr double kFillMinS = kFastMinS;

struct FastValues {
  Capacitances c;  // per unit eps0
  // Relative error bounds of Zoe, Zoo, eff_e and eff_o: the interpolation's
  // bound in the point's region plus the solver's own estimate at the
  // surrounding nodes.
  std::array<double, 4> error{};
};

// The tables in the library (empty before the first generation: then the
// fast path covers nothing).
const Tables& fast_tables();

// The interpolated values of `sec` from `tables`; false where the tables do
// not cover it (outside the range, or a coating the tables do not hold).
bool fast_values(const Tables& tables, const Section& sec, FastValues& out);
// Whether fast_values takes `sec`, without evaluating the splines.
bool fast_reaches(const Tables& tables, const Section& sec);

// The grid coordinates of sec in t (node units along each axis, at most 8);
// false outside the table's ranges.
bool grid_coordinates(const Table& t, const Section& sec, double* x);

// One table's components (its spline) at sec; false outside its grid.
bool table_components(const Table& t, const Section& sec, double* out);

// The variable of an axis at a cross-section.
double variable_of(Variable v, const Section& sec);
// The cross-section's value of `v` set to x (the inverse map).
void set_variable(Variable v, double x, Section& sec);

}  // namespace kx::field
