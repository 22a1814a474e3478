// diffpair: the edge-coupled pair as the differential pair of a high-speed
// board. Zdiff = 2 Zoo (the pair driven in odd mode), Zcomm = Zoe/2 (both
// strips driven together), the two effective permittivities and the delays
// per length sqrt(eff)/c0. With --zdiff it finds S for a given W (or W for a
// given S), with --zcomm as well both W and S, by bracketing and bisection on
// the closed forms' values inside their fitted ranges; with the field model
// the closed forms' answer is then refined on the solver's values (the secant
// method for one unknown, the evaluator's Newton search for both).
#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string>

#include <kestrelix/validity.h>
#include "cli/commands.h"
#include "common/constants.h"
#include "shared/warnings.h"

namespace kx::cli {
namespace {

struct DiffpairArgs {
  SectionArgs sec;
  Arg* f{};
  Arg* zdiff{};
  Arg* zcomm{};
  ModelArgs model;
};

// The one place this subcommand evaluates the pair. Counts the evaluations.
class PairModel {
 public:
  PairModel(float f, const ModelSettings& model) : f_(f), line_(model) {}
  Modes operator()(const Section& sec) {
    ++evaluations_;
    return line_.at(sec, f_);
  }
  long long evaluations() const { return evaluations_; }
  void count(long long n) { evaluations_ += n; }
  CoupledLine& line() { return line_; }

 private:
  float f_;
  CoupledLine line_;
  long long evaluations_ = 0;
};

// The fitted ranges the search stays in (models/validity.h).
constexpr float kMaxWh = 10.0f;
constexpr float kMaxSh = 8.0f;
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
  if (!m.valid || !std::isfinite(m.zoo) || !std::isfinite(m.zoe)) return std::nullopt;
  return static_cast<double>(m.zoo) - static_cast<double>(zoo);
}

// S for the target Zoo at the section's W.
std::optional<float> solve_s(PairModel& model, Section sec, float zoo) {
  return find_root(min_fitted_sh * sec.h, kMaxSh * sec.h, [&](float s) {
    sec.s = s;
    return zoo_error(model, sec, zoo);
  });
}

// W for the target Zoo at the section's S.
std::optional<float> solve_w(PairModel& model, Section sec, float zoo) {
  return find_root(min_fitted_wh * sec.h, kMaxWh * sec.h, [&](float w) {
    sec.w = w;
    return zoo_error(model, sec, zoo);
  });
}

// The field model's refinement of one unknown: the secant method on
// ln Zoo - ln target over ln x from the closed forms' root x0, until Zoo is
// within kSecantTolerance of the target (relative) or the steps give out.
constexpr int kSecantSteps = 20;
constexpr double kSecantTolerance = 1e-5;
template <typename Set>
std::optional<float> secant(PairModel& model, Section sec, float zoo, float x0, Set set) {
  const auto g = [&](double lx, float& x) -> std::optional<double> {
    x = static_cast<float>(std::exp(lx));
    set(sec, x);
    const Modes m = model(sec);
    if (!m.valid || !std::isfinite(m.zoo)) return std::nullopt;
    return std::log(static_cast<double>(m.zoo) / static_cast<double>(zoo));
  };
  float xa = 0.0f;
  float xb = 0.0f;
  double a = std::log(static_cast<double>(x0));
  double b = a + 0.01;
  std::optional<double> ga = g(a, xa);
  std::optional<double> gb = g(b, xb);
  for (int k = 0; k < kSecantSteps && ga && gb; ++k) {
    if (std::fabs(*gb) <= kSecantTolerance) return xb;
    if (*gb == *ga) break;
    const double c = b - *gb * (b - a) / (*gb - *ga);
    a = b;
    ga = gb;
    xa = xb;
    b = std::isfinite(c) ? std::clamp(c, a - 0.5, a + 0.5) : a;
    gb = g(b, xb);
  }
  if (gb && std::fabs(*gb) <= kSecantTolerance) return xb;
  return std::nullopt;
}

// W and S for the target pair: along the curve Zoo(W, S(W)) = zoo, the W
// whose Zoe is the target.
std::optional<Section> solve_pair(PairModel& model, Section sec, float zoe, float zoo) {
  const auto w = find_root(min_fitted_wh * sec.h, kMaxWh * sec.h, [&](float x) {
    Section p = sec;
    p.w = x;
    const std::optional<float> s = solve_s(model, p, zoo);
    if (!s) return std::optional<double>();
    p.s = *s;
    const Modes m = model(p);
    if (!m.valid || !std::isfinite(m.zoe)) return std::optional<double>();
    return std::optional<double>(static_cast<double>(m.zoe) - static_cast<double>(zoe));
  });
  if (!w) return std::nullopt;
  sec.w = *w;
  const std::optional<float> s = solve_s(model, sec, zoo);
  if (!s) return std::nullopt;
  sec.s = *s;
  return sec;
}

int diffpair(Context& ctx, const DiffpairArgs& a) {
  Values v(ctx);
  const bool by_zdiff = a.zdiff->given();
  const bool by_pair = by_zdiff && a.zcomm->given();
  const bool find_s = by_pair || (by_zdiff && a.sec.w->given());
  const bool find_w = by_pair || (by_zdiff && a.sec.s->given());
  if (a.zcomm->given() && !by_zdiff) throw UsageError("--zcomm: give --zdiff as well");
  if (by_pair && (a.sec.w->given() || a.sec.s->given())) {
    throw UsageError(std::string(a.sec.w->given() ? "--w" : "--s") +
                     ": --zdiff with --zcomm finds W and S; leave them out");
  }
  if (by_zdiff && !by_pair && a.sec.w->given() == a.sec.s->given()) {
    throw UsageError(
        "--zdiff: give --w (to find S) or --s (to find W), or --zcomm as well (to find both)");
  }
  Section sec = resolve_section(v, a.sec, !find_w, !find_s);
  const float f = v.number(
      *a.f, [](const Design& d) { return d.fdefdef; }, 0.0f);
  const float zdiff = by_zdiff ? parse_number(a.zdiff->name, a.zdiff->text) : 0.0f;
  const float zcomm = by_pair ? parse_number(a.zcomm->name, a.zcomm->text) : 0.0f;
  v.check();
  validate_section(a.sec, sec, !find_w, !find_s);
  const ModelSettings settings = resolve_model(ctx, a.model);
  const bool field = settings.model == Model::field;
  if (!find_w && !find_s) check_field_section(settings, sec, "the section");
  require_at_least(a.f->name, f, 0.0f);
  if (by_zdiff) require_above(a.zdiff->name, zdiff, 0.0f);
  if (by_pair) {
    require_above(a.zcomm->name, zcomm, 0.0f);
    // Zoe above Zoo: a coupled pair has Zcomm above Zdiff/4.
    if (!(2.0f * zcomm > zdiff / 2.0f)) {
      throw UsageError(a.zcomm->name + ": must be above a quarter of --zdiff (Zoe above Zoo)");
    }
  }
  if (!find_w) check_width(ctx, sec.w, sec.h);
  if (!find_s) check_gap(ctx, sec.s, sec.t, sec.h, true, false);
  check_section(ctx, sec, false, false);
  if (too_high(f, sec.h)) ctx.warn(warnings::kTooHigh, warnings::kTooHighAsk);

  Document doc = ctx.document("diffpair");
  ctx.section_inputs(doc, sec, !find_w, !find_s);
  doc.input("f", Unit::frequency, f);
  if (by_zdiff) doc.input("zdiff", Unit::impedance, zdiff);
  if (by_pair) doc.input("zcomm", Unit::impedance, zcomm);
  const std::string solve = by_pair ? "w_s" : find_s ? "s" : find_w ? "w" : "none";
  doc.input("solve", Unit::none, solve);
  ctx.model_inputs(doc, settings);
  doc.column("w", Unit::length, Precision::decimals(4), "W");
  doc.column("s", Unit::length, Precision::decimals(4), "S");
  doc.column("w_h", Unit::none, Precision::decimals(3), "W/H");
  doc.column("s_h", Unit::none, Precision::decimals(3), "S/H");
  doc.column("zdiff", Unit::impedance, Precision::decimals(3), "Zdiff");
  doc.column("zcomm", Unit::impedance, Precision::decimals(3), "Zcomm");
  doc.column("zoe", Unit::impedance, Precision::decimals(3), "Zoe");
  doc.column("zoo", Unit::impedance, Precision::decimals(3), "Zoo");
  doc.column("eff_e", Unit::none, Precision::decimals(3), "Eff e");
  doc.column("eff_o", Unit::none, Precision::decimals(3), "Eff o");
  doc.column("delay_e", Unit::delay, Precision::decimals(2), "Delay e");
  doc.column("delay_o", Unit::delay, Precision::decimals(2), "Delay o");
  if (field) doc.column("field_error", Unit::percent, Precision::decimals(3), "Field err");

  // The closed forms find the root; the field model refines it.
  PairModel closed(f, ModelSettings{});
  PairModel model(f, settings);
  const float zoo_target = zdiff / 2.0f;
  std::optional<Section> found = sec;
  if (by_pair) {
    found = solve_pair(closed, sec, 2.0f * zcomm, zoo_target);
    if (found && field) {
      const Synthesis r = model.line().refine_pair(*found, 2.0f * zcomm, zoo_target, f);
      model.count(r.evaluations);
      found->w = r.w;
      found->s = r.s;
      if (!r.valid) found.reset();
    }
  } else if (find_s) {
    std::optional<float> s = solve_s(closed, sec, zoo_target);
    if (s && field) {
      s = secant(model, sec, zoo_target, *s, [](Section& p, float x) { p.s = x; });
    }
    if (s) found->s = *s;
    if (!s) found.reset();
  } else if (find_w) {
    std::optional<float> w = solve_w(closed, sec, zoo_target);
    if (w && field) {
      w = secant(model, sec, zoo_target, *w, [](Section& p, float x) { p.w = x; });
    }
    if (w) found->w = *w;
    if (!w) found.reset();
  }
  if (!found) {
    const std::string what = by_pair ? "Zdiff " + shortest(zdiff) + " ohm with Zcomm " +
                                           shortest(zcomm) + " ohm"
                                     : "Zdiff " + shortest(zdiff) + " ohm";
    const std::string given = by_pair  ? ""
                              : find_s ? " at W " + ctx.length_text(sec.w)
                                       : " at S " + ctx.length_text(sec.s);
    throw RunError(what + " cannot be met" + given +
                   (field ? " by the field solver from the closed forms' answer inside their "
                            "range (W/H 0.1 to 10, S/H 0.1 to 8)"
                          : " inside the models' range (W/H 0.1 to 10, S/H 0.1 to 8)"));
  }
  const Section p = *found;
  doc.summary("solve", Unit::none, solve);
  doc.summary("evaluations", Unit::none, closed.evaluations() + model.evaluations() + 1);
  const Modes m = model(p);
  if (!m.valid) {
    ctx.stop(doc);
    ctx.violation("   Differential Pair", p, f, m.iflag);
    return kExitFailed;
  }
  // Delay per inch, ps: sqrt(eff) / c0 with c0 in inches per nanosecond.
  const auto delay = [&](float eff) {
    return ctx.per_unit(1000.0f * std::sqrt(eff) / light_speed);
  };
  Row row{{ctx.from_inch(p.w), ctx.from_inch(p.s), p.w / p.h, p.s / p.h, 2.0f * m.zoo, m.zoe / 2.0f,
           m.zoe, m.zoo, m.eff_e, m.eff_o, delay(m.eff_e), delay(m.eff_o)},
          range_flags(p, f)};
  if (field) row.values.emplace_back(field_error_pct(m));
  if (!ctx.add_row(doc, std::move(row),
                   "W " + ctx.length_text(p.w) + ", S " + ctx.length_text(p.s))) {
    return kExitFailed;
  }
  ctx.emit(doc);
  return kExitOk;
}

}  // namespace

void register_diffpair(Context& ctx) {
  auto a = std::make_shared<DiffpairArgs>();
  Command& cmd = ctx.add_command("diffpair",
                                 "Differential pair: Zdiff, Zcomm and delays; W or S for a Zdiff",
                                 [&ctx, a] { return diffpair(ctx, *a); });
  a->sec = ctx.add_section(cmd, true);
  a->f = ctx.add_value(cmd, "--f", "Frequency, GHz (default 0: D.C.)");
  a->zdiff = ctx.add_value(cmd, "--zdiff",
                           "Target differential impedance 2 Zoo, ohms: finds S (with --w) or W "
                           "(with --s)");
  a->zcomm = ctx.add_value(cmd, "--zcomm",
                           "Target common-mode impedance Zoe/2, ohms: with --zdiff finds W and S");
  ctx.add_model(cmd, a->model, false);
}

}  // namespace kx::cli
