// The line's S-parameters: the modal decomposition against the even/odd
// modes and textbook two-ports, reciprocity and energy, the ideal TEM
// coupler, and the mode conversion of a symmetric pair.
#include <cmath>
#include <complex>

#include <gtest/gtest.h>

#include <kestrelix/line_network.h>
#include <kestrelix/rlgc.h>

namespace kx::rlgc {
namespace {

using Complex = std::complex<double>;
constexpr double kPi = 3.14159265358979323846;

double max_difference(const CMatrix& a, const CMatrix& b) {
  double d = 0.0;
  for (int i = 0; i < a.size(); ++i)
    for (int j = 0; j < a.size(); ++j) d = std::max(d, std::abs(a(i, j) - b(i, j)));
  return d;
}

// A uniform line of impedance zc and propagation gamma l between z on both
// ends: S21 = 2 Zc z / (2 Zc z cosh(gamma l) + (Zc^2 + z^2) sinh(gamma l)).
Complex textbook_s21(Complex zc, Complex gl, double z) {
  return 2.0 * zc * z / (2.0 * zc * z * std::cosh(gl) + (zc * zc + z * z) * std::sinh(gl));
}

// An FR-4-like 100-ohm-ish pair, 35 um thick, from the field.
const LineStatics& fr4_pair() {
  static const LineStatics st = [] {
    materials::DielectricData fr4;
    fr4.dk = 4.3;
    fr4.df = 0.02;
    PairMaterials m;
    m.substrate = materials::Dielectric(fr4);
    m.strip_bottom.model = materials::RoughnessModel::huray;
    m.strip_bottom.sphere_radius = 0.5e-6;
    m.strip_bottom.spheres = 14.0;
    m.strip_bottom.tile_area = materials::hexagonal_tile_area(5.8e-6);
    field::Geometry g;
    g.h = 0.1e-3;
    g.w = 0.12e-3;
    g.s = 0.15e-3;
    g.t = 35e-6;
    return pair_statics(g, m);
  }();
  return st;
}

TEST(LineNetwork, ModalDecompositionOfASymmetricPairEqualsItsEvenAndOddModes) {
  for (const double f : {1e6, 1e9, 10e9, 40e9}) {
    const Rlgc p = rlgc_at(fr4_pair(), f);
    const CMatrix modal = line_sparameters(p, 0.1, 50.0);
    const CMatrix even_odd = pair_sparameters(p, 0.1, 50.0);
    EXPECT_LT(max_difference(modal, even_odd), 1e-12) << f;
    // No mode conversion: every Sdc and Scd term below -200 dB.
    const CMatrix mm = mixed_mode(modal);
    for (int i = 0; i < 2; ++i)
      for (int j = 2; j < 4; ++j) {
        EXPECT_LT(std::abs(mm(i, j)), 1e-10) << f;
        EXPECT_LT(std::abs(mm(j, i)), 1e-10) << f;
      }
    // The differential ports see the odd mode, the common ones the even
    // mode, each a two-port between 50-ohm references.
    const PairModes modes = pair_modes(p);
    EXPECT_LT(std::abs(mm(1, 0) - textbook_s21(modes.z_o, modes.gamma_o * 0.1, 50.0)), 1e-12);
    EXPECT_LT(std::abs(mm(3, 2) - textbook_s21(modes.z_e, modes.gamma_e * 0.1, 50.0)), 1e-12);
  }
}

// Three lines, 1 and 2 a coupled pair, 3 alone: the 6-port is the pair's
// 4-port beside the single line's 2-port.
TEST(LineNetwork, DecoupledConductorsAreSeparateLines) {
  const Rlgc pair = rlgc_at(fr4_pair(), 5e9);
  Rlgc three;
  three.f_hz = pair.f_hz;
  const double single[4] = {30.0, 3.0e-7, 0.02, 1.1e-10};  // R, L, G, C of line 3
  Matrix* m3[4] = {&three.r, &three.l, &three.g, &three.c};
  const Matrix* m2[4] = {&pair.r, &pair.l, &pair.g, &pair.c};
  for (int k = 0; k < 4; ++k) {
    *m3[k] = Matrix(3);
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 2; ++j) (*m3[k])(i, j) = (*m2[k])(i, j);
    (*m3[k])(2, 2) = single[k];
  }
  const double len = 0.05, z = 50.0;
  const CMatrix s6 = line_sparameters(three, len, z);
  const CMatrix s4 = line_sparameters(pair, len, z);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_LT(std::abs(s6(i, j) - s4(i, j)), 1e-12);
  const double omega = 2.0 * kPi * three.f_hz;
  const Complex series(single[0], omega * single[1]), shunt(single[2], omega * single[3]);
  const Complex zc = std::sqrt(series / shunt), gl = std::sqrt(series * shunt) * len;
  const Complex s21 = textbook_s21(zc, gl, z);
  const Complex s11 = (zc * zc - z * z) * std::sinh(gl) /
                      (2.0 * zc * z * std::cosh(gl) + (zc * zc + z * z) * std::sinh(gl));
  EXPECT_LT(std::abs(s6(5, 4) - s21), 1e-12);
  EXPECT_LT(std::abs(s6(4, 4) - s11), 1e-12);
  for (int i = 0; i < 4; ++i)
    for (int j = 4; j < 6; ++j) EXPECT_LT(std::abs(s6(i, j)) + std::abs(s6(j, i)), 1e-15);
}

TEST(LineNetwork, CoupledThreeLinesAreReciprocalAndLosslessOnesConserveEnergy) {
  // An asymmetric, fully coupled three-conductor line.
  Rlgc p;
  p.f_hz = 3e9;
  const double l[3][3] = {{4.0e-7, 1.1e-7, 0.4e-7},
                          {1.1e-7, 3.6e-7, 0.9e-7},
                          {0.4e-7, 0.9e-7, 4.4e-7}};
  const double c[3][3] = {{1.0e-10, -0.3e-10, -0.05e-10},
                          {-0.3e-10, 1.2e-10, -0.25e-10},
                          {-0.05e-10, -0.25e-10, 0.9e-10}};
  p.r = p.l = p.g = p.c = Matrix(3);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      p.l(i, j) = l[i][j];
      p.c(i, j) = c[i][j];
    }
  const CMatrix lossless = line_sparameters(p, 0.2, 50.0);
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j) {
      Complex sum = 0.0;  // (S^H S)_ij
      for (int k = 0; k < 6; ++k) sum += std::conj(lossless(k, i)) * lossless(k, j);
      EXPECT_LT(std::abs(sum - (i == j ? 1.0 : 0.0)), 1e-10);
    }
  for (int i = 0; i < 3; ++i) {
    p.r(i, i) = 20.0 + 5.0 * i;
    p.g(i, i) = 0.01;
  }
  p.r(0, 1) = p.r(1, 0) = 4.0;
  const CMatrix lossy = line_sparameters(p, 0.2, 50.0);
  for (int i = 0; i < 6; ++i) {
    double power = 0.0;  // what leaves for a unit wave into port i
    for (int j = 0; j < 6; ++j) {
      EXPECT_LT(std::abs(lossy(i, j) - lossy(j, i)), 1e-12);
      power += std::norm(lossy(j, i));
    }
    EXPECT_LT(power, 1.0);
  }
}

TEST(LineNetwork, QuarterWaveTemCouplerIsTheIdealCoupler) {
  // A homogeneous lossless pair, Zoe 70.7, Zoo 35.36 (C = 1/3), eff 2.5,
  // between z_ref = sqrt(Zoe Zoo) and a quarter wave long: no reflection,
  // no isolated wave, coupled -20 log10(1/3) dB, thru sqrt(1 - C^2).
  const double zoe = 70.7, zoo = 35.36, eff = 2.5, f = 2e9;
  const double v = materials::c0 / std::sqrt(eff);
  Rlgc p;
  p.f_hz = f;
  p.r = p.g = Matrix(2);
  // Per strip: L_mode = Z / v, C_mode = 1 / (Z v).
  const auto pair_of = [](double e, double o) {
    Matrix m(2);
    m(0, 0) = m(1, 1) = 0.5 * (e + o);
    m(0, 1) = m(1, 0) = 0.5 * (e - o);
    return m;
  };
  p.l = pair_of(zoe / v, zoo / v);
  p.c = pair_of(1.0 / (zoe * v), 1.0 / (zoo * v));
  const CMatrix s = coupler_sparameters(p, v / (4.0 * f), std::sqrt(zoe * zoo));
  const double k = (zoe - zoo) / (zoe + zoo);
  EXPECT_LT(std::abs(s(0, 0)), 1e-12);                            // input
  EXPECT_NEAR(std::abs(s(1, 0)), k, 1e-12);                       // coupled
  EXPECT_LT(std::abs(s(2, 0)), 1e-12);                            // isolated
  EXPECT_NEAR(std::abs(s(3, 0)), std::sqrt(1.0 - k * k), 1e-12);  // thru
  // Coupled and thru in quadrature.
  EXPECT_NEAR(std::abs(std::arg(s(1, 0) / s(3, 0))), kPi / 2.0, 1e-12);
}

TEST(LineNetwork, RefusesWhatHasNoLine) {
  Rlgc p = rlgc_at(fr4_pair(), 1e9);
  EXPECT_THROW(line_sparameters(p, 0.0, 50.0), std::invalid_argument);
  EXPECT_THROW(line_sparameters(p, 0.1, -50.0), std::invalid_argument);
  EXPECT_THROW(pair_sparameters(p, std::nan(""), 50.0), std::invalid_argument);
  p.c = Matrix(3);
  EXPECT_THROW(line_sparameters(p, 0.1, 50.0), std::invalid_argument);
  EXPECT_THROW(rlgc_at(fr4_pair(), 0.0), std::invalid_argument);
  // A static set filled by hand is checked before it is read.
  LineStatics st = fr4_pair();
  st.surfaces[1].dl_dn = Matrix(3);
  EXPECT_THROW(rlgc_at(st, 1e9), std::invalid_argument);
  st = fr4_pair();
  st.r_dc(0, 0) = 0.0;
  EXPECT_THROW(rlgc_at(st, 1e9), std::invalid_argument);
  // Even and odd modes of strips that are not alike.
  Rlgc q = rlgc_at(fr4_pair(), 1e9);
  q.c(1, 1) *= 1.01;
  EXPECT_THROW(pair_sparameters(q, 0.1, 50.0), std::invalid_argument);
  EXPECT_NO_THROW(line_sparameters(q, 0.1, 50.0));
}

}  // namespace
}  // namespace kx::rlgc
