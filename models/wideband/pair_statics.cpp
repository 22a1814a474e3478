// The edge-coupled pair as a static problem of the wideband line: its two
// layers (substrate, coating), its metal surface groups and their
// recessions as changes of the field solver's cross-section.
//
// The recessions of the vacuum problem (lengths W, S, T, H and H2, the
// cover's height above the strips' bottom):
//   strip sides    W - 2d, S + 2d
//   strip tops     T - d
//   ground plane   H + d
//   cover          H2 + d
//   strip bottoms  H + d, T - d, H2 - d   (the cover stays where it is)
// The last is the sum of the three before it (ground + tops - cover) term
// by term, so it is formed from them rather than solved.
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "kestrelix/rlgc.h"

namespace kx::rlgc {
namespace {

using field::Geometry;

// The relative size of the solver's jumps in its values where its mesh
// gains or loses a panel (the largest second difference met in fine sweeps
// of W, S, H and T).
constexpr double kMeshJump = 5e-5;

// The symmetric 2 x 2 matrix with even-mode value e = M11 + M12 and
// odd-mode value o = M11 - M12 per strip.
Matrix pair_matrix(double e, double o) {
  Matrix m(2);
  m(0, 0) = m(1, 1) = 0.5 * (e + o);
  m(0, 1) = m(1, 0) = 0.5 * (e - o);
  return m;
}

class PairProblem : public StaticProblem {
 public:
  PairProblem(const Geometry& g, const field::Settings& set) : g_(g), set_(set) {
    const std::string why = field::check(g);
    if (!why.empty()) throw std::invalid_argument("the cross-section: " + why);
    coated_ = g.coat > 0.0;
    covered_ = std::isfinite(g.h2);
    thick_ = g.t > 0.0;
    // Group order: sides, [tops, bottoms,] ground, [cover].
    groups_.push_back({"strip sides", std::min(g.w, g.s), {}});
    if (thick_) {
      const double room = covered_ ? g.h2 - g.t : g.t;
      tops_ = static_cast<int>(groups_.size());
      groups_.push_back({"strip tops", std::min(g.t, room), {}});
      groups_.push_back({"strip bottoms", 0.0, {}});
    }
    ground_ = static_cast<int>(groups_.size());
    groups_.push_back({"ground", g.h, {}});
    if (covered_) {
      cover_ = static_cast<int>(groups_.size());
      groups_.push_back({"cover", g.h2 - g.t, {}});
    }
    if (thick_) {
      auto& bottoms = groups_[static_cast<std::size_t>(tops_ + 1)].sum_of;
      bottoms = {{ground_, 1.0}, {tops_, 1.0}};
      if (covered_) bottoms.push_back({cover_, -1.0});
    }
  }

  int conductors() const override { return 2; }
  std::vector<std::string> layers() const override {
    if (coated_) return {"substrate", "coating"};
    return {"substrate"};
  }
  std::vector<RecessionGroup> recession_groups() const override { return groups_; }
  std::vector<double> conductor_areas() const override { return {g_.w * g_.t, g_.w * g_.t}; }
  double mesh_jump() const override { return kMeshJump; }

  StaticSolution solve(const std::vector<double>& er) const override {
    Geometry g = g_;
    g.er = er.at(0);
    g.er_coat = coated_ ? er.at(1) : 1.0;
    return solution(g, "the cross-section");
  }

  StaticSolution recede(int group, double d) const override {
    Geometry g = g_;
    g.er = 1.0;
    g.coat = 0.0;
    g.er_coat = 1.0;
    if (group == 0) {
      g.w -= 2.0 * d;
      g.s += 2.0 * d;
    } else if (group == tops_) {
      g.t -= d;
    } else if (group == ground_) {
      g.h += d;
    } else if (group == cover_) {
      g.h2 += d;
    } else {
      throw std::invalid_argument("the pair's strip bottoms are the sum of other groups");
    }
    return solution(
        g, ("the recession of the " + groups_[static_cast<std::size_t>(group)].name).c_str());
  }

 private:
  StaticSolution solution(const Geometry& g, const char* what) const {
    const std::string why = field::check(g);
    if (!why.empty()) throw std::invalid_argument(std::string(what) + ": " + why);
    const field::Result r = field::solve(g, set_);
    const double ez = std::max(r.error_zoe, r.error_zoo);
    const double ef = std::max(r.error_eff_e, r.error_eff_o);
    // C = sqrt(eff) / (c0 Z): its error from those of Z and eff.
    return {pair_matrix(r.ce, r.co), pair_matrix(r.cae, r.cao), ez + 0.5 * ef};
  }

  Geometry g_;
  field::Settings set_;
  bool coated_ = false, covered_ = false, thick_ = false;
  std::vector<RecessionGroup> groups_;
  int tops_ = -1, ground_ = -1, cover_ = -1;
};

}  // namespace

LineStatics pair_statics(const Geometry& geometry, const PairMaterials& m,
                         const PairOptions& options) {
  const PairProblem problem(geometry, options.field);
  LineMaterials lm;
  lm.layers.push_back(m.substrate);
  if (geometry.coat > 0.0) lm.layers.push_back(m.coating);
  for (const RecessionGroup& g : problem.recession_groups()) {
    if (g.name == "strip sides")
      lm.surfaces.push_back({m.strip_resistivity, m.strip_sides});
    else if (g.name == "strip tops")
      lm.surfaces.push_back({m.strip_resistivity, m.strip_top});
    else if (g.name == "strip bottoms")
      lm.surfaces.push_back({m.strip_resistivity, m.strip_bottom});
    else if (g.name == "ground")
      lm.surfaces.push_back(m.ground);
    else
      lm.surfaces.push_back(m.cover);
  }
  lm.resistivity = {m.strip_resistivity, m.strip_resistivity};
  const double f_ref = options.f_ref_hz > 0.0 ? options.f_ref_hz : m.substrate.data().f_hz;
  return line_statics(problem, lm, f_ref);
}

}  // namespace kx::rlgc
