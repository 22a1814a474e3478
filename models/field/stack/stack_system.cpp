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

// The influence of each panel's unit charge (direct: the panel; mirror: its
// image in x = 0), one N x N matrix per system: rows [0, NC) the potential
// at the conductor panels, rows [NC, N) the normal field at the interface
// panels; the normal field at the zero-thickness strips' panels (their
// second equation) apart. With a mirror the even system's is the direct
// plus the mirror term, the odd one's the direct minus it.
struct Influences {
  Mat even, odd;
  Mat strips_even, strips_odd;
  std::vector<Index> strip_panel;  // per strip row: its panel
  std::vector<Index> strip_row;    // per conductor panel: its strip row, or -1
};

Influences influences(const StackMesh& mesh, const StackGreen& green) {
  const std::size_t n = mesh.panels.size();
  const std::size_t nc = mesh.conductor_panels;
  const bool mirror = mesh.mirror;
  Influences inf;
  inf.strip_row.assign(nc, -1);
  for (std::size_t i = 0; i < nc; ++i)
    if (mesh.panels[i].two_sided) {
      inf.strip_row[i] = static_cast<Index>(inf.strip_panel.size());
      inf.strip_panel.push_back(static_cast<Index>(i));
    }
  const Index ns = static_cast<Index>(inf.strip_panel.size());
  const Index N = static_cast<Index>(n), NC = static_cast<Index>(nc);
  inf.even.resize(N, N);
  inf.strips_even.resize(ns, N);
  if (mirror) {
    inf.odd.resize(N, N);
    inf.strips_odd.resize(ns, N);
  }
  for (Index j = 0; j < N; ++j) {
    const std::size_t uj = static_cast<std::size_t>(j);
    // Column j's potential rows, then its field rows (none in one dielectric).
    double* even = inf.even.col(j).data();
    double* odd = mirror ? inf.odd.col(j).data() : nullptr;
    green.column(uj, nc, even, odd, even + NC, mirror ? odd + NC : nullptr);
    for (Index s = 0; s < ns; ++s) {
      const Influence e =
          green.field(static_cast<std::size_t>(inf.strip_panel[static_cast<std::size_t>(s)]), uj);
      inf.strips_even(s, j) = e.direct;
      if (mirror) inf.strips_odd(s, j) = e.mirror;
    }
  }
  if (mirror) {
    const auto split = [](Mat& d, Mat& m) {
      for (Index j = 0; j < d.cols(); ++j)
        for (Index i = 0; i < d.rows(); ++i) {
          const double a = d(i, j), b = m(i, j);
          d(i, j) = a + b;
          m(i, j) = a - b;
        }
    };
    split(inf.even, inf.odd);
    split(inf.strips_even, inf.strips_odd);
  }
  return inf;
}

// GMRES for S Y = R to the relative residual `tolerance`, S given as a
// product on a block of columns, right-preconditioned by the diagonal
// scaling p, from the guess Y0 when given (the tolerance stays relative to
// R). The columns' Krylov steps run in lockstep, so each step applies S to
// all the columns still running in one pass over its blocks. Returns false
// if a column has not reached the tolerance.
template <class Product>
bool gmres(const Product& s, const Mat& r, const Eigen::VectorXd& p, double tolerance, Mat& y,
           const Mat* guess = nullptr) {
  constexpr int kMaxIterations = 150;
  constexpr Index kFirstBasis = 24;  // the basis grows as needed from this
  const Index n = r.rows();
  const Index cols = r.cols();
  const int m = static_cast<int>(std::min<Index>(kMaxIterations, n));
  struct Column {
    Mat v, h;
    Eigen::VectorXd cs, sn, g;
    double beta = 0.0, goal = 0.0;
    int k = 0;
    bool done = false;
    void reserve(Index size, Index rows) {  // room for `size` basis vectors
      v.conservativeResize(rows, size);
      h.conservativeResizeLike(Mat::Zero(size, size - 1));
      cs.conservativeResize(size - 1);
      sn.conservativeResize(size - 1);
      g.conservativeResizeLike(Eigen::VectorXd::Zero(size));
    }
  };
  std::vector<Column> c(static_cast<std::size_t>(cols));
  Mat r0 = r;
  if (guess) r0 -= s(*guess);
  for (Index j = 0; j < cols; ++j) {
    Column& col = c[static_cast<std::size_t>(j)];
    col.beta = r0.col(j).norm();
    col.goal = tolerance * r.col(j).norm();
    col.done = col.beta <= col.goal;
    if (col.done) continue;
    col.reserve(std::min<Index>(kFirstBasis, m + 1), n);
    col.v.col(0) = r0.col(j) / col.beta;
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
      if (k + 2 > col.v.cols()) col.reserve(std::min<Index>(2 * col.v.cols(), m + 1), n);
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
      col.done = std::abs(col.g(k + 1)) <= col.goal;
    }
  }
  y = guess ? *guess : Mat::Zero(n, cols);
  for (Index j = 0; j < cols; ++j) {
    const Column& col = c[static_cast<std::size_t>(j)];
    if (col.k == 0) continue;
    const Eigen::VectorXd z = col.h.topLeftCorner(col.k, col.k)
                                  .template triangularView<Eigen::Upper>()
                                  .solve(col.g.head(col.k));
    y.col(j) += p.cwiseProduct(col.v.leftCols(col.k) * z);
  }
  return y.allFinite();
}

// The system M sigma = b of one mode with the conductor rows and columns
// first, M = [A B; C D]: its conductor rows are raw's (A alone is the system
// without the dielectrics), its interface rows raw's times scale, plus diag
// on the diagonal ((eps_neg + eps_pos)/2 sigma - (eps_neg - eps_pos) E_n).
// A's LU, and GMRES on the Schur complement D - C A^-1 B (equations of the
// second kind: a few tens of iterations, preconditioned by D's diagonal),
// solve the whole system and its transpose; one LU of the whole system
// should GMRES not converge.
//
// The residual: 1e-7 leaves the capacitances within some 1e-6 of the
// discrete system's, far below the discretisation's error (3e-4 at least);
// the regions' shares take 1e-9, as the transposed system's residual times
// the free charge is what keeps their sum from C.
constexpr double kResidual = 1e-7;
constexpr double kResidualShares = 1e-9;
class Blocks {
 public:
  Blocks(const Mat& raw, Index nc, const Eigen::VectorXd& scale, const Eigen::VectorXd& diag,
         double tolerance)
      : raw_(raw),
        n_(raw.rows()),
        nc_(nc),
        ni_(raw.rows() - nc),
        tolerance_(tolerance),
        scale_(scale),
        diag_(diag),
        a_(raw.topLeftCorner(nc, nc)) {
    pre_.resize(ni_);
    for (Index i = 0; i < ni_; ++i) pre_(i) = 1.0 / (scale_(i) * raw(nc + i, nc + i) + diag_(i));
  }
  const Eigen::PartialPivLU<Mat>& a() const { return a_; }

  // M x = r, given x0 = A^-1 r_c; guess: the interface part, if known.
  Mat solve(const Mat& r, const Mat& x0, const Mat* guess = nullptr) {
    if (ni_ == 0) return x0;
    // D y - C A^-1 B y: [B; D] y in one pass over raw's interface columns,
    // then C's rows of raw on A^-1 B y.
    const auto schur = [&](const Mat& y) -> Mat {
      multiply(raw_.data() + nc_ * n_, n_, n_, ni_, y, right_);
      multiply(raw_.data() + nc_, n_, ni_, nc_, a_.solve(right_.topRows(nc_)), left_);
      Mat out(ni_, y.cols());
      for (Index c = 0; c < y.cols(); ++c)
        for (Index i = 0; i < ni_; ++i)
          out(i, c) = scale_(i) * (right_(nc_ + i, c) - left_(i, c)) + diag_(i) * y(i, c);
      return out;
    };
    multiply(raw_.data() + nc_, n_, ni_, nc_, x0, left_);
    Mat rhs = r.bottomRows(ni_);
    for (Index c = 0; c < rhs.cols(); ++c)
      for (Index i = 0; i < ni_; ++i) rhs(i, c) -= scale_(i) * left_(i, c);
    Mat y;
    if (!gmres(schur, rhs, pre_, tolerance_, y, guess)) return full().solve(r);
    Mat x(n_, r.cols());
    multiply(raw_.data() + nc_ * n_, n_, nc_, ni_, y, right_);
    x.topRows(nc_) = x0 - a_.solve(right_);
    x.bottomRows(ni_) = y;
    return x;
  }

  // M^T y = r.
  Mat solve_transposed(const Mat& r) {
    const Mat y0 = a_.transpose().solve(r.topRows(nc_));
    if (ni_ == 0) return y0;
    const auto b = raw_.topRightCorner(nc_, ni_);
    const auto c = raw_.bottomLeftCorner(ni_, nc_);
    const auto d = raw_.bottomRightCorner(ni_, ni_);
    const auto schur = [&](const Mat& z) -> Mat {
      const Mat sz = scale_.asDiagonal() * z;
      const Mat cz = times_transposed(c, sz);
      const Mat acz = a_.transpose().solve(cz);
      return times_transposed(d, sz) - times_transposed(b, acz) + diag_.asDiagonal() * z;
    };
    Mat z;
    const Mat rhs = r.bottomRows(ni_) - times_transposed(b, y0);
    if (!gmres(schur, rhs, pre_, tolerance_, z)) return full().transpose().solve(r);
    Mat y(n_, r.cols());
    const Mat cz = times_transposed(c, Mat(scale_.asDiagonal() * z));
    const Mat acz = a_.transpose().solve(cz);
    y.topRows(nc_) = y0 - acz;
    y.bottomRows(ni_) = z;
    return y;
  }

 private:
  Eigen::PartialPivLU<Mat>& full() {
    if (full_.rows() == 0) {
      Mat m = raw_;
      for (Index i = 0; i < ni_; ++i) {
        m.row(nc_ + i) *= scale_(i);
        m(nc_ + i, nc_ + i) += diag_(i);
      }
      full_.compute(m);
    }
    return full_;
  }
  const Mat& raw_;
  Index n_, nc_, ni_;
  double tolerance_;
  const Eigen::VectorXd& scale_;
  const Eigen::VectorXd& diag_;
  Eigen::PartialPivLU<Mat> a_;
  Eigen::VectorXd pre_;
  Eigen::PartialPivLU<Mat> full_;
  Mat right_, left_;  // products on raw's blocks
};

// One system's results: the charge on each measured conductor (rows) for
// each excitation (columns), per unit eps0.
struct ModeResult {
  Mat interfaces;  // the interface panels' charge
  Mat q, q_vac;
  std::vector<Mat> dq;       // per region
  Mat density, density_vac;  // conductor panels x excitations
};

// raw, strips: the mode's influences (see Influences).
ModeResult solve_mode(const StackMesh& mesh, const Geometry& g, const Mat& raw, const Mat& strips,
                      const std::vector<Index>& strip_row, const std::vector<std::size_t>& measured,
                      const std::vector<std::size_t>& excited, bool filling, const Mat* coarser) {
  const std::size_t n = mesh.panels.size();
  const std::size_t nc = mesh.conductor_panels;
  const Index N = static_cast<Index>(n), NC = static_cast<Index>(nc), NI = N - NC;
  const Index nx = static_cast<Index>(excited.size());
  const Index nm = static_cast<Index>(measured.size());

  Eigen::VectorXd scale(NI), diag(NI);
  for (Index i = 0; i < NI; ++i) {
    const field::Panel& p = mesh.panels[static_cast<std::size_t>(NC + i)];
    scale(i) = -(p.eps_neg - p.eps_pos);
    diag(i) = 0.5 * (p.eps_neg + p.eps_pos);
  }
  Mat b = Mat::Zero(N, nx);
  for (Index i = 0; i < NC; ++i)
    for (Index x = 0; x < nx; ++x)
      if (mesh.owner[static_cast<std::size_t>(i)] ==
          static_cast<int>(excited[static_cast<std::size_t>(x)]))
        b(i, x) = 1.0;

  ModeResult out;
  // Vacuum: the conductor block alone; then with the dielectrics.
  Blocks blocks(raw, NC, scale, diag, filling ? kResidualShares : kResidual);
  const Mat sigma0 = blocks.a().solve(b.topRows(NC));
  // The coarser mesh's interface charge, each panel's on its two halves.
  Mat guess;
  if (coarser && coarser->rows() * 2 == NI && coarser->cols() == nx) {
    guess.resize(NI, nx);
    for (Index i = 0; i < NI; ++i) guess.row(i) = coarser->row(i / 2);
  }
  const Mat sigma = blocks.solve(b, sigma0, guess.size() > 0 ? &guess : nullptr);
  out.interfaces = sigma.bottomRows(NI);
  // The normal field at the interface panels and at the strips' panels.
  Mat e, es;
  multiply(raw.data() + NC, N, NI, N, sigma, e);
  multiply(strips.data(), strips.rows(), strips.rows(), N, sigma, es);

  // Free charge: per measured conductor, the functional of sigma.
  const auto measured_row = [&](std::size_t panel) {
    for (Index h = 0; h < nm; ++h)
      if (mesh.owner[panel] == static_cast<int>(measured[static_cast<std::size_t>(h)])) return h;
    return Index{-1};
  };
  Mat f = Mat::Zero(nm, N);
  Mat f_vac = Mat::Zero(nm, NC);
  out.density.resize(NC, nx);
  out.density_vac = sigma0;
  for (Index i = 0; i < NC; ++i) {
    const std::size_t ui = static_cast<std::size_t>(i);
    const field::Panel& p = mesh.panels[ui];
    const Index row = measured_row(ui);
    if (p.two_sided) {
      const Index s = strip_row[ui];
      out.density.row(i) = 0.5 * (p.eps_neg + p.eps_pos) * sigma.row(i) +
                           (p.eps_pos - p.eps_neg) * es.row(s);
      if (row >= 0) {
        f(row, i) += 0.5 * (p.eps_neg + p.eps_pos) * p.len;
        f.row(row) += (p.eps_pos - p.eps_neg) * p.len * strips.row(s);
      }
    } else {
      out.density.row(i) = p.eps_pos * sigma.row(i);
      if (row >= 0) f(row, i) += p.eps_pos * p.len;
    }
    if (row >= 0) f_vac(row, i) += p.len;
  }
  out.q = f * sigma;
  out.q_vac = f_vac * sigma0;
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
      if (i >= NC) {
        dm.row(i) = 0.5 * sigma.row(i) + (at_pos ? 1.0 : -1.0) * e.row(i - NC);
        continue;
      }
      const Index row = measured_row(ui);
      if (row < 0) continue;
      if (p.two_sided) {
        df.row(row) += p.len * (0.5 * sigma.row(i) + (at_pos ? 1.0 : -1.0) * es.row(strip_row[ui]));
      } else if (at_pos) {
        df.row(row) += p.len * sigma.row(i);
      }
    }
    out.dq.push_back(df - lambda.transpose() * dm);
  }
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
                        const std::vector<std::size_t>& driven, bool filling, bool surface,
                        const MeshSolution* coarser) {
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

  const auto coarse = [&](std::size_t system) {
    return coarser && coarser->interfaces.size() > system ? &coarser->interfaces[system] : nullptr;
  };
  const ModeResult even = solve_mode(mesh, g, inf.even, inf.strips_even, inf.strip_row, l.measured,
                                     l.measured, filling, coarse(0));
  ModeResult odd;
  if (g.mirror && !l.odd_excited.empty())
    odd = solve_mode(mesh, g, inf.odd, inf.strips_odd, inf.strip_row, l.measured, l.odd_excited,
                     filling, coarse(1));

  MeshSolution out;
  out.interfaces.push_back(even.interfaces);
  if (g.mirror && !l.odd_excited.empty()) out.interfaces.push_back(odd.interfaces);
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
