// Panel integrals of the Green's function (see green.h).
//
// A panel's charge acts through four terms: the panel itself and its image
// below the ground (sign -1), and the same two for its mirror image in x = 0.
// Between plates the image term's singularity lies below the ground or above
// the cover, whichever is nearer.
#include "models/field/green.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include <Eigen/Dense>

namespace kx::field {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLn2 = 0.69314718055994530942;

// Closer than this many panel lengths (times the care) to a term's
// singularity, the logarithm is integrated in closed form: a 4-point rule
// there would err by some 1e-5.
constexpr double kNear = 1.0;

// Gauss-Legendre rules on [-1, 1]; a panel keeps the nodes of all three.
struct Rule {
  int n;
  int offset;  // among a panel's nodes (-1: not kept)
  std::array<double, 8> x, w;
};
constexpr Rule kRule1{1, 0, {0.0}, {2.0}};
constexpr Rule kRule2{2, 1, {-0.57735026918962576451, 0.57735026918962576451}, {1.0, 1.0}};
constexpr Rule kRule4{4,
                      3,
                      {-0.86113631159405257522, -0.33998104358485626480, 0.33998104358485626480,
                       0.86113631159405257522},
                      {0.34785484513745385737, 0.65214515486254614263, 0.65214515486254614263,
                       0.34785484513745385737}};
constexpr Rule kRule3{3,
                      -1,
                      {-0.77459666924148337704, 0.0, 0.77459666924148337704},
                      {5.0 / 9.0, 8.0 / 9.0, 5.0 / 9.0}};
// A panel's nodes: the 1-, 2- and 4-point rules' for its charge, then the
// 2-point rule's for a mean over it.
constexpr int kNodes = 13;
constexpr int kMeanOffset = 7;
// Then the plain 4-point rule's (weights without the shape) for the regular
// parts of near integrals.
constexpr int kPlainOffset = 9;

// Fewer nodes the farther the singularity (q: its distance over the panel
// length, given squared; care >= 1 moves the steps out); an n-point rule's
// error falls like (4 q)^(-2n).
const Rule& rule_at(double qq, double care) {
  if (qq < 16.0 * care * care) return kRule4;
  if (qq < 256.0 * care * care * care * care) return kRule2;
  return kRule1;
}

double distance(Vec2 p, Vec2 q) { return std::hypot(p.x - q.x, p.y - q.y); }

struct Segment {
  Vec2 a, b;
  Vec2 mid() const { return {0.5 * (a.x + b.x), 0.5 * (a.y + b.y)}; }
};

// Nodes on a panel that ends at a strip corner crowd toward that end, so a
// rule integrates the corner's power law: the fraction of the panel at u in
// [0, 1] is u^m (from p1), 1 - (1 - u)^m (from p2) or u^m / (u^m + (1 - u)^m)
// (both), with m = 1 / (1 + beta).
}  // namespace

double Green::Stretch::position(double u) const {
  if (from1 && from2) return std::pow(u, m) / (std::pow(u, m) + std::pow(1.0 - u, m));
  if (from1) return std::pow(u, m);
  if (from2) return 1.0 - std::pow(1.0 - u, m);
  return u;
}
double Green::Stretch::inverse(double f) const {
  if (f <= 0.0 || f >= 1.0) return f <= 0.0 ? 0.0 : 1.0;
  if (from1 && from2) {
    const double t = std::pow(f / (1.0 - f), 1.0 / m);
    return t / (1.0 + t);
  }
  if (from1) return std::pow(f, 1.0 / m);
  if (from2) return 1.0 - std::pow(1.0 - f, 1.0 / m);
  return f;
}
double Green::Stretch::derivative(double u) const {
  if (from1 && from2) {
    const double a = std::pow(u, m);
    const double b = std::pow(1.0 - u, m);
    return m * std::pow(u * (1.0 - u), m - 1.0) / ((a + b) * (a + b));
  }
  if (from1) return m * std::pow(u, m - 1.0);
  if (from2) return m * std::pow(1.0 - u, m - 1.0);
  return 1.0;
}

namespace {

using Stretch = Green::Stretch;
Stretch stretch_of(const Panel& p) {
  Stretch st;
  double beta = 0.0;
  for (const Taper& t : p.tapers) {
    if (t.beta >= 0.0) continue;
    const bool at1 = distance(t.at, p.p1) <= 1e-12 * p.len;
    const bool at2 = distance(t.at, p.p2) <= 1e-12 * p.len;
    st.from1 = st.from1 || at1;
    st.from2 = st.from2 || at2;
    if (at1 || at2) beta = std::min(beta, t.beta);
  }
  st.m = 1.0 / (1.0 + beta);
  return st;
}
// The point a fraction f along the panel.
Vec2 at(const Panel& p, double f) {
  return {p.p1.x + f * (p.p2.x - p.p1.x), p.p1.y + f * (p.p2.y - p.p1.y)};
}

// A quadrature rule as nodes and weights.
struct QuadratureTable {
  std::vector<double> x, w;
};

// The n-point Gauss-Legendre rule on [-1, 1] (Newton on the Legendre
// polynomial from the usual first guesses).
QuadratureTable gauss_legendre(int n) {
  QuadratureTable out;
  for (int i = 0; i < n; ++i) {
    double x = std::cos(kPi * (i + 0.75) / (n + 0.5));
    double dp = 1.0;
    for (int it = 0; it < 100; ++it) {
      double p0 = 1.0, p1 = x;
      for (int j = 2; j <= n; ++j) {
        const double p2 = ((2.0 * j - 1.0) * x * p1 - (j - 1.0) * p0) / j;
        p0 = p1;
        p1 = p2;
      }
      dp = n * (x * p1 - p0) / (x * x - 1.0);
      const double step = p1 / dp;
      x -= step;
      if (std::abs(step) < 1e-16) break;
    }
    out.x.push_back(x);
    out.w.push_back(2.0 / ((1.0 - x * x) * dp * dp));
  }
  return out;
}
constexpr int kShapePoints = 12;
// Below this a^2 + b^2 the cached cosh a - cos b would keep fewer than
// about 12 digits (its rounding error is some 1e-16 of 1).
constexpr double kCancellation = 1e-4;
// Beyond this k x exponentials could overflow.
constexpr double kMaxExponent = 300.0;
// Levels of a composite rule graded toward a singular point.
constexpr int kGradedLevels = 10;

// The n-point Gauss rule of a discrete measure on [0, 1] (Stieltjes'
// procedure for its three-term recurrence, Golub-Welsch for the nodes).
QuadratureTable gauss_for(const QuadratureTable& measure, int n) {
  const std::size_t m = measure.x.size();
  std::array<double, 32> prev{}, cur{};
  for (std::size_t i = 0; i < m; ++i) cur[i] = 1.0;
  Eigen::Matrix4d jacobi = Eigen::Matrix4d::Zero();
  double norm_prev = 1.0;
  double total = 0.0;
  for (int k = 0; k < n; ++k) {
    double norm = 0.0, moment = 0.0;
    for (std::size_t i = 0; i < m; ++i) {
      norm += measure.w[i] * cur[i] * cur[i];
      moment += measure.w[i] * measure.x[i] * cur[i] * cur[i];
    }
    if (k == 0) total = norm;
    const double alpha = moment / norm;
    const double beta = k == 0 ? 0.0 : norm / norm_prev;
    jacobi(k, k) = alpha;
    if (k > 0) jacobi(k, k - 1) = jacobi(k - 1, k) = std::sqrt(beta);
    for (std::size_t i = 0; i < m; ++i) {
      const double next = (measure.x[i] - alpha) * cur[i] - beta * prev[i];
      prev[i] = cur[i];
      cur[i] = next;
    }
    norm_prev = norm;
  }
  QuadratureTable out;
  if (n == 1) {
    out.x.push_back(jacobi(0, 0));
    out.w.push_back(total);
    return out;
  }
  if (n == 2) {
    // The 2 x 2 Jacobi matrix's eigenvalues and eigenvectors in closed form.
    const double a = jacobi(0, 0), d = jacobi(1, 1), b = jacobi(0, 1);
    const double mid = 0.5 * (a + d), half = std::hypot(0.5 * (a - d), b);
    for (const double lambda : {mid - half, mid + half}) {
      // Eigenvector (b, lambda - a) or, if that vanishes, (lambda - d, b).
      double v0 = b, v1 = lambda - a;
      if (std::abs(v0) + std::abs(v1) == 0.0) {
        v0 = 1.0;
        v1 = 0.0;
      }
      out.x.push_back(lambda);
      out.w.push_back(total * v0 * v0 / (v0 * v0 + v1 * v1));
    }
    return out;
  }
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix4d> eig(jacobi);
  for (int i = 0; i < n; ++i) {
    out.x.push_back(eig.eigenvalues()(i));
    out.w.push_back(total * eig.eigenvectors()(0, i) * eig.eigenvectors()(0, i));
  }
  return out;
}

// A line integral over a segment and its gradient in the field point.
struct Integral {
  double value = 0.0;
  Vec2 grad;
};

// The closed-form integrals over a segment of ln|r - r'| (i0) and of
// (s - len/2) ln|r - r'| (i1, s the distance along it), with their gradients
// in r. self: r on the segment, where the normal gradient is the principal
// value, 0.
struct LogIntegrals {
  Integral i0, i1;
};
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

// cosh a - cos b and the other values at a node pair, from the cached
// exponentials and sines.
struct Trig {
  double ch, sh, cb, sb;
};

// ln(cosh a - cos b) = ln(arg) + add, and its derivatives in a and b. br is
// b reduced to (-2 pi, 2 pi) around the nearer zero of cosh a - cos b. Near
// the zero, cosh a - cos b = 2 |sinh(z/2)|^2 with z = a + i br gives
//   ln(cosh a - cos b) = ln(a^2 + br^2) - ln 2 + 2 Re ln(sinh w / w), w = z/2,
// the last term by its series; elsewhere the cached values serve (or,
// without them, a form that never overflows).
// In the series region (near) da and db are those of the regular part,
// without the 2 (a, br) / (a^2 + br^2) of the logarithm.
struct Kern {
  double arg, add, da, db;
  bool near;
  double total_da(double a) const { return near ? da + 2.0 * a / arg : da; }
  double total_db(double br) const { return near ? db + 2.0 * br / arg : db; }
};
// The regular part near the zero: R = -ln 2 + 2 Re ln(sinh w / w) with
// w = (a + i b) / 2 by its series (to w^10; |w| < 1/4 here), and R's
// derivatives in a and b. Complex arithmetic written out.
struct Series {
  double v, da, db;
};
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

// The regular part R = ln(cosh a - cos b) - ln(a^2 + br^2) as a Log.
struct Log {
  double v, da, db;
};
Log regular_part(double a, double br, const Trig* trig) {
  const double rr = a * a + br * br;
  const Kern k = plates_kernel(a, br, trig);
  if (k.near) return {k.add, k.da, k.db};
  return {std::log(k.arg / rr) + k.add, k.da - 2.0 * a / rr, k.db - 2.0 * br / rr};
}

// The four terms of a panel's influence.
enum Term { kDirect, kImage, kMirror, kMirrorImage };
constexpr std::array<Term, 4> kTerms{kDirect, kImage, kMirror, kMirrorImage};
bool is_image(Term t) { return t == kImage || t == kMirrorImage; }
bool is_mirror(Term t) { return t == kMirror || t == kMirrorImage; }

}  // namespace

Green::Node Green::plain_node(Vec2 p) const {
  Node q;
  q.p = p;
  q.w = 0.0;
  q.cached = open_;  // open: nothing to cache
  return q;
}

Green::Node Green::node(Vec2 p, double w) const {
  Node q;
  q.p = p;
  q.w = w;
  const double k = open_ ? 0.0 : kPi / plates_;
  if (open_) return q;
  q.ex = cached_ ? std::exp(k * p.x) : 0.0;
  q.iex = cached_ ? 1.0 / q.ex : 0.0;
  q.cy = std::cos(k * p.y);
  q.sy = std::sin(k * p.y);
  return q;
}

Green::Green(const Mesh& mesh)
    : mesh_(mesh),
      plates_(mesh.plates),
      care_(mesh.quadrature),
      open_(std::isinf(mesh.plates)),
      cached_(false) {
  const double k = open_ ? 0.0 : kPi / plates_;
  double x_max = 0.0;
  for (const Panel& p : mesh.panels) x_max = std::max({x_max, p.p1.x, p.p2.x});
  cached_ = !open_ && k * x_max < kMaxExponent;
  nodes_.reserve(kNodes * mesh.panels.size());
  norms_.reserve(mesh.panels.size());
  const QuadratureTable fine = gauss_legendre(kShapePoints);
  for (const Panel& p : mesh.panels) {
    stretches_.push_back(stretch_of(p));
    const Stretch& st = stretches_.back();
    if (!p.tapered()) {
      norms_.push_back(1.0);
      for (const Rule* rule : {&kRule1, &kRule2, &kRule4})
        for (int i = 0; i < rule->n; ++i) {
          const std::size_t j = static_cast<std::size_t>(i);
          nodes_.push_back(node(at(p, 0.5 * (1.0 + rule->x[j])), 0.5 * p.len * rule->w[j]));
        }
    } else {
      // The shape as a discrete measure on [0, 1] (stretched toward a corner
      // end, so its nodes integrate the power law), then Gauss rules for
      // that measure: they keep the panel's charge and its moments.
      QuadratureTable measure;
      double mean = 0.0;
      for (std::size_t i = 0; i < fine.x.size(); ++i) {
        const double u = 0.5 * (1.0 + fine.x[i]);
        const double f = st.position(u);
        const double w = 0.5 * fine.w[i] * st.derivative(u) * p.raw_shape_at(f);
        measure.x.push_back(f);
        measure.w.push_back(w);
        mean += w;
      }
      norms_.push_back(1.0 / mean);
      for (int n : {1, 2, 4}) {
        const QuadratureTable rule = gauss_for(measure, n);
        for (std::size_t i = 0; i < rule.x.size(); ++i)
          nodes_.push_back(node(at(p, rule.x[i]), p.len * rule.w[i] / mean));
      }
    }
    // Nodes of the mean over the panel (weights summing to 1).
    for (int i = 0; i < kRule2.n; ++i) {
      const double u = 0.5 * (1.0 + kRule2.x[static_cast<std::size_t>(i)]);
      nodes_.push_back(node(at(p, st.position(u)),
                            0.5 * kRule2.w[static_cast<std::size_t>(i)] * st.derivative(u)));
    }
    // The plain 4-point rule's nodes and the shape there.
    for (int i = 0; i < kRule4.n; ++i) {
      const std::size_t j = static_cast<std::size_t>(i);
      const double f = 0.5 * (1.0 + kRule4.x[j]);
      nodes_.push_back(node(at(p, f), 0.5 * kRule4.w[j] * p.len));
      plain_shapes_.push_back(p.tapered() ? norms_.back() * p.raw_shape_at(f) : 1.0);
    }
  }
}

namespace {

// The arguments of the plates' kernel for one term at a node pair.
struct Args {
  double a, br;
  Trig trig;
};
Args plates_args(Term term, const Green::Node& r, const Green::Node& q, double k) {
  const bool mirror = is_mirror(term);
  const bool image = is_image(term);
  Args out;
  out.a = k * (mirror ? r.p.x + q.p.x : r.p.x - q.p.x);
  const double b = k * (image ? r.p.y + q.p.y : r.p.y - q.p.y);
  out.br = b > kPi ? b - 2.0 * kPi : b;
  const double ex = mirror ? r.ex * q.ex : r.ex * q.iex;  // e^a
  const double iex = mirror ? r.iex * q.iex : r.iex * q.ex;
  out.trig = {0.5 * (ex + iex), 0.5 * (ex - iex),
              image ? r.cy * q.cy - r.sy * q.sy : r.cy * q.cy + r.sy * q.sy,
              image ? r.sy * q.cy + r.cy * q.sy : r.sy * q.cy - r.cy * q.sy};
  return out;
}

}  // namespace

// The influence at panel `at` of panel `source`: the potential (kField
// false) or the normal field. In the closed-form logarithm's units:
//   open:   phi = -1/(2 pi) sum_terms sign * integral of ln rho
//   plates: phi = -1/(4 pi) sum_terms sign * integral of ln(cosh a - cos b)
// and E = -grad phi.
template <bool kField>
Influence Green::influence(const Node& rn, Vec2 n, std::size_t source, bool self) const {
  const Panel& p = mesh_.panels[source];
  const double scale = open_ ? 1.0 / (2.0 * kPi) : 1.0 / (4.0 * kPi);
  const double c = kField ? scale : -scale;  // E = -grad phi
  const Vec2 r = rn.p;
  const double dx = r.x - p.mid.x;
  const double mx = r.x + p.mid.x;
  const double dy = r.y - p.mid.y;
  const double qq = std::min(dx * dx, mx * mx) + dy * dy;  // to the nearer of panel and mirror
  const double close = kNear * care_ * p.len;
  const Influence sum = !self && qq >= close * close && (open_ || cached_)
                            ? far<kField>(rn, n, source, rule_at(qq / (p.len * p.len), care_).n)
                            : near<kField>(rn, n, source, self);
  return {c * sum.direct, c * sum.mirror};
}

// Every term far from its singularity: all four by one rule, the panel's
// term and its image's combined in one logarithm.
template <bool kField>
Influence Green::far(const Node& rn, Vec2 n, std::size_t source, int points) const {
  const Rule& rule = points == 1 ? kRule1 : points == 2 ? kRule2 : kRule4;
  const Vec2 r = rn.p;
  const Node* nodes = &nodes_[kNodes * source + static_cast<std::size_t>(rule.offset)];
  Influence sum;
  if (open_) {
    for (int i = 0; i < rule.n; ++i) {
      const Node& q = nodes[i];
      const double dx = r.x - q.p.x;
      const double mx = r.x + q.p.x;
      const double dy = r.y - q.p.y;
      const double iy = r.y + q.p.y;
      const double dd = dx * dx + dy * dy;
      const double di = dx * dx + iy * iy;
      const double md = mx * mx + dy * dy;
      const double mi = mx * mx + iy * iy;
      if constexpr (kField) {
        sum.direct += q.w * ((dx / dd - dx / di) * n.x + (dy / dd - iy / di) * n.y);
        sum.mirror += q.w * ((mx / md - mx / mi) * n.x + (dy / md - iy / mi) * n.y);
      } else {
        sum.direct += q.w * 0.5 * std::log(dd / di);
        sum.mirror += q.w * 0.5 * std::log(md / mi);
      }
    }
    return sum;
  }
  const double k = kPi / plates_;
  for (int i = 0; i < rule.n; ++i) {
    const Node& q = nodes[i];
    // a, b for the panel's term (and a' for its mirror's), b~ for the images'.
    const double a = k * (r.x - q.p.x);
    const double am = k * (r.x + q.p.x);
    const double b = k * (r.y - q.p.y);
    double bi = k * (r.y + q.p.y);
    if (bi > kPi) bi -= 2.0 * kPi;
    // cosh a - cos b and the rest from the cached values; close to a zero of
    // cosh a - cos b the series instead (plates_kernel).
    const double e = rn.ex * q.iex, ie = rn.iex * q.ex;    // e^a, e^-a
    const double em = rn.ex * q.ex, iem = rn.iex * q.iex;  // e^a', e^-a'
    const double cc = rn.cy * q.cy, ss = rn.sy * q.sy;
    const double ch = 0.5 * (e + ie), chm = 0.5 * (em + iem);
    const double cb = cc + ss, ci = cc - ss;
    // One term: ln(cosh a - cos b) = ln(arg) + add, and its gradient over k.
    struct Value {
      double arg, add, ga, gb;
    };
    const auto term = [](double ta, double tb, double lambda, double sh, double sb) {
      const double rr = ta * ta + tb * tb;
      if (rr >= kCancellation) return Value{lambda, 0.0, sh / lambda, sb / lambda};
      const Series g = series(ta, tb);
      return Value{rr, g.v, g.da + 2.0 * ta / rr, g.db + 2.0 * tb / rr};
    };
    const double sh = 0.5 * (e - ie), shm = 0.5 * (em - iem);
    const double sb = rn.sy * q.cy - rn.cy * q.sy, si = rn.sy * q.cy + rn.cy * q.sy;
    const Value d = term(a, b, ch - cb, sh, sb);
    const Value i1 = term(a, bi, ch - ci, sh, si);
    const Value md = term(am, b, chm - cb, shm, sb);
    const Value mi = term(am, bi, chm - ci, shm, si);
    if constexpr (kField) {
      sum.direct += q.w * k * ((d.ga - i1.ga) * n.x + (d.gb - i1.gb) * n.y);
      sum.mirror += q.w * k * ((md.ga - mi.ga) * n.x + (md.gb - mi.gb) * n.y);
    } else {
      sum.direct += q.w * (std::log(d.arg / i1.arg) + d.add - i1.add);
      sum.mirror += q.w * (std::log(md.arg / mi.arg) + md.add - mi.add);
    }
  }
  return sum;
}

// Some term near its singularity: each term alone. A near term's logarithm
// is integrated in closed form against the panel's shape expanded to first
// order about the point nearest r, the rest by Gauss; on a panel that ends
// at a strip corner, whose shape is singular there, by a composite rule
// graded toward that end and toward the point nearest r.
template <bool kField>
Influence Green::near(const Node& rn, Vec2 n, std::size_t source, bool self) const {
  const Panel& p = mesh_.panels[source];
  const Vec2 r = rn.p;
  const double k = open_ ? 0.0 : kPi / plates_;
  const double norm = norms_[source];
  const Stretch& st = stretches_[source];
  const bool corner = st.from1 || st.from2;
  const Vec2 tangent{(p.p2.x - p.p1.x) / p.len, (p.p2.y - p.p1.y) / p.len};
  const auto shape = [&](double f) { return p.tapered() ? norm * p.raw_shape_at(f) : 1.0; };

  // Where each term is singular: the panel or its mirror, and for an image
  // term that reflected in the ground (or, between plates, in the nearer plate).
  const Segment s{p.p1, p.p2};
  const Segment m{{-p.p1.x, p.p1.y}, {-p.p2.x, p.p2.y}};
  const auto singular = [&](Term t) {
    const Segment& base = is_mirror(t) ? m : s;
    if (!is_image(t)) return base;
    const double plane = !open_ && base.mid().y + r.y > plates_ ? plates_ : 0.0;
    return Segment{{base.a.x, 2.0 * plane - base.a.y}, {base.b.x, 2.0 * plane - base.b.y}};
  };

  Influence sum;
  const auto add = [&](Term t, double value, Vec2 grad) {
    const double sign = is_image(t) ? -1.0 : 1.0;
    (is_mirror(t) ? sum.mirror : sum.direct) += sign *
                                                (kField ? grad.x * n.x + grad.y * n.y : value);
  };
  // The term's kernel at the panel's point q with weight w: ln rho (open) or
  // ln(cosh a - cos b) (plates), or with regular only its part R.
  const auto kernel = [&](Term t, const Node& qn, double w, bool regular) {
    const Vec2 q = qn.p;
    if (open_) {
      const double dx = is_mirror(t) ? r.x + q.x : r.x - q.x;
      const double dy = is_image(t) ? r.y + q.y : r.y - q.y;
      const double rr = dx * dx + dy * dy;
      add(t, regular ? 0.0 : w * 0.5 * std::log(rr),
          regular ? Vec2{} : Vec2{w * dx / rr, w * dy / rr});
      return;
    }
    Args g;
    const Trig* trig = nullptr;
    if (qn.cached) {
      g = plates_args(t, rn, qn, k);
      if (cached_) trig = &g.trig;
    } else {
      // Without the node's cached values: cosh and cos only where the series
      // does not serve (and a stays in range).
      g.a = k * (is_mirror(t) ? r.x + q.x : r.x - q.x);
      const double b = k * (is_image(t) ? r.y + q.y : r.y - q.y);
      g.br = b > kPi ? b - 2.0 * kPi : b;
      if (g.a * g.a + g.br * g.br >= 0.25 && std::abs(g.a) < kMaxExponent) {
        g.trig = {std::cosh(g.a), std::sinh(g.a), std::cos(g.br), std::sin(g.br)};
        trig = &g.trig;
      }
    }
    if (regular) {
      const Log l = regular_part(g.a, g.br, trig);
      add(t, w * l.v, {w * k * l.da, w * k * l.db});
    } else {
      const Kern l = plates_kernel(g.a, g.br, trig);
      add(t, w * (std::log(l.arg) + l.add), {w * k * l.total_da(g.a), w * k * l.total_db(g.br)});
    }
  };

  for (Term t : kTerms) {
    const bool on_panel = self && t == kDirect;
    if (kField && on_panel) continue;  // the principal value on a straight panel: 0
    const Segment sing = singular(t);
    const Vec2 centre = sing.mid();
    const double qq = ((r.x - centre.x) * (r.x - centre.x) + (r.y - centre.y) * (r.y - centre.y)) /
                      (p.len * p.len);
    if (!on_panel && qq >= kNear * kNear * care_ * care_) {
      const Rule& rule = rule_at(qq, care_);
      const Node* nodes = &nodes_[kNodes * source + static_cast<std::size_t>(rule.offset)];
      for (int i = 0; i < rule.n; ++i) kernel(t, nodes[i], nodes[i].w, false);
      continue;
    }
    // The point of the panel nearest r, as a fraction along it.
    const double l2 = p.len * p.len;
    const double f_near = std::clamp(
        ((r.x - sing.a.x) * (sing.b.x - sing.a.x) + (r.y - sing.a.y) * (sing.b.y - sing.a.y)) / l2,
        0.0, 1.0);
    if (corner) {
      // In the stretched variable u the charge is smooth; the kernel's
      // logarithm at the point nearest r is met by pieces shrinking toward it.
      const double u_near = st.inverse(f_near);
      std::vector<double> cuts{0.0, u_near, 1.0};
      for (const double end : {0.0, 1.0}) {
        double d = u_near - end;
        for (int i = 0; i < kGradedLevels; ++i) {
          d *= 0.2;
          cuts.push_back(u_near - d);
        }
      }
      std::sort(cuts.begin(), cuts.end());
      for (std::size_t c = 1; c < cuts.size(); ++c) {
        const double lo = cuts[c - 1];
        const double hi = cuts[c];
        if (hi <= lo) continue;
        for (int i = 0; i < kRule3.n; ++i) {
          const std::size_t j = static_cast<std::size_t>(i);
          const double u = lo + 0.5 * (hi - lo) * (1.0 + kRule3.x[j]);
          const double f = st.position(u);
          kernel(t, plain_node(at(p, f)),
                 0.5 * (hi - lo) * kRule3.w[j] * st.derivative(u) * p.len * shape(f), false);
        }
      }
      continue;
    }
    // The shape to first order about the nearest point: lin(s) = a0 + a1 (s - len/2).
    double a0 = 1.0, a1 = 0.0;
    if (p.tapered()) {
      const Vec2 qn = at(p, f_near);
      const double w0 = shape(f_near);
      a1 = w0 * p.log_slope(qn, tangent);
      a0 = w0 + a1 * (0.5 - f_near) * p.len;
    }
    const LogIntegrals l = log_integrals(r, sing, on_panel);
    const double c = open_ ? 1.0 : 2.0;  // ln(cosh a - cos b) = 2 ln(k rho) + R
    add(t, c * (a0 * l.i0.value + a1 * l.i1.value) + (open_ ? 0.0 : 2.0 * a0 * p.len * std::log(k)),
        {c * (a0 * l.i0.grad.x + a1 * l.i1.grad.x), c * (a0 * l.i0.grad.y + a1 * l.i1.grad.y)});
    if (!p.tapered() && open_) continue;
    const std::size_t plain = kNodes * source + kPlainOffset;
    // R varies on the scale of the plate spacing: on a panel much shorter
    // than that, the two inner nodes with half the weight each integrate it.
    const bool short_panel = k * p.len < 0.1;
    for (int i = 0; i < kRule4.n; ++i) {
      const std::size_t j = static_cast<std::size_t>(i);
      const Node& qn = nodes_[plain + j];
      const double lin = a0 + a1 * 0.5 * kRule4.x[j] * p.len;
      if (!open_ && !short_panel) kernel(t, qn, qn.w * lin, true);
      if (!open_ && short_panel && (j == 1 || j == 2)) kernel(t, qn, 0.5 * p.len * lin, true);
      if (p.tapered()) kernel(t, qn, qn.w * (plain_shapes_[4 * source + j] - lin), false);
    }
  }
  return sum;
}

Influence Green::potential(std::size_t at, std::size_t source) const {
  // The midpoint is the 1-point rule's node.
  return influence<false>(nodes_[kNodes * at], mesh_.panels[at].n, source, at == source);
}

Influence Green::field(std::size_t at, std::size_t source) const {
  // The mean over the panel, by the 2-point rule; far away its midpoint's.
  const Panel& a = mesh_.panels[at];
  const Panel& p = mesh_.panels[source];
  const double dx = a.mid.x - p.mid.x;
  const double dy = a.mid.y - p.mid.y;
  if (dx * dx + dy * dy >= 64.0 * care_ * care_ * a.len * a.len)
    return influence<true>(nodes_[kNodes * at], a.n, source, false);
  Influence mean;
  for (int i = 0; i < kRule2.n; ++i) {
    const Node& rn = nodes_[kNodes * at + static_cast<std::size_t>(kMeanOffset + i)];
    const Influence e = influence<true>(rn, a.n, source, at == source);
    mean.direct += rn.w * e.direct;
    mean.mirror += rn.w * e.mirror;
  }
  return mean;
}

}  // namespace kx::field
