#include "common/text.h"

#include <charconv>

namespace kx {
namespace {

template <typename T>
std::string shortest_text(T v) {
  char buf[400];
  const T a = v < 0 ? -v : v;
  const bool plain = a >= static_cast<T>(1e-4) && a < static_cast<T>(1e9);
  const auto r = plain ? std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed)
                       : std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

}  // namespace

std::string shortest(float v) { return shortest_text(v); }
std::string shortest(double v) { return shortest_text(v); }

}  // namespace kx
