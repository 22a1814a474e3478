// tolerance: the spread and yield of a coupler whose dimensions and Er vary
// within their tolerances, by Monte Carlo sampling (cli/tolerance.h).
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <iostream>
#include <memory>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include "cli/commands.h"
#include "cli/tolerance_output.h"
#include "input/warnings.h"

namespace kx::cli {
namespace {

struct ToleranceArgs {
  SectionArgs sec;
  Arg* f{};
  Arg* length{};
  Arg* centre{};
  Arg* rs{};
  Arg* rl{};
  Arg* tlos{};
  std::array<Arg*, tol::n_params> tol{};  // --tol-w ... --tol-er
  std::string dist = "normal";
  Arg* samples{};
  Arg* seed{};
  Arg* threads{};
  std::vector<std::string> limits;
  Arg* samples_out{};
};

// A whole number in [lo, hi]; UsageError naming the option otherwise.
template <typename T>
T whole(const Arg& a, T fallback, T lo, T hi) {
  if (!a.given()) return fallback;
  T v{};
  const char* b = a.text.data();
  const char* e = b + a.text.size();
  const auto r = std::from_chars(b, e, v);
  bool in_range = v <= hi;
  if constexpr (std::is_signed_v<T>) in_range = in_range && v >= lo;
  if (a.text.empty() || r.ec != std::errc() || r.ptr != e || !in_range) {
    throw UsageError(a.name + ": expected a whole number from " + std::to_string(lo) + " to " +
                     std::to_string(hi) + ", got '" + a.text + "'");
  }
  return v;
}

int tolerance(Context& ctx, const ToleranceArgs& a) {
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
  for (int k = 0; k < tol::n_params; ++k) {
    const Arg& t = *a.tol[static_cast<std::size_t>(k)];
    const float half = k == tol::p_er ? v.number(t, {}, 0.0f) : v.length(t, {}, 0.0f);
    require_at_least(t.name, half, 0.0f);
    study.tol[static_cast<tol::Param>(k)] = half;
  }
  v.check();
  validate_section(a.sec, study.nominal, true, true);
  require_at_least(a.f->name, study.f, 0.0f);
  if (by_length) require_above(a.length->name, study.length, 0.0f);
  if (by_centre) require_above(a.centre->name, study.centre, 0.0f);
  require_above(a.rs->name, study.rs, 0.0f);
  require_above(a.rl->name, study.rl, 0.0f);

  study.dist = a.dist == "uniform" ? tol::Dist::uniform : tol::Dist::normal;
  const RunLimits& lim = ctx.limits();
  study.samples = whole<long long>(*a.samples, 10000, 1, std::min(100000000LL, lim.max_samples));
  study.seed = whole<std::uint64_t>(*a.seed, 1, 0, UINT64_MAX);
  study.threads = whole<unsigned>(*a.threads, 0, 0, 256);
  if (lim.max_threads > 0) {
    study.threads = study.threads == 0 ? lim.max_threads : std::min(study.threads, lim.max_threads);
  }
  for (const std::string& text : a.limits) {
    try {
      study.limits.push_back(tol::parse_limit(text));
    } catch (const tol::Error& e) {
      throw UsageError("--limit: " + std::string(e.what()));
    }
  }
  ctx.require_files_allowed(*a.samples_out);
  if (a.samples_out->given()) {
    if (a.samples_out->text.empty()) throw UsageError("--samples-out: the file name is empty");
    study.samples_out = a.samples_out->text;
  }
  study.inches_per_unit = 1.0 / static_cast<double>(ctx.from_inch(1.0f));
  study.unit_name = ctx.units();
  // The progress line goes to the process's standard error: only when that
  // is where this run's messages go.
  study.progress = &ctx.err == &std::cerr;
  study.poll = [&ctx] { ctx.check_stop(); };
  if (const std::string why = tol::check(study); !why.empty()) throw UsageError(why);

  check_section(ctx, study.nominal, true, true);
  if (too_high(study.f, study.nominal.h)) ctx.warn(warnings::kTooHigh, warnings::kTooHighAsk);

  tol::Summary sum;
  try {
    sum = tol::run(study);
  } catch (const tol::Error& e) {
    throw RunError(e.what());
  }
  switch (ctx.format()) {
    case Format::csv:
      tol::write_csv(ctx.out, study, sum);
      break;
    case Format::json:
      tol::write_json(ctx.out, study, sum);
      break;
    case Format::touchstone:
      throw UsageError("--format touchstone: only the response subcommand writes Touchstone");
    default:
      tol::write_table(ctx.out, study, sum);
      break;
  }
  ctx.out.flush();
  if (!ctx.out) throw RunError("cannot write the results to standard output");

  // The nominal design itself outside the models' accuracy: its reasons,
  // as every run reports them, and status 1.
  CoupledLine line;
  const Modes nominal = line.at(study.nominal, study.f);
  if (!nominal.valid) {
    ctx.violation("   Tolerance Analysis", study.nominal, study.f, nominal.iflag);
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
                    "Design centre frequency, GHz: the length is the nominal quarter wave there");
  ctx.excludes(a->centre, a->length);
  a->rs = ctx.add_value(cmd, "--rs", "Source termination, ohms (default 50)");
  a->rl = ctx.add_value(cmd, "--rl", "Load termination, ohms (default 50)");
  a->tlos = ctx.add_value(cmd, "--tlos", "Dielectric loss tangent (default 0)");
  for (int k = 0; k < tol::n_params; ++k) {
    const std::string p = tol::param_names[static_cast<std::size_t>(k)];
    a->tol[static_cast<std::size_t>(k)] = ctx.add_value(cmd, "--tol-" + p,
                                                        "Tolerance of " + p + ", half-width" +
                                                            (k == tol::p_er ? "" : " (a length)") +
                                                            " (default 0)");
  }
  ctx.add_choice(cmd, "--dist", a->dist, {"normal", "uniform"},
                 "normal (half-width = 3 sigma, default) or uniform");
  a->samples = ctx.add_value(cmd, "--samples", "Number of samples (default 10000)");
  a->seed =
      ctx.add_value(cmd, "--seed", "Random seed (default 1): the same seed, the same numbers");
  a->threads = ctx.add_value(cmd, "--threads", "Threads (default: one per core)");
  ctx.add_list(cmd, "--limit", a->limits,
               "Pass band of a figure, NAME=MIN:MAX (an end may be empty); repeatable",
               "NAME=MIN:MAX");
  a->samples_out = ctx.add_value(cmd, "--samples-out", "Write every sample to FILE.csv", "FILE");
}

}  // namespace kx::cli
