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

#include "models/field/kernels.h"
#include "models/field/quadrature.h"

namespace kx::field {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Closer than this many panel lengths (times the care) to a term's
// singularity, the logarithm is integrated in closed form: a 4-point rule
// there would err by some 1e-5.
constexpr double kNear = 1.0;

// A panel's nodes: the 1-, 2- and 4-point rules' for its charge, then the
// 2-point rule's for a mean over it.
constexpr int kNodes = 13;
constexpr int kMeanOffset = 7;
// Then the plain 4-point rule's (weights without the shape) for the regular
// parts of near integrals.
constexpr int kPlainOffset = 9;

// The shape's measure for the Gauss rules of a tapered panel.
constexpr int kShapePoints = 12;
// Levels of a composite rule graded toward a singular point.
constexpr int kGradedLevels = 10;

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
  if (open_) return q;
  const double k = kPi / plates_;
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
      for (const QuadratureTable& rule : gauss_rules(measure)) {
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
      if (rr >= kCancellation) {
        const double inverse = 1.0 / lambda;
        return Value{lambda, 0.0, sh * inverse, sb * inverse};
      }
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
// at a corner, whose shape is singular there, by a composite rule in the
// stretched variable, graded toward the point nearest r.
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
      std::array<double, 3 + 2 * kGradedLevels> cuts{0.0, u_near, 1.0};
      std::size_t n_cuts = 3;
      for (const double end : {0.0, 1.0}) {
        double d = u_near - end;
        for (int i = 0; i < kGradedLevels; ++i) {
          d *= 0.2;
          cuts[n_cuts++] = u_near - d;
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
  // At the collocation point: the 1-point rule's node (the midpoint, or the
  // centroid of the panel's charge shape).
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
