// tolerance: the spread and yield of a coupler whose dimensions and Er vary
// within their tolerances, by Monte Carlo sampling (cli/tolerance.h).
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include <kestrelix/validity.h>
#include "cli/commands.h"
#include "cli/tolerance_output.h"
#include "common/sweep.h"

namespace kx::cli {
namespace {

const char* field_method_name(tol::FieldMethod m) {
  switch (m) {
    case tol::FieldMethod::fast:
      return "fast";
    case tol::FieldMethod::local_model:
      return "local_model";
    case tol::FieldMethod::direct:
      return "direct";
    case tol::FieldMethod::none:
      break;
  }
  return "none";
}

constexpr int kMaxBandSteps = 10000;  // each band point is a response per sample

struct ToleranceArgs {
  SectionArgs sec;
  Arg* f{};
  Arg* length{};
  Arg* centre{};
  Arg* rs{};
  Arg* rl{};
  Arg* tlos{};
  Arg* f_range{};
  std::array<Arg*, tol::n_params> tol{};  // --tol-w ... --tol-er, --tol-etch
  std::string dist = "normal";
  Arg* samples{};
  Arg* seed{};
  Arg* threads{};
  std::vector<std::string> limits;
  Arg* samples_out{};
  ModelArgs model;
};

// A tolerance half-width: a length in the chosen unit (Er: a number), or a
// percentage of the nominal value ("5%"); the etch offset takes a length only.
float half_width(const Context& ctx, const Arg& t, tol::Param p, const Section& nominal) {
  if (!t.given()) return 0.0f;
  if (!t.text.empty() && t.text.back() == '%') {
    if (p == tol::p_etch) return checks::percent_half_width(t.name, 0.0f, 0.0f, true);
    const float pct = parse_number(t.name, t.text.substr(0, t.text.size() - 1));
    const float values[] = {nominal.w, nominal.s, nominal.h, nominal.h2, nominal.t, nominal.er};
    return checks::percent_half_width(t.name, pct, values[static_cast<std::size_t>(p)], false);
  }
  // A length is read in double precision and rounded once, as every length is.
  return p == tol::p_er ? parse_number(t.name, t.text) : ctx.length_to_inch(t.name, t.text);
}

// The study of the options (the band's range into `band`); usage errors.
tol::Study resolve(Context& ctx, const ToleranceArgs& a, Range& band) {
  Values v(ctx);
  tol::Study study;
  study.nominal = resolve_section(v, a.sec, true, true);
  study.f = v.number(*a.f, [](const Design& d) { return d.fdefdef; });
  const bool by_centre = a.centre->given();
  const bool by_length = a.length->given();
  if (by_length) study.length = v.length(*a.length, {});
  if (by_centre) study.centre = parse_number(a.centre->name, a.centre->text);
  study.rs = v.number(
      *a.rs, [](const Design& d) { return d.rsdef; }, 50.0f);
  study.rl = v.number(
      *a.rl, [](const Design& d) { return d.rldef; }, 50.0f);
  study.mat = resolve_materials(v, a.sec, a.tlos);
  if (a.f_range->given()) band = v.range(*a.f_range, {}, {}, {}, false);
  v.check();
  if (std::isinf(study.nominal.h2) && a.tol[tol::p_h2]->given()) {
    throw UsageError(a.tol[tol::p_h2]->name + ": the section has no cover (--h2 inf)");
  }
  for (int k = 0; k < tol::n_params; ++k) {
    const Arg& t = *a.tol[static_cast<std::size_t>(k)];
    const auto p = static_cast<tol::Param>(k);
    const float half = half_width(ctx, t, p, study.nominal);
    require_at_least(t.name, half, 0.0f);
    study.tol[p] = half;
  }
  if (a.f_range->given()) {
    if (!by_length && !by_centre) {
      throw UsageError(a.f_range->name + ": a band needs --length or --centre");
    }
    require_at_least(a.f_range->name, band.a, 0.0f);
    const int steps = sweep_steps(a.f_range->name, band.b, band.a, band.step, kMaxBandSteps);
    for (int k = 0; k <= steps; ++k) study.band.push_back(sweep_point(k, band.step, band.a));
  }
  validate_section(a.sec, study.nominal, true, true);
  study.model = resolve_model(ctx, a.model, study.nominal);
  validate_cover(a.sec, study.nominal, study.model);
  check_field_section(study.model, study.nominal, "the nominal section");
  require_at_least(a.f->name, study.f, 0.0f);
  if (by_length) require_above(a.length->name, study.length, 0.0f);
  if (by_centre) require_above(a.centre->name, study.centre, 0.0f);
  require_above(a.rs->name, study.rs, 0.0f);
  require_above(a.rl->name, study.rl, 0.0f);

  study.dist = a.dist == "uniform" ? tol::Dist::uniform : tol::Dist::normal;
  const RunLimits& lim = ctx.limits();
  study.samples = whole<long long>(*a.samples, 10000, 1, std::min(lim.max_samples, 100000000LL));
  study.seed = whole<std::uint64_t>(*a.seed, 1, 0, UINT64_MAX);
  study.threads = whole<unsigned>(*a.threads, 0, 0, 256);
  if (lim.max_threads != 0) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    study.threads = std::min(study.threads == 0 ? cores : study.threads, lim.max_threads);
  }
  for (const std::string& text : a.limits) {
    try {
      study.limits.push_back(tol::parse_limit(text));
    } catch (const tol::Error& e) {
      throw UsageError("--limit: " + std::string(e.what()));
    }
  }
  study.inches_per_unit = 1.0 / static_cast<double>(ctx.from_inch(1.0f));
  study.unit_name = ctx.units();
  if (const std::string why = tol::check(study); !why.empty()) throw UsageError(why);
  return study;
}

int tolerance(Context& ctx, const ToleranceArgs& a) {
  Range band{};
  tol::Study study = resolve(ctx, a, band);
  // Opened before the run, so that a refused name costs no sampling; put in
  // place only after the results are out.
  const std::unique_ptr<OutputFile> samples =
      a.samples_out->given() ? ctx.output_file(*a.samples_out) : nullptr;
  study.samples_file = samples.get();
  study.stop = ctx.limits().stop;
  // The progress line goes to the process's own standard error only.
  study.progress = &ctx.err == &std::cerr;

  check_section(ctx, study.nominal, true, true);
  check_frequency(ctx, study.f, study.nominal.h);

  tol::Summary sum;
  try {
    sum = tol::run(study);
  } catch (const tol::Error& e) {
    throw RunError(e.what());
  }
  // The closed forms: whether they are off at the nominal section (the
  // rows carry its flags).
  if (study.model.model == Model::closed) {
    CoupledLine closed(study.model);
    study::FieldCheck check(study.model);
    if (check(closed.at(study.nominal, study.f), study.nominal, study.f).closed_form_off) {
      sum.nominal_flags |= flag_closed_form_off;
    }
  }
  Document doc = tolerance_document(study, sum);
  if (!study.band.empty()) ctx.range_inputs(doc, "band", Unit::frequency, band);
  ctx.model_inputs(doc, study.model);
  if (sum.field_method != tol::FieldMethod::none) {
    doc.summary("field_method", Unit::none, field_method_name(sum.field_method));
    doc.summary("field_fast", Unit::none, sum.field_counts.fast);
    doc.summary("field_local_model", Unit::none, sum.field_counts.local);
    doc.summary("field_direct", Unit::none, sum.field_counts.direct);
    doc.summary("field_error", Unit::percent, 100.0f * sum.nominal_error);
  }
  doc.flag_note("the nominal section is outside the models' validity ranges (" +
                validity_codes(sum.nominal_flags) + ")");
  ctx.emit(doc);
  if (const long long n = sum.outside.total; n > 0) {
    ctx.err << "kestrelix tolerance: " << n << " of " << sum.samples
            << " samples outside the models' fitted ranges: in the statistics, but they pass no "
               "limit\n";
  }
  // The nominal design itself outside the models' accuracy ends the run
  // with status 1 below, and a run that fails leaves no samples file.
  CoupledLine line(study.model);
  const Modes nominal = line.at(study.nominal, study.f);
  const bool failed = nominal.iflag != 0 || (sum.nominal_flags & flag_not_finite) != 0;
  if (samples && !failed) samples->commit();
  if (sum.field_method != tol::FieldMethod::none) {
    const FieldCounts& c = sum.field_counts;
    ctx.err << "kestrelix tolerance: every sample its own field solution: " << c.fast
            << " from the solver's tables, " << c.local << " from a local model";
    if (sum.local_solutions > 0) {
      char dev[32];
      std::snprintf(dev, sizeof dev, "%.3f", 100.0 * sum.local_deviation);
      ctx.err << " (" << sum.local_solutions << " direct solutions, within " << dev
              << " % at its checks"
              << (sum.field_method == tol::FieldMethod::local_model ? "" : ": it did not hold")
              << ")";
    }
    ctx.err << ", " << c.direct << " solved directly (the shares from " << sum.oat_samples
            << " samples per tolerance)\n";
  }

  // The nominal design's reasons, as every run reports them, and status 1.
  if (failed && samples)
    ctx.err << "kestrelix tolerance: " << a.samples_out->text << " not written\n";
  if (nominal.iflag != 0) {
    ctx.violation(study.nominal, study.f, nominal.iflag);
    return kExitFailed;
  }
  if ((sum.nominal_flags & flag_not_finite) != 0) {
    ctx.err << "kestrelix tolerance: the models give the nominal section a value that is not a "
               "finite number: it is outside their validity ("
            << validity_code(flag_not_finite) << ")\n";
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

void register_tolerance(Context& ctx) {
  auto a = std::make_shared<ToleranceArgs>();
  Command& cmd = ctx.add_command("tolerance", "Spread and yield by Monte Carlo sampling",
                                 [&ctx, a] { return tolerance(ctx, *a); });
  a->sec = ctx.add_section(cmd, true);
  a->f = ctx.add_value(cmd, "--f", "Analysis frequency, GHz");
  a->length = ctx.add_value(cmd, "--length", "Coupler length L: adds the four-port figures");
  a->centre =
      ctx.add_value(cmd, "--centre",
                    "Design centre frequency, GHz: the length is the nominal quarter wave there",
                    "", "--center");
  ctx.excludes(a->centre, a->length);
  a->rs = ctx.add_value(cmd, "--rs", "Source termination, ohms (default 50)");
  a->rl = ctx.add_value(cmd, "--rl", "Load termination, ohms (default 50)");
  a->tlos = ctx.add_value(cmd, "--tlos", "Dielectric loss tangent (default 0)");
  a->f_range = ctx.add_value(cmd, "--f-range",
                             "Band START:STOP:STEP, GHz: a four-port limit must hold at every "
                             "frequency of it");
  for (int k = 0; k < tol::n_params; ++k) {
    const std::string p = tol::param_names[static_cast<std::size_t>(k)];
    const std::string help =
        k == tol::p_etch ? "Etch offset of every strip edge, half-width (a length): W - 2x, S + 2x"
                         : "Tolerance of " + p + ", half-width (" +
                               (k == tol::p_er ? "" : "a length, ") + "or a percentage: 5%)";
    a->tol[static_cast<std::size_t>(k)] = ctx.add_value(cmd, "--tol-" + p, help + " (default 0)",
                                                        k == tol::p_etch ? "" : "NUMBER|PCT%");
  }
  ctx.add_choice(cmd, "--dist", a->dist, {"normal", "uniform"},
                 "normal (half-width = 3 sigma, default) or uniform");
  a->samples = ctx.add_value(cmd, "--samples", "Number of samples (default 10000)");
  a->seed =
      ctx.add_value(cmd, "--seed", "Random seed (default 1): the same seed, the same numbers");
  a->threads = ctx.add_value(cmd, "--threads", "Threads (default: one per core)");
  ctx.add_list(cmd, "--limit", a->limits,
               "Pass band of a figure, NAME=MIN:MAX (an end may be empty) or NAME=+-X (within X "
               "of the nominal value); repeatable",
               "NAME=MIN:MAX|NAME=+-X");
  a->samples_out = ctx.add_value(cmd, "--samples-out", "Write every sample to FILE.csv", "FILE");
  ctx.add_model(cmd, a->model, false);
}

}  // namespace kx::cli
