// check: the closed forms beside the field solver for one cross-section at
// one frequency (the same dispersion formulas on both models' static
// values), with the difference of every figure and one sentence of verdict;
// with --s-range and/or --t-range (or --map: S/H 0.05 to 2, T/H 0 to 0.2),
// the same over a grid of S and T (a map of the closed forms' error).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include <kestrelix/check.h>
#include <kestrelix/validity.h>
#include "cli/commands.h"

namespace kx::cli {
namespace {

struct CheckArgs {
  SectionArgs sec;
  Arg* f{};
  Arg* s_range{};
  Arg* t_range{};
  bool map = false;
  ModelArgs model;
};

// The grid of --map alone, in substrate heights.
constexpr float kMapSMin = 0.05f, kMapSMax = 2.0f, kMapSStep = 0.05f;
constexpr float kMapTMax = 0.2f, kMapTStep = 0.02f;

// The verdict in one sentence.
std::string verdict(const study::Check& c) { return checks::verdict(c, "--model field"); }

void model_inputs(const Context& ctx, Document& doc, const ModelSettings& model) {
  doc.input("accuracy", Unit::none, model.accuracy == field::Accuracy::fine ? "fine" : "standard");
  if (model.coating.thickness > 0.0f) {
    doc.input("coat_thickness", Unit::length, ctx.echo(model.coating.thickness));
    doc.input("coat_er", Unit::none, model.coating.er);
  }
}

int one_point(Context& ctx, const Section& sec, float f, const ModelSettings& model) {
  Document doc = ctx.document("check");
  ctx.section_inputs(doc, sec);
  doc.input("f", Unit::frequency, f);
  model_inputs(ctx, doc, model);
  // The figures' units are in their rows, as the tolerance rows carry them.
  doc.uses(Unit::impedance);
  doc.uses(Unit::level);
  doc.column("quantity", Unit::none, Precision::shortest(), "Quantity");
  doc.column("unit", Unit::none, Precision::shortest(), "Unit");
  doc.column("closed", Unit::none, Precision::decimals(3), "Closed forms");
  doc.column("field", Unit::none, Precision::decimals(3), "Field");
  doc.column("difference", Unit::none, Precision::decimals(3), "Closed - field");
  doc.column("difference", Unit::percent, Precision::decimals(2), "Difference");
  // The solver's estimate of its own error, percent of its value, measured
  // against a more accurate solution.
  doc.column("field_error", Unit::percent, Precision::decimals(3), "Field error");

  const study::Check c = study::check(sec, f, model);
  // Each figure by the key the other subcommands give it.
  static const char* const names[] = {"zoe_ohm",     "zoo_ohm", "zo_ohm",
                                      "coupling_db", "eff_e",   "eff_o"};
  static const char* const units[] = {"ohm", "ohm", "ohm", "dB", "", ""};
  const auto num = [](float v) { return std::isfinite(v) ? Value(v) : Value::none(); };
  for (int k = 0; k < study::n_check_figures; ++k) {
    const study::Compared& x = c.figures[static_cast<std::size_t>(k)];
    Row row{{names[k], units[k], num(x.closed), num(x.field), num(x.difference),
             num(x.difference_pct), num(100.0f * x.error / x.field)},
            c.flags};
    if (!ctx.add_row(doc, std::move(row), names[k])) return kExitFailed;
  }
  const std::string said = verdict(c);
  doc.summary("verdict", Unit::none, said);
  doc.summary("closed_form_off", Unit::none, c.closed_form_off);
  // Beside the verdict: the ranges the closed forms' section is outside,
  // and the field solution's own limits.
  const unsigned ranges = range_flags(sec, f) | model_flags(c.closed.iflag);
  const unsigned own = field_flags(model, c.field.flags);
  doc.flag_note(
      said +
      (ranges == 0
           ? std::string()
           : "; the section is outside the closed forms' ranges (" + validity_codes(ranges) + ")") +
      (own == 0 ? std::string()
                : "; the field solution is outside its own limits (" + validity_codes(own) + ")"));
  ctx.emit(doc);
  return kExitOk;
}

int map_points(Context& ctx, const CheckArgs& a, const Section& sec, float f,
               const ModelSettings& model, const Range* sr, const Range* tr) {
  int s_steps = 0;
  int t_steps = 0;
  if (sr != nullptr) {
    require_above(a.s_range->name, sr->a, 0.0f);
    s_steps = ctx.sweep_steps(a.s_range->name, sr->b, sr->a, sr->step);
  }
  if (tr != nullptr) {
    require_at_least(a.t_range->name, tr->a, 0.0f);
    t_steps = ctx.sweep_steps(a.t_range->name, tr->b, tr->a, tr->step);
  }
  const long long points = (s_steps + 1LL) * (t_steps + 1LL);
  if (points > ctx.limits().max_points) {
    throw UsageError("--s-range with --t-range: too many points (at most " +
                     std::to_string(ctx.limits().max_points) + ")");
  }
  Document doc = ctx.document("check");
  doc.input("er", Unit::none, sec.er);
  doc.input("h", Unit::length, ctx.echo(sec.h));
  doc.input("h2", Unit::length, std::isinf(sec.h2) ? Value::none() : ctx.echo(sec.h2));
  doc.input("w", Unit::length, ctx.echo(sec.w));
  if (sr == nullptr) doc.input("s", Unit::length, ctx.echo(sec.s));
  if (tr == nullptr) doc.input("t", Unit::length, ctx.echo(sec.t));
  doc.input("f", Unit::frequency, f);
  model_inputs(ctx, doc, model);
  if (sr != nullptr) ctx.range_inputs(doc, "s", Unit::length, *sr, "min", "max");
  if (tr != nullptr) ctx.range_inputs(doc, "t", Unit::length, *tr, "min", "max");
  doc.column("s", Unit::length, Precision::decimals(4), "S");
  doc.column("t", Unit::length, Precision::decimals(4), "T");
  doc.column("s_h", Unit::none, Precision::decimals(3), "S/H");
  doc.column("t_h", Unit::none, Precision::decimals(3), "T/H");
  doc.column("zoe", Unit::impedance, Precision::decimals(3), "Zoe");
  doc.column("zoo", Unit::impedance, Precision::decimals(3), "Zoo");
  doc.column("eff_e", Unit::none, Precision::decimals(3), "Eff e");
  doc.column("eff_o", Unit::none, Precision::decimals(3), "Eff o");
  doc.column("field_dev_zoe", Unit::percent, Precision::decimals(2), "Zoe dev");
  doc.column("field_dev_zoo", Unit::percent, Precision::decimals(2), "Zoo dev");
  doc.column("field_dev_zo", Unit::percent, Precision::decimals(2), "Zo dev");
  doc.column("field_dev_coupling", Unit::level, Precision::decimals(3), "Coupling dev");
  doc.column("field_dev_eff_e", Unit::percent, Precision::decimals(2), "Eff e dev");
  doc.column("field_dev_eff_o", Unit::percent, Precision::decimals(2), "Eff o dev");
  // The a-priori estimate: measuring every point against a more accurate
  // solution would take the example's 440 points from 0.01 s to 2.3 s.
  doc.column("field_error", Unit::percent, Precision::decimals(3), "Field error (a priori)");

  study::MapPlan plan;
  plan.section = sec;
  plan.f = f;
  plan.field = model;
  if (sr != nullptr) plan.s = study::Range{sr->a, sr->b, sr->step};
  if (tr != nullptr) plan.t = study::Range{tr->a, tr->b, tr->step};
  long long n_off = 0;
  bool complete = true;
  const auto num = [](float v) { return std::isfinite(v) ? Value(v) : Value::none(); };
  study::check_map(
      plan,
      [&](const study::MapRow& r) {
        const Section& p = r.section;
        const Modes& m = r.field;
        const study::Deviations& d = r.deviations;
        n_off += (r.flags & flag_closed_form_off) != 0 ? 1 : 0;
        // The field's values only where it gave them all.
        const bool values = study::finite_figures(m);
        const auto field = [&](float v) { return values ? num(v) : Value::none(); };
        Row row{{ctx.echo(p.s), ctx.echo(p.t), p.s / p.h, p.t / p.h, field(m.zoe), field(m.zoo),
                 field(m.eff_e), field(m.eff_o), num(d.zoe_pct), num(d.zoo_pct), num(d.zo_pct),
                 num(d.coupling_db), num(d.eff_e_pct), num(d.eff_o_pct),
                 field(100.0f * r.field_error)},
                r.flags};
        row.group = static_cast<int>(r.t_index);
        const std::string where = "S " + ctx.length_text(p.s) + ", T " + ctx.length_text(p.t);
        complete = ctx.add_row(doc, std::move(row), where);
        return complete;
      },
      ctx.limits().stop);
  if (!complete) return kExitFailed;
  doc.summary("closed_form_off", Unit::none, n_off);
  ctx.emit(doc);
  return kExitOk;
}

int check_command(Context& ctx, const CheckArgs& a) {
  Values v(ctx);
  if (a.map && (a.sec.s->given() || a.sec.t->given())) {
    throw UsageError("--map: sweeps S and T; leave out --s and --t (or give --s-range, --t-range)");
  }
  const bool default_map = a.map && !a.s_range->given() && !a.t_range->given();
  const bool s_sweep = a.s_range->given() || default_map;
  const bool t_sweep = a.t_range->given() || default_map;
  Section sec = resolve_section(v, a.sec, true, !s_sweep, !t_sweep);
  const float f = v.number(
      *a.f, [](const Design& d) { return d.fdefdef; }, 0.0f);
  Range sr;
  Range tr;
  if (a.s_range->given()) sr = v.range(*a.s_range, {}, {}, {}, true);
  if (a.t_range->given()) tr = v.range(*a.t_range, {}, {}, {}, true);
  if (default_map) {
    sr = {kMapSMin * sec.h, kMapSMax * sec.h, kMapSStep * sec.h};
    tr = {0.0f, kMapTMax * sec.h, kMapTStep * sec.h};
  }
  resolve_materials(v, a.sec, nullptr);  // checked; the comparison has no losses
  v.check();
  validate_section(a.sec, sec, true, !s_sweep, !t_sweep);
  // The closed forms are one of the two compared: their cover limit holds.
  validate_cover(a.sec, sec, ModelSettings{Model::closed}, !t_sweep);
  require_at_least(a.f->name, f, 0.0f);
  Section top = sec;  // a map's thickest strips: the coating's highest top
  if (t_sweep) top.t = tr.b;
  const ModelSettings model = resolve_model(ctx, a.model, top);
  if (!s_sweep && !t_sweep) check_field_section(model, sec, "the section");
  check_width(ctx, sec.w, sec.h);
  if (!s_sweep) check_gap(ctx, sec.s, sec.t, sec.h, !t_sweep, false);
  check_section(ctx, sec, false, false);
  check_frequency(ctx, f, sec.h);
  if (s_sweep || t_sweep) {
    return map_points(ctx, a, sec, f, model, s_sweep ? &sr : nullptr, t_sweep ? &tr : nullptr);
  }
  return one_point(ctx, sec, f, model);
}

}  // namespace

void register_check(Context& ctx) {
  auto a = std::make_shared<CheckArgs>();
  Command& cmd = ctx.add_command("check", "The closed forms against the field solver",
                                 [&ctx, a] { return check_command(ctx, *a); });
  a->sec = ctx.add_section(cmd, true);
  a->f = ctx.add_value(cmd, "--f", "Frequency, GHz (default 0: D.C.)");
  a->s_range = ctx.add_value(cmd, "--s-range", "A map: gaps MIN:MAX:STEP (--s not used)");
  a->t_range =
      ctx.add_value(cmd, "--t-range", "A map: strip thicknesses MIN:MAX:STEP (--t not used)");
  ctx.excludes(a->s_range, a->sec.s);
  ctx.excludes(a->t_range, a->sec.t);
  ctx.add_flag(cmd, "--map", a->map,
               "A map over S/H 0.05 to 2 and T/H 0 to 0.2 (unless --s-range or --t-range)");
  a->model.field_only = true;
  ctx.add_model(cmd, a->model, false);
}

}  // namespace kx::cli
