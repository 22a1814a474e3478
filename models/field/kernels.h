// The two kernels of the Green's function and their integrals over a
// straight segment:
//   - ln|r - r'| (the ground plane's image is a second such term), whose
//     integral and first moment have closed forms;
//   - ln(cosh a - cos b), a = pi dx/d, b = pi dy/d (two grounded plates d
//     apart), with its logarithmic singularity at a = b = 0 split off.
#pragma once

#include "models/field/mesh.h"

namespace kx::field {

struct Segment {
  Vec2 a, b;
  Vec2 mid() const { return {0.5 * (a.x + b.x), 0.5 * (a.y + b.y)}; }
};

// A line integral over a segment and its gradient in the field point.
struct Integral {
  double value = 0.0;
  Vec2 grad;
};

// The integrals over a segment of ln|r - r'| (i0) and of (s - len/2)
// ln|r - r'| (i1, s the distance along it), with their gradients in r.
// self: r on the segment, where the normal gradient is the principal value, 0.
struct LogIntegrals {
  Integral i0, i1;
};
LogIntegrals log_integrals(Vec2 r, const Segment& s, bool self);

// Below this a^2 + b^2 a cosh a - cos b from cached exponentials and sines
// would keep fewer than about 12 digits (its rounding error is some 1e-16 of 1).
inline constexpr double kCancellation = 1e-4;
// Beyond this exponent exponentials could overflow.
inline constexpr double kMaxExponent = 300.0;

// cosh a - cos b and its companions at a node pair, from cached values.
struct Trig {
  double ch, sh, cb, sb;
};

// ln(cosh a - cos b) = ln(arg) + add and its derivatives in a and b; br is b
// reduced to (-2 pi, 2 pi) around the nearer zero. Near the zero (near) da and
// db are those of the regular part only (see total_da, total_db).
struct Kern {
  double arg, add, da, db;
  bool near;
  double total_da(double a) const { return near ? da + 2.0 * a / arg : da; }
  double total_db(double br) const { return near ? db + 2.0 * br / arg : db; }
};
Kern plates_kernel(double a, double br, const Trig* trig);

// The regular part R = ln(cosh a - cos b) - ln(a^2 + br^2) and its derivatives.
struct Log {
  double v, da, db;
};
Log regular_part(double a, double br, const Trig* trig);

// R near the zero by its series, and R's derivatives.
struct Series {
  double v, da, db;
};
Series series(double a, double b);

}  // namespace kx::field
