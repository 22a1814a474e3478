// synthesise: the strip width W and spacing S that realise the coupler
// impedance Zo at a list or range of coupling levels, or over a range of
// even-mode impedances (the synthesis run), each analysed again.
#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <kestrelix/validity.h>
#include "cli/commands.h"
#include "cli/convention.h"
#include "models/limits.h"
#include "studies/synthesis.h"

namespace kx::cli {
namespace {

struct SynthesiseArgs {
  SectionArgs sec;
  Arg* zo{};
  Arg* coupling{};
  Arg* coupling_range{};
  Arg* zoe_range{};
  Arg* f{};
  Arg* tlos{};
  bool dc = false;
  ModelArgs model;
};

// The dialogue's coupling-level test, on a positive level in dB.
void check_coupling(const Context& ctx, float c) {
  if (!(c >= -limits::tightest_db && c <= -limits::loosest_db)) {
    ctx.warn("coupling " + shortest(c) + " dB outside 6 to 20 dB: the synthesis may not converge");
  }
}

std::vector<float> parse_list(const Arg& a) {
  std::vector<float> levels;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = a.text.find(',', start);
    levels.push_back(parse_number(a.name, a.text.substr(start, comma - start)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return levels;
}

// The columns, with the precisions of the synthesis report (W F8.4, W/H
// F6.3, Zo F7.3 ...).
void columns(Document& doc, bool field, bool check) {
  doc.column("coupling", Unit::level, Precision::decimals(3), "Coupling");
  doc.column("zo", Unit::impedance, Precision::decimals(3), "Zo");
  doc.column("zoe", Unit::impedance, Precision::decimals(3), "Zoe");
  doc.column("zoo", Unit::impedance, Precision::decimals(3), "Zoo");
  doc.column("w", Unit::length, Precision::decimals(4), "W");
  doc.column("s", Unit::length, Precision::decimals(4), "S");
  doc.column("w_h", Unit::none, Precision::decimals(3), "W/H");
  doc.column("s_h", Unit::none, Precision::decimals(3), "S/H");
  doc.column("eff_e", Unit::none, Precision::decimals(3), "Eff e");
  doc.column("eff_o", Unit::none, Precision::decimals(3), "Eff o");
  doc.column("quarter_wave", Unit::length, Precision::decimals(4), "Quarter wave");
  doc.column("an_zo", Unit::impedance, Precision::decimals(3), "an Zo");
  doc.column("an_zoe", Unit::impedance, Precision::decimals(3), "an Zoe");
  doc.column("an_zoo", Unit::impedance, Precision::decimals(3), "an Zoo");
  doc.column("an_coupling", Unit::level, Precision::decimals(3), "an Coupling");
  doc.column("an_eff_e", Unit::none, Precision::decimals(3), "an Eff e");
  doc.column("an_eff_o", Unit::none, Precision::decimals(3), "an Eff o");
  doc.column("an_alpha_e", Unit::attenuation, Precision::decimals(3), "an Alpha e");
  doc.column("an_alpha_o", Unit::attenuation, Precision::decimals(3), "an Alpha o");
  if (field) {
    // The closed forms' answer beside the solver's, and how far it moved.
    doc.column("closed_w", Unit::length, Precision::decimals(4), "closed W");
    doc.column("closed_s", Unit::length, Precision::decimals(4), "closed S");
    doc.column("w_diff", Unit::percent, Precision::decimals(2), "W diff");
    doc.column("s_diff", Unit::percent, Precision::decimals(2), "S diff");
    doc.column("field_error", Unit::percent, Precision::decimals(3), "Field error");
  }
  if (check) deviation_columns(doc);
}

// One row; false after the report when the synthesis failed or its result
// is not finite.
bool synthesis_row(const Context& ctx, Document& doc, const study::SynthesisRow& r, float f_syn,
                   float f, const ModelSettings& model, study::FieldCheck* check) {
  const bool field = model.model == Model::field;
  const Synthesis& syn = r.synthesis;
  const Section& sec = r.section;
  if (syn.iflag != 0 && field && syn.closed_w != syn.w) {
    // The closed forms found W and S; the solver's search from them did not.
    ctx.stop(doc);
    ctx.err << "kestrelix synthesise: at Zoe " << shortest(r.zoe) << " ohm, Zoo " << shortest(r.zoo)
            << " ohm the field solver's search from the closed forms' W "
            << ctx.length_text(syn.closed_w) << ", S " << ctx.length_text(syn.closed_s)
            << " did not meet the target (Zo within 0.05 ohm, coupling within 0.01 dB)\n";
    return false;
  }
  if (syn.iflag != 0) {
    ctx.stop(doc);
    ctx.violation(sec, f_syn, syn.iflag, &r.coupling_db, &r.zo);
    return false;
  }
  const Modes& m = *r.analysis;
  const float wh = (1.0f / sec.h) * syn.w;
  const float sh = (1.0f / sec.h) * syn.s;
  // The quarter wave of the synthesised coupler at f; none at D.C.
  const Value quarter = f == 0.0f ? Value::none() : Value(ctx.from_inch(quarter_wave(m.eff_c, f)));
  Row out{{coupling_db(r.coupling_db), r.zo, r.zoe, r.zoo, ctx.from_inch(syn.w),
           ctx.from_inch(syn.s), wh, sh, syn.eff_e, syn.eff_o, quarter, m.zo, m.zoe, m.zoo,
           coupling_db(m.coupling_db), m.eff_e, m.eff_o, ctx.per_unit(attenuation_e(m)),
           ctx.per_unit(attenuation_o(m))},
          range_flags(sec, f) | field_flags(model, m.flags)};
  if (field) {
    const auto diff = [](float x, float closed) { return 100.0f * (x - closed) / closed; };
    out.values.insert(out.values.end(),
                      {ctx.from_inch(syn.closed_w), ctx.from_inch(syn.closed_s),
                       diff(syn.w, syn.closed_w), diff(syn.s, syn.closed_s), field_error_pct(m)});
  }
  if (check != nullptr) add_deviations(out, (*check)(m, sec, f));
  return ctx.add_row(doc, std::move(out),
                     "Zoe " + shortest(r.zoe) + " ohm, Zoo " + shortest(r.zoo) + " ohm");
}

// The plan of the options (levels, a level range or a Zoe range, each with
// its re-analysis); usage errors.
study::SynthesisPlan resolve(Context& ctx, const SynthesiseArgs& a) {
  Values v(ctx);
  study::SynthesisPlan plan;
  plan.substrate = resolve_section(v, a.sec, false, false);
  plan.zo = v.number(*a.zo, [](const Design& d) { return d.zodefdef; });
  // Omitted: D.C. synthesis, whatever frequency a defaults file holds.
  plan.f_analysis = a.f->given() ? parse_number(a.f->name, a.f->text) : 0.0f;
  plan.f = a.dc ? 0.0f : plan.f_analysis;
  plan.reanalyse = true;
  plan.materials = resolve_materials(v, a.sec, a.tlos);
  Range cr;
  Range zr;
  plan.targets = a.zoe_range->given() ? study::Targets::zoe_range : study::Targets::level_range;
  if (a.coupling->given()) {
    plan.targets = study::Targets::levels;
    plan.levels = parse_list(*a.coupling);
  } else if (a.coupling_range->given()) {
    cr = parse_range(a.coupling_range->name, a.coupling_range->text);
  } else if (a.zoe_range->given()) {
    zr = parse_range(a.zoe_range->name, a.zoe_range->text);
  } else if (const Design* d = ctx.defaults(); d != nullptr) {
    cr = {d->cstrongdef, d->cweakdef, d->cstepdef};  // the defaults file's coupling levels
  } else {
    v.missing("--coupling, --coupling-range or --zoe-range");
  }
  v.check();
  validate_section(a.sec, plan.substrate, false, false);
  require_above(a.zo->name, plan.zo, 0.0f);
  require_at_least(a.f->name, plan.f_analysis, 0.0f);
  for (const float c : plan.levels) require_above(a.coupling->name, c, 0.0f);
  if (plan.levels.size() >
      static_cast<std::size_t>(std::min<long long>(kMaxSynthesisSteps, ctx.limits().max_points))) {
    throw UsageError(a.coupling->name + ": too many levels");
  }
  // The two ends of a range in either order, as the defaults file's
  // Cstrong/Cweak and ZOEmax/ZOEmin: STRONG is the smaller level, MAX the
  // larger impedance.
  if (plan.targets == study::Targets::level_range) {
    require_above(a.coupling_range->name, cr.a, 0.0f);
    require_above(a.coupling_range->name, cr.b, 0.0f);
    plan.level_range = {std::min(cr.a, cr.b), std::max(cr.a, cr.b), cr.step};
    ctx.sweep_steps(a.coupling_range->name, plan.level_range.max, plan.level_range.min, cr.step,
                    kMaxSynthesisSteps);
  }
  if (plan.targets == study::Targets::zoe_range) {
    plan.zoe_range = {std::min(zr.a, zr.b), std::max(zr.a, zr.b), zr.step};
    if (!(plan.zoe_range.min > plan.zo)) {
      throw UsageError(a.zoe_range->name + ": Zoe must be above --zo");
    }
    ctx.sweep_steps(a.zoe_range->name, plan.zoe_range.max, plan.zoe_range.min, zr.step,
                    kMaxSynthesisSteps);
  }
  return plan;
}

// The document's inputs.
void inputs(const Context& ctx, Document& doc, const study::SynthesisPlan& plan,
            const ModelSettings& model, bool check) {
  ctx.section_inputs(doc, plan.substrate, false, false);
  doc.input("zo", Unit::impedance, plan.zo);
  doc.input("f", Unit::frequency, plan.f_analysis);
  doc.input("static", Unit::none, plan.f == 0.0f);
  ctx.material_inputs(doc, *plan.materials);
  ctx.model_inputs(doc, model, check);
  if (plan.targets == study::Targets::levels) doc.input("coupling", Unit::level, plan.levels);
  if (plan.targets == study::Targets::level_range) {
    doc.input("coupling_strong", Unit::level, plan.level_range.min);
    doc.input("coupling_weak", Unit::level, plan.level_range.max);
    doc.input("coupling_step", Unit::level, plan.level_range.step);
  }
  if (plan.targets == study::Targets::zoe_range) {
    doc.input("zoe_max", Unit::impedance, plan.zoe_range.max);
    doc.input("zoe_min", Unit::impedance, plan.zoe_range.min);
    doc.input("zoe_step", Unit::impedance, plan.zoe_range.step);
  }
}

int synthesise(Context& ctx, const SynthesiseArgs& a) {
  const study::SynthesisPlan plan = resolve(ctx, a);
  const ModelSettings model = resolve_model(ctx, a.model, plan.substrate);
  validate_cover(a.sec, plan.substrate, model);
  check_section(ctx, plan.substrate, false, false);
  check_frequency(ctx, plan.f_analysis, plan.substrate.h);
  for (const float c : plan.levels) check_coupling(ctx, c);
  if (plan.targets == study::Targets::level_range) {
    check_coupling(ctx, plan.level_range.min);
    check_coupling(ctx, plan.level_range.max);
  }

  const bool field = model.model == Model::field;
  Document doc = ctx.document("synthesise");
  const bool deviations = with_deviations(a.model, model);
  columns(doc, field, deviations);
  inputs(ctx, doc, plan, model, a.model.check);
  CoupledLine line(model);
  std::optional<study::FieldCheck> check;
  if (deviations) check.emplace(model);
  bool complete = true;
  study::synthesis_sweep(
      line, plan,
      [&](const study::SynthesisRow& r) {
        return complete = synthesis_row(ctx, doc, r, plan.f, plan.f_analysis, model,
                                        check ? &*check : nullptr);
      },
      ctx.limits().stop);
  if (!complete) return kExitFailed;
  ctx.emit(doc);
  return kExitOk;
}

}  // namespace

void register_synthesise(Context& ctx) {
  auto a = std::make_shared<SynthesiseArgs>();
  Command& cmd = ctx.add_command("synthesise", "W and S for Zo and a coupling level",
                                 [&ctx, a] { return synthesise(ctx, *a); });
  ctx.alias(cmd, "synthesize");
  a->sec = ctx.add_section(cmd, false);
  a->zo = ctx.add_value(cmd, "--zo", "Coupler impedance Zo, ohms");
  a->coupling = ctx.add_value(cmd, "--coupling", "Coupling levels DB[,DB...], positive dB");
  a->coupling_range =
      ctx.add_value(cmd, "--coupling-range", "Coupling levels STRONG:WEAK:STEP, positive dB");
  a->zoe_range = ctx.add_value(cmd, "--zoe-range", "Even-mode impedances MAX:MIN:STEP, ohms");
  ctx.excludes(a->coupling, a->coupling_range);
  ctx.excludes(a->coupling, a->zoe_range);
  ctx.excludes(a->coupling_range, a->zoe_range);
  a->f = ctx.add_value(cmd, "--f", "Frequency, GHz (omitted or 0: from D.C. impedances)");
  ctx.add_flag(cmd, "--static", a->dc,
               "Synthesise from the D.C. impedances; --f is then the frequency of the "
               "re-analysis and the quarter wave");
  a->tlos = ctx.add_value(cmd, "--tlos", "Dielectric loss tangent of the re-analysis (default 0)");
  ctx.add_model(cmd, a->model, true, true);
}

}  // namespace kx::cli
