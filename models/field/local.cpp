// The sweep and local models of the field solver (kestrelix/field_local.h).
#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>

#include <Eigen/Dense>

#include "kestrelix/field_local.h"

namespace kx::field {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kC0 = 299792458.0;  // m/s
// Chebyshev points per sweep piece (a polynomial of degree 8).
constexpr int kNodes = 9;
// The least nonzero thickness (of a strip or a coating) the solver takes, in H.
constexpr double kLeast = 1e-4;

double& field_of(Geometry& g, Quantity q) {
  switch (q) {
    case Quantity::er:
      return g.er;
    case Quantity::h:
      return g.h;
    case Quantity::w:
      return g.w;
    case Quantity::s:
      return g.s;
    case Quantity::t:
      return g.t;
    case Quantity::h2:
      return g.h2;
    case Quantity::coat:
      return g.coat;
    case Quantity::er_coat:
      return g.er_coat;
  }
  return g.er;
}
double value_of(const Geometry& g, Quantity q) { return field_of(const_cast<Geometry&>(g), q); }

Geometry with(Geometry g, Quantity q, double x) {
  field_of(g, q) = x;
  return g;
}

bool coated(const Geometry& g) { return g.coat > 0.0 && g.er_coat != 1.0; }

// A solution's four capacitances (F/m) and estimates.
struct Solved {
  double ln_c[4];
  double estimate[4];
};
Solved solved(const Geometry& g, const Settings& settings) {
  Settings set = settings;
  set.method = Method::direct;
  const Result r = solve(g, set);
  return {{std::log(r.ce), std::log(r.co), std::log(r.cae), std::log(r.cao)},
          {r.error_zoe, r.error_zoo, r.error_eff_e, r.error_eff_o}};
}

// Impedances and effective permittivities from the logarithms of the
// capacitances, as solve() forms them.
Result result_of(const double* ln_c, const double* estimate, double deviation) {
  Result r;
  r.ce = std::exp(ln_c[0]);
  r.co = std::exp(ln_c[1]);
  r.cae = std::exp(ln_c[2]);
  r.cao = std::exp(ln_c[3]);
  r.eff_e = r.ce / r.cae;
  r.eff_o = r.co / r.cao;
  r.zoe = 1.0 / (kC0 * std::sqrt(r.ce * r.cae));
  r.zoo = 1.0 / (kC0 * std::sqrt(r.co * r.cao));
  r.zo = std::sqrt(r.zoe * r.zoo);
  r.coupling_db = 20.0 * std::log10((r.zoe + r.zoo) / std::abs(r.zoe - r.zoo));
  r.zdiff = 2.0 * r.zoo;
  r.zcomm = 0.5 * r.zoe;
  // Z goes with the square root of two capacitances, eff with their ratio.
  r.error_zoe = estimate[0] + deviation;
  r.error_zoo = estimate[1] + deviation;
  r.error_eff_e = estimate[2] + 2.0 * deviation;
  r.error_eff_o = estimate[3] + 2.0 * deviation;
  r.method = Method::fast;
  return r;
}

// The largest relative deviation of the capacitances exp(a) from exp(b).
double deviation_of(const double* a, const double* b) {
  double d = 0.0;
  for (int k = 0; k < 4; ++k) d = std::max(d, std::abs(std::expm1(a[k] - b[k])));
  return d;
}

// Barycentric interpolation through Chebyshev points of the second kind.
double barycentric(const std::vector<double>& nodes, const std::vector<double>& values, double x) {
  double num = 0.0, den = 0.0;
  const std::size_t n = nodes.size();
  for (std::size_t j = 0; j < n; ++j) {
    const double d = x - nodes[j];
    if (d == 0.0) return values[j];
    double w = (j % 2 == 0) ? 1.0 : -1.0;
    if (j == 0 || j + 1 == n) w *= 0.5;
    num += w / d * values[j];
    den += w / d;
  }
  return num / den;
}

void require(bool ok, const std::string& what) {
  if (!ok) throw std::invalid_argument(what);
}

}  // namespace

// ---------------------------------------------------------------- sweeps

SweepModel::SweepModel(const Geometry& base, Quantity q, double a, double b,
                       const SweepOptions& options)
    : base_(base), q_(q), a_(a), b_(b) {
  require(std::isfinite(a) && std::isfinite(b) && a < b, "sweep: need finite a < b");
  require(options.tolerance > 0.0 && options.max_solutions > 0, "sweep: bad options");
  for (double x : {a, b}) {
    const std::string reason = check(with(base, q, x));
    require(reason.empty(), "sweep: " + reason);
  }
  base_ = with(base, q, a);
  const bool permittivity = q == Quantity::er || q == Quantity::er_coat;
  log_ = !permittivity;
  if (log_ && a == 0.0) {
    // A zero thickness or coating: solved apart; the sweep's smooth part
    // starts at the least thickness the solver takes.
    zero_ = true;
    const Solved s = solved(with(base, q, 0.0), options.settings);
    for (int k = 0; k < 4; ++k) {
      zero_values_[k] = s.ln_c[k];
      zero_estimate_[k] = s.estimate[k];
    }
    ++solutions_;
    a = kLeast * base.h;
    require(a < b, "sweep: b must exceed 1e-4 h");
  }
  const auto var = [&](double x) { return log_ ? std::log(x) : (x - 1.0) / (x + 1.0); };
  const auto inv = [&](double v) { return log_ ? std::exp(v) : (1.0 + v) / (1.0 - v); };
  // Where the coating closes the gap the capacitances have a kink: a piece
  // ends there.
  std::vector<double> ends{var(a)};
  if (coated(base) && (q == Quantity::s || q == Quantity::coat)) {
    const double x = q == Quantity::s ? 2.0 * base.coat : 0.5 * base.s;
    if (x > a && x < b) ends.push_back(var(x));
  }
  ends.push_back(var(b));

  // A piece on [lo, hi]: its Chebyshev points solved, then two checks; on a
  // miss, its halves.
  const auto build = [&](double lo, double hi, Piece& p) {
    p = Piece{};
    p.lo = lo;
    p.hi = hi;
    for (int k = 0; k < 4; ++k) p.values[k].clear();
    for (int j = 0; j < kNodes; ++j) {
      const double v = 0.5 * (lo + hi) + 0.5 * (hi - lo) * std::cos(kPi * j / (kNodes - 1));
      const Solved s = solved(with(base, q, inv(v)), options.settings);
      p.nodes.push_back(v);
      for (int k = 0; k < 4; ++k) {
        p.values[k].push_back(s.ln_c[k]);
        p.estimate[k] = std::max(p.estimate[k], s.estimate[k]);
      }
    }
    for (int c : {1, kNodes - 3}) {
      const double v =
          0.5 * (p.nodes[static_cast<std::size_t>(c)] + p.nodes[static_cast<std::size_t>(c + 1)]);
      const Solved s = solved(with(base, q, inv(v)), options.settings);
      double got[4];
      for (int k = 0; k < 4; ++k) got[k] = barycentric(p.nodes, p.values[k], v);
      p.deviation = std::max(p.deviation, deviation_of(got, s.ln_c));
    }
    solutions_ += kNodes + 2;
  };
  std::vector<std::pair<double, double>> todo;
  for (std::size_t i = 0; i + 1 < ends.size(); ++i) todo.emplace_back(ends[i], ends[i + 1]);
  while (!todo.empty()) {
    const auto [lo, hi] = todo.back();
    todo.pop_back();
    Piece p;
    build(lo, hi, p);
    if (p.deviation > options.tolerance && solutions_ + 2 * (kNodes + 2) <= options.max_solutions) {
      const double mid = 0.5 * (lo + hi);
      todo.emplace_back(mid, hi);
      todo.emplace_back(lo, mid);
      continue;
    }
    if (p.deviation > options.tolerance) holds_ = false;
    deviation_ = std::max(deviation_, p.deviation);
    pieces_.push_back(std::move(p));
  }
  std::sort(pieces_.begin(), pieces_.end(),
            [](const Piece& x, const Piece& y) { return x.lo < y.lo; });
}

Result SweepModel::at(double x) const {
  const double tolerance = 1e-12 * std::max(std::abs(a_), std::abs(b_));
  if (!(x >= a_ - tolerance && x <= b_ + tolerance))
    throw std::out_of_range("sweep: outside its range");
  x = std::clamp(x, a_, b_);
  if (zero_ && x < kLeast * base_.h) {
    if (x > 0.0) throw std::out_of_range("sweep: the solver takes no thickness from 0 to 1e-4 h");
    return result_of(zero_values_, zero_estimate_, 0.0);
  }
  const double v = log_ ? std::log(x) : (x - 1.0) / (x + 1.0);
  // The piece holding v (the last whose start is at or below it).
  auto it = std::upper_bound(pieces_.begin(), pieces_.end(), v,
                             [](double value, const Piece& p) { return value < p.lo; });
  const Piece& p = it == pieces_.begin() ? pieces_.front() : *std::prev(it);
  double ln_c[4];
  for (int k = 0; k < 4; ++k)
    ln_c[k] = barycentric(p.nodes, p.values[k], std::clamp(v, p.lo, p.hi));
  // The deviation's bound between the checks: twice the largest seen.
  return result_of(ln_c, p.estimate, 2.0 * p.deviation);
}

bool SweepModel::covers(const Geometry& g) const {
  for (Quantity k : {Quantity::er, Quantity::h, Quantity::w, Quantity::s, Quantity::t, Quantity::h2,
                     Quantity::coat, Quantity::er_coat}) {
    if (k != q_ && value_of(g, k) != value_of(base_, k)) return false;
  }
  const double x = value_of(g, q_);
  if (!(x >= a_ && x <= b_)) return false;
  return !(zero_ && x > 0.0 && x < kLeast * base_.h);
}

Result SweepModel::at(const Geometry& g) const {
  if (!covers(g)) throw std::out_of_range("sweep: not one of its cross-sections");
  return at(value_of(g, q_));
}

// ---------------------------------------------------------- local models

namespace {

constexpr Quantity kQuantities[] = {Quantity::er, Quantity::h,  Quantity::w,    Quantity::s,
                                    Quantity::t,  Quantity::h2, Quantity::coat, Quantity::er_coat};

double spread_of(const Spread& s, Quantity q) {
  switch (q) {
    case Quantity::er:
      return s.er;
    case Quantity::h:
      return s.h;
    case Quantity::w:
      return s.w;
    case Quantity::s:
      return s.s;
    case Quantity::t:
      return s.t;
    case Quantity::h2:
      return s.h2;
    case Quantity::coat:
      return s.coat;
    case Quantity::er_coat:
      return s.er_coat;
  }
  return 0.0;
}

// The quadratic's terms at u (n values): 1, u_i, u_i u_j (i <= j); their count.
constexpr std::size_t kMaxTerms = 45;  // eight quantities
std::size_t terms(const double* u, std::size_t n, std::array<double, kMaxTerms>& out) {
  std::size_t k = 0;
  out[k++] = 1.0;
  for (std::size_t i = 0; i < n; ++i) out[k++] = u[i];
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i; j < n; ++j) out[k++] = u[i] * u[j];
  return k;
}

}  // namespace

LocalModel::LocalModel(const Geometry& nominal, const Spread& spread, const LocalOptions& options)
    : nominal_(nominal) {
  require(options.checks >= 1 && options.tolerance > 0.0, "local model: bad options");
  {
    const std::string reason = check(nominal);
    require(reason.empty(), "local model: " + reason);
  }
  for (Quantity q : kQuantities) {
    const double h = spread_of(spread, q);
    require(std::isfinite(h) && h >= 0.0, "local model: a spread must be finite and >= 0");
    if (h == 0.0) continue;
    const double c = value_of(nominal, q);
    require(std::isfinite(c), "local model: a varied quantity must be finite (no open cover)");
    varied_.push_back(q);
    centre_.push_back(c);
    half_.push_back(h);
  }
  require(!varied_.empty(), "local model: nothing varies");
  const std::size_t n = varied_.size();
  const auto at_u = [&](const std::vector<double>& u) {
    Geometry g = nominal;
    for (std::size_t i = 0; i < n; ++i) field_of(g, varied_[i]) = centre_[i] + half_[i] * u[i];
    return g;
  };
  // The box's corners must be cross-sections the solver takes.
  for (std::size_t i = 0; i < n; ++i)
    for (double sign : {-1.0, 1.0}) {
      std::vector<double> u(n, 0.0);
      u[i] = sign;
      const std::string reason = check(at_u(u));
      require(reason.empty(), "local model: the spread reaches " + reason);
    }

  // The design: centre, axial points, one point per pair, n random points.
  std::mt19937_64 rng(options.seed);
  std::uniform_real_distribution<double> box(-1.0, 1.0);
  std::vector<std::vector<double>> design{std::vector<double>(n, 0.0)};
  for (std::size_t i = 0; i < n; ++i)
    for (double sign : {-1.0, 1.0}) {
      std::vector<double> u(n, 0.0);
      u[i] = sign;
      design.push_back(u);
    }
  std::size_t pair = 0;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j, ++pair) {
      std::vector<double> u(n, 0.0);
      u[i] = 1.0;
      u[j] = pair % 2 == 0 ? 1.0 : -1.0;
      design.push_back(u);
    }
  for (std::size_t k = 0; k < n; ++k) {
    std::vector<double> u(n);
    for (double& v : u) v = box(rng);
    design.push_back(u);
  }
  std::array<double, kMaxTerms> row{};
  const Eigen::Index p = static_cast<Eigen::Index>(terms(design.front().data(), n, row));
  const Eigen::Index m = static_cast<Eigen::Index>(design.size());
  Eigen::MatrixXd a(m, p);
  Eigen::MatrixXd y(m, 4);
  for (Eigen::Index r = 0; r < m; ++r) {
    const std::vector<double>& u = design[static_cast<std::size_t>(r)];
    terms(u.data(), n, row);
    for (Eigen::Index c = 0; c < p; ++c) a(r, c) = row[static_cast<std::size_t>(c)];
    const Solved s = solved(at_u(u), options.settings);
    for (int k = 0; k < 4; ++k) {
      y(r, k) = s.ln_c[k];
      estimate_[k] = std::max(estimate_[k], s.estimate[k]);
    }
  }
  solutions_ = static_cast<int>(m);
  const Eigen::MatrixXd x = a.colPivHouseholderQr().solve(y);
  for (int k = 0; k < 4; ++k) {
    coefficients_[k].resize(static_cast<std::size_t>(p));
    for (Eigen::Index c = 0; c < p; ++c) coefficients_[k][static_cast<std::size_t>(c)] = x(c, k);
  }

  // Across S = 2 C the capacitances have a kink no quadratic follows.
  const auto range = [&](Quantity q) {
    for (std::size_t i = 0; i < n; ++i)
      if (varied_[i] == q) return std::pair{centre_[i] - half_[i], centre_[i] + half_[i]};
    const double v = value_of(nominal, q);
    return std::pair{v, v};
  };
  const auto [s_lo, s_hi] = range(Quantity::s);
  const auto [c_lo, c_hi] = range(Quantity::coat);
  const auto [e_lo, e_hi] = range(Quantity::er_coat);
  const bool coating = c_hi > 0.0 && (e_lo != 1.0 || e_hi != 1.0);
  if (coating && s_lo - 2.0 * c_hi < 0.0 && s_hi - 2.0 * c_lo > 0.0) return;

  // Fresh checks at random points of the box.
  holds_ = true;
  for (int k = 0; k < options.checks; ++k) {
    std::vector<double> u(n);
    for (double& v : u) v = box(rng);
    const Geometry g = at_u(u);
    Settings set = options.settings;
    set.method = Method::direct;
    const Result d = solve(g, set);
    ++solutions_;
    Result r = at_unchecked(g);
    for (const auto& [got, want] : {std::pair{r.zoe, d.zoe}, std::pair{r.zoo, d.zoo},
                                    std::pair{r.eff_e, d.eff_e}, std::pair{r.eff_o, d.eff_o}})
      deviation_ = std::max(deviation_, std::abs(got / want - 1.0));
  }
  holds_ = deviation_ <= options.tolerance;
}

bool LocalModel::covers(const Geometry& g) const {
  for (Quantity q : kQuantities) {
    const double v = value_of(g, q);
    const auto it = std::find(varied_.begin(), varied_.end(), q);
    if (it == varied_.end()) {
      if (v != value_of(nominal_, q)) return false;
      continue;
    }
    const std::size_t i = static_cast<std::size_t>(it - varied_.begin());
    const double slack = 1e-12 * std::max(std::abs(centre_[i]), half_[i]);
    if (!(std::abs(v - centre_[i]) <= half_[i] + slack)) return false;
  }
  return true;
}

Result LocalModel::at(const Geometry& g) const {
  if (!holds_) throw std::domain_error("local model: it did not hold at its checks");
  if (!covers(g)) throw std::domain_error("local model: outside its box");
  return at_unchecked(g);
}

Result LocalModel::at_unchecked(const Geometry& g) const {
  double u[8];
  const std::size_t n = varied_.size();
  for (std::size_t i = 0; i < n; ++i) u[i] = (value_of(g, varied_[i]) - centre_[i]) / half_[i];
  std::array<double, kMaxTerms> row{};
  const std::size_t count = terms(u, n, row);
  double ln_c[4];
  for (int k = 0; k < 4; ++k) {
    double sum = 0.0;
    for (std::size_t c = 0; c < count; ++c) sum += coefficients_[k][c] * row[c];
    ln_c[k] = sum;
  }
  // A margin over the deviation seen at the checks.
  return result_of(ln_c, estimate_, 1.5 * deviation_);
}

}  // namespace kx::field
