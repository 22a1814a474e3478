// Discretisation of the general cross-section (see stack_mesh.h).
//
// A panel's length grows linearly with its distance from the nearest corner
// (the size rule). Where a thin layer separates two parallel edges (a trace
// and the mask over it, a trace and an interface just above it, the mask's
// floor and the surface under it), the edge meshed later takes the earlier
// one's breakpoints wherever those panels are longer than half the layer's
// thickness, so the panels face each other and the thin layer's field is
// resolved however long they are.
#include "models/field/stack/stack_mesh.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kx::stack::detail {
namespace {

// How many of a corner's scales out its power law shapes the charge.
constexpr double kTaperReach = 10.0;
// A master's panel is taken only if it is at most this many times the
// length the size rule wants there (else the edge's own corner is near).
constexpr double kFacingLength = 2.0;

double dist(Vec2 p, Vec2 q) {
  return std::sqrt((p.x - q.x) * (p.x - q.x) + (p.y - q.y) * (p.y - q.y));
}

// Breakpoints from lo to hi spaced by the size rule h: equal steps of the
// integral of 1/h, so panels near a corner grow geometrically.
template <class Size>
std::vector<double> spaced(double lo, double hi, const Size& h) {
  std::vector<double> at{lo};
  std::vector<double> count{0.0};
  const double min_step = 1e-7 * (hi - lo);  // bounds the work on any input
  double x = lo;
  while (x < hi) {
    double step = std::min(std::max(0.25 * h(x), min_step), hi - x);
    if (hi - x - step < min_step) step = hi - x;
    count.push_back(count.back() + step / h(x + 0.5 * step));
    x = step == hi - x ? hi : x + step;
    at.push_back(x);
  }
  const double total = count.back();
  const long panels = std::max(1L, std::lround(total));
  std::vector<double> out{lo};
  std::size_t k = 1;
  for (long i = 1; i < panels; ++i) {
    const double target = total * static_cast<double>(i) / static_cast<double>(panels);
    while (count[k] < target) ++k;
    const double f = (target - count[k - 1]) / (count[k] - count[k - 1]);
    out.push_back(at[k - 1] + f * (at[k] - at[k - 1]));
  }
  out.push_back(hi);
  return out;
}

}  // namespace

StackMesh discretise(const Geometry& g, const StackMeshSettings& set) {
  const double plates = g.plates;
  const auto far_size = [&](Vec2 p) {
    return std::min(plates, set.max_len + set.grading * std::max(0.0, std::abs(p.x) - g.outer));
  };
  // The size rule on an edge from a to b: the corners whose length could be
  // the least somewhere on it (at least as short as the longest the rule
  // gives on it, which lies at an end), the same lengths as all of them.
  const auto corners_for = [&](Vec2 a, Vec2 b) {
    double longest = std::max(far_size(a), far_size(b));
    for (const Corner& c : g.corners)
      longest = std::min(longest, set.first * c.feature +
                                      set.grading * std::max(dist(a, c.at), dist(b, c.at)));
    const double len = dist(a, b);
    std::vector<const Corner*> out;
    for (const Corner& c : g.corners) {
      // Its least length on the edge, at the nearest point.
      double f = 0.0;
      if (len > 0.0)
        f = std::clamp(((c.at.x - a.x) * (b.x - a.x) + (c.at.y - a.y) * (b.y - a.y)) / (len * len),
                       0.0, 1.0);
      const Vec2 q{a.x + f * (b.x - a.x), a.y + f * (b.y - a.y)};
      if (set.first * c.feature + set.grading * dist(q, c.at) <= longest * (1.0 + 1e-9))
        out.push_back(&c);
    }
    return out;
  };
  const auto size_from = [&](Vec2 p, const std::vector<const Corner*>& corners) {
    double h = far_size(p);
    for (const Corner* c : corners)
      h = std::min(h, set.first * c->feature + set.grading * dist(p, c->at));
    return h;
  };

  // Order: conductors, then the mask's surface (last in the geometry's list),
  // then the layers' interfaces from the top down.
  std::vector<std::size_t> order;
  for (std::size_t k = 0; k < g.edges.size(); ++k)
    if (g.edges[k].conductor >= 0) order.push_back(k);
  for (std::size_t k = g.edges.size(); k-- > 0;)
    if (g.edges[k].conductor < 0) order.push_back(k);

  std::vector<EdgeCuts> done;
  for (const std::size_t k : order) {
    const Edge& e = g.edges[k];
    const double len = dist(e.a, e.b);
    const Vec2 d{(e.b.x - e.a.x) / len, (e.b.y - e.a.y) / len};
    const auto point = [&](double s) { return Vec2{e.a.x + s * d.x, e.a.y + s * d.y}; };
    const std::vector<const Corner*> corners = corners_for(e.a, e.b);
    const auto size = [&](Vec2 p) { return size_from(p, corners); };
    const auto own = [&](double lo, double hi) {
      if (hi <= lo) return std::vector<double>{};
      return spaced(lo, hi, [&](double s) { return size(point(s)); });
    };
    // The panels of parallel edges already meshed, projected on this one,
    // nearest edge first: those long against the layer between, not much
    // longer than this edge wants them, and not over another's.
    struct Facing {
      double s0, s1, gap;
    };
    std::vector<Facing> facing;
    for (const EdgeCuts& m : done) {
      const Edge& a = g.edges[m.edge];
      const double la = dist(a.a, a.b);
      const Vec2 da{(a.b.x - a.a.x) / la, (a.b.y - a.a.y) / la};
      if (std::abs(da.x * d.y - da.y * d.x) > 1e-9) continue;
      const double gap = std::abs((a.a.x - e.a.x) * d.y - (a.a.y - e.a.y) * d.x);
      if (gap <= 1e-12) continue;
      std::vector<double> proj;
      for (double c : m.cuts) {
        const Vec2 p{a.a.x + c * da.x, a.a.y + c * da.y};
        proj.push_back((p.x - e.a.x) * d.x + (p.y - e.a.y) * d.y);
      }
      std::sort(proj.begin(), proj.end());
      for (std::size_t i = 0; i + 1 < proj.size(); ++i) {
        const double s0 = proj[i], s1 = proj[i + 1];
        if (s0 < 0.0 || s1 > len || s1 - s0 < 0.5 * gap) continue;
        const double want =
            std::min({size(point(s0)), size(point(s1)), size(point(0.5 * (s0 + s1)))});
        if (s1 - s0 > kFacingLength * want) continue;
        facing.push_back({s0, s1, gap});
      }
    }
    std::stable_sort(facing.begin(), facing.end(),
                     [](const Facing& x, const Facing& y) { return x.gap < y.gap; });
    std::vector<Facing> taken;
    for (const Facing& f : facing) {
      const bool overlaps = std::any_of(taken.begin(), taken.end(), [&](const Facing& t) {
        return f.s0 < t.s1 && f.s1 > t.s0;
      });
      if (!overlaps) taken.push_back(f);
    }
    std::sort(taken.begin(), taken.end(),
              [](const Facing& x, const Facing& y) { return x.s0 < y.s0; });
    std::vector<double> cuts{0.0};
    const auto join = [&](double to) {
      const std::vector<double> part = own(cuts.back(), to);
      for (std::size_t i = 1; i < part.size(); ++i) cuts.push_back(part[i]);
    };
    for (const Facing& f : taken) {
      if (f.s0 > cuts.back()) {
        // No sliver before a facing panel.
        if (f.s0 - cuts.back() < 0.5 * (f.s1 - f.s0) && cuts.size() > 1) cuts.pop_back();
        if (f.s0 > cuts.back()) join(f.s0);
      }
      if (f.s1 > cuts.back()) cuts.push_back(f.s1);
    }
    if (len > cuts.back()) {
      if (len - cuts.back() < 1e-12 * len) {
        cuts.back() = len;
      } else {
        join(len);
      }
    }
    done.push_back({k, cuts});
  }
  StackMesh mesh;
  mesh.cuts = std::move(done);
  return resplit(g, mesh, set.split, set.quadrature);
}

StackMesh resplit(const Geometry& g, const StackMesh& from, int split, double quadrature) {
  // The panels, each cut into equal parts; conductor panels first.
  StackMesh mesh;
  mesh.cuts = from.cuts;
  mesh.plates = g.plates;
  mesh.quadrature = quadrature;
  mesh.mirror = g.mirror;
  const auto corner_at = [&](Vec2 p, bool free) -> const Corner* {
    if (free) return nullptr;
    for (const Corner& c : g.corners)
      if (dist(c.at, p) <= 1e-11 * (1.0 + std::abs(p.x))) return &c;
    return nullptr;
  };
  for (int pass = 0; pass < 2; ++pass) {
    for (const EdgeCuts& m : mesh.cuts) {
      const Edge& e = g.edges[m.edge];
      if ((e.conductor >= 0) != (pass == 0)) continue;
      const double len = dist(e.a, e.b);
      const Vec2 d{(e.b.x - e.a.x) / len, (e.b.y - e.a.y) / len};
      const auto point = [&](double s) { return Vec2{e.a.x + s * d.x, e.a.y + s * d.y}; };
      std::array<field::Taper, 2> tapers{};
      const Corner* ends[2] = {corner_at(e.a, e.free_a), corner_at(e.b, e.free_b)};
      for (int i = 0; i < 2; ++i)
        if (ends[i] && ends[i]->beta != 0.0)
          tapers[static_cast<std::size_t>(i)] = {ends[i]->at, ends[i]->beta,
                                                 0.5 * ends[i]->feature};
      field::Panel kind;
      kind.n = e.n;
      kind.conductor = e.conductor >= 0;
      kind.two_sided = e.two_sided;
      kind.eps_neg = e.neg >= 0 ? g.eps[static_cast<std::size_t>(e.neg)] : 1.0;
      kind.eps_pos = g.eps[static_cast<std::size_t>(e.pos)];
      // The edge's own ends exactly: a neighbouring edge starts there.
      const auto cut_point = [&](std::size_t i) {
        return i == 0 ? e.a : i + 1 == m.cuts.size() ? e.b : point(m.cuts[i]);
      };
      for (std::size_t i = 0; i + 1 < m.cuts.size(); ++i) {
        const Vec2 a = cut_point(i), b = cut_point(i + 1);
        std::array<field::Taper, 2> here = tapers;
        for (field::Taper& t : here)
          if (t.beta != 0.0 && std::min(dist(a, t.at), dist(b, t.at)) > kTaperReach * t.scale)
            t = field::Taper{};
        for (int part = 0; part < split; ++part) {
          field::Panel p = kind;
          p.tapers = here;
          p.p1 = part == 0 ? a : point(m.cuts[i] + (m.cuts[i + 1] - m.cuts[i]) * part / split);
          p.p2 = part + 1 == split
                     ? b
                     : point(m.cuts[i] + (m.cuts[i + 1] - m.cuts[i]) * (part + 1) / split);
          // A taper's point at a panel's end must be that end exactly.
          for (field::Taper& t : p.tapers) {
            if (t.beta == 0.0) continue;
            if (dist(t.at, p.p1) <= 1e-11 * (1.0 + std::abs(p.p1.x))) t.at = p.p1;
            if (dist(t.at, p.p2) <= 1e-11 * (1.0 + std::abs(p.p2.x))) t.at = p.p2;
          }
          p.mid = {0.5 * (p.p1.x + p.p2.x), 0.5 * (p.p1.y + p.p2.y)};
          p.len = dist(p.p1, p.p2);
          mesh.panels.push_back(p);
          mesh.owner.push_back(e.conductor);
          mesh.neg.push_back(e.neg);
          mesh.pos.push_back(e.pos);
          mesh.edge.push_back(m.edge);
        }
      }
    }
    if (pass == 0) mesh.conductor_panels = mesh.panels.size();
  }
  return mesh;
}

}  // namespace kx::stack::detail
