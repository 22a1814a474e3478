// The differential pair's search: bracketing and bisection on the closed
// forms inside their fitted ranges, then (with the field model) the secant
// method or the evaluator's Newton search on the solver's values, and on the
// solver's fast path the answer checked and polished on its direct solution.
#include <kestrelix/diff_pair.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include <kestrelix/stop.h>
#include <kestrelix/validity.h>

namespace kx::study {
namespace {

// Evaluates the pair at f and counts the evaluations.
class PairModel {
 public:
  PairModel(CoupledLine& line, float f, const Stop* stop) : line_(line), f_(f), stop_(stop) {}
  Modes operator()(const Section& sec) {
    check_stop(stop_);
    ++evaluations_;
    return line_.at(sec, f_);
  }
  long long evaluations() const { return evaluations_; }
  void count(long long n) { evaluations_ += n; }
  CoupledLine& line() { return line_; }

 private:
  CoupledLine& line_;
  float f_;
  const Stop* stop_;
  long long evaluations_ = 0;
};

constexpr int kGrid = 40;            // bracketing points, spaced evenly in log(x)
constexpr int kMaxBisections = 200;  // more than enough to close a float bracket

// A root of g on [lo, hi]: the first sign change on a logarithmic grid of
// the points where g is defined, closed by bisection to adjacent floats; the
// end with the smaller |g|. No root: nothing.
template <typename G>
std::optional<float> find_root(float lo, float hi, G g) {
  float prev_x = 0.0f;
  std::optional<double> prev;
  for (int k = 0; k <= kGrid; ++k) {
    const double t = static_cast<double>(k) / kGrid;
    const auto x =
        static_cast<float>(static_cast<double>(lo) * std::pow(static_cast<double>(hi / lo), t));
    const std::optional<double> v = g(x);
    if (!v) continue;
    if (*v == 0.0) return x;
    if (prev && (*prev < 0.0) != (*v < 0.0)) {
      float a = prev_x;
      float b = x;
      double ga = *prev;
      double gb = *v;
      for (int i = 0; i < kMaxBisections; ++i) {
        const auto m = static_cast<float>(0.5 * (static_cast<double>(a) + static_cast<double>(b)));
        if (m == a || m == b) break;
        const std::optional<double> gm = g(m);
        if (!gm) break;  // undefined inside the bracket: keep the closer end
        if (*gm == 0.0) return m;
        if ((*gm < 0.0) == (ga < 0.0)) {
          a = m;
          ga = *gm;
        } else {
          b = m;
          gb = *gm;
        }
      }
      return std::fabs(ga) <= std::fabs(gb) ? a : b;
    }
    prev = v;
    prev_x = x;
  }
  return std::nullopt;
}

// Zoo - target at a point the models accept; nothing where they flag it or
// give no finite value.
std::optional<double> zoo_error(PairModel& model, const Section& sec, float zoo) {
  const Modes m = model(sec);
  if (m.iflag != 0 || !std::isfinite(m.zoo) || !std::isfinite(m.zoe)) return std::nullopt;
  return static_cast<double>(m.zoo) - static_cast<double>(zoo);
}

// S for the target Zoo at the section's W.
std::optional<float> solve_s(PairModel& model, Section sec, float zoo) {
  return find_root(min_fitted_sh * sec.h, max_fitted_sh * sec.h, [&](float s) {
    sec.s = s;
    return zoo_error(model, sec, zoo);
  });
}

// W for the target Zoo at the section's S.
std::optional<float> solve_w(PairModel& model, Section sec, float zoo) {
  return find_root(min_fitted_wh * sec.h, max_fitted_wh * sec.h, [&](float w) {
    sec.w = w;
    return zoo_error(model, sec, zoo);
  });
}

// The field model's refinement of one unknown: the secant method on
// ln Zoo - ln target over ln x from x0 (its first step `step` in ln x) until
// Zdiff is within kPrinted of the target (what three decimals print as the
// target) or the steps give out; then the best point seen, when it is within
// `accept` (relative, of Zoo).
constexpr int kSecantSteps = 20;
constexpr double kPrinted = 2e-4;  // ohm, of Zdiff
template <typename Set>
std::optional<float> secant(PairModel& model, Section sec, float zoo, float x0, double step,
                            double accept, Set set) {
  const double met = kPrinted / (2.0 * static_cast<double>(zoo));  // relative, of Zoo
  float best_x = 0.0f;
  double best = std::numeric_limits<double>::infinity();
  const auto g = [&](double lx, float& x) -> std::optional<double> {
    x = static_cast<float>(std::exp(lx));
    set(sec, x);
    const Modes m = model(sec);
    if (m.iflag != 0 || !std::isfinite(m.zoo)) return std::nullopt;
    const double v = std::log(static_cast<double>(m.zoo) / static_cast<double>(zoo));
    if (std::fabs(v) < best) {
      best = std::fabs(v);
      best_x = x;
    }
    return v;
  };
  float xa = 0.0f;
  float xb = 0.0f;
  double a = std::log(static_cast<double>(x0));
  double b = a + step;
  std::optional<double> ga = g(a, xa);
  std::optional<double> gb = best > met ? g(b, xb) : std::nullopt;
  for (int k = 0; k < kSecantSteps && ga && gb && best > met; ++k) {
    if (*gb == *ga) break;
    const double c = b - *gb * (b - a) / (*gb - *ga);
    a = b;
    ga = gb;
    xa = xb;
    b = std::isfinite(c) ? std::clamp(c, a - 0.5, a + 0.5) : a;
    gb = g(b, xb);
  }
  if (best <= accept) return best_x;
  return std::nullopt;
}

// The stages of the field model's refinement. The caller's evaluator (on
// the solver's fast path by default, smooth) takes the closed forms' root
// to within kConverged, from a first step far above the direct solver's
// jumps; the direct solution then takes that answer on to kPrinted from a
// small first step (the fast path is within 0.1 % of it), and accepts
// what is within the promised kZdiffTolerance.
constexpr double kFirstStep = 0.01;       // ln x
constexpr double kPolishStep = 1e-3;      // ln x
constexpr double kConverged = 1e-5;       // relative, of Zoo: a few of the direct solver's jumps
constexpr float kZdiffTolerance = 0.05f;  // ohm: the answer's promise on the direct solution

// x for the target Zoo on the field model from the closed forms' root x0:
// on the caller's evaluator, then (when it is not the direct solution)
// polished on `direct`.
template <typename Set>
std::optional<float> refine_one(PairModel& model, PairModel* direct, const Section& sec, float zoo,
                                float x0, Set set) {
  std::optional<float> x = secant(model, sec, zoo, x0, kFirstStep, kConverged, set);
  if (direct == nullptr) return x;
  const double promise = static_cast<double>(kZdiffTolerance) / (2.0 * static_cast<double>(zoo));
  if (x) {
    const std::optional<float> polished = secant(*direct, sec, zoo, *x, kPolishStep, promise, set);
    if (polished) return polished;
  }
  // Should the fast path not serve, the direct solution alone.
  return secant(*direct, sec, zoo, x0, kFirstStep, promise, set);
}

// W and S for the target pair: along the curve Zoo(W, S(W)) = zoo, the W
// whose Zoe is the target.
std::optional<Section> solve_pair(PairModel& model, Section sec, float zoe, float zoo) {
  const auto w = find_root(min_fitted_wh * sec.h, max_fitted_wh * sec.h, [&](float x) {
    Section p = sec;
    p.w = x;
    const std::optional<float> s = solve_s(model, p, zoo);
    if (!s) return std::optional<double>();
    p.s = *s;
    const Modes m = model(p);
    if (m.iflag != 0 || !std::isfinite(m.zoe)) return std::optional<double>();
    return std::optional<double>(static_cast<double>(m.zoe) - static_cast<double>(zoe));
  });
  if (!w) return std::nullopt;
  sec.w = *w;
  const std::optional<float> s = solve_s(model, sec, zoo);
  if (!s) return std::nullopt;
  sec.s = *s;
  return sec;
}

// The closed forms find the root, the caller's model refines it (and, on
// the fast path, the direct solution polishes it).
// `closed_root`: the closed forms' root, when they find one.
std::optional<Section> search(PairModel& closed, PairModel& model, PairModel* direct,
                              const DiffPairPlan& plan, std::optional<Section>& closed_root) {
  const bool field = model.line().settings().model == Model::field;
  const float zoo = plan.zdiff / 2.0f;
  Section sec = plan.section;
  const auto set_s = [](Section& p, float x) { p.s = x; };
  const auto set_w = [](Section& p, float x) { p.w = x; };
  const auto root = [&](std::optional<float> x, float Section::*which) {
    if (!x) return;
    closed_root = sec;
    closed_root.value().*which = *x;
  };
  switch (plan.solve) {
    case PairSolve::none:
      closed_root = sec;
      return sec;
    case PairSolve::w_and_s: {
      std::optional<Section> found = solve_pair(closed, sec, 2.0f * plan.zcomm, zoo);
      closed_root = found;
      if (found && field) {
        // The evaluator's Newton search (on the fast path checked and
        // polished on the direct solution).
        PairTarget target;
        target.zoe = 2.0f * plan.zcomm;
        target.zoo = zoo;
        target.f = plan.f;
        const Synthesis r = model.line().refine_pair(*found, target);
        model.count(r.evaluations);
        found->w = r.w;
        found->s = r.s;
        if (r.iflag != 0) return std::nullopt;
        // Newton meets Zdiff within 1e-5; S alone takes it to what three
        // decimals print as the target (Zcomm moves far less).
        PairModel& exact = direct != nullptr ? *direct : model;
        const std::optional<float> s =
            secant(exact, *found, zoo, r.s, kPolishStep, kConverged, set_s);
        if (s) found->s = *s;
      }
      return found;
    }
    case PairSolve::s: {
      std::optional<float> s = solve_s(closed, sec, zoo);
      root(s, &Section::s);
      if (s && field) s = refine_one(model, direct, sec, zoo, *s, set_s);
      if (!s) return std::nullopt;
      sec.s = *s;
      return sec;
    }
    case PairSolve::w: {
      std::optional<float> w = solve_w(closed, sec, zoo);
      root(w, &Section::w);
      if (w && field) w = refine_one(model, direct, sec, zoo, *w, set_w);
      if (!w) return std::nullopt;
      sec.w = *w;
      return sec;
    }
  }
  return std::nullopt;
}

// The targets of a search that no pair can meet: Zdiff not above 0, and for
// both W and S Zcomm not above Zdiff/4 (Zoe above Zoo).
bool refused(const DiffPairPlan& plan) {
  if (plan.solve == PairSolve::none) return false;
  if (!(plan.zdiff > 0.0f) || !std::isfinite(plan.zdiff)) return true;
  return plan.solve == PairSolve::w_and_s &&
         !(2.0f * plan.zcomm > plan.zdiff / 2.0f && std::isfinite(plan.zcomm));
}

// Whether the modes of the answer meet the plan's targets: Zdiff within
// kZdiffTolerance, and with both W and S sought Zcomm within half of it.
bool met(const Modes& m, const DiffPairPlan& plan) {
  if (m.iflag != 0) return false;
  const bool zdiff = std::fabs(2.0f * m.zoo - plan.zdiff) <= kZdiffTolerance;
  if (plan.solve != PairSolve::w_and_s) return zdiff;
  return zdiff && std::fabs(0.5f * m.zoe - plan.zcomm) <= 0.5f * kZdiffTolerance;
}

// The direct solution's settings of a field evaluator on the fast path;
// nothing where the evaluator's values are the direct solution's already.
std::optional<ModelSettings> direct_settings(const ModelSettings& s) {
  if (s.model != Model::field || s.method != field::Method::fast ||
      s.accuracy != field::Accuracy::standard) {
    return std::nullopt;
  }
  ModelSettings d = s;
  d.method = field::Method::direct;
  return d;
}

}  // namespace

DiffPair diff_pair(CoupledLine& line, const DiffPairPlan& plan, const Stop* stop) {
  if (refused(plan)) {
    DiffPair p;
    p.section = plan.section;
    p.flags = flag_refused;
    return p;
  }
  // The closed forms' search runs on an evaluator of their own when the
  // caller's is the field model's; the direct solution's polish on one of
  // its own when the caller's is on the fast path.
  const bool field = line.settings().model == Model::field;
  CoupledLine own(ModelSettings{Model::closed});
  PairModel closed(field ? own : line, plan.f, stop);
  PairModel model(line, plan.f, stop);
  const std::optional<ModelSettings> direct_model = direct_settings(line.settings());
  CoupledLine direct_line(direct_model ? *direct_model : ModelSettings{});
  PairModel direct(direct_line, plan.f, stop);
  PairModel* polish = direct_model ? &direct : nullptr;
  DiffPair p;
  std::optional<Section> closed_root;
  const std::optional<Section> found = search(closed, model, polish, plan, closed_root);
  p.section = found ? *found : plan.section;
  p.closed_found = closed_root.has_value();
  p.closed = closed_root ? *closed_root : plan.section;
  if (found) {
    // The modes of a search's answer: the direct solution's with the field
    // model; a pair as given: the caller's evaluator's, as every face's.
    const bool searched = plan.solve != PairSolve::none;
    p.modes = polish != nullptr && searched ? direct(p.section) : model(p.section);
    p.zdiff = 2.0f * p.modes.zoo;
    p.zcomm = p.modes.zoe / 2.0f;
    // sqrt(eff) / c0 with c0 in inches per nanosecond, in ps.
    p.delay_e = 1000.0f * std::sqrt(p.modes.eff_e) / light_speed_in_per_ns;
    p.delay_o = 1000.0f * std::sqrt(p.modes.eff_o) / light_speed_in_per_ns;
    p.flags = p.modes.flags;
    p.found = !searched || met(p.modes, plan);
  }
  p.evaluations = closed.evaluations() + model.evaluations() + direct.evaluations();
  p.valid = p.found && p.flags == 0;
  return p;
}

}  // namespace kx::study
