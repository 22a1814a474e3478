// The lines' linear algebra (see stack_linear.h).
#include "models/field/stack/stack_linear.h"

#include <cmath>

namespace kx::stack::detail {

Lines lines_of(const Mat& c, const Mat& c_vac) {
  Lines out;
  const Index n = c.rows();
  out.l = c_vac.inverse() / (kC0 * kC0);
  out.l = 0.5 * (out.l + out.l.transpose());
  const Eigen::SelfAdjointEigenSolver<Mat> el(out.l);
  const Mat root = el.eigenvectors() * el.eigenvalues().cwiseSqrt().asDiagonal() *
                   el.eigenvectors().transpose();
  const Eigen::SelfAdjointEigenSolver<Mat> em(root * c * root);
  const Mat& q = em.eigenvectors();
  const Eigen::VectorXd d = em.eigenvalues();  // ascending: fastest first
  out.zc = root * q * d.cwiseSqrt().cwiseInverse().asDiagonal() * q.transpose() * root;
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
