// Quadrature for the panel integrals (see quadrature.h).
#include "models/field/quadrature.h"

#include <algorithm>
#include <cmath>

#include <Eigen/Dense>

namespace kx::field {
namespace {

constexpr double kPi = 3.14159265358979323846;

}  // namespace

const Rule& rule_at(double qq, double care) {
  if (qq < 16.0 * care * care) return kRule4;
  if (qq < 256.0 * care * care * care * care) return kRule2;
  return kRule1;
}

// Newton on the Legendre
// polynomial from the usual first guesses).
QuadratureTable gauss_legendre(int n) {
  QuadratureTable out;
  for (int i = 0; i < n; ++i) {
    double x = std::cos(kPi * (i + 0.75) / (n + 0.5));
    double dp = 1.0;
    for (int it = 0; it < 100; ++it) {
      double p0 = 1.0, p1 = x;
      for (int j = 2; j <= n; ++j) {
        const double p2 = ((2.0 * j - 1.0) * x * p1 - (j - 1.0) * p0) / j;
        p0 = p1;
        p1 = p2;
      }
      dp = n * (x * p1 - p0) / (x * x - 1.0);
      const double step = p1 / dp;
      x -= step;
      if (std::abs(step) < 1e-16) break;
    }
    out.x.push_back(x);
    out.w.push_back(2.0 / ((1.0 - x * x) * dp * dp));
  }
  return out;
}

// The Gauss rules of a discrete measure: Stieltjes' procedure for its
// three-term recurrence, Golub-Welsch for the nodes.
std::array<QuadratureTable, 3> gauss_rules(const QuadratureTable& measure) {
  // The recurrence's first four coefficients serve all three rules: those
  // of the n-point rule are its first n.
  constexpr int n = 4;
  const std::size_t m = measure.x.size();
  std::vector<double> prev(m, 0.0), cur(m, 1.0);
  Eigen::Matrix4d jacobi = Eigen::Matrix4d::Zero();
  double norm_prev = 1.0;
  double total = 0.0;
  for (int k = 0; k < n; ++k) {
    double norm = 0.0, moment = 0.0;
    for (std::size_t i = 0; i < m; ++i) {
      norm += measure.w[i] * cur[i] * cur[i];
      moment += measure.w[i] * measure.x[i] * cur[i] * cur[i];
    }
    if (k == 0) total = norm;
    const double alpha = moment / norm;
    const double beta = k == 0 ? 0.0 : norm / norm_prev;
    jacobi(k, k) = alpha;
    if (k > 0) jacobi(k, k - 1) = jacobi(k - 1, k) = std::sqrt(beta);
    if (k + 1 == n) break;
    for (std::size_t i = 0; i < m; ++i) {
      const double next = (measure.x[i] - alpha) * cur[i] - beta * prev[i];
      prev[i] = cur[i];
      cur[i] = next;
    }
    norm_prev = norm;
  }
  std::array<QuadratureTable, 3> out;
  out[0].x.push_back(jacobi(0, 0));
  out[0].w.push_back(total);
  {
    // The 2 x 2 Jacobi matrix's eigenvalues and eigenvectors in closed form.
    const double a = jacobi(0, 0), d = jacobi(1, 1), b = jacobi(0, 1);
    const double mid = 0.5 * (a + d), half = std::hypot(0.5 * (a - d), b);
    for (const double lambda : {mid - half, mid + half}) {
      // Eigenvector (b, lambda - a) or, if that vanishes, (lambda - d, b).
      double v0 = b, v1 = lambda - a;
      if (std::abs(v0) + std::abs(v1) == 0.0) {
        v0 = 1.0;
        v1 = 0.0;
      }
      out[1].x.push_back(lambda);
      out[1].w.push_back(total * v0 * v0 / (v0 * v0 + v1 * v1));
    }
  }
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix4d> eig(jacobi);
  for (int i = 0; i < n; ++i) {
    out[2].x.push_back(eig.eigenvalues()(i));
    out[2].w.push_back(total * eig.eigenvectors()(0, i) * eig.eigenvectors()(0, i));
  }
  return out;
}

double Stretch::position(double u) const {
  if (from1 && from2) return std::pow(u, m) / (std::pow(u, m) + std::pow(1.0 - u, m));
  if (from1) return std::pow(u, m);
  if (from2) return 1.0 - std::pow(1.0 - u, m);
  return u;
}
double Stretch::inverse(double f) const {
  if (f <= 0.0 || f >= 1.0) return f <= 0.0 ? 0.0 : 1.0;
  if (from1 && from2) {
    const double t = std::pow(f / (1.0 - f), 1.0 / m);
    return t / (1.0 + t);
  }
  if (from1) return std::pow(f, 1.0 / m);
  if (from2) return 1.0 - std::pow(1.0 - f, 1.0 / m);
  return f;
}
double Stretch::derivative(double u) const {
  if (from1 && from2) {
    const double a = std::pow(u, m);
    const double b = std::pow(1.0 - u, m);
    return m * std::pow(u * (1.0 - u), m - 1.0) / ((a + b) * (a + b));
  }
  if (from1) return m * std::pow(u, m - 1.0);
  if (from2) return m * std::pow(1.0 - u, m - 1.0);
  return 1.0;
}

Stretch stretch_of(const Panel& p) {
  Stretch st;
  double beta = 0.0;
  for (const Taper& t : p.tapers) {
    if (t.beta >= 0.0) continue;
    const bool at1 = std::hypot(t.at.x - p.p1.x, t.at.y - p.p1.y) <= 1e-12 * p.len;
    const bool at2 = std::hypot(t.at.x - p.p2.x, t.at.y - p.p2.y) <= 1e-12 * p.len;
    st.from1 = st.from1 || at1;
    st.from2 = st.from2 || at2;
    if (at1 || at2) beta = std::min(beta, t.beta);
  }
  st.m = 1.0 / (1.0 + beta);
  return st;
}

}  // namespace kx::field
