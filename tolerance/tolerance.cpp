// Monte Carlo sampling of a coupler's cross-section and four-port response:
// the run (its plan, the main pass, the one-at-a-time passes of the shares)
// on the parts of this folder: the samples and their random streams
// (sampling.h), the passes over them (passes.h), the statistics
// (statistics.h), the samples file (samples_file.h) and the memory estimate
// (memory.h).
#include "tolerance/tolerance.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <thread>

#include <kestrelix/stop.h>
#include "common/output_file.h"
#include "tolerance/memory.h"
#include "tolerance/passes.h"
#include "tolerance/samples_file.h"

namespace kx::tol {
namespace {

constexpr long long kMaxSamples = 100000000;  // the percentile arrays stay below 2.6 GB
constexpr long long kOatSamples = 10000;      // samples of each one-at-a-time run
constexpr std::size_t kMaxBand = 10000;       // frequencies of a band
constexpr unsigned kMaxThreads = 256;
// The field solver's working memory for the drawn sections: that of the
// nominal one with half again (the draws' panels differ by a few).
constexpr double kFieldWorkMargin = 1.5;

bool parse_float(std::string_view text, float& out) {
  if (text.empty()) return false;
  const char* b = text.data();
  const char* e = b + text.size();
  if (*b == '+') ++b;
  const auto r = std::from_chars(b, e, out);
  return r.ec == std::errc() && r.ptr == e && std::isfinite(out);
}

std::string to_text(float v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// What one direct field solution of the drawn sections works in (0: the
// closed forms).
std::uint64_t field_work(const Study& study) {
  if (study.model.model != Model::field) return 0;
  field::Settings s;
  s.accuracy = study.model.accuracy;
  const std::size_t bytes =
      field::work_bytes(field_geometry(study.nominal, study.model.coating), s);
  return static_cast<std::uint64_t>(kFieldWorkMargin * static_cast<double>(bytes));
}

// The scale of a draw: sigma of a normal one (the half-width is 3 sigma),
// the half-width of a uniform one.
float scale_of(Dist dist, float half) { return dist == Dist::normal ? half / 3.0f : half; }

// The local model's box about the nominal section: every draw of a uniform
// tolerance, and of a normal one all but some 7e-6 per quantity (4.5 sigma),
// or the 3-sigma half-widths (0.27 % outside) where the wider box does not
// hold; the etch offset moves W and S by twice its own.
constexpr double kNormalBoxes[] = {1.5, 1.0};  // times the half-width (3 sigma)
constexpr double kUniformBox = 1.0001;         // the floats of a draw at the bound

field::Spread spread_of(const Study& study, double k) {
  const auto half = [&](Param p) { return k * static_cast<double>(study.tol[p]); };
  field::Spread s;
  s.w = half(p_w) + 2.0 * half(p_etch);
  s.s = half(p_s) + 2.0 * half(p_etch);
  s.h = half(p_h);
  s.h2 = half(p_h2);
  s.t = half(p_t);
  s.er = half(p_er);
  return s;
}

// How the field model's samples are solved: the fast path where its tables
// reach a bare nominal section; about a coated one a local model that holds
// (a few dozen direct solutions, then a fraction of the coated tables' time
// a sample), else the tables; else directly.
FieldMethod field_method_of(const Study& study, Plan& plan, Summary& sum) {
  const ModelSettings& m = study.model;
  if (m.method == field::Method::direct) return FieldMethod::direct;
  const field::Geometry g = field_geometry(study.nominal, m.coating);
  const bool tables = m.accuracy == field::Accuracy::standard && field::fast_covers(g);
  const bool coated = g.coat > 0.0 && g.er_coat != 1.0;
  if (tables && !coated) return FieldMethod::fast;
  const FieldMethod otherwise = tables ? FieldMethod::fast : FieldMethod::direct;
  bool varied = false;
  for (int k = 0; k < n_params; ++k) varied = varied || study.tol[static_cast<Param>(k)] > 0.0f;
  if (!varied) return otherwise;  // one cross-section: one solution
  field::LocalOptions options;
  options.settings.accuracy = m.accuracy;
  const std::vector<double> boxes =
      study.dist == Dist::normal
          ? std::vector<double>(std::begin(kNormalBoxes), std::end(kNormalBoxes))
          : std::vector<double>{kUniformBox};
  for (const double k : boxes) {
    check_stop(study.stop);
    try {
      auto local = std::make_shared<const field::LocalModel>(g, spread_of(study, k), options);
      sum.local_solutions += local->solutions();
      sum.local_deviation = local->deviation();
      if (local->holds()) {
        plan.model.local = std::move(local);
        return FieldMethod::local_model;
      }
    } catch (const std::invalid_argument&) {
      // The box reaches a cross-section the solver refuses: a narrower one.
    }
  }
  return otherwise;
}

// The share of draws the plan's evaluator solves directly, from the first
// draws of the run (a fallback of the fast path, a draw outside the local
// model's box, or every draw with FieldMethod::direct).
double direct_share(const Plan& plan, FieldMethod method, long long samples) {
  if (method == FieldMethod::direct) return 1.0;
  const long long n = std::min<long long>(samples, 4096);
  long long direct = 0;
  for (long long i = 0; i < n; ++i) {
    Section sec;
    if (!draw_section(plan, static_cast<std::uint64_t>(i), sec)) continue;
    const field::Geometry g = field_geometry(sec, plan.model.coating);
    const bool tables = plan.model.accuracy == field::Accuracy::standard && field::fast_covers(g);
    const field::LocalModel* local = plan.model.local.get();
    if (!tables && !(local != nullptr && local->covers(g))) ++direct;
  }
  return static_cast<double>(direct) / static_cast<double>(n);
}

// Seconds of one direct solution of the nominal section (its first).
double direct_seconds(const Study& study) {
  field::Settings s;
  s.accuracy = study.model.accuracy;
  const auto start = std::chrono::steady_clock::now();
  try {
    field::solve(field_geometry(study.nominal, study.model.coating), s);
  } catch (const std::exception&) {
    return 0.0;  // refused: the run says so at the nominal section
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string duration_text(double seconds) {
  char buf[64];
  if (seconds < 120.0) {
    std::snprintf(buf, sizeof buf, "%.0f s", seconds);
  } else if (seconds < 7200.0) {
    std::snprintf(buf, sizeof buf, "%.0f minutes", seconds / 60.0);
  } else {
    std::snprintf(buf, sizeof buf, "%.1f hours", seconds / 3600.0);
  }
  return buf;
}

// The main pass's figures: count, mean, spread and extremes, the
// histograms and percentiles (one figure per thread at a time), the yields.
void statistics(const Study& study, PassResult& main, unsigned threads, Summary& sum) {
  const long long evaluated = study.samples - main.invalid.total;
  sum.valid = evaluated - main.outside.total;
  sum.outside = main.outside;
  sum.redraws = main.redraws;
  sum.invalid = main.invalid;
  for (int i = 0; i < sum.n_fig; ++i) {
    const auto u = static_cast<std::size_t>(i);
    FigureStats& fs = sum.fig[u];
    const Welford& w = main.acc[u];
    fs.count = w.n;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    fs.mean = w.n > 0 ? w.mean : nan;
    fs.stddev = w.n > 0 ? std::sqrt(w.variance()) : nan;
    fs.min = w.n > 0 ? w.min : nan;
    fs.max = w.n > 0 ? w.max : nan;
  }
  // The percentile selections, one figure per thread at a time.
  {
    const auto select = [&](int first) {
      for (int i = first; i < sum.n_fig; i += static_cast<int>(threads)) {
        if (stop_requested(study.stop)) return;
        const auto u = static_cast<std::size_t>(i);
        sum.fig[u].histogram = histogram_of(main.values[u], sum.fig[u].min, sum.fig[u].max);
        sum.fig[u].pct = percentiles_of(main.values[u]);
        std::vector<float>().swap(main.values[u]);
      }
    };
    run_blocks(std::min<long long>(threads, sum.n_fig),
               [&](long long k) { select(static_cast<int>(k)); });
    check_stop(study.stop);
  }
  for (std::size_t j = 0; j < sum.limits.size(); ++j) {
    sum.yields.push_back(yield_of(main.passed[j], evaluated));
  }
  sum.joint = yield_of(main.joint, evaluated);
}

// One-at-a-time passes: each tolerance alone over the first samples of the
// same streams; its share of a figure's spread is its variance over the sum.
// The spread is that of the figures at f: the band is not evaluated.
template <typename Counts>
void shares(const Study& study, Plan plan, unsigned threads, long long oat_samples, Summary& sum,
            const Counts& add_counts) {
  plan.band.clear();
  sum.oat_samples = static_cast<int>(std::min(study.samples, oat_samples));
  std::array<std::array<double, n_params>, n_figures> var{};
  for (int k = 0; k < n_params; ++k) {
    const float half = study.tol[static_cast<Param>(k)];
    if (half == 0.0f) continue;
    for (int j = 0; j < n_params; ++j) {
      plan.scale[static_cast<std::size_t>(j)] = j == k ? scale_of(study.dist, half) : 0.0f;
    }
    PassOptions o;
    o.samples = sum.oat_samples;
    o.threads = threads;
    o.n_fig = sum.n_fig;
    const PassResult r = run_pass(plan, o);
    add_counts(r.field);
    for (int i = 0; i < sum.n_fig; ++i) {
      var[static_cast<std::size_t>(i)][static_cast<std::size_t>(k)] =
          r.acc[static_cast<std::size_t>(i)].variance();
    }
  }
  for (int i = 0; i < sum.n_fig; ++i) {
    const auto u = static_cast<std::size_t>(i);
    double total = 0.0;
    for (const double v : var[u]) total += v;
    for (std::size_t k = 0; k < n_params; ++k) {
      sum.fig[u].share[k] = total > 0.0 ? var[u][k] / total : 0.0;
    }
  }
}

// The main pass with the percentile arrays, the limits and the samples
// file: the caller's, or one of our own in `own`, committed when the whole
// run is done.
PassResult main_pass(const Study& study, const Plan& plan, const std::vector<Limit>& limits,
                     unsigned threads, int n_fig, OutputFiles& own_files,
                     std::unique_ptr<OutputFile>& own) {
  PassResult main;
  OutputFile* file = study.samples_file;
  try {
    if (file == nullptr && !study.samples_out.empty()) {
      own = std::make_unique<OutputFile>(own_files, study.samples_out);
      file = own.get();
    }
    std::unique_ptr<SamplesFile> out;
    if (file != nullptr) {
      out = std::make_unique<SamplesFile>(*file, n_fig, study.inches_per_unit, study.unit_name);
    }
    Progress progress(study.progress, "tolerance", study.samples);
    PassOptions o;
    o.samples = study.samples;
    o.threads = threads;
    o.n_fig = n_fig;
    o.keep_values = true;
    o.limits = &limits;
    o.band = !plan.band.empty();
    o.out = out.get();
    o.sink = study.sample_sink;
    o.progress = &progress;
    main = run_pass(plan, o);
  } catch (const std::bad_alloc&) {
    throw Error("not enough memory for " + std::to_string(study.samples) + " samples");
  } catch (const FileError& e) {
    throw Error(e.what());
  }
  return main;
}

// The limits with those about the nominal value in the figures' own terms.
std::vector<Limit> absolute(std::vector<Limit> limits, const Summary& sum) {
  for (Limit& lim : limits) {
    if (!lim.relative) continue;
    const float at = sum.fig[static_cast<std::size_t>(lim.figure)].nominal;
    if (!std::isfinite(at)) {
      throw Error(std::string("the limit on ") +
                  figure_names[static_cast<std::size_t>(lim.figure)] +
                  " is about the nominal value, and the nominal section has none");
    }
    lim.min = at + lim.min;
    lim.max = at + lim.max;
  }
  return limits;
}

}  // namespace

Limit parse_limit(std::string_view text) {
  const auto eq = text.find('=');
  const bool relative = eq != std::string_view::npos && text.substr(eq + 1, 2) == "+-";
  const auto colon = eq == std::string_view::npos || relative ? eq : text.find(':', eq + 1);
  if (colon == std::string_view::npos && !relative) {
    throw Error("limit '" + std::string(text) + "' is not NAME=MIN:MAX or NAME=+-X");
  }
  const std::string_view name = text.substr(0, eq);
  Limit lim;
  auto it = std::find_if(figure_names.begin(), figure_names.end(),
                         [&](const char* n) { return name == n; });
  if (it == figure_names.end()) {
    // The key with its unit names the figure too (zo_ohm).
    const auto key = std::find_if(figure_keys.begin(), figure_keys.end(),
                                  [&](const char* n) { return name == n; });
    it = figure_names.begin() + (key - figure_keys.begin());
  }
  if (it == figure_names.end()) {
    std::string known;
    for (const char* n : figure_names) known += std::string(known.empty() ? "" : ", ") + n;
    throw Error("unknown figure '" + std::string(name) + "' in limit (one of " + known + ")");
  }
  lim.figure = static_cast<Figure>(it - figure_names.begin());
  if (relative) {
    // About the nominal value: NAME=+-X.
    float x = 0.0f;
    if (!parse_float(text.substr(eq + 3), x) || x < 0.0f) {
      throw Error("limit '" + std::string(text) + "': +-X needs a number X, 0 or above");
    }
    lim.min = -x;
    lim.max = x;
    lim.relative = true;
    return lim;
  }
  const std::string_view lo = text.substr(eq + 1, colon - eq - 1);
  const std::string_view hi = text.substr(colon + 1);
  lim.min = -std::numeric_limits<float>::infinity();
  lim.max = std::numeric_limits<float>::infinity();
  if ((!lo.empty() && !parse_float(lo, lim.min)) || (!hi.empty() && !parse_float(hi, lim.max))) {
    throw Error("limit '" + std::string(text) + "': MIN and MAX must be numbers");
  }
  if (lim.min > lim.max) throw Error("limit '" + std::string(text) + "': MIN is above MAX");
  return lim;
}

std::string check(const Study& study) {
  const auto finite_nonneg = [](float v) { return std::isfinite(v) && v >= 0.0f; };
  if (const char* why = unphysical(study.nominal, study.model)) {
    return std::string("the nominal section is not physical: ") + why;
  }
  if (!finite_nonneg(study.f)) return "the frequency must be a number of GHz, 0 or above";
  if (!finite_nonneg(study.length)) return "the length must be above 0";
  if (!finite_nonneg(study.centre)) return "the centre frequency must be above 0";
  if (study.length > 0.0f && study.centre > 0.0f) {
    return "give either a length or a centre frequency, not both";
  }
  const bool four_port = study.length > 0.0f || study.centre > 0.0f;
  if (four_port && !(study.rs > 0.0f && std::isfinite(study.rs))) return "Rs must be above 0 ohms";
  if (four_port && !(study.rl > 0.0f && std::isfinite(study.rl))) return "Rl must be above 0 ohms";
  if (!finite_nonneg(study.mat.res) || !finite_nonneg(study.mat.sr) ||
      !finite_nonneg(study.mat.tlos)) {
    return "resistivity, roughness and loss tangent must be 0 or above";
  }
  if (std::isinf(study.nominal.h2) && study.tol[p_h2] != 0.0f) {
    return "an open section (H2 infinite) has no cover height to vary";
  }
  for (int k = 0; k < n_params; ++k) {
    if (!finite_nonneg(study.tol[static_cast<Param>(k)])) {
      return std::string("the tolerance of ") + param_names[static_cast<std::size_t>(k)] +
             " must be 0 or above";
    }
  }
  if (study.samples < 1 || study.samples > kMaxSamples) {
    return "the number of samples must be between 1 and " + std::to_string(kMaxSamples);
  }
  if (study.threads > kMaxThreads) return "at most " + std::to_string(kMaxThreads) + " threads";
  if (!(study.inches_per_unit > 0.0) || !std::isfinite(study.inches_per_unit)) {
    return "the length unit must be above 0 inches";
  }
  if (!study.band.empty() && !four_port) return "a band needs a length or a centre frequency";
  if (study.band.size() > kMaxBand) {
    return "at most " + std::to_string(kMaxBand) + " frequencies in the band";
  }
  for (const float fb : study.band) {
    if (!finite_nonneg(fb)) return "the band's frequencies must be numbers of GHz, 0 or above";
  }
  for (const Limit& lim : study.limits) {
    if (lim.figure < 0 || lim.figure >= n_figures) return "unknown figure in a limit";
    if (!four_port && lim.figure >= n_section_figures) {
      return std::string("the limit on ") + figure_names[static_cast<std::size_t>(lim.figure)] +
             " needs a length or a centre frequency";
    }
    if (!(lim.min <= lim.max)) return "a limit's MIN is above its MAX";
  }
  return "";
}

Summary run(const Study& study) {
  if (const std::string why = check(study); !why.empty()) throw Error(why);

  Summary sum;
  sum.samples = study.samples;
  sum.four_port = study.length > 0.0f || study.centre > 0.0f;
  sum.n_fig = sum.four_port ? n_figures : n_section_figures;

  // The model of the samples: with the field model every sample has its
  // own solution (the fast path, a local model or the direct solution).
  const bool field = study.model.model == Model::field;
  Plan plan;
  plan.model = study.model;
  plan.nominal = study.nominal;
  plan.mat = study.mat;
  plan.f = study.f;
  plan.rs = study.rs;
  plan.rl = study.rl;
  plan.band = study.band;
  plan.dist = study.dist;
  plan.seed = study.seed;
  plan.stop = study.stop;
  for (int k = 0; k < n_params; ++k) {
    plan.scale[static_cast<std::size_t>(k)] =
        scale_of(study.dist, study.tol[static_cast<Param>(k)]);
  }
  const long long oat_samples = field ? field_oat_samples : kOatSamples;
  unsigned threads = study.threads;
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  // Whether the run fits in memory, before the first solution.
  const std::uint64_t work = field_work(study);
  check_memory({study.samples, sum.n_fig, threads, 0, work});
  double direct = 0.0;  // the share of samples solved directly
  if (field) {
    // Off the tables every thread may solve directly: its memory first.
    const bool tables = study.model.method == field::Method::fast &&
                        study.model.accuracy == field::Accuracy::standard &&
                        field::fast_covers(field_geometry(study.nominal, study.model.coating));
    if (!tables) check_memory({study.samples, sum.n_fig, threads, work, work});
    sum.field_method = field_method_of(study, plan, sum);
    direct = direct_share(plan, sum.field_method, study.samples);
    // The direct solutions' memory on every thread, and their time.
    if (direct > 0.0) check_memory({study.samples, sum.n_fig, threads, work, work});
    int varied = 0;
    for (int k = 0; k < n_params; ++k) varied += study.tol[static_cast<Param>(k)] > 0.0f;
    const double solutions =
        direct * static_cast<double>(study.samples + varied * std::min(study.samples, oat_samples));
    // Nothing varied: one cross-section, solved once (and kept) per thread.
    const double seconds =
        solutions > 0.0 && varied > 0 ? solutions * direct_seconds(study) / threads : 0.0;
    if (seconds > field_direct_seconds) {
      const double per_sample = seconds / static_cast<double>(study.samples);
      const long long fit = static_cast<long long>(field_direct_seconds / per_sample);
      throw Error(std::to_string(study.samples) + " samples would take about " +
                  duration_text(seconds) + " of the field solver's direct solutions (" +
                  (sum.field_method == FieldMethod::direct
                       ? std::string("no local model holds here")
                       : std::to_string(static_cast<long long>(100.0 * direct + 0.5)) +
                             " % of the draws outside its tables and models") +
                  "): at most " + std::to_string(std::max(1LL, fit)) + " samples in " +
                  duration_text(field_direct_seconds) + ", or --model closed");
    }
  }

  // The nominal section and its length by the model itself.
  CoupledLine line(plan.model);
  if (study.centre > 0.0f) {
    // The board is cut once: the nominal section's quarter wave at the centre.
    plan.length = line.quarter_wave_length(study.nominal, study.centre);
    if (!(plan.length > 0.0f) || !std::isfinite(plan.length)) {
      throw Error("no quarter-wave length for the nominal section at " + to_text(study.centre) +
                  " GHz");
    }
  } else {
    plan.length = study.length;
  }
  sum.length = plan.length;

  Sample nominal;
  evaluate(line, plan, study.nominal, nominal);
  sum.nominal_flags = nominal.flags;
  if (field) {
    const Modes m = line.at(study.nominal, study.f);  // the solution is kept: no new one
    sum.nominal_error = std::max({m.error_zoe, m.error_zoo, m.error_eff_e, m.error_eff_o});
  }
  const auto add_counts = [&sum](const FieldCounts& c) {
    sum.field_counts.fast += c.fast;
    sum.field_counts.local += c.local;
    sum.field_counts.sweep += c.sweep;
    sum.field_counts.direct += c.direct;
    sum.field_counts.fallbacks += c.fallbacks;
  };
  add_counts(line.field_counts());
  for (int i = 0; i < sum.n_fig; ++i) {
    const auto u = static_cast<std::size_t>(i);
    sum.fig[u].nominal = nominal.status == st_ok ? nominal.fig[u]
                                                 : std::numeric_limits<float>::quiet_NaN();
  }
  sum.limits = absolute(study.limits, sum);

  // The main pass.
  OutputFiles own_files;
  std::unique_ptr<OutputFile> own;
  PassResult main = main_pass(study, plan, sum.limits, threads, sum.n_fig, own_files, own);
  add_counts(main.field);
  statistics(study, main, threads, sum);

  shares(study, plan, threads, oat_samples, sum, add_counts);
  if (own) {
    try {
      own->commit();
    } catch (const FileError& e) {
      throw Error(e.what());
    }
  }
  return sum;
}

}  // namespace kx::tol
