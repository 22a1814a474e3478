// dispersion: effective permittivities, impedances, quarter-wave length and
// losses of the pair over a frequency range (the dispersion run).
#include <cmath>
#include <limits>
#include <memory>

#include "cli/commands.h"
#include "common/constants.h"
#include "common/sweep.h"
#include "input/warnings.h"

namespace kx::cli {
namespace {

struct DispersionArgs {
  SectionArgs sec;
  Arg* f_range{};
  Arg* tlos{};
};

// Quarter-wave length in inches at f GHz; infinite at f = 0.
float quarter_wave(float effcf, float f) {
  const float denom = std::sqrt(effcf) * (f * 4.0f);
  if (denom == 0.0f) return std::copysign(std::numeric_limits<float>::infinity(), denom);
  return light_speed / denom;
}

int dispersion(Context& ctx, const DispersionArgs& a) {
  Values v(ctx);
  const Section sec = resolve_section(v, a.sec, true, true);
  const Range fr = v.range(
      *a.f_range, [](const Design& d) { return d.fmindef; },
      [](const Design& d) { return d.fmaxdef; }, [](const Design& d) { return d.fstepdef; }, false);
  const Materials mat = resolve_materials(v, a.sec, a.tlos);
  v.check();
  validate_section(a.sec, sec, true, true);
  require_at_least(a.f_range->name, fr.a, 0.0f);
  const int steps = sweep_steps(a.f_range->name, fr.b, fr.a, fr.step, ctx.max_points());
  check_section(ctx, sec, true, true);
  if (too_high(fr.a, sec.h)) ctx.warn(warnings::kTooHigh, warnings::kTooHighAsk);
  if (too_high(fr.b, sec.h)) ctx.warn(warnings::kTooHigh, warnings::kTooHighAsk);

  Output o("dispersion",
           {"f_ghz", "eff_e", "eff_o", "eff_c", "zoe", "zoo", "zo", "length", "loss_e", "loss_o"});
  ctx.section_inputs(o, sec);
  ctx.material_inputs(o, mat);

  CoupledLine line;
  const Modes dc = line.at(sec, 0.0f);
  if (!dc.valid) {
    ctx.emit(o);
    ctx.violation("   Frequency Analysis", sec, 0.0f, dc.iflag);
    return kExitFailed;
  }
  for (long long k = 0; k <= steps; ++k) {
    const float f = sweep_point(static_cast<int>(k), fr.step, fr.a);
    const Modes m = line.at(sec, mat, f);
    if (!m.valid) {
      ctx.emit(o);
      ctx.violation("   Frequency Analysis", sec, f, m.iflag);
      return kExitFailed;
    }
    o.row({f, m.eff_e, m.eff_o, m.eff_c, m.zoe, m.zoo, m.zo,
           ctx.from_inch(quarter_wave(m.eff_c, f)), ctx.per_unit(-m.loss_e),
           ctx.per_unit(-m.loss_o)});
  }
  ctx.emit(o);
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
}

}  // namespace kx::cli
