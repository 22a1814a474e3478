// R(f), L(f), G(f), C(f) from a static solve set: the skin-effect impedance
// of each surface group with its roughness, the transition to the strips'
// D.C. resistance, and the capacitance's expansion in the layers' complex
// permittivities.
#include <algorithm>
#include <cmath>
#include <complex>
#include <stdexcept>
#include <vector>

#include <Eigen/Dense>

#include "kestrelix/rlgc.h"

namespace kx::rlgc {
namespace {

using Complex = std::complex<double>;
constexpr double kPi = 3.14159265358979323846;
constexpr double kDbPerNeper = 8.685889638065036;  // 20 / ln(10)

// x coth(x): 1 + x^2/3 near 0 (the D.C. limit), x where |x| is large (the
// skin effect); even in x.
Complex x_coth_x(Complex x) {
  if (x.real() < 0.0) x = -x;
  if (std::abs(x) < 1e-4) return 1.0 + x * x / 3.0;
  const Complex t = std::exp(-2.0 * x);
  return x * (1.0 + t) / (1.0 - t);
}

// The internal impedance Z_int = R^(1/2) g(X) R^(1/2), X = R^(-1/2) Z R^(-1/2),
// g(x) = x coth(x), for Z = (1 + j) Y_s (Y_s real symmetric, the skin-effect
// resistance) and R the diagonal D.C. resistance. For a plate carrying
// current on both faces this is its exact internal impedance
// (rho k / 2) coth(k t / 2), k = (1 + j) / delta.
CMatrix dc_transition(const Matrix& skin, const Matrix& r_dc) {
  const int n = skin.size();
  Eigen::MatrixXd y(n, n);
  std::vector<double> root(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) root[static_cast<std::size_t>(i)] = std::sqrt(r_dc(i, i));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      y(i, j) = skin(i, j) /
                (root[static_cast<std::size_t>(i)] * root[static_cast<std::size_t>(j)]);
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eig(y);
  const Eigen::MatrixXd& v = eig.eigenvectors();
  Eigen::VectorXcd g(n);
  for (int k = 0; k < n; ++k) g(k) = x_coth_x(Complex(1.0, 1.0) * eig.eigenvalues()(k));
  const Eigen::MatrixXcd gx = v.cast<Complex>() * g.asDiagonal() * v.transpose().cast<Complex>();
  CMatrix z(n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      z(i, j) = root[static_cast<std::size_t>(i)] * gx(i, j) * root[static_cast<std::size_t>(j)];
  return z;
}

// A static set whose matrices do not all have the set's size (one filled
// by hand) is refused rather than read out of bounds.
void check_statics(const LineStatics& st) {
  const int n = st.conductors;
  bool ok = n >= 1 && st.c_ref.size() == n && st.l_ext.size() == n &&
            (st.r_dc.size() == 0 || st.r_dc.size() == n);
  for (const MixedTerm& t : st.mixed)
    ok = ok && t.d2c.size() == n && 0 <= t.a && t.a < t.b &&
         static_cast<std::size_t>(t.b) < st.dielectrics.size();
  for (const SurfaceGroup& s : st.surfaces)
    ok = ok && s.dl_dn.size() == n && s.dl_dn_error.size() == n;
  for (const DielectricLayer& d : st.dielectrics)
    ok = ok && d.dc_der.size() == n && d.d2c_der2.size() == n;
  if (!ok) throw std::invalid_argument("the static set's matrices are not all N x N");
  for (int i = 0; ok && i < st.r_dc.size(); ++i)
    for (int j = 0; j < n; ++j)
      ok = ok &&
           (i == j ? std::isfinite(st.r_dc(i, i)) && st.r_dc(i, i) > 0.0 : st.r_dc(i, j) == 0.0);
  if (!ok) throw std::invalid_argument("the D.C. resistance must be diagonal and positive");
}

// One layer's share C(er_ref + delta) - C(er_ref) as the linear fraction
// a delta / (1 - (b / 2a) delta) with a = dC/der, b = d2C/der2 (its first
// and second derivatives at er_ref), exact for a capacitance that is a
// linear fraction of er (two dielectrics in series, as in a coax). A
// physical capacitance has the fraction's pole at a negative permittivity;
// should a static set put it within reach, the parabola with the same
// derivatives is taken.
Complex layer_term(double a, double b, Complex delta) {
  const Complex den = a == 0.0 ? Complex(0.0) : 1.0 - 0.5 * b / a * delta;
  if (std::abs(den) < 0.5) return a * delta + 0.5 * b * delta * delta;
  return a * delta / den;
}

}  // namespace

Rlgc rlgc_at(const LineStatics& st, double f) {
  if (!std::isfinite(f) || f <= 0.0)
    throw std::invalid_argument("R, L, G and C are computed at a positive frequency");
  check_statics(st);
  const int n = st.conductors;
  const double omega = 2.0 * kPi * f;
  Rlgc p;
  p.f_hz = f;

  // The metal: each surface group's skin-effect resistance Rs K dL/dn / mu0.
  Matrix skin(n);
  p.r_error = Matrix(n);
  for (const SurfaceGroup& s : st.surfaces) {
    const double rho = s.surface.resistivity;
    const double rs =
        materials::surface_resistance(rho, f) *
        materials::roughness_factor(s.surface.roughness, materials::skin_depth(rho, f)) /
        materials::mu0;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        skin(i, j) += rs * s.dl_dn(i, j);
        p.r_error(i, j) += rs * s.dl_dn_error(i, j);
      }
  }
  p.r = Matrix(n);
  p.l = st.l_ext;
  if (st.r_dc.size() == n) {
    const CMatrix z = dc_transition(skin, st.r_dc);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        p.r(i, j) = z(i, j).real();
        p.l(i, j) += z(i, j).imag() / omega;
      }
  } else {
    // Skin effect alone: (1 + j) times the skin-effect resistance.
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        p.r(i, j) = skin(i, j);
        p.l(i, j) += skin(i, j) / omega;
      }
  }

  // The dielectrics: C - j G / omega as the expansion in each layer's
  // complex permittivity.
  std::vector<Complex> delta;
  for (const DielectricLayer& d : st.dielectrics)
    delta.push_back(d.material.permittivity(f) - d.er_ref);
  p.c = Matrix(n);
  p.g = Matrix(n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      Complex c = st.c_ref(i, j);
      for (std::size_t k = 0; k < delta.size(); ++k) {
        const DielectricLayer& d = st.dielectrics[k];
        c += layer_term(d.dc_der(i, j), d.d2c_der2(i, j), delta[k]);
      }
      for (const MixedTerm& t : st.mixed)
        c += t.d2c(i, j) * delta[static_cast<std::size_t>(t.a)] *
             delta[static_cast<std::size_t>(t.b)];
      p.c(i, j) = c.real();
      p.g(i, j) = -omega * c.imag();
    }
  return p;
}

std::vector<Rlgc> rlgc_sweep(const LineStatics& st, const std::vector<double>& f) {
  std::vector<Rlgc> out;
  out.reserve(f.size());
  for (const double x : f) out.push_back(rlgc_at(st, x));
  return out;
}

PairModes pair_modes(const Rlgc& p) {
  if (p.r.size() != 2 || p.l.size() != 2 || p.g.size() != 2 || p.c.size() != 2 ||
      p.r_error.size() != 2)
    throw std::invalid_argument("the modes of a pair need 2 x 2 matrices");
  const double omega = 2.0 * kPi * p.f_hz;
  PairModes m;
  m.f_hz = p.f_hz;
  struct One {
    Complex z, gamma;
    double alpha, alpha_c, alpha_d, alpha_c_error, eff;
  };
  const auto mode = [&](double sign) {
    const double r = p.r(0, 0) + sign * p.r(0, 1);
    const double l = p.l(0, 0) + sign * p.l(0, 1);
    const double g = p.g(0, 0) + sign * p.g(0, 1);
    const double c = p.c(0, 0) + sign * p.c(0, 1);
    const double r_err = p.r_error(0, 0) + p.r_error(0, 1);
    const Complex series(r, omega * l);
    const Complex shunt(g, omega * c);
    const Complex gamma = std::sqrt(series * shunt);
    const double z0 = std::sqrt(l / c);
    const double beta_c0 = gamma.imag() * materials::c0 / omega;
    return One{std::sqrt(series / shunt),  gamma,
               kDbPerNeper * gamma.real(), kDbPerNeper * r / (2.0 * z0),
               kDbPerNeper * g * z0 / 2.0, kDbPerNeper * r_err / (2.0 * z0),
               beta_c0 * beta_c0};
  };
  const One e = mode(1.0);
  const One o = mode(-1.0);
  m.z_e = e.z;
  m.z_o = o.z;
  m.gamma_e = e.gamma;
  m.gamma_o = o.gamma;
  m.alpha_e = e.alpha;
  m.alpha_o = o.alpha;
  m.alpha_c_e = e.alpha_c;
  m.alpha_c_o = o.alpha_c;
  m.alpha_d_e = e.alpha_d;
  m.alpha_d_o = o.alpha_d;
  m.alpha_c_error_e = e.alpha_c_error;
  m.alpha_c_error_o = o.alpha_c_error;
  m.eff_e = e.eff;
  m.eff_o = o.eff;
  return m;
}

bool LineMode::differential() const {
  for (std::size_t i = 0; i < voltage.size(); ++i)
    for (std::size_t j = i + 1; j < voltage.size(); ++j)
      if ((voltage[i] * std::conj(voltage[j])).real() < 0.0) return true;
  return false;
}

namespace {

bool symmetric_pair(const Rlgc& p) {
  for (const Matrix* m : {&p.r, &p.l, &p.g, &p.c}) {
    const Matrix& a = *m;
    const double scale = std::abs(a(0, 0)) + std::abs(a(0, 1));
    if (std::abs(a(0, 0) - a(1, 1)) > 1e-12 * scale || std::abs(a(0, 1) - a(1, 0)) > 1e-12 * scale)
      return false;
  }
  return true;
}

// The mode of voltages v with propagation constant gamma: its currents
// I = gamma Z^-1 V, impedance and the power balance of its losses.
LineMode mode_of(const Rlgc& p, const Eigen::MatrixXcd& z, std::complex<double> gamma,
                 Eigen::VectorXcd v) {
  const int n = p.r.size();
  const double omega = 2.0 * kPi * p.f_hz;
  Eigen::Index big = 0;
  v.cwiseAbs().maxCoeff(&big);
  v /= v(big);
  const Eigen::VectorXcd i = gamma * z.partialPivLu().solve(v);
  Eigen::MatrixXd r(n, n), g(n, n), e(n, n);
  for (int a = 0; a < n; ++a)
    for (int b = 0; b < n; ++b) {
      r(a, b) = p.r(a, b);
      g(a, b) = p.g(a, b);
      e(a, b) = p.r_error.size() == n ? p.r_error(a, b) : 0.0;
    }
  const double power = (v.adjoint() * i)(0).real();  // 2 P
  LineMode m;
  m.gamma = gamma;
  m.z = (v.transpose() * v)(0) / (v.transpose() * i)(0);
  m.alpha = kDbPerNeper * gamma.real();
  m.alpha_c = kDbPerNeper * (i.adjoint() * r.cast<Complex>() * i)(0).real() / (2.0 * power);
  m.alpha_d = kDbPerNeper * (v.adjoint() * g.cast<Complex>() * v)(0).real() / (2.0 * power);
  const Eigen::VectorXd ia = i.cwiseAbs();
  m.alpha_c_error = kDbPerNeper * (ia.transpose() * e * ia)(0) / (2.0 * std::abs(power));
  const double beta_c0 = gamma.imag() * materials::c0 / omega;
  m.eff = beta_c0 * beta_c0;
  m.voltage.assign(v.data(), v.data() + n);
  return m;
}

}  // namespace

std::vector<LineMode> line_modes(const Rlgc& p) {
  const int n = p.r.size();
  if (n < 1 || p.l.size() != n || p.g.size() != n || p.c.size() != n)
    throw std::invalid_argument("the modes of a line need N x N matrices alike");
  if (!std::isfinite(p.f_hz) || p.f_hz <= 0.0)
    throw std::invalid_argument("the modes are formed at a positive frequency");
  const double omega = 2.0 * kPi * p.f_hz;
  Eigen::MatrixXcd z(n, n), y(n, n);
  for (int a = 0; a < n; ++a)
    for (int b = 0; b < n; ++b) {
      z(a, b) = Complex(p.r(a, b), omega * p.l(a, b));
      y(a, b) = Complex(p.g(a, b), omega * p.c(a, b));
    }
  std::vector<LineMode> modes;
  if (n == 2 && symmetric_pair(p)) {
    // The even and odd modes exactly (an eigensolver would mix them where
    // they nearly share their gamma).
    for (const double sign : {1.0, -1.0}) {
      const Complex series(p.r(0, 0) + sign * p.r(0, 1), omega * (p.l(0, 0) + sign * p.l(0, 1)));
      const Complex shunt(p.g(0, 0) + sign * p.g(0, 1), omega * (p.c(0, 0) + sign * p.c(0, 1)));
      Eigen::VectorXcd v(2);
      v << 1.0, sign;
      modes.push_back(mode_of(p, z, std::sqrt(series * shunt), v));
    }
  } else {
    const Eigen::ComplexEigenSolver<Eigen::MatrixXcd> eig(z * y);
    if (eig.info() != Eigen::Success) throw std::runtime_error("the modes of the line failed");
    for (int k = 0; k < n; ++k) {
      Complex gamma = std::sqrt(eig.eigenvalues()(k));
      if (gamma.real() < 0.0) gamma = -gamma;
      modes.push_back(mode_of(p, z, gamma, eig.eigenvectors().col(k)));
    }
  }
  std::stable_sort(modes.begin(), modes.end(),
                   [](const LineMode& a, const LineMode& b) { return a.eff < b.eff; });
  return modes;
}

}  // namespace kx::rlgc
