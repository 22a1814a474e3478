// Monte Carlo tolerance of a board cross-section's line or pair on the
// general solver (tolerance/stack_tolerance.h): the draws of the stack's
// variables, the main pass, the one-at-a-time passes of the shares and the
// statistics of tolerance/statistics.h.
#include "tolerance/stack_tolerance.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <thread>

#include <kestrelix/field.h>
#include <kestrelix/stack_design.h>
#include <kestrelix/stop.h>
#include <kestrelix/validity.h>

#include "tolerance/statistics.h"
#include "tolerance/stream.h"

namespace kx::tol {
namespace {

namespace ks = kx::stack;

constexpr unsigned kMaxThreads = 256;

// One drawn quantity: a variable of the stack, or the traces' width, gap
// or etch offset.
struct Var {
  StackParam param = sp_h;
  bool of_stack = false;
  ks::Variable v;
  double nominal = 0.0;
  double scale = 0.0;  // sigma (normal) or half-width (uniform)
};

StackParam param_of(ks::Variable::Kind k) {
  switch (k) {
    case ks::Variable::Kind::layer_thickness:
      return sp_h;
    case ks::Variable::Kind::layer_er:
      return sp_er;
    case ks::Variable::Kind::conductor_thickness:
      return sp_t;
    case ks::Variable::Kind::conductor_inset:
      return sp_inset;
    case ks::Variable::Kind::mask_er:
      return sp_mask_er;
    case ks::Variable::Kind::trace_width:
      return sp_w;
    default:
      return sp_mask;
  }
}

double first_width(const ks::Stack& s) { return s.conductors[s.signals().front()].bottom_width(); }
double first_gap(const ks::Stack& s) {
  const std::vector<std::size_t> sig = s.signals();
  if (sig.size() < 2) return 0.0;
  const ks::Conductor& a = s.conductors[sig[0]];
  const ks::Conductor& b = s.conductors[sig[1]];
  if (a.interface != b.interface)
    return std::abs(0.5 * (b.left + b.right) - 0.5 * (a.left + a.right));
  return a.left < b.left ? b.left - a.right : a.left - b.right;
}

std::vector<Var> variables_of(const StackStudy& st) {
  std::vector<Var> out;
  for (const ks::Variable& v : ks::variables(st.nominal)) {
    if (v.kind == ks::Variable::Kind::trace_width) continue;  // the width, gap and etch below
    out.push_back({param_of(v.kind), true, v, ks::value(st.nominal, v), 0.0});
  }
  out.push_back({sp_w, false, {}, first_width(st.nominal), 0.0});
  if (st.pair) out.push_back({sp_s, false, {}, first_gap(st.nominal), 0.0});
  out.push_back({sp_etch, false, {}, 0.0, 0.0});
  for (Var& v : out) {
    const auto p = static_cast<std::size_t>(v.param);
    const double half = st.relative[p] ? st.half[p] * std::abs(v.nominal) : st.half[p];
    v.scale = st.dist == Dist::normal ? half / 3.0 : half;
  }
  return out;
}

// The stack of draws z, only the quantities of `active` moved.
ks::Stack drawn(const StackStudy& st, const std::vector<Var>& vars, const std::vector<double>& z,
                const std::array<bool, n_stack_params>& active) {
  std::vector<std::pair<ks::Variable, double>> values;
  double dw = 0.0, ds = 0.0, x = 0.0;
  for (std::size_t k = 0; k < vars.size(); ++k) {
    const Var& v = vars[k];
    const double d = active[static_cast<std::size_t>(v.param)] ? z[k] * v.scale : 0.0;
    if (v.of_stack) {
      values.emplace_back(v.v, v.nominal + d);
    } else if (v.param == sp_w) {
      dw = d;
    } else if (v.param == sp_s) {
      ds = d;
    } else {
      x = d;
    }
  }
  const ks::Stack s = ks::with_values(st.nominal, values);
  return ks::with_width_and_gap(s, first_width(st.nominal) + dw - 2.0 * x,
                                first_gap(st.nominal) + ds + 2.0 * x);
}

enum class Outcome : unsigned char { ok, field_error, unphysical, failed };

struct StackSample {
  std::vector<double> fig;
  Outcome status = Outcome::ok;
  int redraws = 0;
};

// The figures of a solution and its largest error estimate.
std::vector<double> figures_of(const ks::Solution& sol, bool pair, double delay_scale,
                               double& error) {
  if (pair) {
    const ks::PairFigures p = ks::pair(sol, 0, 1);
    error = std::max({p.error_zoe, p.error_zoo, p.error_eff_e, p.error_eff_o});
    return {p.zdiff,
            p.zcomm,
            p.zoe,
            p.zoo,
            p.eff_e,
            p.eff_o,
            p.delay_e * delay_scale,
            p.delay_o * delay_scale};
  }
  const ks::LineFigures l = ks::line(sol, 0);
  error = std::max(l.error_z0, l.error_eff);
  return {l.z0, l.eff, l.delay * delay_scale};
}

double promised(const ks::Settings& s) {
  return field::promised_error(s.accuracy == ks::Accuracy::fine ? field::Accuracy::fine
                                                                : field::Accuracy::standard);
}

StackSample take(const StackStudy& st, const std::vector<Var>& vars,
                 const std::array<bool, n_stack_params>& active, std::uint64_t index) {
  Stream stream(st.seed, index);
  std::vector<double> z(vars.size());
  const auto draw = [&] {
    for (double& x : z)
      x = st.dist == Dist::normal ? stream.normal() : 2.0 * stream.uniform() - 1.0;
  };
  StackSample out;
  draw();
  ks::Stack s = drawn(st, vars, z, active);
  while (!ks::check(s).empty()) {
    if (++out.redraws > max_redraws) {
      out.status = Outcome::unphysical;
      return out;
    }
    draw();
    s = drawn(st, vars, z, active);
  }
  try {
    double error = 0.0;
    out.fig = figures_of(ks::solve(s, st.settings), st.pair, st.delay_scale, error);
    for (const double v : out.fig)
      if (!std::isfinite(v)) out.status = Outcome::failed;
    if (out.status == Outcome::ok && error > promised(st.settings))
      out.status = Outcome::field_error;
  } catch (const std::exception&) {
    out.status = Outcome::failed;
  }
  return out;
}

// Samples 0 .. n - 1 on `threads` threads; throws Stopped or Interrupted.
std::vector<StackSample> pass(const StackStudy& st, const std::vector<Var>& vars,
                              const std::array<bool, n_stack_params>& active, long long n,
                              unsigned threads) {
  std::vector<StackSample> out(static_cast<std::size_t>(n));
  std::atomic<long long> next{0};
  const auto work = [&] {
    for (long long i = next++; i < n; i = next++) {
      if (stop_requested(st.stop)) return;
      out[static_cast<std::size_t>(i)] = take(st, vars, active, static_cast<std::uint64_t>(i));
    }
  };
  // The calling thread works too; a thread that cannot start leaves its share to the others.
  std::vector<std::thread> pool;
  try {
    for (unsigned k = 1; k < threads && static_cast<long long>(k) < n; ++k) pool.emplace_back(work);
  } catch (const std::system_error&) {
  }
  work();
  for (std::thread& t : pool) t.join();
  check_stop(st.stop);
  return out;
}

bool parse(std::string_view text, double& out) {
  if (text.empty()) return false;
  if (text.front() == '+') text.remove_prefix(1);
  const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() && std::isfinite(out);
}

}  // namespace

std::vector<std::string> stack_figure_names(bool pair) {
  if (pair) return {"zdiff", "zcomm", "zoe", "zoo", "eff_e", "eff_o", "delay_e", "delay_o"};
  return {"z0", "eff", "delay"};
}

const char* stack_figure_unit(const std::string& name) {
  if (name.rfind("delay", 0) == 0) return "delay";
  if (name.front() == 'z') return "ohm";
  return "";
}

StackLimit parse_stack_limit(std::string_view text, bool pair) {
  const std::string whole(text);
  const auto eq = text.find('=');
  if (eq == std::string_view::npos)
    throw Error("limit '" + whole + "' is not NAME=MIN:MAX or NAME=+-X");
  const std::vector<std::string> names = stack_figure_names(pair);
  const std::string name(text.substr(0, eq));
  StackLimit lim;
  const auto it = std::find(names.begin(), names.end(), name);
  if (it == names.end()) {
    std::string known;
    for (const std::string& n : names) known += (known.empty() ? "" : ", ") + n;
    throw Error("unknown figure '" + name + "' in limit (one of " + known + ")");
  }
  lim.figure = static_cast<int>(it - names.begin());
  std::string_view rest = text.substr(eq + 1);
  const auto colon = rest.find(':');
  const std::string_view lo = colon == std::string_view::npos ? rest : rest.substr(0, colon);
  const std::string_view hi = colon == std::string_view::npos ? "" : rest.substr(colon + 1);
  const std::string_view about = colon == std::string_view::npos ? rest : hi;
  if (about.substr(0, 2) == "+-") {
    // +-X about the nominal value, or C:+-X about C (X may be a percentage of C).
    std::string_view x = about.substr(2);
    const bool pct = !x.empty() && x.back() == '%';
    if (pct) x.remove_suffix(1);
    double half = 0.0, centre = 0.0;
    const bool centred = colon != std::string_view::npos;
    if (!parse(x, half) || half < 0.0 || (centred && !parse(lo, centre)) || (pct && !centred)) {
      throw Error("limit '" + whole + "': +-X needs a number X, 0 or above (C:+-X% a centre C)");
    }
    if (pct) half *= std::abs(centre) / 100.0;
    lim.min = centre - half;
    lim.max = centre + half;
    lim.relative = !centred;
    return lim;
  }
  if (colon == std::string_view::npos)
    throw Error("limit '" + whole + "' is not NAME=MIN:MAX or NAME=+-X");
  lim.min = -std::numeric_limits<double>::infinity();
  lim.max = std::numeric_limits<double>::infinity();
  if ((!lo.empty() && !parse(lo, lim.min)) || (!hi.empty() && !parse(hi, lim.max)))
    throw Error("limit '" + whole + "': MIN and MAX must be numbers");
  if (lim.min > lim.max) throw Error("limit '" + whole + "': MIN is above MAX");
  return lim;
}

std::string check_stack(const StackStudy& st) {
  const std::size_t n = st.nominal.signals().size();
  if (n != (st.pair ? 2u : 1u)) return "a tolerance run takes the line or pair alone";
  for (int k = 0; k < n_stack_params; ++k) {
    const double h = st.half[static_cast<std::size_t>(k)];
    if (!(h >= 0.0) || !std::isfinite(h)) {
      return std::string("the tolerance of ") + stack_param_names[static_cast<std::size_t>(k)] +
             " must be 0 or above";
    }
  }
  if (!st.pair && st.half[sp_s] > 0.0) return "a line has no gap to vary";
  if (st.samples < 1 || st.samples > max_stack_samples)
    return "the number of samples must be between 1 and " + std::to_string(max_stack_samples);
  if (st.threads > kMaxThreads) return "at most " + std::to_string(kMaxThreads) + " threads";
  if (!(st.delay_scale > 0.0)) return "the delay's unit must be above 0";
  const std::size_t figures = stack_figure_names(st.pair).size();
  for (const StackLimit& lim : st.limits) {
    if (lim.figure < 0 || static_cast<std::size_t>(lim.figure) >= figures)
      return "unknown figure in a limit";
    if (!(lim.min <= lim.max)) return "a limit's MIN is above its MAX";
  }
  if (const std::string why = ks::check(st.nominal); !why.empty())
    return "the nominal cross-section: " + why;
  return "";
}

StackSummary run_stack(const StackStudy& st) {
  if (const std::string why = check_stack(st); !why.empty()) throw Error(why);
  unsigned threads = st.threads;
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  StackSummary sum;
  sum.samples = st.samples;
  sum.figures = stack_figure_names(st.pair);
  const std::size_t nf = sum.figures.size();
  sum.fig.resize(nf);
  const std::vector<Var> vars = variables_of(st);
  for (const Var& v : vars) ++sum.moved[static_cast<std::size_t>(v.param)];

  // The nominal stack.
  double error = 0.0;
  std::vector<double> nominal;
  try {
    nominal = figures_of(ks::solve(st.nominal, st.settings), st.pair, st.delay_scale, error);
  } catch (const std::exception& e) {
    throw Error(std::string("the nominal cross-section: ") + e.what());
  }
  sum.nominal_error = error;
  if (error > promised(st.settings)) sum.nominal_flags |= flag_field_error;
  for (std::size_t i = 0; i < nf; ++i) sum.fig[i].nominal = nominal[i];
  sum.limits = st.limits;
  for (StackLimit& lim : sum.limits) {
    if (!lim.relative) continue;
    lim.min += nominal[static_cast<std::size_t>(lim.figure)];
    lim.max += nominal[static_cast<std::size_t>(lim.figure)];
    lim.relative = false;
  }

  // The main pass: every tolerance at once.
  std::array<bool, n_stack_params> all{};
  all.fill(true);
  const std::vector<StackSample> main = pass(st, vars, all, st.samples, threads);
  std::vector<Welford> acc(nf);
  std::vector<std::vector<float>> values(nf);
  std::vector<long long> passed(sum.limits.size());
  long long joint = 0;
  for (const StackSample& s : main) {
    sum.redraws += s.redraws;
    if (s.status == Outcome::unphysical) {
      ++sum.unphysical;
      continue;
    }
    if (s.status == Outcome::failed) {
      ++sum.failed;
      continue;
    }
    (s.status == Outcome::ok ? sum.valid : sum.field_error) += 1;
    for (std::size_t i = 0; i < nf; ++i) {
      acc[i].add(s.fig[i]);
      values[i].push_back(static_cast<float>(s.fig[i]));
    }
    bool all_pass = s.status == Outcome::ok;
    for (std::size_t j = 0; j < sum.limits.size(); ++j) {
      const StackLimit& lim = sum.limits[j];
      const double v = s.fig[static_cast<std::size_t>(lim.figure)];
      const bool ok = s.status == Outcome::ok && v >= lim.min && v <= lim.max;
      passed[j] += ok ? 1 : 0;
      all_pass = all_pass && ok;
    }
    joint += all_pass ? 1 : 0;
  }
  const long long evaluated = sum.valid + sum.field_error;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (std::size_t i = 0; i < nf; ++i) {
    StackFigureStats& f = sum.fig[i];
    const Welford& w = acc[i];
    f.count = w.n;
    f.mean = w.n > 0 ? w.mean : nan;
    f.stddev = w.n > 0 ? std::sqrt(w.variance()) : nan;
    f.min = w.n > 0 ? w.min : nan;
    f.max = w.n > 0 ? w.max : nan;
    f.histogram = histogram_of(values[i], f.min, f.max);
    f.pct = percentiles_of(values[i]);
  }
  for (const long long p : passed) sum.yields.push_back(yield_of(p, evaluated));
  sum.joint = yield_of(joint, evaluated);

  // The shares: each tolerance alone over the first samples of the same streams.
  sum.oat_samples = std::min(st.samples, stack_oat_samples);
  std::vector<std::array<double, n_stack_params>> var(nf);
  for (int k = 0; k < n_stack_params; ++k) {
    const auto uk = static_cast<std::size_t>(k);
    if (st.half[uk] == 0.0 || sum.moved[uk] == 0) continue;
    std::array<bool, n_stack_params> one{};
    one[uk] = true;
    std::vector<Welford> a(nf);
    for (const StackSample& s : pass(st, vars, one, sum.oat_samples, threads)) {
      if (s.status != Outcome::ok && s.status != Outcome::field_error) continue;
      for (std::size_t i = 0; i < nf; ++i) a[i].add(s.fig[i]);
    }
    for (std::size_t i = 0; i < nf; ++i) var[i][uk] = a[i].variance();
  }
  for (std::size_t i = 0; i < nf; ++i) {
    double total = 0.0;
    for (const double v : var[i]) total += v;
    for (std::size_t k = 0; k < n_stack_params; ++k) {
      sum.fig[i].share[k] = total > 0.0 ? var[i][k] / total : 0.0;
    }
  }
  return sum;
}

}  // namespace kx::tol
