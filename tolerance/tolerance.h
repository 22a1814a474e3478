// Tolerance and yield of a coupler by Monte Carlo sampling.
//
// Every sample draws each toleranced dimension (W, S, H, H2, T) and Er
// independently around its nominal value, and one etch offset x that moves
// both edges of both strips (W - 2x, S + 2x at a fixed pitch); it evaluates
// the cross-section at f and, when a length or a centre frequency is given,
// the four-port response of the coupler at f (and over a band of
// frequencies when one is given, for the yield); the run reports the spread
// of every figure, the yield against limits and which tolerance drives each
// figure's spread.
//
// Reproducible: sample i draws from its own random stream, seeded from
// (seed, i), so the numbers do not depend on the thread count.
//
// Example:
//   kx::tol::Study study;
//   study.nominal.er = 3.66f;
//   study.nominal.h = kx::from_mil(20.0);
//   study.nominal.h2 = kx::from_mil(250.0);
//   study.nominal.w = kx::from_mil(34.3);
//   study.nominal.s = kx::from_mil(3.7);
//   study.nominal.t = kx::from_mil(1.4);
//   study.f = 2.4f;
//   study.tol.w = 0.0005f;
//   study.limits.push_back(kx::tol::parse_limit("coupling_db=9.5:10.5"));
//   const kx::tol::Summary sum = kx::tol::run(study);   // throws kx::tol::Error
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <kestrelix/coupled_line.h>

namespace kx {
class OutputFile;
class Stop;
}  // namespace kx

namespace kx::tol {

// A bad study or a failed write; the message is one line for the user.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Dist {
  normal,   // Gaussian; the half-width is 3 sigma (unbounded: 0.27 % fall outside)
  uniform,  // flat between nominal - half-width and nominal + half-width
};

// The toleranced quantities, in the order every sample draws them; the etch
// offset comes from a stream of its own, so the others draw the same numbers
// whether it is toleranced or not.
enum Param : int { p_w, p_s, p_h, p_h2, p_t, p_er, p_etch, n_params };
inline constexpr std::array<const char*, n_params> param_names{"w", "s",  "h",   "h2",
                                                               "t", "er", "etch"};

// Half-widths of the tolerances: lengths in inches (the etch offset too: W
// moves by twice it), Er dimensionless.
struct Tolerances {
  std::array<float, n_params> half{};  // indexed by Param
  float& operator[](Param p) { return half[static_cast<std::size_t>(p)]; }
  float operator[](Param p) const { return half[static_cast<std::size_t>(p)]; }
};

// The figures of every sample: the cross-section always, the four-port when
// a length or a centre frequency is given.
enum Figure : int {
  fig_zo,
  fig_zoe,
  fig_zoo,
  fig_coupling_db,
  fig_eff_e,
  fig_eff_o,  // cross-section
  fig_coupled_db,
  fig_isolation_db,
  fig_thru_db,
  fig_return_loss_db,
  fig_directivity_db,
  fig_vswr,
  fig_phase_error_deg,  // four-port
  n_figures
};
inline constexpr int n_section_figures = fig_coupled_db;
inline constexpr std::array<const char*, n_figures> figure_names{"zo",
                                                                 "zoe",
                                                                 "zoo",
                                                                 "coupling_db",
                                                                 "eff_e",
                                                                 "eff_o",
                                                                 "coupled_db",
                                                                 "isolation_db",
                                                                 "thru_db",
                                                                 "return_loss_db",
                                                                 "directivity_db",
                                                                 "vswr",
                                                                 "phase_error_deg"};
inline constexpr std::array<const char*, n_figures> figure_units{"ohm", "ohm", "ohm", "dB", "",
                                                                 "",    "dB",  "dB",  "dB", "dB",
                                                                 "dB",  "",    "deg"};
// The figures as keys with their units (the columns of the samples file).
inline constexpr std::array<const char*, n_figures> figure_keys{
    "zo_ohm",         "zoe_ohm",    "zoo_ohm",        "coupling_db", "eff_e",
    "eff_o",          "coupled_db", "isolation_db",   "thru_db",     "return_loss_db",
    "directivity_db", "vswr",       "phase_error_deg"};

// A pass band for one figure: min <= value <= max (either end may be infinite).
struct Limit {
  Figure figure{};
  float min{};
  float max{};
};

// Parses NAME=MIN:MAX (an empty MIN or MAX leaves that end open; NAME a
// figure's name or key, zo or zo_ohm); throws Error.
Limit parse_limit(std::string_view text);

// How a run with the field model (Study::model) samples.
enum class FieldMethod {
  none,    // the closed forms
  direct,  // every sample solved by the field solver
  ratios,  // the closed forms' samples, their static values corrected by the field-to-closed
           // ratios at the nominal section (kx::field_ratios)
};
// The field model samples the solver directly up to this many samples (a
// solution takes about a millisecond or two per core) ...
inline constexpr long long field_direct_samples = 10000;
// ... and then takes this many for each one-at-a-time pass of the shares.
inline constexpr long long field_oat_samples = 1000;

// Everything a run needs.
struct Study {
  Section nominal;  // inches (H2 infinite: no cover)
  // The model of every sample; with Model::field the run samples the solver
  // directly up to field_direct_samples samples, and beyond that corrects
  // the closed forms' samples (FieldMethod).
  ModelSettings model;
  Materials mat;    // resistivity, roughness, loss tangent (four-port losses)
  float f{};        // analysis frequency, GHz
  float length{};   // coupler length, inch (0: none)
  float centre{};   // design centre frequency, GHz: the length is the nominal
                    // section's quarter wave there (0: none)
  float rs{50.0f};  // source termination, ohms
  float rl{50.0f};  // load termination, ohms
  // Frequencies (GHz) at which a limit on a four-port figure must hold for
  // a sample to pass (empty: at f only); needs a length or a centre.
  std::vector<float> band;
  Tolerances tol;
  Dist dist{Dist::normal};
  long long samples{10000};
  std::uint64_t seed{1};
  unsigned threads{0};  // 0: one per core
  std::vector<Limit> limits;
  double inches_per_unit{1.0};  // output length unit (a conversion factor, kept exact)
  std::string unit_name{"in"};
  std::string samples_out;  // CSV of every sample ("" = none), written whole
  // Or the CSV in a file the caller opened (common/output_file.h) and
  // commits after the run.
  OutputFile* samples_file{};
  bool progress{true};  // a progress line when stderr is a terminal
  // Polled every few hundred samples by every thread: run() throws
  // kx::Interrupted or kx::Stopped (nullptr: SIGINT and SIGTERM only).
  const Stop* stop{};
};

// Checks the study; returns "" or a one-line message.
std::string check(const Study& study);

// Streamed statistics of one figure over the evaluated samples (valid ones
// and those outside the fitted ranges).
struct FigureStats {
  float nominal{};    // the nominal section's value (NaN when it is invalid)
  long long count{};  // evaluated samples
  double mean{}, stddev{};
  double min{}, max{};
  std::array<double, 5> pct{};  // 1st, 5th, 50th, 95th, 99th percentiles
  // Counts of the evaluated samples in histogram_bins equal bins from min to
  // max (the last bin holds max; all in the first when min = max; empty
  // when there are no samples).
  std::vector<long long> histogram;
  // Share of each tolerance in the sum of the one-at-a-time variances
  // (0..1, indexed by Param; all 0 when nothing varies).
  std::array<double, n_params> share{};
};
inline constexpr std::array<double, 5> percentiles{1.0, 5.0, 50.0, 95.0, 99.0};
inline constexpr int histogram_bins = 40;

// A sample passes when it is valid (inside the models' fitted ranges too)
// and within the limits; the count is the evaluated samples.
struct Yield {
  long long passed{};
  long long count{};           // evaluated samples
  double percent{};            // 100 * passed / count
  double ci_low{}, ci_high{};  // Wilson score 95 % interval, percent
};

// Why samples were left out of the statistics.
struct Invalid {
  long long total{};
  long long iflag1{};                 // Zo above the single-strip impedance of the odd-mode width
  long long iflag2{};                 // Zoo above Zoe
  std::array<long long, 7> reason{};  // per kx::Reason bit (bit 0 .. 6)
  long long no_reason{};              // flag raised with no accuracy limit crossed
  long long non_finite{};             // a figure came out infinite or not a number
  long long unphysical{};             // no physical draw within the redraw limit
};
inline constexpr int max_redraws = 1000;

// Samples the models evaluate but outside their fitted ranges
// (models/validity.h), per range code.
struct OutsideRange {
  long long total{};
  long long wh{}, sh{}, er{}, fh{}, s_lt_2t{};
};

struct Summary {
  long long samples{};
  long long valid{};  // evaluated and inside the fitted ranges
  OutsideRange outside;
  long long redraws{};  // unphysical draws that were drawn again
  bool four_port{};
  float length{};  // the coupler length used, inch (0: none)
  int n_fig{};     // n_section_figures or n_figures
  std::array<FigureStats, n_figures> fig{};
  int oat_samples{};          // samples per one-at-a-time run
  std::vector<Yield> yields;  // one per Study::limits entry
  Yield joint;                // all limits at once
  Invalid invalid;
  unsigned nominal_flags{};  // the validity codes of the nominal section (models/validity.h)
  FieldMethod field_method{FieldMethod::none};
  StaticRatios ratios;    // FieldMethod::ratios: the factors on the closed forms' statics
  float nominal_error{};  // the field model: the largest of the solver's relative error
                          // estimates at the nominal section
};

// Runs the sampling; throws Error on a bad study, a failed write of the
// samples file or a run that would not fit in memory (the message says how
// many samples fit), kx::Interrupted or kx::Stopped when stopped.
// samples = valid + outside.total + invalid.total.
Summary run(const Study& study);

}  // namespace kx::tol
