#include "tolerance/memory.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string>

#include "tolerance/passes.h"

namespace kx::tol {
namespace {

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

// Two significant digits, rounded down.
std::uint64_t two_digits(std::uint64_t v) {
  std::uint64_t unit = 1;
  while (v / unit >= 100) unit *= 10;
  return v / unit * unit;
}

}  // namespace

void check_memory(const MemoryNeed& m) {
  const auto n = static_cast<std::uint64_t>(m.samples);
  const std::uint64_t per_sample = static_cast<std::uint64_t>(m.n_fig) * sizeof(float);
  const std::uint64_t per_thread = 8 * kMiB + sizeof(CoupledLine) + m.work_per_thread;
  const std::uint64_t fixed =
      static_cast<std::uint64_t>(std::min(round_samples, m.samples)) * sizeof(Sample) + 4 * kMiB;
  const std::uint64_t need = fixed +
                             std::max(m.work_before, m.threads * per_thread + n * per_sample);
  const std::uint64_t avail = memory_available();
  if (need <= avail) return;
  const std::uint64_t threads_fit = avail > fixed ? (avail - fixed) / per_thread : 0;
  if (threads_fit < m.threads) {
    throw Error(std::to_string(m.threads) + " threads need about " +
                bytes_text(m.threads * per_thread) + " of memory for this section and " +
                bytes_text(avail) + " are available: at most " + std::to_string(threads_fit) +
                " threads fit");
  }
  const std::uint64_t room = avail - fixed - m.threads * per_thread;
  throw Error(std::to_string(m.samples) + " samples need about " + bytes_text(need) +
              " of memory and " + bytes_text(avail) + " are available: at most " +
              std::to_string(two_digits(room / per_sample)) + " samples fit");
}

}  // namespace kx::tol
