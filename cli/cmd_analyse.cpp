// analyse: Zo, Zoe, Zoo, coupling, effective permittivities and losses of the
// pair at the spot frequency, for one W and S or over a range of W or of S
// (the impedance analysis run).
#include <memory>

#include <kestrelix/validity.h>
#include "cli/commands.h"
#include "cli/convention.h"
#include "cli/loss_options.h"
#include "studies/sweeps.h"

namespace kx::cli {
namespace {

struct AnalyseArgs {
  SectionArgs sec;
  Arg* f{};
  Arg* w_range{};
  Arg* s_range{};
  Arg* tlos{};
  ModelArgs model;
  LossArgs loss;
};

// The columns, with the precisions of the impedance analysis report (W
// F8.4, W/H F7.3, ...).
void columns(Document& doc) {
  doc.column("w", Unit::length, Precision::decimals(4), "W");
  doc.column("s", Unit::length, Precision::decimals(4), "S");
  doc.column("w_h", Unit::none, Precision::decimals(3), "W/H");
  doc.column("s_h", Unit::none, Precision::decimals(3), "S/H");
  doc.column("zo", Unit::impedance, Precision::decimals(3), "Zo");
  doc.column("zoe", Unit::impedance, Precision::decimals(3), "Zoe");
  doc.column("zoo", Unit::impedance, Precision::decimals(3), "Zoo");
  doc.column("coupling", Unit::level, Precision::decimals(3), "Coupling");
  doc.column("eff_e", Unit::none, Precision::decimals(3), "Eff e");
  doc.column("eff_o", Unit::none, Precision::decimals(3), "Eff o");
  doc.column("alpha_e", Unit::attenuation, Precision::decimals(3), "Alpha e");
  doc.column("alpha_o", Unit::attenuation, Precision::decimals(3), "Alpha o");
}

int analyse(Context& ctx, const AnalyseArgs& a) {
  Values v(ctx);
  const bool w_sweep = a.w_range->given();
  const bool s_sweep = a.s_range->given();
  substrate_er(ctx, a.loss, a.sec);
  Section sec = resolve_section(v, a.sec, !w_sweep, !s_sweep);
  const float f = v.number(
      *a.f, [](const Design& d) { return d.fdefdef; }, 0.0f);
  Range wr;
  Range sr;
  if (w_sweep) wr = v.range(*a.w_range, {}, {}, {}, true);
  if (s_sweep) sr = v.range(*a.s_range, {}, {}, {}, true);
  Materials mat = resolve_materials(v, a.sec, a.tlos);
  v.check();
  validate_section(a.sec, sec, !w_sweep, !s_sweep);
  require_at_least(a.f->name, f, 0.0f);
  ModelSettings model = resolve_model(ctx, a.model, sec);
  validate_cover(a.sec, sec, model);
  const FieldLosses field_losses = resolve_field_losses(ctx, a.loss, a.sec, model, sec.er, mat);

  if (w_sweep) {
    require_above(a.w_range->name, wr.a, 0.0f);
    ctx.sweep_steps(a.w_range->name, wr.b, wr.a, wr.step);
  }
  if (s_sweep) {
    require_above(a.s_range->name, sr.a, 0.0f);
    ctx.sweep_steps(a.s_range->name, sr.b, sr.a, sr.step);
  }
  if (!w_sweep && !s_sweep) check_field_section(model, sec, "the section");
  check_dimensions(ctx, sec, w_sweep ? &wr : nullptr, s_sweep ? &sr : nullptr);
  check_frequency(ctx, f, sec.h);

  Document doc = ctx.document("analyse");
  ctx.section_inputs(doc, sec, !w_sweep, !s_sweep);
  doc.input("f", Unit::frequency, f);
  ctx.material_inputs(doc, mat);
  if (field_losses) loss_inputs(doc, field_losses.materials);
  if (w_sweep) ctx.range_inputs(doc, "w", Unit::length, wr, "min", "max");
  if (s_sweep) ctx.range_inputs(doc, "s", Unit::length, sr, "min", "max");
  ctx.model_inputs(doc, model, a.model.check);
  columns(doc);
  const bool field = model.model == Model::field;
  if (field) doc.column("field_error", Unit::percent, Precision::decimals(3), "Field error");
  std::unique_ptr<study::FieldCheck> check;
  if (with_deviations(a.model, model)) {
    deviation_columns(doc);
    check = std::make_unique<study::FieldCheck>(model);
  }

  study::ImpedancePlan plan;
  plan.section = sec;
  plan.materials = mat;
  plan.f = f;
  plan.swept = w_sweep ? study::Swept::w : s_sweep ? study::Swept::s : study::Swept::none;
  if (w_sweep) plan.range = {wr.a, wr.b, wr.step};
  if (s_sweep) plan.range = {sr.a, sr.b, sr.step};
  // A long sweep of sections the solver's tables do not reach (a coating,
  // the fine accuracy): a model of the sweep from a few dozen solutions.
  if (auto sweep = study::sweep_model(model, plan)) model.sweeps.push_back(std::move(sweep));
  CoupledLine line(model);
  bool complete = true;
  study::impedance_sweep(
      line, plan,
      [&](const study::ImpedanceRow& r) {
        const Section& p = r.section;
        const Modes& m = r.modes;
        if (m.iflag != 0) {
          ctx.stop(doc);
          ctx.violation(p, f, m.iflag);
          return complete = false;
        }
        // The swept dimension over H as the rows print it, the fixed one as
        // the table heading prints it.
        const float wh = s_sweep ? p.w / p.h : (1.0f / p.h) * p.w;
        const float sh = w_sweep ? p.s / p.h : (1.0f / p.h) * p.s;
        const Attenuation alpha = field_losses ? field_losses.with_radiation(line, p, f)
                                               : Attenuation{attenuation_e(m), attenuation_o(m)};
        Row row{{ctx.echo(p.w), ctx.echo(p.s), wh, sh, m.zo, m.zoe, m.zoo,
                 coupling_db(m.coupling_db), m.eff_e, m.eff_o, ctx.per_unit(alpha.e),
                 ctx.per_unit(alpha.o)},
                range_flags(p, f) | field_flags(model, m.flags)};
        if (field) row.values.emplace_back(field_error_pct(m));
        if (check) add_deviations(row, (*check)(m, p, f));
        const std::string where = "W " + ctx.length_text(p.w) + ", S " + ctx.length_text(p.s);
        return complete = ctx.add_row(doc, std::move(row), where);
      },
      ctx.limits().stop);
  if (!complete) return kExitFailed;
  ctx.emit(doc);
  return kExitOk;
}

}  // namespace

void register_analyse(Context& ctx) {
  auto a = std::make_shared<AnalyseArgs>();
  Command& cmd = ctx.add_command("analyse",
                                 "Impedances, coupling, effective Er and losses over W or S",
                                 [&ctx, a] { return analyse(ctx, *a); });
  ctx.alias(cmd, "analyze");
  a->sec = ctx.add_section(cmd, true);
  a->f = ctx.add_value(cmd, "--f", "Spot frequency, GHz (default 0: D.C.)");
  a->w_range = ctx.add_value(cmd, "--w-range", "Range of strip widths MIN:MAX:STEP (--w not used)");
  a->s_range = ctx.add_value(cmd, "--s-range", "Range of gaps MIN:MAX:STEP (--s not used)");
  ctx.excludes(a->w_range, a->s_range);
  ctx.excludes(a->w_range, a->sec.w);
  ctx.excludes(a->s_range, a->sec.s);
  a->tlos = ctx.add_value(cmd, "--tlos", "Dielectric loss tangent (default 0)");
  ctx.add_model(cmd, a->model, true, true);
  a->loss = add_loss_options(ctx, cmd, a->sec);
}

}  // namespace kx::cli
