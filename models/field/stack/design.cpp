// Synthesis on the general solver and the tolerance hooks (see
// include/kestrelix/stack_design.h).
#include "kestrelix/stack_design.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <sstream>
#include <stdexcept>

namespace kx::stack {
namespace {

// The most field solutions one synthesis may take.
constexpr int kMaxSolves = 30;
// The largest step of a search in the logarithm of a dimension (a factor
// of e): the impedances are smooth but far from linear over more.
constexpr double kMaxStep = 1.0;

std::string describe(const char* what, double v) {
  std::ostringstream out;
  out << what << " (" << v << ")";
  return out.str();
}

// Moves a ground or floating conductor with the signal edge it faces.
void follow(Conductor& c, double old_edge, double new_edge) {
  const double d = new_edge - old_edge;
  if (std::isfinite(c.left)) c.left += d;
  if (std::isfinite(c.right)) c.right += d;
}

}  // namespace

Stack with_width_and_gap(const Stack& proto, double width, double gap) {
  Stack s = proto;
  std::vector<std::size_t> sig = s.signals();
  if (sig.empty() || sig.size() > 2)
    throw std::invalid_argument("synthesis takes one signal (a line) or two (a pair)");
  std::sort(sig.begin(), sig.end(), [&](std::size_t a, std::size_t b) {
    return s.conductors[a].left < s.conductors[b].left;
  });
  const std::vector<Conductor> old = s.conductors;
  // The signals' new bottom faces.
  if (sig.size() == 1) {
    Conductor& c = s.conductors[sig[0]];
    const double mid = 0.5 * (c.left + c.right);
    c.left = mid - 0.5 * width;
    c.right = mid + 0.5 * width;
  } else {
    Conductor& a = s.conductors[sig[0]];
    Conductor& b = s.conductors[sig[1]];
    if (a.interface == b.interface) {
      const double mid = 0.5 * (a.left + b.right);
      a.left = mid - 0.5 * gap - width;
      a.right = mid - 0.5 * gap;
      b.left = mid + 0.5 * gap;
      b.right = mid + 0.5 * gap + width;
    } else {
      // Broadside: the gap is the lateral offset of the centres.
      const double ca = 0.5 * (a.left + a.right), cb = 0.5 * (b.left + b.right);
      const double mid = 0.5 * (ca + cb);
      const double sign = cb >= ca ? 1.0 : -1.0;
      a.left = mid - sign * 0.5 * gap - 0.5 * width;
      a.right = a.left + width;
      b.left = mid + sign * 0.5 * gap - 0.5 * width;
      b.right = b.left + width;
    }
  }
  // Other metal on a signal's interface keeps its gap to the nearest signal edge.
  for (std::size_t i = 0; i < s.conductors.size(); ++i) {
    if (s.conductors[i].role == Role::signal) continue;
    const Conductor& o = old[i];
    double best = kUnbounded, from = 0.0, to = 0.0;
    for (const std::size_t k : sig) {
      if (old[k].interface != o.interface) continue;
      if (o.left >= old[k].right && o.left - old[k].right < best) {
        best = o.left - old[k].right;
        from = old[k].right;
        to = s.conductors[k].right;
      }
      if (o.right <= old[k].left && old[k].left - o.right < best) {
        best = old[k].left - o.right;
        from = old[k].left;
        to = s.conductors[k].left;
      }
    }
    if (std::isfinite(best)) follow(s.conductors[i], from, to);
  }
  return s;
}

namespace {

double first_width(const Stack& p) { return p.conductors[p.signals().front()].bottom_width(); }
double first_gap(const Stack& p) {
  const std::vector<std::size_t> sig = p.signals();
  if (sig.size() < 2) return 0.0;
  const Conductor& a = p.conductors[sig[0]];
  const Conductor& b = p.conductors[sig[1]];
  if (a.interface != b.interface)
    return std::abs(0.5 * (b.left + b.right) - 0.5 * (a.left + a.right));
  return a.left < b.left ? b.left - a.right : a.left - b.right;
}

// A search's state: the field solutions it took and the last answer.
struct Search {
  const Stack& proto;
  const Settings& settings;
  Design best;
  int solves = 0;

  // The design at (width, gap), or false when the stack is outside the
  // solver's range.
  bool at(double width, double gap, Design& d) {
    if (solves >= kMaxSolves)
      throw std::invalid_argument("the synthesis did not converge in 30 field solutions");
    const Stack s = with_width_and_gap(proto, width, gap);
    if (!(width > 0.0) || !std::isfinite(width) || !std::isfinite(gap) || !check(s).empty())
      return false;
    ++solves;
    d.width = width;
    d.gap = gap;
    d.solution = solve(s, settings);
    if (d.solution.c.n == 1) {
      d.z0 = line(d.solution).z0;
    } else {
      const PairFigures p = pair(d.solution);
      d.zdiff = p.zdiff;
      d.zcomm = p.zcomm;
    }
    d.solves = solves;
    return true;
  }
};

// Newton on one variable: find u (the logarithm of a dimension) with
// ln z(u) = ln target; `slope` the first guess of d ln z / du. The
// dimensions of u come from `dims`; the impedance from `z`.
Design newton1(Search& search, double u0, double slope, double target, double tolerance,
               const std::function<std::pair<double, double>(double)>& dims,
               const std::function<double(const Design&)>& z) {
  if (!(target > 0.0) || !std::isfinite(target))
    throw std::invalid_argument(describe("the target impedance must be positive", target));
  Design d;
  const auto eval = [&](double u, Design& out) {
    const auto [w, g] = dims(u);
    return search.at(w, g, out);
  };
  if (!eval(u0, d))
    throw std::invalid_argument("the prototype stack is outside the solver's range");
  double f = std::log(z(d) / target);
  double u = u0;
  double lo = -kUnbounded, hi = kUnbounded;  // a bracket of the root in u, once found
  double prev_u = u, prev_f = f;
  bool have_prev = false;
  while (std::abs(z(d) - target) > tolerance) {
    // The bracket: f changes sign between lo and hi (f decreasing or
    // increasing as the slope says).
    if ((f > 0.0) == (slope < 0.0)) {
      lo = std::max(lo, u);
    } else {
      hi = std::min(hi, u);
    }
    double s = slope;
    if (have_prev && u != prev_u) {
      const double secant = (f - prev_f) / (u - prev_u);
      if (secant * slope > 0.0) s = secant;
    }
    double next = u - std::clamp(f / s, -kMaxStep, kMaxStep);
    if (std::isfinite(lo) && std::isfinite(hi) && (next <= lo || next >= hi))
      next = 0.5 * (lo + hi);
    Design trial;
    int shrink = 0;
    while (!eval(next, trial)) {
      // Outside the solver's range: back toward the last good point.
      if (++shrink > 6)
        throw std::invalid_argument(
            describe("the target impedance is out of reach: the width or gap it needs lies outside "
                     "the solver's range",
                     target));
      next = 0.5 * (next + u);
    }
    prev_u = u;
    prev_f = f;
    have_prev = true;
    u = next;
    d = trial;
    f = std::log(z(d) / target);
  }
  return d;
}

}  // namespace

Design width_for_z0(const Stack& proto, double z0, const Settings& settings, double tolerance) {
  if (proto.signals().size() != 1) throw std::invalid_argument("width_for_z0 takes one signal");
  Search search{proto, settings, {}, 0};
  const double gap = first_gap(proto);
  return newton1(
      search, std::log(first_width(proto)), -0.6, z0, tolerance,
      [&](double u) {
        return std::pair{std::exp(u), gap};
      },
      [](const Design& d) { return d.z0; });
}

Design gap_for_zdiff(const Stack& proto, double zdiff, const Settings& settings, double tolerance) {
  if (proto.signals().size() != 2) throw std::invalid_argument("gap_for_zdiff takes a pair");
  Search search{proto, settings, {}, 0};
  const double width = first_width(proto);
  return newton1(
      search, std::log(first_gap(proto)), 0.3, zdiff, tolerance,
      [&](double u) {
        return std::pair{width, std::exp(u)};
      },
      [](const Design& d) { return d.zdiff; });
}

Design width_for_zdiff(const Stack& proto, double zdiff, const Settings& settings,
                       double tolerance) {
  if (proto.signals().size() != 2) throw std::invalid_argument("width_for_zdiff takes a pair");
  Search search{proto, settings, {}, 0};
  const double gap = first_gap(proto);
  return newton1(
      search, std::log(first_width(proto)), -0.6, zdiff, tolerance,
      [&](double u) {
        return std::pair{std::exp(u), gap};
      },
      [](const Design& d) { return d.zdiff; });
}

Design width_and_gap_for_zdiff_at_pitch(const Stack& proto, double zdiff, const Settings& settings,
                                        double tolerance) {
  if (proto.signals().size() != 2)
    throw std::invalid_argument("width_and_gap_for_zdiff_at_pitch takes a pair");
  Search search{proto, settings, {}, 0};
  const double pitch = first_width(proto) + first_gap(proto);
  // u = logit of width / pitch: every u is a width and gap inside the pitch.
  const double f0 = first_width(proto) / pitch;
  return newton1(
      search, std::log(f0 / (1.0 - f0)), -0.6, zdiff, tolerance,
      [&](double u) {
        const double f = 1.0 / (1.0 + std::exp(-u));
        return std::pair{f * pitch, (1.0 - f) * pitch};
      },
      [](const Design& d) { return d.zdiff; });
}

Design width_and_gap_for_zdiff_and_zcomm(const Stack& proto, double zdiff, double zcomm,
                                         const Settings& settings, double tolerance) {
  if (proto.signals().size() != 2)
    throw std::invalid_argument("width_and_gap_for_zdiff_and_zcomm takes a pair");
  for (const double t : {zdiff, zcomm})
    if (!(t > 0.0) || !std::isfinite(t))
      throw std::invalid_argument(describe("the target impedance must be positive", t));
  Search search{proto, settings, {}, 0};
  // Newton on (ln w, ln g) -> (ln Zdiff, ln Zcomm), the Jacobian by
  // differences at the start, then Broyden's updates.
  std::array<double, 2> x{std::log(first_width(proto)), std::log(first_gap(proto))};
  const auto residual = [&](const Design& d) {
    return std::array<double, 2>{std::log(d.zdiff / zdiff), std::log(d.zcomm / zcomm)};
  };
  Design d;
  if (!search.at(std::exp(x[0]), std::exp(x[1]), d))
    throw std::invalid_argument("the prototype stack is outside the solver's range");
  std::array<double, 2> f = residual(d);
  std::array<std::array<double, 2>, 2> j{};
  constexpr double kDelta = 0.05;
  for (int k = 0; k < 2; ++k) {
    Design dk;
    std::array<double, 2> xk = x;
    xk[static_cast<std::size_t>(k)] += kDelta;
    if (!search.at(std::exp(xk[0]), std::exp(xk[1]), dk))
      throw std::invalid_argument("the prototype stack lies at the edge of the solver's range");
    const std::array<double, 2> fk = residual(dk);
    for (int i = 0; i < 2; ++i)
      j[static_cast<std::size_t>(i)][static_cast<std::size_t>(k)] =
          (fk[static_cast<std::size_t>(i)] - f[static_cast<std::size_t>(i)]) / kDelta;
  }
  while (std::abs(d.zdiff - zdiff) > tolerance || std::abs(d.zcomm - zcomm) > tolerance) {
    const double det = j[0][0] * j[1][1] - j[0][1] * j[1][0];
    if (!(std::abs(det) > 0.0))
      throw std::invalid_argument("Zdiff and Zcomm cannot be set apart by the width and gap here");
    std::array<double, 2> step{-(j[1][1] * f[0] - j[0][1] * f[1]) / det,
                               -(-j[1][0] * f[0] + j[0][0] * f[1]) / det};
    const double len = std::hypot(step[0], step[1]);
    if (len > kMaxStep) {
      step[0] *= kMaxStep / len;
      step[1] *= kMaxStep / len;
    }
    Design trial;
    int shrink = 0;
    while (!search.at(std::exp(x[0] + step[0]), std::exp(x[1] + step[1]), trial)) {
      if (++shrink > 6)
        throw std::invalid_argument(
            "the target impedances are out of reach: the width or gap they need lies outside the "
            "solver's range");
      step[0] *= 0.5;
      step[1] *= 0.5;
    }
    const std::array<double, 2> fn = residual(trial);
    // Broyden: J += (df - J dx) dx^T / |dx|^2.
    const std::array<double, 2> df{fn[0] - f[0], fn[1] - f[1]};
    const double dd = step[0] * step[0] + step[1] * step[1];
    for (std::size_t i = 0; i < 2; ++i) {
      const double r = df[i] - (j[i][0] * step[0] + j[i][1] * step[1]);
      for (std::size_t k = 0; k < 2; ++k) j[i][k] += r * step[k] / dd;
    }
    x = {x[0] + step[0], x[1] + step[1]};
    f = fn;
    d = trial;
  }
  return d;
}

// ---------------------------------------------------------------------------
// Tolerance hooks.

std::vector<Variable> variables(const Stack& s) {
  std::vector<Variable> out;
  for (std::size_t i = 0; i < s.layers.size(); ++i) {
    out.push_back({Variable::Kind::layer_thickness, i});
    out.push_back({Variable::Kind::layer_er, i});
  }
  if (!s.signals().empty()) out.push_back({Variable::Kind::trace_width, 0});
  const bool thick = std::any_of(s.conductors.begin(), s.conductors.end(),
                                 [](const Conductor& c) { return c.thickness > 0.0; });
  if (thick) {
    out.push_back({Variable::Kind::conductor_thickness, 0});
    out.push_back({Variable::Kind::conductor_inset, 0});
  }
  if (s.mask.present())
    for (const Variable::Kind k :
         {Variable::Kind::mask_over_trace, Variable::Kind::mask_on_substrate,
          Variable::Kind::mask_between, Variable::Kind::mask_er})
      out.push_back({k, 0});
  return out;
}

std::string name(const Variable& v) {
  const std::string layer = "layers[" + std::to_string(v.layer) + "]";
  switch (v.kind) {
    case Variable::Kind::layer_thickness:
      return layer + ".thickness";
    case Variable::Kind::layer_er:
      return layer + ".er";
    case Variable::Kind::trace_width:
      return "trace_width";
    case Variable::Kind::conductor_thickness:
      return "conductors.thickness";
    case Variable::Kind::conductor_inset:
      return "conductors.inset";
    case Variable::Kind::mask_over_trace:
      return "mask.over_trace";
    case Variable::Kind::mask_on_substrate:
      return "mask.on_substrate";
    case Variable::Kind::mask_between:
      return "mask.between";
    case Variable::Kind::mask_er:
      return "mask.er";
  }
  return "";
}

namespace {

// The conductor whose values stand for all: the first signal, for the
// thickness and inset the first thick conductor.
const Conductor& standing(const Stack& s, bool thick) {
  for (const Conductor& c : s.conductors)
    if (c.role == Role::signal && (!thick || c.thickness > 0.0)) return c;
  for (const Conductor& c : s.conductors)
    if (!thick || c.thickness > 0.0) return c;
  throw std::invalid_argument("the stack has no conductor for that variable");
}

}  // namespace

double value(const Stack& s, const Variable& v) {
  switch (v.kind) {
    case Variable::Kind::layer_thickness:
      return s.layers.at(v.layer).thickness;
    case Variable::Kind::layer_er:
      return s.layers.at(v.layer).er;
    case Variable::Kind::trace_width:
      return standing(s, false).bottom_width();
    case Variable::Kind::conductor_thickness:
      return standing(s, true).thickness;
    case Variable::Kind::conductor_inset:
      return standing(s, true).inset;
    case Variable::Kind::mask_over_trace:
      return s.mask.over_trace;
    case Variable::Kind::mask_on_substrate:
      return s.mask.on_substrate;
    case Variable::Kind::mask_between:
      return s.mask.between;
    case Variable::Kind::mask_er:
      return s.mask.er;
  }
  return 0.0;
}

Stack with_values(const Stack& s, const std::vector<std::pair<Variable, double>>& values) {
  Stack out = s;
  for (const auto& [v, x] : values) {
    switch (v.kind) {
      case Variable::Kind::layer_thickness:
        out.layers.at(v.layer).thickness = x;
        break;
      case Variable::Kind::layer_er:
        out.layers.at(v.layer).er = x;
        break;
      case Variable::Kind::trace_width: {
        const double d = x - standing(out, false).bottom_width();
        for (Conductor& c : out.conductors)
          if (c.role == Role::signal) {
            c.left -= 0.5 * d;
            c.right += 0.5 * d;
          }
        break;
      }
      case Variable::Kind::conductor_thickness: {
        const double d = x - standing(out, true).thickness;
        for (Conductor& c : out.conductors)
          if (c.thickness > 0.0) {
            const double t = c.thickness + d;
            c.inset *= t / c.thickness;
            c.thickness = t;
          }
        break;
      }
      case Variable::Kind::conductor_inset: {
        const double d = x - standing(out, true).inset;
        for (Conductor& c : out.conductors)
          if (c.thickness > 0.0) c.inset += d;
        break;
      }
      case Variable::Kind::mask_over_trace:
        out.mask.over_trace = x;
        break;
      case Variable::Kind::mask_on_substrate:
        out.mask.on_substrate = x;
        break;
      case Variable::Kind::mask_between:
        out.mask.between = x;
        break;
      case Variable::Kind::mask_er:
        out.mask.er = x;
        break;
    }
  }
  return out;
}

std::vector<Outcome> evaluate(const std::vector<Stack>& stacks, const Settings& settings) {
  std::vector<Outcome> out;
  out.reserve(stacks.size());
  for (const Stack& s : stacks) {
    Outcome o;
    o.reason = check(s);
    if (o.reason.empty()) {
      try {
        o.solution = solve(s, settings);
        o.solved = true;
      } catch (const std::exception& e) {
        o.reason = e.what();
      }
    }
    out.push_back(std::move(o));
  }
  return out;
}

}  // namespace kx::stack
