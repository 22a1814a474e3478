// One pass of a tolerance run: the samples in rounds, the threads filling
// blocks of a round buffer (one kx::CoupledLine each), then the calling
// thread consuming the buffer in sample order (the accumulators, the
// percentile arrays, the limit counts and the samples file), so that all
// the run reports is formed in sample order whatever the thread count.
#pragma once

#include <array>
#include <chrono>
#include <vector>

#include "tolerance/sampling.h"
#include "tolerance/statistics.h"

namespace kx::tol {

class SamplesFile;

inline constexpr long long round_samples = 65536;  // samples per round

// A progress line on a terminal for runs longer than a second.
class Progress {
 public:
  Progress(bool enabled, const char* label, long long total);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  void update(long long done);
  ~Progress();

 private:
  bool on_;
  const char* label_;
  long long total_;
  std::chrono::steady_clock::time_point start_;
  bool shown_{false};
};

// What one pass collects.
struct PassResult {
  std::array<Welford, n_figures> acc{};
  std::array<std::vector<float>, n_figures> values;  // evaluated samples, for the percentiles
  std::vector<long long> passed;                     // per limit
  long long joint{};
  long long redraws{};
  Invalid invalid;
  OutsideRange outside;
  FieldCounts field;  // the field model's solutions, by how they were made
};

struct PassOptions {
  long long samples{};
  unsigned threads{1};
  int n_fig{};
  bool keep_values{};
  const std::vector<Limit>* limits{};
  bool band{};  // four-port limits hold over the band
  SamplesFile* out{};
  SampleSink* sink{};
  Progress* progress{};
};

// The samples 0 .. o.samples - 1 of `plan`; throws kx::Interrupted or
// kx::Stopped when the plan's Stop asks.
PassResult run_pass(const Plan& plan, const PassOptions& o);

}  // namespace kx::tol
