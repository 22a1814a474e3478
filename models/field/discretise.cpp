// Discretisation of the half cross-section into straight panels: conductor
// faces and dielectric interfaces, graded geometrically toward the corners
// where the charge density is singular.
//
// A panel's length grows linearly with its distance from the nearest corner.
// Where a thin coating separates two parallel surfaces (strip and coating
// top, coating floor and substrate), one surface follows the other's
// breakpoints wherever its panels are longer than the coating is thick, so
// the panels face each other: the thin layer's field is then resolved
// however long they are.
#include <algorithm>
#include <cmath>
#include <functional>

#include "models/field/mesh.h"

namespace kx::field {
namespace {

// How many of a corner's scales out its power law shapes the charge.
constexpr double kTaperReach = 10.0;

// Breakpoints from lo to hi spaced by the size rule h: equal steps of the
// integral of 1/h, so panels near a corner grow geometrically.
std::vector<double> spaced(double lo, double hi, const std::function<double(double)>& h) {
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

// A straight horizontal or vertical line, and positions along it by the
// coordinate that varies (x or y).
struct Line {
  bool horizontal;
  double fixed;  // y of a horizontal line, x of a vertical one
  Vec2 at(double u) const { return horizontal ? Vec2{u, fixed} : Vec2{fixed, u}; }
};

class Builder {
 public:
  // A point panels shrink toward, and the length they shrink to.
  struct Corner {
    Vec2 at;
    double h0;
  };
  Builder(std::vector<Corner> corners, double grading, std::function<double(Vec2)> cap, int split)
      : corners_(std::move(corners)), grading_(grading), cap_(std::move(cap)), split_(split) {}

  // Panel length wanted at p.
  double size(Vec2 p) const {
    double h = cap_(p);
    for (const Corner& c : corners_)
      h = std::min(h, c.h0 + grading_ * std::hypot(p.x - c.at.x, p.y - c.at.y));
    return h;
  }

  // Breakpoints of the line from lo to hi spaced by the size rule.
  std::vector<double> own(Line line, double lo, double hi) const {
    if (hi <= lo) return {};
    return spaced(lo, hi, [&](double u) { return size(line.at(u)); });
  }

  // Breakpoints from lo to hi for a line a thin layer (thickness gap) away
  // from a parallel one with breakpoints master: the master's own wherever its
  // panels are longer than half the gap, so the panels face each other
  // there, and this line's spacing elsewhere.
  std::vector<double> facing(const std::vector<double>& master, double gap, Line line, double lo,
                             double hi) const {
    if (hi <= lo) return {};
    std::vector<double> out{lo};
    const auto join = [&](double to) {
      const std::vector<double> part = own(line, out.back(), to);
      out.insert(out.end(), part.begin() + 1, part.end());
    };
    for (std::size_t i = 1; i < master.size(); ++i) {
      const double a = master[i - 1];
      const double b = master[i];
      if (b - a < 0.5 * gap || a < lo || b > hi) continue;
      // A facing panel [a, b]; reach a from where this line stands.
      if (a > out.back()) {
        if (a - out.back() < 0.5 * (b - a)) out.pop_back();  // no sliver before it
        if (out.empty()) out.push_back(lo);
        if (a > out.back()) join(a);
      }
      if (b > out.back()) out.push_back(b);
    }
    if (hi - out.back() > 0.0) join(hi);
    if (out.front() != lo) out.insert(out.begin(), lo);
    return out;
  }

  // Panels of the line between consecutive breakpoints (pieces joined).
  void panels(Line line, const std::vector<std::vector<double>>& pieces, Panel kind,
              std::array<Taper, 2> tapers = {}) {
    kind.tapers = tapers;
    std::vector<double> cuts;
    for (const std::vector<double>& piece : pieces)
      for (double u : piece)
        if (cuts.empty() || u > cuts.back()) cuts.push_back(u);
    // Each panel split into equal parts.
    std::vector<double> ends;
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i)
      for (int k = 0; k < split_; ++k)
        ends.push_back(cuts[i] + (cuts[i + 1] - cuts[i]) * k / split_);
    if (!cuts.empty()) ends.push_back(cuts.back());
    for (std::size_t i = 1; i < ends.size(); ++i) {
      Panel p = kind;
      p.p1 = line.at(ends[i - 1]);
      p.p2 = line.at(ends[i]);
      p.mid = line.at(0.5 * (ends[i - 1] + ends[i]));
      p.len = ends[i] - ends[i - 1];
      // A corner's power law only on the panels (of the unsplit mesh) that
      // begin within a few of its scales; farther out the charge is smooth.
      const std::size_t parent = (i - 1) / static_cast<std::size_t>(split_);
      const Vec2 a = line.at(cuts[parent]);
      const Vec2 b = line.at(cuts[parent + 1]);
      for (Taper& t : p.tapers) {
        const double d = std::min(std::hypot(a.x - t.at.x, a.y - t.at.y),
                                  std::hypot(b.x - t.at.x, b.y - t.at.y));
        if (d > kTaperReach * t.scale) t = Taper{};
      }
      mesh.panels.push_back(p);
    }
  }

  Mesh mesh;

 private:
  std::vector<Corner> corners_;
  double grading_;
  std::function<double(Vec2)> cap_;
  int split_;
};

Panel conductor(Vec2 n, double eps_below, double eps_outside, bool two_sided) {
  Panel p;
  p.n = n;
  p.conductor = true;
  p.eps_neg = eps_below;
  p.eps_pos = eps_outside;
  p.two_sided = two_sided;
  return p;
}

Panel interface(Vec2 n, double eps_neg, double eps_pos) {
  Panel p;
  p.n = n;
  p.eps_neg = eps_neg;
  p.eps_pos = eps_pos;
  return p;
}

// The exponent nu of the potential r^nu at a right-angled conductor corner
// standing on an interface: the conductor fills the quadrant above the
// interface on one side, eps_beside the quadrant beside it, eps_below the
// half-plane below. Matching the two wedge solutions across the interface
// gives eps_beside cot(nu pi / 2) + eps_below cot(nu pi) = 0, nu in (1/2, 1)
// (2/3 when both are equal).
double corner_exponent(double eps_beside, double eps_below) {
  constexpr double kPi = 3.14159265358979323846;
  const auto f = [&](double nu) {
    return eps_beside / std::tan(0.5 * nu * kPi) + eps_below / std::tan(nu * kPi);
  };
  double lo = 0.5 + 1e-12, hi = 1.0 - 1e-12;  // f(lo) > 0 > f(hi)
  for (int i = 0; i < 60; ++i) {
    const double mid = 0.5 * (lo + hi);
    (f(mid) > 0.0 ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi);
}

// The exponent nu of the potential r^nu at a right-angled corner of a
// dielectric eps_in standing in eps_out (a wedge of 90 degrees in one of
// 270): from the wedge solutions even about the bisector when the wedge is
// the denser, odd otherwise, nu in (2/3, 1).
double dielectric_corner_exponent(double eps_in, double eps_out) {
  constexpr double kPi = 3.14159265358979323846;
  if (eps_in == eps_out) return 1.0;
  const bool denser = eps_in > eps_out;
  const auto f = [&](double nu) {  // negative at 2/3, positive at 1
    if (denser) return eps_out * std::tan(0.75 * nu * kPi) + eps_in * std::tan(0.25 * nu * kPi);
    return -(eps_in / std::tan(0.25 * nu * kPi) + eps_out / std::tan(0.75 * nu * kPi));
  };
  double lo = 2.0 / 3.0 + 1e-12, hi = 1.0;
  for (int i = 0; i < 60; ++i) {
    const double mid = 0.5 * (lo + hi);
    (f(mid) < 0.0 ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi);
}

}  // namespace

Mesh discretise(const Section& sec, const MeshSettings& set) {
  const bool coated = sec.coat > 0.0 && sec.er_coat != 1.0;
  const double c = coated ? sec.coat : 0.0;
  const double plates = 1.0 + sec.h2;                   // infinity when open
  const double xa = 0.5 * sec.s;                        // inner edge of the right strip
  const double xb = xa + sec.w;                         // outer edge
  const double yt = 1.0 + sec.t;                        // strip top
  const double eps_above = coated ? sec.er_coat : 1.0;  // what the strips' tops and sides touch
  const double gap_edge = std::max(0.0, xa - c);        // coating side in the gap; 0: gap filled
  const double outer = xb + c;                          // coating side outside
  const double floor = 1.0 + c;                         // coating surface away from the strips
  const double coat_top = std::min(yt + c, plates);
  const bool coat_surface = coated && floor < plates;  // else the coating fills up to the cover

  // The interfaces end this far out: the field of the pair decays like a
  // dipole's when open, exponentially under a cover.
  const double reach =
      std::min(outer + set.open_reach * (1.0 + outer), outer + set.cover_reach * plates);

  // The first panel at a corner is a fraction of the smallest length about
  // it: of the strips and the room above them at a strip corner, of the
  // coating and the strip's thickness at a coating corner.
  // A strip thinner than set.thin_strip under a coating is measured as that
  // thick here, or as its coating if that is thinner still: the mesh about
  // its corners does not follow its thickness, but the strip's sides keep
  // panels no longer than the coating that faces them.
  const double t_feature = coated && sec.t > 0.0 && sec.t < set.thin_strip
                               ? std::max(sec.t, std::min(set.thin_strip, c))
                               : sec.t;
  double feature = std::min({1.0, sec.w, sec.s});
  if (sec.t > 0.0) feature = std::min(feature, t_feature);
  if (!std::isinf(plates)) feature = std::min(feature, plates - yt);
  const double coat_feature = sec.t > 0.0 ? std::min(c, t_feature) : c;

  const double h0 = set.first * feature;
  std::vector<Builder::Corner> corners{
      {{xa, 1.0}, h0}, {{xb, 1.0}, h0}, {{xa, yt}, h0}, {{xb, yt}, h0}};
  if (coat_surface) {
    for (Vec2 p : {Vec2{gap_edge, floor}, Vec2{gap_edge, coat_top}, Vec2{outer, floor},
                   Vec2{outer, coat_top}})
      if (p.x > 0.0 && p.y < plates) corners.push_back({p, set.first * coat_feature});
  }
  const double max_len = set.max_len;
  const double grading = set.grading;
  Builder b(
      corners, grading,
      [=](Vec2 p) { return std::min(plates, max_len + grading * std::max(0.0, p.x - outer)); },
      set.split);
  b.mesh.plates = plates;
  b.mesh.quadrature = set.quadrature;

  // The charge density's power laws at the strips' corners: d^(nu - 1).
  const double scale = 0.5 * feature;
  const double beta_top = -1.0 / 3.0;  // a right-angled corner in one dielectric
  const double beta_foot = sec.t > 0.0 ? corner_exponent(eps_above, sec.er) - 1.0 : -0.5;
  const Taper inner_top{{xa, yt}, beta_top, scale}, outer_top{{xb, yt}, beta_top, scale},
      inner_foot{{xa, 1.0}, beta_foot, scale}, outer_foot{{xb, 1.0}, beta_foot, scale};

  const Line bottom{true, 1.0}, top{true, yt}, inner{false, xa}, outside{false, xb};
  const std::vector<double> top_cuts = b.own(top, xa, xb);
  const std::vector<double> side_cuts = b.own(inner, 1.0, yt);

  // Conductor faces, normals outward. A zero-thickness strip has one face
  // with the substrate below and the coating or air above.
  if (sec.t > 0.0) {
    b.panels(bottom, {b.own(bottom, xa, xb)}, conductor({0, -1}, 1.0, sec.er, false),
             {inner_foot, outer_foot});
    b.panels(inner, {side_cuts}, conductor({-1, 0}, 1.0, eps_above, false),
             {inner_foot, inner_top});
    b.panels(top, {top_cuts}, conductor({0, 1}, 1.0, eps_above, false), {inner_top, outer_top});
    b.panels(outside, {side_cuts}, conductor({1, 0}, 1.0, eps_above, false),
             {outer_foot, outer_top});
  } else {
    b.panels(top, {top_cuts}, conductor({0, 1}, sec.er, eps_above, sec.er != eps_above),
             {inner_foot, outer_foot});
  }
  b.mesh.conductors = b.mesh.panels.size();

  // The coating's surface in the gap, over the strips and outside (normals
  // from the coating into the air).
  std::vector<double> gap_floor_cuts, floor_cuts;
  if (coat_surface) {
    const Line gap_floor{true, floor}, gap_side{false, gap_edge}, roof{true, yt + c},
        side{false, outer}, far_floor{true, floor};
    const Panel to_air = interface({0, 1}, sec.er_coat, 1.0);
    // Where the coating's sides stop facing the strips' sides.
    const double facing = std::clamp(yt, floor, coat_top);
    // The coating's corners where its sides rise from the floor (air in the
    // corner) and turn into its top (coating in the corner).
    const bool sides = coat_top > floor;
    const double coat_scale = 0.5 * coat_feature;
    const double beta_rise = sides ? dielectric_corner_exponent(1.0, sec.er_coat) - 1.0 : 0.0;
    const double beta_turn =
        sides && coat_top < plates ? dielectric_corner_exponent(sec.er_coat, 1.0) - 1.0 : 0.0;
    const Taper gap_rise{{gap_edge, floor}, gap_edge > 0.0 ? beta_rise : 0.0, coat_scale},
        gap_turn{{gap_edge, coat_top}, gap_edge > 0.0 ? beta_turn : 0.0, coat_scale},
        rise{{outer, floor}, beta_rise, coat_scale}, turn{{outer, coat_top}, beta_turn, coat_scale};
    gap_floor_cuts = b.own(gap_floor, 0.0, gap_edge);
    floor_cuts = b.own(far_floor, outer, reach);
    if (gap_edge > 0.0) {
      b.panels(gap_floor, {gap_floor_cuts}, to_air, {gap_rise});
      b.panels(gap_side,
               {b.facing(side_cuts, c, gap_side, floor, facing), b.own(gap_side, facing, coat_top)},
               interface({-1, 0}, sec.er_coat, 1.0), {gap_rise, gap_turn});
    }
    if (yt + c < plates)
      b.panels(roof,
               {b.own(roof, gap_edge, xa), b.facing(top_cuts, c, roof, xa, xb),
                b.own(roof, xb, outer)},
               to_air, {gap_turn, turn});
    b.panels(side, {b.facing(side_cuts, c, side, floor, facing), b.own(side, facing, coat_top)},
             interface({1, 0}, sec.er_coat, 1.0), {rise, turn});
    b.panels(far_floor, {floor_cuts}, to_air, {rise});
  }

  // The substrate's surface beside the strips; it carries no charge where
  // the same permittivity lies on both sides.
  if (sec.er != eps_above) {
    const Panel up = interface({0, 1}, sec.er, eps_above);
    if (coat_surface) {
      b.panels(bottom,
               {b.facing(gap_floor_cuts, c, bottom, 0.0, gap_edge), b.own(bottom, gap_edge, xa)},
               up, {inner_foot});
      b.panels(bottom, {b.own(bottom, xb, outer), b.facing(floor_cuts, c, bottom, outer, reach)},
               up, {outer_foot});
    } else {
      b.panels(bottom, {b.own(bottom, 0.0, xa)}, up, {inner_foot});
      b.panels(bottom, {b.own(bottom, xb, reach)}, up, {outer_foot});
    }
  }
  return b.mesh;
}

}  // namespace kx::field
