// The Green's function's kernels and their segment integrals (see kernels.h).
#include "models/field/kernels.h"

#include <cmath>

namespace kx::field {
namespace {

constexpr double kLn2 = 0.69314718055994530942;

double distance(Vec2 p, Vec2 q) { return std::hypot(p.x - q.x, p.y - q.y); }

}  // namespace

LogIntegrals log_integrals(Vec2 r, const Segment& s, bool self) {
  const double len = distance(s.a, s.b);
  const Vec2 t{(s.b.x - s.a.x) / len, (s.b.y - s.a.y) / len};
  const double ex = r.x - s.a.x;
  const double ey = r.y - s.a.y;
  const double u = ex * t.x + ey * t.y;
  const double v = self ? 0.0 : ex * (-t.y) + ey * t.x;
  const double w1 = -u;
  const double w2 = len - u;
  const double rr1 = w1 * w1 + v * v;
  const double rr2 = w2 * w2 + v * v;
  const double ln1 = rr1 > 0.0 ? 0.5 * std::log(rr1) : 0.0;
  const double ln2 = rr2 > 0.0 ? 0.5 * std::log(rr2) : 0.0;
  const double theta = self ? 0.0 : std::atan2(v * len, v * v + w1 * w2);
  // i0 and its derivatives along (u) and off (v) the segment.
  const double i0 = w2 * ln2 - w1 * ln1 - len + v * theta;
  const double i0_u = ln1 - ln2;
  const double i0_v = theta;
  // J = integral of (s - u) ln rho = [rho^2 ln rho / 2 - x^2 / 4] over x = s - u.
  const double j = 0.5 * (rr2 * ln2 - rr1 * ln1) - 0.25 * (w2 * w2 - w1 * w1);
  const double j_u = w1 * ln1 - w2 * ln2;
  const double j_v = v * (ln2 - ln1);
  const double shift = u - 0.5 * len;
  const double i1 = j + shift * i0;
  const double i1_u = j_u + i0 + shift * i0_u;
  const double i1_v = j_v + shift * i0_v;
  const auto grad = [&](double du, double dv) {
    return Vec2{du * t.x - dv * t.y, du * t.y + dv * t.x};
  };
  return {{i0, grad(i0_u, i0_v)}, {i1, grad(i1_u, i1_v)}};
}

Series series(double a, double b) {
  const double wr = 0.5 * a, wi = 0.5 * b;
  const double ur = wr * wr - wi * wi, ui = 2.0 * wr * wi;  // u = w^2
  // g = u P(u) and dg/dw = w Q(u), Horner in complex u.
  constexpr double kP[] = {1.0 / 467775, -1.0 / 37800, 1.0 / 2835, -1.0 / 180, 1.0 / 6};
  constexpr double kQ[] = {2.0 / 93555, -1.0 / 4725, 2.0 / 945, -1.0 / 45, 1.0 / 3};
  double pr = 0.0, pi = 0.0, qr = 0.0, qi = 0.0;
  for (int j = 0; j < 5; ++j) {
    const double npr = pr * ur - pi * ui + kP[j];
    pi = pr * ui + pi * ur;
    pr = npr;
    const double nqr = qr * ur - qi * ui + kQ[j];
    qi = qr * ui + qi * ur;
    qr = nqr;
  }
  const double gr = ur * pr - ui * pi;                            // Re g
  const double dgr = wr * qr - wi * qi, dgi = wr * qi + wi * qr;  // dg/dw
  return {-kLn2 + 2.0 * gr, dgr, -dgi};
}

Kern plates_kernel(double a, double br, const Trig* trig) {
  const double rr = a * a + br * br;
  if (rr < 0.25) {
    const Series g = series(a, br);
    return {rr, g.v, g.da, g.db, true};
  }
  if (trig) {
    const double lambda = trig->ch - trig->cb;
    return {lambda, 0.0, trig->sh / lambda, trig->sb / lambda, false};
  }
  // cosh a - cos b = e^|a| / 2 ((1 - e^-|a|)^2 + 4 e^-|a| sin^2(b/2)).
  const double aa = std::abs(a);
  const double e = std::exp(-aa);
  const double m = -std::expm1(-aa);
  const double sh = std::sin(0.5 * br);
  const double den = m * m + 4.0 * e * sh * sh;
  return {den, aa - kLn2, std::copysign(m * (2.0 - m) / den, a), 2.0 * e * std::sin(br) / den,
          false};
}

Log regular_part(double a, double br, const Trig* trig) {
  const double rr = a * a + br * br;
  const Kern k = plates_kernel(a, br, trig);
  if (k.near) return {k.add, k.da, k.db};
  return {std::log(k.arg / rr) + k.add, k.da - 2.0 * a / rr, k.db - 2.0 * br / rr};
}

}  // namespace kx::field
