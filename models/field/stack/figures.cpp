// A line's, a pair's and a neighbour's figures from a solution, each with
// the error estimate of how far it moved between the two meshes (see
// include/kestrelix/stack_solver.h).
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "kestrelix/stack_solver.h"
#include "models/field/stack/stack_linear.h"

namespace kx::stack {
namespace {

using detail::kC0;
using detail::Mat;
using Eigen::Index;

void require_line(const Solution& s, std::size_t i) {
  if (i >= s.c.n) throw std::out_of_range("no line " + std::to_string(i) + " in the solution");
}

// How far a figure moved between the meshes, relative to its value, but not
// less than the floor.
double moved(double fine, double coarse, double value, double floor) {
  return std::max(std::abs(fine - coarse) / std::abs(value), floor);
}

LineFigures line_of(const Matrix& c, const Matrix& cv, std::size_t i) {
  LineFigures f;
  f.z0 = 1.0 / (kC0 * std::sqrt(c(i, i) * cv(i, i)));
  f.eff = c(i, i) / cv(i, i);
  f.delay = std::sqrt(f.eff) / kC0;
  return f;
}

// The 2 x 2 blocks of lines i and j, every other line at 0 V.
PairFigures pair_of(const Matrix& c, const Matrix& cv, std::size_t i, std::size_t j) {
  Mat c2(2, 2), cv2(2, 2);
  const std::size_t idx[2] = {i, j};
  for (Index a = 0; a < 2; ++a)
    for (Index b = 0; b < 2; ++b) {
      c2(a, b) = c(idx[a], idx[b]);
      cv2(a, b) = cv(idx[a], idx[b]);
    }
  const detail::Lines l = detail::lines_of(c2, cv2);
  PairFigures f;
  const Mat& z = l.zc;
  f.zdiff = z(0, 0) + z(1, 1) - z(0, 1) - z(1, 0);
  const Mat y = z.inverse();
  f.zcomm = 1.0 / y.sum();
  f.zoo = 0.5 * f.zdiff;
  f.zoe = 2.0 * f.zcomm;
  // The even mode: its two voltages share a sign.
  const bool first_even = l.voltage[0][0] * l.voltage[0][1] > 0.0;
  f.eff_e = l.eff[first_even ? 0 : 1];
  f.eff_o = l.eff[first_even ? 1 : 0];
  f.delay_e = std::sqrt(f.eff_e) / kC0;
  f.delay_o = std::sqrt(f.eff_o) / kC0;
  f.coupling_db = 20.0 * std::log10((f.zoe + f.zoo) / std::abs(f.zoe - f.zoo));
  return f;
}

// The 2 x 2 blocks of the victim and the aggressor, every other line at 0 V.
Crosstalk crosstalk_of(const Matrix& c, const Matrix& cv, std::size_t v, std::size_t a) {
  Mat cv2(2, 2);
  const std::size_t idx[2] = {v, a};
  for (Index i = 0; i < 2; ++i)
    for (Index j = 0; j < 2; ++j) cv2(i, j) = cv(idx[i], idx[j]);
  const Mat l = cv2.inverse() / (kC0 * kC0);
  const double k_l = 0.5 * (l(0, 1) + l(1, 0)) / std::sqrt(l(0, 0) * l(1, 1));
  const double k_c = -0.5 * (c(v, a) + c(a, v)) / std::sqrt(c(v, v) * c(a, a));
  Crosstalk x;
  x.kb = 0.25 * (k_l + k_c);
  x.kf = 0.5 * (k_l - k_c);
  x.kf_per_length = x.kf * std::sqrt(l(0, 0) * c(v, v));
  return x;
}

}  // namespace

LineFigures line(const Solution& s, std::size_t i) {
  require_line(s, i);
  LineFigures f = line_of(s.c, s.c_vac, i);
  const LineFigures fine = line_of(s.fine.c, s.fine.c_vac, i);
  const LineFigures coarse = line_of(s.coarse.c, s.coarse.c_vac, i);
  f.error_z0 = moved(fine.z0, coarse.z0, f.z0, s.error_floor);
  f.error_eff = moved(fine.eff, coarse.eff, f.eff, s.error_floor);
  return f;
}

PairFigures pair(const Solution& s, std::size_t i, std::size_t j) {
  require_line(s, i);
  require_line(s, j);
  if (i == j) throw std::out_of_range("a pair needs two different lines");
  PairFigures f = pair_of(s.c, s.c_vac, i, j);
  const PairFigures fine = pair_of(s.fine.c, s.fine.c_vac, i, j);
  const PairFigures coarse = pair_of(s.coarse.c, s.coarse.c_vac, i, j);
  f.error_zoe = moved(fine.zoe, coarse.zoe, f.zoe, s.error_floor);
  f.error_zoo = moved(fine.zoo, coarse.zoo, f.zoo, s.error_floor);
  f.error_eff_e = moved(fine.eff_e, coarse.eff_e, f.eff_e, s.error_floor);
  f.error_eff_o = moved(fine.eff_o, coarse.eff_o, f.eff_o, s.error_floor);
  return f;
}

Crosstalk crosstalk(const Solution& s, std::size_t victim, std::size_t aggressor) {
  require_line(s, victim);
  require_line(s, aggressor);
  if (victim == aggressor) throw std::out_of_range("the victim cannot be its own aggressor");
  Crosstalk x = crosstalk_of(s.c, s.c_vac, victim, aggressor);
  const Crosstalk fine = crosstalk_of(s.fine.c, s.fine.c_vac, victim, aggressor);
  const Crosstalk coarse = crosstalk_of(s.coarse.c, s.coarse.c_vac, victim, aggressor);
  x.error_kb = moved(fine.kb, coarse.kb, x.kb, s.error_floor);
  x.error_kf = moved(fine.kf, coarse.kf, x.kf, s.error_floor);
  return x;
}

Crosstalk pair_crosstalk(const Solution& s, std::size_t p, std::size_t n, std::size_t aggressor) {
  require_line(s, p);
  require_line(s, n);
  require_line(s, aggressor);
  if (p == n || p == aggressor || n == aggressor)
    throw std::out_of_range("the pair and the aggressor must be three different lines");
  const auto diff = [&](const Matrix& c, const Matrix& cv) {
    const Crosstalk a = crosstalk_of(c, cv, p, aggressor), b = crosstalk_of(c, cv, n, aggressor);
    return Crosstalk{a.kb - b.kb, a.kf - b.kf, a.kf_per_length - b.kf_per_length, 0.0, 0.0};
  };
  Crosstalk x = diff(s.c, s.c_vac);
  const Crosstalk fine = diff(s.fine.c, s.fine.c_vac);
  const Crosstalk coarse = diff(s.coarse.c, s.coarse.c_vac);
  x.error_kb = moved(fine.kb, coarse.kb, x.kb, s.error_floor);
  x.error_kf = moved(fine.kf, coarse.kf, x.kf, s.error_floor);
  return x;
}

}  // namespace kx::stack
