// A general board cross-section (kestrelix/stack.h) as a static problem of
// the wideband line: its dielectric regions (layers of one material, and the
// mask), its metal surface groups and their recessions as changes of the
// vacuum cross-section solved by kx::stack::solve.
//
// The recessions are solved on the vacuum stack, whose layers matter only
// as the interfaces the conductors sit on: it keeps the interfaces that
// carry conductors and the top (merged layers, no mask). With d the
// recession into the metal:
//   strip sides    every finite side of every conductor moves inward by d
//                  along its normal (d sqrt(1 + (inset/t)^2) across)
//   strip tops     every conductor's thickness t - d (its sides stay)
//   ground         the bottom layer d thicker (everything above rises)
//   top plane      the top layer d thicker
//   strip bottoms  every conductor's bottom raised by d, its top and sides
//                  fixed: in vacuum, term by term, ground + tops - top plane
//                  (the whole section translated down by d), so it is formed
//                  from them rather than solved.
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "kestrelix/rlgc.h"

namespace kx::rlgc {
namespace {

using stack::Conductor;
using stack::Stack;

// The relative size of the solver's jumps in its values as the geometry
// moves (its mesh gains or loses a panel): twice the largest met in fine
// sweeps (steps of 0.1 %) of a trace's width and thickness, the gap and the
// layers' thickness of microstrip and stripline pairs (5e-6).
constexpr double kMeshJump = 1e-5;

bool same(const materials::DielectricData& a, const materials::DielectricData& b) {
  return a.dk == b.dk && a.df == b.df && a.f_hz == b.f_hz && a.model == b.model &&
         a.f_low_hz == b.f_low_hz && a.f_high_hz == b.f_high_hz;
}

materials::Dielectric constant_dielectric(double er, double loss_tangent) {
  materials::DielectricData d;
  d.dk = er;
  d.df = loss_tangent;
  d.model = materials::DielectricModel::constant;
  return materials::Dielectric(d);
}

Matrix to_matrix(const stack::Matrix& m) {
  Matrix out(static_cast<int>(m.n));
  for (std::size_t i = 0; i < m.n; ++i)
    for (std::size_t j = 0; j < m.n; ++j) out(static_cast<int>(i), static_cast<int>(j)) = m(i, j);
  return out;
}

// The largest relative move of an element between the solver's two meshes,
// against the diagonal, at least the solver's error floor.
double mesh_error(const stack::Solution& s) {
  double e = s.error_floor;
  const auto moved = [&](const stack::Matrix& fine, const stack::Matrix& coarse,
                         const stack::Matrix& value) {
    for (std::size_t i = 0; i < value.n; ++i)
      for (std::size_t j = 0; j < value.n; ++j)
        e = std::max(e, std::abs(fine(i, j) - coarse(i, j)) / std::sqrt(value(i, i) * value(j, j)));
  };
  moved(s.fine.c, s.coarse.c, s.c);
  moved(s.fine.c_vac, s.coarse.c_vac, s.c_vac);
  return e;
}

bool finite_end(double x) { return std::isfinite(x); }

// The horizontal move of a side that recedes by d along its normal.
double side_factor(const Conductor& c) {
  return c.thickness > 0.0 ? std::sqrt(1.0 + (c.inset / c.thickness) * (c.inset / c.thickness))
                           : 1.0;
}

class StackProblem : public StaticProblem {
 public:
  // region[i]: the dielectric region of layer i; mask_region: the mask's
  // (-1 without a mask); names: the regions'.
  StackProblem(const Stack& s, std::vector<int> region, int mask_region,
               std::vector<std::string> names, const stack::Settings& set, double unit_m)
      : s_(s),
        region_(std::move(region)),
        mask_region_(mask_region),
        names_(std::move(names)),
        unit_(unit_m) {
    set_.accuracy = set.accuracy;
    set_.refinement = set.refinement;
    const std::vector<std::size_t> lines = s.signals();
    bool any_thick = false, any_thin = false;
    for (const Conductor& c : s.conductors) (c.thickness > 0.0 ? any_thick : any_thin) = true;
    if (any_thick && any_thin)
      throw std::invalid_argument(
          "the conductors must all have a thickness or all none for the losses");
    thick_ = any_thick;
    for (const std::size_t i : lines) {
      const Conductor& c = s.conductors[i];
      areas_.push_back(0.5 * c.thickness * (c.bottom_width() + c.top_width()) * unit_ * unit_);
    }
    build_vacuum();
    build_groups();
  }

  int conductors() const override { return static_cast<int>(areas_.size()); }
  std::vector<std::string> layers() const override { return names_; }
  std::vector<RecessionGroup> recession_groups() const override { return groups_; }
  std::vector<double> conductor_areas() const override { return areas_; }
  double mesh_jump() const override { return kMeshJump; }

  StaticSolution solve(const std::vector<double>& er) const override {
    Stack x = s_;
    for (std::size_t i = 0; i < x.layers.size(); ++i)
      x.layers[i].er = er.at(static_cast<std::size_t>(region_[i]));
    if (mask_region_ >= 0) x.mask.er = er.at(static_cast<std::size_t>(mask_region_));
    return solution(x, "the cross-section");
  }

  StaticSolution recede(int group, double d_m) const override {
    const double d = d_m / unit_;
    Stack v = vac_;
    const std::size_t g = static_cast<std::size_t>(group);
    if (group == sides_) {
      for (Conductor& c : v.conductors) {
        const double across = d * side_factor(c);
        if (finite_end(c.left)) c.left += across;
        if (finite_end(c.right)) c.right -= across;
      }
    } else if (group == tops_) {
      for (Conductor& c : v.conductors) {
        c.inset *= (c.thickness - d) / c.thickness;
        c.thickness -= d;
      }
    } else if (group == ground_) {
      v.layers.front().thickness += d;
    } else if (group == top_plane_) {
      v.layers.back().thickness += d;
    } else {
      throw std::invalid_argument("the stack's strip bottoms are the sum of other groups");
    }
    return solution(v, ("the recession of the " + groups_.at(g).name).c_str());
  }

 private:
  StaticSolution solution(const Stack& x, const char* what) const {
    const std::string why = stack::check(x);
    if (!why.empty()) throw std::invalid_argument(std::string(what) + ": " + why);
    const stack::Solution r = stack::solve(x, set_);
    return {to_matrix(r.c), to_matrix(r.c_vac), mesh_error(r)};
  }

  // The vacuum stack: the interfaces that carry conductors and the top,
  // every region vacuum, no mask.
  void build_vacuum() {
    std::vector<std::size_t> keep;  // interfaces of s_ kept, increasing
    for (const Conductor& c : s_.conductors) keep.push_back(c.interface);
    keep.push_back(s_.layers.size());
    std::sort(keep.begin(), keep.end());
    keep.erase(std::unique(keep.begin(), keep.end()), keep.end());
    vac_.top_plane = s_.top_plane;
    double below = 0.0;
    for (const std::size_t k : keep) {
      stack::Layer l;
      l.thickness = s_.height(k) - below;
      below = s_.height(k);
      vac_.layers.push_back(l);
    }
    vac_.conductors = s_.conductors;
    for (Conductor& c : vac_.conductors)
      c.interface = static_cast<std::size_t>(
          std::lower_bound(keep.begin(), keep.end(), c.interface) - keep.begin() + 1);
  }

  // The groups and the lengths their derivatives vary on (in metres).
  void build_groups() {
    const double inf = stack::kUnbounded;
    const std::size_t top = vac_.layers.size();
    double side = inf, factor = 1.0, tops = inf, room_above = inf;
    for (std::size_t i = 0; i < vac_.conductors.size(); ++i) {
      const Conductor& c = vac_.conductors[i];
      factor = std::max(factor, side_factor(c));
      if (finite_end(c.left) && finite_end(c.right)) {
        side = std::min(side, c.bottom_width());
        if (thick_) side = std::min(side, c.top_width());
      }
      for (const Conductor& o : vac_.conductors)
        if (o.interface == c.interface && o.left > c.right) {
          side = std::min(side, o.left - c.right);
          if (thick_) side = std::min(side, (o.left + o.inset) - (c.right - c.inset));
        }
      const double above = c.interface < top ? vac_.layers[c.interface].thickness - c.thickness
                                             : inf;
      if (thick_) tops = std::min({tops, c.thickness, above});
      const double to_top = vac_.height(top) - vac_.height(c.interface) - c.thickness;
      room_above = std::min(room_above, to_top);
    }
    sides_ = static_cast<int>(groups_.size());
    groups_.push_back({"strip sides", side / factor * unit_, {}});
    if (thick_) {
      tops_ = static_cast<int>(groups_.size());
      groups_.push_back({"strip tops", tops * unit_, {}});
      groups_.push_back({"strip bottoms", 0.0, {}});
    }
    ground_ = static_cast<int>(groups_.size());
    groups_.push_back({"ground", vac_.layers.front().thickness * unit_, {}});
    if (vac_.top_plane) {
      top_plane_ = static_cast<int>(groups_.size());
      groups_.push_back({"top plane", room_above * unit_, {}});
    }
    if (thick_) {
      auto& bottoms = groups_[static_cast<std::size_t>(tops_ + 1)].sum_of;
      bottoms = {{ground_, 1.0}, {tops_, 1.0}};
      if (vac_.top_plane) bottoms.push_back({top_plane_, -1.0});
    }
  }

  Stack s_;
  Stack vac_;
  std::vector<int> region_;
  int mask_region_ = -1;
  std::vector<std::string> names_;
  stack::Settings set_;
  double unit_ = 1.0;
  bool thick_ = false;
  std::vector<double> areas_;
  std::vector<RecessionGroup> groups_;
  int sides_ = -1, tops_ = -1, ground_ = -1, top_plane_ = -1;
};

}  // namespace

LineStatics stack_statics(const Stack& s, const StackMaterials& m, const StackOptions& options) {
  if (const std::string why = stack::check(s); !why.empty())
    throw std::invalid_argument("the cross-section: " + why);
  if (!std::isfinite(options.unit_m) || options.unit_m <= 0.0)
    throw std::invalid_argument("the stack's length unit must be a positive number of metres");
  if (!m.layers.empty() && m.layers.size() != s.layers.size())
    throw std::invalid_argument("one dielectric for each layer of the stack");
  const bool masked = s.mask.present();

  // Each layer's material (and the mask's), then the regions: one for each
  // material, in the order met from the ground plane up.
  std::vector<materials::Dielectric> material;
  for (std::size_t i = 0; i < s.layers.size(); ++i)
    material.push_back(m.layers.empty()
                           ? constant_dielectric(s.layers[i].er, s.layers[i].loss_tangent)
                           : m.layers[i]);
  if (masked)
    material.push_back(m.mask_set ? m.mask : constant_dielectric(s.mask.er, s.mask.loss_tangent));
  std::vector<int> region;
  std::vector<std::string> names;
  LineMaterials lm;
  for (std::size_t i = 0; i < material.size(); ++i) {
    const std::string name =
        i < s.layers.size()
            ? (s.layers[i].name.empty() ? "layers[" + std::to_string(i) + "]" : s.layers[i].name)
            : "mask";
    std::size_t r = 0;
    while (r < lm.layers.size() && !same(lm.layers[r].data(), material[i].data())) ++r;
    if (r == lm.layers.size()) {
      lm.layers.push_back(material[i]);
      names.push_back(name);
    } else {
      names[r] += ", " + name;
    }
    region.push_back(static_cast<int>(r));
  }
  const int mask_region = masked ? region.back() : -1;
  if (masked) region.pop_back();

  const StackProblem problem(s, region, mask_region, names, options.field, options.unit_m);
  for (const RecessionGroup& g : problem.recession_groups()) {
    if (g.name == "strip sides")
      lm.surfaces.push_back({m.resistivity, m.sides});
    else if (g.name == "strip tops")
      lm.surfaces.push_back({m.resistivity, m.top});
    else if (g.name == "strip bottoms")
      lm.surfaces.push_back({m.resistivity, m.bottom});
    else if (g.name == "ground")
      lm.surfaces.push_back(m.ground);
    else
      lm.surfaces.push_back(m.top_plane);
  }
  lm.resistivity.assign(static_cast<std::size_t>(problem.conductors()), m.resistivity);
  const double f_ref = options.f_ref_hz > 0.0 ? options.f_ref_hz : material.front().data().f_hz;
  return line_statics(problem, lm, f_ref);
}

}  // namespace kx::rlgc
