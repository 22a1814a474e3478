// synthesise: the strip width W and spacing S that realise the coupler
// impedance Zo at a list or range of coupling levels, or over a range of
// even-mode impedances (the synthesis run), each analysed again.
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "input/warnings.h"
#include "models/limits.h"
#include "models/static/static_models.h"

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
  Synthesiser(Context& ctx, const Section& sub, const Materials& mat, float f)
      : ctx_(ctx),
        sub_(sub),
        mat_(mat),
        f_(f),
        out_("synthesise", {"coupling_db", "zo", "zoe", "zoo", "w", "s", "w_h", "s_h", "eff_e",
                            "eff_o", "an_zo", "an_zoe", "an_zoo", "an_coupling_db", "an_eff_e",
                            "an_eff_o", "an_loss_e", "an_loss_o"}) {}

  Output& out() { return out_; }

  // One row: the level `couple` (negative dB) and the pair of the row; false
  // after the accuracy report when the synthesis failed.
  bool row(const Synthesis& r, float couple, float zo, float zoe, float zoo) {
    Section sec = sub_;
    sec.w = r.w;
    sec.s = r.s;
    if (!r.valid) {
      ctx_.emit(out_);
      ctx_.violation("Dimensional Synthesis", sec, f_, r.iflag, &couple, &zo);
      return false;
    }
    const float wh = (1.0f / sub_.h) * r.w;
    const float sh = (1.0f / sub_.h) * r.s;
    const Modes m = line_.at(sec, mat_, f_);
    out_.row({couple, zo, zoe, zoo, ctx_.from_inch(r.w), ctx_.from_inch(r.s), wh, sh, r.eff_e,
              r.eff_o, m.zo, m.zoe, m.zoo, m.coupling_db, m.eff_e, m.eff_o,
              ctx_.per_unit(-m.loss_e), ctx_.per_unit(-m.loss_o)});
    return true;
  }

  // A coupling level: the target pair from Zo and the level.
  bool level(float zo, float couple) {
    const Synthesis r = line_.synthesise(sub_, zo, couple, f_);
    return row(r, couple, zo, r.zoe, r.zoo);
  }

  CoupledLine& line() { return line_; }

 private:
  Context& ctx_;
  Section sub_;
  Materials mat_;
  float f_;
  Output out_;
  CoupledLine line_;
};

int synthesise(Context& ctx, const SynthesiseArgs& a) {
  Values v(ctx);
  Section sub = resolve_section(v, a.sec, false, false);
  const float zo_in = v.number(*a.zo, [](const Design& d) { return d.zodefdef; });
  // Omitted: D.C. synthesis, whatever frequency a defaults file holds.
  const float f = a.f->given() ? parse_number(a.f->name, a.f->text) : 0.0f;
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
  require_above(a.zo->name, zo_in, 0.0f);
  require_at_least(a.f->name, f, 0.0f);
  for (const float c : levels) require_above(a.coupling->name, c, 0.0f);
  if (levels.size() > static_cast<std::size_t>(kMaxSynthesisSteps)) {
    throw UsageError(a.coupling->name + ": too many levels");
  }
  if (by_range) {
    require_above(a.coupling_range->name, cr.a, 0.0f);
    require_above(a.coupling_range->name, cr.b, 0.0f);
    sweep_steps(a.coupling_range->name, cr.b, std::min(cr.a, cr.b), cr.step,
                ctx.max_points(kMaxSynthesisSteps));
  }
  if (by_zoe) {
    if (!(zr.b > zo_in)) throw UsageError(a.zoe_range->name + ": Zoe must be above --zo");
    sweep_steps(a.zoe_range->name, zr.a, zr.b, zr.step, ctx.max_points(kMaxSynthesisSteps));
  }

  check_section(ctx, sub, false, false);
  if (too_high(f, sub.h)) ctx.warn(warnings::kTooHigh, warnings::kTooHighAsk);
  for (const float c : levels) check_coupling(ctx, c);
  if (by_range) {
    check_coupling(ctx, cr.a);
    check_coupling(ctx, cr.b);
  }

  Synthesiser syn(ctx, sub, mat, f);
  Output& o = syn.out();
  ctx.section_inputs(o, sub, false, false);
  o.input("zo_ohm", zo_in);
  o.input("f_ghz", f);
  ctx.material_inputs(o, mat);

  if (!levels.empty()) {
    for (const float c : levels) {
      if (!syn.level(zo_in, -c)) return kExitFailed;
    }
  } else if (by_range) {
    // Levels -Cweak, -Cweak + Cstep, ... up to the first level not stronger
    // than -Cstrong, never at or above 0 dB.
    const float strong = cr.a;
    const float weak = cr.b;
    const float step = cr.step;
    float couple = -weak - step;
    for (;;) {
      couple = couple + step;
      if (couple >= 0.0f) break;
      if (!syn.level(zo_in, couple)) return kExitFailed;
      if (!(std::fabs(couple) > strong)) break;
      if (couple + step == couple) break;
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
      float zoo = zo * zo / zoe;
      float cc = 0.0f;
      float couple = 0.0f;
      sl1zo(cc, couple, 2, zo, zoe, zoo);
      const Synthesis r = syn.line().synthesise_pair(sub, zoe, zoo, f);
      if (!syn.row(r, couple, zo, zoe, zoo)) return kExitFailed;
      if (!(zmax > zoe)) break;
      if (zoe + step == zoe) break;
    }
  }
  ctx.emit(o);
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
  a->tlos = ctx.add_value(cmd, "--tlos", "Dielectric loss tangent of the re-analysis (default 0)");
}

}  // namespace kx::cli
