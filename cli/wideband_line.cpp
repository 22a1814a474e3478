#include "cli/wideband_line.h"

#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "studies/wideband.h"

namespace kx::cli {
namespace {

constexpr double kMetrePerInch = 0.0254;

// A GHz range START:STOP:STEP in double precision.
struct GhzRange {
  double start, stop, step;
};
GhzRange ghz_range(const Arg& a) {
  double v[3];
  std::size_t at = 0;
  for (int k = 0; k < 3; ++k) {
    const std::size_t colon = k < 2 ? a.text.find(':', at) : a.text.size();
    if (colon == std::string::npos || (k == 2 && a.text.find(':', at) != std::string::npos))
      throw UsageError(a.name + ": expected three numbers START:STOP:STEP, got '" + a.text + "'");
    v[k] = static_cast<double>(parse_number(a.name, a.text.substr(at, colon - at)));
    at = colon + 1;
  }
  return {v[0], v[1], v[2]};
}

}  // namespace

void add_line_options(Context& ctx, Command& cmd, LineArgs& a) {
  a.sec = ctx.add_section(cmd, true);
  a.tlos = ctx.add_value(cmd, "--tlos", "Dielectric loss tangent (default 0)");
  a.model.field_only = true;
  ctx.add_model(cmd, a.model, false);
  a.loss = add_loss_options(ctx, cmd, a.sec);
  a.f_range = ctx.add_value(cmd, "--f-range", "Frequencies START:STOP:STEP, GHz (above 0)");
}

Line resolve_line(Context& ctx, const LineArgs& a) {
  Line line;
  substrate_er(ctx, a.loss, a.sec);
  Values v(ctx);
  line.sec = resolve_section(v, a.sec, true, true);
  const Materials closed = resolve_materials(v, a.sec, a.tlos);
  if (!a.f_range->given()) v.missing(a.f_range->name);
  v.check();
  validate_section(a.sec, line.sec, true, true);
  line.model = resolve_model(ctx, a.model, line.sec);
  check_field_section(line.model, line.sec, "the section");

  const GhzRange r = ghz_range(*a.f_range);
  if (!(r.start > 0.0)) throw UsageError(a.f_range->name + ": the start must be above 0 GHz");
  if (!(r.step > 0.0)) throw UsageError(a.f_range->name + ": the step must be above 0");
  if (r.stop < r.start)
    throw UsageError(a.f_range->name +
                     ": the start is above the end; a range runs from low to high");
  const long long most = std::min<long long>(kMaxSteps, ctx.limits().max_points);
  line.f_hz = study::frequencies(1e9 * r.start, 1e9 * r.stop, 1e9 * r.step, most);
  if (line.f_hz.empty())
    throw UsageError(a.f_range->name + ": too many points (at most " + std::to_string(most) + ")");
  line.f_start = r.start;
  line.f_stop = r.stop;
  line.f_step = r.step;

  line.materials = resolve_loss(ctx, a.loss, line.sec.er, closed, line.model.coating.er);
  field::Geometry g = field_geometry(line.sec, line.model.coating);
  for (double* x : {&g.h, &g.w, &g.s, &g.t, &g.h2, &g.coat}) *x *= kMetrePerInch;
  rlgc::PairOptions options;
  options.field.accuracy = line.model.accuracy;
  try {
    line.statics = rlgc::pair_statics(g, pair_materials(line.materials), options);
  } catch (const std::invalid_argument& e) {
    throw UsageError(std::string("the section: ") + e.what());
  }
  return line;
}

std::vector<std::string> line_description(const Context& ctx, const Line& line) {
  const Section& sec = line.sec;
  const auto len = [&ctx](float inches) { return ctx.length_text(inches, true); };
  std::vector<std::string> out;
  out.push_back(std::string(kVersion) + ": edge-coupled pair, losses from the field");
  out.push_back("H " + len(sec.h) + ", " +
                (std::isinf(sec.h2) ? std::string("no cover") : "H2 " + len(sec.h2)) + ", W " +
                len(sec.w) + ", S " + len(sec.s) + ", T " + len(sec.t) +
                (line.model.coating.thickness > 0.0f
                     ? ", coating " + len(line.model.coating.thickness) + " Er " +
                           shortest(line.model.coating.er)
                     : std::string()));
  for (std::string& s : loss_description(line.materials)) out.push_back(std::move(s));
  return out;
}

void line_inputs(const Context& ctx, Document& doc, const Line& line) {
  ctx.section_inputs(doc, line.sec);
  loss_inputs(doc, line.materials);
  ctx.model_inputs(doc, line.model);
  doc.input("f_start", Unit::frequency, line.f_start);
  doc.input("f_stop", Unit::frequency, line.f_stop);
  doc.input("f_step", Unit::frequency, line.f_step);
  doc.summary("field_error", Unit::percent,
              100.0 * std::max(line.statics.error_c, line.statics.error_l));
}

}  // namespace kx::cli
