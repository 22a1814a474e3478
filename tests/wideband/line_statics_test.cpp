// The static-set builder on a problem with exact answers: a coaxial line of
// two dielectric shells, where Wheeler's rule gives the textbook skin-effect
// resistance and the capacitance is known for any complex permittivities.
#include <cmath>
#include <complex>
#include <vector>

#include <gtest/gtest.h>

#include <kestrelix/rlgc.h>

namespace kx::rlgc {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Inner radius a, the shells' boundary c, outer radius b (metres).
class Coax : public StaticProblem {
 public:
  Coax(double a, double c, double b) : a_(a), c_(c), b_(b) {}
  int conductors() const override { return 1; }
  std::vector<std::string> layers() const override { return {"inner shell", "outer shell"}; }
  std::vector<RecessionGroup> recession_groups() const override {
    return {{"inner surface", a_, {}}, {"outer surface", b_, {}}};
  }
  std::vector<double> conductor_areas() const override { return {kPi * a_ * a_}; }
  double mesh_jump() const override { return 0.0; }
  StaticSolution solve(const std::vector<double>& er) const override {
    return {Matrix(1, capacitance(er[0], er[1]).real()), Matrix(1, vacuum(a_, b_)), 1e-12};
  }
  StaticSolution recede(int g, double d) const override {
    const double c = g == 0 ? vacuum(a_ - d, b_) : vacuum(a_, b_ + d);
    return {Matrix(1, c), Matrix(1, c), 1e-12};
  }
  // 2 pi eps0 / (ln(c/a) / eps1 + ln(b/c) / eps2), for complex eps too.
  std::complex<double> capacitance(std::complex<double> e1, std::complex<double> e2) const {
    return 2.0 * kPi * materials::eps0 / (std::log(c_ / a_) / e1 + std::log(b_ / c_) / e2);
  }

 private:
  static double vacuum(double a, double b) { return 2.0 * kPi * materials::eps0 / std::log(b / a); }
  double a_, c_, b_;
};

TEST(LineStatics, CoaxialLineGivesItsTextbookResistanceAndPermittivity) {
  const double a = 0.3e-3, c = 0.6e-3, b = 1.05e-3;
  const Coax coax(a, c, b);
  materials::DielectricData inner, outer;
  inner.dk = 2.1;
  inner.df = 0.0004;
  inner.f_hz = 10e9;
  outer.dk = 4.3;
  outer.df = 0.02;
  outer.f_hz = 1e9;
  LineMaterials m;
  m.layers = {materials::Dielectric(inner), materials::Dielectric(outer)};
  materials::Surface copper;
  materials::Surface brass;
  brass.resistivity = 7e-8;
  m.surfaces = {copper, brass};
  m.resistivity = {copper.resistivity};
  const LineStatics st = line_statics(coax, m, 5e9);
  ASSERT_EQ(st.mixed.size(), 1u);
  EXPECT_NEAR(st.r_dc(0, 0), copper.resistivity / (kPi * a * a), 1e-12);
  for (const double f : {1e9, 10e9, 40e9}) {
    const Rlgc p = rlgc_at(st, f);
    // R = Rs_inner / (2 pi a) + Rs_outer / (2 pi b), the skin effect of a coax
    // (at 1 GHz copper's skin depth is 1/140 of a: the D.C. transition is done).
    const double r = materials::surface_resistance(copper.resistivity, f) / (2.0 * kPi * a) +
                     materials::surface_resistance(brass.resistivity, f) / (2.0 * kPi * b);
    EXPECT_NEAR(p.r(0, 0), r, 1e-4 * r) << f;
    EXPECT_LE(std::abs(p.r(0, 0) - r), p.r_error(0, 0) + 1e-9 * r) << f;
    // C - j G / omega from the shells' complex permittivities.
    const std::complex<double> exact =
        coax.capacitance(m.layers[0].permittivity(f), m.layers[1].permittivity(f));
    EXPECT_NEAR(p.c(0, 0), exact.real(), 1e-6 * exact.real()) << f;
    EXPECT_NEAR(p.g(0, 0), -2.0 * kPi * f * exact.imag(), 2e-4 * p.g(0, 0)) << f;
  }
  // L_ext = (mu0 / 2 pi) ln(b/a).
  EXPECT_NEAR(st.l_ext(0, 0), materials::mu0 / (2.0 * kPi) * std::log(b / a),
              1e-12 * st.l_ext(0, 0));
}

TEST(LineStatics, RefusesMaterialsThatDoNotFitTheProblem) {
  const Coax coax(0.3e-3, 0.6e-3, 1.05e-3);
  LineMaterials m;
  m.layers = {materials::Dielectric()};  // two layers wanted
  m.surfaces = {materials::Surface{}, materials::Surface{}};
  m.resistivity = {materials::copper_resistivity};
  EXPECT_THROW(line_statics(coax, m, 1e9), std::invalid_argument);
  m.layers.push_back(materials::Dielectric());
  m.surfaces[1].roughness.model = materials::RoughnessModel::huray;  // without spheres
  EXPECT_THROW(line_statics(coax, m, 1e9), std::invalid_argument);
}

}  // namespace
}  // namespace kx::rlgc
