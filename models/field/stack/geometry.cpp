// From the stack to the edges, regions and corners of the boundary-element
// method (see geometry.h).
#include "models/field/stack/geometry.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace kx::stack::detail {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kInf = std::numeric_limits<double>::infinity();
// Points closer than this (in units of the height) are one point.
constexpr double kSamePoint = 1e-11;
// A corner whose exponent is above this is smooth enough for plain panels.
constexpr double kSmooth = 0.999;

double dist(Vec2 p, Vec2 q) { return std::hypot(p.x - q.x, p.y - q.y); }
bool same(Vec2 p, Vec2 q) { return dist(p, q) <= kSamePoint * (1.0 + std::abs(p.x)); }

double dist_to_segment(Vec2 p, Vec2 a, Vec2 b) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double ll = dx * dx + dy * dy;
  const double f = ll > 0.0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / ll, 0.0, 1.0)
                            : 0.0;
  return dist(p, {a.x + f * dx, a.y + f * dy});
}

// The normal on the right of the direction a -> b.
Vec2 right_normal(Vec2 a, Vec2 b) {
  const double l = dist(a, b);
  return {(b.y - a.y) / l, -(b.x - a.x) / l};
}

// The transfer of the state (phi, eps dphi/dtheta / nu) across a sector.
using M2 = std::array<double, 4>;  // row-major 2 x 2
M2 transfer(double nu, const std::vector<double>& angles, const std::vector<double>& eps) {
  M2 m{1.0, 0.0, 0.0, 1.0};
  for (std::size_t i = 0; i < angles.size(); ++i) {
    const double c = std::cos(nu * angles[i]), s = std::sin(nu * angles[i]);
    const M2 t{c, s / eps[i], -eps[i] * s, c};
    m = {t[0] * m[0] + t[1] * m[2], t[0] * m[1] + t[1] * m[3], t[2] * m[0] + t[3] * m[2],
         t[2] * m[1] + t[3] * m[3]};
  }
  return m;
}

}  // namespace

double wedge_exponent(const std::vector<double>& angles, const std::vector<double>& eps,
                      bool conductor) {
  // With a conductor: phi = 0 on both faces, so the root of m(0, 1); without:
  // a periodic solution, trace(m) = 2. Scan from 0 for the first change of
  // sign, then bisect.
  const auto f = [&](double nu) {
    const M2 m = transfer(nu, angles, eps);
    return conductor ? m[1] : m[0] + m[3] - 2.0;
  };
  // Steps of 1/100: the smallest root lies below 1 at any convex corner.
  constexpr int kSteps = 100;
  const int steps = conductor ? 4 * kSteps : kSteps;
  double lo = 1e-6, f_lo = f(lo);
  for (int i = 1; i <= steps; ++i) {
    const double hi = static_cast<double>(i) / kSteps;
    const double f_hi = f(hi);
    if ((f_lo > 0.0) != (f_hi > 0.0) || f_hi == 0.0) {
      double a = lo, b = hi;
      for (int k = 0; k < 80; ++k) {
        const double mid = 0.5 * (a + b);
        ((f(mid) > 0.0) == (f_lo > 0.0) ? a : b) = mid;
      }
      return 0.5 * (a + b);
    }
    lo = hi;
    f_lo = f_hi;
  }
  return 1.0;
}

namespace {

// A linear piece y(x) of an upper profile over [x0, x1].
struct Piece {
  double x0, y0, x1, y1;
  double at(double x) const {
    return x1 == x0 ? std::max(y0, y1) : y0 + (y1 - y0) * (x - x0) / (x1 - x0);
  }
};

// The intersection of the lines through a0-a1 and b0-b1 (they are not parallel).
Vec2 intersect(Vec2 a0, Vec2 a1, Vec2 b0, Vec2 b1) {
  const double d = (a1.x - a0.x) * (b1.y - b0.y) - (a1.y - a0.y) * (b1.x - b0.x);
  const double t = ((b0.x - a0.x) * (b1.y - b0.y) - (b0.y - a0.y) * (b1.x - b0.x)) / d;
  return {a0.x + t * (a1.x - a0.x), a0.y + t * (a1.y - a0.y)};
}

// The mask's surface: the upper envelope of the floor (the mask's thickness
// on the bare surface) and of each top-surface conductor offset outward by
// the thickness over traces (mitred). A polyline from -reach to reach, with
// vertical steps where the envelope jumps.
std::vector<Vec2> mask_surface(const std::vector<std::array<Vec2, 4>>& traces,
                               const std::vector<std::pair<double, double>>& gaps, double y0,
                               const Mask& m, double unit, double reach) {
  const double c = m.over_trace / unit;
  std::vector<Piece> pieces;
  // The floor: the thickness between two neighbouring signals in their gap.
  std::vector<double> cuts{-reach, reach};
  for (const auto& g : gaps) {
    cuts.push_back(g.first);
    cuts.push_back(g.second);
  }
  std::sort(cuts.begin(), cuts.end());
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
    const double mid = 0.5 * (cuts[i] + cuts[i + 1]);
    bool between = false;
    for (const auto& g : gaps) between = between || (mid > g.first && mid < g.second);
    const double h = y0 + (between ? m.between : m.on_substrate) / unit;
    if (cuts[i + 1] > cuts[i]) pieces.push_back({cuts[i], h, cuts[i + 1], h});
  }
  // Each conductor offset: bottom-left, bottom-right, top-right, top-left.
  for (const auto& q : traces) {
    const Vec2 bl = q[0], br = q[1], tr = q[2], tl = q[3];
    const bool thin = tl.y == bl.y;
    Vec2 fl, ml, mr, fr;  // feet and mitred corners of the offset
    if (thin) {
      fl = {bl.x - c, y0};
      ml = {bl.x - c, y0 + c};
      mr = {br.x + c, y0 + c};
      fr = {br.x + c, y0};
    } else {
      // Offset lines of the left side, the top and the right side.
      const Vec2 nl = right_normal(tl, bl), nr = right_normal(br, tr);
      const Vec2 l0{bl.x + c * nl.x, bl.y + c * nl.y}, l1{tl.x + c * nl.x, tl.y + c * nl.y};
      const Vec2 r0{br.x + c * nr.x, br.y + c * nr.y}, r1{tr.x + c * nr.x, tr.y + c * nr.y};
      const Vec2 t0{tl.x, tl.y + c}, t1{tr.x, tr.y + c};
      const bool left_open = std::abs(bl.x) >= reach, right_open = std::abs(br.x) >= reach;
      ml = left_open ? Vec2{bl.x, t0.y} : intersect(l0, l1, t0, t1);
      mr = right_open ? Vec2{br.x, t1.y} : intersect(r0, r1, t0, t1);
      fl = left_open ? Vec2{bl.x, y0} : intersect(l0, l1, {0.0, y0}, {1.0, y0});
      fr = right_open ? Vec2{br.x, y0} : intersect(r0, r1, {0.0, y0}, {1.0, y0});
    }
    fl.x = std::max(fl.x, -reach);
    fr.x = std::min(fr.x, reach);
    if (ml.x > fl.x) pieces.push_back({fl.x, fl.y, ml.x, ml.y});
    pieces.push_back({ml.x, ml.y, mr.x, mr.y});
    if (fr.x > mr.x) pieces.push_back({mr.x, mr.y, fr.x, fr.y});
  }
  // Breakpoints: the pieces' ends and their crossings.
  std::vector<double> xs;
  for (const Piece& p : pieces) {
    xs.push_back(p.x0);
    xs.push_back(p.x1);
  }
  for (std::size_t i = 0; i < pieces.size(); ++i)
    for (std::size_t j = i + 1; j < pieces.size(); ++j) {
      const Piece& a = pieces[i];
      const Piece& b = pieces[j];
      const double lo = std::max(a.x0, b.x0), hi = std::min(a.x1, b.x1);
      if (!(hi > lo)) continue;
      const double da = a.at(hi) - a.at(lo), db = b.at(hi) - b.at(lo);
      const double g0 = a.at(lo) - b.at(lo), g1 = g0 + da - db;
      if ((g0 > 0.0) != (g1 > 0.0) && g0 != 0.0 && g1 != 0.0)
        xs.push_back(lo + (hi - lo) * g0 / (g0 - g1));
    }
  std::sort(xs.begin(), xs.end());
  std::vector<double> ux;
  for (double x : xs)
    if (ux.empty() || x - ux.back() > kSamePoint) ux.push_back(x);
  // On each interval the highest piece; its ends join the polyline.
  std::vector<Vec2> line;
  const auto push = [&](Vec2 p) {
    if (!line.empty() && same(line.back(), p)) return;
    // Drop a middle point on a straight run.
    if (line.size() >= 2) {
      const Vec2 a = line[line.size() - 2], b = line.back();
      const double cross = (b.x - a.x) * (p.y - b.y) - (b.y - a.y) * (p.x - b.x);
      const double dot = (b.x - a.x) * (p.x - b.x) + (b.y - a.y) * (p.y - b.y);
      if (std::abs(cross) <= kSamePoint * dist(a, b) * dist(b, p) * 1e3 && dot > 0.0)
        line.pop_back();
    }
    line.push_back(p);
  };
  for (std::size_t k = 0; k + 1 < ux.size(); ++k) {
    const double x0 = ux[k], x1 = ux[k + 1], xm = 0.5 * (x0 + x1);
    const Piece* best = nullptr;
    for (const Piece& p : pieces)
      if (p.x0 <= xm && p.x1 >= xm && (!best || p.at(xm) > best->at(xm))) best = &p;
    push({x0, best->at(x0)});
    push({x1, best->at(x1)});
  }
  return line;
}

struct Ray {
  double angle;
  std::size_t edge;
  Vec2 dir;
};

}  // namespace

Geometry build(const Stack& s, const GeometrySettings& set) {
  Geometry g;
  const std::size_t nl = s.layers.size();
  const std::vector<std::size_t> sig = s.signals();
  g.unit = s.height(s.conductors[sig.front()].interface);
  double lo = kInf, hi = -kInf;
  for (std::size_t i : sig) {
    lo = std::min(lo, s.conductors[i].left);
    hi = std::max(hi, s.conductors[i].right);
  }
  g.xc = 0.5 * (lo + hi);
  const double unit = g.unit;
  const auto X = [&](double x) { return std::isinf(x) ? x : (x - g.xc) / unit; };

  // Regions: the layers, then the air above an open stack, then the mask.
  const bool open = !s.top_plane;
  const bool masked = s.mask.present();
  const std::size_t mi = s.mask_interface();
  for (std::size_t i = 0; i < nl; ++i) {
    g.regions.push_back({Region::Kind::layer, i, s.layers[i].er, s.layers[i].loss_tangent});
  }
  const int air = open ? static_cast<int>(nl) : -2;
  const int mask = masked ? static_cast<int>(nl) + (open ? 1 : 0) : -2;
  if (open) g.regions.push_back({Region::Kind::air, 0, 1.0, 0.0});
  if (masked) g.regions.push_back({Region::Kind::mask, 0, s.mask.er, s.mask.loss_tangent});
  for (const Region& r : g.regions) g.eps.push_back(r.er);
  // What lies above an interface, and what the mask displaces there.
  const auto plain_above = [&](std::size_t interface) {
    return interface < nl ? static_cast<int>(interface) : air;
  };
  const auto above = [&](std::size_t interface) {
    return masked && interface == mi ? mask : plain_above(interface);
  };
  g.plates = open ? kInf : s.height(nl) / unit;

  // The extent of the finite features and the reach of the interfaces.
  double outer = 0.0, top = 1.0;
  for (const Conductor& c : s.conductors) {
    if (std::isfinite(c.left)) outer = std::max(outer, std::abs(X(c.left)));
    if (std::isfinite(c.right)) outer = std::max(outer, std::abs(X(c.right)));
    top = std::max(top, (s.height(c.interface) + c.thickness) / unit);
  }
  if (masked) {
    const double c = std::max({s.mask.over_trace, s.mask.on_substrate, s.mask.between}) / unit;
    outer += c;
    top += c;
  }
  g.outer = outer;
  g.reach = open ? outer + set.open_reach * (top + outer) : outer + set.cover_reach * g.plates;
  const double reach = g.reach;

  // Conductors: the four faces of a trapezoid counter-clockwise (normals
  // out), or one two-sided edge for a zero-thickness strip.
  std::vector<Edge> edges;
  std::vector<std::array<Vec2, 4>> top_traces;
  for (std::size_t ci = 0; ci < s.conductors.size(); ++ci) {
    const Conductor& c = s.conductors[ci];
    const double y0 = s.height(c.interface) / unit;
    const double l = std::max(X(c.left), -reach), r = std::min(X(c.right), reach);
    const bool open_l = std::isinf(c.left), open_r = std::isinf(c.right);
    const int below = static_cast<int>(c.interface) - 1;
    const int out = above(c.interface);
    const int index = static_cast<int>(ci);
    if (c.thickness == 0.0) {
      Edge e;
      e.a = {l, y0};
      e.b = {r, y0};
      e.conductor = index;
      e.two_sided = true;
      e.neg = below;
      e.pos = out;
      e.n = {0.0, 1.0};
      e.free_a = open_l;
      e.free_b = open_r;
      edges.push_back(e);
      if (c.interface == mi) top_traces.push_back({e.a, e.b, e.b, e.a});
      continue;
    }
    const double yt = y0 + c.thickness / unit;
    const double inset = c.inset / unit;
    const std::array<Vec2, 4> q{Vec2{l, y0}, Vec2{r, y0}, Vec2{open_r ? r : r - inset, yt},
                                Vec2{open_l ? l : l + inset, yt}};
    if (c.interface == mi) top_traces.push_back(q);
    for (int k = 0; k < 4; ++k) {
      Edge e;
      e.a = q[static_cast<std::size_t>(k)];
      e.b = q[static_cast<std::size_t>((k + 1) % 4)];
      e.conductor = index;
      e.neg = kInside;
      e.pos = k == 0 ? below : out;
      e.n = right_normal(e.a, e.b);
      // A face at the truncation, and the ends there, are no corners.
      const bool far_side = (k == 1 && open_r) || (k == 3 && open_l);
      e.free_a = far_side || (k == 0 && open_l) || (k == 2 && open_r);
      e.free_b = far_side || (k == 0 && open_r) || (k == 2 && open_l);
      edges.push_back(e);
    }
  }

  // The layers' interfaces, cut where conductors sit on them.
  for (std::size_t i = 1; i <= nl; ++i) {
    if (i == nl && !open) break;
    const int neg = static_cast<int>(i) - 1, pos = above(i);
    if (!set.all_interfaces &&
        g.eps[static_cast<std::size_t>(neg)] == g.eps[static_cast<std::size_t>(pos)])
      continue;
    const double y = s.height(i) / unit;
    std::vector<std::pair<double, double>> cut;
    for (const Conductor& c : s.conductors)
      if (c.interface == i)
        cut.push_back({std::max(X(c.left), -reach), std::min(X(c.right), reach)});
    std::sort(cut.begin(), cut.end());
    double from = -reach;
    const auto piece = [&](double x0, double x1, bool free0, bool free1) {
      if (!(x1 > x0)) return;
      Edge e;
      e.a = {x0, y};
      e.b = {x1, y};
      e.neg = neg;
      e.pos = pos;
      e.n = {0.0, 1.0};
      e.free_a = free0;
      e.free_b = free1;
      edges.push_back(e);
    };
    bool free_from = true;
    for (const auto& c : cut) {
      piece(from, c.first, free_from, false);
      from = c.second;
      free_from = c.second >= reach;
    }
    piece(from, reach, free_from, true);
  }

  // The mask's surface.
  if (masked) {
    std::vector<std::pair<double, double>> gaps;
    std::vector<std::pair<double, double>> on_top;  // signals on the top surface
    for (const Conductor& c : s.conductors)
      if (c.interface == mi && c.role == Role::signal) on_top.push_back({X(c.left), X(c.right)});
    std::sort(on_top.begin(), on_top.end());
    for (std::size_t k = 0; k + 1 < on_top.size(); ++k) {
      // Neighbours: no other conductor of the surface between them.
      bool neighbours = true;
      for (const Conductor& c : s.conductors)
        if (c.interface == mi && X(c.left) > on_top[k].second && X(c.right) < on_top[k + 1].first)
          neighbours = false;
      if (neighbours) gaps.push_back({on_top[k].second, on_top[k + 1].first});
    }
    const std::vector<Vec2> line =
        mask_surface(top_traces, gaps, s.height(mi) / unit, s.mask, unit, reach);
    for (std::size_t k = 0; k + 1 < line.size(); ++k) {
      Edge e;
      e.a = line[k];
      e.b = line[k + 1];
      e.neg = mask;
      e.pos = plain_above(mi);
      // Traversed left to right with the mask below: the air on the left.
      e.n = right_normal(e.b, e.a);
      e.free_a = k == 0;
      e.free_b = k + 2 == line.size();
      if (set.all_interfaces || s.mask.er != g.eps[static_cast<std::size_t>(plain_above(mi))])
        edges.push_back(e);
    }
  }

  // Corners: every end that is not at the truncation, with the sectors about
  // it and their permittivities.
  std::vector<std::pair<Vec2, std::vector<Ray>>> points;
  for (std::size_t k = 0; k < edges.size(); ++k) {
    const Edge& e = edges[k];
    for (int end = 0; end < 2; ++end) {
      if (end == 0 ? e.free_a : e.free_b) continue;
      const Vec2 p = end == 0 ? e.a : e.b, q = end == 0 ? e.b : e.a;
      const Vec2 d{(q.x - p.x) / dist(p, q), (q.y - p.y) / dist(p, q)};
      auto it = std::find_if(points.begin(), points.end(),
                             [&](const auto& pt) { return same(pt.first, p); });
      if (it == points.end()) {
        points.push_back({p, {}});
        it = points.end() - 1;
      }
      it->second.push_back({std::atan2(d.y, d.x), k, d});
    }
  }
  std::vector<int> corner_owner;  // the conductor a corner belongs to, or -1
  for (auto& [p, rays] : points) {
    std::sort(rays.begin(), rays.end(),
              [](const Ray& a, const Ray& b) { return a.angle < b.angle; });
    const std::size_t m = rays.size();
    // The region counter-clockwise of each ray.
    std::vector<int> ccw(m);
    bool conductor = false;
    for (std::size_t k = 0; k < m; ++k) {
      const Edge& e = edges[rays[k].edge];
      const Vec2 left{-rays[k].dir.y, rays[k].dir.x};
      const bool pos_side = left.x * e.n.x + left.y * e.n.y > 0.0;
      ccw[k] = pos_side ? e.pos : e.neg;
      conductor = conductor || e.conductor >= 0;
    }
    // Start from a ray with a conductor clockwise of it, then go round.
    std::size_t start = 0;
    if (conductor) {
      for (std::size_t k = 0; k < m; ++k) {
        const Edge& e = edges[rays[k].edge];
        const bool conductor_cw = e.two_sided || ccw[(k + m - 1) % m] == kInside;
        if (e.conductor >= 0 && ccw[k] != kInside && conductor_cw) start = k;
      }
    }
    std::vector<double> angles, eps;
    for (std::size_t j = 0; j < m; ++j) {
      const std::size_t k = (start + j) % m;
      if (ccw[k] == kInside) break;
      double a = rays[(k + 1) % m].angle - rays[k].angle;
      if (a <= 0.0) a += 2.0 * kPi;
      angles.push_back(a);
      eps.push_back(g.eps[static_cast<std::size_t>(ccw[k])]);
      const Edge& next = edges[rays[(k + 1) % m].edge];
      if (conductor && next.two_sided) break;
    }
    const double nu = wedge_exponent(angles, eps, conductor);
    Corner c;
    c.at = p;
    c.beta = nu < kSmooth ? nu - 1.0 : 0.0;
    // The smallest length about it: its edges, the nearest other edge, the planes.
    double f = p.y;
    if (std::isfinite(g.plates)) f = std::min(f, g.plates - p.y);
    for (const Ray& r : rays) f = std::min(f, dist(edges[r.edge].a, edges[r.edge].b));
    for (std::size_t k = 0; k < edges.size(); ++k) {
      const bool incident =
          std::any_of(rays.begin(), rays.end(), [&](const Ray& r) { return r.edge == k; });
      if (!incident) f = std::min(f, dist_to_segment(p, edges[k].a, edges[k].b));
    }
    c.feature = f;
    g.corners.push_back(c);
    int owner = -1;
    for (const Ray& r : rays)
      if (edges[r.edge].conductor >= 0) owner = edges[r.edge].conductor;
    corner_owner.push_back(owner);
  }
  // The corners of one conductor share its smallest length: a narrow gap at
  // one edge of a strip shapes the charge on all of it.
  for (std::size_t i = 0; i < g.corners.size(); ++i) {
    if (corner_owner[i] < 0) continue;
    for (std::size_t j = 0; j < g.corners.size(); ++j)
      if (corner_owner[j] == corner_owner[i])
        g.corners[i].feature = std::min(g.corners[i].feature, g.corners[j].feature);
  }

  // Mirror symmetry about x = 0: every conductor has an image of the same kind.
  g.mirror_of.assign(s.conductors.size(), 0);
  bool symmetric = set.use_mirror;
  const auto near = [&](double a, double b) {
    if (std::isinf(a) || std::isinf(b)) return a == b;
    return std::abs(a - b) <= 1e-12 * (1.0 + std::abs(a));
  };
  for (std::size_t i = 0; i < s.conductors.size() && symmetric; ++i) {
    const Conductor& a = s.conductors[i];
    bool found = false;
    for (std::size_t j = 0; j < s.conductors.size() && !found; ++j) {
      const Conductor& b = s.conductors[j];
      if (a.interface == b.interface && a.role == b.role && a.thickness == b.thickness &&
          near(a.inset, b.inset) && near(X(a.left), -X(b.right)) && near(X(a.right), -X(b.left))) {
        g.mirror_of[i] = j;
        found = true;
      }
    }
    symmetric = found;
  }
  g.mirror = symmetric;
  if (!symmetric) {
    g.edges = edges;
    return g;
  }
  // Only x >= 0: clip the edges that cross the axis.
  for (Edge e : edges) {
    if (e.a.x <= 0.0 && e.b.x <= 0.0) continue;
    if (e.a.x < 0.0 || e.b.x < 0.0) {
      Vec2& from = e.a.x < 0.0 ? e.a : e.b;
      const Vec2 to = e.a.x < 0.0 ? e.b : e.a;
      const double f = to.x / (to.x - from.x);
      from = {0.0, to.y + f * (from.y - to.y)};
      (e.a.x == 0.0 ? e.free_a : e.free_b) = true;  // no corner on the axis
    }
    g.edges.push_back(e);
  }
  return g;
}

}  // namespace kx::stack::detail
