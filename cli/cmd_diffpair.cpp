// diffpair: the edge-coupled pair as the differential pair of a high-speed
// board. Zdiff = 2 Zoo (the pair driven in odd mode), Zcomm = Zoe/2 (both
// strips driven together), the two effective permittivities and the delays
// per length sqrt(eff)/c0. With --zdiff it finds S for a given W (or W for a
// given S), with --zcomm as well both W and S (kestrelix/diff_pair.h).
#include <memory>
#include <optional>
#include <string>

#include <kestrelix/diff_pair.h>
#include <kestrelix/validity.h>
#include "cli/commands.h"

namespace kx::cli {
namespace {

struct DiffpairArgs {
  SectionArgs sec;
  Arg* f{};
  Arg* zdiff{};
  Arg* zcomm{};
  ModelArgs model;
};

// The plan of the options; usage errors.
study::DiffPairPlan resolve(Context& ctx, const DiffpairArgs& a) {
  Values v(ctx);
  const bool by_zdiff = a.zdiff->given();
  const bool by_pair = by_zdiff && a.zcomm->given();
  const checks::PairNames names{a.sec.w->name, a.sec.s->name, a.zdiff->name, a.zcomm->name};
  study::DiffPairPlan plan;
  plan.solve =
      checks::pair_solve(names, a.sec.w->given(), a.sec.s->given(), by_zdiff, a.zcomm->given());
  const bool find_w = plan.solve == study::PairSolve::w || by_pair;
  const bool find_s = plan.solve == study::PairSolve::s || by_pair;
  plan.section = resolve_section(v, a.sec, !find_w, !find_s);
  plan.f = v.number(
      *a.f, [](const Design& d) { return d.fdefdef; }, 0.0f);
  plan.zdiff = by_zdiff ? parse_number(a.zdiff->name, a.zdiff->text) : 0.0f;
  plan.zcomm = by_pair ? parse_number(a.zcomm->name, a.zcomm->text) : 0.0f;
  v.check();
  validate_section(a.sec, plan.section, !find_w, !find_s);
  require_at_least(a.f->name, plan.f, 0.0f);
  checks::check_pair_targets(names, plan.solve, plan.zdiff, plan.zcomm);
  return plan;
}

// The document's inputs and columns.
Document pair_document(const Context& ctx, const study::DiffPairPlan& plan,
                       const ModelSettings& settings, const std::string& solve) {
  const bool find_w = plan.solve == study::PairSolve::w || plan.solve == study::PairSolve::w_and_s;
  const bool find_s = plan.solve == study::PairSolve::s || plan.solve == study::PairSolve::w_and_s;
  Document doc = ctx.document("diffpair");
  ctx.section_inputs(doc, plan.section, !find_w, !find_s);
  doc.input("f", Unit::frequency, plan.f);
  if (plan.solve != study::PairSolve::none) doc.input("zdiff", Unit::impedance, plan.zdiff);
  if (plan.solve == study::PairSolve::w_and_s) doc.input("zcomm", Unit::impedance, plan.zcomm);
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
  if (settings.model == Model::field) {
    doc.column("field_error", Unit::percent, Precision::decimals(3), "Field error");
    if (plan.solve != study::PairSolve::none) {
      // The closed forms' answer beside the solver's, and how far it moved.
      doc.column("closed_w", Unit::length, Precision::decimals(4), "closed W");
      doc.column("closed_s", Unit::length, Precision::decimals(4), "closed S");
      doc.column("w_diff", Unit::percent, Precision::decimals(2), "W diff");
      doc.column("s_diff", Unit::percent, Precision::decimals(2), "S diff");
    }
  }
  return doc;
}

int diffpair(Context& ctx, const DiffpairArgs& a) {
  const study::DiffPairPlan plan = resolve(ctx, a);
  const Section& sec = plan.section;
  const float f = plan.f;
  const bool by_pair = plan.solve == study::PairSolve::w_and_s;
  const bool find_w = by_pair || plan.solve == study::PairSolve::w;
  const bool find_s = by_pair || plan.solve == study::PairSolve::s;
  const ModelSettings settings = resolve_model(ctx, a.model, sec);
  validate_cover(a.sec, sec, settings);
  const bool field = settings.model == Model::field;
  if (!find_w && !find_s) check_field_section(settings, sec, "the section");
  if (!find_w) check_width(ctx, sec.w, sec.h);
  if (!find_s) check_gap(ctx, sec.s, sec.t, sec.h, true, false);
  check_section(ctx, sec, false, false);
  check_frequency(ctx, f, sec.h);

  const std::string solve = by_pair ? "w_s" : find_s ? "s" : find_w ? "w" : "none";
  Document doc = pair_document(ctx, plan, settings, solve);
  std::optional<study::FieldCheck> check;
  if (with_deviations(a.model, settings)) {
    deviation_columns(doc);
    check.emplace(settings);
  }
  CoupledLine line(settings);
  const study::DiffPair pair = study::diff_pair(line, plan, ctx.limits().stop);
  if (!pair.found) {
    const std::string what = by_pair ? "Zdiff " + shortest(plan.zdiff) + " ohm with Zcomm " +
                                           shortest(plan.zcomm) + " ohm"
                                     : "Zdiff " + shortest(plan.zdiff) + " ohm";
    const std::string given = by_pair  ? ""
                              : find_s ? " at W " + ctx.length_text(sec.w)
                                       : " at S " + ctx.length_text(sec.s);
    throw RunError(what + " cannot be met" + given +
                   (field ? " by the field solver from the closed forms' answer inside their "
                            "range (W/H 0.1 to 10, S/H 0.1 to 8)"
                          : " inside the models' range (W/H 0.1 to 10, S/H 0.1 to 8)"));
  }
  const Section& p = pair.section;
  const Modes& m = pair.modes;
  doc.summary("solve", Unit::none, solve);
  doc.summary("evaluations", Unit::none, pair.evaluations);
  if (m.iflag != 0) {
    ctx.stop(doc);
    ctx.violation(p, f, m.iflag);
    return kExitFailed;
  }
  Row row{{ctx.echo(p.w), ctx.echo(p.s), p.w / p.h, p.s / p.h, pair.zdiff, pair.zcomm, m.zoe, m.zoo,
           m.eff_e, m.eff_o, ctx.per_unit(pair.delay_e), ctx.per_unit(pair.delay_o)},
          range_flags(p, f) | field_flags(settings, m.flags)};
  if (field) row.values.emplace_back(field_error_pct(m));
  if (field && plan.solve != study::PairSolve::none) {
    const Section& c = pair.closed;
    const auto diff = [](float x, float closed) { return 100.0f * (x - closed) / closed; };
    row.values.insert(row.values.end(),
                      {pair.closed_found ? Value(ctx.echo(c.w)) : Value::none(),
                       pair.closed_found ? Value(ctx.echo(c.s)) : Value::none(),
                       pair.closed_found ? Value(diff(p.w, c.w)) : Value::none(),
                       pair.closed_found ? Value(diff(p.s, c.s)) : Value::none()});
  }
  if (check) add_deviations(row, (*check)(m, p, f));
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
  ctx.add_model(cmd, a->model, false, true);
}

}  // namespace kx::cli
