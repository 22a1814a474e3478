// The general solver's top level: check the stack, build its geometry,
// discretise it at two refinements, solve each for the capacitance matrices,
// extrapolate, reduce the floating metal away, and derive the inductance
// matrix, the characteristic impedances and the modes.
#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>
#include <string>

#include <Eigen/Dense>

#include "kestrelix/stack_solver.h"
#include "models/field/stack/geometry.h"
#include "models/field/stack/stack_linear.h"
#include "models/field/stack/stack_mesh.h"
#include "models/field/stack/stack_system.h"

namespace kx::stack {
namespace {

using detail::Mat;
using Eigen::Index;

constexpr double kMaxRefinement = 8.0;
// The most panels a mesh may take: its dense system holds 8 N^2 bytes and
// takes of order N^3 / 3 operations to solve. Bounds the work on any input.
constexpr std::size_t kMaxPanels = 3000;
// The part of the error refinement does not show (the panel integrals'
// quadrature, the truncated interfaces), relative.
constexpr double kErrorFloor = 3e-4;
constexpr double kErrorFloorFine = 2e-4;

// The discretisation: panels grow by the grading times their distance from
// the nearest corner, the first a tenth of the corner's smallest
// neighbouring length; then every panel is cut into equal parts, twice as
// many on the fine mesh as on the coarse one. The standard setting grades
// by 1/2 where the fine mesh stays within kPanelBudget panels (small
// sections cost little), else by 0.7 or 1; the fine setting cuts that mesh
// twice as fine again and takes the panel integrals with more nodes.
constexpr double kGradings[] = {0.5, 0.7, 1.0};
constexpr std::size_t kPanelBudget = 200;
constexpr double kFirst = 0.1;
struct Levels {
  detail::StackMesh coarse, fine;
};
// g: the geometry to mesh; plain: the same without the interfaces between
// regions of one permittivity (the budget counts only the panels that carry
// charge, so asking for the regions' shares does not change the mesh).
Levels levels_for(const detail::Geometry& g, const detail::Geometry& plain, const Settings& set) {
  const bool fine = set.accuracy == Accuracy::fine;
  // The grading that keeps the standard setting's fine mesh within the
  // budget (the coarser the grading, the fewer the panels: the finest first,
  // then the coarsest, then the one between if the coarsest fits).
  const auto probe = [&](double grading) {
    detail::StackMeshSettings p;
    p.grading = grading;
    p.max_len = 4.0 * grading;
    p.first = kFirst;
    p.split = 2;
    return detail::discretise(plain, p);
  };
  double grading = kGradings[0];
  detail::StackMesh standard = probe(grading);
  if (standard.panels.size() > kPanelBudget) {
    grading = kGradings[2];
    standard = probe(grading);
    if (standard.panels.size() <= kPanelBudget) {
      detail::StackMesh between = probe(kGradings[1]);
      if (between.panels.size() <= kPanelBudget) {
        grading = kGradings[1];
        standard = std::move(between);
      }
    }
  }
  Levels out;
  if (!fine && set.refinement == 1.0 && &g == &plain) {
    out.coarse = detail::resplit(g, standard, 1, 1.0);
    out.fine = std::move(standard);
    return out;
  }
  // Then the refinement on it (all lengths of the size rule shrink).
  detail::StackMeshSettings m;
  m.grading = grading / set.refinement;
  m.max_len = 4.0 * m.grading;
  m.first = kFirst / set.refinement;
  m.quadrature = fine ? 2.0 : 1.0;
  m.split = fine ? 2 : 1;
  out.coarse = detail::discretise(g, m);
  out.fine = detail::resplit(g, out.coarse, 2 * m.split, m.quadrature);
  return out;
}

// Richardson extrapolation for an error falling like the panel length squared.
Mat extrapolated(const Mat& fine, const Mat& coarse) { return fine + (fine - coarse) / 3.0; }

Mat symmetric(const Mat& m) { return 0.5 * (m + m.transpose()); }

Matrix to_matrix(const Mat& m) {
  Matrix out(static_cast<std::size_t>(m.rows()));
  for (Index i = 0; i < m.rows(); ++i)
    for (Index j = 0; j < m.cols(); ++j)
      out(static_cast<std::size_t>(i), static_cast<std::size_t>(j)) = m(i, j);
  return out;
}

// The signals' matrices with the floating metal (the last nf of the driven
// conductors) at zero net charge: C_ss - C_sf C_ff^-1 C_fs, and likewise the
// derivatives.
struct Reduced {
  Mat c, c_vac;
  std::vector<Mat> dc;
  Mat k, k_vac;  // the floating metal's potentials per line at 1 V (negated)
};
Reduced reduce(const Mat& c, const Mat& c_vac, const std::vector<Mat>& dc, Index ns) {
  Reduced r;
  const Index nf = c.rows() - ns;
  if (nf == 0) {
    r.c = c;
    r.c_vac = c_vac;
    r.dc = dc;
    return r;
  }
  const auto kron = [&](const Mat& m, Mat& k) {
    k = m.bottomRightCorner(nf, nf).partialPivLu().solve(m.bottomLeftCorner(nf, ns));
    return Mat(m.topLeftCorner(ns, ns) - m.topRightCorner(ns, nf) * k);
  };
  r.c = kron(c, r.k);
  r.c_vac = kron(c_vac, r.k_vac);
  for (const Mat& d : dc)
    r.dc.push_back(d.topLeftCorner(ns, ns) - d.topRightCorner(ns, nf) * r.k -
                   r.k.transpose() * d.bottomLeftCorner(nf, ns) +
                   r.k.transpose() * d.bottomRightCorner(nf, nf) * r.k);
  return r;
}

void require_positive(const Mat& c, const char* what) {
  const Eigen::LLT<Mat> llt(c);
  if (llt.info() != Eigen::Success || !c.allFinite())
    throw std::runtime_error(std::string("the field solution failed (") + what +
                             " is not positive definite)");
}

std::string describe(const char* what, double v) {
  std::ostringstream out;
  out << what << " (" << v << ")";
  return out.str();
}

}  // namespace

Solution solve(const Stack& s, const Settings& settings) {
  if (const std::string reason = check(s); !reason.empty()) throw std::invalid_argument(reason);
  if (!std::isfinite(settings.refinement) || settings.refinement < 1.0 ||
      settings.refinement > kMaxRefinement)
    throw std::invalid_argument(describe("refinement must lie from 1 to 8", settings.refinement));
  detail::GeometrySettings gs;
  gs.all_interfaces = settings.filling;
  const detail::Geometry g = detail::build(s, gs);
  const Levels levels = settings.filling ? levels_for(g, detail::build(s, {}), settings)
                                         : levels_for(g, g, settings);
  const detail::StackMesh& coarse_mesh = levels.coarse;
  const detail::StackMesh& fine_mesh = levels.fine;
  if (fine_mesh.panels.size() > kMaxPanels)
    throw std::invalid_argument(describe(
        "the cross-section needs more panels than the solver takes (scales too far apart, or "
        "too many conductors)",
        static_cast<double>(fine_mesh.panels.size())));

  // The driven conductors: the signals, then the floating metal.
  std::vector<std::size_t> driven = s.signals();
  const Index ns = static_cast<Index>(driven.size());
  for (std::size_t i = 0; i < s.conductors.size(); ++i)
    if (s.conductors[i].role == Role::floating) driven.push_back(i);

  const detail::MeshSolution coarse =
      detail::solve_mesh(coarse_mesh, g, driven, settings.filling, false);
  const detail::MeshSolution fine =
      detail::solve_mesh(fine_mesh, g, driven, settings.filling, settings.surface, &coarse);

  // Per metre of line: times eps0.
  constexpr double kEps0 = detail::kEps0;
  std::vector<Mat> dc;
  for (std::size_t r = 0; r < fine.dc.size(); ++r)
    dc.push_back(kEps0 * symmetric(extrapolated(fine.dc[r], coarse.dc[r])));
  const Reduced best = reduce(kEps0 * symmetric(extrapolated(fine.c, coarse.c)),
                              kEps0 * symmetric(extrapolated(fine.c_vac, coarse.c_vac)), dc, ns);
  const Reduced on_fine = reduce(kEps0 * symmetric(fine.c), kEps0 * symmetric(fine.c_vac), {}, ns);
  const Reduced on_coarse =
      reduce(kEps0 * symmetric(coarse.c), kEps0 * symmetric(coarse.c_vac), {}, ns);
  for (const Reduced* r : {&best, &on_fine, &on_coarse}) {
    require_positive(r->c, "the capacitance matrix");
    require_positive(r->c_vac, "the vacuum capacitance matrix");
  }

  Solution out;
  out.stack = s;
  out.lines = s.signals();
  out.c = to_matrix(best.c);
  out.c_vac = to_matrix(best.c_vac);
  const detail::Lines lines = detail::lines_of(best.c, best.c_vac);
  out.l = to_matrix(lines.l);
  out.zc = to_matrix(lines.zc);
  for (std::size_t m = 0; m < lines.eff.size(); ++m) {
    Mode mode;
    mode.eff = lines.eff[m];
    mode.delay = std::sqrt(mode.eff) / detail::kC0;
    mode.voltage = lines.voltage[m];
    mode.impedance = lines.impedance[m];
    out.modes.push_back(mode);
  }
  out.coarse = {to_matrix(on_coarse.c), to_matrix(on_coarse.c_vac)};
  out.fine = {to_matrix(on_fine.c), to_matrix(on_fine.c_vac)};
  out.error_floor = settings.accuracy == Accuracy::fine ? kErrorFloorFine : kErrorFloor;
  out.panels = fine_mesh.panels.size();
  if (settings.filling) {
    out.regions = g.regions;
    for (const Mat& d : best.dc) {
      // er_r dC/d er_r.
      out.filling.push_back(to_matrix(d));
    }
    for (std::size_t r = 0; r < out.filling.size(); ++r)
      for (double& v : out.filling[r].v) v *= g.regions[r].er;
  }
  if (settings.surface) {
    const detail::SurfaceCharge& sc = fine.surface;
    const Index nf = static_cast<Index>(driven.size()) - ns;
    for (std::size_t p = 0; p < sc.panels.size(); ++p) {
      SurfacePanel sp;
      sp.conductor = static_cast<std::size_t>(sc.owner[p]);
      sp.x1 = g.xc + g.unit * sc.panels[p].p1.x;
      sp.y1 = g.unit * sc.panels[p].p1.y;
      sp.x2 = g.xc + g.unit * sc.panels[p].p2.x;
      sp.y2 = g.unit * sc.panels[p].p2.y;
      sp.length = g.unit * sc.panels[p].len;
      sp.shape_square = sc.shape_square[p];
      out.surface.push_back(sp);
    }
    // Per line: its column plus the floating metal's at their potentials;
    // per unit of the stack's length (the mesh is in units of g.unit).
    const auto per_line = [&](const Mat& d, const Mat& k) {
      Mat m = d.leftCols(ns);
      if (nf > 0) m -= d.rightCols(nf) * Mat(k);
      return m;
    };
    const Mat fine_k = nf > 0 ? Mat(fine.c.bottomRightCorner(nf, nf).partialPivLu().solve(
                                    fine.c.bottomLeftCorner(nf, ns)))
                              : Mat();
    const Mat fine_kv = nf > 0 ? Mat(fine.c_vac.bottomRightCorner(nf, nf).partialPivLu().solve(
                                     fine.c_vac.bottomLeftCorner(nf, ns)))
                               : Mat();
    const Mat d = per_line(sc.density, fine_k) * (kEps0 / g.unit);
    const Mat dv = per_line(sc.density_vac, fine_kv) * (kEps0 / g.unit);
    for (Index j = 0; j < ns; ++j) {
      out.density.emplace_back(d.col(j).data(), d.col(j).data() + d.rows());
      out.density_vac.emplace_back(dv.col(j).data(), dv.col(j).data() + dv.rows());
    }
  }
  return out;
}

}  // namespace kx::stack
