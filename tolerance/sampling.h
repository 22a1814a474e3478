// One sample of a tolerance run: its own random streams, the draw of every
// toleranced quantity and the etch offset, and the evaluation of the
// cross-section (and the coupler's four-port) it gives; and the blocks of
// samples the threads take.
#pragma once

#include <array>
#include <cstdint>
#include <system_error>
#include <thread>
#include <vector>

#include <kestrelix/coupled_line.h>

#include "tolerance/figures.h"

namespace kx {
class Stop;
}  // namespace kx

namespace kx::tol {

inline constexpr int n_four_port = n_figures - n_section_figures;

enum Status : unsigned char { st_ok, st_model, st_non_finite, st_unphysical };

struct Sample {
  std::array<float, n_params> in{};
  std::array<float, n_figures> fig{};
  // The four-port figures' least and greatest values over the band.
  std::array<float, n_four_port> band_lo{}, band_hi{};
  int iflag{};
  unsigned reasons{};
  unsigned flags{};  // validity codes (kestrelix/validity.h)
  int redraws{};
  Status status{st_ok};
};

// What receives every sample of a run's main pass, in sample order, on the
// thread that called the run (a program keeping the samples in memory).
class SampleSink {
 public:
  virtual ~SampleSink() = default;
  virtual void sample(long long index, const Sample& s) = 0;
};

// What every worker needs, read only.
struct Plan {
  ModelSettings model;  // of every sample
  Section nominal;
  Materials mat;
  float f{};
  float length{};  // 0: cross-section only
  float rs{}, rl{};
  std::vector<float> band;              // frequencies of the four-port limits (empty: f only)
  std::array<float, n_params> scale{};  // sigma (normal) or half-width (uniform)
  Dist dist{};
  std::uint64_t seed{};
  const Stop* stop{};
};

// Why a cross-section is not physical for `model` (nullptr: it is). T = 0
// is the zero-thickness strip model and is kept; a negative T is not; H2
// infinite is the open section; a cover must be above H with the closed
// forms, above the strips and their coating with the field model.
const char* unphysical(const Section& sec, const ModelSettings& model);

// The cross-section `sec` (and the four-port, with a length) into `out`.
void evaluate(CoupledLine& line, const Plan& plan, const Section& sec, Sample& out);

// Sample `index`: draw every quantity (all six, always, so that a quantity
// sees the same draws whichever others are toleranced) and the etch offset x
// (from its own stream), move both edges of both strips by x (W - 2x, S + 2x:
// the pitch stays), redraw while the draw is not physical, then evaluate.
void take_sample(CoupledLine& line, const Plan& plan, std::uint64_t index, Sample& out);
// The draws of take_sample alone: the cross-section of sample `index`
// (false: no physical draw within the redraw limit).
bool draw_section(const Plan& plan, std::uint64_t index, Section& sec);

// Runs work(0) .. work(n - 1), work(0) on the calling thread and the others
// on threads of their own; a block that gets no thread runs here too.
template <typename Work>
void run_blocks(long long n, const Work& work) {
  std::vector<std::thread> pool;
  long long k = 1;
  try {
    for (; k < n; ++k) pool.emplace_back(work, k);
  } catch (const std::system_error&) {
  }
  for (long long j = k; j < n; ++j) work(j);
  work(0);
  for (std::thread& t : pool) t.join();
}

}  // namespace kx::tol
