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

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <kestrelix/coupled_line.h>

#include "tolerance/figures.h"

namespace kx {
class OutputFile;
class Stop;
}  // namespace kx

namespace kx::tol {

class SampleSink;  // tolerance/sampling.h

// Parses NAME=MIN:MAX (an empty MIN or MAX leaves that end open) or
// NAME=+-X (within X of the nominal section's value); NAME a figure's name
// or key, zo or zo_ohm; throws Error.
Limit parse_limit(std::string_view text);

// Everything a run needs.
struct Study {
  Section nominal;  // inches (H2 infinite: no cover)
  // The model of every sample (the field model by default: every sample
  // its own field solution, FieldMethod says how it is made).
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
  // And every sample handed to this sink as well (nullptr: none).
  SampleSink* sample_sink{};
  bool progress{true};  // a progress line when stderr is a terminal
  // Polled every few hundred samples by every thread: run() throws
  // kx::Interrupted or kx::Stopped (nullptr: SIGINT and SIGTERM only).
  const Stop* stop{};
};

// Checks the study; returns "" or a one-line message.
std::string check(const Study& study);

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
  std::vector<Limit> limits;  // Study::limits, those about the nominal value made absolute
  std::vector<Yield> yields;  // one per limit
  Yield joint;                // all limits at once
  Invalid invalid;
  unsigned nominal_flags{};  // the validity codes of the nominal section (models/validity.h)
  FieldMethod field_method{FieldMethod::none};
  // The field model's solutions of the whole run (the nominal section, the
  // samples and the one-at-a-time passes): by the fast path, by the local
  // model, directly (fallbacks: draws the fast path or the local model did
  // not reach).
  FieldCounts field_counts;
  int local_solutions{};     // direct solutions the local model was built and checked from
  double local_deviation{};  // its largest deviation at its checks (relative)
  float nominal_error{};     // the field model: the largest of the solver's relative error
                             // estimates at the nominal section
};

// Runs the sampling; throws Error on a bad study, a failed write of the
// samples file or a run that would not fit in memory (the message says how
// many samples fit), kx::Interrupted or kx::Stopped when stopped.
// samples = valid + outside.total + invalid.total.
Summary run(const Study& study);

}  // namespace kx::tol
