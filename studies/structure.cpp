// The lines of a board cross-section on the general solver: the search, the
// figures, the crosstalk from aggressors and the closed forms beside them
// (kestrelix/structure.h).
#include <kestrelix/structure.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <stdexcept>

#include <kestrelix/coupled_line.h>
#include <kestrelix/field.h>
#include <kestrelix/single_line.h>
#include <kestrelix/stack_design.h>
#include <kestrelix/stop.h>
#include <kestrelix/validity.h>

namespace kx::study {
namespace {

using stack::Conductor;
using stack::Stack;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double promised(const stack::Settings& s) {
  return field::promised_error(s.accuracy == stack::Accuracy::fine ? field::Accuracy::fine
                                                                   : field::Accuracy::standard);
}

// The designed signals (the line, or the pair) and the rest, in the stack's order.
std::vector<std::size_t> designed(const Stack& s, bool pair) {
  std::vector<std::size_t> sig = s.signals();
  sig.resize(std::min<std::size_t>(sig.size(), pair ? 2 : 1));
  return sig;
}

double gap_of(const Stack& s, const std::vector<std::size_t>& sig) {
  if (sig.size() < 2) return 0.0;
  const Conductor& a = s.conductors[sig[0]];
  const Conductor& b = s.conductors[sig[1]];
  if (a.interface != b.interface)
    return std::abs(0.5 * (b.left + b.right) - 0.5 * (a.left + a.right));
  return a.left < b.left ? b.left - a.right : a.left - b.right;
}

// The search of the plan on its stack.
stack::Design search(const StructurePlan& p) {
  switch (p.solve) {
    case StructureSolve::width_for_z0:
      return stack::width_for_z0(p.stack, p.z0, p.settings, p.tolerance);
    case StructureSolve::gap_for_zdiff:
      return stack::gap_for_zdiff(p.stack, p.zdiff, p.settings, p.tolerance);
    case StructureSolve::width_for_zdiff:
      return stack::width_for_zdiff(p.stack, p.zdiff, p.settings, p.tolerance);
    case StructureSolve::width_and_gap_at_pitch:
      return stack::width_and_gap_for_zdiff_at_pitch(p.stack, p.zdiff, p.settings, p.tolerance);
    case StructureSolve::width_and_gap_for_zdiff_and_zcomm:
      return stack::width_and_gap_for_zdiff_and_zcomm(p.stack, p.zdiff, p.zcomm, p.settings,
                                                      p.tolerance);
    case StructureSolve::none:
      break;
  }
  throw std::logic_error("no search");
}

// A plan the study cannot take: "" or the reason.
std::string refusal(const StructurePlan& p) {
  const std::size_t n = p.stack.signals().size();
  const std::size_t need = p.pair ? 2 : 1;
  if (n < need)
    return p.pair ? "a pair needs two signal conductors" : "a line needs a signal conductor";
  const bool pair_search = p.solve != StructureSolve::none &&
                           p.solve != StructureSolve::width_for_z0;
  if (p.solve == StructureSolve::width_for_z0 && p.pair) return "the width for Z0 is a line's";
  if (pair_search && !p.pair) return "the search for Zdiff is a pair's";
  if (p.solve != StructureSolve::none && n != need)
    return "a search takes the line or pair alone (no further signals in the stack)";
  if (p.neighbour_gap != 0.0 && n != need)
    return "aggressors beside the line or pair take a stack with the line or pair alone";
  if (!(p.neighbour_gap >= 0.0) || !std::isfinite(p.neighbour_gap))
    return "the neighbour's gap must be a number above 0";
  if (!(p.tolerance > 0.0)) return "the tolerance must be above 0 ohm";
  return "";
}

// The program's closed forms for the cross-section, where it has them: an
// open microstrip of rectangular strips, one or a symmetric pair, no mask.
ClosedForms closed_forms(const StructurePlan& p, const Structure& r) {
  ClosedForms out;
  const Stack& s = r.stack;
  const std::vector<std::size_t> sig = s.signals();
  const bool microstrip = s.layers.size() == 1 && !s.top_plane &&
                          s.conductors.size() == sig.size() && sig.size() == (p.pair ? 2u : 1u);
  if (!microstrip) {
    out.reason =
        "the program has closed forms for the open microstrip (a single line and an edge-coupled "
        "pair, nothing else on the board) only";
    return out;
  }
  const Conductor& a = s.conductors[sig[0]];
  for (const std::size_t k : sig) {
    const Conductor& c = s.conductors[k];
    if (c.inset != 0.0) {
      out.reason =
          "the program's closed forms take rectangular strips (no etch factor or top width)";
      return out;
    }
    if (c.bottom_width() != a.bottom_width() || c.thickness != a.thickness) {
      out.reason = "the program's closed forms take a pair of equal strips";
      return out;
    }
  }
  if (s.mask.present()) {
    out.reason = "the program's closed forms do not model a solder mask";
    return out;
  }
  out.available = true;
  const auto in = [&](double v) { return static_cast<float>(v * p.inches_per_unit); };
  Section sec;
  sec.er = static_cast<float>(s.layers[0].er);
  sec.h = in(s.layers[0].thickness);
  sec.w = in(a.bottom_width());
  sec.s = in(p.pair ? r.gap : a.bottom_width());
  sec.t = in(a.thickness);
  const auto figure = [](const char* q, double closed, double field, double error) {
    return ClosedFigure{q, closed, field, 100.0 * (closed - field) / field, 100.0 * error};
  };
  if (p.pair) {
    CoupledLine line(ModelSettings{Model::closed});
    const Modes m = line.at(sec, 0.0f);
    const stack::PairFigures& f = r.pair;
    out.flags = m.flags;
    const auto d = [](float v) { return static_cast<double>(v); };
    out.figures = {figure("zoe_ohm", d(m.zoe), f.zoe, f.error_zoe),
                   figure("zoo_ohm", d(m.zoo), f.zoo, f.error_zoo),
                   figure("zdiff_ohm", 2.0 * d(m.zoo), f.zdiff, f.error_zoo),
                   figure("zcomm_ohm", 0.5 * d(m.zoe), f.zcomm, f.error_zoe),
                   figure("eff_e", d(m.eff_e), f.eff_e, f.error_eff_e),
                   figure("eff_o", d(m.eff_o), f.eff_o, f.error_eff_o)};
  } else {
    const SingleLine l = single_microstrip(sec);
    const stack::LineFigures& f = r.lines.front();
    out.flags = l.flags;
    out.figures = {figure("z0_ohm", static_cast<double>(l.z0), f.z0, f.error_z0),
                   figure("eff", static_cast<double>(l.eff), f.eff, f.error_eff)};
  }
  return out;
}

// The largest relative error estimate of the figures the study reports.
double largest_error(const Structure& r, bool pair) {
  double e = 0.0;
  for (const stack::LineFigures& l : r.lines) e = std::max({e, l.error_z0, l.error_eff});
  if (pair) {
    const stack::PairFigures& f = r.pair;
    e = std::max({e, f.error_zoe, f.error_zoo, f.error_eff_e, f.error_eff_o});
  }
  return e;
}

}  // namespace

Stack with_neighbours(const StructurePlan& plan, const Stack& s, std::string& why) {
  why.clear();
  if (plan.neighbour_gap == 0.0) return s;
  const std::vector<std::size_t> sig = designed(s, plan.pair);
  if (sig.empty()) {
    why = "no signal to put a neighbour beside";
    return s;
  }
  const Conductor first = s.conductors[sig[0]];
  double left = stack::kUnbounded, right = -stack::kUnbounded;
  for (const std::size_t k : sig) {
    const Conductor& c = s.conductors[k];
    if (c.interface != first.interface) continue;
    left = std::min(left, c.left);
    right = std::max(right, c.right);
  }
  Stack out = s;
  const double w = first.bottom_width();
  Conductor a = first;
  a.name = "aggressor right";
  a.left = right + plan.neighbour_gap;
  a.right = a.left + w;
  out.conductors.push_back(a);
  if (plan.both_sides) {
    a.name = "aggressor left";
    a.right = left - plan.neighbour_gap;
    a.left = a.right - w;
    out.conductors.push_back(a);
  }
  // An aggressor on a coplanar ground (GCPW) is named as such.
  for (std::size_t i = s.conductors.size(); i < out.conductors.size(); ++i) {
    const Conductor& g = out.conductors[i];
    for (std::size_t k = 0; k < s.conductors.size(); ++k) {
      const Conductor& o = s.conductors[k];
      if (o.role == stack::Role::signal || o.interface != g.interface) continue;
      if (g.left < o.right && o.left < g.right) {
        why = "the " + g.name + " at that gap lies on conductors[" + std::to_string(k) +
              "] (a ground beside the line): put it beyond the ground";
        return out;
      }
    }
  }
  why = stack::check(out);
  return out;
}

Structure structure(const StructurePlan& plan, const Stop* stop) {
  check_stop(stop);
  Structure r;
  r.reason = refusal(plan);
  if (!r.reason.empty()) {
    r.flags = flag_refused;
    return r;
  }
  try {
    if (plan.solve != StructureSolve::none) {
      stack::Design d = search(plan);
      r.stack = stack::with_width_and_gap(plan.stack, d.width, d.gap);
      r.solution = std::move(d.solution);
      r.solves = d.solves;
    } else {
      r.reason = stack::check(plan.stack);
      if (!r.reason.empty()) {
        r.flags = flag_refused;
        return r;
      }
      r.stack = plan.stack;
      r.solution = stack::solve(plan.stack, plan.settings);
      r.solves = 1;
    }
  } catch (const std::invalid_argument& e) {
    r.reason = e.what();
    r.flags = plan.solve != StructureSolve::none ? flag_no_converge : flag_refused;
    return r;
  } catch (const std::runtime_error& e) {
    r.reason = e.what();
    r.flags = flag_not_finite;
    return r;
  }
  const std::vector<std::size_t> sig = designed(r.stack, plan.pair);
  r.width = r.stack.conductors[sig[0]].bottom_width();
  r.gap = gap_of(r.stack, sig);
  for (std::size_t i = 0; i < r.solution.lines.size(); ++i) {
    r.lines.push_back(stack::line(r.solution, i));
  }
  if (plan.pair) r.pair = stack::pair(r.solution, 0, 1);

  // The aggressors: of the plan, or the stack's further signals.
  const std::size_t victims = plan.pair ? 2 : 1;
  const stack::Solution* xs = &r.solution;
  if (plan.neighbour_gap > 0.0) {
    check_stop(stop);
    std::string why;
    r.crosstalk_stack = with_neighbours(plan, r.stack, why);
    if (!why.empty()) {
      r.reason = "the solver cannot take the stack with the neighbours: " + why;
      r.flags = flag_refused;
      return r;
    }
    try {
      r.crosstalk_solution = stack::solve(r.crosstalk_stack, plan.settings);
    } catch (const std::exception& e) {
      r.reason = e.what();
      r.flags = flag_not_finite;
      return r;
    }
    xs = &r.crosstalk_solution;
  }
  for (std::size_t a = victims; a < xs->lines.size(); ++a) {
    CrosstalkRow row;
    row.aggressor = a;
    row.figures = plan.pair ? stack::pair_crosstalk(*xs, 0, 1, a) : stack::crosstalk(*xs, 0, a);
    const Conductor& ag = xs->stack.conductors[xs->lines[a]];
    row.gap = kNaN;
    for (std::size_t v = 0; v < victims; ++v) {
      const Conductor& c = xs->stack.conductors[xs->lines[v]];
      if (c.interface != ag.interface) continue;
      const double g = ag.left >= c.right ? ag.left - c.right : c.left - ag.right;
      row.gap = std::isnan(row.gap) ? g : std::min(row.gap, g);
    }
    r.crosstalk.push_back(row);
  }
  r.solved = true;
  if (largest_error(r, plan.pair) > promised(plan.settings)) r.flags |= flag_field_error;
  if (plan.closed_forms) r.closed = closed_forms(plan, r);
  return r;
}

}  // namespace kx::study
