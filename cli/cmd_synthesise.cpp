// synthesise: the strip width W and spacing S that realise the coupler
// impedance Zo at a list or range of coupling levels, or over a range of
// even-mode impedances (the synthesis run), each analysed again.
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <kestrelix/validity.h>
#include "cli/commands.h"
#include "cli/convention.h"
#include "cli/field_check.h"
#include "models/limits.h"
#include "shared/warnings.h"

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
    ctx.warn(warnings::kNoConvergence, warnings::kNoConvergenceAsk);
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

class Synthesiser {
 public:
  // `f_syn`: the frequency of the synthesis (0: from the D.C. impedances);
  // `f`: the frequency of the re-analysis and of the quarter wave.
  Synthesiser(Context& ctx, const Section& sub, const Materials& mat, float f_syn, float f,
              const ModelSettings& model, bool check)
      : ctx_(ctx),
        sub_(sub),
        mat_(mat),
        f_syn_(f_syn),
        f_(f),
        doc_(ctx.document("synthesise")),
        field_(model.model == Model::field),
        line_(model) {
    // Precisions of the synthesis report (W F8.4, W/H F6.3, Zo F7.3 ...).
    doc_.column("coupling", Unit::level, Precision::decimals(3), "Coupling");
    doc_.column("zo", Unit::impedance, Precision::decimals(3), "Zo");
    doc_.column("zoe", Unit::impedance, Precision::decimals(3), "Zoe");
    doc_.column("zoo", Unit::impedance, Precision::decimals(3), "Zoo");
    doc_.column("w", Unit::length, Precision::decimals(4), "W");
    doc_.column("s", Unit::length, Precision::decimals(4), "S");
    doc_.column("w_h", Unit::none, Precision::decimals(3), "W/H");
    doc_.column("s_h", Unit::none, Precision::decimals(3), "S/H");
    doc_.column("eff_e", Unit::none, Precision::decimals(3), "Eff e");
    doc_.column("eff_o", Unit::none, Precision::decimals(3), "Eff o");
    doc_.column("quarter_wave", Unit::length, Precision::decimals(4), "Quarter wave");
    doc_.column("an_zo", Unit::impedance, Precision::decimals(3), "an Zo");
    doc_.column("an_zoe", Unit::impedance, Precision::decimals(3), "an Zoe");
    doc_.column("an_zoo", Unit::impedance, Precision::decimals(3), "an Zoo");
    doc_.column("an_coupling", Unit::level, Precision::decimals(3), "an Coupling");
    doc_.column("an_eff_e", Unit::none, Precision::decimals(3), "an Eff e");
    doc_.column("an_eff_o", Unit::none, Precision::decimals(3), "an Eff o");
    doc_.column("an_alpha_e", Unit::attenuation, Precision::decimals(3), "an Loss e");
    doc_.column("an_alpha_o", Unit::attenuation, Precision::decimals(3), "an Loss o");
    if (field_) {
      // The closed forms' answer beside the solver's, and how far it moved.
      doc_.column("closed_w", Unit::length, Precision::decimals(4), "closed W");
      doc_.column("closed_s", Unit::length, Precision::decimals(4), "closed S");
      doc_.column("w_diff", Unit::percent, Precision::decimals(2), "W diff");
      doc_.column("s_diff", Unit::percent, Precision::decimals(2), "S diff");
      doc_.column("field_error", Unit::percent, Precision::decimals(3), "Field err");
    }
    if (check) {
      FieldCheck::columns(doc_);
      check_ = std::make_unique<FieldCheck>(model);
    }
  }

  Document& doc() { return doc_; }

  // One row: the level `couple` (the library's negative dB) and the pair of
  // the row; false after the report when the synthesis failed or its
  // result is not finite.
  bool row(const Synthesis& r, float couple, float zo, float zoe, float zoo) {
    Section sec = sub_;
    sec.w = r.w;
    sec.s = r.s;
    if (!r.valid && field_ && r.closed_w != r.w) {
      // The closed forms found W and S; the solver's search from them did not.
      ctx_.stop(doc_);
      ctx_.err << "kestrelix synthesise: at Zoe " << shortest(zoe) << " ohm, Zoo " << shortest(zoo)
               << " ohm the field solver's search from the closed forms' W "
               << ctx_.length_text(r.closed_w) << ", S " << ctx_.length_text(r.closed_s)
               << " did not meet the target (Zo within 0.05 ohm, coupling within 0.01 dB)\n";
      return false;
    }
    if (!r.valid) {
      ctx_.stop(doc_);
      ctx_.violation("Dimensional Synthesis", sec, f_syn_, r.iflag, &couple, &zo);
      return false;
    }
    const float wh = (1.0f / sub_.h) * r.w;
    const float sh = (1.0f / sub_.h) * r.s;
    const Modes m = line_.at(sec, mat_, f_);
    // The quarter wave of the synthesised coupler at f; none at D.C.
    const Value quarter = f_ == 0.0f ? Value::none()
                                     : Value(ctx_.from_inch(quarter_wave(m.eff_c, f_)));
    Row out{{coupling_db(couple), zo, zoe, zoo, ctx_.from_inch(r.w), ctx_.from_inch(r.s), wh, sh,
             r.eff_e, r.eff_o, quarter, m.zo, m.zoe, m.zoo, coupling_db(m.coupling_db), m.eff_e,
             m.eff_o, ctx_.per_unit(attenuation_e(m)), ctx_.per_unit(attenuation_o(m))},
            range_flags(sec, f_)};
    if (field_) {
      const auto diff = [](float x, float closed) { return 100.0f * (x - closed) / closed; };
      out.values.insert(out.values.end(),
                        {ctx_.from_inch(r.closed_w), ctx_.from_inch(r.closed_s),
                         diff(r.w, r.closed_w), diff(r.s, r.closed_s), field_error_pct(m)});
    }
    if (check_) check_->add(out, m, sec, f_);
    return ctx_.add_row(doc_, std::move(out),
                        "Zoe " + shortest(zoe) + " ohm, Zoo " + shortest(zoo) + " ohm");
  }

  // A coupling level: the target pair from Zo and the level.
  bool level(float zo, float couple) {
    ctx_.poll();
    const Synthesis r = line_.synthesise(sub_, zo, couple, f_syn_);
    return row(r, couple, zo, r.zoe, r.zoo);
  }

  CoupledLine& line() { return line_; }

 private:
  Context& ctx_;
  Section sub_;
  Materials mat_;
  float f_syn_;
  float f_;
  Document doc_;
  bool field_;
  CoupledLine line_;
  std::unique_ptr<FieldCheck> check_;
};

int synthesise(Context& ctx, const SynthesiseArgs& a) {
  Values v(ctx);
  Section sub = resolve_section(v, a.sec, false, false);
  const float zo_in = v.number(*a.zo, [](const Design& d) { return d.zodefdef; });
  // Omitted: D.C. synthesis, whatever frequency a defaults file holds.
  const float f = a.f->given() ? parse_number(a.f->name, a.f->text) : 0.0f;
  const float f_syn = a.dc ? 0.0f : f;
  const Materials mat = resolve_materials(v, a.sec, a.tlos);
  std::vector<float> levels;
  Range cr;
  Range zr;
  const bool by_zoe = a.zoe_range->given();
  bool by_range = a.coupling_range->given();
  if (a.coupling->given()) {
    levels = parse_list(*a.coupling);
  } else if (by_range) {
    cr = parse_range(a.coupling_range->name, a.coupling_range->text);
  } else if (by_zoe) {
    zr = parse_range(a.zoe_range->name, a.zoe_range->text);
  } else if (const Design* d = ctx.defaults(); d != nullptr) {
    by_range = true;  // the defaults file's range of coupling levels
    cr = {d->cstrongdef, d->cweakdef, d->cstepdef};
  } else {
    v.missing("--coupling, --coupling-range or --zoe-range");
  }
  v.check();
  validate_section(a.sec, sub, false, false);
  const ModelSettings model = resolve_model(ctx, a.model);
  require_above(a.zo->name, zo_in, 0.0f);
  require_at_least(a.f->name, f, 0.0f);
  for (const float c : levels) require_above(a.coupling->name, c, 0.0f);
  if (levels.size() >
      static_cast<std::size_t>(std::min<long long>(kMaxSynthesisSteps, ctx.limits().max_points))) {
    throw UsageError(a.coupling->name + ": too many levels");
  }
  // The two ends of a range in either order, as the defaults file's
  // Cstrong/Cweak and ZOEmax/ZOEmin: STRONG is the smaller level, MAX the
  // larger impedance.
  if (by_range) {
    require_above(a.coupling_range->name, cr.a, 0.0f);
    require_above(a.coupling_range->name, cr.b, 0.0f);
    cr = {std::min(cr.a, cr.b), std::max(cr.a, cr.b), cr.step};
    ctx.sweep_steps(a.coupling_range->name, cr.b, cr.a, cr.step, kMaxSynthesisSteps);
  }
  if (by_zoe) {
    zr = {std::max(zr.a, zr.b), std::min(zr.a, zr.b), zr.step};
    if (!(zr.b > zo_in)) throw UsageError(a.zoe_range->name + ": Zoe must be above --zo");
    ctx.sweep_steps(a.zoe_range->name, zr.a, zr.b, zr.step, kMaxSynthesisSteps);
  }

  check_section(ctx, sub, false, false);
  if (too_high(f, sub.h)) ctx.warn(warnings::kTooHigh, warnings::kTooHighAsk);
  for (const float c : levels) check_coupling(ctx, c);
  if (by_range) {
    check_coupling(ctx, cr.a);
    check_coupling(ctx, cr.b);
  }

  Synthesiser syn(ctx, sub, mat, f_syn, f, model, a.model.check);
  Document& doc = syn.doc();
  ctx.section_inputs(doc, sub, false, false);
  doc.input("zo", Unit::impedance, zo_in);
  doc.input("f", Unit::frequency, f);
  doc.input("static", Unit::none, f_syn == 0.0f);
  ctx.material_inputs(doc, mat);
  ctx.model_inputs(doc, model, a.model.check);
  if (!levels.empty()) doc.input("coupling", Unit::level, levels);
  if (by_range) {
    doc.input("coupling_strong", Unit::level, cr.a);
    doc.input("coupling_weak", Unit::level, cr.b);
    doc.input("coupling_step", Unit::level, cr.step);
  }
  if (by_zoe) ctx.range_inputs(doc, "zoe", Unit::impedance, zr, "max", "min");

  if (!levels.empty()) {
    for (const float c : levels) {
      if (!syn.level(zo_in, library_coupling(c))) return kExitFailed;
    }
  } else if (by_range) {
    // Levels Cweak, Cweak - Cstep, ... down to the first level not weaker
    // than Cstrong, never at or below 0 dB (the dialogue's sweep, formed on
    // positive levels: IEEE rounding is symmetric, so each level is the
    // dialogue's to the bit).
    const float strong = cr.a;
    const float weak = cr.b;
    const float step = cr.step;
    float c = weak + step;
    for (;;) {
      c = c - step;
      if (c <= 0.0f) break;
      if (!syn.level(zo_in, library_coupling(c))) return kExitFailed;
      if (!(c > strong)) break;
      if (c - step == c) break;
    }
  } else {
    // Even-mode impedances ZoeMIN, ZoeMIN + ZoeSTEP, ... not above ZoeMAX;
    // Zo is taken again from each pair.
    const float zmax = zr.a;
    const float zmin = zr.b;
    const float step = zr.step;
    float zo = zo_in;
    float zoe = zmin - step;
    for (;;) {
      zoe = zoe + step;
      if (zoe > zmax) break;
      ctx.poll();
      const float zoo = zo * zo / zoe;
      const Coupling c = coupling_of(zoe, zoo);
      zo = c.zo;
      const float couple = c.coupling_db;
      const Synthesis r = syn.line().synthesise_pair(sub, zoe, zoo, f_syn);
      if (!syn.row(r, couple, zo, zoe, zoo)) return kExitFailed;
      if (!(zmax > zoe)) break;
      if (zoe + step == zoe) break;
    }
  }
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
  ctx.add_model(cmd, a->model, true);
}

}  // namespace kx::cli
