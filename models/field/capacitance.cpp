// The collocation system and its solution (see capacitance.h).
#include "models/field/capacitance.h"

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

// Capacitance per strip (per unit eps0) at 1 V: the free charge on the
// right strip's faces.
double capacitance(const Mesh& mesh, const Influences& inf, Mode mode, Fill fill) {
  const std::vector<Panel>& panels = mesh.panels;
  const double sign = mode == Mode::even ? 1.0 : -1.0;
  const Index nc = static_cast<Index>(mesh.conductors);
  // Without the dielectrics no interface carries charge.
  const Index n = fill == Fill::air ? nc : static_cast<Index>(panels.size());
  Eigen::MatrixXd m = inf.direct.topLeftCorner(n, n) + sign * inf.mirror.topLeftCorner(n, n);
  for (Index i = nc; i < n; ++i) {
    const Panel& p = panels[static_cast<std::size_t>(i)];
    m(i, i) += 0.5 * (p.eps_neg + p.eps_pos) / (p.eps_neg - p.eps_pos);
  }
  Eigen::VectorXd volts = Eigen::VectorXd::Zero(n);
  volts.head(nc).setOnes();
  const Eigen::VectorXd sigma = m.partialPivLu().solve(volts);

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

}  // namespace

Capacitances capacitances(const Mesh& mesh) {
  const Influences inf = influences(mesh);
  return {capacitance(mesh, inf, Mode::even, Fill::dielectric),
          capacitance(mesh, inf, Mode::odd, Fill::dielectric),
          capacitance(mesh, inf, Mode::even, Fill::air),
          capacitance(mesh, inf, Mode::odd, Fill::air)};
}

}  // namespace kx::field
