// The collocation system and its solution (see capacitance.h).
#include "models/field/capacitance.h"

#include <algorithm>
#include <cmath>

#include <Eigen/Dense>

#include "models/field/green.h"

namespace kx::field {
namespace {

using Eigen::Index;

// A zero-thickness strip whose two faces see different permittivities needs
// the normal field on it to split its charge between the faces.
bool needs_field(const Panel& p) { return p.two_sided && p.eps_neg != p.eps_pos; }

// The influence of every panel's unit charge (direct: the panel; mirror: its
// image in x = 0) at every collocation point, as the rows of the system:
// the potential at a conductor panel, minus the normal field at an interface
// panel. Apart: the normal field at the panels that need it (needs_field).
struct Influences {
  Eigen::MatrixXd direct, mirror;
  Eigen::MatrixXd field_direct, field_mirror;
  std::vector<Index> field_rows;  // the panel of each row of field_*
};

Influences influences(const Mesh& mesh) {
  const Green green(mesh);
  const std::vector<Panel>& panels = mesh.panels;
  const Index n = static_cast<Index>(panels.size());
  Influences inf;
  for (Index i = 0; i < n; ++i)
    if (needs_field(panels[static_cast<std::size_t>(i)])) inf.field_rows.push_back(i);
  const Index nf = static_cast<Index>(inf.field_rows.size());
  inf.direct.resize(n, n);
  inf.mirror.resize(n, n);
  inf.field_direct.resize(nf, n);
  inf.field_mirror.resize(nf, n);
  for (Index j = 0; j < n; ++j) {
    const std::size_t uj = static_cast<std::size_t>(j);
    for (Index i = 0; i < n; ++i) {
      const std::size_t ui = static_cast<std::size_t>(i);
      const Panel& at = panels[ui];
      if (at.conductor) {
        const Influence v = green.potential(ui, uj);
        inf.direct(i, j) = v.direct;
        inf.mirror(i, j) = v.mirror;
      } else {
        const Influence e = green.field(ui, uj);
        inf.direct(i, j) = -e.direct;
        inf.mirror(i, j) = -e.mirror;
      }
    }
    for (Index r = 0; r < nf; ++r) {
      const Index i = inf.field_rows[static_cast<std::size_t>(r)];
      const Influence e = green.field(static_cast<std::size_t>(i), uj);
      inf.field_direct(r, j) = e.direct;
      inf.field_mirror(r, j) = e.mirror;
    }
  }
  return inf;
}

// GMRES for S y = b, S given as a product, right-preconditioned by the
// diagonal scaling p. Returns false if it has not reached the tolerance.
template <class Product>
bool gmres(const Product& s, const Eigen::VectorXd& b, const Eigen::VectorXd& p,
           Eigen::VectorXd& y) {
  constexpr int kMaxIterations = 120;
  constexpr double kTolerance = 1e-11;  // relative residual
  const Index n = b.size();
  const double beta = b.norm();
  y = Eigen::VectorXd::Zero(n);
  if (beta == 0.0) return true;
  const int m = static_cast<int>(std::min<Index>(kMaxIterations, n));
  Eigen::MatrixXd v(n, m + 1);
  Eigen::MatrixXd h = Eigen::MatrixXd::Zero(m + 1, m);
  Eigen::VectorXd cs(m), sn(m), g = Eigen::VectorXd::Zero(m + 1);
  v.col(0) = b / beta;
  g(0) = beta;
  int k = 0;
  bool converged = false;
  while (k < m && !converged) {
    // Arnoldi: the next direction, orthogonalised (modified Gram-Schmidt).
    Eigen::VectorXd w = s(p.cwiseProduct(v.col(k)));
    for (int j = 0; j <= k; ++j) {
      h(j, k) = v.col(j).dot(w);
      w -= h(j, k) * v.col(j);
    }
    h(k + 1, k) = w.norm();
    if (h(k + 1, k) > 0.0) v.col(k + 1) = w / h(k + 1, k);
    // Givens rotations keep the Hessenberg matrix triangular.
    for (int j = 0; j < k; ++j) {
      const double t = cs(j) * h(j, k) + sn(j) * h(j + 1, k);
      h(j + 1, k) = -sn(j) * h(j, k) + cs(j) * h(j + 1, k);
      h(j, k) = t;
    }
    const double r = std::hypot(h(k, k), h(k + 1, k));
    if (r == 0.0) return false;
    cs(k) = h(k, k) / r;
    sn(k) = h(k + 1, k) / r;
    h(k, k) = r;
    h(k + 1, k) = 0.0;
    g(k + 1) = -sn(k) * g(k);
    g(k) = cs(k) * g(k);
    ++k;
    converged = std::abs(g(k)) <= kTolerance * beta;
  }
  if (!converged) return false;
  const Eigen::VectorXd z = h.topLeftCorner(k, k).triangularView<Eigen::Upper>().solve(g.head(k));
  y = p.cwiseProduct(v.leftCols(k) * z);
  return std::isfinite(y.squaredNorm());
}

// The free charge on the right strip's faces for the total charge sigma.
double free_charge(const Mesh& mesh, const Influences& inf, double sign, Fill fill,
                   const Eigen::VectorXd& sigma) {
  const std::vector<Panel>& panels = mesh.panels;
  const Index nc = static_cast<Index>(mesh.conductors);
  double q = 0.0;
  for (Index j = 0; j < nc; ++j) {
    const Panel& p = panels[static_cast<std::size_t>(j)];
    double free = sigma(j);
    if (fill == Fill::dielectric) free = p.eps_pos * sigma(j);
    if (fill == Fill::dielectric && p.two_sided) free = 0.5 * (p.eps_neg + p.eps_pos) * sigma(j);
    q += free * p.len;
  }
  if (fill == Fill::dielectric) {
    for (std::size_t r = 0; r < inf.field_rows.size(); ++r) {
      const Index i = inf.field_rows[r];
      const Panel& p = panels[static_cast<std::size_t>(i)];
      const Index row = static_cast<Index>(r);
      const double en = inf.field_direct.row(row).dot(sigma) +
                        sign * inf.field_mirror.row(row).dot(sigma);
      q += (p.eps_pos - p.eps_neg) * en * p.len;
    }
  }
  return q;
}

// One mode's capacitances per strip (per unit eps0) at 1 V, with the
// dielectrics and without. The system [A B; C D] [x; y] = [1; 0] has the
// conductor rows and columns first; A alone is the system without the
// dielectrics. Its LU gives the air solution x0 = A^-1 1 and, through the
// Schur complement, the dielectric one:
//   (D - C A^-1 B) y = -C x0,   x = x0 - A^-1 B y,
// solved by GMRES (the interface equations are of the second kind: a few
// tens of iterations) preconditioned by D's diagonal, or by one LU of the
// whole system should GMRES not converge.
struct ModeCapacitances {
  double dielectric, air;
};
ModeCapacitances mode_capacitances(const Mesh& mesh, const Influences& inf, Mode mode) {
  const double sign = mode == Mode::even ? 1.0 : -1.0;
  const Index nc = static_cast<Index>(mesh.conductors);
  const Index n = static_cast<Index>(mesh.panels.size());
  const Index ni = n - nc;
  Eigen::MatrixXd m = inf.direct + sign * inf.mirror;
  for (Index i = nc; i < n; ++i) {
    const Panel& p = mesh.panels[static_cast<std::size_t>(i)];
    m(i, i) += 0.5 * (p.eps_neg + p.eps_pos) / (p.eps_neg - p.eps_pos);
  }
  const Eigen::PartialPivLU<Eigen::MatrixXd> a(m.topLeftCorner(nc, nc));
  const Eigen::VectorXd x0 = a.solve(Eigen::VectorXd::Ones(nc));
  ModeCapacitances out;
  Eigen::VectorXd air = Eigen::VectorXd::Zero(n);
  air.head(nc) = x0;
  out.air = free_charge(mesh, inf, sign, Fill::air, air);

  Eigen::VectorXd sigma(n);
  if (ni == 0) {
    sigma = air;
  } else {
    const auto b = m.topRightCorner(nc, ni);
    const auto c = m.bottomLeftCorner(ni, nc);
    const auto d = m.bottomRightCorner(ni, ni);
    const auto schur = [&](const Eigen::VectorXd& y) -> Eigen::VectorXd {
      const Eigen::VectorXd by = b * y;
      return d * y - c * a.solve(by);
    };
    Eigen::VectorXd y;
    if (gmres(schur, -(c * x0), d.diagonal().cwiseInverse(), y)) {
      const Eigen::VectorXd by = b * y;
      sigma.head(nc) = x0 - a.solve(by);
      sigma.tail(ni) = y;
    } else {
      Eigen::VectorXd volts = Eigen::VectorXd::Zero(n);
      volts.head(nc).setOnes();
      sigma = m.partialPivLu().solve(volts);
    }
  }
  out.dielectric = free_charge(mesh, inf, sign, Fill::dielectric, sigma);
  return out;
}

}  // namespace

Capacitances capacitances(const Mesh& mesh) {
  const Influences inf = influences(mesh);
  const ModeCapacitances even = mode_capacitances(mesh, inf, Mode::even);
  const ModeCapacitances odd = mode_capacitances(mesh, inf, Mode::odd);
  return {even.dielectric, odd.dielectric, even.air, odd.air};
}

}  // namespace kx::field
