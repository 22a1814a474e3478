// The collocation system of a general cross-section and its solution (see
// stack_system.h).
//
// Without symmetry one system gives every column of the matrices. With a
// mirror the mesh is the right half and two systems do: the even one (the
// charge repeated in the left half) for the excitations symmetric about
// x = 0, the odd one (negated) for the antisymmetric ones; a line's column
// is half their sum.
#include "models/field/stack/stack_system.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "models/field/quadrature.h"
#include "models/field/stack/stack_green.h"

namespace kx::stack::detail {
namespace {

using Eigen::Index;
using Mat = Eigen::MatrixXd;

// The influence of each panel's unit charge (direct: the panel; mirror: its
// image in x = 0): the potential at the conductor panels, the normal field
// at the field panels (the interfaces and the zero-thickness strips).
struct Influences {
  Mat pot_d, pot_m, fld_d, fld_m;
  std::vector<Index> field_panel;  // per field row: its panel
  std::vector<Index> field_row;    // per panel: its field row, or -1
};

Influences influences(const StackMesh& mesh, const StackGreen& green) {
  const std::size_t n = mesh.panels.size();
  const std::size_t nc = mesh.conductor_panels;
  Influences inf;
  inf.field_row.assign(n, -1);
  for (std::size_t i = 0; i < n; ++i)
    if (i >= nc || mesh.panels[i].two_sided) {
      inf.field_row[i] = static_cast<Index>(inf.field_panel.size());
      inf.field_panel.push_back(static_cast<Index>(i));
    }
  const Index nf = static_cast<Index>(inf.field_panel.size());
  const Index N = static_cast<Index>(n), NC = static_cast<Index>(nc);
  inf.pot_d.resize(NC, N);
  inf.fld_d.resize(nf, N);
  if (mesh.mirror) {
    inf.pot_m.resize(NC, N);
    inf.fld_m.resize(nf, N);
  }
  // The field rows: the zero-thickness strips' panels, then the interfaces'.
  const Index strips = nf - (N - NC);
  for (Index j = 0; j < N; ++j) {
    const std::size_t uj = static_cast<std::size_t>(j);
    green.column(uj, nc, &inf.pot_d(0, j), mesh.mirror ? &inf.pot_m(0, j) : nullptr,
                 &inf.fld_d(strips, j), mesh.mirror ? &inf.fld_m(strips, j) : nullptr);
    for (Index r = 0; r < strips; ++r) {
      const Influence e =
          green.field(static_cast<std::size_t>(inf.field_panel[static_cast<std::size_t>(r)]), uj);
      inf.fld_d(r, j) = e.direct;
      if (mesh.mirror) inf.fld_m(r, j) = e.mirror;
    }
  }
  return inf;
}

// GMRES for S Y = R, S given as a product on a block of columns,
// right-preconditioned by the diagonal scaling p. The columns' Krylov steps
// run in lockstep, so each step applies S to all the columns still running
// in one pass over its blocks. Returns false if a column has not reached the
// tolerance.
template <class Product>
bool gmres(const Product& s, const Mat& r, const Eigen::VectorXd& p, Mat& y) {
  constexpr int kMaxIterations = 150;
  constexpr double kTolerance = 1e-9;  // relative residual
  const Index n = r.rows();
  const Index cols = r.cols();
  const int m = static_cast<int>(std::min<Index>(kMaxIterations, n));
  struct Column {
    Mat v, h;
    Eigen::VectorXd cs, sn, g;
    double beta = 0.0;
    int k = 0;
    bool done = false;
  };
  std::vector<Column> c(static_cast<std::size_t>(cols));
  y = Mat::Zero(n, cols);
  for (Index j = 0; j < cols; ++j) {
    Column& col = c[static_cast<std::size_t>(j)];
    col.beta = r.col(j).norm();
    col.done = col.beta == 0.0;
    if (col.done) continue;
    col.v.resize(n, m + 1);
    col.h = Mat::Zero(m + 1, m);
    col.cs.resize(m);
    col.sn.resize(m);
    col.g = Eigen::VectorXd::Zero(m + 1);
    col.v.col(0) = r.col(j) / col.beta;
    col.g(0) = col.beta;
  }
  for (;;) {
    std::vector<std::size_t> active;
    for (std::size_t j = 0; j < c.size(); ++j)
      if (!c[j].done) {
        if (c[j].k >= m) return false;
        active.push_back(j);
      }
    if (active.empty()) break;
    Mat x(n, static_cast<Index>(active.size()));
    for (std::size_t a = 0; a < active.size(); ++a) {
      const Column& col = c[active[a]];
      x.col(static_cast<Index>(a)) = p.cwiseProduct(col.v.col(col.k));
    }
    const Mat w_all = s(x);
    for (std::size_t a = 0; a < active.size(); ++a) {
      Column& col = c[active[a]];
      const int k = col.k;
      Eigen::VectorXd w = w_all.col(static_cast<Index>(a));
      // Arnoldi (modified Gram-Schmidt), then Givens rotations.
      for (int j = 0; j <= k; ++j) {
        col.h(j, k) = col.v.col(j).dot(w);
        w -= col.h(j, k) * col.v.col(j);
      }
      col.h(k + 1, k) = w.norm();
      if (col.h(k + 1, k) > 0.0) col.v.col(k + 1) = w / col.h(k + 1, k);
      for (int j = 0; j < k; ++j) {
        const double t = col.cs(j) * col.h(j, k) + col.sn(j) * col.h(j + 1, k);
        col.h(j + 1, k) = -col.sn(j) * col.h(j, k) + col.cs(j) * col.h(j + 1, k);
        col.h(j, k) = t;
      }
      const double rr = std::hypot(col.h(k, k), col.h(k + 1, k));
      if (rr == 0.0) return false;
      col.cs(k) = col.h(k, k) / rr;
      col.sn(k) = col.h(k + 1, k) / rr;
      col.h(k, k) = rr;
      col.h(k + 1, k) = 0.0;
      col.g(k + 1) = -col.sn(k) * col.g(k);
      col.g(k) = col.cs(k) * col.g(k);
      col.k = k + 1;
      col.done = std::abs(col.g(k + 1)) <= kTolerance * col.beta;
    }
  }
  for (Index j = 0; j < cols; ++j) {
    const Column& col = c[static_cast<std::size_t>(j)];
    if (col.beta == 0.0) continue;
    const Eigen::VectorXd z = col.h.topLeftCorner(col.k, col.k)
                                  .template triangularView<Eigen::Upper>()
                                  .solve(col.g.head(col.k));
    y.col(j) = p.cwiseProduct(col.v.leftCols(col.k) * z);
  }
  return y.allFinite();
}

// y = a x for a column-major block a (its columns `stride` apart) and a
// block x of a few columns, in one pass over a: four of a's columns against
// two of x's at a time, so each element of a is read from memory once and
// y's columns pass through the cache a quarter as often (a general matrix
// product would first copy a into its packed layout, as costly as the
// product itself).
void multiply(const double* a, Index stride, Index rows, Index cols, const Mat& x, Mat& y) {
  const Index k = x.cols();
  y.setZero(rows, k);
  Index j = 0;
  for (; j + 4 <= cols; j += 4) {
    const double* a0 = a + j * stride;
    const double* a1 = a0 + stride;
    const double* a2 = a1 + stride;
    const double* a3 = a2 + stride;
    Index c = 0;
    for (; c + 2 <= k; c += 2) {
      const double s0 = x(j, c), s1 = x(j + 1, c), s2 = x(j + 2, c), s3 = x(j + 3, c);
      const double t0 = x(j, c + 1), t1 = x(j + 1, c + 1), t2 = x(j + 2, c + 1),
                   t3 = x(j + 3, c + 1);
      double* __restrict y0 = y.col(c).data();
      double* __restrict y1 = y.col(c + 1).data();
      for (Index i = 0; i < rows; ++i) {
        const double v0 = a0[i], v1 = a1[i], v2 = a2[i], v3 = a3[i];
        y0[i] += (v0 * s0 + v1 * s1) + (v2 * s2 + v3 * s3);
        y1[i] += (v0 * t0 + v1 * t1) + (v2 * t2 + v3 * t3);
      }
    }
    for (; c < k; ++c) {
      const double s0 = x(j, c), s1 = x(j + 1, c), s2 = x(j + 2, c), s3 = x(j + 3, c);
      double* __restrict y0 = y.col(c).data();
      for (Index i = 0; i < rows; ++i)
        y0[i] += (a0[i] * s0 + a1[i] * s1) + (a2[i] * s2 + a3[i] * s3);
    }
  }
  for (; j < cols; ++j) {
    const double* a0 = a + j * stride;
    for (Index c = 0; c < k; ++c) {
      const double s0 = x(j, c);
      double* __restrict y0 = y.col(c).data();
      for (Index i = 0; i < rows; ++i) y0[i] += a0[i] * s0;
    }
  }
}
template <class A>
Mat times(const A& a, const Mat& x) {
  Mat y;
  multiply(a.data(), a.outerStride(), a.rows(), a.cols(), x, y);
  return y;
}
template <class A>
Mat times_transposed(const A& a, const Mat& x) {
  Mat y(a.cols(), x.cols());
  for (Index i = 0; i < a.cols(); ++i) y.row(i).noalias() = a.col(i).transpose() * x;
  return y;
}

// The system [A B; C D] with the conductor rows and columns first: A alone
// is the system without the dielectrics. Its LU, and GMRES on the Schur
// complement D - C A^-1 B (equations of the second kind: a few tens of
// iterations, preconditioned by D's diagonal), solve the whole system and
// its transpose; one LU of the whole system should GMRES not converge.
class Blocks {
 public:
  Blocks(const Mat& m, Index nc) : m_(m), nc_(nc), ni_(m.rows() - nc), a_(m.topLeftCorner(nc, nc)) {
    if (ni_ > 0) pre_ = m.bottomRightCorner(ni_, ni_).diagonal().cwiseInverse();
  }
  const Eigen::PartialPivLU<Mat>& a() const { return a_; }

  // M x = r, given x0 = A^-1 r_c.
  Mat solve(const Mat& r, const Mat& x0) {
    if (ni_ == 0) return x0;
    const auto b = m_.topRightCorner(nc_, ni_);
    const auto c = m_.bottomLeftCorner(ni_, nc_);
    // [B; D] y in one pass over the interface columns, then D y - C A^-1 B y.
    const auto schur = [&](const Mat& y) -> Mat {
      multiply(m_.data() + nc_ * m_.rows(), m_.rows(), m_.rows(), ni_, y, right_);
      Mat out = right_.bottomRows(ni_);
      out -= times(c, a_.solve(right_.topRows(nc_)));
      return out;
    };
    Mat y;
    const Mat rhs = r.bottomRows(ni_) - times(c, x0);
    if (!gmres(schur, rhs, pre_, y)) return full().solve(r);
    Mat x(m_.rows(), r.cols());
    const Mat aby = a_.solve(times(b, y));
    x.topRows(nc_) = x0 - aby;
    x.bottomRows(ni_) = y;
    return x;
  }

  // M^T y = r.
  Mat solve_transposed(const Mat& r) {
    const Mat y0 = a_.transpose().solve(r.topRows(nc_));
    if (ni_ == 0) return y0;
    const auto b = m_.topRightCorner(nc_, ni_);
    const auto c = m_.bottomLeftCorner(ni_, nc_);
    const auto d = m_.bottomRightCorner(ni_, ni_);
    const auto schur = [&](const Mat& z) -> Mat {
      const Mat cz = times_transposed(c, z);
      const Mat acz = a_.transpose().solve(cz);
      return times_transposed(d, z) - times_transposed(b, acz);
    };
    Mat z;
    const Mat rhs = r.bottomRows(ni_) - times_transposed(b, y0);
    if (!gmres(schur, rhs, pre_, z)) return full().transpose().solve(r);
    Mat y(m_.rows(), r.cols());
    const Mat cz = times_transposed(c, z);
    const Mat acz = a_.transpose().solve(cz);
    y.topRows(nc_) = y0 - acz;
    y.bottomRows(ni_) = z;
    return y;
  }

 private:
  Eigen::PartialPivLU<Mat>& full() {
    if (full_.rows() == 0) full_.compute(m_);
    return full_;
  }
  const Mat& m_;
  Index nc_, ni_;
  Eigen::PartialPivLU<Mat> a_;
  Eigen::VectorXd pre_;
  Eigen::PartialPivLU<Mat> full_;
  Mat right_;  // [B; D] y
};

// One system's results: the charge on each measured conductor (rows) for
// each excitation (columns), per unit eps0.
struct ModeResult {
  Mat q, q_vac;
  std::vector<Mat> dq;       // per region
  Mat density, density_vac;  // conductor panels x excitations
};

ModeResult solve_mode(const StackMesh& mesh, const Geometry& g, const Influences& inf, double sign,
                      const std::vector<std::size_t>& measured,
                      const std::vector<std::size_t>& excited, bool filling) {
  const std::size_t n = mesh.panels.size();
  const std::size_t nc = mesh.conductor_panels;
  const Index N = static_cast<Index>(n), NC = static_cast<Index>(nc);
  const Index nx = static_cast<Index>(excited.size());
  const Index nm = static_cast<Index>(measured.size());
  const Index nf = static_cast<Index>(inf.field_panel.size());
  const bool mirror = mesh.mirror;

  Mat fld = inf.fld_d;
  if (mirror) fld += sign * inf.fld_m;
  Mat m(N, N);
  m.topRows(NC) = inf.pot_d;
  if (mirror) m.topRows(NC) += sign * inf.pot_m;
  for (Index i = NC; i < N; ++i) {
    const field::Panel& p = mesh.panels[static_cast<std::size_t>(i)];
    const Index r = inf.field_row[static_cast<std::size_t>(i)];
    m.row(i) = -(p.eps_neg - p.eps_pos) * fld.row(r);
    m(i, i) += 0.5 * (p.eps_neg + p.eps_pos);
  }
  Mat b = Mat::Zero(N, nx);
  for (Index i = 0; i < NC; ++i)
    for (Index x = 0; x < nx; ++x)
      if (mesh.owner[static_cast<std::size_t>(i)] ==
          static_cast<int>(excited[static_cast<std::size_t>(x)]))
        b(i, x) = 1.0;

  ModeResult out;
  // Vacuum: the conductor block alone; then with the dielectrics.
  Blocks blocks(m, NC);
  const Mat sigma0 = blocks.a().solve(b.topRows(NC));
  const Mat sigma = blocks.solve(b, sigma0);
  const Mat e = fld * sigma;  // the normal field at the field panels

  // Free charge: per measured conductor, the functional of sigma.
  Mat f = Mat::Zero(nm, N);
  Mat f_vac = Mat::Zero(nm, N);
  out.density.resize(NC, nx);
  out.density_vac = sigma0;
  for (Index i = 0; i < NC; ++i) {
    const std::size_t ui = static_cast<std::size_t>(i);
    const field::Panel& p = mesh.panels[ui];
    Index row = -1;
    for (Index h = 0; h < nm; ++h)
      if (mesh.owner[ui] == static_cast<int>(measured[static_cast<std::size_t>(h)])) row = h;
    if (p.two_sided) {
      const Index r = inf.field_row[ui];
      out.density.row(i) = 0.5 * (p.eps_neg + p.eps_pos) * sigma.row(i) +
                           (p.eps_pos - p.eps_neg) * e.row(r);
      if (row >= 0) {
        f(row, i) += 0.5 * (p.eps_neg + p.eps_pos) * p.len;
        f.row(row) += (p.eps_pos - p.eps_neg) * p.len * fld.row(r);
      }
    } else {
      out.density.row(i) = p.eps_pos * sigma.row(i);
      if (row >= 0) f(row, i) += p.eps_pos * p.len;
    }
    if (row >= 0) f_vac(row, i) += p.len;
  }
  out.q = f * sigma;
  out.q_vac = f_vac.leftCols(NC) * sigma0;
  if (!filling) return out;

  // d Q / d eps_r = (dF/deps_r) sigma - lambda^T (dM/deps_r) sigma,
  // lambda = M^-T F^T (the adjoint of the free charge).
  const Mat lambda = blocks.solve_transposed(f.transpose());
  for (std::size_t region = 0; region < g.eps.size(); ++region) {
    const int rid = static_cast<int>(region);
    Mat df = Mat::Zero(nm, nx);
    Mat dm = Mat::Zero(N, nx);
    for (Index i = 0; i < N; ++i) {
      const std::size_t ui = static_cast<std::size_t>(i);
      const field::Panel& p = mesh.panels[ui];
      const bool at_neg = mesh.neg[ui] == rid, at_pos = mesh.pos[ui] == rid;
      if (!at_neg && !at_pos) continue;
      const Index r = inf.field_row[ui];
      if (i >= NC) {
        dm.row(i) = 0.5 * sigma.row(i) + (at_pos ? 1.0 : -1.0) * e.row(r);
        continue;
      }
      Index row = -1;
      for (Index h = 0; h < nm; ++h)
        if (mesh.owner[ui] == static_cast<int>(measured[static_cast<std::size_t>(h)])) row = h;
      if (row < 0) continue;
      if (p.two_sided) {
        df.row(row) += p.len * (0.5 * sigma.row(i) + (at_pos ? 1.0 : -1.0) * e.row(r));
      } else if (at_pos) {
        df.row(row) += p.len * sigma.row(i);
      }
    }
    out.dq.push_back(df - lambda.transpose() * dm);
  }
  (void)nf;
  return out;
}

// The side of x = 0 a conductor lies on.
enum class Side { right, left, self };

struct Layout {
  std::vector<Side> side;           // per driven conductor
  std::vector<std::size_t> mirror;  // per driven conductor: its image's position in driven
  std::vector<Index> row;           // per driven conductor on the right or the axis: its row
  std::vector<Index> odd;           // per driven conductor on the right: its odd column
  std::vector<std::size_t> measured, odd_excited;  // conductor indices
};

Layout layout(const Geometry& g, const std::vector<std::size_t>& driven,
              const std::vector<double>& centre) {
  Layout l;
  const std::size_t nd = driven.size();
  l.side.resize(nd);
  l.mirror.resize(nd);
  l.row.assign(nd, -1);
  l.odd.assign(nd, -1);
  for (std::size_t k = 0; k < nd; ++k) {
    const std::size_t c = driven[k];
    if (!g.mirror) {
      l.side[k] = Side::right;
      l.row[k] = static_cast<Index>(l.measured.size());
      l.measured.push_back(c);
      continue;
    }
    const std::size_t image = g.mirror_of[c];
    for (std::size_t j = 0; j < nd; ++j)
      if (driven[j] == image) l.mirror[k] = j;
    l.side[k] = image == c ? Side::self : centre[c] > 0.0 ? Side::right : Side::left;
    if (l.side[k] != Side::left) {
      l.row[k] = static_cast<Index>(l.measured.size());
      l.measured.push_back(c);
    }
    if (l.side[k] == Side::right) {
      l.odd[k] = static_cast<Index>(l.odd_excited.size());
      l.odd_excited.push_back(c);
    }
  }
  return l;
}

// The whole section's matrix from the even and odd systems' charges.
Mat assemble(const Layout& l, const Mat& qe, const Mat& qo, bool mirror) {
  const std::size_t nd = l.side.size();
  if (!mirror) return qe;
  Mat c(static_cast<Index>(nd), static_cast<Index>(nd));
  const auto value = [&](std::size_t a, std::size_t b) {
    if (l.side[b] == Side::self) {
      const Index e = l.row[b];
      switch (l.side[a]) {
        case Side::right:
          return qe(l.row[a], e);
        case Side::left:
          return qe(l.row[l.mirror[a]], e);
        case Side::self:
          return 2.0 * qe(l.row[a], e);
      }
    }
    const Index e = l.row[b], o = l.odd[b];
    switch (l.side[a]) {
      case Side::right:
        return 0.5 * (qe(l.row[a], e) + qo(l.row[a], o));
      case Side::left:
        return 0.5 * (qe(l.row[l.mirror[a]], e) - qo(l.row[l.mirror[a]], o));
      case Side::self:
        return qe(l.row[a], e);
    }
    return 0.0;
  };
  for (std::size_t a = 0; a < nd; ++a)
    for (std::size_t b = 0; b < nd; ++b) {
      const bool left = l.side[b] == Side::left;
      c(static_cast<Index>(a), static_cast<Index>(b)) = left ? value(l.mirror[a], l.mirror[b])
                                                             : value(a, b);
    }
  return c;
}

// (1 / len) times the integral of the shape squared over a panel; infinite
// where the power law's square is not integrable (the edge of a
// zero-thickness strip).
double shape_square(const field::Panel& p, const StackGreen& green, std::size_t index) {
  if (!p.tapered()) return 1.0;
  for (const field::Taper& t : p.tapers)
    if (t.beta != 0.0 && t.beta <= -0.5 &&
        ((t.at.x == p.p1.x && t.at.y == p.p1.y) || (t.at.x == p.p2.x && t.at.y == p.p2.y)))
      return std::numeric_limits<double>::infinity();
  const field::Stretch st = field::stretch_of(p);
  const field::QuadratureTable q = field::gauss_legendre(24);
  double sum = 0.0;
  for (std::size_t i = 0; i < q.x.size(); ++i) {
    const double u = 0.5 * (1.0 + q.x[i]);
    const double s = green.shape(index, st.position(u));
    sum += 0.5 * q.w[i] * st.derivative(u) * s * s;
  }
  return sum;
}

}  // namespace

MeshSolution solve_mesh(const StackMesh& mesh, const Geometry& g,
                        const std::vector<std::size_t>& driven, bool filling, bool surface) {
  const StackGreen green(mesh);
  const Influences inf = influences(mesh, green);
  // Which side of the axis each conductor lies on: the mean x of its panels
  // (a conductor on the right has all its panels there).
  std::vector<double> centre(g.mirror_of.size(), 0.0);
  std::vector<double> weight(g.mirror_of.size(), 0.0);
  for (std::size_t i = 0; i < mesh.conductor_panels; ++i) {
    const std::size_t c = static_cast<std::size_t>(mesh.owner[i]);
    centre[c] += mesh.panels[i].mid.x * mesh.panels[i].len;
    weight[c] += mesh.panels[i].len;
  }
  for (std::size_t c = 0; c < centre.size(); ++c)
    if (weight[c] > 0.0) centre[c] /= weight[c];
  const Layout l = layout(g, driven, centre);

  const ModeResult even = solve_mode(mesh, g, inf, 1.0, l.measured, l.measured, filling);
  ModeResult odd;
  if (g.mirror && !l.odd_excited.empty())
    odd = solve_mode(mesh, g, inf, -1.0, l.measured, l.odd_excited, filling);

  MeshSolution out;
  out.c = assemble(l, even.q, odd.q, g.mirror);
  out.c_vac = assemble(l, even.q_vac, odd.q_vac, g.mirror);
  for (std::size_t r = 0; r < even.dq.size(); ++r)
    out.dc.push_back(assemble(l, even.dq[r], odd.dq.empty() ? Mat() : odd.dq[r], g.mirror));
  if (!surface) return out;

  // Every conductor panel of the whole section and the free charge density
  // on it for each driven conductor at 1 V.
  const Index nd = static_cast<Index>(driven.size());
  const std::size_t nc = mesh.conductor_panels;
  SurfaceCharge& sc = out.surface;
  const std::size_t copies = g.mirror ? 2 : 1;
  sc.density.resize(static_cast<Index>(copies * nc), nd);
  sc.density_vac.resize(static_cast<Index>(copies * nc), nd);
  for (std::size_t copy = 0; copy < copies; ++copy)
    for (std::size_t i = 0; i < nc; ++i) {
      field::Panel p = mesh.panels[i];
      if (copy == 1) {
        // The mirror image, its ends swapped to keep the normal outward.
        const Vec2 a{-p.p2.x, p.p2.y}, b{-p.p1.x, p.p1.y};
        p.p1 = a;
        p.p2 = b;
        p.mid.x = -p.mid.x;
        p.n.x = -p.n.x;
      }
      sc.panels.push_back(p);
      const std::size_t owner = static_cast<std::size_t>(mesh.owner[i]);
      sc.owner.push_back(static_cast<int>(copy == 1 ? g.mirror_of[owner] : owner));
      sc.shape_square.push_back(shape_square(mesh.panels[i], green, i));
      const Index row = static_cast<Index>(copy * nc + i);
      const Index pi = static_cast<Index>(i);
      for (std::size_t k = 0; k < driven.size(); ++k) {
        const Index col = static_cast<Index>(k);
        const auto density = [&](const Mat& de, const Mat& dodd) {
          if (!g.mirror) return de(pi, l.row[k]);
          // Excitation k seen from this copy: the left copy of panel i
          // under k is panel i under k's image.
          const bool flip = copy == 1;
          const std::size_t kk = flip ? l.mirror[k] : k;
          if (l.side[kk] == Side::self) return de(pi, l.row[kk]);
          if (l.side[kk] == Side::right) return 0.5 * (de(pi, l.row[kk]) + dodd(pi, l.odd[kk]));
          const std::size_t km = l.mirror[kk];  // on the right
          return 0.5 * (de(pi, l.row[km]) - dodd(pi, l.odd[km]));
        };
        sc.density(row, col) = density(even.density, odd.density);
        sc.density_vac(row, col) = density(even.density_vac, odd.density_vac);
      }
    }
  return out;
}

}  // namespace kx::stack::detail
