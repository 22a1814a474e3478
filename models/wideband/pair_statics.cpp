// The static solve set of the edge-coupled pair: the capacitance with the
// dielectrics and its expansion in each layer's permittivity, the vacuum
// inductance, and the derivative of the vacuum inductance as each group of
// metal surfaces recedes (Wheeler's incremental-inductance rule), all from
// kx::field::solve.
//
// [W42] H. A. Wheeler, "Formulas for the skin effect", Proc. IRE 30, 1942.
//
// The recessions as changes of the cross-section of the vacuum problem
// (lengths W, S, T, H and H2, the cover's height above the strips' bottom):
//   strip sides    W - 2d, S + 2d
//   strip tops     T - d
//   ground plane   H + d
//   cover          H2 + d
//   strip bottoms  H + d, T - d, H2 - d   (the cover stays where it is)
// The last is the sum of the three before it (ground + tops - cover) term
// by term, so it is formed from them rather than solved.
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

#include "kestrelix/rlgc.h"

namespace kx::rlgc {
namespace {

using field::Geometry;

// Relative step of the permittivity differences. C is smooth in er (the mesh
// does not depend on it), and the quadratic through er_ref and er_ref +- 5 %
// follows C within 1e-6 over +-0.3 in er (doc/wideband.md).
constexpr double kErStep = 0.05;
// The recession step as a part of the length over which the group's
// derivative varies (min(W, S) for the sides, T for the tops, H for the
// ground, H2 - T for the cover); differences at d and 2d, extrapolated.
constexpr double kRecessionStep = 0.1;
// The relative size of the solver's jumps in L where its mesh gains or loses
// a panel (largest second difference met in fine sweeps of W, S, H and T).
constexpr double kMeshJump = 5e-5;
// The error of a difference of the solver's values against the exact one
// (coupled stripline, conformal mapping) is up to this many times the
// solver's own relative error estimate of the values, times the derivative.
constexpr double kSolverErrorFactor = 3.0;

struct Modal {
  double e = 0.0, o = 0.0;
};

// The symmetric 2 x 2 matrix with even-mode value e = M11 + M12 and
// odd-mode value o = M11 - M12 per strip.
Matrix pair_matrix(double e, double o) {
  Matrix m(2);
  m(0, 0) = m(1, 1) = 0.5 * (e + o);
  m(0, 1) = m(1, 0) = 0.5 * (e - o);
  return m;
}

Matrix pair_matrix(const Modal& v) { return pair_matrix(v.e, v.o); }

// A bound on the elements of pair_matrix(d) for |d.e| <= err.e, |d.o| <= err.o.
Matrix pair_error(const Modal& err) {
  Matrix m(2, 0.5 * (std::abs(err.e) + std::abs(err.o)));
  return m;
}

field::Result solve_or_explain(const Geometry& g, const field::Settings& set, const char* what) {
  const std::string why = field::check(g);
  if (!why.empty()) throw std::invalid_argument(std::string(what) + ": " + why);
  return field::solve(g, set);
}

// The capacitance matrix with the substrate at er and the coating at er_coat.
Matrix capacitance(Geometry g, double er, double er_coat, const field::Settings& set) {
  g.er = er;
  g.er_coat = er_coat;
  const field::Result r = solve_or_explain(g, set, "the cross-section");
  return pair_matrix(r.ce, r.co);
}

Matrix combine(const Matrix& a, double ka, const Matrix& b, double kb) {
  Matrix m(a.size());
  for (int i = 0; i < a.size(); ++i)
    for (int j = 0; j < a.size(); ++j) m(i, j) = ka * a(i, j) + kb * b(i, j);
  return m;
}

// The vacuum problem's even/odd inductance per strip, and the solver's
// relative error estimate of each.
struct Inductance {
  Modal l, error;
};
Inductance vacuum_inductance(Geometry g, const field::Settings& set, const char* what) {
  g.er = 1.0;
  g.coat = 0.0;
  g.er_coat = 1.0;
  const field::Result r = solve_or_explain(g, set, what);
  const double k = 1.0 / (materials::c0 * materials::c0);
  return {{k / r.cae, k / r.cao}, {r.error_zoe, r.error_zoo}};
}

// One recession: the cross-section with every surface of the group moved d
// into its metal.
using Move = Geometry (*)(Geometry, double);
Geometry recede_sides(Geometry g, double d) {
  g.w -= 2.0 * d;
  g.s += 2.0 * d;
  return g;
}
Geometry recede_tops(Geometry g, double d) {
  g.t -= d;
  return g;
}
Geometry recede_ground(Geometry g, double d) {
  g.h += d;
  return g;
}
Geometry recede_cover(Geometry g, double d) {
  g.h2 += d;
  return g;
}

struct Derivative {
  Modal d, error;  // dL/dn per mode and a bound on its error
};

// dL/dn by central differences at d and 2d, extrapolated (the O(d^2) term
// cancels). The error bound: the extrapolation's correction (what remains
// is far smaller), up to two mesh jumps in the differences, and the solver's
// own error carried to the derivative.
Derivative recession_derivative(const Geometry& vac, const Inductance& base, Move move,
                                double scale, const field::Settings& set, const char* what) {
  const double d = kRecessionStep * scale;
  const Modal p1 = vacuum_inductance(move(vac, d), set, what).l;
  const Modal m1 = vacuum_inductance(move(vac, -d), set, what).l;
  const Modal p2 = vacuum_inductance(move(vac, 2.0 * d), set, what).l;
  const Modal m2 = vacuum_inductance(move(vac, -2.0 * d), set, what).l;
  const auto one = [&](double a1, double b1, double a2, double b2, double l0, double solver) {
    const double d1 = (a1 - b1) / (2.0 * d);
    const double d2 = (a2 - b2) / (4.0 * d);
    const double value = (4.0 * d1 - d2) / 3.0;
    const double error = std::abs(d1 - d2) / 3.0 + 1.5 * kMeshJump * l0 / d +
                         kSolverErrorFactor * solver * std::abs(value);
    return std::make_pair(value, error);
  };
  const auto e = one(p1.e, m1.e, p2.e, m2.e, base.l.e, base.error.e);
  const auto o = one(p1.o, m1.o, p2.o, m2.o, base.l.o, base.error.o);
  return {{e.first, o.first}, {e.second, o.second}};
}

void check_materials(const PairMaterials& m) {
  const auto metal = [](double rho, const char* what) {
    if (!std::isfinite(rho) || rho < 0.0)
      throw std::invalid_argument(std::string("the resistivity of the ") + what +
                                  " must be 0 or more");
  };
  metal(m.strip_resistivity, "strips");
  metal(m.ground.resistivity, "ground plane");
  metal(m.cover.resistivity, "cover");
  const std::pair<const materials::Roughness*, const char*> rough[] = {
      {&m.strip_top, "strip tops"},
      {&m.strip_bottom, "strip bottoms"},
      {&m.strip_sides, "strip sides"},
      {&m.ground.roughness, "ground plane"},
      {&m.cover.roughness, "cover"}};
  for (const auto& [r, what] : rough) {
    const std::string why = materials::check(*r);
    if (!why.empty()) throw std::invalid_argument(std::string(what) + ": " + why);
  }
}

}  // namespace

LineStatics pair_statics(const Geometry& geometry, const PairMaterials& m,
                         const PairOptions& options) {
  check_materials(m);
  const field::Settings& set = options.field;
  LineStatics st;
  st.conductors = 2;
  st.f_ref_hz = options.f_ref_hz > 0.0 ? options.f_ref_hz : m.substrate.spec().f_hz;
  if (!std::isfinite(st.f_ref_hz))
    throw std::invalid_argument("the reference frequency must be positive");
  const bool coated = geometry.coat > 0.0;
  const double er_s = m.substrate.er(st.f_ref_hz);
  const double er_c = coated ? m.coating.er(st.f_ref_hz) : 1.0;

  // The dielectrics: C at the reference permittivities and its quadratic in
  // each (central differences; forward ones where er - step would fall
  // below 1), with the mixed term of substrate and coating.
  Geometry g = geometry;
  g.er = er_s;
  g.er_coat = er_c;
  // The same solution's vacuum capacitance gives the external inductance.
  Inductance base;
  {
    const field::Result r = solve_or_explain(g, set, "the cross-section");
    st.c_ref = pair_matrix(r.ce, r.co);
    st.c_vacuum = pair_matrix(r.cae, r.cao);
    const double ez = std::max(r.error_zoe, r.error_zoo);
    const double ef = std::max(r.error_eff_e, r.error_eff_o);
    st.error_c = ez + 0.5 * ef;  // C = sqrt(eff) / (c0 Z)
    st.error_l = ez + 0.5 * ef;
    const double k = 1.0 / (materials::c0 * materials::c0);
    base = {{k / r.cae, k / r.cao}, {r.error_zoe, r.error_zoo}};
  }
  struct Steps {
    double h;
    bool central;
  };
  const auto steps = [](double er) {
    const double h = kErStep * er;
    return Steps{h, er - h >= 1.0};
  };
  const auto layer = [&](const char* name, const materials::Dielectric& mat, double er, auto&& at) {
    const Steps s = steps(er);
    DielectricLayer l;
    l.name = name;
    l.material = mat;
    l.er_ref = er;
    const Matrix p = at(er + s.h);
    if (s.central) {
      const Matrix q = at(er - s.h);
      l.dc_der = combine(p, 0.5 / s.h, q, -0.5 / s.h);
      l.d2c_der2 =
          combine(combine(p, 1.0, q, 1.0), 1.0 / (s.h * s.h), st.c_ref, -2.0 / (s.h * s.h));
    } else {
      const Matrix p2 = at(er + 2.0 * s.h);
      // (-3 C0 + 4 C1 - C2) / 2h and (C0 - 2 C1 + C2) / h^2
      l.dc_der = combine(combine(st.c_ref, -1.5 / s.h, p, 2.0 / s.h), 1.0, p2, -0.5 / s.h);
      l.d2c_der2 =
          combine(combine(st.c_ref, 1.0, p, -2.0), 1.0 / (s.h * s.h), p2, 1.0 / (s.h * s.h));
    }
    return std::make_pair(l, p);
  };
  const auto [substrate, c_sub_plus] = layer("substrate", m.substrate, er_s, [&](double er) {
    return capacitance(g, er, er_c, set);
  });
  st.dielectrics.push_back(substrate);
  if (coated) {
    const auto [coating, c_coat_plus] =
        layer("coating", m.coating, er_c, [&](double er) { return capacitance(g, er_s, er, set); });
    st.dielectrics.push_back(coating);
    const double hs = steps(er_s).h;
    const double hc = steps(er_c).h;
    const Matrix both = capacitance(g, er_s + hs, er_c + hc, set);
    // (C(+,+) - C(+,0) - C(0,+) + C(0,0)) / (hs hc)
    st.d2c_mixed = combine(combine(both, 1.0, c_sub_plus, -1.0), 1.0 / (hs * hc),
                           combine(c_coat_plus, -1.0, st.c_ref, 1.0), 1.0 / (hs * hc));
  }

  // The metal: the vacuum inductance and its derivatives.
  const Geometry vac = geometry;
  st.l_ext = pair_matrix(base.l);
  const bool covered = std::isfinite(geometry.h2);
  const bool thick = geometry.t > 0.0;
  st.thin_strip_rule = !thick;
  const auto group = [&](const char* name, const Derivative& d, const materials::Surface& s) {
    SurfaceGroup sg;
    sg.name = name;
    sg.dl_dn = pair_matrix(d.d);
    sg.dl_dn_error = pair_error(d.error);
    sg.surface = s;
    st.surfaces.push_back(sg);
  };
  const Derivative sides = recession_derivative(vac, base, recede_sides, std::min(vac.w, vac.s),
                                                set, "the recession of the strip sides");
  const Derivative ground =
      recession_derivative(vac, base, recede_ground, vac.h, set, "the recession of the ground");
  Derivative cover;
  if (covered)
    cover = recession_derivative(vac, base, recede_cover, vac.h2 - vac.t, set,
                                 "the recession of the cover");
  group("strip sides", sides, {m.strip_resistivity, m.strip_sides});
  if (thick) {
    const double room = covered ? vac.h2 - vac.t : vac.t;
    const Derivative tops = recession_derivative(vac, base, recede_tops, std::min(vac.t, room), set,
                                                 "the recession of the strip tops");
    // strip bottoms = ground + tops - cover (see the top of this file)
    Derivative bottoms;
    bottoms.d = {ground.d.e + tops.d.e - cover.d.e, ground.d.o + tops.d.o - cover.d.o};
    bottoms.error = {ground.error.e + tops.error.e + cover.error.e,
                     ground.error.o + tops.error.o + cover.error.o};
    group("strip tops", tops, {m.strip_resistivity, m.strip_top});
    group("strip bottoms", bottoms, {m.strip_resistivity, m.strip_bottom});
  }
  group("ground", ground, m.ground);
  if (covered) group("cover", cover, m.cover);

  if (thick && m.strip_resistivity > 0.0) {
    st.r_dc = Matrix(2);
    st.r_dc(0, 0) = st.r_dc(1, 1) = m.strip_resistivity / (geometry.w * geometry.t);
  }
  return st;
}

}  // namespace kx::rlgc
