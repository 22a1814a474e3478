// Heap allocations counted by a replaced global operator new, so that a
// benchmark can show that its timed loop allocates nothing. Include it in
// exactly one source file of a benchmark program.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace kx_bench {
inline std::atomic<long> g_allocations{0};
}  // namespace kx_bench

void* operator new(std::size_t n) {
  kx_bench::g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
// The replaced operator new above takes its memory from malloc.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop
