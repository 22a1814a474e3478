// Panel integrals of the Green's function of a general cross-section (see
// stack_green.h).
//
// A panel's charge acts through two terms, the panel and its image below the
// ground (sign -1), and with mirror symmetry the same two for its mirror
// image in x = 0. Between plates the image term's singularity lies below the
// ground or above the top plane, whichever is nearer.
#include "models/field/stack/stack_green.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "models/field/kernels.h"

namespace kx::stack::detail {
namespace {

using field::Kern;
using field::Log;
using field::Panel;
using field::QuadratureTable;
using field::Rule;
using field::Segment;
using field::Series;
using field::Stretch;
using field::Trig;

constexpr double kPi = 3.14159265358979323846;
// Added to a squared distance in a pass over all targets: keeps a zero one
// (a pair the general path takes again) from dividing by zero, and changes
// no other (those of a section lie far above 1e-284).
constexpr double kTiny = 1e-300;

// Closer than this many panel lengths (times the care) to a term's
// singularity, the logarithm is integrated in closed form.
constexpr double kNear = 1.0;

// A panel's nodes: the 1-, 2- and 4-point rules' for its charge, the
// 2-point rule's for a mean over it, the plain 4-point rule's.
constexpr int kNodes = 13;
constexpr int kMeanOffset = 7;
constexpr int kPlainOffset = 9;
constexpr int kShapePoints = 12;
constexpr int kGradedLevels = 10;

enum Term { kDirect, kImage, kMirror, kMirrorImage };
bool is_image(Term t) { return t == kImage || t == kMirrorImage; }
bool is_mirror(Term t) { return t == kMirror || t == kMirrorImage; }

struct Args {
  double a, br;
  Trig trig;
};
Args plates_args(Term term, const StackGreen::Node& r, const StackGreen::Node& q, double k) {
  const bool mirror = is_mirror(term);
  const bool image = is_image(term);
  Args out;
  out.a = k * (mirror ? r.p.x + q.p.x : r.p.x - q.p.x);
  const double b = k * (image ? r.p.y + q.p.y : r.p.y - q.p.y);
  out.br = b > kPi ? b - 2.0 * kPi : b;
  const double ex = mirror ? r.ex * q.ex : r.ex * q.iex;
  const double iex = mirror ? r.iex * q.iex : r.iex * q.ex;
  out.trig = {0.5 * (ex + iex), 0.5 * (ex - iex),
              image ? r.cy * q.cy - r.sy * q.sy : r.cy * q.cy + r.sy * q.sy,
              image ? r.sy * q.cy + r.cy * q.sy : r.sy * q.cy - r.cy * q.sy};
  return out;
}

// The normal field at m targets (points x, y, normals nx, ny) of the
// 1-point rule's node (sx, sy) of weight w and its image below the ground,
// times scale, as far() takes it.
void open_field(const double* __restrict x, const double* __restrict y, const double* __restrict nx,
                const double* __restrict ny, std::size_t m, double sx, double sy, double w,
                double scale, double* __restrict out) {
  for (std::size_t i = 0; i < m; ++i) {
    const double dx = x[i] - sx, dy = y[i] - sy, iy = y[i] + sy;
    const double dd = dx * dx + dy * dy, di = dx * dx + iy * iy;
    const double id = 1.0 / (dd + kTiny), ii = 1.0 / (di + kTiny);
    out[i] = scale * (w * (dx * (id - ii) * nx[i] + (dy * id - iy * ii) * ny[i]));
  }
}

// The same between plates from the cached exponentials and sines of the
// targets and of the node (ex = exp(-k x') for the pair, exp(k x') for its
// mirror image); wk is the node's weight times k.
struct Source {
  double ex, iex, cy, sy, wk, scale;
};
void plates_field(const double* __restrict ex, const double* __restrict iex,
                  const double* __restrict cy, const double* __restrict sy,
                  const double* __restrict nx, const double* __restrict ny, std::size_t m,
                  const Source& q, double* __restrict out) {
  for (std::size_t i = 0; i < m; ++i) {
    const double e = ex[i] * q.iex, ie = iex[i] * q.ex;
    const double cc = cy[i] * q.cy, ss = sy[i] * q.sy;
    const double ch = 0.5 * (e + ie), sh = 0.5 * (e - ie);
    const double sb = sy[i] * q.cy - cy[i] * q.sy, si = sy[i] * q.cy + cy[i] * q.sy;
    const double ld = ch - (cc + ss) + kTiny, li = ch - (cc - ss) + kTiny;
    out[i] = q.scale * (q.wk * ((sh / ld - sh / li) * nx[i] + (sb / ld - si / li) * ny[i]));
  }
}

}  // namespace

StackGreen::Node StackGreen::plain_node(Vec2 p) const {
  Node q;
  q.p = p;
  q.w = 0.0;
  q.cached = open_;
  return q;
}

StackGreen::Node StackGreen::node(Vec2 p, double w) const {
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

StackGreen::StackGreen(const StackMesh& mesh)
    : mesh_(mesh),
      plates_(mesh.plates),
      care_(mesh.quadrature),
      open_(std::isinf(mesh.plates)),
      mirror_(mesh.mirror),
      cached_(false) {
  const double k = open_ ? 0.0 : kPi / plates_;
  double x_max = 0.0;
  for (const Panel& p : mesh.panels) x_max = std::max({x_max, std::abs(p.p1.x), std::abs(p.p2.x)});
  // Products of two nodes' exponentials must stay in range.
  cached_ = !open_ && 2.0 * k * x_max < field::kMaxExponent;
  nodes_.reserve(kNodes * mesh.panels.size());
  norms_.reserve(mesh.panels.size());
  const QuadratureTable fine = field::gauss_legendre(kShapePoints);
  const double c2 = care_ * care_;
  for (const Panel& p : mesh.panels) {
    const double l2 = p.len * p.len;
    // field::rule_at's steps and the near zero's reach (kNear), as squared distances.
    reach_.push_back(
        {p.mid, kNear * kNear * c2 * l2, 16.0 * c2 * l2, 256.0 * c2 * c2 * l2, 64.0 * c2 * l2});
    stretches_.push_back(field::stretch_of(p));
    const Stretch& st = stretches_.back();
    if (!p.tapered()) {
      norms_.push_back(1.0);
      for (const Rule* rule : {&field::kRule1, &field::kRule2, &field::kRule4})
        for (int i = 0; i < rule->n; ++i) {
          const std::size_t j = static_cast<std::size_t>(i);
          nodes_.push_back(node(field::at(p, 0.5 * (1.0 + rule->x[j])), 0.5 * p.len * rule->w[j]));
        }
    } else {
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
      for (const QuadratureTable& rule : field::gauss_rules(measure)) {
        for (std::size_t i = 0; i < rule.x.size(); ++i)
          nodes_.push_back(node(field::at(p, rule.x[i]), p.len * rule.w[i] / mean));
      }
    }
    for (int i = 0; i < field::kRule2.n; ++i) {
      const double u = 0.5 * (1.0 + field::kRule2.x[static_cast<std::size_t>(i)]);
      nodes_.push_back(node(field::at(p, st.position(u)),
                            0.5 * field::kRule2.w[static_cast<std::size_t>(i)] * st.derivative(u)));
    }
    for (int i = 0; i < field::kRule4.n; ++i) {
      const std::size_t j = static_cast<std::size_t>(i);
      const double f = 0.5 * (1.0 + field::kRule4.x[j]);
      nodes_.push_back(node(field::at(p, f), 0.5 * field::kRule4.w[j] * p.len));
      plain_shapes_.push_back(p.tapered() ? norms_.back() * p.raw_shape_at(f) : 1.0);
    }
  }
  for (std::size_t i = 0; i < mesh.panels.size(); ++i) {
    const Node& c = nodes_[kNodes * i];
    const Panel& p = mesh.panels[i];
    t_.x.push_back(c.p.x);
    t_.y.push_back(c.p.y);
    t_.nx.push_back(p.n.x);
    t_.ny.push_back(p.n.y);
    t_.mx.push_back(p.mid.x);
    t_.my.push_back(p.mid.y);
    t_.mean.push_back(reach_[i].mean);
    t_.ex.push_back(c.ex);
    t_.iex.push_back(c.iex);
    t_.cy.push_back(c.cy);
    t_.sy.push_back(c.sy);
  }
}

void StackGreen::column(std::size_t source, std::size_t conductors, double* pot_d, double* pot_m,
                        double* fld_d, double* fld_m) const {
  const std::size_t n = mesh_.panels.size();
  if (!open_ && !cached_) {
    for (std::size_t i = 0; i < conductors; ++i) {
      const Influence v = potential(i, source);
      pot_d[i] = v.direct;
      if (mirror_) pot_m[i] = v.mirror;
    }
    for (std::size_t i = conductors; i < n; ++i) {
      const Influence v = field(i, source);
      fld_d[i - conductors] = v.direct;
      if (mirror_) fld_m[i - conductors] = v.mirror;
    }
    return;
  }
  const Reach& reach = reach_[source];
  const Node& q = nodes_[kNodes * source];
  const double scale = open_ ? 1.0 / (2.0 * kPi) : 1.0 / (4.0 * kPi);
  const double k = open_ ? 0.0 : kPi / plates_;
  const Targets& t = t_;
  // Whether the pair is the 1-point rule's (influence's test, from the
  // target's collocation point) and, for a field, the target's centre
  // stands for its mean (field's test, from its midpoint).
  const auto one_point = [&](std::size_t i) {
    const double dx = t.x[i] - reach.mid.x;
    const double dy = t.y[i] - reach.mid.y;
    double xx = dx * dx;
    if (mirror_) {
      const double mx = t.x[i] + reach.mid.x;
      xx = std::min(xx, mx * mx);
    }
    return i != source && xx + dy * dy >= reach.one;
  };
  const auto centred = [&](std::size_t i) {
    const double dx = t.mx[i] - reach.mid.x;
    const double mx = t.mx[i] + reach.mid.x;
    const double dy = t.my[i] - reach.mid.y;
    const double xx = mirror_ ? std::min(dx * dx, mx * mx) : dx * dx;
    return xx + dy * dy >= t.mean[i];
  };

  // The potential: far's 1-point terms as they are, else potential().
  for (std::size_t i = 0; i < conductors; ++i) {
    if (!one_point(i)) {
      const Influence v = potential(i, source);
      pot_d[i] = v.direct;
      if (mirror_) pot_m[i] = v.mirror;
      continue;
    }
    if (open_) {
      const double dx = t.x[i] - q.p.x, dy = t.y[i] - q.p.y, iy = t.y[i] + q.p.y;
      pot_d[i] = -scale * (q.w * 0.5 * std::log((dx * dx + dy * dy) / (dx * dx + iy * iy)));
      if (mirror_) {
        const double mx = t.x[i] + q.p.x;
        pot_m[i] = -scale * (q.w * 0.5 * std::log((mx * mx + dy * dy) / (mx * mx + iy * iy)));
      }
      continue;
    }
    const Influence v = potential(i, source);
    pot_d[i] = v.direct;
    if (mirror_) pot_m[i] = v.mirror;
  }

  // The field: far's 1-point terms for every target in one pass (a zero
  // distance kept finite; those pairs are redone), then the rest by field().
  const std::size_t first = conductors, m = n - first;
  const auto at = [&](const std::vector<double>& v) { return v.data() + first; };
  if (open_) {
    open_field(at(t.x), at(t.y), at(t.nx), at(t.ny), m, q.p.x, q.p.y, q.w, scale, fld_d);
    if (mirror_)
      open_field(at(t.x), at(t.y), at(t.nx), at(t.ny), m, -q.p.x, q.p.y, q.w, scale, fld_m);
  } else {
    const Source src{q.ex, q.iex, q.cy, q.sy, q.w * k, scale};
    plates_field(at(t.ex), at(t.iex), at(t.cy), at(t.sy), at(t.nx), at(t.ny), m, src, fld_d);
    if (mirror_) {
      // The mirror image: exp(k (x + x')) in place of exp(k (x - x')).
      const Source image{q.iex, q.ex, q.cy, q.sy, q.w * k, scale};
      plates_field(at(t.ex), at(t.iex), at(t.cy), at(t.sy), at(t.nx), at(t.ny), m, image, fld_m);
    }
  }
  for (std::size_t i = first; i < n; ++i) {
    bool redo = !centred(i) || !one_point(i);
    if (!redo && !open_) {
      // far's series near a term's zero.
      const double a = k * (t.x[i] - q.p.x);
      const double b = k * (t.y[i] - q.p.y);
      double bi = k * (t.y[i] + q.p.y);
      if (bi > kPi) bi -= 2.0 * kPi;
      redo = a * a + b * b < field::kCancellation || a * a + bi * bi < field::kCancellation;
      if (mirror_ && !redo) {
        const double am = k * (t.x[i] + q.p.x);
        redo = am * am + b * b < field::kCancellation || am * am + bi * bi < field::kCancellation;
      }
    }
    if (!redo) continue;
    const Influence v = field(i, source);
    fld_d[i - first] = v.direct;
    if (mirror_) fld_m[i - first] = v.mirror;
  }
}

double StackGreen::shape(std::size_t panel, double f) const {
  const Panel& p = mesh_.panels[panel];
  return p.tapered() ? norms_[panel] * p.raw_shape_at(f) : 1.0;
}

template <bool kField>
Influence StackGreen::influence(const Node& rn, Vec2 n, std::size_t source, bool self) const {
  const Reach& reach = reach_[source];
  const double scale = open_ ? 1.0 / (2.0 * kPi) : 1.0 / (4.0 * kPi);
  const double c = kField ? scale : -scale;  // E = -grad phi
  const Vec2 r = rn.p;
  const double dx = r.x - reach.mid.x;
  const double dy = r.y - reach.mid.y;
  double xx = dx * dx;
  if (mirror_) {
    const double mx = r.x + reach.mid.x;
    xx = std::min(xx, mx * mx);
  }
  const double qq = xx + dy * dy;
  Influence sum;
  if (!self && qq >= reach.close && (open_ || cached_)) {
    // field::rule_at's choice, the rule's size a constant of the loop.
    if (qq >= reach.one) {
      sum = mirror_ ? far<kField, true, 1>(rn, n, source) : far<kField, false, 1>(rn, n, source);
    } else if (qq >= reach.two) {
      sum = mirror_ ? far<kField, true, 2>(rn, n, source) : far<kField, false, 2>(rn, n, source);
    } else {
      sum = mirror_ ? far<kField, true, 4>(rn, n, source) : far<kField, false, 4>(rn, n, source);
    }
  } else {
    sum = near<kField>(rn, n, source, self);
  }
  return {c * sum.direct, c * sum.mirror};
}

template <bool kField, bool kMirror, int kPoints>
Influence StackGreen::far(const Node& rn, Vec2 n, std::size_t source) const {
  const Rule& rule = kPoints == 1 ? field::kRule1 : kPoints == 2 ? field::kRule2 : field::kRule4;
  const Vec2 r = rn.p;
  const Node* nodes = &nodes_[kNodes * source + static_cast<std::size_t>(rule.offset)];
  Influence sum;
  if (open_) {
    for (int i = 0; i < kPoints; ++i) {
      const Node& q = nodes[i];
      const double dx = r.x - q.p.x;
      const double dy = r.y - q.p.y;
      const double iy = r.y + q.p.y;
      const double dd = dx * dx + dy * dy;
      const double di = dx * dx + iy * iy;
      if constexpr (kField) {
        const double id = 1.0 / dd, ii = 1.0 / di;
        sum.direct += q.w * (dx * (id - ii) * n.x + (dy * id - iy * ii) * n.y);
      } else {
        sum.direct += q.w * 0.5 * std::log(dd / di);
      }
      if constexpr (kMirror) {
        const double mx = r.x + q.p.x;
        const double md = mx * mx + dy * dy;
        const double mi = mx * mx + iy * iy;
        if constexpr (kField) {
          const double id = 1.0 / md, ii = 1.0 / mi;
          sum.mirror += q.w * (mx * (id - ii) * n.x + (dy * id - iy * ii) * n.y);
        } else {
          sum.mirror += q.w * 0.5 * std::log(md / mi);
        }
      }
    }
    return sum;
  }
  const double k = kPi / plates_;
  struct Value {
    double arg, add, ga, gb;
  };
  const auto term = [](double ta, double tb, double lambda, double sh, double sb) {
    const double rr = ta * ta + tb * tb;
    if (rr >= field::kCancellation) return Value{lambda, 0.0, sh / lambda, sb / lambda};
    const Series g = field::series(ta, tb);
    return Value{rr, g.v, g.da + 2.0 * ta / rr, g.db + 2.0 * tb / rr};
  };
  for (int i = 0; i < kPoints; ++i) {
    const Node& q = nodes[i];
    const double a = k * (r.x - q.p.x);
    const double b = k * (r.y - q.p.y);
    double bi = k * (r.y + q.p.y);
    if (bi > kPi) bi -= 2.0 * kPi;
    const double e = rn.ex * q.iex, ie = rn.iex * q.ex;
    const double cc = rn.cy * q.cy, ss = rn.sy * q.sy;
    const double ch = 0.5 * (e + ie);
    const double cb = cc + ss, ci = cc - ss;
    const double sh = 0.5 * (e - ie);
    const double sb = rn.sy * q.cy - rn.cy * q.sy, si = rn.sy * q.cy + rn.cy * q.sy;
    const Value d = term(a, b, ch - cb, sh, sb);
    const Value i1 = term(a, bi, ch - ci, sh, si);
    if constexpr (kField) {
      sum.direct += q.w * k * ((d.ga - i1.ga) * n.x + (d.gb - i1.gb) * n.y);
    } else {
      sum.direct += q.w * (std::log(d.arg / i1.arg) + d.add - i1.add);
    }
    if constexpr (kMirror) {
      const double am = k * (r.x + q.p.x);
      const double em = rn.ex * q.ex, iem = rn.iex * q.iex;
      const double chm = 0.5 * (em + iem), shm = 0.5 * (em - iem);
      const Value md = term(am, b, chm - cb, shm, sb);
      const Value mi = term(am, bi, chm - ci, shm, si);
      if constexpr (kField) {
        sum.mirror += q.w * k * ((md.ga - mi.ga) * n.x + (md.gb - mi.gb) * n.y);
      } else {
        sum.mirror += q.w * (std::log(md.arg / mi.arg) + md.add - mi.add);
      }
    }
  }
  return sum;
}

// Some term near its singularity: each term alone (see models/field/green.cpp
// for the method: closed-form logarithm against the shape to first order, a
// graded composite rule in the stretched variable on a corner panel).
template <bool kField>
Influence StackGreen::near(const Node& rn, Vec2 n, std::size_t source, bool self) const {
  const Panel& p = mesh_.panels[source];
  const Vec2 r = rn.p;
  const double k = open_ ? 0.0 : kPi / plates_;
  const double norm = norms_[source];
  const Stretch& st = stretches_[source];
  const bool corner = st.from1 || st.from2;
  const Vec2 tangent{(p.p2.x - p.p1.x) / p.len, (p.p2.y - p.p1.y) / p.len};
  const auto shape = [&](double f) { return p.tapered() ? norm * p.raw_shape_at(f) : 1.0; };

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
      g.a = k * (is_mirror(t) ? r.x + q.x : r.x - q.x);
      const double b = k * (is_image(t) ? r.y + q.y : r.y - q.y);
      g.br = b > kPi ? b - 2.0 * kPi : b;
      if (g.a * g.a + g.br * g.br >= 0.25 && std::abs(g.a) < field::kMaxExponent) {
        g.trig = {std::cosh(g.a), std::sinh(g.a), std::cos(g.br), std::sin(g.br)};
        trig = &g.trig;
      }
    }
    if (regular) {
      const Log l = field::regular_part(g.a, g.br, trig);
      add(t, w * l.v, {w * k * l.da, w * k * l.db});
    } else {
      const Kern l = field::plates_kernel(g.a, g.br, trig);
      add(t, w * (std::log(l.arg) + l.add), {w * k * l.total_da(g.a), w * k * l.total_db(g.br)});
    }
  };

  const std::array<Term, 4> terms{kDirect, kImage, kMirror, kMirrorImage};
  for (Term t : terms) {
    if (is_mirror(t) && !mirror_) continue;
    const bool on_panel = self && t == kDirect;
    if (kField && on_panel) continue;  // the principal value on a straight panel: 0
    const Segment sing = singular(t);
    const Vec2 centre = sing.mid();
    const double qq = ((r.x - centre.x) * (r.x - centre.x) + (r.y - centre.y) * (r.y - centre.y)) /
                      (p.len * p.len);
    if (!on_panel && qq >= kNear * kNear * care_ * care_) {
      const Rule& rule = field::rule_at(qq, care_);
      const Node* nodes = &nodes_[kNodes * source + static_cast<std::size_t>(rule.offset)];
      for (int i = 0; i < rule.n; ++i) kernel(t, nodes[i], nodes[i].w, false);
      continue;
    }
    const double l2 = p.len * p.len;
    const double f_near = std::clamp(
        ((r.x - sing.a.x) * (sing.b.x - sing.a.x) + (r.y - sing.a.y) * (sing.b.y - sing.a.y)) / l2,
        0.0, 1.0);
    if (corner) {
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
        for (int i = 0; i < field::kRule3.n; ++i) {
          const std::size_t j = static_cast<std::size_t>(i);
          const double u = lo + 0.5 * (hi - lo) * (1.0 + field::kRule3.x[j]);
          // A node rounded onto the corner end would meet the power law's
          // pole; a step inside changes its (vanishing) share by nothing.
          const double f = std::clamp(st.position(u), 1e-15, 1.0 - 1e-15);
          kernel(t, plain_node(field::at(p, f)),
                 0.5 * (hi - lo) * field::kRule3.w[j] * st.derivative(u) * p.len * shape(f), false);
        }
      }
      continue;
    }
    double a0 = 1.0, a1 = 0.0;
    if (p.tapered()) {
      const Vec2 qn = field::at(p, f_near);
      const double w0 = shape(f_near);
      a1 = w0 * p.log_slope(qn, tangent);
      a0 = w0 + a1 * (0.5 - f_near) * p.len;
    }
    const field::LogIntegrals l = field::log_integrals(r, sing, on_panel);
    const double c = open_ ? 1.0 : 2.0;  // ln(cosh a - cos b) = 2 ln(k rho) + R
    add(t, c * (a0 * l.i0.value + a1 * l.i1.value) + (open_ ? 0.0 : 2.0 * a0 * p.len * std::log(k)),
        {c * (a0 * l.i0.grad.x + a1 * l.i1.grad.x), c * (a0 * l.i0.grad.y + a1 * l.i1.grad.y)});
    if (!p.tapered() && open_) continue;
    const std::size_t plain = kNodes * source + kPlainOffset;
    const bool short_panel = k * p.len < 0.1;
    for (int i = 0; i < field::kRule4.n; ++i) {
      const std::size_t j = static_cast<std::size_t>(i);
      const Node& qn = nodes_[plain + j];
      const double lin = a0 + a1 * 0.5 * field::kRule4.x[j] * p.len;
      if (!open_ && !short_panel) kernel(t, qn, qn.w * lin, true);
      if (!open_ && short_panel && (j == 1 || j == 2)) kernel(t, qn, 0.5 * p.len * lin, true);
      if (p.tapered()) kernel(t, qn, qn.w * (plain_shapes_[4 * source + j] - lin), false);
    }
  }
  return sum;
}

Influence StackGreen::potential(std::size_t at, std::size_t source) const {
  return influence<false>(nodes_[kNodes * at], mesh_.panels[at].n, source, at == source);
}

Influence StackGreen::field(std::size_t at, std::size_t source) const {
  const Panel& a = mesh_.panels[at];
  const Reach& ra = reach_[at];
  const Vec2 p = reach_[source].mid;
  const double dx = ra.mid.x - p.x;
  const double mx = ra.mid.x + p.x;
  const double dy = ra.mid.y - p.y;
  const double xx = mirror_ ? std::min(dx * dx, mx * mx) : dx * dx;
  if (xx + dy * dy >= ra.mean) return influence<true>(nodes_[kNodes * at], a.n, source, false);
  Influence mean;
  for (int i = 0; i < field::kRule2.n; ++i) {
    const Node& rn = nodes_[kNodes * at + static_cast<std::size_t>(kMeanOffset + i)];
    const Influence e = influence<true>(rn, a.n, source, at == source);
    mean.direct += rn.w * e.direct;
    mean.mirror += rn.w * e.mirror;
  }
  return mean;
}

}  // namespace kx::stack::detail
