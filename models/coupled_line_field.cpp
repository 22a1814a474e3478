// The field model of the front door (Model::field): the field solver's
// static Zoe, Zoo, eff_e and eff_o of the cross-section, in 32 bits, handed
// to the chain's dispersion (lceff, lcdis) in place of the closed forms'
// static values. The losses stay the closed forms' (coupled_line.cpp forms
// them on the same geometry). The same path carries the closed forms'
// statics corrected by StaticRatios.
//
// The solver's values come from its fast path by default (settings' method):
// smooth in every input, so the sensitivities take the closed forms' small
// step and the searches run on it; a synthesis then checks its answer with
// the direct solution and polishes it there.
#include <kestrelix/coupled_line.h>

#include <kestrelix/validity.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>

#include "models/chain.h"
#include "models/field_cache.h"
#include "models/modes_of.h"
#include "models/selectors.h"
#include "synthesis/synthesis.h"

namespace kx {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// The coupler permittivity of the static even and odd ones, as mscuppv forms it.
float coupler_permittivity(float effe, float effo) { return 2.0f * effe * effo / (effe + effo); }

// Every value of a point the solver cannot take: not a number.
void not_a_number(Modes& m) {
  m.wte = m.wto = kNaN;
  m.eff_c_dc = m.eff_e_dc = m.eff_o_dc = m.zoe_dc = m.zoo_dc = m.zo_dc = m.coupling_db_dc = kNaN;
  m.eff_c = m.eff_e = m.eff_o = m.zoe = m.zoo = m.zo = m.coupling_db = m.cc = kNaN;
  m.error_zoe = m.error_zoo = m.error_eff_e = m.error_eff_o = kNaN;
}

// ---------------------------------------------------------------- synthesis

// The search on the field model: Newton's method on ln Zoe, ln Zoo over
// ln W, ln S from the closed forms' answer, the Jacobian by forward
// differences at the start and Broyden's update after each step (formed
// again by differences when a step does not reduce the residual).
constexpr int kMaxSteps = 20;
constexpr double kConverged = 1e-5;  // relative residual: a few of the direct solver's jumps
constexpr double kMaxMove = 0.5;     // ln W, ln S: at most a factor 1.65 per step
constexpr int kMaxHalvings = 6;      // a step into a point the solver refuses
// The forward differences' step in ln W, ln S: far above the direct
// solver's jumps; the fast path is smooth, a small step serves it.
constexpr double kJacobianStep = 0.01;
constexpr double kFastJacobianStep = 0.001;
// Direct solutions that check and polish an answer found on the fast path.
constexpr int kPolishSteps = 3;
// The target is met within these (ohm, dB).
constexpr float kImpedanceTolerance = 0.05f;
constexpr float kCouplingTolerance = 0.01f;

// The model a search runs on: the modes of a cross-section.
using ModelAt = std::function<Modes(const Section&)>;

struct Point {
  float w{}, s{};
  double x[2]{};  // ln W, ln S of the floats w, s
  double r[2]{};  // ln Zoe - ln Zoe target, ln Zoo - ln Zoo target
  Modes m;
  double norm() const { return std::max(std::fabs(r[0]), std::fabs(r[1])); }
};

// A search's target pair and when a point meets it.
struct Goal {
  float zoe, zoo;
  std::function<bool(const Modes&)> met;
};

// A coupler's: Zoe, Zoo, Zo and the coupling within the tolerances.
Goal coupler_goal(float zoe, float zoo) {
  const Coupling target = coupling_of(zoe, zoo);
  return {zoe, zoo, [=](const Modes& m) {
            return std::fabs(m.zoe - zoe) <= kImpedanceTolerance &&
                   std::fabs(m.zoo - zoo) <= kImpedanceTolerance &&
                   std::fabs(m.zo - target.zo) <= kImpedanceTolerance &&
                   std::fabs(m.coupling_db - target.coupling_db) <= kCouplingTolerance;
          }};
}

// The pair (ln W, ln S) -> residuals on a model, counting evaluations.
class PairProblem {
 public:
  PairProblem(const Section& sub, float zoe, float zoo, ModelAt model, int& evaluations)
      : sub_(sub),
        lzoe_(std::log(static_cast<double>(zoe))),
        lzoo_(std::log(static_cast<double>(zoo))),
        model_(std::move(model)),
        evaluations_(evaluations) {}
  // The model at (ln W, ln S); false where it gives no usable value.
  bool evaluate(const double x[2], Point& p) const {
    Section sec = sub_;
    sec.w = static_cast<float>(std::exp(x[0]));
    sec.s = static_cast<float>(std::exp(x[1]));
    p.w = sec.w;
    p.s = sec.s;
    p.x[0] = std::log(static_cast<double>(sec.w));
    p.x[1] = std::log(static_cast<double>(sec.s));
    p.m = model_(sec);
    ++evaluations_;
    p.r[0] = std::log(static_cast<double>(p.m.zoe)) - lzoe_;
    p.r[1] = std::log(static_cast<double>(p.m.zoo)) - lzoo_;
    return p.m.iflag == 0 && std::isfinite(p.r[0]) && std::isfinite(p.r[1]);
  }
  // J[i][j] = d r_i / d x_j by forward differences at p.
  bool differences(const Point& p, double step, double jac[2][2]) const {
    for (int j = 0; j < 2; ++j) {
      Point q;
      double x[2] = {p.x[0], p.x[1]};
      x[j] += step;
      if (!evaluate(x, q) || q.x[j] == p.x[j]) return false;
      for (int i = 0; i < 2; ++i) jac[i][j] = (q.r[i] - p.r[i]) / (q.x[j] - p.x[j]);
    }
    return true;
  }

 private:
  Section sub_;
  double lzoe_, lzoo_;
  ModelAt model_;
  int& evaluations_;
};

// The Newton step -J^-1 r, at most kMaxMove long; false for a singular J.
bool newton_step(const double jac[2][2], const double r[2], double dx[2]) {
  const double det = jac[0][0] * jac[1][1] - jac[0][1] * jac[1][0];
  if (!(std::fabs(det) > 0.0) || !std::isfinite(det)) return false;
  dx[0] = -(jac[1][1] * r[0] - jac[0][1] * r[1]) / det;
  dx[1] = -(-jac[1][0] * r[0] + jac[0][0] * r[1]) / det;
  const double big = std::max(std::fabs(dx[0]), std::fabs(dx[1]));
  if (big > kMaxMove) {
    dx[0] *= kMaxMove / big;
    dx[1] *= kMaxMove / big;
  }
  return std::isfinite(dx[0]) && std::isfinite(dx[1]);
}

// Newton's method with Broyden's updates from (W, S) of `start`: the last
// point it evaluated (or nothing when it could not evaluate the start).
std::optional<Point> newton_pair(const PairProblem& problem, const Section& start, const Goal& goal,
                                 double step) {
  Point p;
  double jac[2][2]{};
  const double x0[2] = {std::log(static_cast<double>(start.w)),
                        std::log(static_cast<double>(start.s))};
  if (!problem.evaluate(x0, p)) return std::nullopt;
  bool ok = problem.differences(p, step, jac);
  for (int k = 0; ok && k < kMaxSteps && !(goal.met(p.m) && p.norm() <= kConverged); ++k) {
    double dx[2];
    if (!newton_step(jac, p.r, dx)) break;
    Point q;
    bool moved = false;
    for (int h = 0; h <= kMaxHalvings && !moved; ++h) {
      const double x[2] = {p.x[0] + dx[0], p.x[1] + dx[1]};
      moved = problem.evaluate(x, q);
      if (!moved) {
        dx[0] *= 0.5;
        dx[1] *= 0.5;
      }
    }
    if (!moved) break;
    if (q.x[0] == p.x[0] && q.x[1] == p.x[1]) break;  // no float left to move to
    if (q.norm() < p.norm()) {
      // Broyden: J += (dr - J dx) dx^T / (dx^T dx), on the step taken.
      const double s0 = q.x[0] - p.x[0];
      const double s1 = q.x[1] - p.x[1];
      const double ss = s0 * s0 + s1 * s1;
      for (int i = 0; i < 2; ++i) {
        const double miss = (q.r[i] - p.r[i]) - (jac[i][0] * s0 + jac[i][1] * s1);
        jac[i][0] += miss * s0 / ss;
        jac[i][1] += miss * s1 / ss;
      }
      p = q;
    } else {
      // No progress: done when the target is met (the solver's jumps are
      // all that is left), else the differences again at the better point.
      if (q.norm() <= p.norm()) p = q;
      if (goal.met(p.m)) break;
      ok = problem.differences(p, step, jac);
    }
  }
  return p;
}

// An answer found on the fast path checked by the direct solution and, where
// the two differ by more than the tolerances allow, moved by Newton steps on
// the direct solutions with the fast path's Jacobian (the fast path is
// within 0.1 % of the direct solution and as smooth as the physics, so its
// derivatives are the direct solution's).
Point polish_pair(const PairProblem& fast, const PairProblem& direct, const Point& found,
                  const Goal& goal) {
  Point p;
  if (!direct.evaluate(found.x, p)) return found;
  double jac[2][2]{};
  bool have_jacobian = false;
  for (int k = 0; k < kPolishSteps && !goal.met(p.m); ++k) {
    if (!have_jacobian) {
      Point f;
      if (!fast.evaluate(p.x, f) || !fast.differences(f, kFastJacobianStep, jac)) break;
      have_jacobian = true;
    }
    double dx[2];
    if (!newton_step(jac, p.r, dx)) break;
    Point q;
    const double x[2] = {p.x[0] + dx[0], p.x[1] + dx[1]};
    if (!direct.evaluate(x, q) || q.norm() >= p.norm()) break;
    p = q;
  }
  return p;
}

// W and S for a goal from `start`: on the fast path (then checked and
// polished on the direct solution; should the fast search fail, the direct
// one) or on `model` alone.
std::optional<Point> search_pair(const Section& start, const Goal& goal, bool fast,
                                 const ModelAt& fast_at, const ModelAt& direct_at,
                                 const ModelAt& model_at, int& evaluations) {
  if (!fast) {
    const PairProblem model(start, goal.zoe, goal.zoo, model_at, evaluations);
    return newton_pair(model, start, goal, kJacobianStep);
  }
  const PairProblem on_fast(start, goal.zoe, goal.zoo, fast_at, evaluations);
  const PairProblem direct(start, goal.zoe, goal.zoo, direct_at, evaluations);
  std::optional<Point> p = newton_pair(on_fast, start, goal, kFastJacobianStep);
  if (p && goal.met(p->m)) p = polish_pair(on_fast, direct, *p, goal);
  if (!p || !goal.met(p->m)) p = newton_pair(direct, start, goal, kJacobianStep);
  return p;
}

}  // namespace

field::Geometry field_geometry(const Section& sec, const Coating& coat) {
  field::Geometry g;
  g.er = static_cast<double>(sec.er);
  g.h = static_cast<double>(sec.h);
  g.w = static_cast<double>(sec.w);
  g.s = static_cast<double>(sec.s);
  g.t = static_cast<double>(sec.t);
  g.h2 = static_cast<double>(sec.h2);
  g.coat = static_cast<double>(coat.thickness);
  g.er_coat = static_cast<double>(coat.er);
  return g;
}

StaticRatios field_ratios(const Section& sec, const ModelSettings& field) {
  CoupledLine closed(ModelSettings{Model::closed});
  CoupledLine solver(field);
  const Modes c = closed.at(sec, static_frequency);
  const Modes s = solver.at(sec, static_frequency);
  const auto ratio = [](float from, float to) {
    const bool ok = std::isfinite(from) && std::isfinite(to) && from > 0.0f && to > 0.0f;
    return ok ? static_cast<double>(to) / static_cast<double>(from) : 1.0;
  };
  StaticRatios r;
  r.zoe = ratio(c.zoe_dc, s.zoe_dc);
  r.zoo = ratio(c.zoo_dc, s.zoo_dc);
  r.eff_e = ratio(c.eff_e_dc, s.eff_e_dc);
  r.eff_o = ratio(c.eff_o_dc, s.eff_o_dc);
  return r;
}

FieldCounts CoupledLine::field_counts() const {
  FieldCounts c;
  if (field_) {
    c.fast = field_->counts().fast;
    c.local = field_->counts().local;
    c.sweep = field_->counts().sweep;
    c.direct = field_->counts().direct;
    c.fallbacks = field_->counts().fallbacks;
  }
  return c;
}

bool CoupledLine::fast_field() const {
  return settings_.model == Model::field && settings_.method == field::Method::fast &&
         settings_.accuracy == field::Accuracy::standard;
}

Modes CoupledLine::field_at(const Section& sec, float f, field::Method method) {
  Records& rec = chain_->rec;
  const Section cs =
      closed_section(sec);  // the dispersion's single strips see no cover at infinity
  Modes m;
  m.f = f;
  ChainValues c;
  int iflag = 0;
  if (settings_.model == Model::field) {
    const field::Result* r = field_->solve(field_geometry(sec, settings_.coating),
                                           settings_.accuracy, method, settings_.local.get(),
                                           &settings_.sweeps, settings_.measured_error);
    if (r == nullptr) {
      not_a_number(m);
      finish_validity(m, sec, f, settings_);
      m.flags |= flag_refused;
      m.valid = false;
      return m;
    }
    c.effe = static_cast<float>(r->eff_e);
    c.effo = static_cast<float>(r->eff_o);
    c.zoe = static_cast<float>(r->zoe);
    c.zoo = static_cast<float>(r->zoo);
    m.error_zoe = static_cast<float>(r->error_zoe);
    m.error_zoo = static_cast<float>(r->error_zoo);
    m.error_eff_e = static_cast<float>(r->error_eff_e);
    m.error_eff_o = static_cast<float>(r->error_eff_o);
  } else {
    // The closed forms' statics (their own validity flag kept), corrected.
    ChainValues k;
    evaluate_chain(rec, k, cs, static_frequency, ModeSet::both, iflag);
    const StaticRatios& q = settings_.ratios;
    const auto scaled = [](float v, double ratio) {
      return static_cast<float>(static_cast<double>(v) * ratio);
    };
    c.effe = scaled(k.effe, q.eff_e);
    c.effo = scaled(k.effo, q.eff_o);
    c.zoe = scaled(k.zoe, q.zoe);
    c.zoo = scaled(k.zoo, q.zoo);
  }
  c.effc = coupler_permittivity(c.effe, c.effo);
  const int static_flag = iflag;
  iflag = 0;  // lcdis disperses only without a flag on entry
  disperse_statics(rec, c, cs, f, iflag);
  read_modes(m, c, rec);

  // lcdis's single-strip test measures the closed forms against their own
  // single strip: only Zoo above Zoe counts here.
  m.iflag = static_flag != 0 ? static_flag : (m.zoo > m.zoe || m.zoo_dc > m.zoe_dc) ? 2 : 0;
  finish_validity(m, sec, f, settings_);
  return m;
}

Sensitivity CoupledLine::field_sensitivity(const Section& sec, float f, Impedance of) {
  Sensitivity r;
  r.f = f;
  r.of = of;
  // The quantities that take a step: those that are finite and positive
  // (not T = 0, not an open cover).
  float Section::*const quantities[] = {&Section::er, &Section::h, &Section::h2,
                                        &Section::s,  &Section::t, &Section::w};
  const auto steps = [&](float Section::*x) { return std::isfinite(sec.*x) && sec.*x > 0.0f; };
  const field::LocalModel* local = settings_.local.get();
  const bool may = settings_.model == Model::field && settings_.method == field::Method::fast;
  // What serves a point (in the evaluator's order): 2 the local model, 1
  // the tables, 3 a sweep model, 0 none of them.
  const auto source = [&](const Section& p) {
    const field::Geometry g = field_geometry(p, settings_.coating);
    if (local != nullptr && local->holds() && local->covers(g)) return 2;
    if (settings_.accuracy == field::Accuracy::standard && field::fast_covers(g)) return 1;
    for (const auto& sweep : settings_.sweeps) {
      if (sweep && sweep->holds() && sweep->covers(g)) return 3;
    }
    return 0;
  };
  // Whether the point and every neighbour the differences take with
  // `step` are served alike (a mix would show the sources' difference).
  const int served = may ? source(sec) : 0;
  const auto all_served = [&](float step) {
    if (served == 0) return false;
    for (float Section::*x : quantities) {
      if (!steps(x)) continue;
      Section p = sec;
      p.*x = sec.*x * (1.0f + step);
      if (source(p) != served) return false;
    }
    return true;
  };
  // The tables and a local model are smooth (C2, a quadratic): the closed
  // forms' small step. Sweep models answer most differences across two of
  // them: the step of direct solutions, which keeps their deviation small
  // in a sensitivity. Else direct solutions and that step, which keeps
  // their jumps small.
  const bool smooth = served != 3 && all_served(field_fast_sensitivity_step);
  const bool swept = served == 3 && all_served(field_sensitivity_step);
  const field::Method method = smooth || swept ? field::Method::fast : field::Method::direct;
  const float step = smooth ? field_fast_sensitivity_step : field_sensitivity_step;
  const Modes m0 = field_at(sec, f, method);
  r.zoe = m0.zoe;
  r.zoo = m0.zoo;
  r.iflag = m0.iflag;
  r.flags = m0.flags;
  r.valid = m0.valid;
  if (m0.iflag != 0) return r;
  const float z0 = of == Impedance::zoo ? m0.zoo : m0.zoe;
  // (dZ/Z)/(dx/x) with x raised by the step; 0 for a quantity that is 0 or
  // infinite (T = 0, no cover).
  const auto one = [&](float Section::*x) {
    if (!steps(x)) return 0.0f;
    Section p = sec;
    p.*x = sec.*x * (1.0f + step);
    const Modes m = field_at(p, f, method);
    if (m.iflag != 0) {
      r.iflag = m.iflag;
      r.flags |= model_flags(m.iflag);
      r.valid = false;
    }
    const float z = of == Impedance::zoo ? m.zoo : m.zoe;
    // The step actually taken (x (1 + step) rounded to a float).
    const float dx = (p.*x - sec.*x) / sec.*x;
    return ((z - z0) / z0) / dx;
  };
  r.to.er = one(&Section::er);
  r.to.h = one(&Section::h);
  r.to.h2 = one(&Section::h2);
  r.to.s = one(&Section::s);
  r.to.t = one(&Section::t);
  r.to.w = one(&Section::w);
  const Sensitivities& z = r.to;
  for (const float v : {z.er, z.h, z.h2, z.s, z.t, z.w}) {
    if (!std::isfinite(v)) r.flags |= flag_not_finite;
  }
  r.valid = r.flags == 0;
  return r;
}

Synthesis CoupledLine::field_synthesis(const Section& sub, float zoe, float zoo, float f) {
  Synthesis r;
  r.zoe_target = zoe;
  r.zoo_target = zoo;
  // The closed forms' answer: the start.
  {
    const Section cs = closed_section(sub);
    msws(chain_->rec, cs.er, f, cs.h, cs.h2, r.iflag, r.s, cs.t, r.w, zoe, zoo);
    r.closed_w = r.w;
    r.closed_s = r.s;
    r.zoe = chain_->rec.lcdis1.zoef;
    r.zoo = chain_->rec.lcdis1.zoof;
    r.eff_e = chain_->rec.lceff1.effef;
    r.eff_o = chain_->rec.lceff1.effof;
    if (r.iflag != 0) return r;
  }
  Section start = sub;
  start.w = r.w;
  start.s = r.s;
  Synthesis found = refine(start, zoe, zoo, f);
  found.closed_w = r.closed_w;
  found.closed_s = r.closed_s;
  return found;
}

Synthesis CoupledLine::refine(const Section& sub, float zoe, float zoo, float f) {
  Synthesis r;
  r.zoe_target = zoe;
  r.zoo_target = zoo;
  r.w = r.closed_w = sub.w;
  r.s = r.closed_s = sub.s;
  const Goal goal = coupler_goal(zoe, zoo);
  const std::optional<Point> p = search_pair(
      sub, goal, fast_field(),
      [&](const Section& sec) { return field_at(sec, f, field::Method::fast); },
      [&](const Section& sec) { return field_at(sec, f, field::Method::direct); },
      [&](const Section& sec) { return at(sec, f); }, r.evaluations);
  if (p && std::isfinite(p->r[0]) && std::isfinite(p->r[1])) {
    r.w = p->w;
    r.s = p->s;
    r.zoe = p->m.zoe;
    r.zoo = p->m.zoo;
    r.eff_e = p->m.eff_e;
    r.eff_o = p->m.eff_o;
  }
  r.iflag = p && goal.met(p->m) ? 0 : 1;  // 1: the search did not meet the target
  return r;
}

}  // namespace kx
