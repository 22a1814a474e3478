// The lines' linear algebra (see stack_linear.h).
#include "models/field/stack/stack_linear.h"

#include <cmath>

namespace kx::stack::detail {
namespace {
// Modes whose (1 / velocity)^2 lie within this share of each other travel at
// one velocity (the solves with and without the dielectrics agree to about
// 1e-9 where there is one dielectric).
constexpr double kDegenerate = 1e-7;
}  // namespace

Lines lines_of(const Mat& c, const Mat& c_vac) {
  Lines out;
  const Index n = c.rows();
  out.l = c_vac.inverse() / (kC0 * kC0);
  out.l = 0.5 * (out.l + out.l.transpose());
  const Eigen::SelfAdjointEigenSolver<Mat> el(out.l);
  const Mat root = el.eigenvectors() * el.eigenvalues().cwiseSqrt().asDiagonal() *
                   el.eigenvectors().transpose();
  const Eigen::SelfAdjointEigenSolver<Mat> em(root * c * root);
  Mat q = em.eigenvectors();
  const Eigen::VectorXd d = em.eigenvalues();  // ascending: fastest first
  out.zc = root * q * d.cwiseSqrt().cwiseInverse().asDiagonal() * q.transpose() * root;
  // Modes of one velocity (one dielectric: every mode) span a space in which
  // any basis propagates; the eigensolver's own is set by rounding. Take the
  // basis that also diagonalises L there (a symmetric pair's even and odd
  // modes), so that the voltages are the lines' natural ones.
  for (Index m0 = 0; m0 < n;) {
    Index m1 = m0 + 1;
    while (m1 < n && d(m1) - d(m0) <= kDegenerate * d(m1)) ++m1;
    if (m1 - m0 > 1) {
      const Mat qs = q.middleCols(m0, m1 - m0);
      const Eigen::SelfAdjointEigenSolver<Mat> within(qs.transpose() * out.l * qs);
      q.middleCols(m0, m1 - m0) = qs * within.eigenvectors();
    }
    m0 = m1;
  }
  const Mat v = root * q;
  const Mat y = out.zc.inverse();
  for (Index m = 0; m < n; ++m) {
    out.impedance.push_back(v.col(m).squaredNorm() / v.col(m).dot(y * v.col(m)));
    out.eff.push_back(d(m) * kC0 * kC0);
    Index big = 0;
    for (Index i = 0; i < n; ++i)
      if (std::abs(v(i, m)) > std::abs(v(big, m))) big = i;
    std::vector<double> volts;
    for (Index i = 0; i < n; ++i) volts.push_back(v(i, m) / v(big, m));
    out.voltage.push_back(volts);
  }
  return out;
}

}  // namespace kx::stack::detail
