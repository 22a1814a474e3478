// dispersion: effective permittivities, impedances, quarter-wave length and
// losses of the pair over a frequency range (the dispersion run).
#include <memory>

#include <kestrelix/validity.h>
#include "cli/commands.h"
#include "cli/convention.h"
#include "cli/field_check.h"
#include "common/sweep.h"
#include "shared/warnings.h"

namespace kx::cli {
namespace {

struct DispersionArgs {
  SectionArgs sec;
  Arg* f_range{};
  Arg* tlos{};
  ModelArgs model;
};

int dispersion(Context& ctx, const DispersionArgs& a) {
  Values v(ctx);
  const Section sec = resolve_section(v, a.sec, true, true);
  const Range fr = v.range(
      *a.f_range, [](const Design& d) { return d.fmindef; },
      [](const Design& d) { return d.fmaxdef; }, [](const Design& d) { return d.fstepdef; }, false);
  const Materials mat = resolve_materials(v, a.sec, a.tlos);
  v.check();
  validate_section(a.sec, sec, true, true);
  const ModelSettings model = resolve_model(ctx, a.model);
  check_field_section(model, sec, "the section");
  require_at_least(a.f_range->name, fr.a, 0.0f);
  const int steps = ctx.sweep_steps(a.f_range->name, fr.b, fr.a, fr.step);
  check_section(ctx, sec, true, true);
  if (too_high(fr.a, sec.h)) ctx.warn(warnings::kTooHigh, warnings::kTooHighAsk);
  if (too_high(fr.b, sec.h)) ctx.warn(warnings::kTooHigh, warnings::kTooHighAsk);

  Document doc = ctx.document("dispersion");
  ctx.section_inputs(doc, sec);
  ctx.material_inputs(doc, mat);
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
  doc.column("alpha_e", Unit::attenuation, Precision::decimals(3), "Loss e");
  doc.column("alpha_o", Unit::attenuation, Precision::decimals(3), "Loss o");
  const bool field = model.model == Model::field;
  if (field) doc.column("field_error", Unit::percent, Precision::decimals(3), "Field err");
  std::unique_ptr<FieldCheck> check;
  if (a.model.check) {
    FieldCheck::columns(doc);
    check = std::make_unique<FieldCheck>(model);
  }

  CoupledLine line(model);
  const Modes dc = line.at(sec, 0.0f);
  if (!dc.valid) {
    ctx.stop(doc);
    ctx.violation("   Frequency Analysis", sec, 0.0f, dc.iflag);
    return kExitFailed;
  }
  for (long long k = 0; k <= steps; ++k) {
    ctx.poll();
    const float f = sweep_point(static_cast<int>(k), fr.step, fr.a);
    const Modes m = line.at(sec, mat, f);
    if (!m.valid) {
      ctx.stop(doc);
      ctx.violation("   Frequency Analysis", sec, f, m.iflag);
      return kExitFailed;
    }
    // No quarter wave at D.C.
    const Value quarter = f == 0.0f ? Value::none()
                                    : Value(ctx.from_inch(quarter_wave(m.eff_c, f)));
    Row row{{f, m.eff_e, m.eff_o, m.eff_c, m.zoe, m.zoo, m.zo, quarter,
             ctx.per_unit(attenuation_e(m)), ctx.per_unit(attenuation_o(m))},
            range_flags(sec, f)};
    if (field) row.values.emplace_back(field_error_pct(m));
    if (check) check->add(row, m, sec, f);
    if (!ctx.add_row(doc, std::move(row), shortest(f) + " GHz")) return kExitFailed;
  }
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
  ctx.add_model(cmd, a->model, true);
}

}  // namespace kx::cli
