#include "tolerance/passes.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>

#include <kestrelix/stop.h>
#include <kestrelix/validity.h>
#include "tolerance/samples_file.h"

namespace kx::tol {

Progress::Progress(bool enabled, const char* label, long long total)
    : on_(enabled && isatty(2) == 1),
      label_(label),
      total_(total),
      start_(std::chrono::steady_clock::now()) {}

void Progress::update(long long done) {
  if (!on_) return;
  const auto dt = std::chrono::steady_clock::now() - start_;
  if (dt < std::chrono::seconds(1)) return;
  std::fprintf(stderr, "\r%s: %lld of %lld samples (%lld %%)", label_, done, total_,
               done * 100 / total_);
  shown_ = true;
}

Progress::~Progress() {
  if (shown_) std::fprintf(stderr, "\n");
}

namespace {

// Samples between two polls of the Stop: a few ms of the closed forms; every
// sample of the field solver (up to seconds each).
constexpr long long kPollEvery = 256;
constexpr unsigned kRangeFlags = flag_wh | flag_sh | flag_er | flag_fh | flag_s_lt_2t;

void consume(const PassOptions& o, long long index, const Sample& s, PassResult& r) {
  r.redraws += s.redraws;
  if (o.out != nullptr) o.out->row(index, s);
  if (o.sink != nullptr) o.sink->sample(index, s);
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
      for (unsigned b = 0; b < static_cast<unsigned>(n_validity_codes); ++b) {
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

}  // namespace

PassResult run_pass(const Plan& plan, const PassOptions& o) {
  PassResult r;
  if (o.limits != nullptr) r.passed.assign(o.limits->size(), 0);
  if (o.keep_values) {
    for (int i = 0; i < o.n_fig; ++i)
      r.values[static_cast<std::size_t>(i)].reserve(static_cast<std::size_t>(o.samples));
  }
  std::vector<Sample> buf(static_cast<std::size_t>(std::min(round_samples, o.samples)));
  std::vector<std::unique_ptr<CoupledLine>> lines;
  for (unsigned k = 0; k < o.threads; ++k)
    lines.push_back(std::make_unique<CoupledLine>(plan.model));

  for (long long start = 0; start < o.samples; start += round_samples) {
    const long long count = std::min(round_samples, o.samples - start);
    const long long nthreads = std::min<long long>(o.threads, count);
    std::atomic<bool> stopped{false};
    const long long poll_every = plan.model.model == Model::field ? 1 : kPollEvery;
    const auto block = [&](long long k) {
      const long long b = count * k / nthreads;
      const long long e = count * (k + 1) / nthreads;
      CoupledLine& line = *lines[static_cast<std::size_t>(k)];
      for (long long i = b; i < e; ++i) {
        if ((i - b) % poll_every == 0 && (stopped.load() || stop_requested(plan.stop))) {
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
  for (const auto& line : lines) {
    const FieldCounts c = line->field_counts();
    r.field.fast += c.fast;
    r.field.local += c.local;
    r.field.sweep += c.sweep;
    r.field.direct += c.direct;
    r.field.fallbacks += c.fallbacks;
  }
  return r;
}

}  // namespace kx::tol
