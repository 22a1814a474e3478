// Wall time of whole subcommands run in-process with their documents
// written (to a string): analyse over 10 000 widths with the field model
// (the default: the solver's tables), with the closed forms (each row with
// the solver's deviation beside) and under a solder mask (a model of the
// sweep from a few dozen direct solutions); and the default synthesis and
// differential pair of the README.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace {

int run(const std::vector<std::string>& args, std::string& out) {
  std::vector<const char*> argv{"kestrelix"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream o;
  std::ostringstream e;
  const int status = kx::cli::run_cli(static_cast<int>(argv.size()), argv.data(), o, e);
  out = o.str();
  return status;
}

// 0: the field model on its tables, 1: the closed forms with the solver's
// deviation, 2: the field model under a 20 um mask of Er 3.5.
void BM_Analyse10000Widths(benchmark::State& state) {
  std::vector<std::string> args{
      "analyse", "--er",    "3.66", "--h",      "0.508",     "--h2",           "6.35",
      "--t",     "0.035",   "--s",  "0.1",      "--w-range", "0.1:1.1:0.0001", "--f",
      "2.4",     "--units", "mm",   "--format", "csv"};
  if (state.range(0) == 1) args.insert(args.end(), {"--model", "closed"});
  if (state.range(0) == 2)
    args.insert(args.end(), {"--coat-thickness", "0.02", "--coat-er", "3.5"});
  std::string out;
  int status = 0;
  for (auto _ : state) {
    status = run(args, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["rows"] = static_cast<double>(std::count(out.begin(), out.end(), '\n') - 1);
  if (status != 0) state.SkipWithError("the run failed");
}
BENCHMARK(BM_Analyse10000Widths)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The README's synthesis (0) and differential pairs (1: S for 100 ohm;
// 2: W and S for 100 and 30 ohm), the field model.
void BM_DefaultSearches(benchmark::State& state) {
  const std::vector<std::vector<std::string>> cases{
      {"synthesise", "--er", "3.66", "--h", "0.508", "--h2", "6.35", "--t", "0.035", "--units",
       "mm", "--zo", "50", "--coupling", "10", "--f", "2.4"},
      {"diffpair", "--er", "4.4", "--h", "0.2", "--h2", "inf", "--w", "0.15", "--t", "0.035",
       "--units", "mm", "--zdiff", "100"},
      {"diffpair", "--er", "4.4", "--h", "0.2", "--h2", "inf", "--t", "0.035", "--units", "mm",
       "--zdiff", "100", "--zcomm", "30"}};
  const std::vector<std::string>& args = cases[static_cast<std::size_t>(state.range(0))];
  std::string out;
  int status = 0;
  for (auto _ : state) {
    status = run(args, out);
    benchmark::DoNotOptimize(out.data());
  }
  if (status != 0) state.SkipWithError("the run failed");
}
BENCHMARK(BM_DefaultSearches)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
