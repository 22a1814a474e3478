// Losses from the field: the incremental-inductance rule against the exact
// coupled stripline and against the closed forms' thin-strip rule; the
// dielectric expansion against a homogeneous line; the D.C. transition
// against the exact internal impedance of a plate.
#include <cmath>
#include <complex>

#include <gtest/gtest.h>

#include <kestrelix/rlgc.h>

#include "tests/support/exact.h"

#include "models/chain.h"

namespace kx::rlgc {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDbPerNeper = 8.685889638065036;
constexpr double kMetrePerInch = 0.0254;

materials::Dielectric constant(double er) {
  materials::DielectricData s;
  s.dk = er;
  s.model = materials::DielectricModel::constant;
  return materials::Dielectric(s);
}

// Conductor attenuation of the air-filled line, R / (2 Z_air) in dB/m, per
// mode (the incremental-inductance rule's own quantity: the closed forms'
// attenuation divided by sqrt(eff)).
struct AirAttenuation {
  double e, o;
};
AirAttenuation field_air_attenuation(const LineStatics& st, double f) {
  const Rlgc p = rlgc_at(st, f);
  const auto one = [&](double sign) {
    const double r = p.r(0, 0) + sign * p.r(0, 1);
    const double l = st.l_ext(0, 0) + sign * st.l_ext(0, 1);
    return kDbPerNeper * r / (2.0 * materials::c0 * l);
  };
  return {one(1.0), one(-1.0)};
}

TEST(FieldLoss, ThinStripRuleAgreesWithTheClosedForms) {
  struct Case {
    float er, wh, sh;
  };
  const double h = 0.5e-3;  // m
  const double f = 10e9;
  for (const Case& c : {Case{4.3f, 1.0f, 0.5f}, Case{2.2f, 0.5f, 0.3f}, Case{4.3f, 2.0f, 0.5f}}) {
    field::Geometry g;
    g.h = h;
    g.w = static_cast<double>(c.wh) * h;
    g.s = static_cast<double>(c.sh) * h;
    PairMaterials m;
    m.substrate = constant(static_cast<double>(c.er));
    const LineStatics st = pair_statics(g, m);
    EXPECT_TRUE(st.thin_strip_rule);
    const AirAttenuation field = field_air_attenuation(st, f);

    Section sec;  // inches; the closed forms' open pair has its cover 1000 H up
    sec.er = c.er;
    sec.h = static_cast<float>(h / kMetrePerInch);
    sec.h2 = 1000.0f * sec.h;
    sec.w = c.wh * sec.h;
    sec.s = c.sh * sec.h;
    Materials mat;
    mat.res = static_cast<float>(materials::copper_resistivity * 1e8);  // micro-ohm cm
    Records rec;
    ChainValues values;
    int iflag = 0;
    evaluate_chain(rec, values, sec, static_cast<float>(f * 1e-9), ModeSet::both, iflag);
    const Attenuation closed = line_losses(rec, sec, mat, static_cast<float>(f * 1e-9));
    const double closed_e = static_cast<double>(closed.e / std::sqrt(rec.lceff1.effef)) /
                            kMetrePerInch;
    const double closed_o = static_cast<double>(closed.o / std::sqrt(rec.lceff1.effof)) /
                            kMetrePerInch;
    EXPECT_NEAR(field.e / closed_e, 1.0, 0.02) << c.wh << " " << c.sh;
    EXPECT_NEAR(field.o / closed_o, 1.0, 0.02) << c.wh << " " << c.sh;
  }
}

using test::derivative;
using test::Modal;

// Even/odd inductance per strip of zero-thickness coupled stripline between
// plates b apart (Cohn 1955): L = (mu0 / 4) K(k') / K(k).
Modal cohn_inductance(double w, double s, double b) {
  const Modal k = test::cohn_moduli(w, s, b);
  const auto l = [](double m) {
    return materials::mu0 / 4.0 * test::elliptic_k_prime(m) / test::elliptic_k(m);
  };
  return {l(k.e), l(k.o)};
}

TEST(FieldLoss, RecessionDerivativesOfCoupledStriplineWithinTheirErrorBound) {
  const double h = 1.0;  // the strips midway between plates 2H apart
  struct Case {
    double wh, sh;
  };
  for (const Case& c : {Case{1.0, 0.2}, Case{0.2, 0.1}, Case{4.0, 0.04}, Case{3.0, 0.1}}) {
    field::Geometry g;
    g.h = h;
    g.h2 = h;
    g.w = c.wh * h;
    g.s = c.sh * h;
    const LineStatics st = pair_statics(g, PairMaterials{});
    const double step = 1e-4 * std::min(g.w, g.s);
    const Modal sides = derivative(
        [&](double d) { return cohn_inductance(g.w - 2.0 * d, g.s + 2.0 * d, 2.0 * h); }, step);
    // One plate receding: half of both receding together, by symmetry.
    const Modal plate =
        derivative([&](double d) { return cohn_inductance(g.w, g.s, 2.0 * h + d); }, 1e-4 * h);
    ASSERT_EQ(st.surfaces.size(), 3u);
    for (const SurfaceGroup& s : st.surfaces) {
      const Modal exact = s.name == "strip sides" ? sides : plate;
      const double exact_11 = 0.5 * (exact.e + exact.o);
      const double exact_12 = 0.5 * (exact.e - exact.o);
      EXPECT_LE(std::abs(s.dl_dn(0, 0) - exact_11), s.dl_dn_error(0, 0)) << s.name << c.wh;
      EXPECT_LE(std::abs(s.dl_dn(0, 1) - exact_12), s.dl_dn_error(0, 1)) << s.name << c.wh;
      // ... and the bound is tight enough to be of use.
      EXPECT_LT(s.dl_dn_error(0, 0), 0.05 * std::abs(s.dl_dn(0, 0))) << s.name << c.wh;
    }
  }
}

TEST(FieldLoss, HomogeneousLinePropagatesAsItsMedium) {
  // A zero-thickness pair under a cover, substrate and coating of one
  // Djordjevic-Sarkar material filling the box, lossless metal: every mode
  // propagates with gamma = j (omega / c0) sqrt(eps(f)) exactly. The strips
  // are off the box's middle, so C is not linear in either layer's er and
  // the expansion's mixed term counts (without it alpha is 1e-4 off).
  materials::DielectricData data;
  data.dk = 4.3;
  data.df = 0.02;
  data.f_hz = 1e9;
  field::Geometry g;
  g.h = 1.0;
  g.h2 = 1.5;
  g.coat = 1.5;
  g.w = 0.8;
  g.s = 0.3;
  PairMaterials m;
  m.substrate = m.coating = materials::Dielectric(data);
  m.strip_resistivity = m.ground.resistivity = m.cover.resistivity = 0.0;
  PairOptions options;
  options.f_ref_hz = 5e9;
  const LineStatics st = pair_statics(g, m, options);
  for (const double f : {1e9, 5e9, 20e9, 40e9}) {
    const PairModes modes = pair_modes(rlgc_at(st, f));
    const std::complex<double> exact = std::complex<double>(0.0, 2.0 * kPi * f / materials::c0) *
                                       std::sqrt(m.substrate.permittivity(f));
    for (const std::complex<double> gamma : {modes.gamma_e, modes.gamma_o}) {
      EXPECT_NEAR(gamma.imag() / exact.imag(), 1.0, 1e-7) << f;
      EXPECT_NEAR(gamma.real() / exact.real(), 1.0, 1e-5) << f;
    }
  }
}

TEST(FieldLoss, DcTransitionIsThePlatesInternalImpedance) {
  // A plate of width w and thickness t carrying current on both faces:
  // Z = (rho k / (2 w)) coth(k t / 2), k = (1 + j) / delta, from its D.C.
  // resistance rho / (w t) to the skin effect Rs / (2 w).
  const double w = 100e-6, t = 18e-6, rho = materials::copper_resistivity;
  LineStatics st;
  st.conductors = 1;
  st.l_ext = Matrix(1, 3e-7);
  st.c_ref = st.c_vacuum = Matrix(1, 1e-10);
  SurfaceGroup faces;
  faces.dl_dn = Matrix(1, materials::mu0 / (2.0 * w));  // Rs dL/dn / mu0 = Rs / (2 w)
  faces.dl_dn_error = Matrix(1);
  faces.surface.resistivity = rho;
  st.surfaces.push_back(faces);
  st.r_dc = Matrix(1, rho / (w * t));
  for (double f = 1e3; f < 1e11; f *= 3.1) {
    const std::complex<double> k = std::complex<double>(1.0, 1.0) / materials::skin_depth(rho, f);
    const std::complex<double> x = k * t / 2.0;
    const std::complex<double> exact = rho * k / (2.0 * w) / std::tanh(x);
    const Rlgc p = rlgc_at(st, f);
    EXPECT_NEAR(p.r(0, 0), exact.real(), 1e-12 * std::abs(exact)) << f;
    EXPECT_NEAR((p.l(0, 0) - 3e-7) * 2.0 * kPi * f, exact.imag(), 1e-12 * std::abs(exact)) << f;
  }
}

}  // namespace
}  // namespace kx::rlgc
