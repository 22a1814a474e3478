// The quantities a tolerance run draws, the figures it reports and what it
// counts (tolerance/tolerance.h runs it).
#pragma once

#include <array>
#include <stdexcept>
#include <vector>

#include <kestrelix/coupled_line.h>
#include <kestrelix/validity.h>

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
  bool relative{};  // min and max are about the nominal section's value (NAME=+-X)
};

// How a run with the field model (Study::model) samples: every sample
// has its own field solution, made by
enum class FieldMethod {
  none,         // (the closed forms)
  fast,         // the solver's fast path (its tables: an uncoated section at the standard
                // accuracy; a draw outside them is solved directly)
  local_model,  // a local model of direct solutions about the nominal section
                // (kx::field::LocalModel: a coating, the fine accuracy, a section outside
                // the tables), where it holds; a draw outside its box is solved directly
  direct,       // the direct solution (asked for, or no model holds)
};
// The one-at-a-time passes of the shares take this many samples each with
// the field model.
inline constexpr long long field_oat_samples = 1000;
// A run whose direct solutions would take longer than this (wall time on
// its threads, estimated from the draws and a timed solution) is refused.
inline constexpr double field_direct_seconds = 600.0;

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
  long long iflag1{};  // Zo above the single-strip impedance of the odd-mode width
  long long iflag2{};  // Zoo above Zoe
  // per code of the accuracy limits crossed (kx::accuracy_reasons), indexed
  // by kx::code_index
  std::array<long long, n_validity_codes> reason{};
  long long no_reason{};   // flag raised with no accuracy limit crossed
  long long non_finite{};  // a figure came out infinite or not a number
  long long unphysical{};  // no physical draw within the redraw limit
};
inline constexpr int max_redraws = 1000;

// Samples the models evaluate but outside their fitted ranges
// (models/validity.h), per range code.
struct OutsideRange {
  long long total{};
  long long wh{}, sh{}, er{}, fh{}, s_lt_2t{};
};

}  // namespace kx::tol
