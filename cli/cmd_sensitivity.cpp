// sensitivity: normalised sensitivities of the dispersive Zoe and Zoo to Er,
// H, H2, S, W and T, over frequency or over a range of W or S at one
// frequency (the sensitivity run).
#include <memory>
#include <optional>
#include <string>

#include <kestrelix/validity.h>
#include "cli/commands.h"
#include "studies/sweeps.h"

namespace kx::cli {
namespace {

struct SensitivityArgs {
  SectionArgs sec;
  Arg* f_range{};
  Arg* w_range{};
  Arg* s_range{};
  Arg* f{};
  std::string mode = "both";
  ModelArgs model;
};

// The six normalised sensitivities of one impedance (dimensionless).
void add_columns(Document& doc, const std::string& z, const std::string& head) {
  for (const char* x : {"er", "h", "h2", "s", "w", "t"}) {
    doc.column("s_" + z + "_" + x, Unit::none, Precision::decimals(3),
               head + " " + (x[0] == 'e' ? "Er" : std::string(x)));
  }
}

// The columns, with the precisions of the sensitivity report (F13.4 or
// F14.4, F7.3, 6(F8.3)): the swept quantity, the impedances, the
// sensitivities of Zoe and of Zoo.
void columns(Document& doc, const std::string& swept, bool zoe, bool zoo) {
  if (swept == "f") {
    doc.column("f", Unit::frequency, Precision::decimals(4), "f");
  } else {
    doc.column(swept, Unit::length, Precision::decimals(4), swept == "w" ? "W" : "S");
  }
  doc.column("zoe", Unit::impedance, Precision::decimals(3), "Zoe");
  doc.column("zoo", Unit::impedance, Precision::decimals(3), "Zoo");
  if (zoe) add_columns(doc, "zoe", "Zoe/");
  if (zoo) add_columns(doc, "zoo", "Zoo/");
}

int sensitivity(Context& ctx, const SensitivityArgs& a) {
  Values v(ctx);
  const bool w_sweep = a.w_range->given();
  const bool s_sweep = a.s_range->given();
  const bool f_sweep = a.f_range->given();
  if (!w_sweep && !s_sweep && !f_sweep) v.missing("--f-range, --w-range or --s-range");
  Section sec = resolve_section(v, a.sec, !w_sweep, !s_sweep);
  Range r;
  const Arg* swept = f_sweep ? a.f_range : w_sweep ? a.w_range : a.s_range;
  if (w_sweep || s_sweep || f_sweep) r = v.range(*swept, {}, {}, {}, !f_sweep);
  float f = 0.0f;
  if (!f_sweep) f = v.number(*a.f, [](const Design& d) { return d.fdefdef; });
  resolve_materials(v, a.sec, nullptr);  // checked; the sensitivities do not depend on them
  v.check();
  validate_section(a.sec, sec, !w_sweep, !s_sweep);
  ModelSettings model = resolve_model(ctx, a.model, sec);
  validate_cover(a.sec, sec, model);
  if (!w_sweep && !s_sweep) check_field_section(model, sec, "the section");
  if (f_sweep) {
    require_at_least(swept->name, r.a, 0.0f);
  } else {
    require_above(swept->name, r.a, 0.0f);
    require_at_least(a.f->name, f, 0.0f);
  }
  ctx.sweep_steps(swept->name, r.b, r.a, r.step);

  check_dimensions(ctx, sec, w_sweep ? &r : nullptr, s_sweep ? &r : nullptr);
  if (f_sweep) {
    check_frequency(ctx, r.a, sec.h);
    check_frequency(ctx, r.b, sec.h);
  } else
    check_frequency(ctx, f, sec.h);

  const bool zoe = a.mode != "zoo";
  const bool zoo = a.mode != "zoe";
  Document doc = ctx.document("sensitivity");
  ctx.section_inputs(doc, sec, !w_sweep, !s_sweep);
  if (f_sweep) ctx.range_inputs(doc, "f", Unit::frequency, r);
  if (!f_sweep) doc.input("f", Unit::frequency, f);
  if (w_sweep) ctx.range_inputs(doc, "w", Unit::length, r, "min", "max");
  if (s_sweep) ctx.range_inputs(doc, "s", Unit::length, r, "min", "max");
  doc.input("mode", Unit::none, a.mode);
  ctx.model_inputs(doc, model);
  columns(doc, f_sweep ? "f" : w_sweep ? "w" : "s", zoe, zoo);
  const bool field = model.model == Model::field;
  if (field) doc.column("field_error", Unit::percent, Precision::decimals(3), "Field error");
  // The closed forms' rows say where the closed forms are off (the flag;
  // analyse gives the deviations).
  std::optional<study::FieldCheck> check;
  std::optional<CoupledLine> closed;
  if (with_deviations(a.model, model)) {
    check.emplace(model);
    closed.emplace(model);
  }

  study::SensitivityPlan plan;
  plan.section = sec;
  plan.f = f;
  plan.swept = f_sweep   ? study::SensitivitySwept::f
               : w_sweep ? study::SensitivitySwept::w
                         : study::SensitivitySwept::s;
  plan.range = {r.a, r.b, r.step};
  plan.zoe = zoe;
  plan.zoo = zoo;
  // A long W or S sweep beyond the solver's tables (a coating, the fine
  // accuracy): models of the sweep from a few dozen direct solutions each.
  model.sweeps = study::sensitivity_models(model, plan);
  CoupledLine line(model);
  bool complete = true;
  study::sensitivity_sweep(
      line, plan,
      [&](const study::SensitivityRow& p) {
        if (p.iflag() != 0) {
          ctx.stop(doc);
          ctx.violation(p.section, p.f, p.iflag());
          return complete = false;
        }
        Row out{{f_sweep ? p.x : ctx.from_inch(p.x), 0.0f, 0.0f},
                range_flags(p.section, p.f) | field_flags(model, p.flags)};
        for (const auto* sen : {&p.zoe, &p.zoo}) {
          if (!*sen) continue;
          out.values[1] = (*sen)->zoe;
          out.values[2] = (*sen)->zoo;
          const Sensitivities& z = (*sen)->to;
          out.values.insert(out.values.end(), {z.er, z.h, z.h2, z.s, z.w, z.t});
        }
        if (field) out.values.emplace_back(100.0f * p.field_error);
        if (check && (*check)(closed->at(p.section, p.f), p.section, p.f).closed_form_off) {
          out.flags |= flag_closed_form_off;
        }
        const std::string where = f_sweep   ? shortest(p.x) + " GHz"
                                  : w_sweep ? "W " + ctx.length_text(p.x)
                                            : "S " + ctx.length_text(p.x);
        return complete = ctx.add_row(doc, std::move(out), where);
      },
      ctx.limits().stop);
  if (!complete) return kExitFailed;
  ctx.emit(doc);
  return kExitOk;
}

}  // namespace

void register_sensitivity(Context& ctx) {
  auto a = std::make_shared<SensitivityArgs>();
  Command& cmd = ctx.add_command("sensitivity",
                                 "Sensitivity of Zoe and Zoo to Er, H, H2, S, W and T",
                                 [&ctx, a] { return sensitivity(ctx, *a); });
  a->sec = ctx.add_section(cmd, true);
  a->f_range = ctx.add_value(cmd, "--f-range", "Sweep the frequency START:STOP:STEP, GHz");
  a->w_range = ctx.add_value(cmd, "--w-range", "Sweep the strip width MIN:MAX:STEP at --f");
  a->s_range = ctx.add_value(cmd, "--s-range", "Sweep the gap MIN:MAX:STEP at --f");
  a->f = ctx.add_value(cmd, "--f", "Frequency of a W or S sweep, GHz");
  ctx.excludes(a->f_range, a->w_range);
  ctx.excludes(a->f_range, a->s_range);
  ctx.excludes(a->f_range, a->f);
  ctx.excludes(a->w_range, a->s_range);
  ctx.excludes(a->w_range, a->sec.w);
  ctx.excludes(a->s_range, a->sec.s);
  ctx.add_choice(cmd, "--mode", a->mode, {"zoe", "zoo", "both"}, "Zoe, Zoo or both (default both)");
  ctx.add_model(cmd, a->model, false, true);
}

}  // namespace kx::cli
