// dispersion: effective permittivities, impedances, quarter-wave length and
// losses of the pair over a frequency range (the dispersion run).
#include <memory>

#include <kestrelix/validity.h>
#include "cli/commands.h"
#include "cli/convention.h"
#include "cli/loss_options.h"
#include "studies/sweeps.h"

namespace kx::cli {
namespace {

struct DispersionArgs {
  SectionArgs sec;
  Arg* f_range{};
  Arg* tlos{};
  ModelArgs model;
  LossArgs loss;
};

int dispersion(Context& ctx, const DispersionArgs& a) {
  Values v(ctx);
  substrate_er(ctx, a.loss, a.sec);
  const Section sec = resolve_section(v, a.sec, true, true);
  const Range fr = v.range(
      *a.f_range, [](const Design& d) { return d.fmindef; },
      [](const Design& d) { return d.fmaxdef; }, [](const Design& d) { return d.fstepdef; }, false);
  Materials mat = resolve_materials(v, a.sec, a.tlos);
  v.check();
  validate_section(a.sec, sec, true, true);
  const ModelSettings model = resolve_model(ctx, a.model, sec);
  validate_cover(a.sec, sec, model);
  const FieldLosses field_losses = resolve_field_losses(ctx, a.loss, a.sec, model, sec.er, mat);
  check_field_section(model, sec, "the section");
  require_at_least(a.f_range->name, fr.a, 0.0f);
  ctx.sweep_steps(a.f_range->name, fr.b, fr.a, fr.step);
  check_section(ctx, sec, true, true);
  check_frequency(ctx, fr.a, sec.h);
  check_frequency(ctx, fr.b, sec.h);

  Document doc = ctx.document("dispersion");
  ctx.section_inputs(doc, sec);
  ctx.material_inputs(doc, mat);
  if (field_losses) loss_inputs(doc, field_losses.materials);
  ctx.range_inputs(doc, "f", Unit::frequency, fr);
  ctx.model_inputs(doc, model, a.model.check);
  // Precisions of the dispersion report (F8.4, 3(F7.3), F9.3, 2(F8.3), F8.4, 2(F8.3)).
  doc.column("f", Unit::frequency, Precision::decimals(4), "f");
  doc.column("eff_e", Unit::none, Precision::decimals(3), "Eff e");
  doc.column("eff_o", Unit::none, Precision::decimals(3), "Eff o");
  doc.column("eff_c", Unit::none, Precision::decimals(3), "Eff coupler");
  doc.column("zoe", Unit::impedance, Precision::decimals(3), "Zoe");
  doc.column("zoo", Unit::impedance, Precision::decimals(3), "Zoo");
  doc.column("zo", Unit::impedance, Precision::decimals(3), "Zo");
  doc.column("quarter_wave", Unit::length, Precision::decimals(4), "Quarter wave");
  doc.column("alpha_e", Unit::attenuation, Precision::decimals(3), "Alpha e");
  doc.column("alpha_o", Unit::attenuation, Precision::decimals(3), "Alpha o");
  const bool field = model.model == Model::field;
  if (field) doc.column("field_error", Unit::percent, Precision::decimals(3), "Field error");
  std::unique_ptr<study::FieldCheck> check;
  if (with_deviations(a.model, model)) {
    deviation_columns(doc);
    check = std::make_unique<study::FieldCheck>(model);
  }

  CoupledLine line(model);
  bool complete = true;
  study::dispersion_sweep(
      line, {sec, mat, {fr.a, fr.b, fr.step}},
      [&](const study::DispersionRow& r) {
        const Modes& m = r.modes;
        if (m.iflag != 0) {
          ctx.stop(doc);
          ctx.violation(sec, r.f, m.iflag);
          return complete = false;
        }
        if (r.statics) return true;
        // No quarter wave at D.C.
        const Value quarter = r.f == 0.0f ? Value::none() : Value(ctx.from_inch(r.quarter_wave));
        const Attenuation alpha = field_losses ? field_losses.with_radiation(line, sec, r.f)
                                               : Attenuation{attenuation_e(m), attenuation_o(m)};
        Row row{{r.f, m.eff_e, m.eff_o, m.eff_c, m.zoe, m.zoo, m.zo, quarter, ctx.per_unit(alpha.e),
                 ctx.per_unit(alpha.o)},
                range_flags(sec, r.f) | field_flags(model, m.flags)};
        if (field) row.values.emplace_back(field_error_pct(m));
        if (check) add_deviations(row, (*check)(m, sec, r.f));
        return complete = ctx.add_row(doc, std::move(row), shortest(r.f) + " GHz");
      },
      ctx.limits().stop);
  if (!complete) return kExitFailed;
  ctx.emit(doc);
  return kExitOk;
}

}  // namespace

void register_dispersion(Context& ctx) {
  auto a = std::make_shared<DispersionArgs>();
  Command& cmd = ctx.add_command("dispersion", "Dispersion of the cross-section over frequency",
                                 [&ctx, a] { return dispersion(ctx, *a); });
  a->sec = ctx.add_section(cmd, true);
  a->f_range = ctx.add_value(cmd, "--f-range", "Frequencies START:STOP:STEP, GHz");
  a->tlos = ctx.add_value(cmd, "--tlos", "Dielectric loss tangent (default 0)");
  ctx.add_model(cmd, a->model, true, true);
  a->loss = add_loss_options(ctx, cmd, a->sec);
}

}  // namespace kx::cli
