// Fast paths of the field solver for structured work: a family of
// cross-sections along one quantity (a sweep), and the neighbourhood of a
// nominal cross-section (a tolerance run). Each is built from a few dozen
// direct solutions (kx::field::solve), checked against further direct
// solutions it was not built from, and then answers in a microsecond or
// two, with or without a coating, wherever the tables of Method::fast do not
// reach.
//
//   // 10 000 gaps from 0.02 to 2 under a 0.03 mask: a few dozen solutions.
//   const kx::field::SweepModel m(g, kx::field::Quantity::s, 0.02, 2.0);
//   if (m.holds()) r = m.at(s);                   // else kx::field::solve(g)
//
//   // A tolerance run: W, S, H and Er about their nominal values.
//   kx::field::Spread sp;  sp.w = 0.05;  sp.s = 0.03;  sp.h = 0.04;  sp.er = 0.2;
//   const kx::field::LocalModel n(g, sp);
//   r = n.holds() && n.covers(sample) ? n.at(sample) : kx::field::solve(sample);
//
// A model is a value: build it once, then call at() from any number of
// threads (nothing is shared or changed). The constructors throw
// std::invalid_argument for a geometry or range kx::field::check refuses.
// Their results carry Method::fast (interpolated direct solutions) and an
// error estimate: the direct solutions' largest estimate plus a margin over
// the model's checked deviation.
#pragma once

#include <cstddef>
#include <vector>

#include <kestrelix/field.h>

namespace kx::field {

// A quantity of the Geometry.
enum class Quantity { er, h, w, s, t, h2, coat, er_coat };

struct SweepOptions {
  // The direct solutions' accuracy and refinement (the method is ignored).
  Settings settings{};
  // Each capacitance within this (relative) of the direct solution at the
  // check points.
  double tolerance = 2e-4;
  // The most direct solutions the model may take.
  int max_solutions = 600;
};

// The cross-sections `base` with the quantity `q` from a to b: Chebyshev
// interpolants of the logarithms of the four capacitances in a smooth
// variable of q (its logarithm, or (Er - 1)/(Er + 1) for a permittivity),
// on pieces of [a, b] split where the coating closes the gap (S = 2 C) and
// halved until two fresh direct solutions in each piece agree within the
// tolerance. A strip or coating thickness from a = 0 takes the solution at 0
// apart and sweeps from 1e-4 h, the least the solver takes (at() refuses
// what lies between).
class SweepModel {
 public:
  SweepModel(const Geometry& base, Quantity q, double a, double b,
             const SweepOptions& options = {});

  // Whether the tolerance held everywhere within the solution limit.
  bool holds() const { return holds_; }
  // The solution with q = x, a <= x <= b (std::out_of_range outside).
  Result at(double x) const;
  // Whether g is one of the sweep's cross-sections: every quantity but q
  // the base's, q within [a, b] where at() answers.
  bool covers(const Geometry& g) const;
  // at() of g's q; std::out_of_range unless covers(g).
  Result at(const Geometry& g) const;
  Quantity quantity() const { return q_; }
  int solutions() const { return solutions_; }     // direct solutions spent
  double deviation() const { return deviation_; }  // largest at the checks
  std::size_t pieces() const { return pieces_.size(); }

 private:
  struct Piece {
    double lo = 0, hi = 0;              // in the smooth variable
    std::vector<double> nodes;          // Chebyshev points in it
    std::vector<double> values[4];      // ln ce, ln co, ln cae, ln cao (F/m)
    double estimate[4] = {0, 0, 0, 0};  // largest node estimate per quantity
    double deviation = 0;               // largest relative deviation at its checks
  };
  Geometry base_;  // with q = a
  Quantity q_{};
  double a_ = 0, b_ = 0;
  bool log_ = false;   // the variable: ln q, or (q - 1)/(q + 1) for a permittivity
  bool zero_ = false;  // a thickness from 0: the solution at 0 apart
  double zero_values_[4] = {0, 0, 0, 0}, zero_estimate_[4] = {0, 0, 0, 0};
  std::vector<Piece> pieces_;
  bool holds_ = true;
  int solutions_ = 0;
  double deviation_ = 0;
};

// The half-widths of a tolerance run's variation about the nominal
// cross-section, in its units (0: that quantity is fixed).
struct Spread {
  double er = 0, h = 0, w = 0, s = 0, t = 0, h2 = 0, coat = 0, er_coat = 0;
};

struct LocalOptions {
  Settings settings{};  // of the direct solutions (the method is ignored)
  int checks = 12;      // fresh direct solutions at random points of the box
  // The model holds where every check's Zoe, Zoo, eff_e and eff_o lie within
  // this (relative) of the direct solution.
  double tolerance = 1e-3;
  unsigned seed = 1;  // of the check points
};

// A quadratic model of the logarithms of the four capacitances in the
// varied quantities, over the box nominal +- spread: least squares on the
// centre, the axial points, a point per pair of quantities and a few more
// (1 + 3 n + n (n - 1)/2 direct solutions for n varied quantities: 53 for
// all eight), then `checks` fresh direct solutions at random points of the
// box. A box across S = 2 C (where the coating closes the gap) does not
// hold.
class LocalModel {
 public:
  LocalModel(const Geometry& nominal, const Spread& spread, const LocalOptions& options = {});

  bool holds() const { return holds_; }
  // Whether g lies in the box (every quantity within its spread; the fixed
  // ones equal to the nominal's).
  bool covers(const Geometry& g) const;
  // The model's solution at g; std::domain_error unless holds() and covers(g).
  Result at(const Geometry& g) const;
  int solutions() const { return solutions_; }
  // The largest relative deviation of Zoe, Zoo, eff_e, eff_o at the checks.
  double deviation() const { return deviation_; }

 private:
  Result at_unchecked(const Geometry& g) const;
  Geometry nominal_;
  std::vector<Quantity> varied_;
  std::vector<double> centre_, half_;
  std::vector<double> coefficients_[4];  // per ln capacitance, the quadratic's terms
  double estimate_[4] = {0, 0, 0, 0};
  bool holds_ = false;
  int solutions_ = 0;
  double deviation_ = 0;
};

}  // namespace kx::field
