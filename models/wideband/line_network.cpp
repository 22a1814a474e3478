// S-parameters of a uniform multiconductor line (modal decomposition), of
// the symmetric pair (even and odd modes) and their mixed-mode form.
#include <cmath>
#include <complex>
#include <initializer_list>
#include <stdexcept>

#include <Eigen/Dense>

#include "kestrelix/line_network.h"

namespace kx::rlgc {
namespace {

using Complex = std::complex<double>;
using Mat = Eigen::MatrixXcd;
constexpr double kPi = 3.14159265358979323846;

void check_line(const Rlgc& p, double length, double z_ref) {
  const int n = p.r.size();
  if (n < 1 || p.l.size() != n || p.g.size() != n || p.c.size() != n)
    throw std::invalid_argument("R, L, G and C must be square matrices of one size");
  if (!std::isfinite(p.f_hz) || p.f_hz <= 0.0)
    throw std::invalid_argument("S-parameters are computed at a positive frequency");
  if (!std::isfinite(length) || length <= 0.0)
    throw std::invalid_argument("the line length must be positive");
  if (!std::isfinite(z_ref) || z_ref <= 0.0)
    throw std::invalid_argument("the reference impedance must be positive");
}

// Port of conductor k (0-based) at the near (end 0) or far (end 1) end.
int port(int k, int end) { return 2 * k + end; }

// The two-port of one mode, impedance zc and propagation gamma over the
// length, between z_ref on both ends, written with t = exp(-gamma length)
// so that no term grows with the line's loss: s11 = s22, s21 = s12.
struct TwoPort {
  Complex s11, s21;
};
TwoPort mode_two_port(Complex zc, Complex gamma, double length, double z) {
  const Complex t = std::exp(-gamma * length);
  const Complex t2 = t * t;
  const Complex den = 2.0 * zc * z * (1.0 + t2) + (zc * zc + z * z) * (1.0 - t2);
  return {(zc * zc - z * z) * (1.0 - t2) / den, 4.0 * zc * z * t / den};
}

}  // namespace

CMatrix line_sparameters(const Rlgc& p, double length, double z_ref) {
  check_line(p, length, z_ref);
  const int n = p.r.size();
  const double omega = 2.0 * kPi * p.f_hz;
  Mat z(n, n), y(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      z(i, j) = Complex(p.r(i, j), omega * p.l(i, j));
      y(i, j) = Complex(p.g(i, j), omega * p.c(i, j));
    }
  // Z Y = T diag(gamma^2) T^-1; the modes' gamma with Re >= 0.
  const Eigen::ComplexEigenSolver<Mat> eig(z * y);
  const Mat& t = eig.eigenvectors();
  const Eigen::PartialPivLU<Mat> t_lu(t);
  const Eigen::PartialPivLU<Mat> z_lu(z);
  Eigen::VectorXcd gamma_coth(n), gamma_csch(n);
  for (int k = 0; k < n; ++k) {
    const Complex gamma = std::sqrt(eig.eigenvalues()(k));
    const Complex e = std::exp(-gamma * length);
    const Complex one_minus = 1.0 - e * e;
    gamma_coth(k) = gamma * (1.0 + e * e) / one_minus;
    gamma_csch(k) = gamma * 2.0 * e / one_minus;
  }
  // The port admittances (currents into the line at both ends):
  // Y11 = Z^-1 T gamma coth(gamma l) T^-1, Y12 = -Z^-1 T gamma csch(gamma l) T^-1.
  const Mat t_inv = t_lu.inverse();
  const Mat y11 = z_lu.solve(t * gamma_coth.asDiagonal() * t_inv);
  const Mat y12 = -z_lu.solve(t * gamma_csch.asDiagonal() * t_inv);
  Mat yp(2 * n, 2 * n);
  yp << y11, y12, y12, y11;
  // S = (I + z_ref Y)^-1 (I - z_ref Y), ports in blocks: near 0..N-1, far N..2N-1.
  const Mat id = Mat::Identity(2 * n, 2 * n);
  const Mat sb = (id + z_ref * yp).partialPivLu().solve(id - z_ref * yp);
  CMatrix s(2 * n);
  for (int a = 0; a < 2 * n; ++a)
    for (int b = 0; b < 2 * n; ++b) s(port(a % n, a / n), port(b % n, b / n)) = sb(a, b);
  return s;
}

CMatrix pair_sparameters(const Rlgc& p, double length, double z_ref) {
  check_line(p, length, z_ref);
  if (p.r.size() != 2) throw std::invalid_argument("the even and odd modes need a pair");
  // Even and odd modes exist only for two equal strips.
  for (const Matrix* m : {&p.r, &p.l, &p.g, &p.c}) {
    const Matrix& a = *m;
    const double scale = std::abs(a(0, 0)) + std::abs(a(0, 1));
    if (std::abs(a(0, 0) - a(1, 1)) > 1e-12 * scale || std::abs(a(0, 1) - a(1, 0)) > 1e-12 * scale)
      throw std::invalid_argument("the even and odd modes need a symmetric pair");
  }
  const double omega = 2.0 * kPi * p.f_hz;
  const auto mode = [&](double sign) {
    const Complex series(p.r(0, 0) + sign * p.r(0, 1), omega * (p.l(0, 0) + sign * p.l(0, 1)));
    const Complex shunt(p.g(0, 0) + sign * p.g(0, 1), omega * (p.c(0, 0) + sign * p.c(0, 1)));
    return mode_two_port(std::sqrt(series / shunt), std::sqrt(series * shunt), length, z_ref);
  };
  const TwoPort even = mode(1.0);
  const TwoPort odd = mode(-1.0);
  // Same strip: (S_even + S_odd)/2; the other strip: (S_even - S_odd)/2.
  CMatrix s(4);
  for (int c1 = 0; c1 < 2; ++c1)
    for (int e1 = 0; e1 < 2; ++e1)
      for (int c2 = 0; c2 < 2; ++c2)
        for (int e2 = 0; e2 < 2; ++e2) {
          const Complex se = e1 == e2 ? even.s11 : even.s21;
          const Complex so = e1 == e2 ? odd.s11 : odd.s21;
          s(port(c1, e1), port(c2, e2)) = 0.5 * (c1 == c2 ? se + so : se - so);
        }
  return s;
}

CMatrix coupler_ports(const CMatrix& s) {
  if (s.size() != 4) throw std::invalid_argument("the coupler's ports need a four-port");
  // coupler port i (0-based) is line port at[i]: input, coupled, isolated, thru.
  const int at[4] = {port(0, 0), port(1, 0), port(1, 1), port(0, 1)};
  CMatrix c(4);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) c(i, j) = s(at[i], at[j]);
  return c;
}

CMatrix coupler_sparameters(const Rlgc& p, double length, double z_ref) {
  return coupler_ports(pair_sparameters(p, length, z_ref));
}

CMatrix mixed_mode(const CMatrix& s) {
  if (s.size() != 4) throw std::invalid_argument("mixed-mode S-parameters need a four-port");
  const double h = 1.0 / std::sqrt(2.0);
  // Rows: D1, D2, C1, C2 over the single-ended ports 1..4.
  const double m[4][4] = {{h, 0, -h, 0}, {0, h, 0, -h}, {h, 0, h, 0}, {0, h, 0, h}};
  CMatrix out(4);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      Complex sum = 0.0;
      for (int a = 0; a < 4; ++a) {
        if (m[i][a] == 0.0) continue;
        for (int b = 0; b < 4; ++b)
          if (m[j][b] != 0.0) sum += m[i][a] * s(a, b) * m[j][b];
      }
      out(i, j) = sum;
    }
  return out;
}

}  // namespace kx::rlgc
