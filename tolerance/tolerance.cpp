// Monte Carlo sampling of a coupler's cross-section and four-port response.
//
// The samples are taken in rounds of a fixed size. Within a round the threads
// fill contiguous blocks of a round buffer (one kx::CoupledLine each); after
// the round the calling thread consumes the buffer in sample order: Welford
// mean and variance in double, the float value arrays of the percentiles,
// the limit counts and the samples file. Everything the run reports is
// therefore formed in sample order, whatever the thread count, and memory
// beyond the percentile arrays (4 bytes per figure per evaluated sample) is
// bounded by the round size.
#include "tolerance/tolerance.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

#include <kestrelix/validity.h>
#include "common/fmath.h"
#include "common/output_file.h"
#include "common/stop.h"

namespace kx::tol {
namespace {

constexpr long long kRound = 65536;           // samples per round
constexpr long long kMaxSamples = 100000000;  // the percentile arrays stay below 2.6 GB
constexpr long long kOatSamples = 10000;      // samples of each one-at-a-time run
constexpr std::size_t kMaxBand = 10000;       // frequencies of a band
constexpr unsigned kMaxThreads = 256;
constexpr long long kPollEvery = 256;  // samples between two polls of the Stop (a few ms)
constexpr double kTwoPi = 6.283185307179586;
constexpr double kZ95 = 1.959963984540054;                    // two-sided 95 % normal quantile
constexpr std::uint64_t kEtchStream = 0x6574636800000000ull;  // "etch": the etch offset's seed
constexpr int n_four_port = n_figures - n_section_figures;
constexpr unsigned kRangeFlags = flag_wh | flag_sh | flag_er | flag_fh | flag_s_lt_2t;

// ---------------------------------------------------------------- random streams

// splitmix64 (Steele, Lea, Flood): a 64-bit counter through a bijective mixer.
constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;
constexpr std::uint64_t mix64(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// The random stream of one sample index.
class Stream {
 public:
  Stream(std::uint64_t seed, std::uint64_t index) : state_(mix64(mix64(seed) + index)) {}
  std::uint64_t next() {
    state_ += kGolden;
    return mix64(state_);
  }
  // Uniform in [0, 1), 53 bits.
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  // Standard normal (Box-Muller, one value per pair of uniforms).
  double normal() {
    const double u1 = 1.0 - uniform();  // (0, 1]: the logarithm stays finite
    const double u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(kTwoPi * u2);
  }

 private:
  std::uint64_t state_;
};

// ---------------------------------------------------------------- one sample

enum Status : unsigned char { st_ok, st_model, st_non_finite, st_unphysical };

struct Sample {
  std::array<float, n_params> in{};
  std::array<float, n_figures> fig{};
  // The four-port figures' least and greatest values over the band.
  std::array<float, n_four_port> band_lo{}, band_hi{};
  int iflag{};
  unsigned reasons{};
  unsigned flags{};  // validity codes (models/validity.h)
  int redraws{};
  Status status{st_ok};
};

float get(const Section& sec, Param p) {
  switch (p) {
    case p_w:
      return sec.w;
    case p_s:
      return sec.s;
    case p_h:
      return sec.h;
    case p_h2:
      return sec.h2;
    case p_t:
      return sec.t;
    default:
      return sec.er;
  }
}

Section section_of(const std::array<float, n_params>& v) {
  Section sec;
  sec.w = v[p_w];
  sec.s = v[p_s];
  sec.h = v[p_h];
  sec.h2 = v[p_h2];
  sec.t = v[p_t];
  sec.er = v[p_er];
  return sec;
}

// The physical range of a cross-section. T = 0 is the zero-thickness strip
// model and is kept; a negative T is not; H2 infinite is the open section.
const char* unphysical(const Section& sec) {
  if (!(sec.w > 0.0f) || !std::isfinite(sec.w)) return "W must be above 0";
  if (!(sec.s > 0.0f) || !std::isfinite(sec.s)) return "S must be above 0";
  if (!(sec.h > 0.0f) || !std::isfinite(sec.h)) return "H must be above 0";
  if (!(sec.t >= 0.0f) || !std::isfinite(sec.t)) return "T must not be negative";
  if (!(sec.er >= 1.0f) || !std::isfinite(sec.er)) return "Er must be at least 1";
  if (!(sec.h2 > sec.h)) return "H2 must be above H";
  return nullptr;
}

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

// The four-port figures of a response, in Figure order from fig_coupled_db.
void four_port(const Ports& p, float* fig) {
  // Port 2 coupled, port 3 isolated, port 4 through, port 1 reflected;
  // amplitudes turned into positive losses.
  fig[0] = -p.mag[1];
  fig[1] = -p.mag[2];
  fig[2] = -p.mag[3];
  fig[3] = -p.mag[0];
  fig[4] = fig[1] - fig[0];
  fig[5] = p.vswr;
  fig[6] = p.phase_error;
}

// The four-port over the band: each figure's extremes, and the validity of
// every point (a point the models flag, or a figure that is not finite,
// makes the sample invalid).
void evaluate_band(CoupledLine& line, const Plan& plan, const Section& sec, Sample& out) {
  out.band_lo.fill(std::numeric_limits<float>::infinity());
  out.band_hi.fill(-std::numeric_limits<float>::infinity());
  for (const float fb : plan.band) {
    const Response r = line.response(sec, plan.mat, fb, plan.length, plan.rs, plan.rl);
    out.flags |= range_flags(sec, fb);
    if (!r.modes.valid) {
      out.status = st_model;
      out.iflag = r.modes.iflag;
      out.reasons = r.modes.reasons;
      out.flags |= model_flags(r.modes.iflag);
      return;
    }
    std::array<float, n_four_port> fig{};
    four_port(r.ports, fig.data());
    for (std::size_t i = 0; i < fig.size(); ++i) {
      if (!std::isfinite(fig[i])) {
        out.status = st_non_finite;
        out.flags |= flag_not_finite;
        return;
      }
      out.band_lo[i] = std::min(out.band_lo[i], fig[i]);
      out.band_hi[i] = std::max(out.band_hi[i], fig[i]);
    }
  }
}

void evaluate(CoupledLine& line, const Plan& plan, const Section& sec, Sample& out) {
  Modes m;
  if (plan.length > 0.0f) {
    const Response r = line.response(sec, plan.mat, plan.f, plan.length, plan.rs, plan.rl);
    m = r.modes;
    four_port(r.ports, &out.fig[fig_coupled_db]);
  } else {
    m = line.at(sec, plan.f);
  }
  out.fig[fig_zo] = m.zo;
  out.fig[fig_zoe] = m.zoe;
  out.fig[fig_zoo] = m.zoo;
  out.fig[fig_coupling_db] = m.coupling_db;  // positive dB, as the library gives it
  out.fig[fig_eff_e] = m.eff_e;
  out.fig[fig_eff_o] = m.eff_o;
  out.iflag = m.iflag;
  out.reasons = m.reasons;
  out.status = m.valid ? st_ok : st_model;
  out.flags = range_flags(sec, plan.f) | model_flags(m.iflag);
  if (out.status == st_ok) {
    const int n = plan.length > 0.0f ? n_figures : n_section_figures;
    for (int i = 0; i < n; ++i) {
      if (!std::isfinite(out.fig[static_cast<std::size_t>(i)])) out.status = st_non_finite;
    }
    if (out.status == st_non_finite) out.flags |= flag_not_finite;
  }
  if (out.status == st_ok && plan.length > 0.0f && !plan.band.empty()) {
    evaluate_band(line, plan, sec, out);
  }
}

// The etch offset of sample `index`: one draw from its own stream, the same
// distribution as the others.
float etch_offset(const Plan& plan, Stream& rng) {
  const float sc = plan.scale[p_etch];
  const double z = plan.dist == Dist::normal ? rng.normal() : 2.0 * rng.uniform() - 1.0;
  return sc == 0.0f ? 0.0f : static_cast<float>(z) * sc;
}

// Sample `index`: draw every quantity (all six, always, so that a quantity
// sees the same draws whichever others are toleranced) and the etch offset x
// (from its own stream), move both edges of both strips by x (W - 2x, S + 2x:
// the pitch stays), redraw while the draw is not physical, then evaluate.
void take_sample(CoupledLine& line, const Plan& plan, std::uint64_t index, Sample& out) {
  Stream rng(plan.seed, index);
  Stream etch(plan.seed ^ kEtchStream, index);
  out = Sample{};
  for (int attempt = 0; attempt <= max_redraws; ++attempt) {
    for (int k = 0; k < p_etch; ++k) {
      const auto p = static_cast<Param>(k);
      const double z = plan.dist == Dist::normal ? rng.normal() : 2.0 * rng.uniform() - 1.0;
      const float x0 = get(plan.nominal, p);
      const float sc = plan.scale[static_cast<std::size_t>(k)];
      out.in[static_cast<std::size_t>(k)] = sc == 0.0f ? x0 : x0 + static_cast<float>(z) * sc;
    }
    const float x = etch_offset(plan, etch);
    out.in[p_etch] = x;
    if (x != 0.0f) {
      out.in[p_w] = out.in[p_w] - 2.0f * x;
      out.in[p_s] = out.in[p_s] + 2.0f * x;
    }
    const Section sec = section_of(out.in);
    if (unphysical(sec) == nullptr) {
      out.redraws = attempt;
      evaluate(line, plan, sec, out);
      return;
    }
  }
  out.redraws = max_redraws;
  out.status = st_unphysical;
  out.fig.fill(std::numeric_limits<float>::quiet_NaN());
  out.flags = flag_not_finite;
}

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

// ---------------------------------------------------------------- accumulation

struct Welford {
  long long n{};
  double mean{}, m2{};
  double min{std::numeric_limits<double>::infinity()};
  double max{-std::numeric_limits<double>::infinity()};
  void add(double x) {
    ++n;
    const double d = x - mean;
    mean += d / static_cast<double>(n);
    m2 += d * (x - mean);
    min = std::min(min, x);
    max = std::max(max, x);
  }
  double variance() const { return n > 1 ? m2 / static_cast<double>(n - 1) : 0.0; }
};

// The samples file, written row by row through the output-file path (whole
// or not at all: its owner commits it).
class SamplesFile {
 public:
  SamplesFile(OutputFile& file, int n_fig, double inches_per_unit, const std::string& unit_name)
      : file_(file), n_fig_(n_fig), unit_(inches_per_unit) {
    std::string head = "index";
    for (int k = 0; k < n_params; ++k) {
      head += std::string(",") + param_names[static_cast<std::size_t>(k)];
      if (k != p_er) head += "_" + unit_name;
    }
    head += ",status,iflag,valid,flags";
    for (int i = 0; i < n_fig; ++i)
      head += std::string(",") + figure_keys[static_cast<std::size_t>(i)];
    head += '\n';
    put(head);
  }
  SamplesFile(const SamplesFile&) = delete;
  SamplesFile& operator=(const SamplesFile&) = delete;

  void row(long long index, const Sample& s) {
    char buf[48];
    const auto num = [&](auto v) {
      const auto r = std::to_chars(buf, buf + sizeof buf, v);
      line_.append(buf, r.ptr);
    };
    num(index);
    for (int k = 0; k < n_params; ++k) {
      line_ += ',';
      const float v = s.in[static_cast<std::size_t>(k)];
      num(k == p_er ? v : static_cast<float>(static_cast<double>(v) / unit_));
    }
    static constexpr const char* status[] = {"ok", "model", "non_finite", "unphysical"};
    line_ += ',';
    line_ += status[s.status];
    line_ += ',';
    num(s.iflag);
    line_ += s.flags == 0 ? ",true," : ",false,";
    line_ += validity_codes(s.flags);
    for (int i = 0; i < n_fig_; ++i) {
      line_ += ',';
      num(s.fig[static_cast<std::size_t>(i)]);
    }
    line_ += '\n';
    if (line_.size() >= 1u << 16) flush();
  }
  void flush() {
    put(line_);
    line_.clear();
  }
  void close() { flush(); }

 private:
  void put(const std::string& text) { file_.write(text); }

  OutputFile& file_;
  int n_fig_;
  double unit_;
  std::string line_;
};

// A progress line on a terminal for runs longer than a second.
class Progress {
 public:
  Progress(bool enabled, const char* label, long long total)
      : on_(enabled && isatty(2) == 1),
        label_(label),
        total_(total),
        start_(std::chrono::steady_clock::now()) {}
  void update(long long done) {
    if (!on_) return;
    const auto dt = std::chrono::steady_clock::now() - start_;
    if (dt < std::chrono::seconds(1)) return;
    std::fprintf(stderr, "\r%s: %lld of %lld samples (%lld %%)", label_, done, total_,
                 done * 100 / total_);
    shown_ = true;
  }
  ~Progress() {
    if (shown_) std::fprintf(stderr, "\n");
  }

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
};

struct PassOptions {
  long long samples{};
  unsigned threads{1};
  int n_fig{};
  bool keep_values{};
  const std::vector<Limit>* limits{};
  bool band{};  // four-port limits hold over the band
  SamplesFile* out{};
  Progress* progress{};
};

void consume(const PassOptions& o, long long index, const Sample& s, PassResult& r) {
  r.redraws += s.redraws;
  if (o.out != nullptr) o.out->row(index, s);
  if (s.status != st_ok) {
    Invalid& inv = r.invalid;
    ++inv.total;
    if (s.status == st_unphysical) {
      ++inv.unphysical;
    } else if (s.status == st_non_finite) {
      ++inv.non_finite;
    } else {
      if (s.iflag == 1) ++inv.iflag1;
      if (s.iflag == 2) ++inv.iflag2;
      if (s.reasons == 0) ++inv.no_reason;
      for (unsigned b = 0; b < 7; ++b) {
        if ((s.reasons & (1u << b)) != 0) ++inv.reason[b];
      }
    }
    return;
  }
  for (int i = 0; i < o.n_fig; ++i) {
    const auto u = static_cast<std::size_t>(i);
    r.acc[u].add(static_cast<double>(s.fig[u]));
    if (o.keep_values) r.values[u].push_back(s.fig[u]);
  }
  const unsigned outside = s.flags & kRangeFlags;
  if (outside != 0) {
    OutsideRange& out = r.outside;
    ++out.total;
    out.wh += (outside & flag_wh) != 0;
    out.sh += (outside & flag_sh) != 0;
    out.er += (outside & flag_er) != 0;
    out.fh += (outside & flag_fh) != 0;
    out.s_lt_2t += (outside & flag_s_lt_2t) != 0;
  }
  if (o.limits != nullptr && !o.limits->empty()) {
    // A sample outside the fitted ranges cannot be vouched for: it passes no limit.
    bool all = outside == 0;
    for (std::size_t j = 0; j < o.limits->size(); ++j) {
      const Limit& lim = (*o.limits)[j];
      const auto fig = static_cast<std::size_t>(lim.figure);
      bool ok = false;
      if (o.band && lim.figure >= n_section_figures) {
        const std::size_t b = fig - n_section_figures;
        ok = s.band_lo[b] >= lim.min && s.band_hi[b] <= lim.max;
      } else {
        ok = s.fig[fig] >= lim.min && s.fig[fig] <= lim.max;
      }
      ok = ok && outside == 0;
      if (ok) ++r.passed[j];
      all = all && ok;
    }
    if (all) ++r.joint;
  }
}

PassResult run_pass(const Plan& plan, const PassOptions& o) {
  PassResult r;
  if (o.limits != nullptr) r.passed.assign(o.limits->size(), 0);
  if (o.keep_values) {
    for (int i = 0; i < o.n_fig; ++i)
      r.values[static_cast<std::size_t>(i)].reserve(static_cast<std::size_t>(o.samples));
  }
  std::vector<Sample> buf(static_cast<std::size_t>(std::min(kRound, o.samples)));
  std::vector<std::unique_ptr<CoupledLine>> lines;
  for (unsigned k = 0; k < o.threads; ++k)
    lines.push_back(std::make_unique<CoupledLine>(plan.model));

  for (long long start = 0; start < o.samples; start += kRound) {
    const long long count = std::min(kRound, o.samples - start);
    const long long nthreads = std::min<long long>(o.threads, count);
    std::atomic<bool> stopped{false};
    const auto block = [&](long long k) {
      const long long b = count * k / nthreads;
      const long long e = count * (k + 1) / nthreads;
      CoupledLine& line = *lines[static_cast<std::size_t>(k)];
      for (long long i = b; i < e; ++i) {
        if ((i - b) % kPollEvery == 0 && (stopped.load() || stop_requested(plan.stop))) {
          stopped.store(true);  // the other threads see it at their next poll
          return;
        }
        take_sample(line, plan, static_cast<std::uint64_t>(start + i),
                    buf[static_cast<std::size_t>(i)]);
      }
    };
    run_blocks(nthreads, block);
    if (stopped.load()) {
      check_stop(plan.stop);
      throw Stopped("stopped");  // not reached: a stop once requested stays so
    }

    for (long long i = 0; i < count; ++i)
      consume(o, start + i, buf[static_cast<std::size_t>(i)], r);
    if (o.progress != nullptr) o.progress->update(start + count);
  }
  if (o.out != nullptr) o.out->close();
  return r;
}

// ---------------------------------------------------------------- statistics

// Selects the given ranks (ascending) of [b, e) into place; base is the rank of *b.
void multiselect(float* b, float* e, const std::size_t* rb, const std::size_t* re,
                 std::size_t base) {
  if (rb == re || b == e) return;
  const std::size_t* mid = rb + (re - rb) / 2;
  float* m = b + (*mid - base);
  std::nth_element(b, m, e);
  multiselect(b, m, rb, mid, base);
  multiselect(m + 1, e, mid + 1, re, *mid + 1);
}

// Percentiles by linear interpolation between order statistics (the
// definition h = (n - 1) p / 100 of Hyndman and Fan's type 7).
// The histogram of `v` in histogram_bins equal bins from lo to hi.
std::vector<long long> histogram_of(const std::vector<float>& v, double lo, double hi) {
  if (v.empty()) return {};
  std::vector<long long> counts(histogram_bins, 0);
  const double width = (hi - lo) / histogram_bins;
  for (const float x : v) {
    const double k = width > 0.0 ? std::floor((static_cast<double>(x) - lo) / width) : 0.0;
    const auto bin = static_cast<std::size_t>(std::clamp(k, 0.0, double{histogram_bins - 1}));
    ++counts[bin];
  }
  return counts;
}

std::array<double, 5> percentiles_of(std::vector<float>& v) {
  std::array<double, 5> out{};
  const std::size_t n = v.size();
  if (n == 0) {
    out.fill(std::numeric_limits<double>::quiet_NaN());
    return out;
  }
  std::vector<std::size_t> ranks;
  for (const double p : percentiles) {
    const double h = static_cast<double>(n - 1) * p / 100.0;
    const auto lo = static_cast<std::size_t>(std::floor(h));
    ranks.push_back(lo);
    if (lo + 1 < n) ranks.push_back(lo + 1);
  }
  std::sort(ranks.begin(), ranks.end());
  ranks.erase(std::unique(ranks.begin(), ranks.end()), ranks.end());
  multiselect(v.data(), v.data() + n, ranks.data(), ranks.data() + ranks.size(), 0);
  for (std::size_t j = 0; j < percentiles.size(); ++j) {
    const double h = static_cast<double>(n - 1) * percentiles[j] / 100.0;
    const auto lo = static_cast<std::size_t>(std::floor(h));
    const double a = static_cast<double>(v[lo]);
    const double b = lo + 1 < n ? static_cast<double>(v[lo + 1]) : a;
    out[j] = a + (h - static_cast<double>(lo)) * (b - a);
  }
  return out;
}

// Wilson score interval for a binomial proportion, 95 %.
Yield yield_of(long long passed, long long count) {
  Yield y;
  y.passed = passed;
  y.count = count;
  if (count == 0) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    y.percent = y.ci_low = y.ci_high = nan;
    return y;
  }
  const double n = static_cast<double>(count);
  const double p = static_cast<double>(passed) / n;
  const double z2 = kZ95 * kZ95;
  const double denom = 1.0 + z2 / n;
  const double centre = (p + z2 / (2.0 * n)) / denom;
  const double half = kZ95 / denom * std::sqrt(p * (1.0 - p) / n + z2 / (4.0 * n * n));
  y.percent = 100.0 * static_cast<double>(passed) / n;
  y.ci_low = 100.0 * std::max(0.0, centre - half);
  y.ci_high = 100.0 * std::min(1.0, centre + half);
  return y;
}

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

// ---------------------------------------------------------------- memory

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

// Bytes the run may take: what the system has available less an eighth, and
// no more than an address-space limit (RLIMIT_AS) leaves; the largest value
// when neither is known.
std::uint64_t memory_available() {
  const long page = ::sysconf(_SC_PAGESIZE);
  std::uint64_t avail = 0;
  if (std::FILE* f = std::fopen("/proc/meminfo", "r")) {
    char line[256];
    unsigned long long kb = 0;
    while (std::fgets(line, sizeof line, f) != nullptr) {
      if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) {
        avail = std::uint64_t{kb} * 1024;
        break;
      }
    }
    std::fclose(f);
  }
  if (avail == 0) {
    const long pages = ::sysconf(_SC_AVPHYS_PAGES);
    if (pages > 0 && page > 0)
      avail = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page);
  }
  avail = avail == 0 ? std::numeric_limits<std::uint64_t>::max() : avail - avail / 8;
  struct rlimit lim {};
  if (::getrlimit(RLIMIT_AS, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY) {
    std::uint64_t used = 0;  // the address space the process holds already
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
      unsigned long long pages = 0;
      if (std::fscanf(f, "%llu", &pages) == 1 && page > 0)
        used = pages * static_cast<std::uint64_t>(page);
      std::fclose(f);
    }
    const std::uint64_t limit = lim.rlim_cur;
    const std::uint64_t margin = 64 * kMiB;
    avail = std::min(avail, limit > used + margin ? limit - used - margin : 0);
  }
  return avail;
}

std::string bytes_text(std::uint64_t bytes) {
  char buf[32];
  const double b = static_cast<double>(bytes);
  if (b < 1e9) {
    std::snprintf(buf, sizeof buf, "%.0f MB", b / 1e6);
  } else {
    std::snprintf(buf, sizeof buf, "%.1f GB", b / 1e9);
  }
  return buf;
}

// Refuses a run whose percentile arrays (4 bytes per figure per sample),
// round buffer and per-thread evaluators (with their stacks) would not fit.
void check_memory(long long samples, int n_fig, unsigned threads) {
  const auto n = static_cast<std::uint64_t>(samples);
  const std::uint64_t per_sample = static_cast<std::uint64_t>(n_fig) * sizeof(float);
  const std::uint64_t fixed =
      static_cast<std::uint64_t>(std::min(kRound, samples)) * sizeof(Sample) +
      static_cast<std::uint64_t>(threads) * (8 * kMiB + sizeof(CoupledLine)) + 4 * kMiB;
  const std::uint64_t need = fixed + n * per_sample;
  const std::uint64_t avail = memory_available();
  if (need <= avail) return;
  std::uint64_t fit = avail > fixed ? (avail - fixed) / per_sample : 0;
  // Two significant digits, rounded down.
  std::uint64_t unit = 1;
  while (fit / unit >= 100) unit *= 10;
  fit = fit / unit * unit;
  throw Error(std::to_string(samples) + " samples need about " + bytes_text(need) +
              " of memory and " + bytes_text(avail) + " are available: at most " +
              std::to_string(fit) + " samples fit");
}

}  // namespace

// ---------------------------------------------------------------- interface

Limit parse_limit(std::string_view text) {
  const auto eq = text.find('=');
  const auto colon = eq == std::string_view::npos ? eq : text.find(':', eq + 1);
  if (colon == std::string_view::npos) {
    throw Error("limit '" + std::string(text) + "' is not NAME=MIN:MAX");
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
  if (const char* why = unphysical(study.nominal)) {
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

  // The model of the samples: the field solver directly while it is
  // affordable, else the closed forms corrected at the nominal section.
  const bool field = study.model.model == Model::field;
  Plan plan;
  plan.model = study.model;
  long long oat_samples = kOatSamples;
  if (field && study.samples <= field_direct_samples) {
    sum.field_method = FieldMethod::direct;
    oat_samples = field_oat_samples;
  } else if (field) {
    sum.field_method = FieldMethod::ratios;
    sum.ratios = field_ratios(study.nominal, study.model);
    plan.model = ModelSettings{};
    plan.model.ratios = sum.ratios;
  }
  // The nominal section and its length by the model itself.
  CoupledLine line(study.model);
  plan.nominal = study.nominal;
  plan.mat = study.mat;
  plan.f = study.f;
  plan.rs = study.rs;
  plan.rl = study.rl;
  plan.band = study.band;
  plan.dist = study.dist;
  plan.seed = study.seed;
  plan.stop = study.stop;
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
  for (int i = 0; i < sum.n_fig; ++i) {
    const auto u = static_cast<std::size_t>(i);
    sum.fig[u].nominal = nominal.status == st_ok ? nominal.fig[u]
                                                 : std::numeric_limits<float>::quiet_NaN();
  }

  unsigned threads = study.threads;
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  check_memory(study.samples, sum.n_fig, threads);

  const auto scale_of = [&](float half) { return study.dist == Dist::normal ? half / 3.0f : half; };

  // The main pass.
  for (int k = 0; k < n_params; ++k) {
    plan.scale[static_cast<std::size_t>(k)] = scale_of(study.tol[static_cast<Param>(k)]);
  }
  PassResult main;
  // The samples file: the caller's, or one of our own, committed when the
  // whole run is done.
  OutputFiles own_files;
  std::unique_ptr<OutputFile> own;
  OutputFile* file = study.samples_file;
  try {
    if (file == nullptr && !study.samples_out.empty()) {
      own = std::make_unique<OutputFile>(own_files, study.samples_out);
      file = own.get();
    }
    std::unique_ptr<SamplesFile> out;
    if (file != nullptr) {
      out = std::make_unique<SamplesFile>(*file, sum.n_fig, study.inches_per_unit, study.unit_name);
    }
    Progress progress(study.progress, "tolerance", study.samples);
    PassOptions o;
    o.samples = study.samples;
    o.threads = threads;
    o.n_fig = sum.n_fig;
    o.keep_values = true;
    o.limits = &study.limits;
    o.band = !plan.band.empty();
    o.out = out.get();
    o.progress = &progress;
    main = run_pass(plan, o);
  } catch (const std::bad_alloc&) {
    throw Error("not enough memory for " + std::to_string(study.samples) + " samples");
  } catch (const FileError& e) {
    throw Error(e.what());
  }
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
  for (std::size_t j = 0; j < study.limits.size(); ++j) {
    sum.yields.push_back(yield_of(main.passed[j], evaluated));
  }
  sum.joint = yield_of(main.joint, evaluated);

  // One-at-a-time passes: each tolerance alone over the first samples of the
  // same streams; its share of a figure's spread is its variance over the sum.
  // The spread is that of the figures at f: the band is not evaluated.
  plan.band.clear();
  sum.oat_samples = static_cast<int>(std::min(study.samples, oat_samples));
  std::array<std::array<double, n_params>, n_figures> var{};
  for (int k = 0; k < n_params; ++k) {
    const float half = study.tol[static_cast<Param>(k)];
    if (half == 0.0f) continue;
    for (int j = 0; j < n_params; ++j) {
      plan.scale[static_cast<std::size_t>(j)] = j == k ? scale_of(half) : 0.0f;
    }
    PassOptions o;
    o.samples = sum.oat_samples;
    o.threads = threads;
    o.n_fig = sum.n_fig;
    const PassResult r = run_pass(plan, o);
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
