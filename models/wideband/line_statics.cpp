// The static solve set of a line from a static field problem: the
// capacitance's expansion in each layer's permittivity, the vacuum
// inductance and its derivative as each group of metal surfaces recedes
// (Wheeler's incremental-inductance rule), with error bounds.
//
// [W42] H. A. Wheeler, "Formulas for the skin effect", Proc. IRE 30, 1942.
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include <Eigen/Dense>

#include "kestrelix/rlgc.h"

namespace kx::rlgc {
namespace {

// Relative step of the permittivity solutions. C is smooth in er (the mesh
// does not depend on it), and the fraction through er_ref and er_ref +- 5 %
// follows C within 1e-6 over +-0.3 in er (doc/wideband.md).
constexpr double kErStep = 0.05;
// The recession step as a part of the group's scale; differences at d and
// 2d, extrapolated.
constexpr double kRecessionStep = 0.1;
// The error of a difference of the solver's values against the exact one
// (coupled stripline, conformal mapping) is up to this many times the
// solver's own relative error estimate of the values, times the derivative.
constexpr double kSolverErrorFactor = 3.0;

Matrix combine(const Matrix& a, double ka, const Matrix& b, double kb) {
  Matrix m(a.size());
  for (int i = 0; i < a.size(); ++i)
    for (int j = 0; j < a.size(); ++j) m(i, j) = ka * a(i, j) + kb * b(i, j);
  return m;
}

double largest(const Matrix& a) {
  double v = 0.0;
  for (const double x : a.data()) v = std::max(v, std::abs(x));
  return v;
}

// L = mu0 eps0 C_vacuum^-1.
Matrix inductance(const Matrix& c_vacuum) {
  const int n = c_vacuum.size();
  Eigen::MatrixXd c(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) c(i, j) = c_vacuum(i, j);
  const Eigen::MatrixXd inv = c.inverse();
  Matrix l(n);
  const double k = 1.0 / (materials::c0 * materials::c0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) l(i, j) = k * 0.5 * (inv(i, j) + inv(j, i));
  return l;
}

void check_size(const Matrix& m, int n, const char* what) {
  if (m.size() != n) throw std::invalid_argument(std::string(what) + " is not N x N");
}

struct Steps {
  double h;
  bool central;  // er - h stays at or above 1
};
Steps steps(double er) {
  const double h = kErStep * er;
  return {h, er - h >= 1.0};
}

// One element of C as a function of one layer's er: the linear fraction
// C0 + a x / (1 + beta x) (x = er - er_ref) through the three solutions,
// given by its derivatives at er_ref, a and -2 a beta (rlgc_at evaluates the
// same fraction from them). A capacitance is a linear fraction of the
// permittivity of two dielectrics in series, and close to one in general;
// where the three values do not make a tame fraction (|beta h| above 1/2)
// the parabola through them is taken instead.
struct Fraction {
  double slope, curvature;
};
Fraction fraction_or_parabola(double a, double beta, double h, double parabola_slope,
                              double parabola_curvature) {
  if (std::isfinite(a) && std::isfinite(beta) && std::abs(beta * h) <= 0.5)
    return {a, -2.0 * a * beta};
  return {parabola_slope, parabola_curvature};
}
// Through C0 = c0, C(h) = c0 + p, C(-h) = c0 + m.
Fraction fraction_central(double c0, double cp, double cm, double h) {
  const double p = cp - c0, m = cm - c0;
  if (p == m) return {0.0, (p + m) / (h * h)};
  const double beta = -(p + m) / (h * (p - m));
  return fraction_or_parabola(p * (1.0 + beta * h) / h, beta, h, (p - m) / (2.0 * h),
                              (p + m) / (h * h));
}
// Through C0 = c0, C(h) = c0 + p, C(2h) = c0 + q.
Fraction fraction_forward(double c0, double cp, double cq, double h) {
  const double p = cp - c0, q = cq - c0;
  const double slope = (4.0 * p - q) / (2.0 * h), curvature = (q - 2.0 * p) / (h * h);
  if (p == q) return {slope, curvature};
  const double beta = (q - 2.0 * p) / (2.0 * h * (p - q));
  return fraction_or_parabola(p * (1.0 + beta * h) / h, beta, h, slope, curvature);
}

// dL/dn of one group: central differences at d and 2d, extrapolated (the
// d^2 term cancels). Its error bound, element by element: the
// extrapolation's correction (what remains is far smaller), two mesh jumps
// in the differences (a jump J costs at most 7/12 J L / d in the
// extrapolated value), and the solver's own error carried to the derivative.
struct Derivative {
  Matrix d, error;
};
Derivative recession_derivative(const StaticProblem& p, int g, double scale, const Matrix& l0,
                                double solver_error) {
  const double d = kRecessionStep * scale;
  const auto l_at = [&](double x) {
    const StaticSolution s = p.recede(g, x);
    check_size(s.c_vacuum, p.conductors(), "a recession's vacuum capacitance");
    return inductance(s.c_vacuum);
  };
  const Matrix d1 = combine(l_at(d), 0.5 / d, l_at(-d), -0.5 / d);
  const Matrix d2 = combine(l_at(2.0 * d), 0.25 / d, l_at(-2.0 * d), -0.25 / d);
  Derivative out{combine(d1, 4.0 / 3.0, d2, -1.0 / 3.0), Matrix(l0.size())};
  const double jumps = 1.5 * p.mesh_jump() * largest(l0) / d;
  const double solver = kSolverErrorFactor * solver_error * largest(out.d);
  for (int i = 0; i < l0.size(); ++i)
    for (int j = 0; j < l0.size(); ++j)
      out.error(i, j) = std::abs(d1(i, j) - d2(i, j)) / 3.0 + jumps + solver;
  return out;
}

}  // namespace

LineStatics line_statics(const StaticProblem& problem, const LineMaterials& m, double f_ref) {
  const int n = problem.conductors();
  const std::vector<std::string> layer_names = problem.layers();
  const std::vector<RecessionGroup> groups = problem.recession_groups();
  const std::vector<double> areas = problem.conductor_areas();
  if (n < 1) throw std::invalid_argument("a line needs at least one conductor");
  if (m.layers.size() != layer_names.size())
    throw std::invalid_argument("one material for each dielectric layer");
  if (m.surfaces.size() != groups.size())
    throw std::invalid_argument("one surface for each group of metal surfaces");
  if (m.resistivity.size() != static_cast<std::size_t>(n) ||
      areas.size() != static_cast<std::size_t>(n))
    throw std::invalid_argument("one resistivity and one cross-section for each conductor");
  if (!std::isfinite(f_ref) || f_ref <= 0.0)
    throw std::invalid_argument("the reference frequency must be positive");
  for (std::size_t g = 0; g < groups.size(); ++g) {
    const std::string why = materials::check(m.surfaces[g].roughness);
    if (!why.empty()) throw std::invalid_argument(groups[g].name + ": " + why);
    if (!std::isfinite(m.surfaces[g].resistivity) || m.surfaces[g].resistivity < 0.0)
      throw std::invalid_argument(groups[g].name + ": the resistivity must be 0 or more");
    for (const auto& [k, factor] : groups[g].sum_of)
      if (k < 0 || static_cast<std::size_t>(k) >= groups.size() || !groups[k].sum_of.empty())
        throw std::invalid_argument(groups[g].name + ": a sum of groups that are not solved");
  }
  for (const double rho : m.resistivity)
    if (!std::isfinite(rho) || rho < 0.0)
      throw std::invalid_argument("the resistivity of a conductor must be 0 or more");

  LineStatics st;
  st.conductors = n;
  st.f_ref_hz = f_ref;

  // The dielectrics: C at the reference permittivities and its expansion in
  // each (solutions at er +- h; at er + h and er + 2h where er - h would fall
  // below 1), and the mixed term of each two layers.
  std::vector<double> er;
  for (const materials::Dielectric& d : m.layers) er.push_back(d.er(f_ref));
  const auto c_at = [&](const std::vector<double>& x) {
    const StaticSolution s = problem.solve(x);
    check_size(s.c, n, "the capacitance");
    check_size(s.c_vacuum, n, "the vacuum capacitance");
    return s;
  };
  const StaticSolution base = c_at(er);
  st.c_ref = base.c;
  st.c_vacuum = base.c_vacuum;
  st.l_ext = inductance(base.c_vacuum);
  st.error_c = st.error_l = base.error;
  std::vector<Matrix> plus;  // C with layer i at er_i + h_i
  for (std::size_t i = 0; i < er.size(); ++i) {
    const Steps s = steps(er[i]);
    std::vector<double> x = er;
    x[i] = er[i] + s.h;
    const Matrix p = c_at(x).c;
    plus.push_back(p);
    DielectricLayer layer;
    layer.name = layer_names[i];
    layer.material = m.layers[i];
    layer.er_ref = er[i];
    // The third solution: at er - h, or at er + 2h where er - h < 1.
    x[i] = s.central ? er[i] - s.h : er[i] + 2.0 * s.h;
    const Matrix q = c_at(x).c;
    layer.dc_der = layer.d2c_der2 = Matrix(n);
    for (int r = 0; r < n; ++r)
      for (int k = 0; k < n; ++k) {
        const Fraction fr = s.central ? fraction_central(st.c_ref(r, k), p(r, k), q(r, k), s.h)
                                      : fraction_forward(st.c_ref(r, k), p(r, k), q(r, k), s.h);
        layer.dc_der(r, k) = fr.slope;
        layer.d2c_der2(r, k) = fr.curvature;
      }
    st.dielectrics.push_back(layer);
  }
  for (std::size_t a = 0; a < er.size(); ++a)
    for (std::size_t b = a + 1; b < er.size(); ++b) {
      const double ha = steps(er[a]).h;
      const double hb = steps(er[b]).h;
      std::vector<double> x = er;
      x[a] += ha;
      x[b] += hb;
      // (C(+,+) - C(+,0) - C(0,+) + C(0,0)) / (ha hb)
      const Matrix both = c_at(x).c;
      MixedTerm t;
      t.a = static_cast<int>(a);
      t.b = static_cast<int>(b);
      t.d2c = combine(combine(both, 1.0, plus[a], -1.0), 1.0 / (ha * hb),
                      combine(plus[b], -1.0, st.c_ref, 1.0), 1.0 / (ha * hb));
      st.mixed.push_back(t);
    }

  // The metal: each solved group's dL/dn, then the groups that are sums.
  std::vector<Derivative> d(groups.size());
  for (std::size_t g = 0; g < groups.size(); ++g)
    if (groups[g].sum_of.empty())
      d[g] =
          recession_derivative(problem, static_cast<int>(g), groups[g].scale, st.l_ext, base.error);
  for (std::size_t g = 0; g < groups.size(); ++g) {
    if (groups[g].sum_of.empty()) continue;
    d[g] = {Matrix(n), Matrix(n)};
    for (const auto& [k, factor] : groups[g].sum_of) {
      d[g].d = combine(d[g].d, 1.0, d[k].d, factor);
      d[g].error = combine(d[g].error, 1.0, d[k].error, std::abs(factor));
    }
  }
  for (std::size_t g = 0; g < groups.size(); ++g)
    st.surfaces.push_back({groups[g].name, d[g].d, d[g].error, m.surfaces[g]});

  // The D.C. resistance, where every conductor has a cross-section.
  bool thick = true, resistive = true;
  for (int i = 0; i < n; ++i) {
    thick = thick && areas[static_cast<std::size_t>(i)] > 0.0;
    resistive = resistive && m.resistivity[static_cast<std::size_t>(i)] > 0.0;
  }
  st.thin_strip_rule = !thick;
  if (thick && resistive) {
    st.r_dc = Matrix(n);
    for (int i = 0; i < n; ++i)
      st.r_dc(i, i) = m.resistivity[static_cast<std::size_t>(i)] /
                      areas[static_cast<std::size_t>(i)];
  }
  return st;
}

}  // namespace kx::rlgc
